#include "bitmap/bmp_decode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bitmap/bmp.h"
#include "platform/le_bytes.h"
#include "report/console_text.h"

using namespace bmp_field;

namespace {

constexpr std::uint64_t kReadPiece = std::uint64_t{1} << 20;

// Offsets of the OS/2 layout's fields.
constexpr int kCoreWidth = 18;
constexpr int kCoreHeight = 20;
constexpr int kCoreBitCount = 24;

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

// The info header layouts that Windows and OS/2 define: 12 bytes is OS/2's
// own; the others begin as the 40-byte one does and are read with it.
bool IsKnownLayout(std::uint32_t infoSize) {
    switch (infoSize) {
        case 12:
        case 40:
        case 52:
        case 56:
        case 64:
        case 108:
        case 124: return true;
        default: return false;
    }
}

std::string UnknownLayoutNote(std::uint32_t infoSize) {
    return "The BMP's info header is " + console::Dec(infoSize) +
           " bytes long, a layout this tool does not know (it reads those of 12, 40, 52, 56, 64, 108 and 124 "
           "bytes), so its fields were read as if it had 40: save it again as a common BMP or as PNG";
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
constexpr char kSaveDepth[] =
    "save it with 8 bits per pixel (indexed), 24 or 32, or as PNG (ImageMagick: convert IN -type Palette "
    "-compress none BMP3:OUT.bmp; GIMP: File > Export As, a name ending in .png)";

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
    if (!IsKnownBitCount(bits))
        return "The BMP has " + console::Dec(bits) + " bits per pixel, which this tool does not read: " + kSaveDepth;
    const char* names[] = {"no compression", "RLE8 compression", "RLE4 compression", "bit fields"};
    return std::string("The BMP gives ") + names[compression] + " with " + console::Dec(bits) +
           " bits per pixel, which do not go together (the file is damaged): " + kSaveDepth;
}

std::string PixelsOutsideNote(std::uint32_t pixelStart, std::uint64_t fileSize, std::uint32_t lowest) {
    return "The BMP header puts the pixels at byte " + console::Dec(pixelStart) + ", " +
           (pixelStart < lowest ? "inside its own header" : "outside the file's " + console::Dec(fileSize) + " bytes") +
           ": it is damaged or cut short; save it again";
}

// The OS/2 layout: 16-bit sizes, stored bottom-up, no compression, and bit
// counts of 1, 4, 8 and 24 only.
ImportVerdict JudgeCoreHead(const std::uint8_t* head, std::uint64_t fileSize, const ImportLayer& layer,
                            std::string_view path, BmpHead* out) {
    const std::uint32_t pixelStart = le::Get32(head + kBfOffBits);
    if (pixelStart < kCorePaletteAt || pixelStart > fileSize)
        return RefusedAsInvalid(path, PixelsOutsideNote(pixelStart, fileSize, kCorePaletteAt));
    const std::uint16_t bits = le::Get16(head + kCoreBitCount);
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
        return Refused("BMP is the wrong color depth!",
                       "The BMP (of the OS/2 layout) has " + console::Dec(bits) +
                           " bits per pixel, which that layout does not define (the file is damaged): " + kSaveDepth);
    const ImportVerdict size = JudgeSize(le::Get16(head + kCoreWidth), le::Get16(head + kCoreHeight), layer);
    if (size.Outcome != Verdict::Accepted) return size;
    *out = BmpHead{fileSize, pixelStart, false, kCoreInfoSize, bits, 0, 0, {}};
    return Accepted();
}

// Where an uncompressed file's last pixel row ends; its padding may be missing.
std::uint64_t LastRowEnd(const BmpHead& head, const ImportLayer& layer) {
    const std::uint64_t rowBytes = (std::uint64_t{layer.Width} * head.BitCount + 7) / 8;
    return SpanEnd(head.PixelStart, RowStride(rowBytes), layer.Height - 1) + rowBytes;
}

ImportVerdict JudgeWindowsHead(const std::uint8_t* head, std::uint32_t got, std::uint64_t fileSize,
                               const ImportLayer& layer, std::string_view path, BmpHead* out) {
    const std::uint32_t infoSize = le::Get32(head + kBiSize);
    const std::uint32_t pixelStart = le::Get32(head + kBfOffBits);
    if (pixelStart < kBmpMinPixelStart || pixelStart > fileSize)
        return RefusedAsInvalid(path, PixelsOutsideNote(pixelStart, fileSize, kBmpMinPixelStart));
    const std::uint32_t compression = le::Get32(head + kBiCompression);
    if (compression > 3)
        return Refused("BMP is compressed!", "The BMP is compressed with " + CompressionName(compression) +
                                                 ", which this tool does not read: " + kSaveUncompressed);
    const std::uint16_t bits = le::Get16(head + kBiBitCount);
    if (!IsReadableKind(compression, bits))
        return Refused("BMP is the wrong color depth!", DepthNote(compression, bits));
    BmpHead found{fileSize, pixelStart, false, infoSize, bits, compression, le::Get32(head + kBiClrUsed), {}};
    if (compression == 3) {
        for (int c = 0; c < 3; ++c)
            found.Masks[c] = got >= kBmpMasksAt + 4u * c + 4 ? le::Get32(head + kBmpMasksAt + std::size_t{4} * c) : 0;
        for (const std::uint32_t mask : found.Masks) {
            ChannelMask analysed{};
            if (!AnalyseMask(mask, &analysed))
                return Refused("BMP is the wrong color depth!",
                               "The BMP's colour masks (red " + Hex(found.Masks[0], 8) + ", green " +
                                   Hex(found.Masks[1], 8) + ", blue " + Hex(found.Masks[2], 8) +
                                   ") are not each one run of bits: save it as a 24-bit BMP or as PNG");
        }
    }
    const auto storedHeight = static_cast<std::int32_t>(le::Get32(head + kBiHeight));
    const ImportVerdict size =
        JudgeSize(le::Get32(head + kBiWidth), storedHeight < 0 ? -std::int64_t{storedHeight} : storedHeight, layer);
    if (size.Outcome != Verdict::Accepted) return size;
    found.TopDown = storedHeight < 0;
    *out = found;
    return Accepted();
}

}  // namespace

