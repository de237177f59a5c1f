// Work on a thread of its own.
#include <pthread.h>

#include "platform/platform.h"

namespace platform {
namespace {

void* RunWork(void* work) {
    const Work* w = static_cast<const Work*>(work);
    w->Run(w->Args);
    return nullptr;
}

}  // namespace

void StartWork(Work& work, void (*run)(void*), void* args) {
    work = {nullptr, run, args};
    auto* thread = new pthread_t{};
    if (pthread_create(thread, nullptr, RunWork, &work) == 0) {
        work.Thread = thread;
        return;
    }
    delete thread;
    run(args);
}

void FinishWork(Work& work) {
    if (work.Thread == nullptr) return;
    auto* thread = static_cast<pthread_t*>(work.Thread);
    pthread_join(*thread, nullptr);
    delete thread;
    work.Thread = nullptr;
}

}  // namespace platform
