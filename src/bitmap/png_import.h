// The PNG kind of import: its header chunk judged, the image decoded by colour.
#pragma once

#include <cstdint>
#include <string_view>

#include "bitmap/image_decode.h"
#include "bitmap/import_source.h"
#include "bitmap/import_verdict.h"

bool IsPng(const std::uint8_t* head, std::uint32_t got);

// Judges the header chunk after the signature (got first bytes; the file
// holds fileSize) against the layer.
ImportVerdict JudgePngHead(const std::uint8_t* head, std::uint32_t got, std::uint64_t fileSize,
                           const ImportLayer& layer, std::string_view path, PngHeader* out);

// An accepted PNG made ready for the movers.
ImportVerdict OpenPng(const ImportFile& file, const PngHeader& png, const ImportLayer& layer, ImportSource* source);
