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

// "Error <code> <action> <path>!" as one complete line.
inline void PrintErrorLine(std::uint32_t code, std::string_view action, std::string_view path) {
    PrintLine("Error " + Dec(code) + " " + std::string(action) + " " + std::string(path) + "!");
}

}  // namespace console
