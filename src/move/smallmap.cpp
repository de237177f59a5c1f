#include "move/smallmap.h"

#include <algorithm>
#include <cstring>

#include "bitmap/bitmap_file.h"
#include "bitmap/import_source.h"
#include "move/move_failure.h"
#include "report/console_text.h"
#include "report/import_report.h"

namespace {

// SmallMap bitmaps stop at width 2047, stored rows of 2048 bytes; wider maps
// are refused, as they always have been.
constexpr std::uint32_t kWidthLimit = 2048;

console::LineEnd BigWidthEnd(const SmallMapBlock& block, bool import) {
    return console::RefusalEnd(
        "We're going to need a bigger boat.",
        "SmallMap moves only for worlds up to 2047 cells wide and this one is " + console::Dec(block.Width) +
            (import ? ", so the SmallMap block was left as it is" : ", so the file holds the header alone") +
            "; the other layers have no such limit");
}

// Rows move a chunk at a time; the block's rows lie one after the other, so a
// chunk of them is one read or write on each side.
constexpr std::uint64_t kChunkBytes = 1024 * 1024;

std::uint64_t SmallMapRowAt(const SmallMapBlock& block, std::uint32_t y) {
    return std::uint64_t{block.Offset} + std::uint64_t{block.Width} * y;
}

std::uint32_t RowsPerChunk(std::uint32_t width) {
    return static_cast<std::uint32_t>(std::max<std::uint64_t>(1, kChunkBytes / RowStride(width)));
}

// A chunk of map rows as the block holds them, and as the bitmap stores them.
struct Chunk {
    std::uint32_t Rows;
    std::uint64_t Stride;
    platform::Memory<std::uint8_t> Block;
    platform::Memory<std::uint8_t> Stored;  // pad bytes stay zero
};

Chunk AllocateChunk(std::uint32_t width) {
    Chunk chunk{RowsPerChunk(width), RowStride(width), nullptr, nullptr};
    chunk.Block = platform::Allocate<std::uint8_t>(std::uint64_t{chunk.Rows} * width);
    chunk.Stored = platform::Allocate<std::uint8_t>(chunk.Rows * chunk.Stride);
    return chunk;
}

// Stored rows run bottom map row first, each padded with zeros.
void ExportRows(const SmallMapBlock& block, platform::FileHandle bitmap, const char* path, MoveFailure& failure) {
    const std::uint32_t width = block.Width;
    Chunk chunk = AllocateChunk(width);
    for (std::uint32_t top = block.Height; top > 0;) {
        const std::uint32_t count = std::min(chunk.Rows, top);
        const std::uint32_t low = top - count;
        std::uint32_t got = 0;
        if (!NoteMove(
                failure,
                platform::ReadFileAt(block.World, SmallMapRowAt(block, low), chunk.Block.get(), count * width, &got),
                "reading", block.WorldPath))
            return;
        for (std::uint32_t i = 0; i < count; ++i)
            std::memcpy(chunk.Stored.get() + i * chunk.Stride,
                        chunk.Block.get() + std::uint64_t{top - 1 - i - low} * width, width);
        std::uint32_t put = 0;
        if (!NoteMove(
                failure,
                platform::WriteFile(bitmap, chunk.Stored.get(), static_cast<std::uint32_t>(count * chunk.Stride), &put),
                "writing", path))
            return;
        top = low;
    }
}

// A chunk's stored rows lie together: map row top-1 first in a bottom-up
// file, map row low first in a top-down one. A bitmap cut short fills the
// rows it still holds; the row it ends in gets the bytes that are there, and
// the rows after it keep their values. Counts the cells that change.
void ImportRows(const SmallMapBlock& block, const ImportSource& source, const char* path, MoveFailure& failure,
                std::uint64_t* changed) {
    const std::uint32_t width = block.Width;
    Chunk chunk = AllocateChunk(width);
    for (std::uint32_t top = block.Height; top > 0;) {
        const std::uint32_t count = std::min(chunk.Rows, top);
        const std::uint32_t low = top - count;
        std::uint32_t got = 0;
        if (!NoteMove(failure,
                      ReadImportAt(source, PictureRowAt(source, source.TopDown ? low : top - 1), chunk.Stored.get(),
                                   static_cast<std::uint32_t>(count * chunk.Stride), &got),
                      "reading", path))
            return;
        std::uint32_t held = 0;  // the block as it is, to count what changes
        if (!NoteMove(
                failure,
                platform::ReadFileAt(block.World, SmallMapRowAt(block, low), chunk.Block.get(), count * width, &held),
                "reading", block.WorldPath))
            return;
        // Whole rows [wholeLow, wholeHigh) in map order, and at most one row in part.
        std::uint32_t wholeLow = top, wholeHigh = low, partRow = 0, partBytes = 0;
        for (std::uint32_t y = low; y < top; ++y) {
            const std::uint64_t at = (source.TopDown ? y - low : top - 1 - y) * chunk.Stride;
            const std::uint64_t arrived = got > at ? std::min<std::uint64_t>(width, got - at) : 0;
            if (arrived == 0) continue;
            std::uint8_t* cells = chunk.Block.get() + std::uint64_t{y - low} * width;
            const std::uint8_t* stored = chunk.Stored.get() + at;
            std::uint64_t differ = 0;  // kept local, so that the loop runs in vector registers
            for (std::uint64_t x = 0; x < arrived; ++x) differ += cells[x] != stored[x];
            *changed += differ;
            std::memcpy(cells, stored, arrived);
            if (arrived < width) {
                partRow = y;
                partBytes = static_cast<std::uint32_t>(arrived);
            } else {
                wholeLow = std::min(wholeLow, y);
                wholeHigh = y + 1;
            }
        }
        std::uint32_t put = 0;
        if (wholeLow < wholeHigh &&
            !NoteMove(failure,
                      platform::WriteFileAt(block.World, SmallMapRowAt(block, wholeLow),
                                            chunk.Block.get() + std::uint64_t{wholeLow - low} * width,
                                            (wholeHigh - wholeLow) * width, &put),
                      "writing", block.WorldPath))
            return;
        if (partBytes > 0 &&
            !NoteMove(failure,
                      platform::WriteFileAt(block.World, SmallMapRowAt(block, partRow),
                                            chunk.Block.get() + std::uint64_t{partRow - low} * width, partBytes, &put),
                      "writing", block.WorldPath))
            return;
        top = low;
    }
}

}  // namespace

