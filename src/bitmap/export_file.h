// An export's file as the movers write it: a BMP, its rows put where they
// are stored, or a PNG (for a name that ends in .png), its rows deflated in
// order, top row first. A PNG whose rows come bottom first holds the picture
// until its last row is in.
#pragma once

#include <cstdint>

#include "bitmap/bmp.h"
#include "bitmap/layer_colours.h"
#include "bitmap/png_encode.h"
#include "platform/platform.h"

struct ExportFile {
    platform::FileHandle File;
    bool Png;
    std::uint32_t Width;  // pixels
    std::uint32_t Height;
    std::uint64_t Stride;  // of a BMP's stored row
    PngWriter Writer;
    platform::Memory<std::uint8_t> Held;  // PNG written at the end: the picture, top row first
};

// The file's first bytes: the BMP header (1078 bytes with the palette), or
// the PNG's signature, header and palette. False on a failed write, whose
// code LastError() holds.
bool StartExportFile(ExportFile& file, BmpHeader& header, platform::FileHandle handle, std::uint32_t width,
                     std::uint32_t height, Palette palette, bool png);

// A PNG whose rows will come bottom first: it holds them all.
void HoldWholePicture(ExportFile& file);

// Picture rows first to first + count - 1 (0 is the top row), given as a BMP
// stores them: the bottom one first, Stride bytes each. A PNG takes them in
// order, top rows first, unless it holds the picture.
bool WriteExportRows(ExportFile& file, std::uint64_t first, std::uint32_t count, const std::uint8_t* rows);

// After the last row: a PNG's held picture, the rest of its data and its end.
bool FinishExportFile(ExportFile& file);

// Releases what the record holds; the file handle is the caller's to close.
void EndExportFile(ExportFile& file);
