// Dialogs and the message box at a terminal or from a script: prompts go to
// standard error, answers come from standard input, one line each.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/dialog_rules.h"
#include "platform/posix/terminal.h"

namespace platform {
namespace {

void Prompt(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

// One answer line of a script or pipe, without its line end; false at the
// end of input, which every later question then meets as well. (At a
// terminal the dialogs read keys instead, and Ctrl-D closes only the one.)
bool ReadAnswer(std::string* line) {
    line->clear();
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
    if (c == EOF && (line->empty() || std::ferror(stdin))) return false;
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
}

PathKind ProbePath(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return PathKind::Missing;
    if (S_ISREG(st.st_mode)) return PathKind::Regular;
    if (S_ISDIR(st.st_mode)) return PathKind::Directory;
    return PathKind::Other;
}

std::string CurrentDirectory() {
    char buffer[PATH_MAX];
    if (getcwd(buffer, sizeof buffer) == nullptr) return "/";
    return buffer;
}

bool RunFileDialog(FileDialog& dialog, bool save) {
    DialogQuery query{};
    query.Save = save;
    query.MustExist = (dialog.Flags & kOfnFileMustExist) != 0;
    query.OverwritePrompt = (dialog.Flags & kOfnOverwritePrompt) != 0;
    query.DefaultExt = dialog.DefaultExt;
    query.Proposed = std::string(dialog.FileBuffer, strnlen(dialog.FileBuffer, dialog.FileBufferSize));
    query.Cwd = CurrentDirectory();
    const char* home = std::getenv("HOME");
    query.Home = home != nullptr ? home : "";
    query.BufferSize = dialog.FileBufferSize;

    const std::string heading = std::string(dialog.Title) + " (" + dialog.FilterText + ": " +
                                dialog.FilterPattern + ")";
    const bool interactive = terminal::IsInteractive();
    if (interactive) {
        // The proposed name stands in the edited line; an emptied line cancels.
        const std::string prefill = query.Proposed;
        query.Proposed.clear();
        Prompt(terminal::Heading(heading) + "\n");
        for (std::string line = prefill;;) {
            if (!terminal::ReadFileName(line, &line)) return false;
            const DialogOutcome outcome = JudgeDialogAnswer(line, query, ProbePath);
            if (outcome.Step == DialogStep::Cancel) return false;
            if (outcome.Step == DialogStep::AskAgain) {
                terminal::Note(outcome.Note);
                continue;
            }
            if (outcome.Step == DialogStep::ConfirmReplace) {
                const terminal::Answer answer = terminal::AskReplace(outcome.Path);
                if (answer == terminal::Answer::Cancel) return false;
                if (answer == terminal::Answer::No) continue;
            }
            terminal::RememberPath(outcome.Path);
            std::memcpy(dialog.FileBuffer, outcome.Path.c_str(), outcome.Path.size() + 1);
            return true;
        }
    }

    const std::string ask =
        query.Proposed.empty() ? std::string("File name: ") : "File name [" + query.Proposed + "]: ";
    Prompt(heading + "\n");
    for (;;) {
        Prompt(ask);
        std::string line;
        if (!ReadAnswer(&line)) return false;
        const DialogOutcome outcome = JudgeDialogAnswer(line, query, ProbePath);
        switch (outcome.Step) {
            case DialogStep::Cancel:
                return false;
            case DialogStep::AskAgain:
                Prompt(outcome.Note + "\n");
                continue;
            case DialogStep::ConfirmReplace: {
                Prompt(outcome.Path + " already exists. Replace it? [y/N]: ");
                std::string answer;
                if (!ReadAnswer(&answer)) return false;
                if (!IsYes(answer)) continue;
                break;
            }
            case DialogStep::Accept:
                break;
        }
        std::memcpy(dialog.FileBuffer, outcome.Path.c_str(), outcome.Path.size() + 1);
        return true;
    }
}

}  // namespace

bool GetOpenFileName(FileDialog& dialog) { return RunFileDialog(dialog, false); }
bool GetSaveFileName(FileDialog& dialog) { return RunFileDialog(dialog, true); }

int MessageBoxYesNoCancel(const char* text, const char* caption) {
    if (terminal::IsInteractive()) {
        switch (terminal::AskYesNoCancel(caption, text)) {
            case terminal::Answer::Yes: return kIdYes;
            case terminal::Answer::No: return kIdNo;
            case terminal::Answer::Cancel: return kIdCancel;
        }
    }
    Prompt(std::string("\n") + caption + "\n" + text + "\n");
    for (;;) {
        Prompt("[Y]es, [N]o, [C]ancel (default Yes): ");
        std::string line;
        if (!ReadAnswer(&line)) return kIdCancel;  // as when the box is closed
        const int answer = JudgeMessageBoxAnswer(line);
        if (answer != 0) return answer;
        Prompt("Please answer y, n or c.\n");
    }
}

}  // namespace platform
