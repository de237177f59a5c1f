#include "platform/posix/terminal.h"

#include "platform/posix/dialog_rules.h"

#include <dirent.h>
#include <histedit.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
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

termios g_initialMode;
volatile sig_atomic_t g_haveInitialMode = 0;

// A lone Esc reaches the editor as this otherwise unused control key.
constexpr wchar_t kLoneEscape = 0x1D;
constexpr int kEscapeWaitMs = 40;

EditLine* g_editor = nullptr;
History* g_history = nullptr;

// What Tab completes against: the dialog's folder, home and pattern.
std::string g_completeFolder = ".";
std::string g_completeHome;
std::string g_completePattern = "*";

// A stop (Ctrl-Z) while a question or dialog waits puts the line mode back
// for the shell; the continue takes the reading mode again and has the
// prompt drawn anew. A resize has the edited line laid out again.
termios g_lineMode;
termios g_readMode;
volatile sig_atomic_t g_continued = 0;
volatile sig_atomic_t g_resized = 0;
constexpr int kWakeUp = -3;

void OnStop(int) {
    const int savedErrno = errno;
    // Once the shell has the terminal back (the rest of a pipeline stopped
    // first), its mode is no longer ours to set.
    if (tcgetpgrp(STDIN_FILENO) == getpgrp()) tcsetattr(STDIN_FILENO, TCSANOW, &g_lineMode);
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
    tcsetattr(STDIN_FILENO, TCSANOW, &g_readMode);
    g_continued = 1;
    errno = savedErrno;
}

void OnResize(int) { g_resized = 1; }

