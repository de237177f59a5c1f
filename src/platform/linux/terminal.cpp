#include "platform/linux/terminal.h"

#include "platform/dialog_rules.h"

#include <dirent.h>
#include <histedit.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace platform::terminal {
namespace {

// The record the signal handlers reach: a stop or resize while a question
// waits, an interrupt or a fault at any time.
TerminalState* volatile g_attached = nullptr;

// A lone Esc reaches the editor as this otherwise unused control key.
constexpr wchar_t kLoneEscape = 0x1D;
constexpr int kEscapeWaitMs = 40;
constexpr int kWakeUp = -3;

void OnStop(int) {
    const int savedErrno = errno;
    TerminalState& state = *g_attached;
    // Once the shell has the terminal back (the rest of a pipeline stopped
    // first), its mode is no longer ours to set.
    if (tcgetpgrp(STDIN_FILENO) == getpgrp()) tcsetattr(STDIN_FILENO, TCSANOW, &state.LineMode);
    struct sigaction stop {};
    struct sigaction ours {};
    stop.sa_handler = SIG_DFL;
    sigaction(SIGTSTP, &stop, &ours);
    sigset_t set, old;
    sigemptyset(&set);
    sigaddset(&set, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &set, &old);
    raise(SIGTSTP);  // stopped here until the shell continues us
    sigprocmask(SIG_SETMASK, &old, nullptr);
    sigaction(SIGTSTP, &ours, nullptr);
    tcsetattr(STDIN_FILENO, TCSANOW, &state.ReadMode);
    state.Continued = 1;
    errno = savedErrno;
}

void OnResize(int) { g_attached->Resized = 1; }

// Stops and resizes are ours while one read waits; the previous actions are
// kept in old[2] and put back afterwards. No SA_RESTART: the read returns,
// so that the prompt can be drawn again.
void CatchStops(TerminalState& state, struct sigaction (&old)[2]) {
    g_attached = &state;
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = OnStop;
    sigaction(SIGTSTP, &action, &old[0]);
    action.sa_handler = OnResize;
    sigaction(SIGWINCH, &action, &old[1]);
}

void ReleaseStops(const struct sigaction (&old)[2]) {
    sigaction(SIGTSTP, &old[0], nullptr);
    sigaction(SIGWINCH, &old[1], nullptr);
}

bool UseColour() { return isatty(STDERR_FILENO) && std::getenv("NO_COLOR") == nullptr; }

// One byte from the terminal, -1 at its end, -2 when the wait ran out, or
// kWakeUp after a stop and continue or a resize.
int ReadByte(const TerminalState& state, int timeoutMs) {
    if (timeoutMs >= 0) {
        pollfd pfd{STDIN_FILENO, POLLIN, 0};
        if (poll(&pfd, 1, timeoutMs) <= 0) return -2;
    }
    unsigned char c = 0;
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n == 1) return c;
        if (n < 0 && errno == EINTR) {
            if (state.Continued || state.Resized) return kWakeUp;
            continue;
        }
        return -1;
    }
}

// Esc alone, or the start of a key's escape sequence? Sequences arrive at
// once; a person's next key does not.
bool IsLoneEscape() {
    pollfd pfd{STDIN_FILENO, POLLIN, 0};
    return poll(&pfd, 1, kEscapeWaitMs) <= 0;
}

TerminalState& StateOf(EditLine* editor) {
    void* state = nullptr;
    el_get(editor, EL_CLIENTDATA, &state);
    return *static_cast<TerminalState*>(state);
}

// The next byte for the editor; after a stop or a resize the line is drawn
// again first. The editor sets its mode as el_gets starts and keeps it for
// the whole line, so the first byte read takes it as the mode to resume in.
int ReadEditorByte(EditLine* editor) {
    TerminalState& state = StateOf(editor);
    if (!state.HaveEditorMode) state.HaveEditorMode = tcgetattr(STDIN_FILENO, &state.ReadMode) == 0;
    for (;;) {
        const int c = ReadByte(state, -1);
        if (c != kWakeUp) return c;
        if (state.Resized) {
            state.Resized = 0;
            el_resize(editor);
        }
        if (state.Continued) {
            state.Continued = 0;
            el_set(editor, EL_REFRESH);
        }
    }
}

int ReadEditorChar(EditLine* editor, wchar_t* out) {
    const int c = ReadEditorByte(editor);
    if (c < 0) return 0;
    if (c == 0x1B && IsLoneEscape()) {
        *out = kLoneEscape;
        return 1;
    }
    if (c < 0x80) {
        *out = static_cast<wchar_t>(c);
        return 1;
    }
    // A UTF-8 sequence: its lead byte says how many bytes follow.
    char bytes[4] = {static_cast<char>(c)};
    const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    for (int i = 1; i < length; ++i) {
        const int next = ReadEditorByte(editor);
        if (next < 0) return 0;
        bytes[i] = static_cast<char>(next);
    }
    std::mbstate_t mb{};
    wchar_t wide = 0;
    *out = std::mbrtowc(&wide, bytes, static_cast<std::size_t>(length), &mb) > 0 ? wide : L'?';
    return 1;
}

