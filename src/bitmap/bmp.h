// The bitmap format the tool exports: uncompressed 8-bit indexed BMP, 40-byte
// info header, 256-entry palette, rows bottom-up, padded to 4 bytes. Imports
// take that kind and the other common BMP kinds and PNG; this is their check.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bitmap/layer_colours.h"
#include "platform/platform.h"
#include "report/console_text.h"

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

// ---- Import check ------------------------------------------------------------

enum class ImportKind {
    Indexed8,  // 8-bit uncompressed BMP: read as stored, by index or through its palette
    Bmp,       // any other BMP kind: decoded whole
    Png,       // decoded whole
};

inline constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// The PNG header chunk (IHDR).
struct PngHeader {
    std::uint32_t Width, Height;
    std::uint8_t Depth, ColourType, Compression, Filter, Interlace;
};

// The layer an import is for: its size in pixels, its name and colours for
// the notes and the values.
struct ImportLayer {
    const char* Name;
    Palette Colours;
    std::uint32_t Width;
    std::uint32_t Height;
    std::uint32_t Block;  // pixels per map cell, each way
};

// What the check found in the first bytes of an import file.
struct BmpVerdict {
    bool Accepted;
    std::string Line;  // the refusal line, without its line end
    std::string Note;  // for standard error: what was found, and how to save it right
    ImportKind Kind;
    std::uint64_t FileSize;
    std::uint32_t PixelStart;  // BMP: bfOffBits
    bool TopDown;              // BMP rows stored from the top of the picture
    std::uint32_t InfoSize;    // biSize
    std::uint16_t BitCount;
    std::uint32_t Compression;
    std::uint32_t ColoursUsed;  // biClrUsed
    std::uint32_t Masks[3];     // bit fields: red, green, blue
    PngHeader Png;
};

// Judges the first bytes of an import file (got of them arrived), in the
// order the refusal lines take precedence. For a kind other than 8-bit
// uncompressed BMP, a BMP's last pixel row must lie in the file; a PNG is
// judged by its header here and by its decoding later.
BmpVerdict JudgeImportHead(const std::uint8_t* head, std::uint32_t got, std::uint64_t fileSize,
                           const ImportLayer& layer, std::string_view path);

// The refusal of a file whose check passed but whose decoding did not.
BmpVerdict RefuseAsInvalid(std::string_view path, std::string note);

// How a refused file ends its progress line: the refusal line, and its note.
console::LineEnd EndOf(const BmpVerdict& verdict);

// "Error <code> reading BMP header!" or "... writing ...", as a line's end.
console::LineEnd HeaderError(const char* action, std::uint32_t code);

// Reads and judges an import file's header: Done when it is accepted, else
// the refusal or the failed read. The file position is not used after.
console::LineEnd CheckBmpHeader(std::uint8_t (&head)[kImportHeadSize], platform::FileHandle file,
                                const ImportLayer& layer, std::string_view path, BmpVerdict* verdict);
