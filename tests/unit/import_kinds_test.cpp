// The pure pieces of the imports of other kinds: colour to value, channel
// widening, bit fields, RLE streams, row conversion and the decision whether
// an 8-bit import is taken by colour. Built for Linux and Windows alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zlib.h>

#include "bitmap/bmp.h"
#include "bitmap/bmp_decode.h"
#include "bitmap/deflate_literals.h"
#include "bitmap/image_kinds.h"
#include "bitmap/import_source.h"
#include "bitmap/layer_colours.h"
#include "bitmap/png_decode.h"
#include "bitmap/png_encode.h"
#include "support/test_files.h"

// The test's PNG files are compressed with stb_image_write's deflate; the
// exports are read back by stb_image as well, a decoder that is not ours.
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>

namespace {

TEST(ImportKinds, ColourToValue) {
    struct Case {
        Palette Layer;
        Rgb Colour;
        std::uint8_t Value;
        bool Exact;
    };
    const Palette grey = Palette::Gray, landType = Palette::LandType;
    const Case cases[] = {
        {grey, {0, 0, 0}, 0, true},
        {grey, {200, 200, 200}, 200, true},
        {grey, {255, 255, 255}, 255, true},
        {grey, {255, 0, 0}, 77, false},  // (77 R + 150 G + 29 B + 128) >> 8
        {grey, {0, 255, 0}, 149, false},
        {grey, {0, 0, 255}, 29, false},
        {grey, {10, 20, 30}, 18, false},
        {landType, {0, 128, 0}, 0, true},
        {landType, {128, 128, 128}, 1, true},
        {landType, {255, 255, 0}, 2, true},
        {landType, {0, 0, 0}, 0, false},
        {landType, {255, 255, 255}, 1, false},
        {landType, {250, 240, 10}, 2, false},
        {landType, {64, 128, 64}, 0, false},   // as far from green as from grey: the lower value
        {landType, {128, 255, 64}, 1, false},  // as far from grey as from yellow
        {landType, {3, 3, 3}, 0, false},       // a grey that is not LandType's
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ValueOfColour(c.Layer, c.Colour), c.Value) << int(c.Colour.R) << "," << int(c.Colour.G);
        EXPECT_EQ(IsLayerColour(c.Layer, c.Colour), c.Exact) << int(c.Colour.R) << "," << int(c.Colour.G);
    }
}

TEST(ImportKinds, ChannelsWidenByRepeatingTheirBits) {
    for (std::uint32_t bits = 1; bits <= 16; ++bits) {
        const std::uint32_t top = (1u << bits) - 1;
        EXPECT_EQ(WidenChannel(0, bits), 0) << bits;
        EXPECT_EQ(WidenChannel(top, bits), 255) << bits;
    }
    for (std::uint32_t v = 0; v < 32; ++v) EXPECT_EQ(WidenChannel(v, 5), (v << 3) | (v >> 2)) << v;
    const std::uint32_t cases[][3] = {{1, 1, 255}, {2, 1, 85},   {2, 2, 170}, {3, 3, 109},      {4, 5, 85},
                                      {6, 1, 4},   {7, 64, 129}, {8, 77, 77}, {10, 0x3FF, 255}, {12, 0x123, 0x12}};
    for (const auto& [bits, v, out] : cases) EXPECT_EQ(WidenChannel(v, bits), out) << bits << " " << v;
}

TEST(ImportKinds, BitFieldMasks) {
    struct Case {
        std::uint32_t Mask;
        bool Contiguous;
        std::uint32_t Shift, Bits;
    };
    const Case cases[] = {
        {0xF800, true, 11, 5},     {0x07E0, true, 5, 6},      {0x001F, true, 0, 5},       {0, true, 0, 0},
        {0xFF000000, true, 24, 8}, {0xFFFFFFFF, true, 0, 32}, {0x3FF00000, true, 20, 10}, {0x0F0F, false, 0, 0},
        {0x80000001, false, 0, 0}, {0xFF00FF00, false, 0, 0},
    };
    for (const Case& c : cases) {
        ChannelMask mask{99, 99};
        EXPECT_EQ(AnalyseMask(c.Mask, &mask), c.Contiguous) << std::hex << c.Mask;
        if (!c.Contiguous) continue;
        EXPECT_EQ(mask.Shift, c.Shift) << std::hex << c.Mask;
        EXPECT_EQ(mask.Bits, c.Bits) << std::hex << c.Mask;
    }
    ChannelMask red{}, tenBits{};
    AnalyseMask(0xF800, &red);
    AnalyseMask(0x3FF00000, &tenBits);
    EXPECT_EQ(ChannelOf(0xFFFF, red), 255);
    EXPECT_EQ(ChannelOf(0x0800, red), 8);
    EXPECT_EQ(ChannelOf(0x2AB00000, tenBits), 0xAA);  // its top 8 bits
    EXPECT_EQ(ChannelOf(0xFFFFFFFF, ChannelMask{0, 0}), 0);
}

