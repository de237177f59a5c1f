#include "move/smallmap.h"

#include <algorithm>
#include <cstring>

#include "bitmap/bitmap_file.h"
#include "bitmap/export_file.h"
#include "bitmap/image_kinds.h"
#include "move/move_failure.h"
#include "report/console_text.h"
#include "report/import_report.h"

namespace {

// SmallMap bitmaps stop at width 2047, stored rows of 2048 bytes; wider maps
// are refused, as they always have been.
constexpr std::uint32_t kWidthLimit = 2048;

console::LineEnd BigWidthEnd(const SmallMapBlock& block, bool import) {
    return console::RefusalEnd("We're going to need a bigger boat.",
                               "SmallMap moves only for worlds up to 2047 cells wide and this one is " +
                                   console::Dec(block.Width) +
                                   (import ? ", so the SmallMap block was left as it is" : ", so no file was written") +
                                   "; the other layers have no such limit");
}

// Rows move a chunk at a time; the block's rows lie one after the other, so a
// chunk of them is one read or write on each side.
constexpr std::uint64_t kChunkBytes = std::uint64_t{1} << 20;

std::uint64_t SmallMapRowAt(const SmallMapBlock& block, std::uint32_t y) {
    return std::uint64_t{block.Offset} + std::uint64_t{block.Width} * y;
}

// A chunk of map rows as the block holds them, and as the bitmap stores them.
struct Chunk {
    std::uint32_t Rows;
    std::uint64_t Stride;
    platform::Memory<std::uint8_t> Block;
    platform::Memory<std::uint8_t> Stored;  // pad bytes stay zero
};

Chunk AllocateChunk(std::uint32_t width) {
    const std::uint64_t stride = RowStride(width);
    Chunk chunk{static_cast<std::uint32_t>(std::max<std::uint64_t>(1, kChunkBytes / stride)), stride, nullptr, nullptr};
    chunk.Block = platform::Allocate<std::uint8_t>(std::uint64_t{chunk.Rows} * width);
    chunk.Stored = platform::Allocate<std::uint8_t>(chunk.Rows * chunk.Stride);
    return chunk;
}

bool ReadBlockRows(const SmallMapBlock& block, std::uint32_t low, std::uint32_t count, std::uint8_t* rows,
                   MoveFailure& failure) {
    return NoteMove(failure, platform::ReadExactlyAt(block.World, SmallMapRowAt(block, low), rows, count * block.Width),
                    "reading", block.WorldPath);
}

// Stored rows run bottom map row first, each padded with zeros; chunks go
// bottom first into a BMP, top first into a PNG, whose rows stream.
void ExportRows(const SmallMapBlock& block, ExportFile& bitmap, const char* path, MoveFailure& failure) {
    const std::uint32_t width = block.Width;
    Chunk chunk = AllocateChunk(width);
    for (std::uint32_t done = 0; done < block.Height;) {
        const std::uint32_t count = std::min(chunk.Rows, block.Height - done);
        const std::uint32_t low = bitmap.Png ? done : block.Height - done - count, top = low + count;
        done += count;
        if (!ReadBlockRows(block, low, count, chunk.Block.get(), failure)) return;
        for (std::uint32_t i = 0; i < count; ++i)
            std::memcpy(chunk.Stored.get() + i * chunk.Stride,
                        chunk.Block.get() + std::uint64_t{top - 1 - i - low} * width, width);
        if (!NoteMove(failure, WriteExportRows(bitmap, low, count, chunk.Stored.get()), "writing", path)) return;
    }
}

// A chunk's picture rows, stored as the source stores them: map row top-1
// first bottom-up, map row low first top-down. The chunks go bottom map
// row first, or top first for a source that streams its rows. Counts the
// cells that change; a chunk that changes nothing is not written.
void ImportRows(const SmallMapBlock& block, WorldBackup& backup, ImportSource& source, const char* path,
                MoveFailure& failure, std::uint64_t* changed) {
    const std::uint32_t width = block.Width;
    const bool topFirst = source.Reading == RowSource::Stream;
    Chunk chunk = AllocateChunk(width);
    for (std::uint32_t done = 0; done < block.Height;) {
        const std::uint32_t count = std::min(chunk.Rows, block.Height - done);
        const std::uint32_t low = topFirst ? done : block.Height - done - count, top = low + count;
        done += count;
        std::uint32_t code = 0;
        if (!ReadPictureRows(source, low, count, chunk.Stored.get(), &code)) {
            NoteFailure(failure, code, "reading", path);
            return;
        }
        if (!ReadBlockRows(block, low, count, chunk.Block.get(), failure)) return;
        std::uint64_t differ = 0;  // kept local, so that the loop runs in vector registers
        for (std::uint32_t y = low; y < top; ++y) {
            std::uint8_t* cells = chunk.Block.get() + std::uint64_t{y - low} * width;
            const std::uint8_t* stored = chunk.Stored.get() + (source.TopDown ? y - low : top - 1 - y) * chunk.Stride;
            for (std::uint32_t x = 0; x < width; ++x) differ += cells[x] != stored[x];
            std::memcpy(cells, stored, width);
        }
        *changed += differ;
        std::uint32_t put = 0;
        if (differ > 0 && (!BeginWorldWrites(backup, block.World, block.WorldPath, failure) ||
                           !NoteMove(failure,
                                     platform::WriteFileAt(block.World, SmallMapRowAt(block, low), chunk.Block.get(),
                                                           count * width, &put),
                                     "writing", block.WorldPath)))
            return;
    }
}

}  // namespace

