#include "bitmap/import_source.h"

#include <algorithm>
#include <cstring>

namespace {

// Where picture row r is stored.
std::uint64_t StoredRowAt(const ImportSource& source, std::uint64_t r) {
    return source.PixelStart + source.Stride * (source.TopDown ? r : source.Rows - 1 - r);
}

constexpr std::uint64_t kAheadBytes = 4u << 20;  // raw bytes a block holds

// On the thread: the block's rows, up to one that fails.
void FillBlock(void* data) {
    StreamBlock& block = *static_cast<StreamBlock*>(data);
    block.Got = 0;
    block.Take(block.State, block.Rows.get(), block.Wanted, &block.Got, &block.Code);
}

// Rows a block holds: at least one, however wide.
std::uint64_t BlockRows(const ImportSource& source) {
    return std::min(source.Rows, std::max<std::uint64_t>(1, kAheadBytes / source.Stream.RawBytes));
}

void StartBlock(ImportSource& source, int index) {
    StreamAhead& ahead = *source.Ahead;
    StreamBlock& block = ahead.Blocks[index];
    block.Wanted = static_cast<std::uint32_t>(std::min(BlockRows(source), source.Rows - ahead.Started));
    ahead.Started += block.Wanted;
    platform::StartWork(ahead.Work, FillBlock, &block);
    ahead.Busy = true;
}

void StartStream(ImportSource& source) {
    source.Ahead = std::make_unique<StreamAhead>();
    for (StreamBlock& block : source.Ahead->Blocks) {
        block.Rows = platform::Allocate<std::uint8_t>(BlockRows(source) * source.Stream.RawBytes);
        block.State = source.Stream.State.get();
        block.Take = source.Stream.Take;
        block.RawBytes = source.Stream.RawBytes;
    }
    // Block 0 starts out used up, so the first row waits for block 1.
    StartBlock(source, 1);
}

void WaitForBlock(StreamAhead& ahead) {
    if (!ahead.Busy) return;
    platform::FinishWork(ahead.Work);
    ahead.Busy = false;
}

// The next row, from the block in hand; once it is used up, from the one
// the thread filled meanwhile, while the thread refills the used one.
bool TakeStreamRow(ImportSource& source, std::uint8_t* row, std::uint32_t* code) {
    if (source.Ahead == nullptr) StartStream(source);
    StreamAhead& ahead = *source.Ahead;
    for (;;) {
        StreamBlock& block = ahead.Blocks[ahead.Taking];
        if (ahead.Taken < block.Got)
            return source.Stream.Finish(source.Stream.State.get(), block.Rows.get() + block.RawBytes * ahead.Taken++,
                                        row, code);
        if (block.Got < block.Wanted || !ahead.Busy) {  // a row failed, or rows were asked past the last
            *code = block.Got < block.Wanted ? block.Code : platform::ShortReadCode();
            return false;
        }
        WaitForBlock(ahead);
        const int used = ahead.Taking;
        ahead.Taking ^= 1;
        ahead.Taken = 0;
        const StreamBlock& next = ahead.Blocks[ahead.Taking];
        if (next.Got == next.Wanted && ahead.Started < source.Rows) StartBlock(source, used);
    }
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
        if (!TakeStreamRow(source, row, code)) return false;
        std::memset(row + source.Width, 0, source.Stride - source.Width);
    }
    source.NextRow += count;
    return true;
}

// How the file was taken: a stream's note counts what went through it.
std::string ImportNote(const ImportSource& source) {
    if (source.Reading == RowSource::Stream && source.Stream.State != nullptr)
        return source.Stream.Note(source.Stream.State.get(), source.Layer);
    return source.Note;
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

void CloseImportSource(ImportSource& source) {
    // The thread may be ahead of a mover that stopped: it is done before
    // the stream goes.
    if (source.Ahead != nullptr) WaitForBlock(*source.Ahead);
    source.Ahead.reset();
    if (source.File != platform::kInvalidFile) platform::CloseFile(source.File);
    source.File = platform::kInvalidFile;
    source.Decoded.reset();
    // A stream's note counts what went through it: kept before it goes.
    source.Note = ImportNote(source);
    source.Stream.State.reset();
}
