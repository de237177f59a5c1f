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

#include "platform/dialog_rules.h"
#include "platform/given_answers.h"
#include "platform/linux/terminal.h"
#include "platform/platform.h"

namespace platform {
namespace {

// The dialogs' one record: where they start, what a script has said so far,
// and the terminal's modes and line editor.
terminal::TerminalState g_session{};

// One answer line of a script or pipe, without its line end (LF or CR LF,
// and a leading UTF-8 byte-order mark, as Windows editors save text); false
// at the end of input, which every later question then meets as well.
bool ReadAnswer(std::string* line) {
    line->clear();
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
    if (c == EOF && (line->empty() || std::ferror(stdin))) return false;
    if (!line->empty() && line->back() == '\r') line->pop_back();
    if (!g_session.ScriptStarted && line->rfind("\xEF\xBB\xBF", 0) == 0) line->erase(0, 3);
    g_session.ScriptStarted = true;
    return true;
}

PathKind ProbePath(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return PathKind::Missing;
    if (S_ISREG(st.st_mode)) return PathKind::Regular;
    if (S_ISDIR(st.st_mode)) return PathKind::Directory;
    return PathKind::Other;
}

std::string CurrentFolder() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) != nullptr ? buffer : "/";
}

// The folder of the file chosen last in this run; the first dialog starts
// in the current directory. The process's own directory never changes.
const std::string& DialogFolder() {
    if (g_session.DialogFolder.empty()) g_session.DialogFolder = CurrentFolder();
    return g_session.DialogFolder;
}

// A Save into a folder that does not exist fails later; it leaves the
// dialogs where they were.
void FollowChosenPath(const std::string& path) {
    const std::string folder = FolderOf(path, kPosixPaths);
    if (ProbePath(folder) == PathKind::Directory) g_session.DialogFolder = folder;
}

bool AskInScript(const DialogQuery& query, const std::string& heading, std::string* path) {
    const std::string ask =
        query.Proposed.empty() ? std::string("File name: ") : "File name [" + query.Proposed + "]: ";
    terminal::Say(g_session, heading + "\nIn " + query.Folder + "\n" + ask);
    std::string line;
    if (!ReadAnswer(&line)) return false;
    const DialogOutcome outcome = JudgeDialogAnswer(line, query, ProbePath);
    if (outcome.Step == DialogStep::Refuse) terminal::Say(g_session, "\n" + outcome.Note + "\n");
    if (outcome.Step != DialogStep::Accept) return false;
    *path = outcome.Path;
    return true;
}

// A question answered ahead: nothing is asked, and a name that cannot be used
// cancels, as from a script, with its note.
bool TakeGivenPath(GivenAnswers* answers, const GivenAnswer& given, const DialogQuery& query, std::string* path) {
    const DialogOutcome outcome =
        JudgeGivenAnswer(given.Path, query, CurrentFolder(), given::MayReplace(answers), ProbePath);
    if (outcome.Step != DialogStep::Accept) {
        if (outcome.Step == DialogStep::Refuse) SayLine(outcome.Note);
        given::Refused(answers);
        return false;
    }
    *path = outcome.Path;
    return true;
}

bool AskAtTerminal(DialogQuery query, const FileDialog& dialog, const std::string& heading, std::string* path) {
    // The proposed name stands in the edited line; an emptied line cancels.
    const std::string prefill = query.Proposed;
    query.Proposed.clear();
    terminal::Say(g_session, terminal::Heading(heading) + "\nIn " + query.Folder + "\n");
    terminal::SetCompletion(g_session, query.Folder, query.Home, dialog.FilterPattern);
    for (std::string line = prefill;;) {
        if (!terminal::ReadFileName(g_session, line, &line)) return false;
        const DialogOutcome outcome = JudgeDialogAnswer(line, query, ProbePath);
        if (outcome.Step == DialogStep::Cancel) return false;
        if (outcome.Step == DialogStep::Refuse) {
            terminal::Note(g_session, outcome.Note);
            continue;
        }
        if (outcome.Step == DialogStep::ConfirmReplace) {
            const Answer answer = terminal::AskReplace(g_session, outcome.Path);
            if (answer == Answer::Cancel) return false;
            if (answer == Answer::No) continue;
        }
        terminal::RememberPath(g_session, outcome.Path);
        *path = outcome.Path;
        return true;
    }
}

DialogQuery QueryOf(const FileDialog& dialog, bool save, bool interactive) {
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
    return query;
}

bool RunFileDialog(FileDialog& dialog, bool save) {
    const given::Turn turn = given::Next(dialog.Given);
    const bool interactive = terminal::IsInteractive();
    const DialogQuery query = QueryOf(dialog, save, interactive);
    const std::string heading =
        std::string(dialog.Title) + " (" + dialog.FilterText + ": " + dialog.FilterPattern + ")";
    std::string path;
    bool chosen = false;
    if (turn.Answer != nullptr)
        chosen = TakeGivenPath(dialog.Given, *turn.Answer, query, &path);
    else
        chosen = interactive ? AskAtTerminal(query, dialog, heading, &path) : AskInScript(query, heading, &path);
    if (!chosen) return false;
    std::memcpy(dialog.FileBuffer, path.c_str(), path.size() + 1);
    if (turn.Answer == nullptr || turn.First) FollowChosenPath(path);
    if (turn.Answer != nullptr && interactive) terminal::RememberPath(g_session, path);
    return true;
}

}  // namespace

// Beside the prompts, since both write standard error: a line said while a
// prompt is open starts on a line of its own.
void SayLine(std::string_view text) {
    terminal::Say(g_session, (g_session.PromptOpen ? "\n" : "") + std::string(text) + "\n");
}

void terminal::StartDialogs() { terminal::Attach(g_session); }

std::string ResolveGivenPath(const std::string& typed, const FileDialog& dialog) {
    const DialogQuery query = QueryOf(dialog, (dialog.Flags & kOfnOverwritePrompt) != 0, false);
    const DialogOutcome outcome =
        JudgeGivenAnswer(typed, query, CurrentFolder(), given::MayReplace(dialog.Given), ProbePath);
    return outcome.Step == DialogStep::Accept ? outcome.Path : std::string();
}

bool GetOpenFileName(FileDialog& dialog) { return RunFileDialog(dialog, false); }
bool GetSaveFileName(FileDialog& dialog) { return RunFileDialog(dialog, true); }

Answer MessageBoxYesNoCancel(const char* text, const char* caption, GivenAnswers* given) {
    if (const given::Turn turn = given::Next(given); turn.Answer != nullptr) return turn.Answer->Button;
    if (terminal::IsInteractive()) return terminal::AskYesNoCancel(g_session, caption, text);
    terminal::Say(g_session, std::string("\n") + caption + "\n" + text + "\n[Y]es, [N]o, [C]ancel (default Yes): ");
    std::string line;
    if (!ReadAnswer(&line)) return Answer::Cancel;  // as when the box is closed
    if (const std::optional<Answer> answer = JudgeMessageBoxAnswer(line)) return *answer;
    terminal::Say(g_session, "\nNot an answer: \"" + line + "\" (answer y, n or c)\n");
    return Answer::NotAnAnswer;
}

}  // namespace platform
