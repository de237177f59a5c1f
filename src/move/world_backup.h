// No import without a way back. Before the first world byte that a move
// changes, the world as it stands is copied whole to WORLD.bak beside it
// (once a run), and the move leaves a marker, WORLD.importing, that it
// removes only once the world is on disk. A run that finds the marker knows
// that an import died half-way and puts the world back from the backup.
// Both movers (the SmallMap copy and the LM pass) go through here.
#pragma once

#include <cstdint>
#include <string>

#include "move/move_failure.h"
#include "platform/platform.h"
#include "report/console_text.h"

// The world's path with ".bak.tmp" appended.
inline constexpr std::uint32_t kBackupPathSize = platform::kFileNameBufferSize + 8;

struct WorldBackup {
    bool Made;                   // this run's backup is in place
    bool JustMade;               // by the move in hand: standard error says so once its line is complete
    bool Marked;                 // the move in hand has left its marker
    bool Blocked;                // a marker was found and the world is held without a lock: no move writes
    char Path[kBackupPathSize];  // WORLD.bak
};

// "WORLD.importing"
std::string MarkerPath(const char* worldPath);

// Right before the first world byte of a move changes: the backup, unless
// the run has made it already, then the move's marker, flushed with its
// folder. False when either cannot be had: failure then ends the move's line
// with the path, the failed call's code and what to do, and the move must
// not write.
bool BeginWorldWrites(WorldBackup& backup, platform::FileHandle world, const char* worldPath, MoveFailure& failure);

// When a move ends, before its line: a move that left its marker has the
// world flushed to disk, then the marker removed and the folder flushed. A
// failed flush keeps the marker, so that the next run puts the world back.
void EndWorldWrites(WorldBackup& backup, platform::FileHandle world, const char* worldPath, MoveFailure& failure);

// After the move's line: where the backup is, when this move made it.
void TellBackup(WorldBackup& backup);

// Once the world is opened and held, before its header is read: a marker
// left by an import that died puts the world back from a backup of the same
// world. False when putting it back failed; the error line is printed then,
// and the run must end.
bool PutBackDiedImport(console::Report& report, WorldBackup& backup, platform::FileHandle world, const char* worldPath);
