// Work on a thread of its own.
#include "platform/platform.h"

#include <windows.h>

namespace platform {
namespace {

DWORD WINAPI RunWork(void* work) {
    const Work* w = static_cast<const Work*>(work);
    w->Run(w->Args);
    return 0;
}

}  // namespace

void StartWork(Work& work, void (*run)(void*), void* args) {
    work = {nullptr, run, args};
    const HANDLE thread = ::CreateThread(nullptr, 0, RunWork, &work, 0, nullptr);
    if (thread != nullptr) {
        work.Thread = thread;
        return;
    }
    run(args);
}

void FinishWork(Work& work) {
    if (work.Thread == nullptr) return;
    ::WaitForSingleObject(static_cast<HANDLE>(work.Thread), INFINITE);
    ::CloseHandle(static_cast<HANDLE>(work.Thread));
    work.Thread = nullptr;
}

}  // namespace platform
