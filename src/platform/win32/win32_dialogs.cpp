// The common Open and Save dialogs and the message box.
#include "platform/platform.h"

#include <windows.h>
#include <commdlg.h>

#include <string>

// The declarations name the dialogs as the ANSI calls do, without the macros.
#undef GetOpenFileName
#undef GetSaveFileName

namespace platform {
namespace {

OPENFILENAMEA Describe(const FileDialog& dialog, const std::string& filter) {
    OPENFILENAMEA description{};
    description.lStructSize = sizeof description;  // 152 on 64-bit Windows, 76 on 32-bit
    description.hwndOwner = nullptr;
    description.lpstrFilter = filter.c_str();
    description.lpstrFile = dialog.FileBuffer;
    description.nMaxFile = dialog.FileBufferSize;
    description.lpstrTitle = dialog.Title;
    description.lpstrDefExt = dialog.DefaultExt;
    description.Flags = dialog.Flags;
    return description;
}

// One filter entry: its text and its pattern, each ending in a zero byte,
// and one more zero byte after the last.
std::string Filter(const FileDialog& dialog) {
    std::string filter = dialog.FilterText;
    filter += '\0';
    filter += dialog.FilterPattern;
    filter += '\0';
    return filter;
}

}  // namespace

bool GetOpenFileName(FileDialog& dialog) {
    const std::string filter = Filter(dialog);
    OPENFILENAMEA description = Describe(dialog, filter);
    return ::GetOpenFileNameA(&description) != 0;
}

bool GetSaveFileName(FileDialog& dialog) {
    const std::string filter = Filter(dialog);
    OPENFILENAMEA description = Describe(dialog, filter);
    return ::GetSaveFileNameA(&description) != 0;
}

int MessageBoxYesNoCancel(const char* text, const char* caption) {
    switch (::MessageBoxA(nullptr, text, caption, MB_YESNOCANCEL)) {
        case IDYES: return kIdYes;
        case IDNO: return kIdNo;
        default: return kIdCancel;
    }
}

}  // namespace platform
