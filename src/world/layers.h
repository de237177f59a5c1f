// The layers that live in the cell records: one row of the table each, with
// everything the tool knows of the layer.
#pragma once

#include <cstdint>
#include <iterator>

#include "bitmap/layer_colours.h"

// A layer is a block of Block x Block bytes of each cell's record (block row
// k is the Block bytes at RecordByte + Block k), shown as as many pixels in
// its bitmap, block row 0 at the top and byte 0 at the left.
struct RecordLayer {
    const char* Name;          // as standard error names it
    const char* ExportTitle;   // the Save dialog's, and the question's caption
    const char* ImportTitle;   // the Open dialog's
    const char* ProposedName;  // of the export, beside the world
    int RecordByte;
    std::uint32_t Block;
    Palette Colours;     // the export's palette, and the colours an import reads
    std::uint8_t Limit;  // imported values from here on become 0; 0 for none
};

// In the order of their questions.
inline constexpr RecordLayer kRecordLayers[] = {
    {"LandType", "Export LandType BMP", "Import LandType BMP", "landtype.bmp", 8, 1, Palette::LandType, 3},
    {"LandHeight", "Export LandHeight BMP", "Import LandHeight BMP", "lmheight.bmp", 9, 1, Palette::Gray, 0},
    {"LargeMap", "Export LargeMap BMP", "Import LargeMap BMP", "largemap.bmp", 22, 5, Palette::Gray, 0},
};
inline constexpr int kLayerCount = static_cast<int>(std::size(kRecordLayers));

// The largest block of the table.
inline constexpr std::uint32_t kMaxBlock = [] {
    std::uint32_t largest = 1;
    for (const RecordLayer& layer : kRecordLayers) largest = layer.Block > largest ? layer.Block : largest;
    return largest;
}();

// Names for the rows of the table, where a test or a note needs one.
enum LayerIndex { kLandType = 0, kLandHeight = 1, kLargeMap = 2 };
