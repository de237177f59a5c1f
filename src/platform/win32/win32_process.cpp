// Console output and fatal runtime errors on Windows.
#include "platform/console_frame.h"
#include "platform/platform.h"
#include "platform/runtime_report.h"
#include "platform/win32/wide_text.h"

#include <windows.h>

#include <shellapi.h>  // needs windows.h first

#include <string>

namespace platform {
namespace {

constexpr int kMaxFrames = report::kMaxFrames;

bool WriteAll(HANDLE handle, const char* bytes, std::size_t n) {
    while (n > 0) {
        DWORD done = 0;
        if (!::WriteFile(handle, bytes, static_cast<DWORD>(n), &done, nullptr) || done == 0) return false;
        bytes += done;
        n -= done;
    }
    return true;
}

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return ::GetConsoleMode(handle, &mode) != 0;
}

bool WriteConsoleAll(HANDLE handle, std::wstring_view text) {
    while (!text.empty()) {
        DWORD done = 0;
        if (!::WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) || done == 0)
            return false;
        text.remove_prefix(done);
    }
    return true;
}

// UTF-8 text: a console window is given its characters, so that a path shows
// as typed whatever the console's code page; a file or a pipe gets the bytes
// as they stand.
bool WriteText(HANDLE handle, std::string_view utf8) {
    return IsConsole(handle) ? WriteConsoleAll(handle, Utf16(utf8)) : WriteAll(handle, utf8.data(), utf8.size());
}

// Relative to the module the address lies in, so that it can be looked up in
// that module's map whatever address it was loaded at.
std::uint32_t RelativeAddress(const void* address) {
    HMODULE module = nullptr;
    auto value = reinterpret_cast<std::uintptr_t>(address);
    if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             static_cast<LPCWSTR>(address), &module))
        value -= reinterpret_cast<std::uintptr_t>(module);
    return static_cast<std::uint32_t>(value);
}

bool StdoutIsConsole() { return IsConsole(::GetStdHandle(STD_OUTPUT_HANDLE)); }

// A console made for this run alone (a double-click) closes with the run;
// the run then waits for Enter so that its last lines can be read. From a
// command prompt, or with the report redirected, it ends at once. Decided
// at the start, when the console's company is what it was made with.
bool g_ownConsole = false;

// The console's title says "Velmarsh" while the run lasts; a console shared
// with the shell that started the run gets its own title back at the end.
wchar_t g_sharedTitle[1024];
bool g_restoreTitle = false;

void RestoreTitle() {
    if (g_restoreTitle) ::SetConsoleTitleW(g_sharedTitle);
    g_restoreTitle = false;
}

void KeepOwnConsoleOpen() {
    if (!g_ownConsole) return;
    static const char kPrompt[] = "Press Enter to close this window.";
    if (!WriteAll(::GetStdHandle(STD_ERROR_HANDLE), kPrompt, sizeof kPrompt - 1)) return;
    HANDLE input = ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) return;
    ::FlushConsoleInputBuffer(input);
    char line[64];
    DWORD got = 0;
    while (::ReadConsoleA(input, line, sizeof line, &got, nullptr) && got > 0) {
        const std::string_view read(line, got);
        if (read.find('\r') != std::string_view::npos || read.find('\n') != std::string_view::npos) break;
    }
    ::CloseHandle(input);
}

[[noreturn]] void Report(int code, const void* address, void* const* frames, int frameCount) {
    char text[report::kMaxLength];
    const int limit = StdoutIsConsole() ? report::kScreenFrames : kMaxFrames;
    WriteAll(::GetStdHandle(STD_OUTPUT_HANDLE), text,
             report::Describe(text, code, address, frames, frameCount, limit, RelativeAddress));
    KeepOwnConsoleOpen();
    RestoreTitle();
    ::ExitProcess(static_cast<UINT>(code));
}

int CodeOf(DWORD exception) {
    switch (exception) {
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
        case EXCEPTION_FLT_DIVIDE_BY_ZERO: return 200;
        case EXCEPTION_STACK_OVERFLOW: return 202;
        case EXCEPTION_FLT_OVERFLOW: return 205;
        case EXCEPTION_FLT_UNDERFLOW: return 206;
        case EXCEPTION_FLT_INVALID_OPERATION:
        case EXCEPTION_FLT_INEXACT_RESULT:
        case EXCEPTION_FLT_DENORMAL_OPERAND:
        case EXCEPTION_FLT_STACK_CHECK: return 207;
        case EXCEPTION_INT_OVERFLOW: return 215;
        case EXCEPTION_ACCESS_VIOLATION:
        case EXCEPTION_IN_PAGE_ERROR:
        case EXCEPTION_PRIV_INSTRUCTION: return 216;
        default: return 217;
    }
}

