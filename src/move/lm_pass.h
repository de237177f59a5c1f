// The one pass over every cell record that moves the staged layers of the
// record table, and the slots that staging leaves for it.
#pragma once

#include "bitmap/export_file.h"
#include "bitmap/import_source.h"
#include "move/world_backup.h"
#include "platform/platform.h"
#include "report/console_text.h"
#include "world/layers.h"
#include "world/world.h"

struct LayerSlot {
    ExportFile Export;  // export: its file, BMP or PNG
    bool ExportStaged;
    bool ImportStaged;
    ImportSource Import;                       // import: its file, and where its picture rows come from
    char Path[platform::kFileNameBufferSize];  // kept for the pass's error line
};

// Moves every staged layer in one pass over the records, then closes their
// files. The world is backed up, and the move marked, right before the first
// batch of records that changes goes back; an export of a pass that stops is
// removed.
void RunLmPass(console::Report& report, WorldFile& world, WorldBackup& backup, LayerSlot (&layers)[kLayerCount]);
