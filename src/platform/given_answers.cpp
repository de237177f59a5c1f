// Answers given ahead, the same on every platform.
#include "platform/given_answers.h"

namespace platform::given {

Turn Next(GivenAnswers* given) {
    if (given == nullptr || given->Next == given->Answers.size()) return {nullptr, false};
    const bool first = given->Next == 0;
    return {&given->Answers[given->Next++], first};
}

}  // namespace platform::given
