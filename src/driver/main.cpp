#include "driver/arguments.h"
#include "driver/state.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    platform::InitProcess();
    static AppState state{};  // zero at start; too large to want on the stack
    return platform::FinishRun(RunCommandLine(state, platform::CommandLine(argc, argv)));
}