bool IsBmp(const std::uint8_t* head, std::uint32_t got) { return got >= 2 && head[kBfType] == 'B' && head[1] == 'M'; }

ImportVerdict JudgeBmpHead(const std::uint8_t* head, std::uint32_t got, std::uint64_t fileSize,
                           const ImportLayer& layer, std::string_view path, BmpHead* out) {
    const std::uint32_t infoSize = le::Get32(head + kBiSize);
    ImportVerdict verdict = infoSize == kCoreInfoSize ? JudgeCoreHead(head, fileSize, layer, path, out)
                                                      : JudgeWindowsHead(head, got, fileSize, layer, path, out);
    // An unknown layout's fields were guessed at: the note says so instead.
    if (verdict.Outcome == Verdict::Refused && !IsKnownLayout(infoSize)) verdict.Note = UnknownLayoutNote(infoSize);
    if (verdict.Outcome != Verdict::Accepted) return verdict;
    if (out->Compression == 0 || out->Compression == 3) {
        const std::uint64_t needed = LastRowEnd(*out, layer);
        if (needed > fileSize)
            return RefusedAsInvalid(
                path, CutShortNote("The BMP holds " + console::Dec(fileSize) + " bytes, and its size needs " +
                                   console::Dec(needed) + " (up to the end of its last pixel row)"));
    }
    return verdict;
}

bool IsStoredKind(const BmpHead& head) {
    return head.BitCount == 8 && head.Compression == 0 && head.InfoSize != kCoreInfoSize;
}

bool ReadBmpPalette(platform::FileHandle file, const BmpHead& head, IndexedPalette* palette, std::uint32_t* code) {
    *palette = IndexedPalette{};
    const bool core = head.InfoSize == kCoreInfoSize;
    const std::uint32_t entry = core ? 3 : 4;
    const std::uint32_t full = head.BitCount <= 8 ? 1u << head.BitCount : 0;
    std::uint64_t count = head.ColoursUsed == 0 || core ? full : std::min<std::uint32_t>(head.ColoursUsed, 256);
    const std::uint64_t start = 14 + std::uint64_t{head.InfoSize};
    // Only whole entries before the pixel data.
    count = start >= head.PixelStart ? 0 : std::min<std::uint64_t>(count, (head.PixelStart - start) / entry);
    if (count == 0) return true;
    std::uint8_t bytes[4 * 256];
    std::uint32_t got = 0;
    if (!platform::ReadFileAt(file, start, bytes, static_cast<std::uint32_t>(entry * count), &got)) {
        *code = platform::LastError();
        return false;
    }
    for (std::uint32_t i = 0; i < count && entry * i + entry <= got; ++i) {
        const std::uint8_t* p = bytes + std::size_t{entry} * i;
        palette->Colours[i] = {p[2], p[1], p[0]};  // stored blue, green, red
        palette->Present[i] = true;
    }
    return true;
}

