// The check of an import file's first bytes: which kind it is, and the one
// refusal line (with a note on standard error that says what to do) for a
// file the tool cannot take.
#include <cstdio>
#include <cstring>

#include "bitmap/bmp.h"
#include "platform/le_bytes.h"
#include "report/console_text.h"

using namespace bmp_field;

namespace {

// What every note about a file that must be saved again suggests.
constexpr char kSaveAsPng[] =
    "save the layer as PNG (GIMP: File > Export As, a name ending in .png; ImageMagick: convert IN OUT.png; "
    "Paint: Save as > PNG picture)";

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

BmpVerdict Refuse(std::string line, std::string note) {
    BmpVerdict verdict{};
    verdict.Line = std::move(line);
    verdict.Note = std::move(note);
    return verdict;
}

std::string NotValid(std::string_view path) { return std::string(path) + " is not a valid BMP file!"; }

bool StartsWith(const std::uint8_t* head, std::uint32_t got, std::string_view magic, std::uint32_t at = 0) {
    return got >= at + magic.size() && std::memcmp(head + at, magic.data(), magic.size()) == 0;
}

// A file that is neither BMP nor PNG, named by its first bytes where they
// say what it is.
std::string ForeignNote(const std::uint8_t* head, std::uint32_t got) {
    const char* what = nullptr;
    if (StartsWith(head, got, "\xFF\xD8\xFF"))
        return "The file is a JPEG image, which this tool does not read (and JPEG blurs the values): export the "
               "layer again, and after editing it, save it as PNG or BMP";
    if (StartsWith(head, got, "gimp xcf"))
        return "The file is a GIMP project (.xcf), not an image: in GIMP use File > Export As with a name ending "
               "in .png or .bmp";
    if (StartsWith(head, got, "GIF8")) what = "a GIF image";
    if (StartsWith(head, got, "II*") || StartsWith(head, got, std::string_view("MM\0*", 4))) what = "a TIFF image";
    if (StartsWith(head, got, "RIFF") && StartsWith(head, got, "WEBP", 8)) what = "a WebP image";
    if (StartsWith(head, got, "8BPS")) what = "a Photoshop document";
    std::string found = what != nullptr
                            ? std::string("The file is ") + what + ", not a BMP or PNG"
                            : "The file is neither a BMP nor a PNG (it begins with the bytes " + Hex(head[0], 2) + " " +
                                  Hex(head[1], 2) + " " + Hex(head[2], 2) + " " + Hex(head[3], 2) + ")";
    return found + ": " + kSaveAsPng;
}

std::string CompressionName(std::uint32_t compression) {
    switch (compression) {
        case 4: return "JPEG";
        case 5: return "PNG";
        case 6: return "alpha bit fields";
        case 11: return "CMYK";
        case 12: return "CMYK RLE8";
        case 13: return "CMYK RLE4";
        default: return "compression type " + console::Dec(compression);
    }
}

constexpr char kSaveUncompressed[] =
    "save it as an uncompressed BMP or as PNG (ImageMagick: convert IN -compress none BMP3:OUT.bmp; GIMP: File > "
    "Export As, a name ending in .png)";

bool IsKnownBitCount(std::uint16_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The pairs of compression and bit count that BMP defines.
bool IsReadableKind(std::uint32_t compression, std::uint16_t bits) {
    switch (compression) {
        case 0: return IsKnownBitCount(bits);
        case 1: return bits == 8;
        case 2: return bits == 4;
        default: return bits == 16 || bits == 32;
    }
}

std::string DepthNote(std::uint32_t compression, std::uint16_t bits) {
    constexpr char kSaveDepth[] =
        "save it with 8 bits per pixel (indexed), 24 or 32, or as PNG (ImageMagick: convert IN -type Palette "
        "-compress none BMP3:OUT.bmp; GIMP: File > Export As, a name ending in .png)";
    if (!IsKnownBitCount(bits))
        return "The BMP has " + console::Dec(bits) + " bits per pixel, which this tool does not read: " + kSaveDepth;
    const char* names[] = {"no compression", "RLE8 compression", "RLE4 compression", "bit fields"};
    return std::string("The BMP gives ") + names[compression] + " with " + console::Dec(bits) +
           " bits per pixel, which do not go together (the file is damaged): " + kSaveDepth;
}

std::string SizeNote(std::uint32_t width, std::int64_t height, const ImportLayer& layer) {
    const std::string needed = console::Dec(layer.Width) + " x " + console::Dec(layer.Height);
    std::string note = "The image is " + console::Dec(width) + " x " + std::to_string(height) + " pixels; " +
                       layer.Name + " of this world needs exactly " + needed;
    if (layer.Block > 1) note += " (" + console::Dec(layer.Block) + " x " + console::Dec(layer.Block) + " per cell)";
    // Scaling would smear the values over their neighbours: the way back is a
    // fresh export of this world, painted at its own size.
    return note + ": is it the bitmap of another layer or world? Export the layer from this world again and " +
           "paint on that, without scaling or cropping it";
}

// Width, then height, as the header gives them.
bool JudgeSize(std::uint32_t width, std::int64_t height, const ImportLayer& layer, BmpVerdict* verdict) {
    if (width != layer.Width) {
        *verdict =
            Refuse("Width of BMP is not equal to " + console::Dec(layer.Width) + "!", SizeNote(width, height, layer));
        return false;
    }
    if (height != layer.Height) {
        *verdict =
            Refuse("Height of BMP is not equal to " + console::Dec(layer.Height) + "!", SizeNote(width, height, layer));
        return false;
    }
    return true;
}

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

BmpVerdict JudgePng(const std::uint8_t* head, std::uint32_t got, const ImportLayer& layer, std::string_view path) {
    // The signature, then the header chunk: length 13, "IHDR", its fields.
    if (got < 29 || be::Get32(head + 8) != 13 || !StartsWith(head, got, "IHDR", 12))
        return Refuse(NotValid(path),
                      "The file begins as a PNG but its header chunk (IHDR) cannot be read: it is damaged; save it "
                      "again");
    PngHeader png{be::Get32(head + 16), be::Get32(head + 20), head[24], head[25], head[26], head[27], head[28]};
    BmpVerdict verdict{};
    if (!JudgeSize(png.Width, png.Height, layer, &verdict)) return verdict;
    if (!IsPngDepth(png.ColourType, png.Depth) || png.Compression != 0 || png.Filter != 0 || png.Interlace > 1)
        return Refuse(NotValid(path), "The PNG header gives colour type " + console::Dec(png.ColourType) +
                                          " with bit depth " + console::Dec(png.Depth) +
                                          " (or another field PNG does not define): the file is damaged; save it "
                                          "again");
    verdict.Accepted = true;
    verdict.Kind = ImportKind::Png;
    verdict.Png = png;
    return verdict;
}

}  // namespace

console::LineEnd HeaderError(const char* action, std::uint32_t code) {
    return console::ErrorEnd(code, action, "BMP header");
}

BmpVerdict RefuseAsInvalid(std::string_view path, std::string note) { return Refuse(NotValid(path), std::move(note)); }

BmpVerdict JudgeImportHead(const std::uint8_t* head, std::uint32_t got, std::uint64_t fileSize,
                           const ImportLayer& layer, std::string_view path) {
    if (got < kBmpPrefixSize)
        return Refuse(NotValid(path), "The file holds only " + console::Dec(got) +
                                          " bytes, too few for an image: it is empty or cut short; export the layer "
                                          "again, or save your edit again");
    BmpVerdict verdict{};
    if (std::memcmp(head, kPngSignature, sizeof kPngSignature) == 0) {
        verdict = JudgePng(head, got, layer, path);
        verdict.FileSize = fileSize;
        return verdict;
    }
    if (head[kBfType] != 'B' || head[kBfType + 1] != 'M') return Refuse(NotValid(path), ForeignNote(head, got));
    const std::uint32_t pixelStart = le::Get32(head + kBfOffBits);
    if (pixelStart < kBmpMinPixelStart || pixelStart > fileSize)
        return Refuse(NotValid(path), "The BMP header puts the pixels at byte " + console::Dec(pixelStart) +
                                          ", outside the file's " + console::Dec(fileSize) +
                                          " bytes: it is damaged or cut short; save it again");

    const std::uint32_t compression = le::Get32(head + kBiCompression);
    if (compression > 3)
        return Refuse("BMP is compressed!", "The BMP is compressed with " + CompressionName(compression) +
                                                ", which this tool does not read: " + kSaveUncompressed);
    const std::uint16_t bits = le::Get16(head + kBiBitCount);
    if (!IsReadableKind(compression, bits))
        return Refuse("BMP is the wrong color depth!", DepthNote(compression, bits));
    if (compression == 3) {
        for (int c = 0; c < 3; ++c)
            verdict.Masks[c] = le::Get32(head + kBmpMasksAt + 4 * c);  // zero where the file ends first
        for (int c = 0; c < 3; ++c) {
            ChannelMask mask{};
            if (!AnalyseMask(verdict.Masks[c], &mask))
                return Refuse("BMP is the wrong color depth!",
                              "The BMP's colour masks (red " + Hex(verdict.Masks[0], 8) + ", green " +
                                  Hex(verdict.Masks[1], 8) + ", blue " + Hex(verdict.Masks[2], 8) +
                                  ") are not each one run of bits: save it as a 24-bit BMP or as PNG");
        }
    }

    const auto storedHeight = static_cast<std::int32_t>(le::Get32(head + kBiHeight));
    const std::int64_t height = storedHeight < 0 ? -std::int64_t{storedHeight} : storedHeight;
    const std::uint32_t width = le::Get32(head + kBiWidth);
    if (!JudgeSize(width, height, layer, &verdict)) return verdict;

    verdict.Accepted = true;
    verdict.Kind = compression == 0 && bits == 8 ? ImportKind::Indexed8 : ImportKind::Bmp;
    verdict.FileSize = fileSize;
    verdict.PixelStart = pixelStart;
    verdict.TopDown = storedHeight < 0;
    verdict.InfoSize = le::Get32(head + kBiSize);
    verdict.BitCount = bits;
    verdict.Compression = compression;
    verdict.ColoursUsed = le::Get32(head + kBiClrUsed);

    // Another kind is decoded whole: its last stored row must be there, all
    // but its padding. An RLE stream is decoded as far as it goes.
    if (verdict.Kind == ImportKind::Bmp && (compression == 0 || compression == 3)) {
        const std::uint64_t rowBytes = (std::uint64_t{width} * bits + 7) / 8;
        const std::uint64_t lastRowEnd = SpanEnd(pixelStart, RowStride(rowBytes), layer.Height - 1) + rowBytes;
        if (lastRowEnd > fileSize)
            return Refuse(NotValid(path), "The BMP ends after " + console::Dec(fileSize) +
                                              " bytes, before the end of its last pixel row at byte " +
                                              console::Dec(lastRowEnd) + ": it is cut short; save it again");
    }
    return verdict;
}

console::LineEnd EndOf(const BmpVerdict& verdict) {
    return verdict.Accepted ? console::Done() : console::RefusalEnd(verdict.Line, verdict.Note);
}

console::LineEnd CheckBmpHeader(std::uint8_t (&head)[kImportHeadSize], platform::FileHandle file,
                                const ImportLayer& layer, std::string_view path, BmpVerdict* verdict) {
    // Judge only what this file delivered, never bytes of an earlier header.
    std::memset(head, 0, sizeof head);
    std::uint32_t got = 0;
    std::uint64_t fileSize = 0;
    if (!platform::ReadFile(file, head, kImportHeadSize, &got) || !platform::GetFileSize(file, &fileSize))
        return HeaderError("reading", platform::LastError());
    *verdict = JudgeImportHead(head, got, fileSize, layer, path);
    return EndOf(*verdict);
}
