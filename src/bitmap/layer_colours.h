// How a colour becomes a layer value, and how the channels of the common image
// formats widen to 8 bits. Pure: the import decoders and the tests share it.
#pragma once

#include <cstdint>

enum class Palette { Gray, LandType };

struct Rgb {
    std::uint8_t R, G, B;
};

inline constexpr bool operator==(Rgb a, Rgb b) { return a.R == b.R && a.G == b.G && a.B == b.B; }

// LandType's values 0, 1 and 2 as exports show them: green, grey, yellow.
inline constexpr Rgb kLandTypeColours[3] = {{0, 128, 0}, {128, 128, 128}, {255, 255, 0}};

// The colour an export gives index i: a grey ramp, LandType's three colours first.
inline constexpr Rgb ExportColour(Palette layer, int i) {
    if (layer == Palette::LandType && i < 3) return kLandTypeColours[i];
    const auto v = static_cast<std::uint8_t>(i);
    return {v, v, v};
}

// Whether a colour means a value of the layer exactly: any grey for the grey
// layers, one of the three colours for LandType.
inline constexpr bool IsLayerColour(Palette layer, Rgb c) {
    if (layer == Palette::Gray) return c.R == c.G && c.G == c.B;
    return c == kLandTypeColours[0] || c == kLandTypeColours[1] || c == kLandTypeColours[2];
}

inline constexpr std::uint32_t SquaredDistance(Rgb a, Rgb b) {
    const int r = a.R - b.R, g = a.G - b.G, bl = a.B - b.B;
    return static_cast<std::uint32_t>(r * r + g * g + bl * bl);
}

// A grey layer takes the brightness, which is v for the grey (v, v, v);
// LandType the nearest of its colours, the lower value on a tie.
inline constexpr std::uint8_t ValueOfColour(Palette layer, Rgb c) {
    if (layer == Palette::Gray) return static_cast<std::uint8_t>((77 * c.R + 150 * c.G + 29 * c.B + 128) >> 8);
    std::uint8_t best = 0;
    for (std::uint8_t v = 1; v < 3; ++v)
        if (SquaredDistance(c, kLandTypeColours[v]) < SquaredDistance(c, kLandTypeColours[best])) best = v;
    return best;
}

// The value of the last colour seen: neighbouring pixels mostly share theirs.
struct ColourMemo {
    Rgb Last;
    std::uint8_t Value;
    bool Exact;  // the colour is exactly one of the layer's
};

inline constexpr ColourMemo StartColourMemo(Palette layer) {
    return {{0, 0, 0}, ValueOfColour(layer, {0, 0, 0}), IsLayerColour(layer, {0, 0, 0})};
}

inline constexpr void Remember(ColourMemo& memo, Palette layer, Rgb colour) {
    if (!(colour == memo.Last)) memo = {colour, ValueOfColour(layer, colour), IsLayerColour(layer, colour)};
}

// A channel of n bits as 8 bits: fewer bits repeat themselves, as common
// decoders widen them; more keep their top 8.
inline constexpr std::uint8_t WidenChannel(std::uint32_t v, std::uint32_t bits) {
    constexpr std::uint32_t kMultiply[8] = {0, 255, 85, 73, 17, 33, 65, 129};
    constexpr std::uint32_t kShift[8] = {0, 0, 0, 1, 0, 2, 4, 6};
    if (bits == 0) return 0;
    if (bits >= 8) return static_cast<std::uint8_t>(v >> (bits - 8));
    return static_cast<std::uint8_t>((v * kMultiply[bits]) >> kShift[bits]);
}

// One colour channel of a bit-field pixel: where its bits lie.
struct ChannelMask {
    std::uint32_t Shift;
    std::uint32_t Bits;  // 0: the mask is zero and the channel reads 0
};

// False when the mask's set bits are not one run.
inline constexpr bool AnalyseMask(std::uint32_t mask, ChannelMask* out) {
    ChannelMask m{0, 0};
    if (mask != 0) {
        while ((mask >> m.Shift & 1u) == 0) ++m.Shift;
        const std::uint64_t run = std::uint64_t{mask} >> m.Shift;
        while (m.Shift + m.Bits < 32 && (run >> m.Bits & 1u) != 0) ++m.Bits;
        if ((run >> m.Bits) != 0) return false;
    }
    *out = m;
    return true;
}

inline constexpr std::uint8_t ChannelOf(std::uint32_t pixel, ChannelMask m) {
    if (m.Bits == 0) return 0;
    const std::uint64_t v = (std::uint64_t{pixel} >> m.Shift) & ((std::uint64_t{1} << m.Bits) - 1);
    return WidenChannel(static_cast<std::uint32_t>(v), m.Bits);
}

// What one entry of an 8-bit import's palette says about the pixels that use
// it. An index beyond the palette has no entry, and is both.
struct EntryClass {
    bool Moved;     // not the colour the export puts at its index
    bool NotLayer;  // not a colour of the layer (LandType's export greys above 2 are not)
};

inline constexpr EntryClass ClassifyEntry(Palette layer, int index, bool present, Rgb colour) {
    if (!present) return {true, true};
    return {!(colour == ExportColour(layer, index)), !IsLayerColour(layer, colour)};
}

// What the entries an 8-bit import's pixels use say, taken together.
struct UsedEntries {
    bool AnyMoved;
    bool AnyNotLayer;
};

inline constexpr void NoteUsedEntry(UsedEntries& used, EntryClass entry) {
    used.AnyMoved = used.AnyMoved || entry.Moved;
    used.AnyNotLayer = used.AnyNotLayer || entry.NotLayer;
}

// An 8-bit import is taken by colour only when its used entries are all
// colours of the layer and not all where the export put them; otherwise its
// pixels are the values (an own export, or a false-colour palette).
inline constexpr bool TakeByColour(UsedEntries used) { return used.AnyMoved && !used.AnyNotLayer; }

// The colours of a palette as an import reads them: entry i, and whether the
// file gave it. An index without an entry is black.
struct IndexedPalette {
    Rgb Colours[256];
    bool Present[256];
};

// Each index's value by the colour of its entry, and whether that colour is
// exactly one of the layer's.
struct IndexValues {
    std::uint8_t Values[256];
    bool Exact[256];
};

inline constexpr IndexValues ValuesOfPalette(const IndexedPalette& palette, Palette layer) {
    IndexValues table{};
    for (int i = 0; i < 256; ++i) {
        table.Values[i] = ValueOfColour(layer, palette.Colours[i]);
        table.Exact[i] = IsLayerColour(layer, palette.Colours[i]);
    }
    return table;
}

// Whether a palette is, entry for entry, the one an export of the other kind
// of layer has (LandType's for a grey layer, the grey ramp for LandType): the
// file is then most likely another layer's bitmap.
inline constexpr bool IsOtherExportPalette(const IndexedPalette& palette, Palette layer) {
    const Palette other = layer == Palette::Gray ? Palette::LandType : Palette::Gray;
    for (int i = 0; i < 256; ++i)
        if (!palette.Present[i] || !(palette.Colours[i] == ExportColour(other, i))) return false;
    return true;
}
