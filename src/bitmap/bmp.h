// The bitmap format the tool exports: uncompressed 8-bit indexed BMP, 40-byte
// info header, 256-entry palette, rows bottom-up, padded to 4 bytes.
#pragma once

#include <cstdint>

#include "bitmap/layer_colours.h"
#include "platform/platform.h"

inline constexpr std::uint32_t kBmpHeaderSize = 1078;  // file header, info header, palette
inline constexpr std::uint32_t kBmpPrefixSize = 38;    // file header and info header up to biSizeImage
inline constexpr std::uint32_t kImportHeadSize = 66;   // ... and the bit-field masks at 54
inline constexpr std::uint32_t kBmpMinPixelStart = 54;
inline constexpr std::uint32_t kBmpMasksAt = 54;

// Field offsets of the file header and the info header.
namespace bmp_field {
inline constexpr int kBfType = 0;
inline constexpr int kBfSize = 2;
inline constexpr int kBfOffBits = 10;
inline constexpr int kBiSize = 14;
inline constexpr int kBiWidth = 18;
inline constexpr int kBiHeight = 22;
inline constexpr int kBiPlanes = 26;
inline constexpr int kBiBitCount = 28;
inline constexpr int kBiCompression = 30;
inline constexpr int kBiSizeImage = 34;
inline constexpr int kBiXPelsPerMeter = 38;
inline constexpr int kBiYPelsPerMeter = 42;
inline constexpr int kBiClrUsed = 46;
inline constexpr int kBiClrImportant = 50;
inline constexpr int kPalette = 54;
}  // namespace bmp_field

struct BmpHeader {
    std::uint8_t Bytes[kBmpHeaderSize];
};

// The bitmap exchange's part of the run's state: the header image that every
// export writes, and the first bytes of the import file read last.
struct BitmapState {
    BmpHeader Header;
    std::uint8_t Head[kImportHeadSize];
};

// Stored row length: the pixel width rounded up to a multiple of 4.
inline std::uint64_t RowStride(std::uint64_t pixelWidth) { return (pixelWidth + 3) & ~std::uint64_t{3}; }

// Where rows rows of stride bytes from start end; no wrap for sizes no file has.
inline std::uint64_t SpanEnd(std::uint64_t start, std::uint64_t stride, std::uint64_t rows) {
    constexpr std::uint64_t kFar = std::uint64_t{1} << 62;
    if (stride != 0 && rows > kFar / stride) return kFar;
    return start + stride * rows;
}

// The constant fields and the grey palette; once per run.
void PrepareBmpHeader(BmpHeader& header);

// Puts the size fields of a width x height image into the header.
void SetBmpSize(BmpHeader& header, std::uint32_t width, std::uint32_t height);

// Writes the whole header at the file's position in one call. The palette is
// grey again afterwards, whatever the outcome; on failure LastError() still
// holds the write's code.
bool WriteBmpHeader(BmpHeader& header, platform::FileHandle file, std::uint32_t width, std::uint32_t height,
                    Palette palette);
