// The BMP kind of import. Its header is judged in the 40-byte layout (the
// later ones are read with it) or, for a biSize of 12, in the oldest one of
// OS/2, with 16-bit sizes and palette entries of 3 bytes. The exported kind
// (8 bits, uncompressed, the 40-byte layout) stays in its file and is read as
// stored; every other kind is decoded by colour by our own reader: 1, 4, 8,
// 16, 24 and 32 bits, RLE4 and RLE8, bit fields. Every read is bounded by the
// file and by the rows.
#pragma once

#include <cstdint>
#include <string_view>

#include "bitmap/import_source.h"
#include "bitmap/import_verdict.h"
#include "bitmap/layer_colours.h"
#include "platform/platform.h"

inline constexpr std::uint32_t kCoreInfoSize = 12;  // the OS/2 layout
inline constexpr std::uint32_t kCorePaletteAt = 26;

// What the check finds in a BMP's first bytes.
struct BmpHead {
    std::uint64_t FileSize;
    std::uint32_t PixelStart;  // bfOffBits
    bool TopDown;              // rows stored from the top of the picture
    std::uint32_t InfoSize;    // biSize
    std::uint16_t BitCount;
    std::uint32_t Compression;
    std::uint32_t ColoursUsed;  // biClrUsed; 0 in the OS/2 layout
    std::uint32_t Masks[3];     // bit fields: red, green, blue
};

bool IsBmp(const std::uint8_t* head, std::uint32_t got);

// Judges a BMP's first bytes (got of them; the file holds fileSize) in the
// order the refusal lines take precedence. Accepted, *out says what the file
// is; an uncompressed file's last pixel row lies in it, all but its padding.
ImportVerdict JudgeBmpHead(const std::uint8_t* head, std::uint32_t got, std::uint64_t fileSize,
                           const ImportLayer& layer, std::string_view path, BmpHead* out);

// The exported kind, read as stored: 8 bits, uncompressed, the 40-byte layout.
bool IsStoredKind(const BmpHead& head);

// The palette of a 1-, 4- or 8-bit BMP: biClrUsed entries (or the full count
// when that is 0) from the end of the info header, 4 bytes each (3 in the
// OS/2 layout), whole ones before the pixel data only. A failed read keeps
// its code.
bool ReadBmpPalette(platform::FileHandle file, const BmpHead& head, IndexedPalette* palette, std::uint32_t* code);

// How a stored pixel gives its colour: an index into the palette (1, 4 or 8
// bits, first pixel in the high bits), or the channels of a little-endian
// value of 2, 3 or 4 bytes.
struct PixelFormat {
    std::uint16_t Bits;
    bool Indexed;
    ChannelMask Red, Green, Blue;
};

PixelFormat FormatOf(const BmpHead& head);

// The layer's values of one stored row of width pixels; counts the pixels
// whose colour is not exactly one of the layer's.
void ConvertRow(const PixelFormat& format, const std::uint8_t* stored, std::uint32_t width, Palette layer,
                const IndexValues& indexValues, std::uint8_t* values, std::uint64_t* offColour);

// Bytes in sequence: of a file through a buffer, or of memory (File is
// kInvalidFile, the bytes in Data). A failed read ends them and keeps its code.
struct ByteReader {
    platform::FileHandle File;
    std::uint64_t Next;  // file position of the next fill
    std::uint64_t End;   // where the file ends
    const std::uint8_t* Data;
    std::uint64_t Size;
    std::uint64_t At;
    platform::Memory<std::uint8_t> Buffer;
    bool Failed;
    std::uint32_t Code;
};

ByteReader ReaderOfMemory(const std::uint8_t* data, std::uint64_t size);
ByteReader ReaderOfFile(platform::FileHandle file, std::uint64_t from, std::uint64_t end);
bool RefillReader(ByteReader& reader);

inline bool NextByte(ByteReader& reader, std::uint8_t* byte) {
    if (reader.At == reader.Size && !RefillReader(reader)) return false;
    *byte = reader.Data[reader.At++];
    return true;
}

// An RLE8 (bits 8) or RLE4 (bits 4) stream into indices, stored rows
// bottom-up, stride bytes apart. Pixels the stream leaves unset keep what the
// rows held. A run or a delta past the end of a row sets nothing beyond it.
// True when the stream ended as a whole one does, at an end-of-bitmap code or
// once the last row has ended; false when its bytes ran out first (the file
// is cut short) or a read failed.
bool DecodeRle(ByteReader& stream, std::uint16_t bits, std::uint32_t width, std::uint32_t height, bool topDown,
               std::uint8_t* indices, std::uint64_t stride);

// An accepted BMP made ready for the movers: the exported kind read through
// once for the palette entries its pixels use, every other kind decoded.
ImportVerdict OpenBmp(const ImportFile& file, const BmpHead& head, const ImportLayer& layer, ImportSource* source);

// Whether a file is an 8-bit palette BMP of any layout (RLE8, top-down and
// OS/2 included) whose palette has 256 entries, entry for entry the export
// palette of the other kind of layer: most likely another layer's bitmap.
// Judged by its first bytes and palette alone, whatever its size; false also
// when it cannot be read.
bool LooksLikeOtherLayersBitmap(platform::FileHandle file, Palette layer);

// "has the palette of a LandType export, so it is most likely the bitmap of
// another layer", for a layer of these colours.
std::string OtherExportWords(Palette layer);
