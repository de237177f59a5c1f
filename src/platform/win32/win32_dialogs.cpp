// The common Open and Save dialogs and the message box, or the answers given
// to them ahead.
#include "platform/given_answers.h"
#include "platform/platform.h"

#include <windows.h>

#include <commdlg.h>  // needs windows.h first

#include <cctype>
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

bool IsFile(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool LastPartHasDot(const std::string& path) {
    const std::size_t part = path.find_last_of("\\/");
    return path.find('.', part == std::string::npos ? 0 : part + 1) != std::string::npos;
}

// Why a given name cannot be used, as the dialog would have said it; empty
// when it can.
std::string Refusal(const FileDialog& dialog, bool save, const std::string& path) {
    if (path.size() >= dialog.FileBufferSize)
        return "Path too long: at most " + std::to_string(dialog.FileBufferSize - 1) + " bytes";
    if (IsFolder(path)) return path + " is a folder";
    if (!save && (dialog.Flags & kOfnFileMustExist) != 0 && !IsFile(path)) return "File not found: " + path;
    if (save && (dialog.Flags & kOfnOverwritePrompt) != 0 && IsFile(path) && !given::MayReplace())
        return path + " already exists; not replaced (delete it first to export again)";
    return {};
}

// A question answered ahead: nothing is shown. The name is taken as the
// system's dialog takes a typed one, but from the current folder: made a
// full path, with the default extension when its last part has none (in
// lower case, like the proposed names and as the Linux build adds it).
bool TakeGivenPath(const FileDialog& dialog, bool save, const GivenAnswer& given, std::string* path) {
    std::string typed = given.Path;
    if (typed.empty()) {
        if (dialog.FileBuffer[0] == '\0') return false;  // nothing proposed: cancelled
        typed =
            g_dialogFolder + (g_dialogFolder.empty() || g_dialogFolder.back() == '\\' ? "" : "\\") + dialog.FileBuffer;
    }
    char full[4 * MAX_PATH];
    const DWORD length = ::GetFullPathNameA(typed.c_str(), sizeof full, full, nullptr);
    std::string chosen = length > 0 && length < sizeof full ? std::string(full, length) : typed;
    if (dialog.DefaultExt != nullptr && !LastPartHasDot(chosen)) {
        std::string withExtension = chosen + ".";
        for (const char* c = dialog.DefaultExt; *c != '\0'; ++c)
            withExtension += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        if (save ? !IsFolder(chosen) : (!IsFile(chosen) && IsFile(withExtension))) chosen = withExtension;
    }
    const std::string refusal = Refusal(dialog, save, chosen);
    if (!refusal.empty()) {
        SayLine(refusal);
        return false;
    }
    *path = chosen;
    return true;
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

bool RunDialog(FileDialog& dialog, DialogCall call, bool save) {
    if (g_dialogFolder.empty()) g_dialogFolder = CurrentFolder();
    if (const given::Turn turn = given::Next(); turn.Answer != nullptr) {
        std::string path;
        if (!TakeGivenPath(dialog, save, *turn.Answer, &path)) {
            given::Refused();
            return false;
        }
        std::memcpy(dialog.FileBuffer, path.c_str(), path.size() + 1);
        if (turn.First && IsFolder(FolderOf(path))) g_dialogFolder = FolderOf(path);
        return true;
    }

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

bool GetOpenFileName(FileDialog& dialog) { return RunDialog(dialog, ::GetOpenFileNameA, false); }
bool GetSaveFileName(FileDialog& dialog) { return RunDialog(dialog, ::GetSaveFileNameA, true); }

Answer MessageBoxYesNoCancel(const char* text, const char* caption) {
    if (const given::Turn turn = given::Next(); turn.Answer != nullptr) return turn.Answer->Button;
    switch (::MessageBoxA(nullptr, text, caption, MB_YESNOCANCEL)) {
        case IDYES: return Answer::Yes;
        case IDNO: return Answer::No;
        default: return Answer::Cancel;  // closed, or failed
    }
}

}  // namespace platform
