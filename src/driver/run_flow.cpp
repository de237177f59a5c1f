#include <cstring>
#include <string>

#include "bitmap/bmp.h"
#include "driver/driver.h"
#include "driver/version.h"
#include "move/smallmap.h"
#include "report/console_text.h"

namespace {

// The title in a double-line box, in code page 437 bytes.
void ShowBanner() {
    const std::string title = " Velmarsh v" VELMARSH_VERSION_TEXT " ";
    const std::string rule(title.size(), '\xCD');
    platform::ConsoleWriteFrame("\xC9" + rule + "\xBB\r\n");
    platform::ConsoleWriteFrame("\xBA" + title + "\xBA\r\n");
    platform::ConsoleWriteFrame("\xC8" + rule + "\xBC\r\n");
}

void FillWorldDialog(DialogState& dialogs) {
    platform::FileDialog& dialog = dialogs.WorldFileDialog;
    dialog.Title = "Open WOODS.WLD";
    dialog.FilterText = "WOODS.WLD";
    dialog.FilterPattern = "*.WLD";
    dialog.DefaultExt = nullptr;
    dialog.Flags = platform::kOfnExplorer | platform::kOfnFileMustExist | platform::kOfnHideReadOnly;
    dialog.FileBuffer = dialogs.FileNameBuffer;
    dialog.FileBufferSize = platform::kFileNameBufferSize;
    dialog.Given = &dialogs.Given;
}

// The constant fields; each use sets the title, filter and flags.
void FillBitmapDialog(DialogState& dialogs) {
    platform::FileDialog& dialog = dialogs.BitmapFileDialog;
    dialog.DefaultExt = "BMP";
    dialog.FileBuffer = dialogs.FileNameBuffer;
    dialog.FileBufferSize = platform::kFileNameBufferSize;
    dialog.Given = &dialogs.Given;
}

// The header read, shown and checked against the file; false ends the run.
bool LoadWorldHeader(console::Report& report, WorldFile& world) {
    if (!ReadWldHeader(report, world)) return false;
    ShowWldHeader(world.Header);
    return CheckWorldLimits(report, world);
}

SmallMapBlock SmallMapOf(const WorldFile& world) {
    return {world.Handle, world.Path, world.Header.Width, world.Header.Height, world.Header.SmallMapOffset};
}

}  // namespace

int RunTool(AppState& state) {
    WorldFile& world = state.World;
    DialogState& dialogs = state.Dialogs;
    ShowBanner();
    FillWorldDialog(dialogs);
    if (!platform::GetOpenFileName(dialogs.WorldFileDialog)) return 0;

    std::memcpy(world.Path, dialogs.FileNameBuffer, sizeof world.Path);
    console::PrintLine(std::string("Loading ") + world.Path + "...");
    world.Handle = platform::OpenFile(world.Path, platform::Share::Read, platform::Disposition::OpenExisting);
    if (world.Handle == platform::kInvalidFile) {
        const std::uint32_t code = platform::LastError();
        // The world is the run's first file: only others can hold it.
        console::PrintErrorLine(state.Report, code, "opening", world.Path,
                                code == platform::InUseCode()
                                    ? "Another program or another run of velmarsh has the world open: close it there, "
                                      "then run again."
                                    : std::string());
        return 0;
    }
    // A refused world ends the run like a failed header read; nothing was
    // written through the handle but what puts back an import that died.
    if (!PutBackDiedImport(state.Report, state.Backup, world.Handle, world.Path) ||
        !LoadWorldHeader(state.Report, world)) {
        platform::CloseFile(world.Handle);
        return 0;
    }

    world.OffsetRow = static_cast<std::uint32_t*>(platform::AllocateMemory(std::uint64_t{4} * world.Header.Width));
    FillBitmapDialog(dialogs);
    PrepareBmpHeader(state.Bitmap.Header);

    const platform::Answer answer = AskLayerQuestion(dialogs, 0, "Export SmallMap BMP");
    if (answer == platform::Answer::Yes)
        ExportSmallMap(state.Report, SmallMapOf(world), dialogs.BitmapFileDialog, state.Bitmap);
    if (answer == platform::Answer::No)
        ImportSmallMap(state.Report, SmallMapOf(world), state.Backup, dialogs.BitmapFileDialog, state.Bitmap);

    StageLayers(state.Report, dialogs, world, state.Bitmap, state.Layers);
    RunLmPass(state.Report, world, state.Backup, state.Layers);

    platform::CloseFile(world.Handle);
    platform::ReleaseMemory(world.OffsetRow);
    world.OffsetRow = nullptr;
    return 0;
}