void ImportSmallMap(console::Report& report, const SmallMapBlock& block, WorldBackup& backup,
                    platform::FileDialog& dialog, BitmapState& bitmap) {
    if (!ChooseBitmapPath(dialog, BitmapUse::Import, "Import SmallMap BMP", "")) return;
    const char* path = dialog.FileBuffer;
    const platform::FileHandle file = OpenBitmapFile(report, path, BitmapUse::Import, block.WorldPath);
    if (file == platform::kInvalidFile) return;
    // From the progress text to the end of the step's output, an interrupt waits.
    platform::HoldInterrupts();
    console::Print(std::string("Importing ") + path + "...");

    const ImportLayer layer{"SmallMap", Palette::Gray, block.Width, block.Height, 1, true};
    ImportSource source{};
    const ImportVerdict verdict = OpenImportSource(bitmap.Head, file, layer, path, &source);
    console::LineEnd end = EndOf(verdict);
    const bool moves = verdict.Outcome == Verdict::Accepted && block.Width < kWidthLimit;
    if (verdict.Outcome == Verdict::Accepted && !moves) end = BigWidthEnd(block, true);
    std::uint64_t changed = 0;
    if (moves) {
        MoveFailure failure{};
        ImportRows(block, backup, source, path, failure, &changed);
        EndWorldWrites(backup, block.World, block.WorldPath, failure);
        end = EndOf(failure);
    }
    CloseImportSource(source);
    console::EndLine(report, end);
    // A file that was refused is closed all the same, on a line of its own.
    if (!moves) console::PrintLine("Done!");
    TellBackup(backup);
    if (moves && console::IsDone(end)) {
        if (!source.Note.empty()) console::SayLines(source.Note);
        SayChangedCells(layer.Name, changed, std::uint64_t{block.Width} * block.Height);
    }
    platform::ReleaseInterrupts();
}

void ExportSmallMap(console::Report& report, const SmallMapBlock& block, platform::FileDialog& dialog,
                    BitmapState& bitmap) {
    if (!ChooseBitmapPath(dialog, BitmapUse::Export, "Export SmallMap BMP", "smallmap.bmp")) return;
    const char* path = dialog.FileBuffer;
    if (block.Width >= kWidthLimit) {
        // Nothing could be written: the file is neither made nor emptied.
        console::Print(std::string("Writing ") + path + "...");
        console::EndLine(report, BigWidthEnd(block, false));
        console::PrintLine("Done!");
        return;
    }
    const platform::FileHandle file = OpenBitmapFile(report, path, BitmapUse::Export, block.WorldPath);
    if (file == platform::kInvalidFile) return;
    platform::HoldInterrupts();
    console::Print(std::string("Writing ") + path + "...");

    MoveFailure failure{};
    ExportFile out{};
    const bool written =
        StartExportFile(out, bitmap.Header, file, block.Width, block.Height, Palette::Gray, NamesPng(path));
    const console::LineEnd headerFailed = written ? console::Done() : HeaderError("writing", platform::LastError());
    if (written) ExportRows(block, out, path, failure);
    if (written && !failure.Failed) NoteMove(failure, FinishExportFile(out), "writing", path);
    EndExportFile(out);
    const bool closed = platform::CloseFile(file);
    if (written) NoteMove(failure, closed, "writing", path);
    const std::string removed = written && !failure.Failed ? std::string() : RemoveUnfinishedExport(path, "SmallMap");
    console::EndLine(report, written ? EndOf(failure) : headerFailed);
    if (!written) console::PrintLine("Done!");
    if (!removed.empty()) platform::SayLine(removed);
    platform::ReleaseInterrupts();
}
