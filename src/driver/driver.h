#pragma once

#include "bitmap/bmp.h"
#include "driver/state.h"
#include "world/layers.h"
#include "world/world.h"

// The question text of every layer box: two lines, joined by a line feed.
inline constexpr char kLayerQuestion[] =
    "Do you wish to export this data to a BMP file?\n"
    "Choose 'No' to import data instead, or 'Cancel' to skip.";

// Asks about LandType, LandHeight and LargeMap, always all three, and stages
// the chosen export or import of each: its file open, its header written or
// checked.
void StageLayers(DialogState& dialogs, const WldHeader& header, BitmapState& bitmap, LayerSlot (&layers)[kLayerCount]);

// The whole run, banner to closing; the process's exit code.
int RunTool(AppState& state);