void ImportSmallMap(const SmallMapBlock& block, WorldBackup& backup, platform::FileDialog& dialog,
                    BitmapState& bitmap) {
    const platform::FileHandle file = ChooseBitmapFile(dialog, BitmapUse::Import, "Import SmallMap BMP", "");
    if (file == platform::kInvalidFile) return;
    const char* path = dialog.FileBuffer;
    // From the progress text to the end of the step's output, an interrupt waits.
    platform::HoldInterrupts();
    console::Print(std::string("Importing ") + path + "...");

    const ImportLayer layer{"SmallMap", Palette::Gray, block.Width, block.Height, 1};
    ImportSource source{};
    std::string note;
    std::uint64_t changed = 0;
    console::LineEnd end = OpenImportSource(bitmap.Head, file, layer, path, &source, &note);
    const bool moves = console::IsDone(end) && block.Width < kWidthLimit;
    if (console::IsDone(end) && !moves) end = BigWidthEnd(block, true);
    if (moves) {
        MoveFailure failure{};
        if (BackUpWorld(backup, block.World, block.WorldPath, failure))
            ImportRows(block, source, path, failure, &changed);
        end = EndOf(failure);
    }
    platform::CloseFile(file);
    console::EndLine(end);
    // A file that was refused is closed all the same, on a line of its own.
    if (!moves) console::PrintLine("Done!");
    TellBackup(backup);
    if (moves && console::IsDone(end)) {
        if (!note.empty()) platform::SayLine(note);
        SayChangedCells(layer.Name, changed, std::uint64_t{block.Width} * block.Height);
    }
    platform::ReleaseInterrupts();
}

void ExportSmallMap(const SmallMapBlock& block, platform::FileDialog& dialog, BitmapState& bitmap) {
    const platform::FileHandle file =
        ChooseBitmapFile(dialog, BitmapUse::Export, "Export SmallMap BMP", "smallmap.bmp");
    if (file == platform::kInvalidFile) return;
    const char* path = dialog.FileBuffer;
    platform::HoldInterrupts();
    console::Print(std::string("Writing ") + path + "...");

    console::LineEnd end = console::Done();
    const bool written = WriteBmpHeader(bitmap.Header, file, block.Width, block.Height, Palette::Gray);
    const bool moves = written && block.Width < kWidthLimit;
    if (!written) end = HeaderError("writing", platform::LastError());
    if (written && !moves) end = BigWidthEnd(block, false);
    MoveFailure failure{};
    if (moves) ExportRows(block, file, path, failure);
    const bool closed = platform::CloseFile(file);
    if (moves) {
        NoteMove(failure, closed, "writing", path);
        end = EndOf(failure);
    }
    console::EndLine(end);
    if (!moves) console::PrintLine("Done!");
    platform::ReleaseInterrupts();
}
