#include "bitmap/import_source.h"

#include <algorithm>
#include <cstring>

#include "bitmap/image_decode.h"
#include "report/import_report.h"

namespace {

constexpr std::uint64_t kScanPiece = 1024 * 1024;

struct Scan {
    bool Read;
    std::uint32_t Code;  // of a failed read
    UsedEntries Used;
};

// The stored pixel bytes that lie in the file, read through once for the
// entries they use; it stops as soon as the decision cannot change.
Scan ScanUsedEntries(platform::FileHandle file, const BmpVerdict& verdict, const ImportLayer& layer,
                     const EntryClass (&classes)[256]) {
    const bool anyNotLayerEntry = std::any_of(classes, classes + 256, [](EntryClass entry) { return entry.NotLayer; });
    Scan scan{true, 0, {}};
    const std::uint64_t width = layer.Width, stride = RowStride(width);
    const std::uint64_t start = verdict.PixelStart;
    const std::uint64_t end = std::min(verdict.FileSize, SpanEnd(start, stride, layer.Height));
    if (start >= end) return scan;
    platform::Memory<std::uint8_t> piece = platform::Allocate<std::uint8_t>(std::min(kScanPiece, end - start));
    std::uint64_t column = 0;  // of the next byte within its stored row
    for (std::uint64_t at = start; at < end;) {
        std::uint32_t got = 0;
        if (!platform::ReadFileAt(file, at, piece.get(), static_cast<std::uint32_t>(std::min(kScanPiece, end - at)),
                                  &got))
            return {false, platform::LastError(), {}};
        if (got == 0) break;
        bool seen[256] = {};
        for (std::uint64_t i = 0; i < got;) {
            if (column < width) {  // pixel bytes; the padding after them does not count
                const std::uint64_t n = std::min(width - column, got - i);
                for (std::uint64_t k = 0; k < n; ++k) seen[piece[i + k]] = true;
                i += n;
                column += n;
            } else {
                const std::uint64_t n = std::min(stride - column, got - i);
                i += n;
                column += n;
            }
            if (column == stride) column = 0;
        }
        for (int i = 0; i < 256; ++i)
            if (seen[i]) NoteUsedEntry(scan.Used, classes[i]);
        at += got;
        if (scan.Used.AnyMoved && (scan.Used.AnyNotLayer || !anyNotLayerEntry)) break;
    }
    return scan;
}

std::string ColourNote(const ImportLayer& layer, const std::string& kind, std::uint64_t offColour) {
    const bool landType = layer.Colours == Palette::LandType;
    const char* colours = landType ? "green, grey or yellow" : "grey";
    std::string note = std::string(layer.Name) + ": taken by colour from " + kind + "; ";
    if (offColour == 0) return note + "every pixel is exactly " + colours;
    return note + Grouped(offColour) + " of " + Grouped(std::uint64_t{layer.Width} * layer.Height) +
           " pixels were not exactly " + colours + " and took " +
           (landType ? "the nearest of those colours" : "their brightness");
}

// Whether a file's palette is, entry for entry, the one an export of the
// other kind of layer has: then it is most likely the other layer's bitmap.
bool IsOtherExportPalette(const IndexedPalette& palette, Palette layer) {
    const Palette other = layer == Palette::Gray ? Palette::LandType : Palette::Gray;
    for (int i = 0; i < 256; ++i)
        if (!palette.Present[i] || !(palette.Colours[i] == ExportColour(other, i))) return false;
    return true;
}

std::string OtherExportNote(const ImportLayer& layer, const char* taken) {
    return std::string(layer.Name) + ": this BMP has the palette of " +
           (layer.Colours == Palette::Gray ? "a LandType export" : "a SmallMap, LandHeight or LargeMap export") +
           ", so it is most likely the bitmap of another layer; " + taken +
           ". If it was the wrong file, put the backup back and import the right one";
}

// The exported kind: as stored, or through its palette when that was rebuilt.
console::LineEnd OpenIndexed(platform::FileHandle file, const BmpVerdict& verdict, const ImportLayer& layer,
                             ImportSource* source, std::string* note) {
    source->PixelStart = verdict.PixelStart;
    source->TopDown = verdict.TopDown;
    IndexedPalette palette{};
    std::uint32_t code = 0;
    if (!ReadBmpPalette(file, verdict, &palette, &code)) return HeaderError("reading", code);
    EntryClass classes[256];
    bool exportPalette = true;
    for (int i = 0; i < 256; ++i) {
        classes[i] = ClassifyEntry(layer.Colours, i, palette.Present[i], palette.Colours[i]);
        exportPalette = exportPalette && !classes[i].Moved;
    }
    // The tool's own exports are not read twice: their pixels are their values.
    if (exportPalette) return console::Done();
    const Scan scan = ScanUsedEntries(file, verdict, layer, classes);
    if (!scan.Read) return HeaderError("reading", scan.Code);
    const bool otherExport = IsOtherExportPalette(palette, layer.Colours);
    if (!TakeByColour(scan.Used)) {
        if (otherExport)
            *note = OtherExportNote(layer, "its pixels were taken as the values");
        else if (scan.Used.AnyMoved && scan.Used.AnyNotLayer)
            *note = std::string(layer.Name) +
                    ": the palette of this 8-bit BMP is not the one the tool exports and holds " +
                    (layer.Colours == Palette::LandType ? "colours other than green, grey and yellow"
                                                        : "colours that are not grey") +
                    ", so its pixels were taken as their index numbers (an image program that rebuilds the palette "
                    "must be given the layer's colours only, without smoothed edges; or save the layer as PNG)";
        return console::Done();
    }
    source->ByColour = true;
    const IndexValues values = ValuesOfPalette(palette, layer.Colours);
    std::memcpy(source->Values, values.Values, sizeof source->Values);
    *note = otherExport ? OtherExportNote(layer, "its pixels were taken by their colours")
                        : ColourNote(layer, "an 8-bit BMP whose palette was rebuilt", 0);
    return console::Done();
}

}  // namespace

