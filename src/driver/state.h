// The tool's one state record: zero at start, owned by main, passed by
// reference. Each part is declared by the subsystem that owns it; every
// step takes only the parts it uses.
#pragma once

#include "bitmap/bmp.h"
#include "platform/platform.h"
#include "world/layers.h"
#include "world/world.h"

// The driver's part: the two dialog descriptions and the one path buffer
// that every dialog and every open shares.
struct DialogState {
    platform::FileDialog WorldFileDialog;
    platform::FileDialog BitmapFileDialog;
    char FileNameBuffer[platform::kFileNameBufferSize];
};

struct AppState {
    WorldFile World;
    LayerSlot Layers[kLayerCount];
    BitmapState Bitmap;
    DialogState Dialogs;
};
