// PNG exports: an 8-bit palette image whose index i is the colour the
// layer's export gives value i, so that each value is its own index. Rows are
// gathered into segments of a fixed size, each filtered and deflated on a
// thread of its own while the next fills, a deflate stream that the next one
// carries on; the image data goes out in chunks, segment after segment.
// Memory stays a few MiB whatever the image's size. The filter, the coding
// and the segment size are fixed, so every system writes the same bytes
// (LandType's given the same zlib), however its threads are timed.
#pragma once

#include <cstdint>

#include "bitmap/layer_colours.h"
#include "platform/platform.h"

struct z_stream_s;  // zlib's, held by pointer so that the record can move

// Rows deflated together, and what came out. Rows go in as they are given,
// behind their filter byte, and are filtered where they are deflated.
struct PngSegment {
    std::uint32_t Width;
    platform::Memory<std::uint8_t> Before;  // the row before the segment's first, as given
    platform::Memory<std::uint8_t> In;
    std::uint64_t InUsed;
    std::uint32_t Adler;  // of the filtered rows
    platform::Memory<std::uint8_t> Out;
    std::uint64_t OutUsed;
    platform::Memory<z_stream_s> Zlib;  // for values in runs; the others take the literal coder
    bool Deflating;
    bool Last;  // the image's last data: it ends the stream
    bool Failed;
    platform::Work Work;  // its filtering and deflating, under way
    bool Busy;
};

// Two segments deflate while a third fills.
inline constexpr int kPngSegments = 3;

// A PNG being written. A plain record: zero it, then StartPngFile.
struct PngWriter {
    platform::FileHandle File;
    std::uint32_t Width, Height;
    bool Runs;                             // values in runs (LandType): zlib's run-length deflate
    platform::Memory<std::uint8_t> Prior;  // the row before, as given
    std::uint32_t Adler;                   // of every filtered byte: the zlib stream's checksum
    std::uint64_t SegmentBytes;
    PngSegment Segments[kPngSegments];     // used in turn
    int Filling;                           // the segment that takes the next row
    int Oldest;                            // the first of those under way
    platform::Memory<std::uint8_t> Chunk;  // an image data chunk in the making
    std::uint32_t ChunkUsed;
};

// Signature, header (width x height, depth 8, colour type 3, no interlace)
// and the palette of the layer's 256 export colours, written with
// platform::WriteFile at the file's position. False on a failed write;
// platform::LastError() then holds its code.
bool StartPngFile(PngWriter& png, platform::FileHandle file, std::uint32_t width, std::uint32_t height,
                  Palette palette);

// One picture row, top row first: width values, written as palette indices.
bool WritePngRow(PngWriter& png, const std::uint8_t* values);

// After the last row: the rest of the image data, then the end chunk.
bool FinishPngFile(PngWriter& png);

// Releases what the record holds; safe after a failure, and twice.
void EndPngFile(PngWriter& png);