// Stops and resizes are ours while one read waits; the previous actions are
// kept in old[2] and put back afterwards. No SA_RESTART: the read returns,
// so that the prompt can be drawn again.
void CatchStops(struct sigaction (&old)[2]) {
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
int ReadByte(int timeoutMs) {
    if (timeoutMs >= 0) {
        pollfd pfd{STDIN_FILENO, POLLIN, 0};
        if (poll(&pfd, 1, timeoutMs) <= 0) return -2;
    }
    unsigned char c = 0;
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n == 1) return c;
        if (n < 0 && errno == EINTR) {
            if (g_continued || g_resized) return kWakeUp;
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

// Whether g_readMode holds the editor's mode yet: the editor sets it as
// el_gets starts, and keeps it for the whole line.
bool g_haveEditorMode = false;

// The next byte for the editor; after a stop or a resize the line is drawn
// again first.
int ReadEditorByte(EditLine* editor) {
    if (!g_haveEditorMode) g_haveEditorMode = tcgetattr(STDIN_FILENO, &g_readMode) == 0;
    for (;;) {
        const int c = ReadByte(-1);
        if (c != kWakeUp) return c;
        if (g_resized) {
            g_resized = 0;
            el_resize(editor);
        }
        if (g_continued) {
            g_continued = 0;
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
    std::mbstate_t state{};
    wchar_t wide = 0;
    *out = std::mbrtowc(&wide, bytes, static_cast<std::size_t>(length), &state) > 0 ? wide : L'?';
    return 1;
}

unsigned char CancelDialog(EditLine*, int) { return CC_EOF; }

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Tab completes the file or folder name before the cursor; the whole line is
// one path, spaces and all, relative to the dialog's folder. Folders (with
// their slash) and the files that fit the dialog's pattern are offered. When
// the names share nothing more, a second Tab lists them.
unsigned char CompleteFileName(EditLine* editor, int) {
    static std::string lastAsked;
    const LineInfo* info = el_line(editor);
    const std::string typed(info->buffer, static_cast<std::size_t>(info->cursor - info->buffer));
    const std::size_t slash = typed.rfind('/');
    const std::string shownFolder = slash == std::string::npos ? "" : typed.substr(0, slash + 1);
    const std::string prefix = typed.substr(shownFolder.size());
    const std::string folder = MakeAbsolute(shownFolder, g_completeFolder, g_completeHome);

    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || name.compare(0, prefix.size(), prefix) != 0) continue;
            if (name[0] == '.' && (prefix.empty() || prefix[0] != '.')) continue;
            if (IsFolder(folder + "/" + name))
                names.push_back(name + "/");
            else if (MatchesPattern(name, g_completePattern))
                names.push_back(name);
        }
        closedir(dir);
    }
    if (names.empty()) return CC_REFRESH_BEEP;
    std::sort(names.begin(), names.end());

    std::string common = names.front();
    for (const std::string& name : names) {
        std::size_t n = 0;
        while (n < common.size() && n < name.size() && common[n] == name[n]) ++n;
        common.resize(n);
    }
    if (names.size() > 1 && !common.empty() && common.back() == '/') common.pop_back();
    if (common.size() > prefix.size()) {
        el_insertstr(editor, common.substr(prefix.size()).c_str());
        // Still more than one: the next Tab lists them.
        lastAsked = names.size() > 1 ? shownFolder + common : "";
        return CC_REFRESH;
    }
    if (names.size() == 1 || lastAsked != typed) {
        lastAsked = typed;
        return CC_REFRESH_BEEP;
    }
    std::string list = "\n";
    for (const std::string& name : names) list += name + "  ";
    std::fprintf(stderr, "%s\n", list.c_str());
    return CC_REDISPLAY;
}

const char* Prompt(EditLine*) {
    static const std::string plain = "File name: ";
    static const std::string coloured = "\1\033[1m\1File name:\1\033[0m\1 ";
    return UseColour() ? coloured.c_str() : plain.c_str();
}

EditLine* Editor() {
    if (g_editor != nullptr) return g_editor;
    g_editor = el_init("velmarsh", stdin, stderr, stderr);
    g_history = history_init();
    HistEvent event;
    history(g_history, &event, H_SETSIZE, 100);
    el_set(g_editor, EL_HIST, history, g_history);
    el_set(g_editor, EL_EDITOR, "emacs");
    // Signals are ours: an interrupt puts the terminal back (InitProcess), a
    // stop and continue redraws the line (ReadEditorByte).
    el_set(g_editor, EL_SIGNAL, 0);
    el_set(g_editor, EL_PROMPT_ESC, Prompt, '\1');
    el_set(g_editor, EL_GETCFN, ReadEditorChar);
    el_set(g_editor, EL_ADDFN, "velmarsh-complete", "Complete a file or folder name", CompleteFileName);
    el_set(g_editor, EL_ADDFN, "velmarsh-cancel", "Cancel the dialog", CancelDialog);
    el_set(g_editor, EL_BIND, "^I", "velmarsh-complete", nullptr);
    el_set(g_editor, EL_BIND, "^D", "velmarsh-cancel", nullptr);
    el_set(g_editor, EL_BIND, "^]", "velmarsh-cancel", nullptr);
    el_set(g_editor, EL_BIND, "^U", "vi-kill-line-prev", nullptr);
    el_set(g_editor, EL_BIND, "^W", "ed-delete-prev-word", nullptr);
    for (const char* home : {"\033[H", "\033OH", "\033[1~", "\033[7~"})
        el_set(g_editor, EL_BIND, home, "ed-move-to-beg", nullptr);
    for (const char* end : {"\033[F", "\033OF", "\033[4~", "\033[8~"})
        el_set(g_editor, EL_BIND, end, "ed-move-to-end", nullptr);
    std::atexit([] {
        el_end(g_editor);
        history_end(g_history);
    });
    return g_editor;
}

// One key, read with the terminal in single-key mode; kWakeUp when a stop
// and continue came first. An interrupt meanwhile puts the terminal back
// before the process goes (the handlers of InitProcess).
int ReadKey() {
    if (tcgetattr(STDIN_FILENO, &g_lineMode) != 0) return -1;
    g_readMode = g_lineMode;
    g_readMode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    g_readMode.c_cc[VMIN] = 1;
    g_readMode.c_cc[VTIME] = 0;
    g_continued = 0;
    struct sigaction old[2];
    CatchStops(old);
    tcsetattr(STDIN_FILENO, TCSANOW, &g_readMode);
    int key = ReadByte(-1);
    for (; key == kWakeUp && !g_continued; key = ReadByte(-1)) g_resized = 0;  // nothing to redraw
    g_continued = 0;
    if (key == 0x1B && !IsLoneEscape()) {
        while (ReadByte(kEscapeWaitMs) >= 0) {}
        key = 0;  // a cursor or function key: not an answer
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &g_lineMode);
    ReleaseStops(old);
    return key;
}

void Say(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

// The next key for a question whose prompt is out; after a stop and continue
// the prompt is drawn again on a line of its own.
int ReadAnswerKey(const std::string& prompt) {
    for (;;) {
        const int key = ReadKey();
        if (key != kWakeUp) return key;
        Say("\n" + prompt);
    }
}

}  // namespace

bool IsInteractive() { return isatty(STDIN_FILENO) != 0; }

void SaveInitialMode() {
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &g_initialMode) == 0) g_haveInitialMode = 1;
}

