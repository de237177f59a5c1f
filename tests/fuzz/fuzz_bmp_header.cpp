// The import check and decoding over arbitrary file bytes. Input: the
// expected width and height (8 bytes), a byte whose low bit asks for
// LandType's colours, then the file.
#include <algorithm>
#include <cstring>

#include "bitmap/bmp.h"
#include "bitmap/import_source.h"
#include "bitmap/png_decode.h"
#include "fuzz_support.h"

namespace {

// What an accepted file must be, by its own header.
void CheckAccepted(const std::uint8_t* file, std::size_t length, const ImportLayer& layer, const ImportSource& source) {
    if (length < kBmpPrefixSize) fuzz::Die("a short file was accepted");
    const bool png = std::memcmp(file, kPngSignature, sizeof kPngSignature) == 0;
    if (!png && (file[0] != 'B' || file[1] != 'M')) fuzz::Die("accepted without BM or the PNG signature");
    if (png) {
        if (source.Decoded == nullptr) fuzz::Die("a PNG was not decoded");
    } else {
        const std::uint32_t pixelStart = le::Get32(file + 10);
        if (pixelStart < kBmpMinPixelStart || pixelStart > length)
            fuzz::Die("accepted with a pixel offset outside the file");
        const auto height = static_cast<std::int32_t>(le::Get32(file + 22));
        if (le::Get32(file + 18) != layer.Width || (height < 0 ? -std::int64_t{height} : height) != layer.Height)
            fuzz::Die("accepted a wrong size");
        const bool exported = le::Get16(file + 28) == 8 && le::Get32(file + 30) == 0;
        if (exported != (source.Decoded == nullptr)) fuzz::Die("decoded the exported kind, or read another as stored");
        if (exported && (source.PixelStart != pixelStart || source.TopDown != (height < 0)))
            fuzz::Die("stored rows not where the header puts them");
    }
    if (source.Decoded == nullptr) return;
    // Decoded values: whole padded rows, pad bytes zero, LandType 0 to 2.
    const std::uint64_t stride = RowStride(layer.Width);
    if (source.DecodedSize != stride * layer.Height) fuzz::Die("decoded image of the wrong size");
    for (std::uint64_t i = 0; i < source.DecodedSize; ++i) {
        const std::uint8_t v = source.Decoded[i];
        if (i % stride >= layer.Width ? v != 0 : layer.Colours == Palette::LandType && v > 2)
            fuzz::Die("a decoded value out of place");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Setup();
    if (size < 9) return 0;
    const std::uint32_t width = le::Get32(data), height = le::Get32(data + 4);
    const ImportLayer layer{"LandHeight", (data[8] & 1) != 0 ? Palette::LandType : Palette::Gray, width, height, 1};
    const std::uint8_t* file = data + 9;
    const std::size_t length = size - 9;
    fuzz::Save("check.bmp", file, length);

    const platform::FileHandle handle =
        platform::OpenFile("check.bmp", platform::Share::Read, platform::Disposition::OpenExisting);
    if (handle == platform::kInvalidFile) fuzz::Die("cannot open the input");
    std::uint8_t head[kImportHeadSize];
    std::memset(head, 0xA5, sizeof head);  // stale bytes must not count
    // Decoding holds the image in memory; sizes beyond any small world are
    // judged by their header alone.
    if (std::uint64_t{width} * height > (1u << 20)) {
        BmpVerdict verdict{};
        if (console::IsDone(CheckBmpHeader(head, handle, layer, "check.bmp", &verdict)) &&
            verdict.Kind != ImportKind::Png && (le::Get32(file + 18) != width))
            fuzz::Die("accepted a wrong width");
        platform::CloseFile(handle);
        return 0;
    }
    ImportSource source{};
    std::string note;
    const bool accepted = console::IsDone(OpenImportSource(head, handle, layer, "check.bmp", &source, &note));
    // The PNG check pass foretells the decoding: what the import decoded
    // passes it, what the decoding refused does not.
    const BmpVerdict verdict = JudgeImportHead(
        file, static_cast<std::uint32_t>(std::min<std::size_t>(length, kImportHeadSize)), length, layer, "check.bmp");
    if (verdict.Accepted && verdict.Kind == ImportKind::Png) {
        PngRows rows{};
        const bool whole = StartPngRows(rows, handle, length, verdict.Png, layer.Colours) && CheckPngRows(rows);
        EndPngRows(rows);
        if (whole != accepted) fuzz::Die("the PNG check pass and the decoding disagree");
    }
    if (accepted) {
        CheckAccepted(file, length, layer, source);
        // Every stored row reads within bounds.
        std::uint8_t row[4096];
        for (std::uint64_t r = 0; r < height && source.Stride <= sizeof row; ++r) {
            std::uint32_t got = 0;
            ReadImportAt(source, PictureRowAt(source, r), row, static_cast<std::uint32_t>(source.Stride), &got);
        }
    }
    platform::CloseFile(handle);
    return 0;
}
