#include "bitmap/smallmap.h"

#include <algorithm>
#include <cstring>

#include "bitmap/bitmap_file.h"
#include "bitmap/move_failure.h"
#include "platform/console_text.h"

namespace {

// SmallMap bitmaps stop at width 2047, stored rows of 2048 bytes; wider maps
// are refused, as they always have been.
constexpr std::uint32_t kWidthLimit = 2048;

void RefuseBigWidth() { console::PrintRefusal("We're going to need a bigger boat."); }

// Rows move a chunk at a time; the block's rows lie one after the other, so a
// chunk of them is one read or write on each side.
constexpr std::uint64_t kChunkBytes = 1024 * 1024;

std::uint64_t RowPosition(const SmallMapBlock& block, std::uint32_t y) {
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
                platform::ReadFileAt(block.World, RowPosition(block, low), chunk.Block.get(), count * width, &got),
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

// A bitmap cut short fills the rows it still holds; the row it ends in gets
// the bytes that are there, and the rows after it keep their values.
void ImportRows(const SmallMapBlock& block, platform::FileHandle bitmap, const char* path, MoveFailure& failure) {
    const std::uint32_t width = block.Width;
    Chunk chunk = AllocateChunk(width);
    for (std::uint32_t top = block.Height; top > 0;) {
        const std::uint32_t count = std::min(chunk.Rows, top);
        std::uint32_t got = 0;
        if (!NoteMove(
                failure,
                platform::ReadFile(bitmap, chunk.Stored.get(), static_cast<std::uint32_t>(count * chunk.Stride), &got),
                "reading", path))
            return;
        const auto whole = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(count, got / chunk.Stride + (got % chunk.Stride >= width)));
        // Whole rows top-1 down to top-whole, laid out upwards as in the world.
        const std::uint32_t low = top - whole;
        for (std::uint32_t i = 0; i < whole; ++i)
            std::memcpy(chunk.Block.get() + std::uint64_t{top - 1 - i - low} * width,
                        chunk.Stored.get() + i * chunk.Stride, width);
        std::uint32_t put = 0;
        if (!NoteMove(
                failure,
                platform::WriteFileAt(block.World, RowPosition(block, low), chunk.Block.get(), whole * width, &put),
                "writing", block.WorldPath))
            return;
        if (whole < count) {
            const std::uint64_t used = std::uint64_t{whole} * chunk.Stride;
            const std::uint64_t rest = got > used ? got - used : 0;  // less than a row
            if (rest > 0)
                NoteMove(failure,
                         platform::WriteFileAt(block.World, RowPosition(block, low - 1), chunk.Stored.get() + used,
                                               static_cast<std::uint32_t>(rest), &put),
                         "writing", block.WorldPath);
            return;  // the file has ended
        }
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

    std::uint64_t pixelStart = 0;
    MoveFailure failure{};
    bool moved = false;
    if (!CheckBmpHeader(bitmap.Prefix, file, block.Width, block.Height, path, &pixelStart)) {
        // The check's line completed the progress line.
    } else if (block.Width >= kWidthLimit) {
        RefuseBigWidth();
    } else {
        moved = true;
        if (BackUpWorld(backup, block.World, block.WorldPath, failure)) ImportRows(block, file, path, failure);
    }
    platform::CloseFile(file);
    if (moved) {
        FinishMoveLine(failure);
        TellBackup(backup);
    } else {
        console::PrintLine("Done!");
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

    MoveFailure failure{};
    bool moved = false;
    if (!WriteBmpHeader(bitmap.Header, file, block.Width, block.Height, Palette::Gray)) {
        PrintBmpHeaderError("writing");
    } else if (block.Width >= kWidthLimit) {
        RefuseBigWidth();
    } else {
        moved = true;
        ExportRows(block, file, path, failure);
    }
    const bool closed = platform::CloseFile(file);
    if (moved) {
        NoteMove(failure, closed, "writing", path);
        FinishMoveLine(failure);
    } else {
        console::PrintLine("Done!");
    }
    platform::ReleaseInterrupts();
}
