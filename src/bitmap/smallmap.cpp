#include "bitmap/smallmap.h"

#include <cstring>

#include "bitmap/bmp.h"
#include "driver/state.h"
#include "platform/console_text.h"
#include "world/move_failure.h"

namespace {

// RowBuffer holds the longest stored row, RowStride(2047) = 2048 bytes.
constexpr std::uint32_t kWidthLimit = 2048;

void RefuseBigWidth() { console::PrintLine("We're going to need a bigger boat."); }

std::uint64_t SmallMapRowPosition(const WldHeader& header, std::uint32_t y) {
    return std::uint64_t{header.SmallMapOffset} + std::uint64_t{header.Width} * y;
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
        const std::uint32_t width = header.Width;
        for (std::uint32_t y = header.Height; y-- > 0;) {
            std::uint32_t got = 0;
            if (!NoteMove(failure, platform::ReadFile(bitmap, state.RowBuffer, width, &got), "reading", path)) break;
            // Skip the row's padding, counted from what arrived; the last row has none to skip.
            if (got % 4 != 0 && y > 0 &&
                !NoteMove(failure, platform::SkipInFile(bitmap, 4 - got % 4), "reading", path))
                break;
            std::uint32_t put = 0;
            if (!NoteMove(failure, platform::WriteFileAt(state.World, SmallMapRowPosition(header, y), state.RowBuffer, got, &put),
                          "writing", state.WorldPath))
                break;
        }
    }
    platform::CloseFile(bitmap);
    if (moved)
        FinishMoveLine(failure);
    else
        console::PrintLine("Done!");
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
        const std::uint32_t width = header.Width;
        for (std::uint32_t y = header.Height; y-- > 0;) {
            std::uint32_t got = 0;
            if (!NoteMove(failure, platform::ReadFileAt(state.World, SmallMapRowPosition(header, y), state.RowBuffer, width, &got),
                          "reading", state.WorldPath))
                break;
            const std::uint32_t stored = static_cast<std::uint32_t>(RowStride(got));
            std::uint32_t put = 0;
            if (!NoteMove(failure, platform::WriteFile(bitmap, state.RowBuffer, stored, &put), "writing", path)) break;
        }
    }
    const bool closed = platform::CloseFile(bitmap);
    if (moved) {
        NoteMove(failure, closed, "writing", path);
        FinishMoveLine(failure);
    } else {
        console::PrintLine("Done!");
    }
}
