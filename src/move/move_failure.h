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
    std::string Path;
    std::string Advice;  // what happened to this file and what to do, before what the code means
};

// Keeps the first failure only.
inline void NoteFailure(MoveFailure& failure, std::uint32_t code, const char* action, std::string path,
                        std::string advice = {}) {
    if (!failure.Failed) failure = {true, code, action, std::move(path), std::move(advice)};
}

// The same for a call that reports through LastError(); returns ok.
inline bool NoteMove(MoveFailure& failure, bool ok, const char* action, const char* path) {
    if (!ok) NoteFailure(failure, platform::LastError(), action, path);
    return ok;
}

// How the move's progress line ends.
inline console::LineEnd EndOf(const MoveFailure& failure) {
    if (!failure.Failed) return console::Done();
    return console::ErrorEnd(failure.Code, failure.Action, failure.Path, failure.Advice);
}