unsigned char CancelDialog(EditLine*, int) { return CC_EOF; }

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The entries Tab may offer for prefix: a large folder costs a stat of
// each of those, not of all it holds.
std::vector<FolderEntry> ReadFolder(const std::string& folder, std::string_view prefix) {
    std::vector<FolderEntry> entries;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (MayOfferName(entry->d_name, prefix))
                entries.push_back({entry->d_name, IsFolder(folder + "/" + entry->d_name)});
        closedir(dir);
    }
    return entries;
}

// Tab completes the file or folder name before the cursor, as PlanTab says,
// in the folder that the line names relative to the dialog's folder.
unsigned char CompleteFileName(EditLine* editor, int) {
    TerminalState& state = StateOf(editor);
    const LineInfo* info = el_line(editor);
    const std::string typed(info->buffer, static_cast<std::size_t>(info->cursor - info->buffer));
    const std::string_view typedFolder = TypedFolder(typed);
    const std::string folder =
        MakeAbsolute(std::string(typedFolder), state.CompleteFolder, state.CompleteHome, kPosixPaths);
    const TabPlan plan = PlanTab(typed, ReadFolder(folder, std::string_view(typed).substr(typedFolder.size())),
                                 state.CompletePatterns, state.LastTab);
    state.LastTab = plan.LastTab;
    if (plan.Step == TabStep::Insert) {
        el_insertstr(editor, plan.Insert.c_str());
        return CC_REFRESH;
    }
    if (plan.Step == TabStep::Beep) return CC_REFRESH_BEEP;
    std::string list = "\n";
    for (const std::string& name : plan.Choices) list += name + "  ";
    Say(state, list + "\n");
    return CC_REDISPLAY;
}

const char* Prompt(EditLine*) {
    static const std::string plain = "File name: ";
    static const std::string coloured = "\1\033[1m\1File name:\1\033[0m\1 ";
    return UseColour() ? coloured.c_str() : plain.c_str();
}

EditLine* Editor(TerminalState& state) {
    if (state.Editor != nullptr) return state.Editor;
    EditLine* editor = el_init("velmarsh", stdin, stderr, stderr);
    History* paths = history_init();
    state.Editor = editor;
    state.Paths = paths;
    g_attached = &state;
    std::atexit([] {
        el_end(g_attached->Editor);
        history_end(g_attached->Paths);
    });
    HistEvent event;
    history(paths, &event, H_SETSIZE, 100);
    el_set(editor, EL_CLIENTDATA, &state);
    el_set(editor, EL_HIST, history, paths);
    el_set(editor, EL_EDITOR, "emacs");
    // Signals are ours: an interrupt puts the terminal back (InitProcess), a
    // stop and continue redraws the line (ReadEditorByte).
    el_set(editor, EL_SIGNAL, 0);
    el_set(editor, EL_PROMPT_ESC, Prompt, '\1');
    el_set(editor, EL_GETCFN, ReadEditorChar);
    el_set(editor, EL_ADDFN, "velmarsh-complete", "Complete a file or folder name", CompleteFileName);
    el_set(editor, EL_ADDFN, "velmarsh-cancel", "Cancel the dialog", CancelDialog);
    el_set(editor, EL_BIND, "^I", "velmarsh-complete", nullptr);
    el_set(editor, EL_BIND, "^D", "velmarsh-cancel", nullptr);
    el_set(editor, EL_BIND, "^]", "velmarsh-cancel", nullptr);
    el_set(editor, EL_BIND, "^U", "vi-kill-line-prev", nullptr);
    el_set(editor, EL_BIND, "^W", "ed-delete-prev-word", nullptr);
    for (const char* home : {"\033[H", "\033OH", "\033[1~", "\033[7~"})
        el_set(editor, EL_BIND, home, "ed-move-to-beg", nullptr);
    for (const char* end : {"\033[F", "\033OF", "\033[4~", "\033[8~"})
        el_set(editor, EL_BIND, end, "ed-move-to-end", nullptr);
    return editor;
}

