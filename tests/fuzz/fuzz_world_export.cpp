// A whole run exporting all four layers of an arbitrary world: the world must
// stay as it was and every exported file must be whole, as long as its header
// says.
#include <cstdio>
#include <string>

#include "bitmap/bmp.h"
#include "fuzz_support.h"

using fuzz::Bytes;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Setup();
    const char* const names[4] = {"smallmap.bmp", "landtype.bmp", "lmheight.bmp", "largemap.bmp"};
    for (const char* name : names) std::remove(name);
    fuzz::Save("WOODS.WLD", data, size);
    const Bytes world(data, data + size);
    const fuzz::WorldShape shape = fuzz::ShapeOf(world);

    fuzz::RunWithAnswers("WOODS.WLD\ny\n\ny\n\ny\n\ny\n\n");

    if (fuzz::Load("WOODS.WLD") != world) fuzz::Die("an export changed the world");
    for (int layer = 0; layer < 4; ++layer) {
        // A SmallMap too wide for the tool is never made.
        const bool made = fuzz::Exists(names[layer]);
        if (made != (shape.Accepted && (layer > 0 || shape.Width < 2048)))
            fuzz::Die("an export was made for a refused world, or missing");
        if (!made) continue;
        const Bytes file = fuzz::Load(names[layer]);
        if (file.size() < kBmpHeaderSize) fuzz::Die("an export without its header");
        if (file.size() != le::Get32(file.data() + 2)) fuzz::Die("an export is not as long as its header says");
    }
    return 0;
}