bool ReadImportAt(const ImportSource& source, std::uint64_t position, std::uint8_t* buffer, std::uint32_t count,
                  std::uint32_t* got) {
    if (source.Decoded != nullptr) {
        const std::uint64_t there = position < source.DecodedSize ? source.DecodedSize - position : 0;
        *got = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, there));
        if (*got > 0) std::memcpy(buffer, source.Decoded.get() + position, *got);
        return true;
    }
    if (!platform::ReadFileAt(source.File, position, buffer, count, got)) return false;
    if (source.ByColour)
        for (std::uint32_t i = 0; i < *got; ++i) buffer[i] = source.Values[buffer[i]];
    return true;
}

console::LineEnd OpenImportSource(std::uint8_t (&head)[kImportHeadSize], platform::FileHandle file,
                                  const ImportLayer& layer, std::string_view path, ImportSource* source,
                                  std::string* note) {
    BmpVerdict verdict{};
    if (console::LineEnd refused = CheckBmpHeader(head, file, layer, path, &verdict); !console::IsDone(refused))
        return refused;
    source->File = file;
    source->Stride = RowStride(layer.Width);
    source->Rows = layer.Height;
    source->ByColour = false;
    source->Decoded.reset();
    source->DecodedSize = 0;
    if (verdict.Kind == ImportKind::Indexed8) return OpenIndexed(file, verdict, layer, source, note);

    DecodedImage image{};
    const DecodeOutcome outcome = verdict.Kind == ImportKind::Png ? DecodePng(file, verdict, layer, &image)
                                                                  : DecodeBmp(file, verdict, layer, &image);
    if (outcome.Result == DecodeResult::ReadFailed) return HeaderError("reading", outcome.Code);
    if (outcome.Result == DecodeResult::Invalid) return EndOf(RefuseAsInvalid(path, outcome.Note));
    source->PixelStart = 0;
    source->TopDown = false;
    source->Decoded = std::move(image.Values);
    source->DecodedSize = image.Size;
    *note = ColourNote(layer, image.Kind, image.OffColour);
    return console::Done();
}
