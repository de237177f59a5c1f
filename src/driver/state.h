// The tool's one state record: zero at start, owned by main, passed by
// reference to every step.
#pragma once

#include <cstdint>

#include "bitmap/bmp.h"
#include "platform/platform.h"
#include "world/world.h"

inline constexpr std::uint32_t kFileNameBufferSize = 320;

enum LayerIndex { kLandType = 0, kLandHeight = 1, kLargeMap = 2, kLayerCount = 3 };

struct LayerSlot {
    platform::FileHandle ExportHandle;  // 0: no export tried; kInvalidFile: create failed
    platform::FileHandle ImportHandle;
    bool ExportStaged;
    bool ImportStaged;
    std::uint64_t PixelStart;           // import: the file's bfOffBits
    char Path[kFileNameBufferSize];     // kept for the pass's error line
};

struct AppState {
    platform::FileHandle World;
    platform::FileDialog WorldFileDialog;
    platform::FileDialog BitmapFileDialog;
    char FileNameBuffer[kFileNameBufferSize];
    char WorldPath[kFileNameBufferSize];  // the dialogs reuse FileNameBuffer
    WldHeader Header;
    BmpHeader Bmp;
    std::uint8_t BmpHeaderPrefix[kBmpPrefixSize];
    std::uint32_t* OffsetRow;
    LayerSlot Layers[kLayerCount];
};
