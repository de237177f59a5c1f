// The bitmap header check over arbitrary file bytes: the first 8 input bytes
// are the expected width and height, the rest is the file.
#include <cstring>

#include "bitmap/bmp.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Setup();
    if (size < 8) return 0;
    const std::uint32_t width = le::Get32(data), height = le::Get32(data + 4);
    const std::uint8_t* file = data + 8;
    const std::size_t length = size - 8;
    fuzz::Save("check.bmp", file, length);

    const platform::FileHandle handle =
        platform::OpenFile("check.bmp", platform::Share::Read, platform::Disposition::OpenExisting);
    if (handle == platform::kInvalidFile) fuzz::Die("cannot open the input");
    std::uint8_t prefix[kBmpPrefixSize];
    std::memset(prefix, 0xA5, sizeof prefix);  // stale bytes must not count
    std::uint64_t pixelStart = 0;
    const bool accepted = CheckBmpHeader(prefix, handle, width, height, "check.bmp", &pixelStart);
    std::uint8_t probe = 0;
    std::uint32_t got = 0;
    const bool readable = platform::ReadFile(handle, &probe, 1, &got);
    platform::CloseFile(handle);

    if (!accepted) return 0;
    if (length < kBmpPrefixSize) fuzz::Die("a short file was accepted");
    if (file[0] != 'B' || file[1] != 'M') fuzz::Die("accepted without BM");
    if (pixelStart != le::Get32(file + 10) || pixelStart < kBmpMinPixelStart || pixelStart > length)
        fuzz::Die("accepted with a pixel offset outside the file");
    if (le::Get16(file + 28) != 8 || le::Get32(file + 30) != 0) fuzz::Die("accepted a wrong depth or compression");
    if (le::Get32(file + 18) != width || le::Get32(file + 22) != height) fuzz::Die("accepted a wrong size");
    // The file stands at its pixel data.
    if (!readable || got != (pixelStart < length ? 1u : 0u) || (got == 1 && probe != file[pixelStart]))
        fuzz::Die("not left at the pixel data");
    return 0;
}
