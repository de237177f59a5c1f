// Memory whose size comes from the world file, with the runtime errors that
// end the run when it cannot be had. The same on every platform.
#include <cstdlib>

#include "platform/platform.h"

namespace platform {

void* AllocateMemory(std::uint64_t size) {
    if (size >= 0x80000000u) RuntimeError(204, __builtin_return_address(0));
    void* memory = std::calloc(size == 0 ? 1 : size, 1);
    if (memory == nullptr) RuntimeError(203, __builtin_return_address(0));
    return memory;
}

void ReleaseMemory(void* memory) { std::free(memory); }

}  // namespace platform
