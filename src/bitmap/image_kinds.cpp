#include "bitmap/image_kinds.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "bitmap/bmp_decode.h"
#include "bitmap/png_decode.h"

namespace {

// A row of the table from a kind's three functions: its judge fills in a
// record of its own (Head), which its opener then takes.
template <typename Head, auto Judge, auto Open>
constexpr ImageKind Kind(const char* name, const char* pattern, bool (*recognise)(const std::uint8_t*, std::uint32_t)) {
    return {name, pattern, recognise,
            [](const std::uint8_t* head, std::uint32_t got, std::uint64_t fileSize, const ImportLayer& layer,
               std::string_view path) {
                Head found{};
                return Judge(head, got, fileSize, layer, path, &found);
            },
            [](const ImportFile& file, const ImportLayer& layer, ImportSource* source) {
                Head found{};
                const ImportVerdict verdict = Judge(file.Head, file.Got, file.Size, layer, file.Path, &found);
                return verdict.Outcome == Verdict::Accepted ? Open(file, found, layer, source) : verdict;
            }};
}

const ImageKind kImageKinds[] = {
    Kind<BmpHead, JudgeBmpHead, OpenBmp>("BMP", "*.BMP", IsBmp),
    Kind<PngHeader, JudgePngHead, OpenPng>("PNG", "*.PNG", IsPng),
};

bool StartsWith(const std::uint8_t* head, std::uint32_t got, std::string_view magic, std::uint32_t at = 0) {
    return got >= at + magic.size() && std::memcmp(head + at, magic.data(), magic.size()) == 0;
}

std::string Hex(std::uint8_t value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

// A file of no kind the table has, named by its first bytes where they say
// what it is.
std::string ForeignNote(const std::uint8_t* head, std::uint32_t got) {
    constexpr char kSaveAsPng[] =
        "save the layer as PNG (GIMP: File > Export As, a name ending in .png; ImageMagick: convert IN OUT.png; "
        "Paint: Save as > PNG picture)";
    if (StartsWith(head, got, "\xFF\xD8\xFF"))
        return "The file is a JPEG image, which this tool does not read (and JPEG blurs the values): export the "
               "layer again, and after editing it, save it as PNG or BMP";
    if (StartsWith(head, got, "gimp xcf"))
        return "The file is a GIMP project (.xcf), not an image: in GIMP use File > Export As with a name ending "
               "in .png or .bmp";
    const char* what = nullptr;
    if (StartsWith(head, got, "GIF8")) what = "a GIF image";
    if (StartsWith(head, got, "II*") || StartsWith(head, got, std::string_view("MM\0*", 4))) what = "a TIFF image";
    if (StartsWith(head, got, "RIFF") && StartsWith(head, got, "WEBP", 8)) what = "a WebP image";
    if (StartsWith(head, got, "8BPS")) what = "a Photoshop document";
    const std::string found = what != nullptr
                                  ? std::string("The file is ") + what + ", not a BMP or PNG"
                                  : "The file is neither a BMP nor a PNG (it begins with the bytes " + Hex(head[0]) +
                                        " " + Hex(head[1]) + " " + Hex(head[2]) + " " + Hex(head[3]) + ")";
    return found + ": " + kSaveAsPng;
}

const ImageKind* KindOf(const std::uint8_t* head, std::uint32_t got) {
    for (const ImageKind& kind : kImageKinds)
        if (kind.Recognise(head, got)) return &kind;
    return nullptr;
}

// Too few bytes for any image (its first line of refusal), or no kind of ours.
bool RefuseUnknown(const std::uint8_t* head, std::uint32_t got, std::string_view path, const ImageKind** kind,
                   ImportVerdict* verdict) {
    if (got < kBmpPrefixSize) {
        *verdict = RefusedAsInvalid(path, "The file holds only " + console::Dec(got) +
                                              " bytes, too few for an image: it is empty or cut short; export the "
                                              "layer again, or save your edit again");
        return true;
    }
    *kind = KindOf(head, got);
    if (*kind == nullptr) *verdict = RefusedAsInvalid(path, ForeignNote(head, got));
    return *kind == nullptr;
}

}  // namespace

const ImageKind* ImageKindsBegin() { return std::begin(kImageKinds); }
const ImageKind* ImageKindsEnd() { return std::end(kImageKinds); }

ImportVerdict JudgeImportHead(const std::uint8_t* head, std::uint32_t got, std::uint64_t fileSize,
                              const ImportLayer& layer, std::string_view path) {
    const ImageKind* kind = nullptr;
    ImportVerdict verdict{};
    if (RefuseUnknown(head, got, path, &kind, &verdict)) return verdict;
    return kind->Judge(head, got, fileSize, layer, path);
}

ImportVerdict OpenImportSource(std::uint8_t (&head)[kImportHeadSize], platform::FileHandle file,
                               const ImportLayer& layer, std::string_view path, ImportSource* source) {
    *source = ImportSource{};
    source->File = file;
    source->Layer = layer;
    source->Width = layer.Width;
    source->Rows = layer.Height;
    source->Stride = RowStride(layer.Width);
    // Judge only what this file delivered, never bytes of an earlier header.
    std::memset(head, 0, sizeof head);
    std::uint32_t got = 0;
    std::uint64_t size = 0;
    if (!platform::ReadFileAt(file, 0, head, kImportHeadSize, &got) || !platform::GetFileSize(file, &size))
        return ReadFailed(platform::LastError());
    const ImageKind* kind = nullptr;
    ImportVerdict verdict{};
    if (RefuseUnknown(head, got, path, &kind, &verdict)) return verdict;
    return kind->Open({file, head, got, size, path}, layer, source);
}

std::string ImportFilterText() {
    std::string text = "Image files (";
    for (const ImageKind& kind : kImageKinds) {
        if (&kind != kImageKinds) text += ';';
        for (const char* c = kind.Pattern; *c != '\0'; ++c)
            text += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
    return text + ")";
}

std::string ImportFilterPatterns() {
    std::string patterns;
    for (const ImageKind& kind : kImageKinds) patterns += (patterns.empty() ? "" : ";") + std::string(kind.Pattern);
    return patterns;
}

std::string ImportKindNames() {
    std::string names;
    const std::size_t count = std::size(kImageKinds);
    for (std::size_t i = 0; i < count; ++i)
        names += (i == 0 ? "" : i + 1 == count ? " or " : ", ") + std::string(kImageKinds[i].Name);
    return names;
}
