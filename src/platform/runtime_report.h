// The text of a runtime error report, built without allocating: it is also
// made inside fault handlers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::report {

inline constexpr int kMaxFrames = 64;
// Frames shown on a screen (a terminal, a console window), where the first
// lines must not scroll away; a file or a pipe gets them all.
inline constexpr int kScreenFrames = 9;
// A report is at most this long: its first line, the frames, the empty line.
inline constexpr std::size_t kMaxLength = 64 + kMaxFrames * 16;

// Said on standard error when an interrupt waited for the move in hand.
inline constexpr char kInterruptedAfterMove[] =
    "Interrupted: the move in hand was finished first (its line says how it ended); the run ends here";

// Said on standard error when standard output itself cannot be written and
// so cannot carry the report; the system's error code follows.
inline constexpr char kConsoleLost[] = "Runtime error 101: standard output cannot be written (error ";

inline char* PutText(char* out, const char* text) {
    while (*text != '\0') *out++ = *text++;
    return out;
}

inline char* PutHex8(char* out, std::uint32_t value) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (int shift = 28; shift >= 0; shift -= 4) *out++ = kDigits[(value >> shift) & 0xF];
    return out;
}

inline char* PutDecimal(char* out, unsigned value) {
    char digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) *out++ = digits[--n];
    return out;
}

// "Runtime error n at 0x...", one "  0x..." line per frame, an empty line;
// addresses are already made relative. Returns the length written to out,
// which holds kMaxLength bytes.
inline std::size_t Format(char* out, int code, std::uint32_t address, const std::uint32_t* frames, int frameCount) {
    char* end = PutText(out, "Runtime error ");
    end = PutDecimal(end, static_cast<unsigned>(code));
    end = PutText(end, " at 0x");
    end = PutHex8(end, address);
    end = PutText(end, "\r\n");
    for (int i = 0; i < frameCount && i < kMaxFrames; ++i) {
        end = PutText(end, "  0x");
        end = PutHex8(end, frames[i]);
        end = PutText(end, "\r\n");
    }
    end = PutText(end, "\r\n");
    return static_cast<std::size_t>(end - out);
}

// The report of a fault at address: at most frameLimit of the frames, each
// address made relative by relative (to the module it lies in). Returns the
// length written to out, which holds kMaxLength bytes.
template <typename Relative>
std::size_t Describe(char* out, int code, const void* address, void* const* frames, int frameCount, int frameLimit,
                     Relative relative) {
    std::uint32_t relativeFrames[kMaxFrames];
    int count = frameCount < frameLimit ? frameCount : frameLimit;
    if (count > kMaxFrames) count = kMaxFrames;
    for (int i = 0; i < count; ++i) relativeFrames[i] = relative(frames[i]);
    return Format(out, code, relative(address), relativeFrames, count);
}

}  // namespace platform::report