// RLE streams into a 4 x 3 picture, rows given top first as the picture shows them.
TEST(ImportKinds, RleStreams) {
    struct Case {
        const char* Name;
        std::uint16_t Bits;
        bool TopDown;
        std::vector<std::uint8_t> Stream;
        std::vector<std::uint8_t> Rows;
        bool Whole = true;  // false: the stream ran out before its end, the file is cut short
    };
    const Case cases[] = {
        {"runs and ends of line", 8, false, {2, 7, 2, 8, 0, 0, 4, 9, 0, 1}, {0, 0, 0, 0, 9, 9, 9, 9, 7, 7, 8, 8}},
        {"a run past the row's end sets nothing beyond it",
         8,
         false,
         {6, 5, 1, 6, 0, 0, 1, 4},
         {0, 0, 0, 0, 4, 0, 0, 0, 5, 5, 5, 5},
         false},
        {"a delta leaves pixels unset", 8, false, {1, 3, 0, 2, 2, 1, 1, 4, 0, 1}, {0, 0, 0, 0, 0, 0, 0, 4, 3, 0, 0, 0}},
        {"a delta beyond the last row ends it",
         8,
         false,
         {1, 3, 0, 2, 0, 5, 1, 4},
         {0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0}},
        {"an absolute run and its pad byte",
         8,
         false,
         {0, 3, 1, 2, 3, 99, 1, 6, 0, 1},
         {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 6}},
        {"an absolute run cut short by the end", 8, false, {0, 4, 1, 2}, {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 0, 0}, false},
        {"a run cut short by the end sets nothing",
         8,
         false,
         {2, 7, 0, 0, 3},
         {0, 0, 0, 0, 0, 0, 0, 0, 7, 7, 0, 0},
         false},
        {"after the last row the stream is not read",
         8,
         false,
         {4, 1, 0, 0, 4, 2, 0, 0, 4, 3, 0, 0, 4, 9},
         {3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1}},
        {"top-down rows", 8, true, {4, 1, 0, 0, 4, 2, 0, 1}, {1, 1, 1, 1, 2, 2, 2, 2, 0, 0, 0, 0}},
        {"RLE4 runs alternate their two indices",
         4,
         false,
         {3, 0x12, 0, 0, 4, 0x30, 0, 1},
         {0, 0, 0, 0, 3, 0, 3, 0, 1, 2, 1, 0}},
        {"RLE4 absolute run of 3",
         4,
         false,
         {0, 3, 0xAB, 0xC0, 1, 0xD0, 0, 1},
         {0, 0, 0, 0, 0, 0, 0, 0, 0xA, 0xB, 0xC, 0xD}},
        {"RLE4 absolute run of 5: its pad byte, the fifth pixel dropped",
         4,
         false,
         {0, 5, 0xAB, 0xCD, 0xE0, 0xFF, 0, 0, 2, 0x55, 0, 1},
         {0, 0, 0, 0, 5, 5, 0, 0, 0xA, 0xB, 0xC, 0xD}},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> stored(4 * 3, 0);  // stride 4, bottom row first
        ByteReader stream = ReaderOfMemory(c.Stream.data(), c.Stream.size());
        EXPECT_EQ(DecodeRle(stream, c.Bits, 4, 3, c.TopDown, stored.data(), 4), c.Whole) << c.Name;
        std::vector<std::uint8_t> rows;
        for (int r = 2; r >= 0; --r) rows.insert(rows.end(), stored.begin() + 4 * r, stored.begin() + 4 * r + 4);
        EXPECT_EQ(rows, c.Rows) << c.Name;
    }
}

