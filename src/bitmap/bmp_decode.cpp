// Our own reader of the BMP kinds image programs write: 1, 4 and 8 bits
// through a palette (RLE4 and RLE8 included), 16, 24 and 32 bits plain or
// through bit fields. Every read is bounded by the file and by the rows.
#include <algorithm>
#include <cstring>

#include "bitmap/image_decode.h"
#include "platform/le_bytes.h"
#include "report/console_text.h"

namespace {

constexpr std::uint64_t kReadPiece = 1024 * 1024;

}  // namespace

bool ReadBmpPalette(platform::FileHandle file, const BmpVerdict& verdict, IndexedPalette* palette,
                    std::uint32_t* code) {
    *palette = IndexedPalette{};
    const std::uint32_t full = verdict.BitCount <= 8 ? 1u << verdict.BitCount : 0;
    std::uint64_t count = verdict.ColoursUsed == 0 ? full : std::min<std::uint32_t>(verdict.ColoursUsed, 256);
    const std::uint64_t start = 14 + std::uint64_t{verdict.InfoSize};
    // Only whole entries before the pixel data.
    count = start >= verdict.PixelStart ? 0 : std::min<std::uint64_t>(count, (verdict.PixelStart - start) / 4);
    if (count == 0) return true;
    std::uint8_t bytes[4 * 256];
    std::uint32_t got = 0;
    if (!platform::ReadFileAt(file, start, bytes, static_cast<std::uint32_t>(4 * count), &got)) {
        *code = platform::LastError();
        return false;
    }
    for (std::uint32_t i = 0; i < count && 4 * i + 4 <= got; ++i) {
        palette->Colours[i] = {bytes[4 * i + 2], bytes[4 * i + 1], bytes[4 * i]};  // stored blue, green, red
        palette->Present[i] = true;
    }
    return true;
}

IndexValues ValuesOfPalette(const IndexedPalette& palette, Palette layer) {
    IndexValues table{};
    for (int i = 0; i < 256; ++i) {
        table.Values[i] = ValueOfColour(layer, palette.Colours[i]);
        table.Exact[i] = IsLayerColour(layer, palette.Colours[i]);
    }
    return table;
}

