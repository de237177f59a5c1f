// The kinds of image file an import takes, a row each: how its first bytes
// are recognised, how they are judged against the layer, how the file is
// made ready for the movers, what notes call it and the Open dialog's
// pattern for it. A new kind is a decoder of its own (IsX, JudgeXHead,
// OpenX, as bmp_decode.h has them) and a row in image_kinds.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bitmap/bmp.h"
#include "bitmap/import_source.h"
#include "bitmap/import_verdict.h"
#include "platform/platform.h"

struct ImageKind {
    const char* Name;     // as notes call it: "BMP"
    const char* Pattern;  // the Open dialog's: "*.BMP"
    bool (*Recognise)(const std::uint8_t* head, std::uint32_t got);
    // The first bytes (got of them; the file holds fileSize) judged against
    // the layer, in the order the refusal lines take precedence.
    ImportVerdict (*Judge)(const std::uint8_t* head, std::uint32_t got, std::uint64_t fileSize,
                           const ImportLayer& layer, std::string_view path);
    // The same, then the accepted file made ready for the movers.
    ImportVerdict (*Open)(const ImportFile& file, const ImportLayer& layer, ImportSource* source);
};

// The table's rows, and where they end.
const ImageKind* ImageKindsBegin();
const ImageKind* ImageKindsEnd();

// Judges an import's first bytes: too few for any image, no kind of the
// table, or the kind's own judgement.
ImportVerdict JudgeImportHead(const std::uint8_t* head, std::uint32_t got, std::uint64_t fileSize,
                              const ImportLayer& layer, std::string_view path);

// Reads an import's first bytes into head, judges them, and makes the file
// ready for its mover as its kind says. The source owns the file from here
// on, accepted or not; CloseImportSource closes it.
ImportVerdict OpenImportSource(std::uint8_t (&head)[kImportHeadSize], platform::FileHandle file,
                               const ImportLayer& layer, std::string_view path, ImportSource* source);

// The Open dialog's filter for imports: "Image files (*.bmp;*.png)" and
// "*.BMP;*.PNG"; and "BMP or PNG" for the help.
std::string ImportFilterText();
std::string ImportFilterPatterns();
std::string ImportKindNames();