TEST(ImportKinds, StoredRowsBecomeValues) {
    BmpHead verdict{};
    IndexedPalette palette{};
    palette.Colours[0] = {0, 0, 0};
    palette.Colours[1] = {255, 255, 255};
    palette.Colours[2] = {255, 0, 0};
    for (int i = 0; i < 3; ++i) palette.Present[i] = true;
    const IndexValues indexValues = ValuesOfPalette(palette, Palette::Gray);
    struct Case {
        const char* Name;
        std::uint16_t Bits;
        std::uint32_t Compression;
        std::uint32_t Masks[3];
        std::vector<std::uint8_t> Stored;
        std::vector<std::uint8_t> Values;  // of 3 pixels
        std::uint64_t OffColour;
    };
    const Case cases[] = {
        {"1 bit, first pixel high", 1, 0, {}, {0b10100000}, {255, 0, 255}, 0},
        {"4 bits, an index beyond the palette is black", 4, 0, {}, {0x21, 0xF0}, {77, 255, 0}, 1},
        {"16 bits 5-5-5", 16, 0, {}, {0xFF, 0x7F, 0x00, 0x7C, 0x10, 0x42}, {255, 77, 132}, 1},
        {"24 bits blue, green, red", 24, 0, {}, {9, 9, 9, 0, 0, 255, 0, 255, 0}, {9, 77, 149}, 2},
        {"32 bits, the fourth byte ignored", 32, 0, {}, {1, 1, 1, 7, 2, 2, 2, 0, 255, 0, 0, 255}, {1, 2, 29}, 1},
        {"32-bit bit fields of 10 bits",
         32,
         3,
         {0x3FF00000, 0x000FFC00, 0x000003FF},
         {0xFF, 0xFF, 0xFF, 0x3F, 0, 0, 0, 0, 0x00, 0x00, 0xF0, 0x3F},
         {255, 0, 77},
         1},
        {"16-bit bit fields 5-6-5, a zero mask",
         16,
         3,
         {0xF800, 0x07E0, 0},
         {0xFF, 0xFF, 0xE0, 0x07, 0, 0xF8},
         {226, 149, 77},
         3},
    };
    for (const Case& c : cases) {
        verdict.BitCount = c.Bits;
        verdict.Compression = c.Compression;
        std::memcpy(verdict.Masks, c.Masks, sizeof verdict.Masks);
        std::vector<std::uint8_t> values(3);
        std::uint64_t off = 0;
        ConvertRow(FormatOf(verdict), c.Stored.data(), 3, Palette::Gray, indexValues, values.data(), &off);
        EXPECT_EQ(values, c.Values) << c.Name;
        EXPECT_EQ(off, c.OffColour) << c.Name;
    }
}

// Whether an 8-bit import's pixels are taken by colour, from its palette and
// the indices it uses.
TEST(ImportKinds, EightBitImportByColourOnlyWhenItsPaletteWasRebuilt) {
    struct Case {
        const char* Name;
        Palette Layer;
        std::vector<Rgb> Entries;  // the palette's length is theirs
        std::vector<int> Used;
        bool ByColour;
    };
    std::vector<Rgb> greys, landType = {{0, 128, 0}, {128, 128, 128}, {255, 255, 0}};
    for (int i = 0; i < 256; ++i) {
        greys.push_back(ExportColour(Palette::Gray, i));
        if (i >= 3) landType.push_back(ExportColour(Palette::Gray, i));
    }
    std::vector<Rgb> landTypeOneYellow = landType;
    landTypeOneYellow[3] = {255, 255, 0};
    std::vector<Rgb> swapped = greys;  // black and the darkest grey change places
    std::swap(swapped[0], swapped[1]);
    const Case cases[] = {
        {"the tool's own export", Palette::Gray, greys, {0, 17, 255}, false},
        {"greys at other places", Palette::Gray, swapped, {0, 5, 200}, true},
        {"greys in place where used", Palette::Gray, swapped, {5, 200}, false},
        {"a false-colour palette", Palette::Gray, {{255, 0, 0}, {0, 255, 0}}, {0, 1}, false},
        {"one entry not a grey", Palette::Gray, {{9, 9, 9}, {1, 2, 3}}, {0, 1}, false},
        {"an index beyond the palette", Palette::Gray, {{9, 9, 9}, {8, 8, 8}}, {0, 5}, false},
        {"LandType's export, a cell of 128", Palette::LandType, landType, {0, 1, 2, 128}, false},
        {"LandType rebuilt", Palette::LandType, {{255, 255, 0}, {0, 128, 0}, {128, 128, 128}}, {0, 1, 2}, true},
        {"LandType rebuilt, a grey used", Palette::LandType, {{255, 255, 0}, {3, 3, 3}}, {0, 1}, false},
        {"grey layer from LandType's export", Palette::Gray, landType, {0, 1}, false},
        {"LandType, one entry rebuilt, an export grey used", Palette::LandType, landTypeOneYellow, {3, 200}, false},
    };
    for (const Case& c : cases) {
        UsedEntries used{};
        for (int i : c.Used) {
            const bool present = i < static_cast<int>(c.Entries.size());
            NoteUsedEntry(used, ClassifyEntry(c.Layer, i, present, present ? c.Entries[i] : Rgb{0, 0, 0}));
        }
        EXPECT_EQ(TakeByColour(used), c.ByColour) << c.Name;
    }
}

// ---- PNG ---------------------------------------------------------------------

using Bytes = std::vector<std::uint8_t>;