// One key, read with the terminal in single-key mode; kWakeUp when a stop
// and continue came first. An interrupt meanwhile puts the terminal back
// before the process goes (the handlers of InitProcess).
int ReadKey(TerminalState& state) {
    if (tcgetattr(STDIN_FILENO, &state.LineMode) != 0) return -1;
    state.ReadMode = state.LineMode;
    state.ReadMode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    state.ReadMode.c_cc[VMIN] = 1;
    state.ReadMode.c_cc[VTIME] = 0;
    state.Continued = 0;
    struct sigaction old[2];
    CatchStops(state, old);
    tcsetattr(STDIN_FILENO, TCSANOW, &state.ReadMode);
    int key = ReadByte(state, -1);
    for (; key == kWakeUp && !state.Continued; key = ReadByte(state, -1)) state.Resized = 0;  // nothing to redraw
    state.Continued = 0;
    if (key == 0x1B && !IsLoneEscape()) {
        while (ReadByte(state, kEscapeWaitMs) >= 0) {}
        key = 0;  // a cursor or function key: not an answer
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &state.LineMode);
    ReleaseStops(old);
    return key;
}

// The next key for a question whose prompt is out; after a stop and continue
// the prompt is drawn again on a line of its own.
int ReadAnswerKey(TerminalState& state, const std::string& prompt) {
    for (;;) {
        const int key = ReadKey(state);
        if (key != kWakeUp) return key;
        Say(state, "\n" + prompt);
    }
}

}  // namespace

void Attach(TerminalState& state) {
    g_attached = &state;
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &state.InitialMode) == 0) state.HaveInitialMode = 1;
}

void Restore() {
    const TerminalState* state = g_attached;
    if (state != nullptr && state->HaveInitialMode) tcsetattr(STDIN_FILENO, TCSANOW, &state->InitialMode);
}

bool IsInteractive() { return isatty(STDIN_FILENO) != 0; }

void Say(TerminalState& state, const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    if (!text.empty()) state.PromptOpen = text.back() != '\n';
}

void Note(TerminalState& state, const std::string& text) {
    Say(state, (UseColour() ? "\033[33m" + text + "\033[0m" : text) + "\n");
}

std::string Heading(const std::string& text) { return UseColour() ? "\033[1;36m" + text + "\033[0m" : text; }

void SetCompletion(TerminalState& state, const std::string& folder, const std::string& home,
                   const std::string& patterns) {
    state.CompleteFolder = folder;
    state.CompleteHome = home;
    state.CompletePatterns = patterns;
}

bool ReadFileName(TerminalState& state, const std::string& prefill, std::string* line) {
    EditLine* editor = Editor(state);
    el_reset(editor);
    if (!prefill.empty()) el_push(editor, prefill.c_str());
    int count = 0;
    tcgetattr(STDIN_FILENO, &state.LineMode);
    state.ReadMode = state.LineMode;  // until the editor's first read takes its own
    state.HaveEditorMode = false;
    state.Continued = 0;
    state.Resized = 0;
    struct sigaction old[2];
    CatchStops(state, old);
    const char* text = el_gets(editor, &count);
    ReleaseStops(old);
    if (text == nullptr || count <= 0) {
        Say(state, "\n");
        return false;
    }
    line->assign(text, static_cast<std::size_t>(count));
    while (!line->empty() && (line->back() == '\n' || line->back() == '\r')) line->pop_back();
    return true;
}

void RememberPath(TerminalState& state, const std::string& path) {
    HistEvent event;
    if (state.Paths != nullptr) history(state.Paths, &event, H_ENTER, path.c_str());
}

Answer AskYesNoCancel(TerminalState& state, const std::string& caption, const std::string& text) {
    Say(state, "\n" + Heading(caption) + "\n" + text + "\n");
    const std::string prompt =
        UseColour() ? "\033[1m[Y]es, [N]o, [C]ancel\033[0m (default Yes): " : "[Y]es, [N]o, [C]ancel (default Yes): ";
    Say(state, prompt);
    for (;;) {
        const int key = ReadAnswerKey(state, prompt);
        Answer answer;
        if (key == 'y' || key == 'Y' || key == '\r' || key == '\n')
            answer = Answer::Yes;
        else if (key == 'n' || key == 'N')
            answer = Answer::No;
        else if (key == 'c' || key == 'C' || key == 0x1B || key == 0x04 || key < 0)
            answer = Answer::Cancel;
        else
            continue;
        Say(state, answer == Answer::Yes ? "Yes\n" : answer == Answer::No ? "No\n" : "Cancel\n");
        return answer;
    }
}

Answer AskReplace(TerminalState& state, const std::string& path) {
    const std::string prompt = path + " already exists. Replace it? [y/N]: ";
    Say(state, prompt);
    const int key = ReadAnswerKey(state, prompt);
    if (key == 'y' || key == 'Y') {
        Say(state, "Yes\n");
        return Answer::Yes;
    }
    if (key == 0x1B || key == 0x04 || key < 0) {
        Say(state, "Cancel\n");
        return Answer::Cancel;
    }
    Say(state, "No\n");  // any other answer: choose another name
    return Answer::No;
}

}  // namespace platform::terminal