void Restore() {
    if (g_haveInitialMode) tcsetattr(STDIN_FILENO, TCSANOW, &g_initialMode);
}

std::string Heading(const std::string& text) { return UseColour() ? "\033[1;36m" + text + "\033[0m" : text; }

void Note(const std::string& text) { Say((UseColour() ? "\033[33m" + text + "\033[0m" : text) + "\n"); }

void SetCompletion(const std::string& folder, const std::string& home, const std::string& pattern) {
    g_completeFolder = folder;
    g_completeHome = home;
    g_completePattern = pattern;
}

bool ReadFileName(const std::string& prefill, std::string* line) {
    EditLine* editor = Editor();
    el_reset(editor);
    if (!prefill.empty()) el_push(editor, prefill.c_str());
    int count = 0;
    tcgetattr(STDIN_FILENO, &g_lineMode);
    g_readMode = g_lineMode;  // until the editor's first read takes its own
    g_haveEditorMode = false;
    g_continued = 0;
    g_resized = 0;
    struct sigaction old[2];
    CatchStops(old);
    const char* text = el_gets(editor, &count);
    ReleaseStops(old);
    if (text == nullptr || count <= 0) {
        Say("\n");
        return false;
    }
    line->assign(text, static_cast<std::size_t>(count));
    while (!line->empty() && (line->back() == '\n' || line->back() == '\r')) line->pop_back();
    return true;
}

void RememberPath(const std::string& path) {
    HistEvent event;
    if (g_history != nullptr) history(g_history, &event, H_ENTER, path.c_str());
}

Answer AskYesNoCancel(const std::string& caption, const std::string& text) {
    Say("\n" + Heading(caption) + "\n" + text + "\n");
    const std::string prompt =
        UseColour() ? "\033[1m[Y]es, [N]o, [C]ancel\033[0m (default Yes): " : "[Y]es, [N]o, [C]ancel (default Yes): ";
    Say(prompt);
    for (;;) {
        const int key = ReadAnswerKey(prompt);
        Answer answer;
        if (key == 'y' || key == 'Y' || key == '\r' || key == '\n')
            answer = Answer::Yes;
        else if (key == 'n' || key == 'N')
            answer = Answer::No;
        else if (key == 'c' || key == 'C' || key == 0x1B || key == 0x04 || key < 0)
            answer = Answer::Cancel;
        else
            continue;
        Say(answer == Answer::Yes ? "Yes\n" : answer == Answer::No ? "No\n" : "Cancel\n");
        return answer;
    }
}

Answer AskReplace(const std::string& path) {
    const std::string prompt = path + " already exists. Replace it? [y/N]: ";
    Say(prompt);
    const int key = ReadAnswerKey(prompt);
    if (key == 'y' || key == 'Y') {
        Say("Yes\n");
        return Answer::Yes;
    }
    if (key == 0x1B || key == 0x04 || key < 0) {
        Say("Cancel\n");
        return Answer::Cancel;
    }
    Say("No\n");  // any other answer: choose another name
    return Answer::No;
}

}  // namespace platform::terminal
