// What both PNG directions share: the signature and the header chunk.
#pragma once

#include <cstdint>

inline constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// The PNG header chunk (IHDR).
struct PngHeader {
    std::uint32_t Width, Height;
    std::uint8_t Depth, ColourType, Compression, Filter, Interlace;
};
