// The common Open and Save dialogs and the message box.
#include "platform/platform.h"

#include <windows.h>

#include <commdlg.h>  // needs windows.h first

#include <cstring>
#include <string>

// The declarations name the dialogs as the ANSI calls do, without the macros.
#undef GetOpenFileName
#undef GetSaveFileName

namespace platform {
namespace {

// The folder of the file chosen last in this run; the first dialog starts in
// the current directory. Windows would otherwise open the folder this
// program used last in any earlier run, where a world of the same name may
// lie.
std::string g_dialogFolder;

std::string CurrentFolder() {
    char buffer[MAX_PATH];
    const DWORD length = ::GetCurrentDirectoryA(sizeof buffer, buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// One filter entry: its text and its pattern, each ending in a zero byte,
// and one more zero byte after the last.
std::string Filter(const FileDialog& dialog) {
    std::string filter = dialog.FilterText;
    filter += '\0';
    filter += dialog.FilterPattern;
    filter += '\0';
    return filter;
}

using DialogCall = BOOL(WINAPI*)(LPOPENFILENAMEA);

bool RunDialog(FileDialog& dialog, DialogCall call) {
    if (g_dialogFolder.empty()) g_dialogFolder = CurrentFolder();

    // A path in the file buffer decides where the dialog starts, ahead of
    // any folder Windows remembers; the name part stays the proposal.
    std::string start = g_dialogFolder;
    if (!start.empty() && start.back() != '\\') start += '\\';
    start += dialog.FileBuffer;
    if (start.size() < dialog.FileBufferSize) std::memcpy(dialog.FileBuffer, start.c_str(), start.size() + 1);

    const std::string filter = Filter(dialog);
    OPENFILENAMEA description{};
    description.lStructSize = sizeof description;  // 152 on 64-bit Windows, 76 on 32-bit
    description.hwndOwner = nullptr;
    description.lpstrFilter = filter.c_str();
    description.lpstrFile = dialog.FileBuffer;
    description.nMaxFile = dialog.FileBufferSize;
    description.lpstrInitialDir = g_dialogFolder.empty() ? nullptr : g_dialogFolder.c_str();
    description.lpstrTitle = dialog.Title;
    description.lpstrDefExt = dialog.DefaultExt;
    description.Flags = dialog.Flags;
    if (call(&description) == 0) return false;

    // A Save into a folder that does not exist fails later; it leaves the
    // dialogs where they were.
    const std::string folder = FolderOf(dialog.FileBuffer);
    if (IsFolder(folder)) g_dialogFolder = folder;
    return true;
}

}  // namespace

bool GetOpenFileName(FileDialog& dialog) { return RunDialog(dialog, ::GetOpenFileNameA); }
bool GetSaveFileName(FileDialog& dialog) { return RunDialog(dialog, ::GetSaveFileNameA); }

Answer MessageBoxYesNoCancel(const char* text, const char* caption) {
    switch (::MessageBoxA(nullptr, text, caption, MB_YESNOCANCEL)) {
        case IDYES: return Answer::Yes;
        case IDNO: return Answer::No;
        default: return Answer::Cancel;  // closed, or failed
    }
}

}  // namespace platform
