// How a typed answer becomes a file name in the terminal dialogs. Pure: the
// file system is asked through a probe, so the rules can be tested alone.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

enum class PathKind { Missing, Regular, Directory, Other };
using PathProbe = std::function<PathKind(const std::string&)>;

struct DialogQuery {
    bool Save;               // Save dialog (else Open)
    bool MustExist;          // OFN_FILEMUSTEXIST
    bool OverwritePrompt;    // OFN_OVERWRITEPROMPT
    const char* DefaultExt;  // nullptr: none
    std::string Proposed;    // the buffer's content on entry; empty: none
    std::string Cwd;
    std::string Home;
    std::uint32_t BufferSize;
};

enum class DialogStep {
    Accept,          // Path is the answer
    AskAgain,        // Note explains why; ask for a file name again
    ConfirmReplace,  // Path exists; ask before replacing it
    Cancel,
};

struct DialogOutcome {
    DialogStep Step;
    std::string Path;
    std::string Note;
};

// Folds "." and ".." parts and doubled slashes of an absolute path.
std::string NormalisePath(std::string_view absolute);

// Judges one answer line (its line end already removed).
DialogOutcome JudgeDialogAnswer(std::string_view line, const DialogQuery& query,
                                const PathProbe& probe);

// Yes/No/Cancel answers: kIdYes, kIdNo, kIdCancel, or 0 for "not understood".
int JudgeMessageBoxAnswer(std::string_view line);

// "y" or "yes", in any case, blanks around ignored.
bool IsYes(std::string_view line);

}  // namespace platform
