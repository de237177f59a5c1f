#include "driver/driver.h"
#include "driver/state.h"
#include "platform/platform.h"

int main() {
    platform::InitProcess();
    static AppState state{};  // zero at start; too large to want on the stack
    return platform::FinishRun(RunTool(state));
}
