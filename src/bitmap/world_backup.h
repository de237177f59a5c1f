// No import without a backup: before the first move of a run that imports
// writes a byte of the world, the world as it stands is copied whole to
// WORLD.bak beside it. Both movers (the SmallMap copy and the LM pass) make it
// through here; once made, it serves the rest of the run.
#pragma once

#include <cstdint>

#include "bitmap/move_failure.h"
#include "platform/platform.h"

// The world's path with ".bak.tmp" appended.
inline constexpr std::uint32_t kBackupPathSize = platform::kFileNameBufferSize + 8;

// What standard error says once the move's line is complete.
enum class BackupNews { None, Saved, Refused };

struct WorldBackup {
    bool Made;
    BackupNews News;
    platform::CopyStep FailedStep;
    char Path[kBackupPathSize];  // WORLD.bak
};

// The backup, unless the run has made it already. False when it cannot be
// made: failure then ends the move's line with the backup's path and the
// failed call's code, and the move must not write.
bool BackUpWorld(WorldBackup& backup, platform::FileHandle world, const char* worldPath, MoveFailure& failure);

// After the move's line: where the backup is, or why it could not be made and
// what to do.
void TellBackup(WorldBackup& backup);
