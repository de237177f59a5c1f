#include <cstring>

#include "bitmap/bmp.h"
#include "platform/le_bytes.h"
#include "report/console_text.h"

using namespace bmp_field;

namespace {

constexpr std::uint32_t kPelsPerMeter = 2835;  // 72 dots per inch

void SetGrey(BmpHeader& header, int entry) {
    std::uint8_t* p = header.Bytes + kPalette + std::size_t{4} * entry;
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
        for (int i = 0; i < 3; ++i) {
            std::uint8_t* p = header.Bytes + kPalette + std::size_t{4} * i;  // blue, green, red
            p[0] = kLandTypeColours[i].B;
            p[1] = kLandTypeColours[i].G;
            p[2] = kLandTypeColours[i].R;
        }
    }
    std::uint32_t done = 0;
    const bool ok = platform::WriteFile(file, header.Bytes, kBmpHeaderSize, &done);
    for (int i = 0; i < 3; ++i) SetGrey(header, i);
    return ok;
}
