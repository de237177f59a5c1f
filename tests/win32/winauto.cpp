// Answers the tool's dialogs and message boxes under Wine, step by step, as a
// person would: the test's stand-in for standard input on Windows. It can
// also start the tool in a console and play the person at that console.
//
//   winauto SCRIPT             answer the dialogs of a tool started elsewhere
//   winauto --console SCRIPT   the same from a console of winauto's own, in
//                              which a "start" step starts the tool
//
// Each line of SCRIPT is a step, its fields separated by tabs:
//   box     CAPTION  yes|no|cancel   a message box: press that button
//   file    CAPTION  PATH            a file dialog: type PATH (UTF-8), press OK
//   accept  CAPTION                  a file dialog: press OK on its proposal
//   cancel  CAPTION                  a file dialog: press Cancel
//   front   CAPTION                  a dialog or box is in front, owned by the
//                                    tool's console window, and stays in front
//                                    when the console is brought forward (as a
//                                    click on it does); it is left open
//   start   alone|shared  CODEPAGE  COMMAND
//                                    start the tool in a console of its own,
//                                    or in winauto's (CODEPAGE 0: as it is)
//   screen  TEXT                     wait until the tool's console shows TEXT
//   ctrl-c                           press Ctrl-C in the tool's console
//   title   [TEXT]                   the tool's console has the title TEXT;
//                                    without TEXT, the title that winauto's
//                                    console had before the start
//   width   [COLUMNS]                the tool's console is at least COLUMNS
//                                    wide; without COLUMNS, as wide as
//                                    winauto's console was before the start
//   waiting TEXT                     the tool (alone) still runs and shows
//                                    TEXT; press Enter in its console
//   save    FILE                     the console's text, UTF-8, to FILE
//   exit    CODE                     the tool ends with CODE (0x... allowed)
// A step waits for its window or text (60 s at most), acts, and waits for it
// to go.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kFileNameCombo = 0x47C;  // cmb13
constexpr int kFileNameEdit = 0x480;   // edt1
constexpr DWORD kStepTimeoutMs = 60000;

PROCESS_INFORMATION g_tool{};
bool g_toolAlone = false;
std::wstring g_titleBefore;
SHORT g_widthBefore = 0;

struct Search {
    std::string Caption;
    int NeedControl;  // a control id the window must have, or 0 for a file name box
    HWND Found;
};

constexpr int kAnyWindow = -1;

HWND FileNameControl(HWND dialog) {
    for (int id : {kFileNameCombo, kFileNameEdit})
        if (HWND control = GetDlgItem(dialog, id)) return control;
    return nullptr;
}

BOOL CALLBACK Visit(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    char caption[512] = {};
    GetWindowTextA(window, caption, sizeof caption);
    if (!IsWindowVisible(window) || search->Caption != caption) return TRUE;
    const bool fits = search->NeedControl == kAnyWindow ? true
                      : search->NeedControl != 0        ? GetDlgItem(window, search->NeedControl) != nullptr
                                                        : FileNameControl(window) != nullptr;
    if (!fits) return TRUE;
    search->Found = window;
    return FALSE;
}

HWND WaitForWindow(const std::string& caption, int needControl) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kStepTimeoutMs) {
        Search search{caption, needControl, nullptr};
        EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
        if (search.Found != nullptr) return search.Found;
        Sleep(50);
    }
    return nullptr;
}

void WaitGone(HWND window, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window) && GetTickCount() - start < timeoutMs) Sleep(50);
}

void Press(HWND window, int id) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

HANDLE OpenConsoleOutput() {
    return CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

// The attached console's text, one line per row, blanks at the ends of rows
// taken off, as UTF-8.
std::string ConsoleText() {
    HANDLE output = OpenConsoleOutput();
    CONSOLE_SCREEN_BUFFER_INFO info{};
    std::string text;
    if (output == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(output, &info)) return text;
    std::vector<wchar_t> row(info.dwSize.X);
    for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
        DWORD got = 0;
        ReadConsoleOutputCharacterW(output, row.data(), info.dwSize.X, COORD{0, y}, &got);
        while (got > 0 && row[got - 1] == L' ') --got;
        char bytes[4096];
        const int n =
            WideCharToMultiByte(CP_UTF8, 0, row.data(), static_cast<int>(got), bytes, sizeof bytes, nullptr, nullptr);
        text.append(bytes, n > 0 ? n : 0);
        text += '\n';
    }
    CloseHandle(output);
    return text;
}

