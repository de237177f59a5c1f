// No import without a backup: before the first move of a run that imports
// writes a byte of the world, the world as it stands is copied whole to
// WORLD.bak beside it. Both movers (the SmallMap copy and the LM pass) make it
// through here; once made, it serves the rest of the run.
#pragma once

#include <cstdint>

#include "move/move_failure.h"
#include "platform/platform.h"

// The world's path with ".bak.tmp" appended.
inline constexpr std::uint32_t kBackupPathSize = platform::kFileNameBufferSize + 8;

struct WorldBackup {
    bool Made;
    bool JustMade;               // by the move in hand: standard error says so once its line is complete
    char Path[kBackupPathSize];  // WORLD.bak
};

// The backup, unless the run has made it already. False when it cannot be
// made: failure then ends the move's line with the backup's path, the failed
// call's code and what to do, and the move must not write.
bool BackUpWorld(WorldBackup& backup, platform::FileHandle world, const char* worldPath, MoveFailure& failure);

// After the move's line: where the backup is, when this move made it.
void TellBackup(WorldBackup& backup);
