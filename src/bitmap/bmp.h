// The one bitmap format the tool exchanges: uncompressed 8-bit indexed BMP,
// 40-byte info header, 256-entry palette, rows bottom-up, padded to 4 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

inline constexpr std::uint32_t kBmpHeaderSize = 1078;  // file header, info header, palette
inline constexpr std::uint32_t kBmpPrefixSize = 38;    // file header and info header up to biSizeImage
inline constexpr std::uint32_t kBmpMinPixelStart = 54;

struct BmpHeader {
    std::uint8_t Bytes[kBmpHeaderSize];
};

// The bitmap exchange's part of the run's state: the header image that every
// export writes, and the first bytes of the header read last.
struct BitmapState {
    BmpHeader Header;
    std::uint8_t Prefix[kBmpPrefixSize];
};

enum class Palette { Gray, LandType };

// Stored row length: the pixel width rounded up to a multiple of 4.
inline std::uint64_t RowStride(std::uint64_t pixelWidth) { return (pixelWidth + 3) & ~std::uint64_t{3}; }

// The constant fields and the grey palette; once per run.
void PrepareBmpHeader(BmpHeader& header);

// Puts the size fields of a width x height image into the header.
void SetBmpSize(BmpHeader& header, std::uint32_t width, std::uint32_t height);

// Writes the whole header at the file's position in one call. The palette is
// grey again afterwards, whatever the outcome; on failure LastError() still
// holds the write's code.
bool WriteBmpHeader(BmpHeader& header, platform::FileHandle file, std::uint32_t width, std::uint32_t height,
                    Palette palette);

struct BmpVerdict {
    bool Accepted;
    std::string Line;          // the rejection line, without its line end
    std::uint32_t PixelStart;  // bfOffBits, when accepted
};

// Judges the first bytes of an import file (got of them arrived).
BmpVerdict JudgeBmpPrefix(const std::uint8_t* prefix, std::uint32_t got, std::uint64_t fileSize,
                          std::uint32_t expectedWidth, std::uint32_t expectedHeight, std::string_view path);

// "Error <code> <action> BMP header!", the code being the failed call's.
void PrintBmpHeaderError(const char* action);

// Reads and judges an import file's header; prints the rejection line, or on
// acceptance leaves the file at its pixel data and reports where that is.
bool CheckBmpHeader(std::uint8_t (&prefix)[kBmpPrefixSize], platform::FileHandle file, std::uint32_t expectedWidth,
                    std::uint32_t expectedHeight, std::string_view path, std::uint64_t* pixelStart);
