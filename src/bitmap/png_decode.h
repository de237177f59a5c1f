// PNG imports, decoded as they stream: the picture's rows as layer values,
// top row first, with a few rows held and never the image (an interlaced
// image alone is decoded whole). The file is read through a buffer of about
// 1 MiB; its image data is inflated by zlib no further than the image's own
// size, so data that unpacks without end costs no more than the image.
//
// What decides values: grey of 1, 2 or 4 bits widens by repeating its bits;
// 16-bit samples count by their high byte; a palette index beyond the
// palette is black; alpha and transparency chunks do not count; a colour
// gives its value through ValueOfColour. Chunk checksums are not checked;
// nothing after the last row's data is read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bitmap/bmp.h"
#include "bitmap/import_source.h"
#include "bitmap/import_verdict.h"
#include "bitmap/layer_colours.h"
#include "bitmap/png_format.h"
#include "platform/platform.h"

struct z_stream_s;  // zlib's, held by pointer so that the record can move

enum class PngStatus { Ok, ReadFailed, Invalid };

// The most an interlaced image's values may take when decoded whole: the
// LargeMap of a 2047 x 2047 world (10235 x 10235) fits.
inline constexpr std::uint64_t kPngWholeLimit = std::uint64_t{128} << 20;

// How the walk over the chunks ended: not yet, at the image end chunk, where
// the file ends, or at a fault (a failed read, a damaged chunk).
enum class PngWalk { Open, DataEnds, FileEnds, Fault };

// A decoding in progress. A plain record: zero it, then StartPngRows.
struct PngRows {
    // Set by StartPngRows.
    platform::FileHandle File;
    std::uint64_t FileSize;
    PngHeader Header;
    Palette Layer;
    std::uint32_t NextRow;    // picture row the next NextPngRow gives, 0 = top
    std::uint64_t OffColour;  // pixels so far whose colour is not exactly one of the layer's
    bool AnySampleHigh;       // 16-bit images: a colour sample (alpha aside) of 256 or more was seen
    PngStatus Status;
    std::uint32_t Code;  // ReadFailed: platform::LastError() of the failed read
    std::string Note;    // Invalid: what is wrong, one sentence for standard error

    // The file through a buffer: Held bytes from file position BufferAt.
    platform::Memory<std::uint8_t> Buffer;
    std::uint64_t BufferAt;
    std::uint32_t Held;
    // The walk over the chunks: the next file byte, what is left of the
    // image data chunk in hand, and how the walk ended, kept until the data
    // gathered before that end is used up.
    std::uint64_t At;
    std::uint64_t DataLeft;
    bool DataSeen;
    PngWalk Walk;
    PngStatus WalkStatus;
    std::uint32_t WalkCode;
    std::string WalkNote;
    // Image data gathered from the chunks for zlib, and zlib's state.
    platform::Memory<std::uint8_t> Input;
    platform::Memory<z_stream_s> Zlib;
    bool Inflating;
    bool StreamEnded;
    std::uint64_t OutBytes;  // inflated so far: the notes count the rows done by it
    // Scanlines: the widest one's size with its filter byte; this one and
    // the one before.
    std::uint64_t ScanlineBytes;
    platform::Memory<std::uint8_t> Scanlines;
    bool PriorIsFirst;  // which half holds the row before
    // The palette (from the last PLTE before the image data) and what each
    // grey sample or palette index gives; ColourMemo for RGB.
    std::uint8_t PaletteBytes[768];
    std::uint32_t PaletteLength;
    bool PaletteSeen;
    std::uint8_t SampleValues[256];
    bool SampleExact[256];
    bool SamplesAreValues;  // every sample is its own value, exactly: rows copy as they are
    ColourMemo Memo;
};

// Walks from the signature to the first image data: the palette taken, the
// header as the check read it. False with Status set.
bool StartPngRows(PngRows& rows, platform::FileHandle file, std::uint64_t fileSize, const PngHeader& header,
                  Palette layer);

// The next picture row as Header.Width layer values. False with Status set
// (a read that fails, data that ends early, a bad filter byte, ...). Not for
// interlaced images: DecodePngWhole.
bool NextPngRow(PngRows& rows, std::uint8_t* values);

// Checks the whole image without converting pixels (inflate and filter
// bytes only): true when every row is there. Leaves the record ended; call
// StartPngRows again to decode.
bool CheckPngRows(PngRows& rows);

// Releases what the record holds; safe after any failure, and twice.
void EndPngRows(PngRows& rows);

// What the notes call the file: "a PNG (RGB, 8 bits per channel)",
// "a PNG with a palette (2 bits per pixel, interlaced)".
std::string DescribePng(const PngHeader& header);

// The whole image, after StartPngRows, as the layer's values laid out as an
// exported file's pixel data: rows bottom-up, RowStride(width) bytes each,
// pad bytes zero. The way interlaced (Adam7) images decode, which cannot
// stream; they are held to kPngWholeLimit. Counts OffColour and
// AnySampleHigh. False with Status set, and *values released.
bool DecodePngWhole(PngRows& rows, platform::Memory<std::uint8_t>* values);

// ---- The PNG kind of import (image_kinds.h) --------------------------------

bool IsPng(const std::uint8_t* head, std::uint32_t got);

// Judges the header chunk after the signature (got first bytes; the file
// holds fileSize) against the layer.
ImportVerdict JudgePngHead(const std::uint8_t* head, std::uint32_t got, std::uint64_t fileSize,
                           const ImportLayer& layer, std::string_view path, PngHeader* out);

// An accepted PNG made ready for the movers: checked whole first (so that a
// file cut short is refused before any move), then streamed row by row when
// the layer's mover may take its rows top first, else (and when interlaced)
// decoded whole.
ImportVerdict OpenPng(const ImportFile& file, const PngHeader& png, const ImportLayer& layer, ImportSource* source);
