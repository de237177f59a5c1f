// How a typed or given answer becomes a file name, on either system: the
// terminal dialogs of Linux and the answers given ahead to the dialogs of
// Windows. Pure: the file system is asked through a probe and the system's
// way of spelling paths comes as PathRules, so the rules can be tested alone.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace platform {

enum class PathKind { Missing, Regular, Directory, Other };
using PathProbe = std::function<PathKind(const std::string&)>;

// How a system spells a path and counts its length.
struct PathRules {
    // '/'; or '\' (Windows), where '/' separates as well and a drive letter
    // ("C:\") or a server's share ("\\server\share") begins an absolute path.
    char Separator;
    bool AnyCase;      // names are the same in any case
    bool CountsUtf16;  // a path's length counts the UTF-16 units the system's calls take, not bytes
};
inline constexpr PathRules kPosixPaths{'/', false, false};
inline constexpr PathRules kWindowsPaths{'\\', true, true};

struct DialogQuery {
    bool Save;               // Save dialog (else Open)
    bool MustExist;          // OFN_FILEMUSTEXIST
    bool OverwritePrompt;    // OFN_OVERWRITEPROMPT
    bool CanConfirm;         // a person can be asked before a file is replaced
    bool Given;              // the answer came from the command line, where --replace replaces
    const char* DefaultExt;  // nullptr: none
    std::string Patterns;    // the filter's, "*.BMP;*.PNG": an Open tries their extensions too
    std::string Proposed;    // the buffer's content on entry; empty: none
    std::string Folder;      // where the dialog starts: relative answers are taken from here
    std::string Home;        // empty: "~" is a name like any other
    std::uint32_t BufferSize;
    PathRules Rules = kPosixPaths;
};

enum class DialogStep {
    Accept,          // Path is the answer
    Refuse,          // Note says why the name cannot be used
    ConfirmReplace,  // Path exists; ask before replacing it
    Cancel,
};

struct DialogOutcome {
    DialogStep Step;
    std::string Path;
    std::string Note;
};

// A typed name as an absolute path, not yet normalised: "~/" stands for home
// (when there is one), any other relative name is taken from folder (on
// Windows, "\x" from the root of folder's drive).
std::string MakeAbsolute(const std::string& typed, const std::string& folder, const std::string& home,
                         const PathRules& rules);

// Folds "." and ".." parts and doubled separators of an absolute path; on
// Windows every separator becomes '\' and the last part loses trailing dots
// and blanks, as the system's own calls take them off.
std::string NormalisePath(std::string_view absolute, const PathRules& rules);

// The folder part of a normalised absolute path (its root for a file at the
// top: "/", "C:\").
std::string FolderOf(std::string_view absolute, const PathRules& rules);

// A path as a terminal delivers it when pasted or dropped: trailing blanks,
// one pair of surrounding quotes, a file:// prefix (percent-decoded) and, on
// Linux, backslash escapes taken off, in that order.
std::string CleanPastedPath(std::string_view typed, const PathRules& rules);

// Whether a path fits a buffer of bufferSize bytes with its zero and the
// length the system counts; the note that refuses one that does not.
bool PathFits(std::string_view path, const PathRules& rules, std::uint32_t bufferSize);
std::string PathTooLongNote(const PathRules& rules, std::uint32_t bufferSize);

// Judges one answer line (its line end already removed).
DialogOutcome JudgeDialogAnswer(std::string_view line, const DialogQuery& query, const PathProbe& probe);

// Judges an answer given ahead (from the command line): a name is taken from
// currentFolder, where the command was typed, an empty one takes the
// proposal in the dialog's folder; nobody is asked, and an existing file is
// replaced only with replace.
DialogOutcome JudgeGivenAnswer(std::string_view typed, DialogQuery query, const std::string& currentFolder,
                               bool replace, const PathProbe& probe);

// ---- Tab and the message box of the Linux dialogs ------------------------

// Whether a name fits one of a dialog's patterns, "*.EXT" (several with ";"
// between them): it ends in .EXT, in any case.
bool MatchesPattern(std::string_view name, std::string_view pattern);

// A name in the folder that Tab completes in.
struct FolderEntry {
    std::string Name;
    bool Folder;
};

enum class TabStep { Beep, Insert, List };

struct TabPlan {
    TabStep Step;
    std::string Insert;                // Insert: the text that goes in at the cursor
    std::vector<std::string> Choices;  // List: the names, folders with their slash
    std::string LastTab;               // what the next Tab needs to know of this one
};

// The folder part of a line typed into a file dialog: up to its last slash.
std::string_view TypedFolder(std::string_view typed);

// What Tab does at the end of typed, the whole line being one path: entries
// are the names in the folder of its last part, lastTab what the previous
// Tab left. Folders and the names that fit the patterns are offered, hidden
// ones only when the name begins with a dot. The part all offered names
// share goes in; when nothing more does, a second Tab lists them.
TabPlan PlanTab(std::string_view typed, const std::vector<FolderEntry>& entries, std::string_view patterns,
                std::string_view lastTab);

// Whether Tab may offer a folder's entry for the name typed so far: not "."
// or "..", beginning with it, and hidden only when what was typed is.
bool MayOfferName(std::string_view name, std::string_view prefix);

// A Yes/No/Cancel answer line: its button, or nothing when it is none of
// the box's words.
std::optional<Answer> JudgeMessageBoxAnswer(std::string_view line);

}  // namespace platform
