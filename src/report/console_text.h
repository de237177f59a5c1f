// Console statements built on ConsoleWrite: every call is one statement and
// reaches the console at once. Lines end with CR LF on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

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

// The report's part of the run's state: how many error and refusal lines
// it has printed, so that a run given its work on the command line can say
// by its exit code whether there were any.
struct Report {
    int FailureLines;
};

// A note of one or more lines ('\n' between them) on standard error.
inline void SayLines(std::string_view text) {
    for (std::size_t end; (end = text.find('\n')) != std::string_view::npos; text.remove_prefix(end + 1))
        platform::SayLine(text.substr(0, end));
    platform::SayLine(text);
}

// A line that refuses a file or a size the tool cannot work with, then, when
// there is one, the advice on standard error.
inline void PrintRefusal(Report& report, std::string_view line, std::string_view advice = {}) {
    PrintLine(line);
    ++report.FailureLines;
    if (!advice.empty()) platform::SayLine(advice);
}

// How a progress line ends: "Done!", an error line, or a refusal line. The
// function that printed the progress text ends its line with EndLine; the
// steps it calls say how, and print nothing themselves.
struct LineEnd {
    const char* Action;   // an error: "reading", "writing"; nullptr: none
    std::uint32_t Code;   // ... the failed call's
    std::string What;     // ... the path, or "BMP header"
    std::string Refusal;  // a refusal line; empty: none
    std::string Advice;   // for standard error after the line
};

inline LineEnd Done() { return {}; }
inline LineEnd ErrorEnd(std::uint32_t code, const char* action, std::string what, std::string advice = {}) {
    return {action, code, std::move(what), {}, std::move(advice)};
}
inline LineEnd RefusalEnd(std::string line, std::string advice) {
    return {nullptr, 0, {}, std::move(line), std::move(advice)};
}
inline bool IsDone(const LineEnd& end) { return end.Action == nullptr && end.Refusal.empty(); }

// The note after an error line: what happened to this file, when there is
// more to say, then what the code means; else what the code means and the
// next step that helps in general.
inline std::string ErrorNote(std::uint32_t code, std::string_view advice) {
    const platform::ErrorMeaning words = platform::DescribeError(code);
    const std::string means = "Error " + Dec(code) + " means " + words.Meaning + ".";
    return advice.empty() ? means + " " + words.Next : std::string(advice) + " " + means;
}

inline void EndLine(Report& report, const LineEnd& end) {
    if (end.Action != nullptr) {
        PrintLine("Error " + Dec(end.Code) + " " + end.Action + " " + end.What + "!");
        ++report.FailureLines;
        platform::SayLine(ErrorNote(end.Code, end.Advice));
    } else if (!end.Refusal.empty()) {
        PrintRefusal(report, end.Refusal, end.Advice);
    } else {
        PrintLine("Done!");
    }
}

// "Error <code> <action> <what>!" as a line of its own, then on standard
// error what the code means and what to do next.
inline void PrintErrorLine(Report& report, std::uint32_t code, const char* action, std::string_view what,
                           std::string advice = {}) {
    EndLine(report, ErrorEnd(code, action, std::string(what), std::move(advice)));
}

}  // namespace console
