// The common Open and Save dialogs and the message box, or the answers given
// to them ahead. Paths are UTF-8 here and UTF-16 at the system's calls. The
// console window owns every dialog and box, so that they stay in front of it.
#include "platform/given_answers.h"
#include "platform/platform.h"
#include "platform/win32/wide_text.h"

#include <windows.h>

#include <commdlg.h>  // needs windows.h first

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

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
// that FileNameBuffer cannot hold as UTF-8 is refused after the call.
constexpr DWORD kWidePathSize = 32768;

std::string CurrentFolder() {
    std::wstring buffer(kWidePathSize, L'\0');
    const DWORD length = ::GetCurrentDirectoryW(kWidePathSize, buffer.data());
    return length > 0 && length < kWidePathSize ? Utf8(std::wstring_view(buffer.data(), length)) : std::string();
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(Utf16(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(Utf16(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool LastPartHasDot(const std::string& path) {
    const std::size_t part = path.find_last_of("\\/");
    return path.find('.', part == std::string::npos ? 0 : part + 1) != std::string::npos;
}

// The buffer's size counts UTF-8 bytes: a letter outside ASCII takes two
// or more.
bool TooLong(const FileDialog& dialog, const std::string& path) { return path.size() >= dialog.FileBufferSize; }

std::string TooLongNote(const FileDialog& dialog) {
    return "Path too long: at most " + std::to_string(dialog.FileBufferSize - 1) + " bytes";
}

// Why a given name cannot be used, as the dialog would have said it; empty
// when it can.
std::string Refusal(const FileDialog& dialog, bool save, const std::string& path) {
    if (TooLong(dialog, path)) return TooLongNote(dialog);
    if (IsFolder(path)) return path + " is a folder";
    if (!save && (dialog.Flags & kOfnFileMustExist) != 0 && !IsFile(path)) return "File not found: " + path;
    if (save && (dialog.Flags & kOfnOverwritePrompt) != 0 && IsFile(path) && !given::MayReplace())
        return path + " already exists; not replaced (give --replace to replace it)";
    return {};
}

// A question answered ahead: nothing is shown. The name is taken as the
// system's dialog takes a typed one, but from the current folder: made a
// full path, with the default extension when its last part has none (in
// lower case, like the proposed names and as the Linux build adds it).
// ".ext" in lower case, like the proposed names.
std::string DottedLower(std::string_view ext) {
    std::string dotted = ".";
    for (const char c : ext) dotted += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return dotted;
}

// What a name without an extension is tried with: the default extension,
// then, for an Open, those of the filter's other patterns ("*.BMP;*.PNG"),
// as the Linux build tries them.
std::vector<std::string> ExtensionsToTry(const FileDialog& dialog) {
    std::vector<std::string> extensions{DottedLower(dialog.DefaultExt)};
    std::string_view patterns = dialog.FilterPattern;
    while (!patterns.empty()) {
        const std::size_t end = std::min(patterns.find(';'), patterns.size());
        const std::string_view pattern = patterns.substr(0, end);
        const std::size_t dot = pattern.rfind('.');
        if (dot != std::string_view::npos) {
            const std::string dotted = DottedLower(pattern.substr(dot + 1));
            if (std::find(extensions.begin(), extensions.end(), dotted) == extensions.end())
                extensions.push_back(dotted);
        }
        patterns.remove_prefix(std::min(end + 1, patterns.size()));
    }
    return extensions;
}

// The full path a given answer names, and why it cannot be used (empty when
// it can); false when nothing is named.
bool JudgeGivenPath(const FileDialog& dialog, bool save, std::string typed, std::string* path, std::string* refusal) {
    if (typed.empty()) {
        if (dialog.FileBuffer[0] == '\0') return false;  // nothing proposed: cancelled
        typed =
            g_dialogFolder + (g_dialogFolder.empty() || g_dialogFolder.back() == '\\' ? "" : "\\") + dialog.FileBuffer;
    }
    std::wstring full(kWidePathSize, L'\0');
    const DWORD length = ::GetFullPathNameW(Utf16(typed).c_str(), kWidePathSize, full.data(), nullptr);
    std::string chosen = length > 0 && length < kWidePathSize ? Utf8(std::wstring_view(full.data(), length)) : typed;
    if (dialog.DefaultExt != nullptr && !LastPartHasDot(chosen)) {
        const std::vector<std::string> extensions = ExtensionsToTry(dialog);
        if (save && !IsFolder(chosen)) chosen += extensions.front();
        for (std::size_t i = 0; !save && !IsFile(chosen) && i < extensions.size(); ++i)
            if (IsFile(chosen + extensions[i])) chosen += extensions[i];
    }
    *refusal = Refusal(dialog, save, chosen);
    *path = chosen;
    return true;
}

bool TakeGivenPath(const FileDialog& dialog, bool save, const GivenAnswer& given, std::string* path) {
    std::string refusal;
    if (!JudgeGivenPath(dialog, save, given.Path, path, &refusal)) return false;
    if (refusal.empty()) return true;
    SayLine(refusal);
    return false;
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
    std::wstring file = Utf16(start);
    file.resize(kWidePathSize, L'\0');
    file.back() = L'\0';

    const std::wstring filter = Filter(dialog), folder = Utf16(g_dialogFolder), title = Utf16(dialog.Title);
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
    if (TooLong(dialog, chosen)) {
        SayLine(TooLongNote(dialog) + "; choose a file with a shorter path");
        return false;
    }
    std::memcpy(dialog.FileBuffer, chosen.c_str(), chosen.size() + 1);

    // A Save into a folder that does not exist fails later; it leaves the
    // dialogs where they were.
    const std::string chosenFolder = FolderOf(chosen);
    if (IsFolder(chosenFolder)) g_dialogFolder = chosenFolder;
    return true;
}

}  // namespace

std::string ResolveGivenPath(const std::string& typed, const FileDialog& dialog) {
    if (g_dialogFolder.empty()) g_dialogFolder = CurrentFolder();
    std::string path, refusal;
    const bool save = (dialog.Flags & kOfnOverwritePrompt) != 0;
    return JudgeGivenPath(dialog, save, typed, &path, &refusal) && refusal.empty() ? path : std::string();
}

bool GetOpenFileName(FileDialog& dialog) { return RunDialog(dialog, ::GetOpenFileNameW, false); }
bool GetSaveFileName(FileDialog& dialog) { return RunDialog(dialog, ::GetSaveFileNameW, true); }

// In front of the console, which it owns; the question icon says it asks.
Answer MessageBoxYesNoCancel(const char* text, const char* caption) {
    if (const given::Turn turn = given::Next(); turn.Answer != nullptr) return turn.Answer->Button;
    const UINT style = MB_YESNOCANCEL | MB_ICONQUESTION | MB_SETFOREGROUND;
    switch (::MessageBoxW(::GetConsoleWindow(), Utf16(text).c_str(), Utf16(caption).c_str(), style)) {
        case IDYES: return Answer::Yes;
        case IDNO: return Answer::No;
        default: return Answer::Cancel;  // closed, or failed
    }
}

}  // namespace platform
