#pragma once

#include "move/lm_pass.h"
#include "world/layers.h"
#include "world/world.h"

// The LM pass as plainly as it can be written: one transfer per record,
// block row and byte. The fast pass must leave the same bytes and lines.
void RunReferenceLmPass(console::Report& report, WorldFile& world, WorldBackup& backup,
                        LayerSlot (&layers)[kLayerCount]);