// The callers of the faulting code, unwound from the fault's own context.
int UnwindFrom(CONTEXT context, void** frames) {
    int count = 0;
#if defined(_M_X64) || defined(__x86_64__)
    while (count < kMaxFrames) {
        DWORD64 imageBase = 0;
        PRUNTIME_FUNCTION function = ::RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
        if (function == nullptr) {
            context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
            context.Rsp += 8;
        } else {
            void* handlerData = nullptr;
            DWORD64 establisher = 0;
            ::RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData,
                               &establisher, nullptr);
        }
        if (context.Rip == 0) break;
        frames[count++] = reinterpret_cast<void*>(context.Rip);
    }
#else
    (void)context;
    (void)frames;
#endif
    return count;
}

struct Fault {
    CONTEXT Context;
    DWORD Code;
    void* Address;
};

DWORD WINAPI ReportFault(void* data) {
    const auto* fault = static_cast<const Fault*>(data);
    void* frames[kMaxFrames];
    const int count = UnwindFrom(fault->Context, frames);
    Report(CodeOf(fault->Code), fault->Address, frames, count);
}

// The report is made on a thread of its own: after a stack overflow the
// faulting thread has no stack left to make it on.
LONG ReportOnOwnThread(EXCEPTION_POINTERS* info) {
    static Fault fault;
    fault.Context = *info->ContextRecord;
    fault.Code = info->ExceptionRecord->ExceptionCode;
    fault.Address = info->ExceptionRecord->ExceptionAddress;
    HANDLE reporter = ::CreateThread(nullptr, 256 * 1024, ReportFault, &fault, 0, nullptr);
    if (reporter != nullptr) ::WaitForSingleObject(reporter, INFINITE);
    ::ExitProcess(static_cast<UINT>(CodeOf(fault.Code)));
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) { return ReportOnOwnThread(info); }

// A stack overflow may never reach the unhandled-exception filter.
LONG WINAPI OnStackOverflow(EXCEPTION_POINTERS* info) {
    if (info->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) return EXCEPTION_CONTINUE_SEARCH;
    return ReportOnOwnThread(info);
}

// Ctrl-C, Ctrl-Break and closing the console while map data moves wait for
// the move to finish; the lock keeps a late event from slipping between the
// handler's look at the flag and the release.
SRWLOCK g_interruptLock = SRWLOCK_INIT;
bool g_holding = false;
bool g_interrupted = false;
bool g_closing = false;  // the console is going: the run may not wait for Enter
bool g_ending = false;   // the system's handler ends the run: no move may start

BOOL WINAPI OnConsoleControl(DWORD event) {
    const bool key = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    ::AcquireSRWLockExclusive(&g_interruptLock);
    const bool holding = g_holding;
    if (holding) g_interrupted = true;
    if (holding && !key) g_closing = true;
    if (!holding) g_ending = true;
    ::ReleaseSRWLockExclusive(&g_interruptLock);
    if (!holding) {
        if (key) RestoreTitle();
        return FALSE;  // the system's own handler ends the run at once
    }
    if (key) return TRUE;
    // Closing the console (or the session) ends the process when this
    // returns: wait here for ReleaseInterrupts, which ends it itself. The
    // system waits about 5 seconds, then ends the process all the same; an
    // import cut off there is put back by the next run that opens the world.
    for (;;) ::Sleep(INFINITE);
}

// Numbers in the report's longer lines would wrap at the 80 columns of a new
// console window, so a console of the run's own is made this wide.
constexpr SHORT kOwnConsoleColumns = 120;

void WidenOwnConsole() {
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(output, &info) || info.dwSize.X >= kOwnConsoleColumns) return;
    if (!::SetConsoleScreenBufferSize(output, COORD{kOwnConsoleColumns, info.dwSize.Y})) return;
    // The window follows, as far as the screen has room.
    const COORD largest = ::GetLargestConsoleWindowSize(output);
    const SHORT columns = largest.X < kOwnConsoleColumns ? largest.X : kOwnConsoleColumns;
    SMALL_RECT window = info.srWindow;
    if (columns <= window.Right - window.Left + 1) return;
    window.Right = static_cast<SHORT>(window.Left + columns - 1);
    ::SetConsoleWindowInfo(output, TRUE, &window);
}

}  // namespace

