// The answers given ahead (GiveAnswers), as both systems' dialogs and boxes
// take them: one for each question in turn.
#pragma once

#include "platform/platform.h"

namespace platform::given {

struct Turn {
    const GivenAnswer* Answer;  // nullptr: none given, ask as usual
    bool First;                 // the run's first given answer (the world)
};

// The next given answer, taken by the question in hand.
Turn Next();
// Whether a Save dialog may take an existing file.
bool MayReplace();
// The question in hand could not use its given answer.
void Refused();

}  // namespace platform::given