PixelFormat FormatOf(const BmpHead& head) {
    PixelFormat format{head.BitCount, head.BitCount <= 8, {}, {}, {}};
    if (format.Indexed) return format;
    // Plain 16 bits are 5-5-5; plain 24 and 32 bits hold blue, green, red bytes.
    std::uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (head.Compression == 3) {
        std::memcpy(masks, head.Masks, sizeof masks);
    } else if (head.BitCount != 16) {
        masks[0] = 0xFF0000;
        masks[1] = 0x00FF00;
        masks[2] = 0x0000FF;
    }
    AnalyseMask(masks[0], &format.Red);
    AnalyseMask(masks[1], &format.Green);
    AnalyseMask(masks[2], &format.Blue);
    return format;
}

void ConvertRow(const PixelFormat& format, const std::uint8_t* stored, std::uint32_t width, Palette layer,
                const IndexValues& indexValues, std::uint8_t* values, std::uint64_t* offColour) {
    std::uint64_t off = 0;
    if (format.Indexed) {
        const std::uint32_t bits = format.Bits, perByte = 8 / bits, mask = (1u << bits) - 1;
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t shift = 8 - bits * (x % perByte + 1);
            const std::uint8_t index = static_cast<std::uint8_t>(stored[x / perByte] >> shift & mask);
            values[x] = indexValues.Values[index];
            off += !indexValues.Exact[index];
        }
    } else {
        const std::uint32_t bytes = format.Bits / 8u;
        ColourMemo memo = StartColourMemo(layer);
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* p = stored + std::uint64_t{bytes} * x;
            std::uint32_t pixel = 0;
            for (std::uint32_t b = 0; b < bytes; ++b) pixel |= std::uint32_t{p[b]} << (8 * b);
            Remember(memo, layer,
                     {ChannelOf(pixel, format.Red), ChannelOf(pixel, format.Green), ChannelOf(pixel, format.Blue)});
            values[x] = memo.Value;
            off += !memo.Exact;
        }
    }
    *offColour += off;
}

ByteReader ReaderOfMemory(const std::uint8_t* data, std::uint64_t size) {
    return {platform::kInvalidFile, 0, 0, data, size, 0, nullptr, false, 0};
}

ByteReader ReaderOfFile(platform::FileHandle file, std::uint64_t from, std::uint64_t end) {
    ByteReader reader{file, from, std::max(from, end), nullptr, 0, 0, nullptr, false, 0};
    reader.Buffer = platform::Allocate<std::uint8_t>(std::min(kReadPiece, reader.End - from));
    reader.Data = reader.Buffer.get();
    return reader;
}

bool RefillReader(ByteReader& reader) {
    if (reader.File == platform::kInvalidFile || reader.Failed || reader.Next >= reader.End) return false;
    const auto count = static_cast<std::uint32_t>(std::min(kReadPiece, reader.End - reader.Next));
    std::uint32_t got = 0;
    if (!platform::ReadFileAt(reader.File, reader.Next, reader.Buffer.get(), count, &got)) {
        reader.Failed = true;
        reader.Code = platform::LastError();
        return false;
    }
    if (got == 0) return false;
    reader.Next += got;
    reader.Size = got;
    reader.At = 0;
    return true;
}

