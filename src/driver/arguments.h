// The command line: help, the version, a world chosen ahead, or a whole
// export or import given as arguments. The arguments answer the run's
// questions; the run itself is the one that asks them.
#pragma once

#include <string>
#include <vector>

#include "driver/driver.h"
#include "driver/state.h"

enum class RunMode {
    Ask,     // no arguments: every question is asked
    World,   // the world given, the layer questions asked
    Export,  // everything given
    Import,  // everything given
    Help,
    Version,
    Usage,  // the command line cannot be used
};

struct LayerRequest {
    bool Named;
    std::string File;  // empty: the proposed name beside the world
};

struct RunRequest {
    RunMode Mode;
    std::string World;
    LayerRequest Layers[kQuestionCount];  // in the order of the questions, SmallMap first
    bool Replace;
    bool Force;           // import a file that looks like another layer's bitmap all the same
    std::string Problem;  // what is wrong, for Usage
};

// Reads the arguments after the program's name; touches nothing.
RunRequest ReadCommandLine(const std::vector<std::string>& arguments);

// The answers that the questions of the run take for a request.
std::vector<platform::GivenAnswer> AnswersFor(const RunRequest& request);

// The whole process after InitProcess: the help, the version, a usage
// message, or the run answered by the arguments; the exit code.
int RunCommandLine(AppState& state, const std::vector<std::string>& arguments);
