#include "bitmap/smallmap.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "bitmap/bmp.h"
#include "driver/state.h"
#include "platform/console_text.h"
#include "world/move_failure.h"

namespace {

// SmallMap bitmaps stop at width 2047, stored rows of 2048 bytes; wider maps
// are refused, as they always have been.
constexpr std::uint32_t kWidthLimit = 2048;

void RefuseBigWidth() { console::PrintLine("We're going to need a bigger boat."); }

// Rows move a chunk at a time; the block's rows lie one after the other, so a
// chunk of them is one read or write on each side.
constexpr std::uint64_t kChunkBytes = 1024 * 1024;

std::uint64_t SmallMapRowPosition(const WldHeader& header, std::uint32_t y) {
    return std::uint64_t{header.SmallMapOffset} + std::uint64_t{header.Width} * y;
}

std::uint32_t RowsPerChunk(std::uint32_t width) {
    return static_cast<std::uint32_t>(std::max<std::uint64_t>(1, kChunkBytes / RowStride(width)));
}

// Stored rows run bottom map row first, each padded with zeros.
void ExportRows(AppState& state, platform::FileHandle bitmap, const char* path, MoveFailure& failure) {
    const WldHeader& header = state.Header;
    const std::uint32_t width = header.Width;
    const std::uint64_t stride = RowStride(width);
    const std::uint32_t chunkRows = RowsPerChunk(width);
    std::vector<std::uint8_t> block(std::uint64_t{chunkRows} * width);
    std::vector<std::uint8_t> stored(chunkRows * stride, 0);
    for (std::uint32_t top = header.Height; top > 0;) {
        const std::uint32_t count = std::min(chunkRows, top);
        const std::uint32_t low = top - count;
        std::uint32_t got = 0;
        if (!NoteMove(failure, platform::ReadFileAt(state.World, SmallMapRowPosition(header, low), block.data(),
                                                    count * width, &got),
                      "reading", state.WorldPath))
            return;
        for (std::uint32_t i = 0; i < count; ++i)
            std::memcpy(stored.data() + i * stride, block.data() + std::uint64_t{top - 1 - i - low} * width, width);
        std::uint32_t put = 0;
        if (!NoteMove(failure, platform::WriteFile(bitmap, stored.data(), static_cast<std::uint32_t>(count * stride), &put),
                      "writing", path))
            return;
        top = low;
    }
}

// A bitmap cut short fills the rows it still holds; the row it ends in gets
// the bytes that are there, and the rows after it keep their values.
void ImportRows(AppState& state, platform::FileHandle bitmap, const char* path, MoveFailure& failure) {
    const WldHeader& header = state.Header;
    const std::uint32_t width = header.Width;
    const std::uint64_t stride = RowStride(width);
    const std::uint32_t chunkRows = RowsPerChunk(width);
    std::vector<std::uint8_t> stored(chunkRows * stride);
    std::vector<std::uint8_t> block(std::uint64_t{chunkRows} * width);
    for (std::uint32_t top = header.Height; top > 0;) {
        const std::uint32_t count = std::min(chunkRows, top);
        std::uint32_t got = 0;
        if (!NoteMove(failure, platform::ReadFile(bitmap, stored.data(), static_cast<std::uint32_t>(count * stride), &got),
                      "reading", path))
            return;
        const auto whole = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, got / stride + (got % stride >= width)));
        // Whole rows top-1 down to top-whole, laid out upwards as in the world.
        const std::uint32_t low = top - whole;
        for (std::uint32_t i = 0; i < whole; ++i)
            std::memcpy(block.data() + std::uint64_t{top - 1 - i - low} * width, stored.data() + i * stride, width);
        std::uint32_t put = 0;
        if (!NoteMove(failure, platform::WriteFileAt(state.World, SmallMapRowPosition(header, low), block.data(),
                                                     whole * width, &put),
                      "writing", state.WorldPath))
            return;
        if (whole < count) {
            const std::uint64_t used = std::uint64_t{whole} * stride;
            const std::uint64_t rest = got > used ? got - used : 0;  // less than a row
            if (rest > 0)
                NoteMove(failure, platform::WriteFileAt(state.World, SmallMapRowPosition(header, low - 1),
                                                        stored.data() + std::uint64_t{whole} * stride,
                                                        static_cast<std::uint32_t>(rest), &put),
                         "writing", state.WorldPath);
            return;  // the file has ended
        }
        top = low;
    }
}

}  // namespace

void ImportSmallMap(AppState& state) {
    state.FileNameBuffer[0] = '\0';
    state.BitmapFileDialog.Title = "Import SmallMap BMP";
    state.BitmapFileDialog.Flags = platform::kOfnExplorer | platform::kOfnFileMustExist | platform::kOfnHideReadOnly;
    if (!platform::GetOpenFileName(state.BitmapFileDialog)) return;

    const char* path = state.FileNameBuffer;
    const platform::FileHandle bitmap = platform::OpenFile(path, platform::Share::Read, platform::Disposition::OpenExisting);
    if (bitmap == platform::kInvalidFile) {
        console::PrintErrorLine(platform::LastError(), "opening", path);
        return;
    }
    // From the progress text to the end of the step's output, an interrupt waits.
    platform::HoldInterrupts();
    console::Print(std::string("Importing ") + path + "...");

    const WldHeader& header = state.Header;
    std::uint64_t pixelStart = 0;
    MoveFailure failure{};
    bool moved = false;
    if (!CheckBmpHeader(state.BmpHeaderPrefix, bitmap, header.Width, header.Height, path, &pixelStart)) {
        // The check's line completed the progress line.
    } else if (header.Width >= kWidthLimit) {
        RefuseBigWidth();
    } else {
        moved = true;
        ImportRows(state, bitmap, path, failure);
    }
    platform::CloseFile(bitmap);
    if (moved)
        FinishMoveLine(failure);
    else
        console::PrintLine("Done!");
    platform::ReleaseInterrupts();
}

void ExportSmallMap(AppState& state) {
    std::memset(state.FileNameBuffer, 0, sizeof state.FileNameBuffer);
    std::strcpy(state.FileNameBuffer, "smallmap.bmp");
    state.BitmapFileDialog.Title = "Export SmallMap BMP";
    state.BitmapFileDialog.Flags = platform::kOfnExplorer | platform::kOfnOverwritePrompt;
    if (!platform::GetSaveFileName(state.BitmapFileDialog)) return;

    const char* path = state.FileNameBuffer;
    const platform::FileHandle bitmap = platform::OpenFile(path, platform::Share::None, platform::Disposition::CreateAlways);
    if (bitmap == platform::kInvalidFile) {
        console::PrintErrorLine(platform::LastError(), "creating", path);
        return;
    }
    platform::HoldInterrupts();
    console::Print(std::string("Writing ") + path + "...");

    const WldHeader& header = state.Header;
    MoveFailure failure{};
    bool moved = false;
    if (!WriteBmpHeader(state.Bmp, bitmap, header.Width, header.Height, Palette::Gray)) {
        console::PrintLine("Error " + console::Dec(platform::LastError()) + " writing BMP header!");
    } else if (header.Width >= kWidthLimit) {
        RefuseBigWidth();
    } else {
        moved = true;
        ExportRows(state, bitmap, path, failure);
    }
    const bool closed = platform::CloseFile(bitmap);
    if (moved) {
        NoteMove(failure, closed, "writing", path);
        FinishMoveLine(failure);
    } else {
        console::PrintLine("Done!");
    }
    platform::ReleaseInterrupts();
}
