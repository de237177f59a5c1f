// A whole run exporting all four layers of an arbitrary world, LandHeight as
// a PNG: the world must stay as it was and every exported file must be
// whole, a BMP as long as its header says, the PNG's image data inflating to
// exactly its rows.
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bitmap/bmp.h"
#include "fuzz_support.h"

using fuzz::Bytes;

namespace {

bool PngInflatesWhole(const Bytes& file) {
    if (file.size() < 33) return false;
    const std::uint64_t width = be::Get32(file.data() + 16), height = be::Get32(file.data() + 20);
    Bytes data;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::uint32_t length = be::Get32(file.data() + at);
        if (length > file.size() - at - 12) return false;
        if (std::memcmp(file.data() + at + 4, "IDAT", 4) == 0)
            data.insert(data.end(), file.data() + at + 8, file.data() + at + 8 + length);
        at += 12 + std::size_t{length};
    }
    Bytes rows((width + 1) * height + 1);
    uLongf got = rows.size();
    return uncompress(rows.data(), &got, data.data(), data.size()) == Z_OK && got == (width + 1) * height;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Setup();
    const char* const names[4] = {"smallmap.bmp", "landtype.bmp", "lmheight.png", "largemap.bmp"};
    for (const char* name : names) std::remove(name);
    fuzz::Save("WOODS.WLD", data, size);
    const Bytes world(data, data + size);
    const fuzz::WorldShape shape = fuzz::ShapeOf(world);

    fuzz::RunWithAnswers("WOODS.WLD\ny\n\ny\n\ny\nlmheight.png\ny\n\n");

    if (fuzz::Load("WOODS.WLD") != world) fuzz::Die("an export changed the world");
    for (int layer = 0; layer < 4; ++layer) {
        // A SmallMap too wide for the tool is never made.
        const bool made = fuzz::Exists(names[layer]);
        if (made != (shape.Accepted && (layer > 0 || shape.Width < 2048)))
            fuzz::Die("an export was made for a refused world, or missing");
        if (!made) continue;
        const Bytes file = fuzz::Load(names[layer]);
        if (layer == 2) {
            if (!PngInflatesWhole(file)) fuzz::Die("the PNG export does not inflate to its rows");
            continue;
        }
        if (file.size() < kBmpHeaderSize) fuzz::Die("an export without its header");
        if (file.size() != le::Get32(file.data() + 2)) fuzz::Die("an export is not as long as its header says");
    }
    return 0;
}
