// Answers the tool's dialogs and message boxes under Wine, step by step, as a
// person would: the test's stand-in for standard input on Windows.
//
//   winauto SCRIPT
//
// Each line of SCRIPT is a step, its fields separated by tabs:
//   box     CAPTION  yes|no|cancel   a message box: press that button
//   file    CAPTION  PATH            a file dialog: type PATH, press OK
//   cancel  CAPTION                  a file dialog: press Cancel
//   replace CAPTION                  the Save dialog's replace question: Yes
// A step waits for its window (30 s at most), acts, and waits for it to go.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kFileNameCombo = 0x47C;  // cmb13
constexpr int kFileNameEdit = 0x480;   // edt1
constexpr DWORD kStepTimeoutMs = 30000;

struct Search {
    std::string Caption;
    int NeedControl;  // a control id the window must have, or 0 for a file name box
    HWND Found;
};

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
    const bool fits = search->NeedControl != 0 ? GetDlgItem(window, search->NeedControl) != nullptr
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
    if ((verb == "file" && f.size() == 3) || (verb == "cancel" && f.size() == 2)) {
        HWND dialog = WaitForWindow(f[1], 0);
        if (dialog == nullptr) return false;
        Sleep(200);
        if (verb == "file") {
            SendMessageA(FileNameControl(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(f[2].c_str()));
            Press(dialog, IDOK);
        } else {
            Press(dialog, IDCANCEL);
        }
        WaitGone(dialog, 2000);  // a replace question may keep it open
        return true;
    }
    if (verb == "replace" && f.size() == 2) {
        HWND box = WaitForWindow(f[1], IDYES);
        if (box == nullptr) return false;
        Sleep(100);
        Press(box, IDYES);
        WaitGone(box, kStepTimeoutMs);
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: winauto SCRIPT\n");
        return 2;
    }
    std::ifstream script(argv[1]);
    std::string line;
    int number = 0;
    while (std::getline(script, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (!Step(Fields(line))) {
            std::fprintf(stderr, "winauto: step %d failed: %s\n", number, line.c_str());
            return 1;
        }
    }
    return 0;
}
