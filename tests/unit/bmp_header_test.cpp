#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bitmap/bmp.h"
#include "platform/le_bytes.h"

namespace {

std::vector<std::uint8_t> Header(std::uint32_t width, std::uint32_t height) {
    BmpHeader header{};
    PrepareBmpHeader(header);
    SetBmpSize(header, width, height);
    return {header.Bytes, header.Bytes + kBmpHeaderSize};
}

TEST(BmpHeader, HundredByEightyIsByteExact) {
    const std::vector<std::uint8_t> expected = {
        0x42, 0x4D, 0x76, 0x23, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x04, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
        0x64, 0x00, 0x00, 0x00, 0x50, 0x00, 0x00, 0x00, 0x01, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x1F,
        0x00, 0x00, 0x13, 0x0B, 0x00, 0x00, 0x13, 0x0B, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
    const auto bytes = Header(100, 80);
    ASSERT_EQ(bytes.size(), 1078u);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 54), expected);
    for (int i = 0; i < 256; ++i) {
        const std::uint8_t* entry = bytes.data() + 54 + 4 * i;
        EXPECT_EQ(entry[0], i);
        EXPECT_EQ(entry[1], i);
        EXPECT_EQ(entry[2], i);
        EXPECT_EQ(entry[3], 0);
    }
}

TEST(BmpHeader, SizesOfLargeMapAndOddWidths) {
    struct Case {
        std::uint32_t Width, Height, SizeImage, FileSize;
    };
    for (const Case& c :
         {Case{500, 400, 200000, 201078}, Case{101, 80, 8320, 9398}, Case{1, 1, 4, 1082}, Case{5, 5, 40, 1118}}) {
        const auto bytes = Header(c.Width, c.Height);
        EXPECT_EQ(le::Get32(bytes.data() + 18), c.Width);
        EXPECT_EQ(le::Get32(bytes.data() + 22), c.Height);
        EXPECT_EQ(le::Get32(bytes.data() + 34), c.SizeImage) << c.Width;
        EXPECT_EQ(le::Get32(bytes.data() + 2), c.FileSize) << c.Width;
    }
}

TEST(BmpHeader, RowStrideRoundsUpToFour) {
    const std::pair<std::uint64_t, std::uint64_t> cases[] = {{1, 4},     {3, 4},     {4, 4},       {5, 8},
                                                             {100, 100}, {101, 104}, {2047, 2048}, {10235, 10236}};
    for (const auto& [width, stride] : cases) EXPECT_EQ(RowStride(width), stride) << width;
}

// The LandType colours exist only for their own write; the next header is grey.
TEST(BmpHeader, LandTypePaletteThenGreyAgain) {
    char path[] = "/tmp/velmarsh-bmp-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    const platform::FileHandle file =
        platform::OpenFile(path, platform::Share::None, platform::Disposition::CreateAlways);
    ASSERT_NE(file, platform::kInvalidFile);
    BmpHeader header{};
    PrepareBmpHeader(header);
    ASSERT_TRUE(WriteBmpHeader(header, file, 100, 80, Palette::LandType));
    ASSERT_TRUE(WriteBmpHeader(header, file, 100, 80, Palette::Gray));
    platform::CloseFile(file);

    std::FILE* f = std::fopen(path, "rb");
    std::vector<std::uint8_t> bytes(2 * kBmpHeaderSize);
    ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    std::remove(path);
    const std::vector<std::uint8_t> landType = {0x00, 0x80, 0x00, 0x00, 0x80, 0x80, 0x80, 0x00, 0x00, 0xFF, 0xFF, 0x00};
    const std::vector<std::uint8_t> grey = {0, 0, 0, 0, 1, 1, 1, 0, 2, 2, 2, 0};
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 54, bytes.begin() + 66), landType);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 1078 + 54, bytes.begin() + 1078 + 66), grey);
    // Apart from the three entries, the two headers are the same.
    for (std::size_t i = 0; i < kBmpHeaderSize; ++i)
        if (i < 54 || i >= 66) {
            EXPECT_EQ(bytes[i], bytes[kBmpHeaderSize + i]) << i;
        }
}

