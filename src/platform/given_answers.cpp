// Answers given ahead, the same on every platform.
#include "platform/given_answers.h"

#include <utility>

namespace platform {
namespace {

std::vector<GivenAnswer> g_answers;
std::size_t g_next = 0;
bool g_replace = false;
bool g_refused = false;

}  // namespace

void GiveAnswers(std::vector<GivenAnswer> answers, bool replace) {
    g_answers = std::move(answers);
    g_next = 0;
    g_replace = replace;
    g_refused = false;
}

bool GivenAnswersTaken() { return !g_refused && g_next == g_answers.size(); }

namespace given {

Turn Next() {
    if (g_next == g_answers.size()) return {nullptr, false};
    const bool first = g_next == 0;
    return {&g_answers[g_next++], first};
}

bool MayReplace() { return g_replace; }

void Refused() { g_refused = true; }

}  // namespace given
}  // namespace platform
