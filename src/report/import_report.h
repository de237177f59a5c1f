// What the tool says on standard error about an import beyond the report:
// how many cells it changed, so that a scrambled layer never passes unseen.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

// 196608 as "196,608".
inline std::string Grouped(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

// "LandHeight: 3,835 of 196,608 cells changed"
inline void SayChangedCells(const char* layer, std::uint64_t changed, std::uint64_t cells) {
    platform::SayLine(std::string(layer) + ": " + Grouped(changed) + " of " + Grouped(cells) + " cells changed");
}