// The tool's console: winauto's own when they share it; otherwise attached
// for the moment of the look.
template <typename Look>
bool WithToolConsole(Look look) {
    if (!g_toolAlone) return look();
    FreeConsole();
    if (!AttachConsole(g_tool.dwProcessId)) return false;
    const bool result = look();
    FreeConsole();
    return result;
}

std::wstring Wide(const std::string& utf8) {
    std::wstring wide(utf8.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(n > 0 ? n - 1 : 0);
    return wide;
}

// The columns of the attached console's screen buffer.
SHORT ConsoleWidth() {
    HANDLE output = OpenConsoleOutput();
    CONSOLE_SCREEN_BUFFER_INFO info{};
    const bool known = output != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(output, &info);
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    return known ? info.dwSize.X : 0;
}

std::wstring ConsoleTitle() {
    wchar_t title[1024] = {};
    GetConsoleTitleW(title, 1024);
    return title;
}

template <typename Check>
bool WaitFor(Check check) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kStepTimeoutMs) {
        if (check()) return true;
        Sleep(50);
    }
    return false;
}

bool Above(HWND window, HWND other) {
    for (HWND h = GetTopWindow(nullptr); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
        if (h == window) return true;
        if (h == other) return false;
    }
    return false;
}

bool InFront(const std::string& caption) {
    HWND window = WaitForWindow(caption, kAnyWindow);
    HWND console = nullptr;
    WithToolConsole([&] { return (console = GetConsoleWindow()) != nullptr; });
    if (window == nullptr || console == nullptr) return false;
    if (GetWindow(window, GW_OWNER) != console) {
        std::fprintf(stderr, "winauto: %s is not owned by the console\n", caption.c_str());
        return false;
    }
    if (!WaitFor([&] { return GetForegroundWindow() == window; })) {
        std::fprintf(stderr, "winauto: %s did not come to the front\n", caption.c_str());
        return false;
    }
    SetForegroundWindow(console);
    Sleep(200);
    if (Above(window, console)) return true;
    std::fprintf(stderr, "winauto: %s went behind the console\n", caption.c_str());
    return false;
}

bool WaitForText(const std::string& text) {
    return WaitFor([&] { return WithToolConsole([&] { return ConsoleText().find(text) != std::string::npos; }); });
}

bool PressEnterInConsole() {
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    INPUT_RECORD keys[2]{};
    for (int i = 0; i < 2; ++i) {
        keys[i].EventType = KEY_EVENT;
        keys[i].Event.KeyEvent.bKeyDown = i == 0;
        keys[i].Event.KeyEvent.wRepeatCount = 1;
        keys[i].Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
        keys[i].Event.KeyEvent.uChar.AsciiChar = '\r';
    }
    DWORD written = 0;
    const bool ok = input != INVALID_HANDLE_VALUE && WriteConsoleInputA(input, keys, 2, &written) && written == 2;
    CloseHandle(input);
    return ok;
}

bool Start(const std::vector<std::string>& f) {
    g_toolAlone = f[1] == "alone";
    const UINT codePage = static_cast<UINT>(std::strtoul(f[2].c_str(), nullptr, 0));
    if (codePage != 0 && !SetConsoleOutputCP(codePage)) return false;
    g_titleBefore = ConsoleTitle();
    g_widthBefore = ConsoleWidth();
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string command = f[3];
    return CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, g_toolAlone ? CREATE_NEW_CONSOLE : 0,
                          nullptr, nullptr, &startup, &g_tool) != 0;
}

