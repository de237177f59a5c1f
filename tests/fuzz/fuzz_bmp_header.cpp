// The import check and decoding over arbitrary file bytes. Input: the
// expected width and height (8 bytes), a byte whose low bit asks for
// LandType's colours, then the file.
#include <algorithm>
#include <cstring>

#include "bitmap/bmp.h"
#include "bitmap/bmp_decode.h"
#include "bitmap/image_kinds.h"
#include "bitmap/png_decode.h"
#include "fuzz_support.h"

namespace {

// What an accepted file must be, by its own header.
void CheckAccepted(const std::uint8_t* file, std::size_t length, const ImportLayer& layer, const ImportSource& source) {
    if (length < kBmpPrefixSize) fuzz::Die("a short file was accepted");
    const ImageKind* kind = ImageKindsBegin();
    while (kind != ImageKindsEnd() && !kind->Recognise(file, static_cast<std::uint32_t>(length))) ++kind;
    if (kind == ImageKindsEnd()) fuzz::Die("accepted a file of no kind the table has");
    if (IsBmp(file, static_cast<std::uint32_t>(length))) {
        const bool core = le::Get32(file + 14) == kCoreInfoSize;
        const std::uint32_t pixelStart = le::Get32(file + 10);
        if (pixelStart < (core ? kCorePaletteAt : kBmpMinPixelStart) || pixelStart > length)
            fuzz::Die("accepted with a pixel offset outside the file");
        const auto height = core ? le::Get16(file + 20) : static_cast<std::int32_t>(le::Get32(file + 22));
        const std::uint32_t width = core ? le::Get16(file + 18) : le::Get32(file + 18);
        if (width != layer.Width || (height < 0 ? -std::int64_t{height} : height) != layer.Height)
            fuzz::Die("accepted a wrong size");
        const bool exported = !core && le::Get16(file + 28) == 8 && le::Get32(file + 30) == 0;
        if (exported != (source.Reading == RowSource::Stored))
            fuzz::Die("decoded the exported kind, or read another as stored");
        if (exported && (source.PixelStart != pixelStart || source.TopDown != (height < 0)))
            fuzz::Die("stored rows not where the header puts them");
        if (exported && pixelStart + (layer.Height - 1) * source.Stride + layer.Width > length)
            fuzz::Die("accepted an 8-bit file without its last row");
    }
    if (source.Reading != RowSource::Decoded) return;
    // Decoded values: whole padded rows, pad bytes zero, LandType 0 to 2.
    const std::uint64_t stride = RowStride(layer.Width);
    for (std::uint64_t i = 0; i < stride * layer.Height; ++i) {
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
    const ImportLayer layer{"LandHeight", (data[8] & 1) != 0 ? Palette::LandType : Palette::Gray, width, height, 1,
                            true};
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
        const std::uint32_t got = static_cast<std::uint32_t>(std::min<std::size_t>(length, kImportHeadSize));
        std::memcpy(head, file, got);
        if (JudgeImportHead(head, got, length, layer, "check.bmp").Outcome == Verdict::Accepted && IsBmp(file, got) &&
            le::Get32(file + 14) != kCoreInfoSize && le::Get32(file + 18) != width)
            fuzz::Die("accepted a wrong width");
        platform::CloseFile(handle);
        return 0;
    }
    ImportSource source{};
    const bool accepted = OpenImportSource(head, handle, layer, "check.bmp", &source).Outcome == Verdict::Accepted;
    // The PNG check pass foretells the decoding: a file it passes decodes
    // (its rows below all read), one it refuses does not decode whole.
    PngHeader png{};
    const auto got = static_cast<std::uint32_t>(std::min<std::size_t>(length, kImportHeadSize));
    if (IsPng(file, got) && JudgePngHead(file, got, length, layer, "check.bmp", &png).Outcome == Verdict::Accepted &&
        !accepted) {
        PngRows rows{};
        platform::Memory<std::uint8_t> values;
        const bool whole = StartPngRows(rows, handle, length, png, layer.Colours) && DecodePngWhole(rows, &values);
        EndPngRows(rows);
        if (whole && rows.Status == PngStatus::Ok) fuzz::Die("the PNG check pass refused what decodes whole");
    }
    if (accepted) {
        CheckAccepted(file, length, layer, source);
        // Every picture row reads, and within bounds.
        std::uint8_t row[4096];
        for (std::uint64_t r = 0; r < height && source.Stride <= sizeof row; ++r) {
            std::uint32_t code = 0;
            if (!ReadPictureRows(source, r, 1, row, &code)) fuzz::Die("an accepted file's row cannot be read");
        }
    }
    CloseImportSource(source);
    return 0;
}