PixelFormat FormatOf(const BmpVerdict& verdict) {
    PixelFormat format{verdict.BitCount, verdict.BitCount <= 8, {}, {}, {}};
    if (format.Indexed) return format;
    // Plain 16 bits are 5-5-5; plain 24 and 32 bits hold blue, green, red bytes.
    std::uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (verdict.Compression == 3) {
        std::memcpy(masks, verdict.Masks, sizeof masks);
    } else if (verdict.BitCount != 16) {
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

void DecodeRle(ByteReader& stream, std::uint16_t bits, std::uint32_t width, std::uint32_t height, bool topDown,
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
    while (row < height && NextByte(stream, &count) && NextByte(stream, &code)) {
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
            return;
        } else if (code == 2) {  // delta: right and on by rows
            std::uint8_t dx = 0, dy = 0;
            if (!NextByte(stream, &dx) || !NextByte(stream, &dy)) return;
            x += dx;
            row += dy;
            if (row < height) startRow();
        } else {  // absolute: code pixels, padded to an even count of bytes
            const std::uint32_t bytes = bits == 8 ? code : (code + 1u) / 2;
            std::uint8_t byte = 0;
            for (std::uint32_t i = 0; i < bytes; ++i) {
                if (!NextByte(stream, &byte)) return;  // the pixels whose bytes are there are set
                if (bits == 8) {
                    set(byte);
                } else {
                    set(byte >> 4);
                    if (2 * i + 1 < code) set(byte & 0x0F);
                }
            }
            if (bytes % 2 == 1 && !NextByte(stream, &byte)) return;
        }
    }
}

namespace {

// The uncompressed kinds and bit fields, a piece of stored rows at a time.
DecodeOutcome ConvertStoredRows(platform::FileHandle file, const BmpVerdict& verdict, const ImportLayer& layer,
                                const IndexValues& indexValues, DecodedImage* image) {
    const PixelFormat format = FormatOf(verdict);
    const std::uint64_t rowBytes = (std::uint64_t{layer.Width} * format.Bits + 7) / 8;
    const std::uint64_t stored = RowStride(rowBytes), outStride = RowStride(layer.Width);
    const std::uint64_t rowsPerPiece = std::max<std::uint64_t>(1, kReadPiece / stored);
    platform::Memory<std::uint8_t> piece = platform::Allocate<std::uint8_t>(rowsPerPiece * stored);
    for (std::uint64_t first = 0; first < layer.Height; first += rowsPerPiece) {
        const std::uint64_t rows = std::min<std::uint64_t>(rowsPerPiece, layer.Height - first);
        const std::uint64_t at = verdict.PixelStart + stored * first;
        // The last row's padding may be missing; the check saw its pixels there.
        const std::uint64_t want = std::min(rows * stored, verdict.FileSize - std::min(at, verdict.FileSize));
        std::memset(piece.get(), 0, rows * stored);
        std::uint32_t got = 0;
        if (!platform::ReadFileAt(file, at, piece.get(), static_cast<std::uint32_t>(want), &got))
            return {DecodeResult::ReadFailed, platform::LastError(), {}};
        for (std::uint64_t r = 0; r < rows; ++r) {
            const std::uint64_t s = first + r;  // stored row: the picture's bottom row first, or its top
            const std::uint64_t out = verdict.TopDown ? layer.Height - 1 - s : s;
            ConvertRow(format, piece.get() + stored * r, layer.Width, layer.Colours, indexValues,
                       image->Values.get() + outStride * out, &image->OffColour);
        }
    }
    return {DecodeResult::Done, 0, {}};
}

DecodeOutcome DecodeRleRows(platform::FileHandle file, const BmpVerdict& verdict, const ImportLayer& layer,
                            const IndexValues& indexValues, DecodedImage* image) {
    const std::uint64_t stride = RowStride(layer.Width);
    ByteReader stream = ReaderOfFile(file, verdict.PixelStart, verdict.FileSize);
    // Indices first, in place; the pixels a stream leaves unset are index 0.
    DecodeRle(stream, verdict.BitCount, layer.Width, layer.Height, verdict.TopDown, image->Values.get(), stride);
    if (stream.Failed) return {DecodeResult::ReadFailed, stream.Code, {}};
    for (std::uint64_t r = 0; r < layer.Height; ++r) {
        std::uint8_t* row = image->Values.get() + stride * r;
        for (std::uint32_t x = 0; x < layer.Width; ++x) {
            image->OffColour += !indexValues.Exact[row[x]];
            row[x] = indexValues.Values[row[x]];
        }
    }
    return {DecodeResult::Done, 0, {}};
}

std::string KindOf(const BmpVerdict& verdict) {
    const std::string bits = console::Dec(verdict.BitCount);
    const std::string article = verdict.BitCount == 8 ? "an " : "a ";
    switch (verdict.Compression) {
        case 1: return "an 8-bit RLE8 BMP";
        case 2: return "a 4-bit RLE4 BMP";
        case 3: return article + bits + "-bit BMP with bit fields";
        default: return article + bits + "-bit BMP";
    }
}

}  // namespace

DecodeOutcome DecodeBmp(platform::FileHandle file, const BmpVerdict& verdict, const ImportLayer& layer,
                        DecodedImage* image) {
    IndexValues indexValues{};
    if (verdict.BitCount <= 8) {
        IndexedPalette palette{};
        std::uint32_t code = 0;
        if (!ReadBmpPalette(file, verdict, &palette, &code)) return {DecodeResult::ReadFailed, code, {}};
        indexValues = ValuesOfPalette(palette, layer.Colours);
    }
    image->Size = RowStride(layer.Width) * layer.Height;
    image->Values = platform::Allocate<std::uint8_t>(image->Size);
    image->OffColour = 0;
    image->Kind = KindOf(verdict);
    if (verdict.Compression == 1 || verdict.Compression == 2)
        return DecodeRleRows(file, verdict, layer, indexValues, image);
    return ConvertStoredRows(file, verdict, layer, indexValues, image);
}
