#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bitmap/bmp.h"
#include "bitmap/bmp_decode.h"
#include "bitmap/image_kinds.h"
#include "bitmap/png_decode.h"
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

// The first bytes of an import file: an 8-bit 100 x 80 BMP unless spoilt.
struct Head {
    std::uint8_t Bytes[kImportHeadSize] = {};
    Head() {
        Bytes[0] = 'B';
        Bytes[1] = 'M';
        le::Put32(Bytes + 10, 1078);
        le::Put32(Bytes + 14, 40);
        le::Put32(Bytes + 18, 100);
        le::Put32(Bytes + 22, 80);
        le::Put16(Bytes + 28, 8);
    }
    void Kind(std::uint16_t bits, std::uint32_t compression) {
        le::Put16(Bytes + 28, bits);
        le::Put32(Bytes + 30, compression);
    }
    void Masks(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
        Kind(static_cast<std::uint16_t>(le::Get16(Bytes + 28) == 8 ? 32 : le::Get16(Bytes + 28)), 3);
        le::Put32(Bytes + 54, red);
        le::Put32(Bytes + 58, green);
        le::Put32(Bytes + 62, blue);
    }
    // The OS/2 layout: 16-bit sizes, its pixels after a palette of 3-byte entries.
    void Core(std::uint16_t bits, std::uint32_t pixelStart) {
        std::memset(Bytes + 14, 0, sizeof Bytes - 14);
        le::Put32(Bytes + 10, pixelStart);
        le::Put32(Bytes + 14, 12);
        le::Put16(Bytes + 18, 100);
        le::Put16(Bytes + 20, 80);
        le::Put16(Bytes + 22, 1);
        le::Put16(Bytes + 24, bits);
    }
    // A PNG signature and header chunk: width, height, depth, colour type.
    void Png(std::uint32_t width, std::uint32_t height, std::uint8_t depth, std::uint8_t colourType) {
        std::memset(Bytes, 0, sizeof Bytes);
        std::memcpy(Bytes, kPngSignature, 8);
        const std::uint8_t chunk[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R'};
        std::memcpy(Bytes + 8, chunk, 8);
        for (int i = 0; i < 4; ++i) {
            Bytes[16 + i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
            Bytes[20 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
        }
        Bytes[24] = depth;
        Bytes[25] = colourType;
    }
};

constexpr ImportLayer kLandHeight{"LandHeight", Palette::Gray, 100, 80, 1, false};

// How an accepted file is read: as stored, decoded BMP, or PNG.
enum class Taken { Stored, Decoded, Png };

Taken TakenAs(const std::uint8_t* head, std::uint64_t fileSize) {
    if (IsPng(head, kImportHeadSize)) return Taken::Png;
    BmpHead found{};
    JudgeBmpHead(head, kImportHeadSize, fileSize, kLandHeight, "/m/x.bmp", &found);
    return IsStoredKind(found) ? Taken::Stored : Taken::Decoded;
}
constexpr char kNotValid[] = "/m/x.bmp is not a valid BMP file!";
constexpr char kCompressed[] = "BMP is compressed!";
constexpr char kDepth[] = "BMP is the wrong color depth!";

// Each refusal line in its order of precedence, and the kinds accepted.
TEST(BmpCheck, RefusalLinesInOrderOfPrecedence) {
    struct Case {
        const char* Name;
        void (*Spoil)(Head&);
        std::uint32_t Got;
        std::uint64_t FileSize;
        const char* Line;  // nullptr: accepted
        Taken Kind;
    };
    const Taken bmp = Taken::Decoded, own = Taken::Stored, png = Taken::Png;
    const Case cases[] = {
        {"good", [](Head&) {}, 66, 9078, nullptr, own},
        {"short file", [](Head&) {}, 37, 37, kNotValid, own},
        {"no magic, wrong depth",
         [](Head& h) {
             h.Bytes[1] = 'A';
             h.Kind(24, 4);
         },
         66, 9078, kNotValid, own},
        {"offset below 54", [](Head& h) { le::Put32(h.Bytes + 10, 53); }, 66, 9078, kNotValid, own},
        {"offset 54", [](Head& h) { le::Put32(h.Bytes + 10, 54); }, 66, 9078, nullptr, own},
        {"offset at the end", [](Head& h) { le::Put32(h.Bytes + 10, 9078); }, 66, 9078, kNotValid, own},
        // The exported kind holds its last row, whose padding alone may be missing.
        {"8-bit, last row cut", [](Head&) {}, 66, 9077, kNotValid, own},
        {"offset past the end", [](Head& h) { le::Put32(h.Bytes + 10, 9079); }, 66, 9078, kNotValid, own},
        {"JPEG inside, 24-bit", [](Head& h) { h.Kind(24, 4); }, 66, 9078, kCompressed, own},
        {"PNG inside, no bits", [](Head& h) { h.Kind(0, 5); }, 66, 9078, kCompressed, own},
        {"RLE8 with 24 bits", [](Head& h) { h.Kind(24, 1); }, 66, 9078, kDepth, own},
        {"RLE4 with 8 bits", [](Head& h) { h.Kind(8, 2); }, 66, 9078, kDepth, own},
        {"2 bits", [](Head& h) { h.Kind(2, 0); }, 66, 9078, kDepth, own},
        {"bit fields of 24 bits", [](Head& h) { h.Kind(24, 3); }, 66, 9078, kDepth, own},
        {"masks not one run", [](Head& h) { h.Masks(0xF0F00000, 0xFF00, 0xFF); }, 66, 40000, kDepth, own},
        {"masks and wrong width",
         [](Head& h) {
             h.Masks(0xFF0000, 0xFF00, 0xFF);
             le::Put32(h.Bytes + 18, 7);
         },
         66, 40000, "Width of BMP is not equal to 100!", own},
        {"wrong width and height",
         [](Head& h) {
             le::Put32(h.Bytes + 18, 99);
             le::Put32(h.Bytes + 22, 1);
         },
         66, 9078, "Width of BMP is not equal to 100!", own},
        {"wrong height", [](Head& h) { le::Put32(h.Bytes + 22, 81); }, 66, 9078, "Height of BMP is not equal to 80!",
         own},
        {"top-down", [](Head& h) { le::Put32(h.Bytes + 22, static_cast<std::uint32_t>(-80)); }, 66, 9078, nullptr, own},
        {"top-down, wrong height", [](Head& h) { le::Put32(h.Bytes + 22, static_cast<std::uint32_t>(-81)); }, 66, 9078,
         "Height of BMP is not equal to 80!", own},
        {"RLE8", [](Head& h) { h.Kind(8, 1); }, 66, 1100, nullptr, bmp},
        {"RLE4 top-down",
         [](Head& h) {
             h.Kind(4, 2);
             le::Put32(h.Bytes + 22, static_cast<std::uint32_t>(-80));
         },
         66, 1100, nullptr, bmp},
        // 24 bits: rows of 300 bytes; the last one ends at 1078 + 79 * 300 + 300.
        {"24-bit, last row whole", [](Head& h) { h.Kind(24, 0); }, 66, 25078, nullptr, bmp},
        {"24-bit, last row cut", [](Head& h) { h.Kind(24, 0); }, 66, 25077, kNotValid, bmp},
        {"1-bit, padding missing", [](Head& h) { h.Kind(1, 0); }, 66, 1078 + 79 * 16 + 13, nullptr, bmp},
        {"16-bit 5-5-5", [](Head& h) { h.Kind(16, 0); }, 66, 17078, nullptr, bmp},
        {"32-bit bit fields", [](Head& h) { h.Masks(0xFF0000, 0xFF00, 0xFF); }, 66, 33078, nullptr, bmp},
        {"bit fields, a zero mask", [](Head& h) { h.Masks(0xFF0000, 0, 0xFF); }, 66, 33078, nullptr, bmp},
        // The OS/2 layout: decoded by colour whatever its depth, pixels after 26.
        {"OS/2 8-bit", [](Head& h) { h.Core(8, 26 + 768); }, 66, 26 + 768 + 8000, nullptr, bmp},
        {"OS/2 24-bit, no palette", [](Head& h) { h.Core(24, 26); }, 66, 26 + 24000, nullptr, bmp},
        {"OS/2 1-bit, cut", [](Head& h) { h.Core(1, 32); }, 66, 32 + 79 * 16 + 12, kNotValid, bmp},
        {"OS/2 offset inside its header", [](Head& h) { h.Core(8, 25); }, 66, 9000, kNotValid, bmp},
        {"OS/2 16-bit", [](Head& h) { h.Core(16, 26); }, 66, 20000, kDepth, bmp},
        {"OS/2 wrong width",
         [](Head& h) {
             h.Core(24, 26);
             le::Put16(h.Bytes + 18, 99);
         },
         66, 30000, "Width of BMP is not equal to 100!", bmp},
        {"later OS/2 layout, read as 40 bytes", [](Head& h) { le::Put32(h.Bytes + 14, 64); }, 66, 9078, nullptr, own},
        {"PNG", [](Head& h) { h.Png(100, 80, 8, 2); }, 66, 500, nullptr, png},
        {"PNG, palette of 4 bits", [](Head& h) { h.Png(100, 80, 4, 3); }, 66, 500, nullptr, png},
        {"PNG, 16-bit grey", [](Head& h) { h.Png(100, 80, 16, 0); }, 66, 500, nullptr, png},
        {"PNG shorter than a header", [](Head& h) { h.Png(100, 80, 8, 2); }, 37, 37, kNotValid, png},
        {"PNG without IHDR first",
         [](Head& h) {
             h.Png(100, 80, 8, 2);
             h.Bytes[12] = 'i';
         },
         66, 500, kNotValid, png},
        {"PNG, wrong width and bad depth", [](Head& h) { h.Png(101, 80, 3, 2); }, 66, 500,
         "Width of BMP is not equal to 100!", png},
        {"PNG, wrong height", [](Head& h) { h.Png(100, 8, 8, 2); }, 66, 500, "Height of BMP is not equal to 80!", png},
        {"PNG, RGB of 4 bits", [](Head& h) { h.Png(100, 80, 4, 2); }, 66, 500, kNotValid, png},
        {"PNG, palette of 16 bits", [](Head& h) { h.Png(100, 80, 16, 3); }, 66, 500, kNotValid, png},
        {"PNG, colour type 5", [](Head& h) { h.Png(100, 80, 8, 5); }, 66, 500, kNotValid, png},
    };
    for (const Case& c : cases) {
        Head h;
        c.Spoil(h);
        const ImportVerdict verdict = JudgeImportHead(h.Bytes, c.Got, c.FileSize, kLandHeight, "/m/x.bmp");
        EXPECT_EQ(verdict.Outcome == Verdict::Accepted, c.Line == nullptr) << c.Name;
        if (c.Line != nullptr) {
            EXPECT_EQ(verdict.Line, c.Line) << c.Name;
            EXPECT_FALSE(verdict.Note.empty()) << c.Name;  // every refusal says what to do
        } else {
            EXPECT_EQ(TakenAs(h.Bytes, c.FileSize), c.Kind) << c.Name;
        }
    }
}

TEST(BmpCheck, NotesNameWhatWasFoundAndTheFix) {
    const ImportLayer largeMap{"LargeMap", Palette::Gray, 500, 400, 5, false};
    struct Case {
        void (*Make)(Head&);
        const char* Says;
    };
    const Case cases[] = {
        {[](Head& h) {
             le::Put32(h.Bytes + 18, 100);
             le::Put32(h.Bytes + 22, 80);
         },
         "The image is 100 x 80 pixels; LargeMap of this world needs "
         "exactly 500 x 400 (5 x 5 per cell)"},
        {[](Head& h) { h.Kind(8, 4); }, "compressed with JPEG"},
        {[](Head& h) { h.Kind(64, 0); }, "64 bits per pixel"},
        {[](Head& h) { h.Masks(0x00FF0F00, 0xF000, 0xFF); }, "red 00FF0F00, green 0000F000, blue 000000FF"},
        {[](Head& h) { std::memcpy(h.Bytes, "\xFF\xD8\xFF\xE0", 4); }, "a JPEG image"},
        {[](Head& h) { std::memcpy(h.Bytes, "gimp xcf", 8); }, "File > Export As"},
        {[](Head& h) { std::memcpy(h.Bytes, "<svg", 4); }, "begins with the bytes 3C 73 76 67"},
        // A header layout of no known size is named, not its guessed fields.
        {[](Head& h) {
             le::Put32(h.Bytes + 14, 16);
             h.Kind(8, 0x7D7D7D7D);
         },
         "info header is 16 bytes long, a layout this tool does not know"},
        {[](Head& h) { le::Put32(h.Bytes + 10, 30); }, "inside its own header"},
    };
    for (const Case& c : cases) {
        Head h;
        le::Put32(h.Bytes + 18, 500);
        le::Put32(h.Bytes + 22, 400);
        c.Make(h);
        const ImportVerdict verdict = JudgeImportHead(h.Bytes, 66, 1 << 20, largeMap, "/m/x.bmp");
        EXPECT_NE(verdict.Note.find(c.Says), std::string::npos) << verdict.Note;
    }
}

TEST(BmpCheck, AcceptedFileReportsItsOwnPixelStart) {
    Head h;
    le::Put32(h.Bytes + 10, 118);
    BmpHead found{};
    EXPECT_EQ(JudgeBmpHead(h.Bytes, 66, 8118, kLandHeight, "/m/x.bmp", &found).Outcome, Verdict::Accepted);
    EXPECT_EQ(found.PixelStart, 118u);
}

}  // namespace