bool DecodeRle(ByteReader& stream, std::uint16_t bits, std::uint32_t width, std::uint32_t height, bool topDown,
               std::uint8_t* indices, std::uint64_t stride) {
    std::uint64_t x = 0;
    std::uint32_t row = 0;  // in the stream's order
    std::uint8_t* pixels = nullptr;
    const auto startRow = [&] { pixels = indices + stride * (topDown ? height - 1 - row : row); };
    // Pixels beyond the row are dropped; the row goes on after an end of line only.
    const auto set = [&](std::uint8_t index) {
        if (x < width) pixels[x] = index;
        ++x;
    };
    startRow();
    std::uint8_t count = 0, code = 0;
    while (row < height) {
        if (!NextByte(stream, &count) || !NextByte(stream, &code)) return false;
        if (count > 0) {  // a run: one index, or two alternating in RLE4
            for (std::uint32_t i = 0; i < count; ++i) {
                if (x >= width) {
                    x += count - i;
                    break;
                }
                pixels[x++] = bits == 8 ? code : static_cast<std::uint8_t>(i % 2 == 0 ? code >> 4 : code & 0x0F);
            }
            continue;
        }
        if (code == 0) {  // end of line
            ++row;
            x = 0;
            if (row < height) startRow();
        } else if (code == 1) {  // end of bitmap
            return true;
        } else if (code == 2) {  // delta: right and on by rows
            std::uint8_t dx = 0, dy = 0;
            if (!NextByte(stream, &dx) || !NextByte(stream, &dy)) return false;
            x += dx;
            row += dy;
            if (row < height) startRow();
        } else {  // absolute: code pixels, padded to an even count of bytes
            const std::uint32_t bytes = bits == 8 ? code : (code + 1u) / 2;
            std::uint8_t byte = 0;
            for (std::uint32_t i = 0; i < bytes; ++i) {
                if (!NextByte(stream, &byte)) return false;  // the pixels whose bytes are there are set
                if (bits == 8) {
                    set(byte);
                } else {
                    set(byte >> 4);
                    if (2 * i + 1 < code) set(byte & 0x0F);
                }
            }
            if (bytes % 2 == 1 && !NextByte(stream, &byte)) return false;
        }
    }
    return true;  // the last row ended
}

