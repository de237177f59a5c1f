// The banner's frame: code page 437 bytes, or the same box in UTF-8 for a
// console that expects UTF-8. Shared by both platform layers.
#pragma once

#include <string>
#include <string_view>

namespace platform {

inline std::string FrameAsUtf8(std::string_view cp437) {
    std::string text;
    for (char c : cp437) {
        switch (static_cast<unsigned char>(c)) {
            case 201: text += "\u2554"; break;
            case 205: text += "\u2550"; break;
            case 187: text += "\u2557"; break;
            case 186: text += "\u2551"; break;
            case 200: text += "\u255A"; break;
            case 188: text += "\u255D"; break;
            default: text += c; break;
        }
    }
    return text;
}

}  // namespace platform
