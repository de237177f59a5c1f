// Console statements built on ConsoleWrite: every call is one statement and
// reaches the console at once. Lines end with CR LF on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace console {

inline void Print(std::string_view text) { platform::ConsoleWrite(text); }

inline void PrintLine(std::string_view text) {
    std::string line(text);
    line += "\r\n";
    platform::ConsoleWrite(line);
}

// Unsigned decimal, no sign, no padding.
inline std::string Dec(std::uint64_t value) { return std::to_string(value); }

// How many error and refusal lines the run has printed: a run given its
// work on the command line says by its exit code whether there were any.
inline int& FailureLines() {
    static int count = 0;
    return count;
}

// "Error <code> <action> <what>!" as one complete line, then on standard
// error what the code means and what to do next. Every error line of the
// report is printed here.
inline void PrintErrorLine(std::uint32_t code, std::string_view action, std::string_view what) {
    PrintLine("Error " + Dec(code) + " " + std::string(action) + " " + std::string(what) + "!");
    ++FailureLines();
    platform::SayLine(platform::DescribeError(code));
}

// A line that refuses a file or a size the tool cannot work with, then, when
// there is one, the advice on standard error.
inline void PrintRefusal(std::string_view line, std::string_view advice = {}) {
    PrintLine(line);
    ++FailureLines();
    if (!advice.empty()) platform::SayLine(advice);
}

}  // namespace console