namespace {

// The uncompressed kinds and bit fields, a piece of stored rows at a time.
ImportVerdict ConvertStoredRows(platform::FileHandle file, const BmpHead& head, const ImportLayer& layer,
                                const IndexValues& indexValues, std::uint8_t* values, std::uint64_t* offColour) {
    const PixelFormat format = FormatOf(head);
    const std::uint64_t rowBytes = (std::uint64_t{layer.Width} * format.Bits + 7) / 8;
    const std::uint64_t stored = RowStride(rowBytes), outStride = RowStride(layer.Width);
    const std::uint64_t rowsPerPiece = std::max<std::uint64_t>(1, kReadPiece / stored);
    platform::Memory<std::uint8_t> piece = platform::Allocate<std::uint8_t>(rowsPerPiece * stored);
    for (std::uint64_t first = 0; first < layer.Height; first += rowsPerPiece) {
        const std::uint64_t rows = std::min<std::uint64_t>(rowsPerPiece, layer.Height - first);
        const std::uint64_t at = head.PixelStart + stored * first;
        // The last row's padding may be missing; the check saw its pixels there.
        const std::uint64_t want = std::min(rows * stored, head.FileSize - std::min(at, head.FileSize));
        std::memset(piece.get(), 0, rows * stored);
        std::uint32_t got = 0;
        if (!platform::ReadFileAt(file, at, piece.get(), static_cast<std::uint32_t>(want), &got))
            return ReadFailed(platform::LastError());
        for (std::uint64_t r = 0; r < rows; ++r) {
            const std::uint64_t s = first + r;  // stored row: the picture's bottom row first, or its top
            const std::uint64_t out = head.TopDown ? layer.Height - 1 - s : s;
            ConvertRow(format, piece.get() + stored * r, layer.Width, layer.Colours, indexValues,
                       values + outStride * out, offColour);
        }
    }
    return Accepted();
}

ImportVerdict DecodeRleRows(platform::FileHandle file, const BmpHead& head, const ImportLayer& layer,
                            const IndexValues& indexValues, std::uint8_t* values, std::uint64_t* offColour,
                            std::string_view path) {
    const std::uint64_t stride = RowStride(layer.Width);
    ByteReader stream = ReaderOfFile(file, head.PixelStart, head.FileSize);
    // Indices first, in place; the pixels a stream leaves unset are index 0.
    const bool whole = DecodeRle(stream, head.BitCount, layer.Width, layer.Height, head.TopDown, values, stride);
    if (stream.Failed) return ReadFailed(stream.Code);
    if (!whole)
        return RefusedAsInvalid(path, CutShortNote("The BMP's compressed pixels end with the file, before their "
                                                   "end-of-bitmap code or the end of the last row"));
    for (std::uint64_t r = 0; r < layer.Height; ++r) {
        std::uint8_t* row = values + stride * r;
        for (std::uint32_t x = 0; x < layer.Width; ++x) {
            *offColour += !indexValues.Exact[row[x]];
            row[x] = indexValues.Values[row[x]];
        }
    }
    return Accepted();
}

std::string KindOf(const BmpHead& head) {
    const std::string bits = console::Dec(head.BitCount);
    const std::string article = head.BitCount == 8 ? "an " : "a ";
    if (head.InfoSize == kCoreInfoSize) return article + bits + "-bit BMP of the OS/2 layout";
    switch (head.Compression) {
        case 1: return "an 8-bit RLE8 BMP";
        case 2: return "a 4-bit RLE4 BMP";
        case 3: return article + bits + "-bit BMP with bit fields";
        default: return article + bits + "-bit BMP";
    }
}

// Any kind but the exported one: decoded whole into the layer's values.
ImportVerdict DecodeBmp(const ImportFile& file, const BmpHead& head, const ImportLayer& layer, ImportSource* source) {
    IndexValues indexValues{};
    if (head.BitCount <= 8) {
        IndexedPalette palette{};
        std::uint32_t code = 0;
        if (!ReadBmpPalette(file.Handle, head, &palette, &code)) return ReadFailed(code);
        indexValues = ValuesOfPalette(palette, layer.Colours);
    }
    source->Reading = RowSource::Decoded;
    source->PixelStart = 0;
    source->TopDown = false;
    source->Decoded = platform::Allocate<std::uint8_t>(source->Stride * layer.Height);
    std::uint64_t offColour = 0;
    const ImportVerdict verdict =
        head.Compression == 1 || head.Compression == 2
            ? DecodeRleRows(file.Handle, head, layer, indexValues, source->Decoded.get(), &offColour, file.Path)
            : ConvertStoredRows(file.Handle, head, layer, indexValues, source->Decoded.get(), &offColour);
    if (verdict.Outcome == Verdict::Accepted) source->Note = TakenByColourNote(layer, KindOf(head), offColour);
    return verdict;
}

constexpr std::uint64_t kScanPiece = std::uint64_t{1} << 20;

// The stored pixel bytes read through once for the entries they use; it
// stops as soon as the decision cannot change.
ImportVerdict ScanUsedEntries(platform::FileHandle file, const BmpHead& head, const ImportLayer& layer,
                              const EntryClass (&classes)[256], UsedEntries* used) {
    const bool anyNotLayerEntry = std::any_of(classes, classes + 256, [](EntryClass entry) { return entry.NotLayer; });
    const std::uint64_t width = layer.Width, stride = RowStride(width);
    const std::uint64_t start = head.PixelStart;
    const std::uint64_t end = std::min(head.FileSize, SpanEnd(start, stride, layer.Height));
    platform::Memory<std::uint8_t> piece = platform::Allocate<std::uint8_t>(std::min(kScanPiece, end - start));
    std::uint64_t column = 0;  // of the next byte within its stored row
    for (std::uint64_t at = start; at < end;) {
        std::uint32_t got = 0;
        if (!platform::ReadFileAt(file, at, piece.get(), static_cast<std::uint32_t>(std::min(kScanPiece, end - at)),
                                  &got))
            return ReadFailed(platform::LastError());
        if (got == 0) break;
        bool seen[256] = {};
        for (std::uint64_t i = 0; i < got;) {
            // Pixel bytes; the padding after them does not count.
            const std::uint64_t n = std::min((column < width ? width : stride) - column, got - i);
            if (column < width)
                for (std::uint64_t k = 0; k < n; ++k) seen[piece[i + k]] = true;
            i += n;
            column = column + n == stride ? 0 : column + n;
        }
        for (int i = 0; i < 256; ++i)
            if (seen[i]) NoteUsedEntry(*used, classes[i]);
        at += got;
        if (used->AnyMoved && (used->AnyNotLayer || !anyNotLayerEntry)) break;
    }
    return Accepted();
}

std::string OtherExportNote(const ImportLayer& layer, const char* taken) {
    return std::string(layer.Name) + ": this BMP " + OtherExportWords(layer.Colours) + "; " + taken +
           ". If it was the wrong file, put the backup back and import the right one";
}

// The exported kind: as stored, or through its palette when an image
// program rebuilt that.
ImportVerdict OpenStored(const ImportFile& file, const BmpHead& head, const ImportLayer& layer, ImportSource* source) {
    source->Reading = RowSource::Stored;
    source->PixelStart = head.PixelStart;
    source->TopDown = head.TopDown;
    IndexedPalette palette{};
    std::uint32_t code = 0;
    if (!ReadBmpPalette(file.Handle, head, &palette, &code)) return ReadFailed(code);
    EntryClass classes[256];
    bool exportPalette = true, anyEntry = false;
    for (int i = 0; i < 256; ++i) {
        classes[i] = ClassifyEntry(layer.Colours, i, palette.Present[i], palette.Colours[i]);
        exportPalette = exportPalette && !classes[i].Moved;
        anyEntry = anyEntry || palette.Present[i];
    }
    // The tool's own exports are not read twice: their pixels are their values.
    if (exportPalette) return Accepted();
    UsedEntries used{};
    if (const ImportVerdict scan = ScanUsedEntries(file.Handle, head, layer, classes, &used);
        scan.Outcome != Verdict::Accepted)
        return scan;
    const bool otherExport = IsOtherExportPalette(palette, layer.Colours);
    if (!TakeByColour(used)) {
        if (otherExport)
            source->Note = OtherExportNote(layer, "its pixels were taken as the values");
        else if (!anyEntry)
            source->Note = std::string(layer.Name) +
                           ": this 8-bit BMP has no palette, so its pixels were taken as their index numbers";
        else if (used.AnyMoved && used.AnyNotLayer)
            source->Note = std::string(layer.Name) +
                           ": the palette of this 8-bit BMP is not the one the tool exports and holds " +
                           (layer.Colours == Palette::LandType ? "colours other than green, grey and yellow"
                                                               : "colours that are not grey") +
                           ", so its pixels were taken as their index numbers (an image program that rebuilds the "
                           "palette must be given the layer's colours only, without smoothed edges; or save the "
                           "layer as PNG)";
        return Accepted();
    }
    source->ByColour = true;
    const IndexValues values = ValuesOfPalette(palette, layer.Colours);
    std::memcpy(source->Values, values.Values, sizeof source->Values);
    source->Note = otherExport ? OtherExportNote(layer, "its pixels were taken by their colours")
                               : TakenByColourNote(layer, "an 8-bit BMP whose palette was rebuilt", 0);
    return Accepted();
}

}  // namespace

