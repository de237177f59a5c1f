// Where an import's stored rows come from, for both movers (the SmallMap copy
// and the LM pass): the file itself for the exported kind, its bytes taken as
// they stand or through its palette's colours, or the values decoded from a
// file of another kind. One read helper serves them all.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bitmap/bmp.h"
#include "bitmap/layer_colours.h"
#include "platform/platform.h"

struct ImportSource {
    platform::FileHandle File;
    std::uint64_t PixelStart;  // where the stored rows begin: bfOffBits, or 0 in Decoded
    std::uint64_t Stride;      // RowStride of the pixel width
    std::uint64_t Rows;        // the pixel height
    bool TopDown;              // stored rows run from the top of the picture
    bool ByColour;             // each byte read becomes Values[byte]
    std::uint8_t Values[256];
    platform::Memory<std::uint8_t> Decoded;  // another kind's values, rows bottom-up
    std::uint64_t DecodedSize;
};

// Where picture row r (0 is the top) is stored.
inline std::uint64_t PictureRowAt(const ImportSource& source, std::uint64_t r) {
    return source.PixelStart + source.Stride * (source.TopDown ? r : source.Rows - 1 - r);
}

// Up to count stored bytes from position, as layer values. Like a file read,
// fewer (or none) arrive where the stored rows end; false on a failed read.
bool ReadImportAt(const ImportSource& source, std::uint64_t position, std::uint8_t* buffer, std::uint32_t count,
                  std::uint32_t* got);

// Checks an import file, then makes it ready for its mover: an 8-bit file is
// read through once for the palette entries its pixels use, any other kind
// decoded. Done when it is ready; else the refusal, or the failed read
// ("Error N reading BMP header!"). note receives what standard error should
// say once the step's line is complete.
console::LineEnd OpenImportSource(std::uint8_t (&head)[kImportHeadSize], platform::FileHandle file,
                                  const ImportLayer& layer, std::string_view path, ImportSource* source,
                                  std::string* note);
