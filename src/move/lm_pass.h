// The one pass over every cell record that moves the staged layers of the
// record table, and the slots that staging leaves for it.
#pragma once

#include "bitmap/import_source.h"
#include "move/world_backup.h"
#include "platform/platform.h"
#include "world/layers.h"
#include "world/world.h"

struct LayerSlot {
    platform::FileHandle ExportHandle;
    platform::FileHandle ImportHandle;
    bool ExportStaged;
    bool ImportStaged;
    ImportSource Import;                       // import: where its stored rows come from
    char Path[platform::kFileNameBufferSize];  // kept for the pass's error line
};

// Moves every staged layer in one pass over the records, then closes their
// files. An import backs the world up first (once a run).
void RunLmPass(WorldFile& world, WorldBackup& backup, LayerSlot (&layers)[kLayerCount]);
