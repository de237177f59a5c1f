#include <cstring>

#include "bitmap/bmp.h"
#include "platform/console_text.h"
#include "platform/le_bytes.h"

namespace {

// Field offsets of the file header and the info header.
constexpr int kBfType = 0;
constexpr int kBfSize = 2;
constexpr int kBfOffBits = 10;
constexpr int kBiSize = 14;
constexpr int kBiWidth = 18;
constexpr int kBiHeight = 22;
constexpr int kBiPlanes = 26;
constexpr int kBiBitCount = 28;
constexpr int kBiCompression = 30;
constexpr int kBiSizeImage = 34;
constexpr int kBiXPelsPerMeter = 38;
constexpr int kBiYPelsPerMeter = 42;
constexpr int kBiClrUsed = 46;
constexpr int kBiClrImportant = 50;
constexpr int kPalette = 54;

constexpr std::uint32_t kPelsPerMeter = 2835;  // 72 dots per inch

// The three values a LandType import keeps, as blue, green, red.
constexpr std::uint8_t kLandTypeColours[3][3] = {
    {0x00, 0x80, 0x00},  // green
    {0x80, 0x80, 0x80},  // grey
    {0x00, 0xFF, 0xFF},  // yellow
};

void SetGrey(BmpHeader& header, int entry) {
    std::uint8_t* p = header.Bytes + kPalette + 4 * entry;
    p[0] = p[1] = p[2] = static_cast<std::uint8_t>(entry);
}

}  // namespace

void PrepareBmpHeader(BmpHeader& header) {
    header.Bytes[kBfType] = 'B';
    header.Bytes[kBfType + 1] = 'M';
    le::Put32(header.Bytes + kBfOffBits, kBmpHeaderSize);
    le::Put32(header.Bytes + kBiSize, 40);
    le::Put16(header.Bytes + kBiPlanes, 1);
    le::Put16(header.Bytes + kBiBitCount, 8);
    le::Put32(header.Bytes + kBiXPelsPerMeter, kPelsPerMeter);
    le::Put32(header.Bytes + kBiYPelsPerMeter, kPelsPerMeter);
    le::Put32(header.Bytes + kBiClrUsed, 256);
    le::Put32(header.Bytes + kBiClrImportant, 256);
    for (int i = 0; i < 256; ++i) SetGrey(header, i);
}

void SetBmpSize(BmpHeader& header, std::uint32_t width, std::uint32_t height) {
    // 32-bit header fields: products keep their low 32 bits.
    const auto sizeImage = static_cast<std::uint32_t>(RowStride(width) * height);
    le::Put32(header.Bytes + kBiWidth, width);
    le::Put32(header.Bytes + kBiHeight, height);
    le::Put32(header.Bytes + kBiSizeImage, sizeImage);
    le::Put32(header.Bytes + kBfSize, sizeImage + le::Get32(header.Bytes + kBfOffBits));
}

bool WriteBmpHeader(BmpHeader& header, platform::FileHandle file, std::uint32_t width, std::uint32_t height,
                    Palette palette) {
    SetBmpSize(header, width, height);
    if (palette == Palette::LandType) {
        for (int i = 0; i < 3; ++i) std::memcpy(header.Bytes + kPalette + 4 * i, kLandTypeColours[i], 3);
    }
    std::uint32_t done = 0;
    const bool ok = platform::WriteFile(file, header.Bytes, kBmpHeaderSize, &done);
    for (int i = 0; i < 3; ++i) SetGrey(header, i);
    return ok;
}

void PrintBmpHeaderError(const char* action) { console::PrintErrorLine(platform::LastError(), action, "BMP header"); }

BmpVerdict JudgeBmpPrefix(const std::uint8_t* prefix, std::uint32_t got, std::uint64_t fileSize,
                          std::uint32_t expectedWidth, std::uint32_t expectedHeight, std::string_view path) {
    const std::string notValid = std::string(path) + " is not a valid BMP file!";
    if (got < kBmpPrefixSize) return {false, notValid, 0};
    const std::uint32_t pixelStart = le::Get32(prefix + kBfOffBits);
    if (prefix[kBfType] != 'B' || prefix[kBfType + 1] != 'M' || pixelStart < kBmpMinPixelStart || pixelStart > fileSize)
        return {false, notValid, 0};
    if (le::Get32(prefix + kBiCompression) != 0) return {false, "BMP is compressed!", 0};
    if (le::Get16(prefix + kBiBitCount) != 8) return {false, "BMP is the wrong color depth!", 0};
    if (le::Get32(prefix + kBiWidth) != expectedWidth)
        return {false, "Width of BMP is not equal to " + console::Dec(expectedWidth) + "!", 0};
    if (le::Get32(prefix + kBiHeight) != expectedHeight)
        return {false, "Height of BMP is not equal to " + console::Dec(expectedHeight) + "!", 0};
    return {true, {}, pixelStart};
}

bool CheckBmpHeader(std::uint8_t (&prefix)[kBmpPrefixSize], platform::FileHandle file, std::uint32_t expectedWidth,
                    std::uint32_t expectedHeight, std::string_view path, std::uint64_t* pixelStart) {
    // Judge only what this file delivered, never bytes of an earlier header.
    std::memset(prefix, 0, sizeof prefix);
    std::uint32_t got = 0;
    std::uint64_t fileSize = 0;
    if (!platform::ReadFile(file, prefix, kBmpPrefixSize, &got) || !platform::GetFileSize(file, &fileSize)) {
        PrintBmpHeaderError("reading");
        return false;
    }
    const BmpVerdict verdict = JudgeBmpPrefix(prefix, got, fileSize, expectedWidth, expectedHeight, path);
    if (!verdict.Accepted) {
        console::PrintRefusal(verdict.Line);
        return false;
    }
    if (!platform::SeekFile(file, verdict.PixelStart)) {
        PrintBmpHeaderError("reading");
        return false;
    }
    *pixelStart = verdict.PixelStart;
    return true;
}