ImportVerdict OpenBmp(const ImportFile& file, const BmpHead& head, const ImportLayer& layer, ImportSource* source) {
    return IsStoredKind(head) ? OpenStored(file, head, layer, source) : DecodeBmp(file, head, layer, source);
}

bool LooksLikeOtherLayersBitmap(platform::FileHandle file, Palette layer) {
    std::uint8_t head[kImportHeadSize] = {};
    std::uint32_t got = 0;
    std::uint64_t size = 0;
    if (!platform::ReadFileAt(file, 0, head, sizeof head, &got) || !platform::GetFileSize(file, &size) ||
        got < kBmpPrefixSize || !IsBmp(head, got))
        return false;
    BmpHead found{size, le::Get32(head + kBfOffBits), false, le::Get32(head + kBiSize), 0, 0, 0, {}};
    const bool core = found.InfoSize == kCoreInfoSize;
    found.BitCount = le::Get16(head + (core ? kCoreBitCount : kBiBitCount));
    found.Compression = core ? 0 : le::Get32(head + kBiCompression);
    found.ColoursUsed = core ? 0 : le::Get32(head + kBiClrUsed);
    if (found.BitCount != 8 || (found.Compression != 0 && found.Compression != 1)) return false;
    IndexedPalette palette{};
    std::uint32_t code = 0;
    return ReadBmpPalette(file, found, &palette, &code) && IsOtherExportPalette(palette, layer);
}

std::string OtherExportWords(Palette layer) {
    return std::string("has the palette of ") +
           (layer == Palette::Gray ? "a LandType export" : "a SmallMap, LandHeight or LargeMap export") +
           ", so it is most likely the bitmap of another layer";
}