void Append32(Bytes& out, std::uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A chunk with a checksum of zeros: the import does not check them.
void AppendChunk(Bytes& out, const char* type, const Bytes& data) {
    Append32(out, static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    Append32(out, 0);
}

Bytes Deflated(const Bytes& raw, std::size_t keep) {
    int length = 0;
    unsigned char* packed =
        stbi_zlib_compress(const_cast<unsigned char*>(raw.data()), static_cast<int>(raw.size()), &length, 8);
    Bytes out(packed, packed + std::min<std::size_t>(keep, static_cast<std::size_t>(length)));
    std::free(packed);
    return out;
}

// Two scanlines of a filter byte and then the same byte throughout.
Bytes TwoRows(std::size_t rowBytes, std::uint8_t fill) {
    Bytes row(rowBytes, fill);
    row[0] = 0;
    Bytes rows = row;
    rows.insert(rows.end(), row.begin(), row.end());
    return rows;
}

// The scanlines of an interlaced 8-bit grey image of pixel (x, y) = 10 y + x + 1:
// Adam7's seven passes, each row unfiltered.
Bytes Adam7Rows(std::uint32_t width, std::uint32_t height) {
    const std::uint32_t x0[] = {0, 4, 0, 2, 0, 1, 0}, y0[] = {0, 0, 4, 0, 2, 0, 1};
    const std::uint32_t dx[] = {8, 8, 4, 4, 2, 2, 1}, dy[] = {8, 8, 8, 4, 4, 2, 2};
    Bytes rows;
    for (int p = 0; p < 7; ++p) {
        if (x0[p] >= width) continue;  // an empty pass has no scanlines
        for (std::uint32_t y = y0[p]; y < height; y += dy[p]) {
            rows.push_back(0);
            for (std::uint32_t x = x0[p]; x < width; x += dx[p])
                rows.push_back(static_cast<std::uint8_t>(10 * y + x + 1));
        }
    }
    return rows;
}

struct PngCase {
    const char* Name;
    std::uint8_t Depth, ColourType;
    Bytes Rows = {};                        // the scanlines, each led by its filter byte
    std::optional<Bytes> Palette = {};      // the palette chunk's data
    std::vector<std::uint8_t> Values = {};  // the first 4 of the top and bottom rows; empty: refused
    bool Transparency = false;
    std::size_t KeepDeflated = SIZE_MAX;  // the image data cut short
    std::size_t Repeat = 1;               // the rows this many times over
    std::uint32_t Width = 4, Height = 2;
    const char* Note = "";    // ... and the refusal's note says this
    bool SampleHigh = false;  // a 16-bit colour sample of 256 or more
    bool Interlaced = false;
    bool Split = false;                   // an empty image data chunk, then the data a byte a chunk
    std::optional<Bytes> ImageData = {};  // the image data as it stands, not the rows deflated
    Bytes Before = {};                    // bytes before the image data chunks
    std::size_t KeepFile = SIZE_MAX;      // the file cut short
    std::int64_t OffColour = -1;          // pixels not exactly a layer colour; -1: not looked at
};

Bytes MakePng(const PngCase& c) {
    Bytes png(kPngSignature, kPngSignature + 8);
    Bytes header;
    Append32(header, c.Width);
    Append32(header, c.Height);
    for (std::uint8_t b : {c.Depth, c.ColourType, std::uint8_t{0}, std::uint8_t{0}, std::uint8_t{c.Interlaced}})
        header.push_back(b);
    AppendChunk(png, "IHDR", header);
    if (c.Palette) AppendChunk(png, "PLTE", *c.Palette);
    if (c.Transparency) AppendChunk(png, "tRNS", Bytes{0, 0});
    png.insert(png.end(), c.Before.begin(), c.Before.end());
    Bytes raw;
    for (std::size_t i = 0; i < c.Repeat; ++i) raw.insert(raw.end(), c.Rows.begin(), c.Rows.end());
    const Bytes data = c.ImageData ? *c.ImageData : Deflated(raw, c.KeepDeflated);
    if (c.Split) {
        AppendChunk(png, "IDAT", {});
        for (std::uint8_t b : data) AppendChunk(png, "IDAT", {b});
    } else {
        AppendChunk(png, "IDAT", data);
    }
    AppendChunk(png, "IEND", {});
    png.insert(png.end(), {'j', 'u', 'n', 'k'});  // after the image end: not read
    png.resize(std::min(png.size(), c.KeepFile));
    return png;
}

// Every row of an accepted file, top first: streamed, or whole when interlaced.
bool DecodeRows(PngRows& rows, std::vector<Bytes>* picture) {
    const PngHeader& h = rows.Header;
    platform::Memory<std::uint8_t> values;
    if (h.Interlace == 1 && !DecodePngWhole(rows, &values)) return false;
    picture->assign(h.Height, Bytes(h.Width));
    if (h.Interlace == 1) {
        for (std::uint32_t y = 0; y < h.Height; ++y) {
            const std::uint8_t* stored = values.get() + RowStride(h.Width) * (h.Height - 1 - y);
            std::copy(stored, stored + h.Width, (*picture)[y].begin());
        }
        return true;
    }
    for (Bytes& row : *picture)
        if (!NextPngRow(rows, row.data())) return false;
    return true;
}

TEST(ImportKinds, PngDecodingDetails) {
    const Bytes greenGrey = {0, 128, 0, 128, 128, 128};
    const Bytes zeros16(16, 0), zeros24(24, 0);
    const auto row16 = [](std::initializer_list<std::uint8_t> bytes, const Bytes& bottom) {
        Bytes rows = {0};
        rows.insert(rows.end(), bytes);
        rows.push_back(0);
        rows.insert(rows.end(), bottom.begin(), bottom.end());
        return rows;
    };
    const PngCase cases[] = {
        {"grey of 8 bits", 8, 0, {0, 0, 1, 200, 255, 0, 7, 7, 7, 7}, {}, {0, 1, 200, 255, 7, 7, 7, 7}},
        {"grey of 1 bit widens", 1, 0, {0, 0b10100000, 0, 0b01010000}, {}, {255, 0, 255, 0, 0, 255, 0, 255}},
        {"grey of 2 bits widens", 2, 0, {0, 0b00011011, 0, 0b11100100}, {}, {0, 85, 170, 255, 255, 170, 85, 0}},
        {"grey of 4 bits widens", 4, 0, {0, 0x0F, 0x58, 0, 0x12, 0x34}, {}, {0, 255, 85, 136, 17, 34, 51, 68}},
        {"16 bits by the high byte",
         16,
         0,
         row16({0x12, 0xFF, 0xFF, 0, 0, 0x80, 0x01, 0x01}, Bytes(8, 0)),
         {},
         {0x12, 0xFF, 0, 1, 0, 0, 0, 0},
         false,
         SIZE_MAX,
         1,
         4,
         2,
         "",
         true},
        {.Name = "16-bit grey and alpha: samples all below 256, alpha aside",
         .Depth = 16,
         .ColourType = 4,
         .Rows = row16({0, 0xFF, 0xFF, 0xFF, 0, 0x10, 0xFF, 0xFF, 0, 1, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF}, zeros16),
         .Values = {0, 0, 0, 0, 0, 0, 0, 0}},
        {"an index beyond the palette is black",
         8,
         3,
         {0, 0, 1, 5, 255, 0, 1, 1, 1, 1},
         greenGrey,
         {75, 128, 0, 0, 128, 128, 128, 128}},
        {"a palette of 1 bit", 1, 3, {0, 0b10100000, 0, 0b01010000}, greenGrey, {128, 75, 128, 75, 75, 128, 75, 128}},
        {"a palette of 4 bits", 4, 3, {0, 0x01, 0x2F, 0, 0x10, 0x10}, greenGrey, {75, 128, 0, 0, 128, 75, 128, 75}},
        {.Name = "RGB",
         .Depth = 8,
         .ColourType = 2,
         .Rows = {0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         .Values = {77, 149, 29, 9, 0, 0, 0, 0},
         .OffColour = 3},
        {"RGB of 16 bits",
         16,
         2,
         row16({0xFF, 0, 0, 0, 0, 0, 0, 0xFF, 0, 0xFF, 0, 0xFF, 1, 1, 2, 2, 3, 3, 200, 0, 200, 9, 200, 0}, zeros24),
         {},
         {77, 0, 2, 200, 0, 0, 0, 0},
         false,
         SIZE_MAX,
         1,
         4,
         2,
         "",
         true},
        {"grey and alpha: alpha does not count",
         8,
         4,
         {0, 10, 0, 20, 255, 30, 7, 40, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         {},
         {10, 20, 30, 40, 0, 0, 0, 0}},
        {"RGBA",
         8,
         6,
         {0, 0, 0, 255, 0, 9, 9, 9, 255, 255, 255, 255, 0, 0, 255, 0, 9, 0,
          0, 0, 0, 0,   0, 0, 0, 0, 0,   0,   0,   0,   0, 0, 0,   0, 0},
         {},
         {29, 9, 255, 149, 0, 0, 0, 0}},
        {"transparency does not count", 8, 0, {0, 0, 1, 2, 3, 0, 0, 0, 0, 0}, {}, {0, 1, 2, 3, 0, 0, 0, 0}, true},
        // Filters: Sub over 3 bytes a pixel, Up, Average, and Paeth taking a, c and b.
        {"filter Sub",
         8,
         2,
         {1, 10, 20, 30, 5, 5, 5, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         {},
         {18, 23, 24, 24, 0, 0, 0, 0}},
        {"filter Up", 8, 0, {0, 1, 2, 3, 4, 2, 10, 10, 10, 250}, {}, {1, 2, 3, 4, 11, 12, 13, 254}},
        {"filter Average", 8, 0, {3, 10, 10, 10, 10, 3, 2, 2, 2, 2}, {}, {10, 15, 17, 18, 7, 13, 17, 19}},
        {"filter Paeth", 8, 0, {0, 100, 150, 100, 150, 4, 216, 246, 10, 3}, {}, {100, 150, 100, 150, 60, 90, 100, 153}},
        {.Name = "a filter PNG does not define",
         .Depth = 8,
         .ColourType = 0,
         .Rows = {0, 1, 2, 3, 4, 5, 0, 0, 0, 0},
         .Note = "row 2 has filter type 5"},
        {.Name = "interlaced",
         .Depth = 8,
         .ColourType = 0,
         .Rows = Adam7Rows(4, 2),
         .Values = {1, 2, 3, 4, 11, 12, 13, 14},
         .Interlaced = true},
        {.Name = "interlaced, too large to decode whole",
         .Depth = 8,
         .ColourType = 0,
         .Width = 12000,
         .Height = 12000,
         .Note = "too large to decode whole",
         .Interlaced = true},
        {.Name = "a palette image without its palette",
         .Depth = 8,
         .ColourType = 3,
         .Rows = {0, 0, 1, 1, 1, 0, 1, 1, 1, 1},
         .Note = "without a palette"},
        {.Name = "an empty palette",
         .Depth = 8,
         .ColourType = 3,
         .Rows = {0, 0, 1, 1, 1, 0, 1, 1, 1, 1},
         .Palette = Bytes{},
         .Note = "holds 0 bytes"},
        {.Name = "an empty image data chunk, then chunks of a byte",
         .Depth = 8,
         .ColourType = 0,
         .Rows = {0, 0, 1, 2, 3, 0, 4, 5, 6, 7},
         .Values = {0, 1, 2, 3, 4, 5, 6, 7},
         .Split = true},
        {.Name = "image data that stops short",
         .Depth = 8,
         .ColourType = 0,
         .Rows = {0, 0, 1, 2, 3, 0, 4, 5, 6, 7},
         .KeepDeflated = 6,
         .Note = "end chunk comes"},
        {.Name = "compressed data that ends before the last row",
         .Depth = 8,
         .ColourType = 0,
         .Rows = {0, 0, 1, 2, 3},
         .Note = "compressed image data ends before its last row (it stops after 1 of 2 rows)"},
        {.Name = "a file cut short",
         .Depth = 8,
         .ColourType = 0,
         .Rows = {0, 0, 1, 2, 3, 0, 4, 5, 6, 7},
         .Note = "ends before its image data does",
         .KeepFile = 8 + 25 + 8 + 4},
        {.Name = "damaged compressed data",
         .Depth = 8,
         .ColourType = 0,
         .Note = "damaged after 0 of 2 rows (invalid block type)",
         .ImageData = Bytes{0x78, 0x9C, 0xFF, 0xFF}},
        {.Name = "no zlib header",
         .Depth = 8,
         .ColourType = 0,
         .Note = "not begin with a zlib header (its first bytes are 78 00)",
         .ImageData = Bytes{0x78, 0x00, 0x03, 0x00}},
        {.Name = "a chunk longer than PNG allows",
         .Depth = 8,
         .ColourType = 0,
         .Note = "\"tEXt\" gives its length as 2147483648 bytes",
         .Before = {0x80, 0, 0, 0, 't', 'E', 'X', 't'}},
        {.Name = "a critical chunk the tool does not know",
         .Depth = 8,
         .ColourType = 0,
         .Note = "a chunk \"ABCD\" that this tool does not know",
         .Before = {0, 0, 0, 0, 'A', 'B', 'C', 'D', 0, 0, 0, 0}},
        // Data beyond the image is not inflated: damage in it goes unseen, and
        // a stream that unpacks without end costs no more than the image.
        {"image data far beyond the image", 8, 0, {0, 9, 9, 9, 9}, {}, {9, 9, 9, 9, 9, 9, 9, 9}, false, 300, 20000},
        // Its decoded image takes a byte per index, four times the data.
        {"a palette of 2 bits as large as a map",
         2,
         3,
         TwoRows(257, 0b01000100),
         greenGrey,
         {128, 75, 128, 75, 128, 75, 128, 75},
         false,
         SIZE_MAX,
         128,
         1024,
         256},
    };
    for (const PngCase& c : cases) {
        const ImportLayer layer{"LandHeight", Palette::Gray, c.Width, c.Height, 1, true};
        const Bytes file = MakePng(c);
        const std::string path = "velmarsh-png-test.png";
        test_files::Save(path, file);
        PngHeader header{};
        ASSERT_EQ(JudgePngHead(file.data(), kImportHeadSize, file.size(), layer, path, &header).Outcome,
                  Verdict::Accepted)
            << c.Name;
        const platform::FileHandle handle =
            platform::OpenFile(path.c_str(), platform::Share::Read, platform::Disposition::OpenExisting);
        PngRows rows{};
        const bool checked = StartPngRows(rows, handle, file.size(), header, layer.Colours) && CheckPngRows(rows);
        const std::string checkNote = rows.Note;
        std::vector<Bytes> picture;
        const bool decoded =
            StartPngRows(rows, handle, file.size(), header, layer.Colours) && DecodeRows(rows, &picture);
        EndPngRows(rows);
        EndPngRows(rows);  // twice is safe
        platform::CloseFile(handle);
        std::remove(path.c_str());
        EXPECT_EQ(checked, decoded) << c.Name << ": the check foretells the decoding";
        if (c.Values.empty()) {
            EXPECT_FALSE(decoded) << c.Name;
            EXPECT_EQ(rows.Status, PngStatus::Invalid) << c.Name;
            EXPECT_NE(rows.Note.find(c.Note), std::string::npos) << c.Name << ": " << rows.Note;
            EXPECT_EQ(checkNote, rows.Note) << c.Name;
            continue;
        }
        ASSERT_TRUE(decoded) << c.Name << ": " << rows.Note;
        std::vector<std::uint8_t> values(picture.front().begin(), picture.front().begin() + 4);
        values.insert(values.end(), picture.back().begin(), picture.back().begin() + 4);
        EXPECT_EQ(values, c.Values) << c.Name;
        EXPECT_EQ(rows.AnySampleHigh, c.SampleHigh) << c.Name;
        if (c.OffColour >= 0) {
            EXPECT_EQ(rows.OffColour, static_cast<std::uint64_t>(c.OffColour)) << c.Name;
        }
    }
}

// The literal coder's pieces of a stream, deflated one after another as an
// export's segments are, come back whole through zlib's inflate: a code too
// long for deflate is flattened, a block that will not shrink is stored.
TEST(ImportKinds, LiteralDeflateComesBackThroughInflate) {
    struct Case {
        const char* Name;
        std::vector<Bytes> Pieces;
        bool Shrinks;
    };
    Bytes skewed;  // counts 1, 1, 2, 4 ... 32768: a Huffman code 17 bits deep
    for (int v = 0; v < 17; ++v) skewed.insert(skewed.end(), v == 0 ? 1u : 1u << (v - 1), static_cast<std::uint8_t>(v));
    Bytes noise(70000), smooth(200000);
    std::uint32_t seed = 7;
    for (std::uint8_t& v : noise) v = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
    for (std::size_t i = 0; i < smooth.size(); ++i) smooth[i] = static_cast<std::uint8_t>(noise[i % noise.size()] % 7);
    const Case cases[] = {
        {"nothing at all", {{}}, false},
        {"an empty piece between two", {Bytes(10, 4), {}, Bytes(3, 9)}, false},
        {"one value, over several blocks", {Bytes(150000, 0)}, true},
        {"a code flattened to 15 bits", {skewed}, true},
        {"noise, stored", {noise}, false},
        {"small values, pieces of many blocks", {smooth, smooth, Bytes(1, 200)}, true},
    };
    for (const Case& c : cases) {
        Bytes stream, whole;
        for (std::size_t i = 0; i < c.Pieces.size(); ++i) {
            const Bytes& piece = c.Pieces[i];
            whole.insert(whole.end(), piece.begin(), piece.end());
            Bytes out(DeflateLiteralsBound(piece.size()));
            out.resize(DeflateLiterals(piece.data(), piece.size(), i + 1 == c.Pieces.size(), out.data()));
            stream.insert(stream.end(), out.begin(), out.end());
        }
        Bytes back(whole.size() + 1);
        z_stream z{};
        ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
        z.next_in = stream.data();
        z.avail_in = static_cast<uInt>(stream.size());
        z.next_out = back.data();
        z.avail_out = static_cast<uInt>(back.size());
        EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END) << c.Name << ": " << (z.msg ? z.msg : "");
        EXPECT_EQ(z.avail_in, 0u) << c.Name;
        back.resize(z.total_out);
        inflateEnd(&z);
        EXPECT_EQ(back, whole) << c.Name;
        EXPECT_EQ(stream.size() < whole.size() / 2, c.Shrinks) << c.Name << ": " << stream.size();
    }
}

// An export written by the PNG writer imports as the values it was given,
// through the source the movers read (its rows taken a block ahead on a
// thread), and stb_image sees the export palette's colours in it. The
// picture is larger than two read-ahead blocks, so that blocks take turns.
TEST(ImportKinds, PngExportsComeBackAsTheirValues) {
    for (const Palette palette : {Palette::Gray, Palette::LandType}) {
        // Values a deflate stream cannot shrink much, so that the image data
        // takes several chunks (grey ones 0 to 63, so that they are coded,
        // not stored); LandType keeps 0 to 2.
        const std::uint32_t width = 3001, height = 3000;
        std::vector<Bytes> picture(height, Bytes(width));
        std::uint32_t seed = 12345;
        for (Bytes& row : picture)
            for (std::uint8_t& v : row) {
                seed = seed * 1103515245u + 12345u;
                v = static_cast<std::uint8_t>((seed >> 24) % (palette == Palette::Gray ? 64 : 3));
            }
        const std::string path = "velmarsh-png-export.png";
        platform::FileHandle handle =
            platform::OpenFile(path.c_str(), platform::Share::None, platform::Disposition::CreateAlways);
        PngWriter png{};
        ASSERT_TRUE(StartPngFile(png, handle, width, height, palette));
        for (const Bytes& row : picture) ASSERT_TRUE(WritePngRow(png, row.data()));
        ASSERT_TRUE(FinishPngFile(png));
        EndPngFile(png);
        EndPngFile(png);  // twice is safe
        std::uint64_t size = 0;
        platform::GetFileSize(handle, &size);
        platform::CloseFile(handle);

        const ImportLayer layer{"LandType", palette, width, height, 1, true};
        const auto open = [&](ImportSource* source) {
            const platform::FileHandle file =
                platform::OpenFile(path.c_str(), platform::Share::Read, platform::Disposition::OpenExisting);
            std::uint8_t head[kImportHeadSize] = {};
            std::uint32_t got = 0;
            platform::ReadFileAt(file, 0, head, sizeof head, &got);
            const ImportVerdict verdict = OpenImportSource(head, file, layer, path, source);
            return verdict.Outcome == Verdict::Accepted && source->Reading == RowSource::Stream;
        };
        // Rows read in order until one fails, or count of them: how many
        // came back as exported.
        Bytes row(RowStride(width));
        const auto readRows = [&](ImportSource& source, std::uint32_t count, std::uint32_t* code) {
            std::uint32_t same = 0;
            for (std::uint32_t y = 0; y < count; ++y) {
                if (!ReadPictureRows(source, y, 1, row.data(), code)) break;
                same += std::equal(picture[y].begin(), picture[y].end(), row.begin());
            }
            return same;
        };
        ImportSource whole{}, stopped{}, cut{};
        std::uint32_t code = 0;
        ASSERT_TRUE(open(&whole));
        EXPECT_EQ(readRows(whole, height, &code), height);
        CloseImportSource(whole);
        EXPECT_NE(whole.Note.find("every pixel is exactly"), std::string::npos) << whole.Note;
        // A mover that stops with the thread still reading ahead.
        ASSERT_TRUE(open(&stopped));
        EXPECT_EQ(readRows(stopped, height / 3, &code), height / 3);
        CloseImportSource(stopped);

        int w = 0, h = 0, channels = 0;
        stbi_uc* rgb = stbi_load(path.c_str(), &w, &h, &channels, 3);
        ASSERT_NE(rgb, nullptr) << stbi_failure_reason();
        EXPECT_EQ(w, static_cast<int>(width));
        EXPECT_EQ(h, static_cast<int>(height));
        bool same = true;
        for (std::uint32_t y = 0; y < height; ++y)
            for (std::uint32_t x = 0; x < width; ++x) {
                const stbi_uc* p = rgb + 3 * (std::uint64_t{y} * width + x);
                same = same && Rgb{p[0], p[1], p[2]} == ExportColour(palette, picture[y][x]);
            }
        EXPECT_TRUE(same);
        stbi_image_free(rgb);
        if (palette == Palette::Gray) {
            EXPECT_GT(size, 1100u + (256u << 10)) << "the image data takes several chunks";
        }

        // Cut short after its check: the rows before the cut arrive, then
        // the short read of a file that changed. Windows lets no other
        // program cut a file the import holds.
        ASSERT_TRUE(open(&cut));
        std::error_code error;
        std::filesystem::resize_file(path, size / 2, error);
#ifdef _WIN32
        EXPECT_TRUE(error);
#else
        ASSERT_FALSE(error) << error.message();
        const std::uint32_t arrived = readRows(cut, height, &code);
        EXPECT_GT(arrived, 0u);
        EXPECT_LT(arrived, height);
        EXPECT_EQ(code, platform::ShortReadCode());
#endif
        CloseImportSource(cut);
        std::remove(path.c_str());
    }
}

}  // namespace
