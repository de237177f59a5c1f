// The common Open and Save dialogs and the message box, or the answers given
// to them ahead. Paths are UTF-8 here and UTF-16 at the system's calls. The
// console window owns every dialog and box, so that they stay in front of it.
#include "platform/dialog_rules.h"
#include "platform/given_answers.h"
#include "platform/platform.h"
#include "platform/win32/wide_text.h"

#include <windows.h>

#include <commdlg.h>  // needs windows.h first

#include <cstring>
#include <string>

// The declarations name the dialogs as the system's calls do, without the macros.
#undef GetOpenFileName
#undef GetSaveFileName

namespace platform {
namespace {

// The folder of the file chosen last in this run; the first dialog starts in
// the current directory. Windows would otherwise open the folder this
// program used last in any earlier run, where a world of the same name may
// lie.
std::string g_dialogFolder;

// The longest path the system's calls give back, in UTF-16 units; a path
// that FileNameBuffer cannot hold is refused after the call.
constexpr DWORD kWidePathSize = 32768;

std::string CurrentFolder() {
    std::wstring buffer(kWidePathSize, L'\0');
    const DWORD length = ::GetCurrentDirectoryW(kWidePathSize, buffer.data());
    return length > 0 && length < kWidePathSize ? Utf8(std::wstring_view(buffer.data(), length)) : std::string();
}

const std::string& DialogFolder() {
    if (g_dialogFolder.empty()) g_dialogFolder = CurrentFolder();
    return g_dialogFolder;
}

PathKind ProbePath(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Directory : PathKind::Regular;
}

// A Save into a folder that does not exist fails later; it leaves the
// dialogs where they were.
void FollowChosenPath(const std::string& path) {
    const std::string folder = FolderOf(path, kWindowsPaths);
    if (ProbePath(folder) == PathKind::Directory) g_dialogFolder = folder;
}

// An answer given ahead is judged by the rules that judge a name typed into
// the Linux dialogs, with Windows' paths: no "~", names the same in any case.
DialogQuery QueryOf(const FileDialog& dialog, bool save) {
    DialogQuery query{};
    query.Save = save;
    query.MustExist = (dialog.Flags & kOfnFileMustExist) != 0;
    query.OverwritePrompt = (dialog.Flags & kOfnOverwritePrompt) != 0;
    query.DefaultExt = dialog.DefaultExt;
    query.Patterns = dialog.FilterPattern;
    query.Proposed = std::string(dialog.FileBuffer, strnlen(dialog.FileBuffer, dialog.FileBufferSize));
    query.Folder = DialogFolder();
    query.BufferSize = dialog.FileBufferSize;
    query.Rules = kWindowsPaths;
    return query;
}

DialogOutcome JudgeGivenPath(const std::string& typed, const FileDialog& dialog, bool save) {
    return JudgeGivenAnswer(typed, QueryOf(dialog, save), CurrentFolder(), given::MayReplace(dialog.Given), ProbePath);
}

// A question answered ahead: nothing is shown, and a name that cannot be used
// cancels with its note.
bool TakeGivenPath(const FileDialog& dialog, bool save, const GivenAnswer& given, std::string* path) {
    const DialogOutcome outcome = JudgeGivenPath(given.Path, dialog, save);
    if (outcome.Step == DialogStep::Refuse) SayLine(outcome.Note);
    if (outcome.Step != DialogStep::Accept) return false;
    *path = outcome.Path;
    return true;
}

// One filter entry: its text and its pattern, each ending in a zero, and
// one more zero after the last.
std::wstring Filter(const FileDialog& dialog) {
    std::wstring filter = Utf16(dialog.FilterText);
    filter += L'\0';
    filter += Utf16(dialog.FilterPattern);
    filter += L'\0';
    return filter;
}

using DialogCall = BOOL(WINAPI*)(LPOPENFILENAMEW);

bool RunDialog(FileDialog& dialog, DialogCall call, bool save) {
    if (const given::Turn turn = given::Next(dialog.Given); turn.Answer != nullptr) {
        std::string path;
        if (!TakeGivenPath(dialog, save, *turn.Answer, &path)) {
            given::Refused(dialog.Given);
            return false;
        }
        std::memcpy(dialog.FileBuffer, path.c_str(), path.size() + 1);
        if (turn.First) FollowChosenPath(path);
        return true;
    }

    // A path in the file buffer decides where the dialog starts, ahead of
    // any folder Windows remembers; the name part stays the proposal.
    std::string start = DialogFolder();
    if (!start.empty() && start.back() != '\\') start += '\\';
    start += dialog.FileBuffer;
    std::wstring file = Utf16(start);
    file.resize(kWidePathSize, L'\0');
    file.back() = L'\0';

    const std::wstring filter = Filter(dialog), folder = Utf16(DialogFolder()), title = Utf16(dialog.Title);
    const std::wstring extension = dialog.DefaultExt != nullptr ? Utf16(dialog.DefaultExt) : std::wstring();
    OPENFILENAMEW description{};
    description.lStructSize = sizeof description;  // 152 on 64-bit Windows, 76 on 32-bit
    description.hwndOwner = ::GetConsoleWindow();  // none without a console window
    description.lpstrFilter = filter.c_str();
    description.lpstrFile = file.data();
    description.nMaxFile = kWidePathSize;
    description.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    description.lpstrTitle = title.c_str();
    description.lpstrDefExt = dialog.DefaultExt != nullptr ? extension.c_str() : nullptr;
    description.Flags = dialog.Flags;
    if (call(&description) == 0) return false;

    // The dialog takes paths of any length; the run holds one of the
    // buffer's size.
    const std::string chosen = Utf8(file.c_str());
    if (!PathFits(chosen, kWindowsPaths, dialog.FileBufferSize)) {
        SayLine(PathTooLongNote(kWindowsPaths, dialog.FileBufferSize) + "; choose a file with a shorter path");
        return false;
    }
    std::memcpy(dialog.FileBuffer, chosen.c_str(), chosen.size() + 1);
    FollowChosenPath(chosen);
    return true;
}

}  // namespace

std::string ResolveGivenPath(const std::string& typed, const FileDialog& dialog) {
    const DialogOutcome outcome = JudgeGivenPath(typed, dialog, (dialog.Flags & kOfnOverwritePrompt) != 0);
    return outcome.Step == DialogStep::Accept ? outcome.Path : std::string();
}

bool GetOpenFileName(FileDialog& dialog) { return RunDialog(dialog, ::GetOpenFileNameW, false); }
bool GetSaveFileName(FileDialog& dialog) { return RunDialog(dialog, ::GetSaveFileNameW, true); }

// In front of the console, which it owns; the question icon says it asks.
Answer MessageBoxYesNoCancel(const char* text, const char* caption, GivenAnswers* given) {
    if (const given::Turn turn = given::Next(given); turn.Answer != nullptr) return turn.Answer->Button;
    const UINT style = MB_YESNOCANCEL | MB_ICONQUESTION | MB_SETFOREGROUND;
    switch (::MessageBoxW(::GetConsoleWindow(), Utf16(text).c_str(), Utf16(caption).c_str(), style)) {
        case IDYES: return Answer::Yes;
        case IDNO: return Answer::No;
        default: return Answer::Cancel;  // closed, or failed
    }
}

}  // namespace platform
