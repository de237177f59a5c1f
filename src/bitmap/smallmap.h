// SmallMap moves at once, row by row, between its block in the world file
// and a bitmap file.
#pragma once

struct AppState;

void ExportSmallMap(AppState& state);
void ImportSmallMap(AppState& state);
