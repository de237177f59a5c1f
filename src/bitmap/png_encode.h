// PNG exports: an 8-bit palette image whose index i is the colour the
// layer's export gives value i, so that each value is its own index. Rows
// are deflated as they come and the image data goes out in chunks as the
// compressed data fills them: memory stays a few hundred KiB whatever the
// image's size. The filter, level and strategy are fixed, so the same zlib
// writes the same bytes on every system.
#pragma once

#include <cstdint>

#include "bitmap/layer_colours.h"
#include "platform/platform.h"

struct z_stream_s;  // zlib's, held by pointer so that the record can move

// A PNG being written. A plain record: zero it, then StartPngFile.
struct PngWriter {
    platform::FileHandle File;
    std::uint32_t Width, Height;
    platform::Memory<z_stream_s> Zlib;
    bool Deflating;
    platform::Memory<std::uint8_t> Scanline;  // the filter byte, then the row as filtered
    platform::Memory<std::uint8_t> Prior;     // the row before, as given
    platform::Memory<std::uint8_t> Chunk;     // an image data chunk in the making
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