bool Step(const std::vector<std::string>& f) {
    const std::string& verb = f[0];
    if (verb == "box" && f.size() == 3) {
        const int id = f[2] == "yes" ? IDYES : f[2] == "no" ? IDNO : IDCANCEL;
        HWND box = WaitForWindow(f[1], IDCANCEL);
        if (box == nullptr) return false;
        Sleep(100);
        Press(box, id);
        WaitGone(box, kStepTimeoutMs);
        return true;
    }
    if ((verb == "file" && f.size() == 3) || ((verb == "cancel" || verb == "accept") && f.size() == 2)) {
        HWND dialog = WaitForWindow(f[1], 0);
        if (dialog == nullptr) return false;
        Sleep(200);
        if (verb == "file") {
            const std::wstring path = Wide(f[2]);
            SendMessageW(FileNameControl(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
        }
        Press(dialog, verb == "cancel" ? IDCANCEL : IDOK);
        WaitGone(dialog, 2000);
        return true;
    }
    if (verb == "start" && f.size() == 4) return Start(f);
    if (verb == "front" && f.size() == 2) return InFront(f[1]);
    if (verb == "screen" && f.size() == 2) return WaitForText(f[1]);
    if (verb == "title" && f.size() <= 2) {
        const std::wstring title = f.size() == 2 ? Wide(f[1]) : g_titleBefore;
        return WaitFor([&] { return WithToolConsole([&] { return ConsoleTitle() == title; }); });
    }
    if (verb == "width" && f.size() <= 2) {
        const long least = f.size() == 2 ? std::strtol(f[1].c_str(), nullptr, 10) : g_widthBefore;
        SHORT width = 0;
        const bool fits = WaitFor([&] {
            return WithToolConsole(
                [&] { return (width = ConsoleWidth()) >= least && (f.size() == 2 || width == least); });
        });
        if (!fits) std::fprintf(stderr, "winauto: the console is %d columns wide\n", width);
        return fits;
    }
    if (verb == "ctrl-c" && f.size() == 1) {
        SetConsoleCtrlHandler(nullptr, TRUE);  // for the tool, not for winauto
        return WithToolConsole([] { return GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0; });
    }
    if (verb == "waiting" && f.size() == 2) {
        if (!WaitForText(f[1]) || WaitForSingleObject(g_tool.hProcess, 500) != WAIT_TIMEOUT) return false;
        return WithToolConsole(PressEnterInConsole);
    }
    if (verb == "save" && f.size() == 2) {
        std::string text;
        WithToolConsole([&] {
            text = ConsoleText();
            return true;
        });
        std::ofstream(f[1], std::ios::binary) << text;
        return true;
    }
    if (verb == "exit" && f.size() == 2) {
        if (WaitForSingleObject(g_tool.hProcess, kStepTimeoutMs) != WAIT_OBJECT_0) return false;
        DWORD code = 0;
        GetExitCodeProcess(g_tool.hProcess, &code);
        if (code == std::strtoul(f[1].c_str(), nullptr, 0)) return true;
        std::fprintf(stderr, "winauto: exit code 0x%lX\n", code);
        return false;
    }
    return false;
}

// A console of winauto's own, for a tool that shares it: winauto starts
// again in a new console and waits for that copy.
int InNewConsole(const char* script) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --in-console \"" + script + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION copy{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                        &startup, &copy))
        return 3;
    WaitForSingleObject(copy.hProcess, INFINITE);
    DWORD code = 3;
    GetExitCodeProcess(copy.hProcess, &code);
    return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--console") == 0) return InNewConsole(argv[2]);
    if (argc != 2 && !(argc == 3 && std::strcmp(argv[1], "--in-console") == 0)) {
        std::fprintf(stderr, "usage: winauto [--console] SCRIPT\n");
        return 2;
    }
    std::ifstream script(argv[argc - 1]);
    std::string line;
    int number = 0;
    while (std::getline(script, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (!Step(Fields(line))) {
            // Also beside the script: a copy in a console of its own has no
            // standard error that the test reads.
            std::fprintf(stderr, "winauto: step %d failed: %s\n", number, line.c_str());
            if (std::FILE* log = std::fopen((std::string(argv[argc - 1]) + ".failed").c_str(), "w")) {
                std::fprintf(log, "step %d failed: %s\n", number, line.c_str());
                std::fclose(log);
            }
            if (g_tool.hProcess != nullptr) TerminateProcess(g_tool.hProcess, 1);
            return 1;
        }
    }
    return 0;
}
