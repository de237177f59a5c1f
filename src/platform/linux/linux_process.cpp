// Console output and fatal runtime errors on POSIX.
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/console_frame.h"
#include "platform/linux/terminal.h"
#include "platform/platform.h"
#include "platform/runtime_report.h"

namespace platform {
namespace {

bool g_utf8Console = false;
constexpr int kMaxFrames = report::kMaxFrames;
alignas(16) unsigned char g_altStack[64 * 1024];

// Raw write that reports failure instead of raising anything.
bool WriteAll(int fd, const char* bytes, std::size_t n) {
    while (n > 0) {
        const ssize_t w = write(fd, bytes, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Load-relative, so the same fault shows the same address in every run and
// can be looked up with addr2line.
std::uint32_t RelativeAddress(const void* address) {
    Dl_info info{};
    auto value = reinterpret_cast<std::uintptr_t>(address);
    if (dladdr(address, &info) != 0 && info.dli_fbase != nullptr)
        value -= reinterpret_cast<std::uintptr_t>(info.dli_fbase);
    return static_cast<std::uint32_t>(value);
}

[[noreturn]] void Report(int code, const void* address, void* const* frames, int frameCount) {
    terminal::Restore();
    char text[report::kMaxLength];
    const int limit = isatty(STDOUT_FILENO) ? report::kScreenFrames : kMaxFrames;
    WriteAll(STDOUT_FILENO, text, report::Describe(text, code, address, frames, frameCount, limit, RelativeAddress));
    _exit(code);
}

// The trace starts behind the failing address: the frames of the reporting
// code (and a signal trampoline) are dropped.
[[noreturn]] void ReportWithTrace(int code, const void* address, int fallbackFirst) {
    void* frames[kMaxFrames];
    const int count = backtrace(frames, kMaxFrames);
    int first = fallbackFirst < count ? fallbackFirst : count;
    for (int i = 0; i < count; ++i) {
        if (frames[i] == address) {
            first = i + 1;
            break;
        }
    }
    Report(code, address, frames + first, count - first);
}

bool IsStackOverflow(const siginfo_t* info, const ucontext_t* context) {
#if defined(__x86_64__)
    const auto sp = static_cast<std::uintptr_t>(context->uc_mcontext.gregs[REG_RSP]);
#elif defined(__aarch64__)
    const auto sp = static_cast<std::uintptr_t>(context->uc_mcontext.sp);
#else
    const std::uintptr_t sp = 0;
#endif
    const auto fault = reinterpret_cast<std::uintptr_t>(info->si_addr);
    // A guard-page hit lies at or just below the stack pointer.
    return sp != 0 && fault <= sp + 4096 && fault + (std::uintptr_t{256} << 10) >= sp;
}

const void* FaultingInstruction(const siginfo_t* info, const ucontext_t* context) {
#if defined(__x86_64__)
    (void)info;
    return reinterpret_cast<const void*>(context->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    (void)info;
    return reinterpret_cast<const void*>(context->uc_mcontext.pc);
#else
    (void)context;
    return info->si_addr;
#endif
}

void OnFault(int signal, siginfo_t* info, void* rawContext) {
    const auto* context = static_cast<const ucontext_t*>(rawContext);
    int code = 217;
    if (signal == SIGFPE) code = 200;
    if (signal == SIGSEGV || signal == SIGBUS) code = IsStackOverflow(info, context) ? 202 : 216;
    const void* pc = FaultingInstruction(info, context);

    ReportWithTrace(code, pc, 0);
}

// An interrupt puts the terminal back, then ends the run as the signal
// would have. While map data moves the signals are blocked (HoldInterrupts),
// so this runs only once the move is complete.
void OnInterrupt(int number) {
    terminal::Restore();
    std::signal(number, SIG_DFL);
    raise(number);  // delivered as the handler returns
}

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t InterruptSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kInterrupts) sigaddset(&set, s);
    return set;
}

// A standard stream that the caller closed (velmarsh 2>&-) leaves its number
// free, and the next open() would take it: the world file would then receive
// the prompts. /dev/null fills the gap, opened for the other direction, so
// reads or writes on that stream still fail as they did while it was closed.
void FillClosedStandardStreams() {
    const int otherDirection[] = {O_WRONLY, O_RDONLY, O_RDONLY};
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) open("/dev/null", otherDirection[fd]);
}

}  // namespace

void InitProcess() {
    FillClosedStandardStreams();  // before anything else opens a file
    std::setlocale(LC_CTYPE, "");
    terminal::StartDialogs();
    const char* codeset = nl_langinfo(CODESET);
    g_utf8Console = codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;

    // A closed pipe and a file-size limit become failed writes that the tool
    // reports, instead of signals that kill it.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);

    // backtrace() loads its unwinder lazily; do it now, not inside a handler.
    void* warmUp[1];
    backtrace(warmUp, 1);

    stack_t alt{};
    alt.ss_sp = g_altStack;
    alt.ss_size = sizeof g_altStack;
    sigaltstack(&alt, nullptr);
    struct sigaction action {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGFPE, SIGSEGV, SIGBUS, SIGILL}) sigaction(s, &action, nullptr);

    // An interrupt that the starting shell ignores (a background job) stays ignored.
    struct sigaction interrupt {};
    interrupt.sa_handler = OnInterrupt;
    sigemptyset(&interrupt.sa_mask);
    for (int s : kInterrupts) {
        struct sigaction old {};
        sigaction(s, nullptr, &old);
        if (old.sa_handler != SIG_IGN) sigaction(s, &interrupt, nullptr);
    }
}

int FinishRun(int exitCode) { return exitCode; }

void HoldInterrupts() {
    const sigset_t set = InterruptSet();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

void ReleaseInterrupts() {
    const sigset_t set = InterruptSet();
    sigset_t pending;
    if (sigpending(&pending) == 0)
        for (int s : kInterrupts)
            if (sigismember(&pending, s) == 1) {
                SayLine(report::kInterruptedAfterMove);
                break;
            }
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

void ConsoleWrite(std::string_view bytes) {
    if (WriteAll(STDOUT_FILENO, bytes.data(), bytes.size())) return;
    const int code = errno;
    const std::string why = report::kConsoleLost + std::to_string(code) + ": " + std::strerror(code) + ")\n";
    WriteAll(STDERR_FILENO, why.data(), why.size());
    RuntimeError(101, __builtin_return_address(0));
}

void ConsoleWriteText(std::string_view text) { ConsoleWrite(text); }

void ConsoleWriteFrame(std::string_view cp437) {
    ConsoleWrite(g_utf8Console ? FrameAsUtf8(cp437) : std::string(cp437));
}

std::vector<std::string> CommandLine(int argc, char** argv) { return {argv + (argc > 0 ? 1 : 0), argv + argc}; }

void RuntimeError(int code, const void* address) { ReportWithTrace(code, address, 1); }

}  // namespace platform
