// SmallMap moves at once, a chunk of rows at a time, between its block in the
// world file and a bitmap file.
#pragma once

#include <cstdint>

#include "bitmap/bmp.h"
#include "move/world_backup.h"
#include "platform/platform.h"
#include "report/console_text.h"

// The block as the copy sees it: Width x Height bytes at Offset in the
// world file, map row 0 first.
struct SmallMapBlock {
    platform::FileHandle World;
    const char* WorldPath;
    std::uint32_t Width;
    std::uint32_t Height;
    std::uint32_t Offset;
};

// Each asks for the bitmap in the dialog, then moves the block; every line
// it prints is its own, and it never ends the run. An import backs the world up, and leaves its marker, right before
// its first row that changes the block; one that changes nothing writes
// nothing. An export that stops removes its file.
void ExportSmallMap(console::Report& report, const SmallMapBlock& block, platform::FileDialog& dialog,
                    BitmapState& bitmap);
void ImportSmallMap(console::Report& report, const SmallMapBlock& block, WorldBackup& backup,
                    platform::FileDialog& dialog, BitmapState& bitmap);
