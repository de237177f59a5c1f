// What every step of an import's check says: the file is accepted, refused
// with one line of the report, or could not be read. The notes for standard
// error travel with it, so that the step that prints the line says them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "bitmap/layer_colours.h"
#include "report/console_text.h"

// The layer an import is for: its size in pixels, its name and colours for
// the notes and the values.
struct ImportLayer {
    const char* Name;
    Palette Colours;
    std::uint32_t Width;
    std::uint32_t Height;
    std::uint32_t Block;  // pixels per map cell, each way
    bool TopFirst;        // its mover may take the rows top first, as a stream of them comes
};

enum class Verdict { Accepted, Refused, ReadFailed };

struct ImportVerdict {
    Verdict Outcome;
    std::uint32_t Code;  // ReadFailed: the failed read's
    std::string Line;    // Refused: the refusal line, without its line end
    std::string Note;    // for standard error: why it was refused and how to save it right, or how it was taken
};

inline ImportVerdict Accepted(std::string note = {}) { return {Verdict::Accepted, 0, {}, std::move(note)}; }
inline ImportVerdict Refused(std::string line, std::string note) {
    return {Verdict::Refused, 0, std::move(line), std::move(note)};
}
inline ImportVerdict ReadFailed(std::uint32_t code) { return {Verdict::ReadFailed, code, {}, {}}; }

// path + " is not a valid BMP file!" (the same words for any kind).
inline ImportVerdict RefusedAsInvalid(std::string_view path, std::string note) {
    return Refused(std::string(path) + " is not a valid BMP file!", std::move(note));
}

// "Error <code> reading BMP header!" or "... writing ...", as a line's end.
inline console::LineEnd HeaderError(const char* action, std::uint32_t code) {
    return console::ErrorEnd(code, action, "BMP header");
}

// How the step's progress line ends: Done, the refusal with its note, or the
// failed read.
inline console::LineEnd EndOf(const ImportVerdict& verdict) {
    switch (verdict.Outcome) {
        case Verdict::Accepted: return console::Done();
        case Verdict::Refused: return console::RefusalEnd(verdict.Line, verdict.Note);
        case Verdict::ReadFailed: break;
    }
    return HeaderError("reading", verdict.Code);
}

// What a file that is cut short is told, for every kind: what is missing,
// then what that means.
std::string CutShortNote(const std::string& missing);

// Width, then height, as the file's header gives them: Accepted, or the
// refusal with a note that says what the layer needs.
ImportVerdict JudgeSize(std::uint32_t width, std::int64_t height, const ImportLayer& layer);

// "LandHeight: taken by colour from a PNG (...); every pixel is exactly grey",
// or how many pixels were not.
std::string TakenByColourNote(const ImportLayer& layer, const std::string& kind, std::uint64_t offColour);
