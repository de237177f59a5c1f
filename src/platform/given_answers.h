// The answers given ahead (GivenAnswers), as both systems' dialogs and boxes
// take them: one for each question in turn.
#pragma once

#include "platform/platform.h"

namespace platform::given {

struct Turn {
    const GivenAnswer* Answer;  // nullptr: none given, ask as usual
    bool First;                 // the run's first given answer (the world)
};

// The next given answer, taken by the question in hand.
Turn Next(GivenAnswers* given);
// Whether a Save dialog may take an existing file.
inline bool MayReplace(const GivenAnswers* given) { return given != nullptr && given->Replace; }
// The question in hand could not use its given answer.
inline void Refused(GivenAnswers* given) {
    if (given != nullptr) given->Refused = true;
}

}  // namespace platform::given
