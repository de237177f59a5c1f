// Writes a PNG through the tool's PNG writer, for the end-to-end tests that
// open it in an image program and import it:
//   png_probe OUT WIDTH HEIGHT gray|landtype < values, WIDTH a row, top row first
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bitmap/png_encode.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: png_probe OUT WIDTH HEIGHT gray|landtype < values\n");
        return 2;
    }
    const auto width = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const auto height = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
    const Palette palette = std::string(argv[4]) == "landtype" ? Palette::LandType : Palette::Gray;
    const platform::FileHandle file =
        platform::OpenFile(argv[1], platform::Share::None, platform::Disposition::CreateAlways);
    PngWriter png{};
    bool written = file != platform::kInvalidFile && StartPngFile(png, file, width, height, palette);
    std::vector<std::uint8_t> row(width);
    for (std::uint32_t y = 0; written && y < height; ++y)
        written = std::fread(row.data(), 1, width, stdin) == width && WritePngRow(png, row.data());
    written = written && FinishPngFile(png);
    EndPngFile(png);
    if (file != platform::kInvalidFile) platform::CloseFile(file);
    if (!written) std::fprintf(stderr, "png_probe: the PNG was not written\n");
    return written ? 0 : 1;
}