void HoldInterrupts() {
    ::AcquireSRWLockExclusive(&g_interruptLock);
    const bool ending = g_ending;
    if (!ending) g_holding = true;
    ::ReleaseSRWLockExclusive(&g_interruptLock);
    // An interrupt that came just before is ending the run on another
    // thread: a move begun now would be cut off in its middle.
    if (ending)
        for (;;) ::Sleep(INFINITE);
}

void ReleaseInterrupts() {
    ::AcquireSRWLockExclusive(&g_interruptLock);
    g_holding = false;
    const bool interrupted = g_interrupted, closing = g_closing;
    ::ReleaseSRWLockExclusive(&g_interruptLock);
    if (!interrupted) return;
    SayLine(report::kInterruptedAfterMove);
    // The move's last line can be read before a window of its own closes; a
    // window being closed waits for nobody.
    if (!closing) KeepOwnConsoleOpen();
    RestoreTitle();
    ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

void InitProcess() {
    // Room for the report after a stack overflow, and no error dialog boxes.
    ULONG guarantee = 64 * 1024;
    ::SetThreadStackGuarantee(&guarantee);
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ::SetUnhandledExceptionFilter(OnUnhandledException);
    ::AddVectoredExceptionHandler(1, OnStackOverflow);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    DWORD processes[2];
    const DWORD sharing = ::GetConsoleProcessList(processes, 2);
    g_ownConsole = sharing == 1 && StdoutIsConsole();
    if (g_ownConsole) WidenOwnConsole();
    g_restoreTitle = sharing > 1 && ::GetConsoleTitleW(g_sharedTitle, sizeof g_sharedTitle / sizeof(wchar_t)) > 0;
    ::SetConsoleTitleW(L"Velmarsh");
}

int FinishRun(int exitCode) {
    KeepOwnConsoleOpen();
    RestoreTitle();
    return exitCode;
}

void ConsoleWrite(std::string_view bytes) {
    if (WriteText(::GetStdHandle(STD_OUTPUT_HANDLE), bytes)) return;
    const std::string why = report::kConsoleLost + std::to_string(::GetLastError()) + ")\r\n";
    WriteAll(::GetStdHandle(STD_ERROR_HANDLE), why.data(), why.size());
    RuntimeError(101, __builtin_return_address(0));
}

void ConsoleWriteText(std::string_view text) {
    std::string lines;
    for (const char c : text) {
        if (c == '\n') lines += '\r';
        lines += c;
    }
    ConsoleWrite(lines);
}

// Files and pipes get the bytes as they stand. A console shows the box as its
// code page shows those bytes, or, set to UTF-8 (chcp 65001), as the
// box-drawing characters.
void ConsoleWriteFrame(std::string_view cp437) {
    if (!StdoutIsConsole()) return ConsoleWrite(cp437);
    const UINT codePage = ::GetConsoleOutputCP();
    if (codePage == CP_UTF8) return ConsoleWrite(FrameAsUtf8(cp437));
    std::wstring text(cp437.size(), L'\0');
    const int length = ::MultiByteToWideChar(codePage, 0, cp437.data(), static_cast<int>(cp437.size()), text.data(),
                                             static_cast<int>(text.size()));
    text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    ConsoleWrite(Utf8(text));
}

void SayLine(std::string_view text) {
    std::string line(text);
    line += "\r\n";
    WriteText(::GetStdHandle(STD_ERROR_HANDLE), line);
}

// The system's own UTF-16 command line, not the C runtime's arguments in the
// ANSI code page, so that a world dropped from any folder arrives whole.
std::vector<std::string> CommandLine(int argc, char** argv) {
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (words == nullptr) return {argv + (argc > 0 ? 1 : 0), argv + argc};
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(Utf8(words[i]));
    ::LocalFree(words);
    return arguments;
}

void RuntimeError(int code, const void* address) {
    void* frames[kMaxFrames];
    const int count = ::CaptureStackBackTrace(2, kMaxFrames, frames, nullptr);
    Report(code, address, frames, count);
}

}  // namespace platform