// A failed write of the LandType header leaves the palette grey all the same.
TEST(BmpHeader, FailedLandTypeWriteStillRestoresGrey) {
    const platform::FileHandle full =
        platform::OpenFile("/dev/full", platform::Share::None, platform::Disposition::OpenExisting);
    ASSERT_NE(full, platform::kInvalidFile);
    BmpHeader header{};
    PrepareBmpHeader(header);
    BmpHeader grey = header;
    EXPECT_FALSE(WriteBmpHeader(header, full, 100, 80, Palette::LandType));
    EXPECT_EQ(platform::LastError(), 28u);
    platform::CloseFile(full);
    SetBmpSize(grey, 100, 80);
    EXPECT_EQ(std::vector<std::uint8_t>(header.Bytes, header.Bytes + kBmpHeaderSize),
              std::vector<std::uint8_t>(grey.Bytes, grey.Bytes + kBmpHeaderSize));
}

struct Prefix {
    std::uint8_t Bytes[kBmpPrefixSize] = {};
    Prefix() {
        Bytes[0] = 'B';
        Bytes[1] = 'M';
        le::Put32(Bytes + 10, 1078);
        le::Put32(Bytes + 18, 100);
        le::Put32(Bytes + 22, 80);
        le::Put16(Bytes + 28, 8);
    }
};

TEST(BmpCheck, RejectionLinesInOrderOfPrecedence) {
    struct Case {
        const char* Name;
        void (*Spoil)(Prefix&);
        std::uint32_t Got;
        std::uint64_t FileSize;
        const char* Line;  // nullptr: accepted
    };
    const Case cases[] = {
        {"good", [](Prefix&) {}, 38, 9078, nullptr},
        {"short file", [](Prefix&) {}, 37, 37, "/m/x.bmp is not a valid BMP file!"},
        {"no magic, wrong depth",
         [](Prefix& p) {
             p.Bytes[1] = 'A';
             le::Put16(p.Bytes + 28, 24);
         },
         38, 9078, "/m/x.bmp is not a valid BMP file!"},
        {"offset below 54", [](Prefix& p) { le::Put32(p.Bytes + 10, 53); }, 38, 9078,
         "/m/x.bmp is not a valid BMP file!"},
        {"offset 54", [](Prefix& p) { le::Put32(p.Bytes + 10, 54); }, 38, 9078, nullptr},
        {"offset at the end", [](Prefix& p) { le::Put32(p.Bytes + 10, 9078); }, 38, 9078, nullptr},
        {"offset past the end", [](Prefix& p) { le::Put32(p.Bytes + 10, 9079); }, 38, 9078,
         "/m/x.bmp is not a valid BMP file!"},
        {"compressed and 24-bit",
         [](Prefix& p) {
             le::Put32(p.Bytes + 30, 1);
             le::Put16(p.Bytes + 28, 24);
         },
         38, 9078, "BMP is compressed!"},
        {"24-bit and wrong width",
         [](Prefix& p) {
             le::Put16(p.Bytes + 28, 24);
             le::Put32(p.Bytes + 18, 7);
         },
         38, 9078, "BMP is the wrong color depth!"},
        {"wrong width and height",
         [](Prefix& p) {
             le::Put32(p.Bytes + 18, 99);
             le::Put32(p.Bytes + 22, 1);
         },
         38, 9078, "Width of BMP is not equal to 100!"},
        {"wrong height", [](Prefix& p) { le::Put32(p.Bytes + 22, 81); }, 38, 9078, "Height of BMP is not equal to 80!"},
        {"top-down", [](Prefix& p) { le::Put32(p.Bytes + 22, static_cast<std::uint32_t>(-80)); }, 38, 9078,
         "Height of BMP is not equal to 80!"},
    };
    for (const Case& c : cases) {
        Prefix p;
        c.Spoil(p);
        const BmpVerdict verdict = JudgeBmpPrefix(p.Bytes, c.Got, c.FileSize, 100, 80, "/m/x.bmp");
        EXPECT_EQ(verdict.Accepted, c.Line == nullptr) << c.Name;
        if (c.Line != nullptr) {
            EXPECT_EQ(verdict.Line, c.Line) << c.Name;
        }
    }
}

TEST(BmpCheck, LargeMapExpectationNamesMultipliedSize) {
    Prefix p;
    const BmpVerdict verdict = JudgeBmpPrefix(p.Bytes, 38, 300000, 500, 400, "/m/x.bmp");
    EXPECT_EQ(verdict.Line, "Width of BMP is not equal to 500!");
}

TEST(BmpCheck, AcceptedFileReportsItsOwnPixelStart) {
    Prefix p;
    le::Put32(p.Bytes + 10, 118);
    const BmpVerdict verdict = JudgeBmpPrefix(p.Bytes, 38, 8118, 100, 80, "/m/x.bmp");
    EXPECT_TRUE(verdict.Accepted);
    EXPECT_EQ(verdict.PixelStart, 118u);
}

}  // namespace
