#pragma once

struct AppState;

// The question text of every layer box: two lines, joined by a line feed.
inline constexpr char kLayerQuestion[] =
    "Do you wish to export this data to a BMP file?\n"
    "Choose 'No' to import data instead, or 'Cancel' to skip.";

// Asks about LandType, LandHeight and LargeMap, always all three, and stages
// the chosen export or import of each.
void StageLayers(AppState& state);

// The whole run, banner to closing; the process's exit code.
int RunTool(AppState& state);
