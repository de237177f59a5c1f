#include <gtest/gtest.h>

#include "platform/error_words.h"
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

// The words after an error line come from one table for both systems, whose
// numbers differ; built into the Windows tests as well.
TEST(ErrorWords, BothSystemsNumbers) {
    using platform::words::System;
    namespace words = platform::words;
    const struct {
        std::uint32_t Code;
        System From;
        const words::Words* Expected;  // nullptr: not in the table
    } table[] = {
        {16, System::Posix, &words::kInUse},          // EBUSY
        {32, System::Windows, &words::kInUse},        // ERROR_SHARING_VIOLATION
        {13, System::Posix, &words::kAccessDenied},   // EACCES
        {5, System::Windows, &words::kAccessDenied},  // ERROR_ACCESS_DENIED
        {5, System::Posix, &words::kDeviceFault},     // EIO: the same number, another meaning
        {28, System::Posix, &words::kDiskFull},       // ENOSPC
        {112, System::Windows, &words::kDiskFull},    // ERROR_DISK_FULL
        {39, System::Windows, &words::kDiskFull},     // ERROR_HANDLE_DISK_FULL
        {39, System::Posix, nullptr},                 // ENOTEMPTY
        {2, System::Posix, &words::kNotFound},        // ENOENT
        {2, System::Windows, &words::kNotFound},      // ERROR_FILE_NOT_FOUND
        {40, System::Posix, &words::kLinkLoop},       // ELOOP
        {1921, System::Windows, &words::kLinkLoop},   // ERROR_CANT_RESOLVE_FILENAME
        {1, System::Posix, &words::kAccessDenied},    // EPERM
        {1, System::Windows, nullptr},                // ERROR_INVALID_FUNCTION
        {0, System::Posix, nullptr},                  // no error at all
        {0, System::Windows, nullptr},
    };
    for (const auto& c : table) {
        const words::Words* got = words::WordsFor(c.Code, c.From);
        const bool windows = c.From == System::Windows;
        ASSERT_EQ(got != nullptr, c.Expected != nullptr) << c.Code << (windows ? " on Windows" : " on Linux");
        if (got == nullptr) continue;
        EXPECT_STREQ(got->Meaning, c.Expected->Meaning) << c.Code << (windows ? " on Windows" : " on Linux");
        EXPECT_STREQ(got->Next, c.Expected->Next) << c.Code << (windows ? " on Windows" : " on Linux");
    }
}

}  // namespace
