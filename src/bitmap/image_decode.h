// PNG imports decoded whole through stb_image (png_decode.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "bitmap/import_verdict.h"
#include "bitmap/layer_colours.h"
#include "platform/platform.h"

inline constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// The PNG header chunk (IHDR).
struct PngHeader {
    std::uint32_t Width, Height;
    std::uint8_t Depth, ColourType, Compression, Filter, Interlace;
};

// The decoded layer values of an import and what the notes say about it.
struct DecodedImage {
    platform::Memory<std::uint8_t> Values;
    std::uint64_t Size;
    std::uint64_t OffColour;  // pixels not exactly one of the layer's colours
    std::string Kind;         // "a 24-bit BMP", "a PNG (RGB, 8 bits per channel)"
};

enum class DecodeResult { Done, ReadFailed, Invalid };

struct DecodeOutcome {
    DecodeResult Result;
    std::uint32_t Code;  // ReadFailed: the failed read's
    std::string Note;    // Invalid: what is wrong with the file
};

DecodeOutcome DecodePng(platform::FileHandle file, const PngHeader& png, std::uint64_t fileSize,
                        const ImportLayer& layer, DecodedImage* image);
