// Dialogs and the message box at a terminal or from a script: prompts go to
// standard error, answers come from standard input. From a script every
// question reads exactly one line, so a name that cannot be used costs that
// one step and the later answers still meet their own questions.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/posix/dialog_rules.h"
#include "platform/posix/terminal.h"

namespace platform {
namespace {

// The folder of the file chosen last in this run; the first dialog starts
// in the current directory. The process's own directory never changes.
std::string g_dialogFolder;

// Whether a script's first answer has been read, since only it can carry
// the byte-order mark that some editors put in front of a saved file.
bool g_scriptStarted = false;

void Prompt(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

// One answer line of a script or pipe, without its line end (LF or CR LF,
// and a leading UTF-8 byte-order mark, as Windows editors save text); false
// at the end of input, which every later question then meets as well.
bool ReadAnswer(std::string* line) {
    line->clear();
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
    if (c == EOF && (line->empty() || std::ferror(stdin))) return false;
    if (!line->empty() && line->back() == '\r') line->pop_back();
    if (!g_scriptStarted && line->rfind("\xEF\xBB\xBF", 0) == 0) line->erase(0, 3);
    g_scriptStarted = true;
    return true;
}

PathKind ProbePath(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return PathKind::Missing;
    if (S_ISREG(st.st_mode)) return PathKind::Regular;
    if (S_ISDIR(st.st_mode)) return PathKind::Directory;
    return PathKind::Other;
}

const std::string& DialogFolder() {
    if (g_dialogFolder.empty()) {
        char buffer[PATH_MAX];
        g_dialogFolder = getcwd(buffer, sizeof buffer) != nullptr ? buffer : "/";
    }
    return g_dialogFolder;
}

// A Save into a folder that does not exist fails later; it leaves the
// dialogs where they were.
void FollowChosenPath(const std::string& path) {
    const std::string folder = FolderOf(path);
    if (ProbePath(folder) == PathKind::Directory) g_dialogFolder = folder;
}

bool AskInScript(const DialogQuery& query, const std::string& heading, std::string* path) {
    const std::string ask =
        query.Proposed.empty() ? std::string("File name: ") : "File name [" + query.Proposed + "]: ";
    Prompt(heading + "\nIn " + query.Folder + "\n" + ask);
    std::string line;
    if (!ReadAnswer(&line)) return false;
    const DialogOutcome outcome = JudgeDialogAnswer(line, query, ProbePath);
    if (outcome.Step == DialogStep::Refuse) Prompt("\n" + outcome.Note + "\n");
    if (outcome.Step != DialogStep::Accept) return false;
    *path = outcome.Path;
    return true;
}

bool AskAtTerminal(DialogQuery query, const FileDialog& dialog, const std::string& heading, std::string* path) {
    // The proposed name stands in the edited line; an emptied line cancels.
    const std::string prefill = query.Proposed;
    query.Proposed.clear();
    Prompt(terminal::Heading(heading) + "\nIn " + query.Folder + "\n");
    terminal::SetCompletion(query.Folder, query.Home, dialog.FilterPattern);
    for (std::string line = prefill;;) {
        if (!terminal::ReadFileName(line, &line)) return false;
        const DialogOutcome outcome = JudgeDialogAnswer(line, query, ProbePath);
        if (outcome.Step == DialogStep::Cancel) return false;
        if (outcome.Step == DialogStep::Refuse) {
            terminal::Note(outcome.Note);
            continue;
        }
        if (outcome.Step == DialogStep::ConfirmReplace) {
            const Answer answer = terminal::AskReplace(outcome.Path);
            if (answer == Answer::Cancel) return false;
            if (answer == Answer::No) continue;
        }
        terminal::RememberPath(outcome.Path);
        *path = outcome.Path;
        return true;
    }
}

bool RunFileDialog(FileDialog& dialog, bool save) {
    const bool interactive = terminal::IsInteractive();
    DialogQuery query{};
    query.Save = save;
    query.MustExist = (dialog.Flags & kOfnFileMustExist) != 0;
    query.OverwritePrompt = (dialog.Flags & kOfnOverwritePrompt) != 0;
    query.CanConfirm = interactive;
    query.DefaultExt = dialog.DefaultExt;
    query.Patterns = dialog.FilterPattern;
    query.Proposed = std::string(dialog.FileBuffer, strnlen(dialog.FileBuffer, dialog.FileBufferSize));
    query.Folder = DialogFolder();
    const char* home = std::getenv("HOME");
    query.Home = home != nullptr ? home : "";
    query.BufferSize = dialog.FileBufferSize;

    const std::string heading =
        std::string(dialog.Title) + " (" + dialog.FilterText + ": " + dialog.FilterPattern + ")";
    std::string path;
    const bool chosen = interactive ? AskAtTerminal(query, dialog, heading, &path) : AskInScript(query, heading, &path);
    if (!chosen) return false;
    std::memcpy(dialog.FileBuffer, path.c_str(), path.size() + 1);
    FollowChosenPath(path);
    return true;
}

}  // namespace

bool GetOpenFileName(FileDialog& dialog) { return RunFileDialog(dialog, false); }
bool GetSaveFileName(FileDialog& dialog) { return RunFileDialog(dialog, true); }

Answer MessageBoxYesNoCancel(const char* text, const char* caption) {
    if (terminal::IsInteractive()) return terminal::AskYesNoCancel(caption, text);
    Prompt(std::string("\n") + caption + "\n" + text + "\n[Y]es, [N]o, [C]ancel (default Yes): ");
    std::string line;
    if (!ReadAnswer(&line)) return Answer::Cancel;  // as when the box is closed
    if (const std::optional<Answer> answer = JudgeMessageBoxAnswer(line)) return *answer;
    Prompt("\nNot an answer: \"" + line + "\"; skipped (answer y, n or c)\n");
    return Answer::Cancel;
}

}  // namespace platform
