// A whole run importing all four layers into an arbitrary world from
// arbitrary bitmaps. Input: a flags byte, a kinds byte, the world's length
// (2 bytes), the world, then bytes shared out among the four bitmaps: pixel
// bytes behind a header made here, or, where the kinds byte has the layer's
// bit, the whole file (any kind of BMP or PNG).
#include <algorithm>
#include <string>

#include "bitmap/bmp.h"
#include "fuzz_support.h"

using fuzz::Bytes;

namespace {

const char* const kNames[4] = {"smallmap.bmp", "landtype.bmp", "lmheight.bmp", "largemap.bmp"};

// A bitmap of the size the layer asks for, with its header now and then
// spoilt as the flags say, and whatever pixel bytes the input has left.
void MakeBitmap(int layer, std::uint32_t width, std::uint32_t height, std::uint8_t flags, const std::uint8_t* pixels,
                std::size_t count) {
    const std::uint32_t scale = layer == 3 ? 5 : 1;
    std::uint8_t header[kBmpHeaderSize] = {};
    const std::uint32_t starts[4] = {1078, 118, 54, 1078u + (flags & 0x30u)};
    const std::uint32_t pixelStart = starts[(flags >> layer) & 3];
    header[0] = 'B';
    header[1] = (flags & 0x80) && layer == 1 ? 'X' : 'M';
    le::Put32(header + 10, pixelStart);
    le::Put32(header + 14, 40);
    le::Put32(header + 18, scale * width + ((flags & 0x40) && layer == 2 ? 1 : 0));
    le::Put32(header + 22, scale * height);
    le::Put16(header + 26, 1);
    le::Put16(header + 28, (flags & 0x08) && layer == 0 ? 24 : 8);
    Bytes file(header, header + std::min<std::uint32_t>(pixelStart, kBmpHeaderSize));
    file.resize(pixelStart, 0);
    file.insert(file.end(), pixels, pixels + count);
    fuzz::Save(kNames[layer], file.data(), file.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Setup();
    if (size < 4) return 0;
    const std::uint8_t flags = data[0], kinds = data[1];
    const std::size_t worldLength = std::min<std::size_t>(le::Get16(data + 2), size - 4);
    const Bytes world(data + 4, data + 4 + worldLength);
    const std::uint8_t* pool = data + 4 + worldLength;
    const std::size_t poolSize = size - 4 - worldLength;
    fuzz::Save("WOODS.WLD", world.data(), world.size());

    const fuzz::WorldShape shape = fuzz::ShapeOf(world);
    std::string answers = "WOODS.WLD\n";
    for (int layer = 0; layer < 4; ++layer) {
        const std::size_t from = poolSize * layer / 4, to = poolSize * (layer + 1) / 4;
        if ((kinds >> layer & 1) != 0)
            fuzz::Save(kNames[layer], pool + from, to - from);
        else
            MakeBitmap(layer, shape.Width, shape.Height, flags, pool + from, to - from);
        answers += std::string("n\n") + kNames[layer] + "\n";
    }
    std::remove("WOODS.WLD.bak");
    fuzz::RunWithAnswers(answers);

    const Bytes after = fuzz::Load("WOODS.WLD");
    if (after.size() != world.size()) fuzz::Die("the world changed its length");
    // Whatever an import changed, the backup holds the world as it was.
    if (fuzz::Exists("WOODS.WLD.bak") ? fuzz::Load("WOODS.WLD.bak") != world : after != world)
        fuzz::Die("no backup of the world as it was");
    for (std::size_t i = 0; i < world.size(); ++i)
        if (after[i] != world[i] && !(shape.Accepted && shape.Writable[i]))
            fuzz::Die("a byte outside the records and the SmallMap block changed");
    // A run that ends as it should leaves no sign of an import that died.
    if (fuzz::Exists("WOODS.WLD.importing") || fuzz::Exists("WOODS.WLD.bak.tmp"))
        fuzz::Die("a marker or a half-made backup was left behind");
    return 0;
}
