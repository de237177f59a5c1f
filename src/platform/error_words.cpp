#include "platform/error_words.h"

#include "platform/platform.h"

namespace platform {

ErrorMeaning DescribeError(std::uint32_t code) {
    if (const words::Words* words = words::WordsFor(code, words::ThisSystem())) return {words->Meaning, words->Next};
    return {"\"" + words::SystemErrorText(code) + "\" here", "Check the file and its folder, then run again."};
}

}  // namespace platform
