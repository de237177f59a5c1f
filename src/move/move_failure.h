// The first failed read, write or positioning while map data moves, for
// both movers (the SmallMap copy and the LM pass). Later moves are not
// attempted; the step's line ends with this failure.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "report/console_text.h"

struct MoveFailure {
    bool Failed;
    std::uint32_t Code;
    const char* Action;  // "reading" or "writing"
    const char* Path;
    std::string Advice;  // what to do, beyond what the code means
};

// Keeps the first failure only; returns ok.
inline bool NoteMove(MoveFailure& failure, bool ok, const char* action, const char* path) {
    if (!ok && !failure.Failed) failure = {true, platform::LastError(), action, path, {}};
    return ok;
}

// How the move's progress line ends.
inline console::LineEnd EndOf(const MoveFailure& failure) {
    if (!failure.Failed) return console::Done();
    return console::ErrorEnd(failure.Code, failure.Action, failure.Path, failure.Advice);
}
