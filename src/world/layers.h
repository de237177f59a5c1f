// The three layers that live in the cell records, as staging leaves them for
// the LM pass.
#pragma once

#include <cstdint>

#include "bitmap/import_source.h"
#include "platform/platform.h"
#include "world/world.h"

enum LayerIndex { kLandType = 0, kLandHeight = 1, kLargeMap = 2, kLayerCount = 3 };

struct LayerSlot {
    platform::FileHandle ExportHandle;
    platform::FileHandle ImportHandle;
    bool ExportStaged;
    bool ImportStaged;
    ImportSource Import;                       // import: where its stored rows come from
    char Path[platform::kFileNameBufferSize];  // kept for the pass's error line
};

// LandType and LandHeight: one byte of the record, one pixel per cell.
struct OneByteLayer {
    LayerIndex Layer;
    int RecordByte;
};
inline constexpr OneByteLayer kOneByteLayers[] = {{kLandType, kLandTypeByte}, {kLandHeight, kLandHeightByte}};

inline constexpr const char* kLayerNames[kLayerCount] = {"LandType", "LandHeight", "LargeMap"};

// The one pass over every cell record that moves the staged layers, then
// closes their files.
void RunLmPass(WorldFile& world, LayerSlot (&layers)[kLayerCount]);
