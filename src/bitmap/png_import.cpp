#include "bitmap/png_import.h"

#include <cstring>

#include "platform/le_bytes.h"

namespace {

// PNG bit depths by colour type: grey, -, RGB, palette, grey and alpha, -, RGBA.
bool IsPngDepth(std::uint8_t colourType, std::uint8_t depth) {
    switch (colourType) {
        case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
        case 2:
        case 4:
        case 6: return depth == 8 || depth == 16;
        default: return false;
    }
}

}  // namespace

bool IsPng(const std::uint8_t* head, std::uint32_t got) {
    return got >= sizeof kPngSignature && std::memcmp(head, kPngSignature, sizeof kPngSignature) == 0;
}

ImportVerdict JudgePngHead(const std::uint8_t* head, std::uint32_t got, std::uint64_t fileSize,
                           const ImportLayer& layer, std::string_view path, PngHeader* out) {
    (void)fileSize;  // a PNG's wholeness shows in its decoding
    // The signature, then the header chunk: length 13, "IHDR", its fields.
    if (got < 29 || be::Get32(head + 8) != 13 || std::memcmp(head + 12, "IHDR", 4) != 0)
        return RefusedAsInvalid(path,
                                "The file begins as a PNG but its header chunk (IHDR) cannot be read: it is damaged; "
                                "save it again");
    const PngHeader png{be::Get32(head + 16), be::Get32(head + 20), head[24], head[25], head[26], head[27], head[28]};
    if (const ImportVerdict size = JudgeSize(png.Width, png.Height, layer); size.Outcome != Verdict::Accepted)
        return size;
    if (!IsPngDepth(png.ColourType, png.Depth) || png.Compression != 0 || png.Filter != 0 || png.Interlace > 1)
        return RefusedAsInvalid(path, "The PNG header gives colour type " + console::Dec(png.ColourType) +
                                          " with bit depth " + console::Dec(png.Depth) +
                                          " (or another field PNG does not define): the file is damaged; save it "
                                          "again");
    *out = png;
    return Accepted();
}

ImportVerdict OpenPng(const ImportFile& file, const PngHeader& png, const ImportLayer& layer, ImportSource* source) {
    DecodedImage image{};
    const DecodeOutcome outcome = DecodePng(file.Handle, png, file.Size, layer, &image);
    if (outcome.Result == DecodeResult::ReadFailed) return ReadFailed(outcome.Code);
    if (outcome.Result == DecodeResult::Invalid) return RefusedAsInvalid(file.Path, outcome.Note);
    source->Reading = RowSource::Decoded;
    source->PixelStart = 0;
    source->TopDown = false;
    source->Decoded = std::move(image.Values);
    source->Note = TakenByColourNote(layer, image.Kind, image.OffColour);
    return Accepted();
}
