#include "bitmap/import_source.h"

#include <cstring>

namespace {

// Where picture row r is stored.
std::uint64_t StoredRowAt(const ImportSource& source, std::uint64_t r) {
    return source.PixelStart + source.Stride * (source.TopDown ? r : source.Rows - 1 - r);
}

// A stream's rows, in order.
bool NextStreamRows(ImportSource& source, std::uint64_t first, std::uint32_t count, std::uint8_t* rows,
                    std::uint32_t* code) {
    if (first != source.NextRow) {  // a mover that went another way: never with a stream
        *code = platform::ShortReadCode();
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint8_t* row = rows + source.Stride * i;
        if (!source.Stream.Next(source.Stream.State.get(), row, code)) return false;
        std::memset(row + source.Width, 0, source.Stride - source.Width);
    }
    source.NextRow += count;
    return true;
}

}  // namespace

bool ReadPictureRows(ImportSource& source, std::uint64_t first, std::uint32_t count, std::uint8_t* rows,
                     std::uint32_t* code) {
    if (source.Reading == RowSource::Stream) return NextStreamRows(source, first, count, rows, code);
    const std::uint64_t at = StoredRowAt(source, source.TopDown ? first : first + count - 1);
    const auto length = static_cast<std::uint32_t>(source.Stride * count);
    if (source.Reading == RowSource::Decoded) {
        std::memcpy(rows, source.Decoded.get() + at, length);
        return true;
    }
    // The file's last stored row may go without its padding; every other
    // byte must be there, or the file shrank after its check.
    const bool endsTheRows = at + length == source.PixelStart + source.Stride * source.Rows;
    const std::uint32_t needed =
        endsTheRows ? length - static_cast<std::uint32_t>(source.Stride - source.Width) : length;
    std::uint32_t got = 0;
    if (!platform::ReadFileAt(source.File, at, rows, length, &got)) {
        *code = platform::LastError();
        return false;
    }
    if (got < needed) {
        *code = platform::ShortReadCode();
        return false;
    }
    std::memset(rows + got, 0, length - got);
    if (source.ByColour)
        for (std::uint32_t i = 0; i < length; ++i) rows[i] = source.Values[rows[i]];
    return true;
}

std::string ImportNote(const ImportSource& source) {
    if (source.Reading == RowSource::Stream && source.Stream.State != nullptr)
        return source.Stream.Note(source.Stream.State.get(), source.Layer);
    return source.Note;
}

void CloseImportSource(ImportSource& source) {
    if (source.File != platform::kInvalidFile) platform::CloseFile(source.File);
    source.File = platform::kInvalidFile;
    source.Decoded.reset();
    // A stream's note counts what went through it: kept before it goes.
    source.Note = ImportNote(source);
    source.Stream.State.reset();
}
