#include <gtest/gtest.h>

#include "world/world.h"

namespace {

WldHeader World(std::uint32_t width, std::uint32_t height, std::uint32_t smallMapOffset) {
    WldHeader header{};
    header.Width = width;
    header.Height = height;
    header.SmallMapOffset = smallMapOffset;
    return header;
}

TEST(WorldChecks, SpanRefusalsInOrder) {
    // 10 x 10: the table ends at 544; records need 4700 bytes; the block 100.
    const struct {
        std::uint32_t W, H, SmallMap;
        std::uint64_t Size;
        std::string Line;
    } table[] = {
        {0, 0, 0, 0, "Map size 0 x 0 is not supported!"},
        {0, 7, 0, 1 << 20, "Map size 0 x 7 is not supported!"},
        {4294967295u, 0, 0, 1 << 20, "Map size 4294967295 x 0 is not supported!"},
        {10, 10, 544, 543, "Cell offset table runs past the end of the WLD file!"},
        {10, 10, 543, 10000, "SmallMap block lies outside the WLD data!"},
        {10, 10, 9901, 10000, "SmallMap block lies outside the WLD data!"},
        {10, 10, 9900, 10000, ""},
        {10, 10, 544, 644, ""},
        // The block's end is reckoned in 64 bits: no wrap past 2^32.
        {65536, 2, 4294967295u, 1ull << 32, "SmallMap block lies outside the WLD data!"},
        {65536, 65536, 544, 1ull << 34, "Cell offset table runs past the end of the WLD file!"},
    };
    for (const auto& c : table) {
        const WorldRefusal refusal = JudgeWorldSpan(World(c.W, c.H, c.SmallMap), c.Size);
        EXPECT_EQ(refusal.Line, c.Line) << c.W << "x" << c.H << " @" << c.SmallMap;
        EXPECT_EQ(refusal.Advice != nullptr, !c.Line.empty()) << c.W << "x" << c.H << " @" << c.SmallMap;
    }
}

TEST(WorldChecks, RecordPlaces) {
    const struct {
        std::uint32_t Position;
        std::uint64_t TableEnd, Size;
        bool Inside;
    } table[] = {
        {544, 544, 591, true},
        {543, 544, 10000, false},
        {0, 544, 10000, false},
        {9953, 544, 10000, true},
        {9954, 544, 10000, false},
        // The end is reckoned in 64 bits: 2^32 - 1 + 47 does not wrap to 46.
        {4294967295u, 544, 1ull << 32, false},
        {4294967295u, 544, 1ull << 33, true},
    };
    for (const auto& c : table) {
        EXPECT_EQ(RecordLiesInside(c.Position, c.TableEnd, c.Size), c.Inside) << c.Position;
        EXPECT_EQ(JudgeRecordPlace(3, 7, c.Position, c.TableEnd, c.Size).empty(), c.Inside) << c.Position;
    }
    EXPECT_EQ(JudgeRecordPlace(3, 7, 10, 544, 10000), "LM record of cell (3, 7) at 10 lies outside the WLD data!");
}

}  // namespace
