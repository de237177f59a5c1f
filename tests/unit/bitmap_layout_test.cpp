// Where map cells land in the layer bitmaps, on the sizes users meet.
#include <gtest/gtest.h>

#include "move/bitmap_layout.h"

namespace {

TEST(BitmapLayout, StridesAndPadding) {
    const struct {
        std::uint32_t Width;
        std::uint64_t Stride, LargeStride;
    } cases[] = {{1, 4, 8}, {3, 4, 16}, {5, 8, 28}, {128, 128, 640}, {2047, 2048, 10236}};
    for (const auto& c : cases) {
        const LayerGeometry one = GeometryOf(1, c.Width, 7), large = GeometryOf(5, c.Width, 7);
        EXPECT_EQ(one.Stride, c.Stride) << c.Width;
        EXPECT_EQ(large.Stride, c.LargeStride) << c.Width;
        // LargeMap rows pad as much as one-byte rows: 5 x Width and Width agree modulo 4.
        EXPECT_EQ(large.Stride - 5 * c.Width, one.Stride - c.Width) << c.Width;
        EXPECT_EQ(large.ImageHeight, 35u);
        EXPECT_EQ(BandLength(large), 5 * c.LargeStride);
    }
}

TEST(BitmapLayout, BottomMapRowIsStoredFirst) {
    const LayerGeometry one = GeometryOf(1, 5, 3), large = GeometryOf(5, 5, 3);  // strides 8 and 28
    EXPECT_EQ(BandPosition(one, 1078, 2), 1078u);
    EXPECT_EQ(BandPosition(one, 1078, 0), 1078u + 16);
    EXPECT_EQ(BandPosition(one, 118, 1), 118u + 8);
    EXPECT_EQ(BandPosition(large, 1078, 2), 1078u);
    EXPECT_EQ(BandPosition(large, 1078, 0), 1078u + 28 * 10);
    // The whole exported file: header, then padded rows, the last row's padding included.
    EXPECT_EQ(BandPosition(one, 1078, 0) + BandLength(one), 1078u + 8 * 3);
    EXPECT_EQ(BandPosition(large, 1078, 0) + BandLength(large), 1078u + 28 * 15);
}

// Byte j of block row k of cell (x, y) is pixel (5x + j, 5y + k) counted from the top.
TEST(BitmapLayout, BlockRowsAreUprightInTheImage) {
    const LayerGeometry g = GeometryOf(5, 6, 4);
    for (std::uint32_t y = 0; y < 4; ++y) {
        for (std::uint32_t x = 0; x < 6; ++x) {
            for (std::uint32_t k = 0; k < 5; ++k) {
                const std::uint64_t imageRowFromTop = 5 * y + k;
                const std::uint64_t stored = g.ImageHeight - 1 - imageRowFromTop;
                EXPECT_EQ(BandPosition(g, 1078, y) + BlockRowInBand(g, x, k), 1078 + g.Stride * stored + 5 * x);
            }
        }
    }
}

TEST(BitmapLayout, LargeWorldsNeedSixtyFourBits) {
    const LayerGeometry g = GeometryOf(5, 65535, 65535);
    EXPECT_EQ(BandPosition(g, 1078, 0), 1078 + std::uint64_t{327676} * (327675 - 5));
}

}  // namespace
