// Drives the fatal paths of the platform layer: faults, allocation limits and
// a failed console write, each named by the first argument.
#include <csignal>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace {

volatile int g_zero = 0;

int Divide(int a) { return a / g_zero; }

#pragma GCC diagnostic ignored "-Winfinite-recursion"
int Recurse(int depth) {
    volatile char pad[1024];
    pad[0] = static_cast<char>(depth);
    return Recurse(depth + 1) + pad[0];
}

}  // namespace

int main(int argc, char** argv) {
    platform::InitProcess();
    if (argc < 2) return 2;
    const char* what = argv[1];
    if (std::strcmp(what, "divide") == 0) return Divide(7);
    if (std::strcmp(what, "stack") == 0) return Recurse(0);
    if (std::strcmp(what, "segv") == 0) {
        volatile int* nowhere = nullptr;
        return *nowhere;
    }
    if (std::strcmp(what, "ill") == 0) __builtin_trap();
    if (std::strcmp(what, "console") == 0) {
        platform::ConsoleWrite("hello\r\n");
        return 0;
    }
    if (std::strcmp(what, "alloc-huge") == 0) platform::AllocateMemory(0x80000000u);
    if (std::strcmp(what, "alloc-none") == 0) platform::AllocateMemory(0x7FFFFFF0u);
    return 3;
}
