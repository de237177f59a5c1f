// Imports of every kind but the exported one are decoded whole while their
// layer is staged: BMP by our own reader, PNG by stb_image. The result is the
// layer's values laid out as the exported file's pixel data would be, rows
// bottom-up, RowStride bytes each, pad bytes zero, so that the movers read it
// the way they read an exported file.
#pragma once

#include <cstdint>
#include <string>

#include "bitmap/bmp.h"
#include "bitmap/layer_colours.h"
#include "platform/platform.h"

// A BMP's palette as the import reads it: entry i is the 4 bytes at
// 14 + biSize + 4i, for i below biClrUsed (or the full count when that is 0)
// and wholly before the pixel data. An index without an entry is black.
struct IndexedPalette {
    Rgb Colours[256];
    bool Present[256];
};

// Reads the palette of a 1-, 4- or 8-bit BMP. A failed read keeps its code.
bool ReadBmpPalette(platform::FileHandle file, const BmpVerdict& verdict, IndexedPalette* palette, std::uint32_t* code);

// Each index's value by the colour of its entry, and whether that colour is
// exactly one of the layer's.
struct IndexValues {
    std::uint8_t Values[256];
    bool Exact[256];
};
IndexValues ValuesOfPalette(const IndexedPalette& palette, Palette layer);

// How a stored pixel gives its colour: an index into the palette (1, 4 or 8
// bits, first pixel in the high bits), or the channels of a little-endian
// value of 2, 3 or 4 bytes.
struct PixelFormat {
    std::uint16_t Bits;
    bool Indexed;
    ChannelMask Red, Green, Blue;
};

// The format of an accepted BMP of another kind; RLE streams hold indices.
PixelFormat FormatOf(const BmpVerdict& verdict);

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
// rows held. A run or a delta past the end of a row sets nothing beyond it;
// the decoding ends at an end-of-bitmap code, after the last row, or where
// the bytes end.
void DecodeRle(ByteReader& stream, std::uint16_t bits, std::uint32_t width, std::uint32_t height, bool topDown,
               std::uint8_t* indices, std::uint64_t stride);

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

DecodeOutcome DecodeBmp(platform::FileHandle file, const BmpVerdict& verdict, const ImportLayer& layer,
                        DecodedImage* image);
DecodeOutcome DecodePng(platform::FileHandle file, const BmpVerdict& verdict, const ImportLayer& layer,
                        DecodedImage* image);
