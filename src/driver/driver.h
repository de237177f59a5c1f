#pragma once

#include "bitmap/bmp.h"
#include "driver/state.h"
#include "move/lm_pass.h"
#include "world/layers.h"
#include "world/world.h"

// The question text of every layer box: two lines, joined by a line feed.
inline constexpr char kLayerQuestion[] =
    "Do you wish to export this data to a BMP file?\n"
    "Choose 'No' to import data instead, or 'Cancel' to skip.";

// The layers in the order of their questions: SmallMap, then the table's.
inline constexpr int kQuestionCount = 1 + kLayerCount;
inline constexpr const char* QuestionLayer(int question) {
    return question == 0 ? "SmallMap" : kRecordLayers[question - 1].Name;
}

// The question about layer `question` (0 for SmallMap) under caption. A
// script's line that is none of the box's words may have been meant for an
// earlier or later question, so the file name it is followed by would reach
// the wrong layer: it cancels this layer and every later one, whose
// questions then read no lines, and standard error names them.
platform::Answer AskLayerQuestion(DialogState& dialogs, int question, const char* caption);

// Asks about LandType, LandHeight and LargeMap, always all three, and stages
// the chosen export or import of each: its file open, its header written or
// checked.
void StageLayers(console::Report& report, DialogState& dialogs, const WorldFile& world, BitmapState& bitmap,
                 LayerSlot (&layers)[kLayerCount]);

// The whole run, banner to closing; the process's exit code.
int RunTool(AppState& state);
