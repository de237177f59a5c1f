#include <cstring>
#include <string>

#include "bitmap/bmp.h"
#include "bitmap/smallmap.h"
#include "driver/driver.h"
#include "driver/state.h"
#include "driver/version.h"
#include "platform/console_text.h"

namespace {

// The title in a double-line box, in code page 437 bytes.
void ShowBanner() {
    const std::string title = " Velmarsh v" VELMARSH_VERSION_TEXT " ";
    const std::string rule(title.size(), '\xCD');
    platform::ConsoleWriteFrame("\xC9" + rule + "\xBB\r\n");
    platform::ConsoleWriteFrame("\xBA" + title + "\xBA\r\n");
    platform::ConsoleWriteFrame("\xC8" + rule + "\xBC\r\n");
}

void FillWorldDialog(AppState& state) {
    platform::FileDialog& dialog = state.WorldFileDialog;
    dialog.Title = "Open WOODS.WLD";
    dialog.FilterText = "WOODS.WLD";
    dialog.FilterPattern = "*.WLD";
    dialog.DefaultExt = nullptr;
    dialog.Flags = platform::kOfnExplorer | platform::kOfnFileMustExist | platform::kOfnHideReadOnly;
    dialog.FileBuffer = state.FileNameBuffer;
    dialog.FileBufferSize = kFileNameBufferSize;
}

void FillBitmapDialog(AppState& state) {
    platform::FileDialog& dialog = state.BitmapFileDialog;
    dialog.FilterText = "Bitmap files (*.bmp)";
    dialog.FilterPattern = "*.BMP";
    dialog.DefaultExt = "BMP";
    dialog.FileBuffer = state.FileNameBuffer;
    dialog.FileBufferSize = kFileNameBufferSize;
}

// The header read, shown and checked against the file; false ends the run.
bool LoadWorldHeader(AppState& state) {
    if (!ReadWldHeader(state)) return false;
    ShowWldHeader(state.Header);
    return CheckWorldLimits(state);
}

}  // namespace

int RunTool(AppState& state) {
    ShowBanner();
    FillWorldDialog(state);
    if (!platform::GetOpenFileName(state.WorldFileDialog)) return 0;

    std::memcpy(state.WorldPath, state.FileNameBuffer, sizeof state.WorldPath);
    console::PrintLine(std::string("Loading ") + state.WorldPath + "...");
    state.World = platform::OpenFile(state.WorldPath, platform::Share::Read, platform::Disposition::OpenExisting);
    if (state.World == platform::kInvalidFile) {
        console::PrintErrorLine(platform::LastError(), "opening", state.WorldPath);
        return 0;
    }
    // A refused world ends the run like a failed header read; nothing was
    // written through the handle.
    if (!LoadWorldHeader(state)) {
        platform::CloseFile(state.World);
        return 0;
    }

    state.OffsetRow = static_cast<std::uint32_t*>(platform::AllocateMemory(4 * state.Header.Width));
    FillBitmapDialog(state);
    PrepareBmpHeader(state.Bmp);

    const int answer = platform::MessageBoxYesNoCancel(kLayerQuestion, "Export SmallMap BMP");
    if (answer == platform::kIdYes) ExportSmallMap(state);
    if (answer == platform::kIdNo) ImportSmallMap(state);

    StageLayers(state);
    RunLmPass(state);

    platform::CloseFile(state.World);
    platform::ReleaseMemory(state.OffsetRow);
    state.OffsetRow = nullptr;
    return 0;
}
