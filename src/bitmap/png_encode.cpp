// The PNG writer. Each row goes out with filter Up (its difference from the
// row above), which turns the smooth or repeated rows of a layer into runs
// of zeros and small numbers. LandType's few values come in long runs, which
// zlib's run-length strategy deflates to about 3% of the BMP. The grey layers
// have few runs: coding each byte by its counts alone (our literal coder)
// gives them the size zlib's Huffman-only strategy does, at three to four
// times its speed (LargeMap of a 2047 x 2047 generated world to 49.5% of its
// BMP), and zlib's fastest level would be larger and slower still.
//
// Deflating is most of an export's time, so it runs beside the rows' making:
// rows gather into segments of a fixed size, each filtered and deflated on a
// thread of its own (a raw stream that ends byte-aligned, so the next simply
// follows it), and the zlib header and checksum are put around them here.
#include "bitmap/png_encode.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "bitmap/deflate_literals.h"
#include "bitmap/png_format.h"
#include "platform/le_bytes.h"

namespace {

constexpr std::uint32_t kChunkData = 256u << 10;   // image data bytes per chunk
constexpr std::uint64_t kSegmentBytes = 2u << 20;  // filtered bytes deflated at once
constexpr std::uint8_t kFilterUp = 2;
constexpr std::uint8_t kHeaderChunk[4] = {'I', 'H', 'D', 'R'};
constexpr std::uint8_t kPaletteChunk[4] = {'P', 'L', 'T', 'E'};
constexpr std::size_t kPaletteBytes = std::size_t{256} * 3;
constexpr int kLevel = 1;                              // the fastest that deflates at all
constexpr std::uint8_t kZlibHeader[2] = {0x78, 0x01};  // deflate, 32 KiB window, the fastest level

voidpf ZlibAllocate(voidpf, uInt items, uInt size) { return platform::AllocateMemory(std::uint64_t{items} * size); }
void ZlibRelease(voidpf, voidpf memory) { platform::ReleaseMemory(memory); }

bool WriteAll(platform::FileHandle file, const std::uint8_t* bytes, std::uint32_t count) {
    std::uint32_t done = 0;
    return platform::WriteFile(file, bytes, count, &done);
}

// A chunk whose data sits at chunk + 8, with room for its checksum after it.
bool WriteChunk(platform::FileHandle file, std::uint8_t* chunk, const char* type, std::uint32_t length) {
    be::Put32(chunk, length);
    std::memcpy(chunk + 4, type, 4);
    be::Put32(chunk + 8 + length, static_cast<std::uint32_t>(crc32(0, chunk + 4, 4 + length)));
    return WriteAll(file, chunk, 12 + length);
}

// Image data into chunks, each written as it fills.
bool PutImageData(PngWriter& png, const std::uint8_t* bytes, std::uint64_t count) {
    while (count > 0) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, kChunkData - png.ChunkUsed));
        std::memcpy(png.Chunk.get() + 8 + png.ChunkUsed, bytes, n);
        png.ChunkUsed += n;
        bytes += n;
        count -= n;
        if (png.ChunkUsed == kChunkData) {
            if (!WriteChunk(png.File, png.Chunk.get(), "IDAT", kChunkData)) return false;
            png.ChunkUsed = 0;
        }
    }
    return true;
}

// Up: each byte less the one above it, last row first so that the row
// above is still as given.
void FilterSegment(PngSegment& segment) {
    const std::uint64_t line = std::uint64_t{segment.Width} + 1;
    for (std::uint64_t at = segment.InUsed; at > 0;) {
        at -= line;
        std::uint8_t* row = segment.In.get() + at + 1;
        const std::uint8_t* above = at > 0 ? row - line : segment.Before.get();
        for (std::uint32_t i = 0; i < segment.Width; ++i) row[i] = static_cast<std::uint8_t>(row[i] - above[i]);
    }
}

// One segment's rows filtered and deflated as a raw stream: byte-aligned at
// its end, or the stream's end for the last. Runs on either thread; touches
// its own segment alone.
void DeflateSegment(void* data) {
    PngSegment& segment = *static_cast<PngSegment*>(data);
    FilterSegment(segment);
    segment.Adler = static_cast<std::uint32_t>(
        adler32(adler32(0, nullptr, 0), segment.In.get(), static_cast<uInt>(segment.InUsed)));
    if (!segment.Deflating) {
        segment.OutUsed = DeflateLiterals(segment.In.get(), segment.InUsed, segment.Last, segment.Out.get());
        segment.Failed = false;
        return;
    }
    z_stream& z = segment.Zlib[0];
    deflateReset(&z);
    z.next_in = segment.In.get();
    z.avail_in = static_cast<uInt>(segment.InUsed);
    z.next_out = segment.Out.get();
    z.avail_out = static_cast<uInt>(deflateBound(&z, static_cast<uLong>(segment.InUsed)) + 16);
    const int result = deflate(&z, segment.Last ? Z_FINISH : Z_SYNC_FLUSH);
    segment.Failed = segment.Last ? result != Z_STREAM_END : result != Z_OK || z.avail_in != 0 || z.avail_out == 0;
    segment.OutUsed = static_cast<std::uint64_t>(z.next_out - segment.Out.get());
}

// The oldest segment under way: waited for, its data written, emptied.
bool CollectOldest(PngWriter& png) {
    PngSegment& segment = png.Segments[png.Oldest];
    platform::FinishWork(segment.Work);
    segment.Busy = false;
    png.Oldest = (png.Oldest + 1) % kPngSegments;
    if (segment.Failed || !PutImageData(png, segment.Out.get(), segment.OutUsed)) return false;
    png.Adler =
        static_cast<std::uint32_t>(adler32_combine(png.Adler, segment.Adler, static_cast<z_off_t>(segment.InUsed)));
    segment.InUsed = 0;
    return true;
}

// The segment in hand goes to a thread of its own; the next one takes the
// rows, once whatever was under way in it is written.
bool LaunchFilling(PngWriter& png) {
    PngSegment& segment = png.Segments[png.Filling];
    platform::StartWork(segment.Work, DeflateSegment, &segment);
    segment.Busy = true;
    png.Filling = (png.Filling + 1) % kPngSegments;
    return !png.Segments[png.Filling].Busy || CollectOldest(png);
}

bool StartSegment(PngSegment& segment, std::uint32_t width, std::uint64_t bytes, bool runs) {
    segment.Width = width;
    segment.Before = platform::Allocate<std::uint8_t>(width);
    segment.In = platform::Allocate<std::uint8_t>(bytes);
    if (!runs) {
        segment.Out = platform::Allocate<std::uint8_t>(DeflateLiteralsBound(bytes));
        return true;
    }
    segment.Zlib = platform::Allocate<z_stream_s>(1);
    z_stream& z = segment.Zlib[0];
    z.zalloc = ZlibAllocate;
    z.zfree = ZlibRelease;
    // zlib fails here only for want of memory, which ends the run first.
    if (deflateInit2(&z, kLevel, Z_DEFLATED, -15, 9, Z_RLE) != Z_OK) return false;
    segment.Deflating = true;
    segment.Out = platform::Allocate<std::uint8_t>(deflateBound(&z, static_cast<uLong>(bytes)) + 16);
    return true;
}

}  // namespace

bool StartPngFile(PngWriter& png, platform::FileHandle file, std::uint32_t width, std::uint32_t height,
                  Palette palette) {
    EndPngFile(png);
    png.File = file;
    png.Width = width;
    png.Height = height;
    png.Runs = palette == Palette::LandType;
    png.Prior = platform::Allocate<std::uint8_t>(width);
    png.Adler = static_cast<std::uint32_t>(adler32(0, nullptr, 0));
    // Whole rows a segment, at least one.
    const std::uint64_t rowBytes = std::uint64_t{width} + 1;
    png.SegmentBytes = std::max<std::uint64_t>(1, kSegmentBytes / rowBytes) * rowBytes;
    for (PngSegment& segment : png.Segments)
        if (!StartSegment(segment, width, png.SegmentBytes, png.Runs)) return false;
    png.Chunk = platform::Allocate<std::uint8_t>(12 + kChunkData);
    std::memcpy(png.Chunk.get() + 8, kZlibHeader, sizeof kZlibHeader);
    png.ChunkUsed = sizeof kZlibHeader;

    std::uint8_t head[8 + 12 + 13 + 12 + 256 * 3];
    std::memcpy(head, kPngSignature, 8);
    std::uint8_t* header = head + 8;
    be::Put32(header + 8, width);
    be::Put32(header + 12, height);
    const std::uint8_t fields[5] = {8, 3, 0, 0, 0};  // depth, palette, deflate, filtering, no interlace
    std::memcpy(header + 16, fields, sizeof fields);
    be::Put32(header, 13);
    std::memcpy(header + 4, kHeaderChunk, 4);
    be::Put32(header + 21, static_cast<std::uint32_t>(crc32(0, header + 4, 17)));
    std::uint8_t* colours = header + 25;
    for (int i = 0; i < 256; ++i) {
        const Rgb c = ExportColour(palette, i);
        colours[8 + 3 * i] = c.R;
        colours[8 + 3 * i + 1] = c.G;
        colours[8 + 3 * i + 2] = c.B;
    }
    be::Put32(colours, 256 * 3);
    std::memcpy(colours + 4, kPaletteChunk, 4);
    be::Put32(colours + 8 + kPaletteBytes, static_cast<std::uint32_t>(crc32(0, colours + 4, 4 + kPaletteBytes)));
    return WriteAll(file, head, sizeof head);
}

bool WritePngRow(PngWriter& png, const std::uint8_t* values) {
    const std::uint32_t n = png.Width;
    if (png.Segments[png.Filling].InUsed + n + 1 > png.SegmentBytes && !LaunchFilling(png)) return false;
    PngSegment& segment = png.Segments[png.Filling];
    if (segment.InUsed == 0) std::memcpy(segment.Before.get(), png.Prior.get(), n);
    std::uint8_t* line = segment.In.get() + segment.InUsed;
    line[0] = kFilterUp;
    std::memcpy(line + 1, values, n);
    std::memcpy(png.Prior.get(), values, n);
    segment.InUsed += n + 1;
    return true;
}

bool FinishPngFile(PngWriter& png) {
    // The segment in hand ends the stream; those under way go first.
    png.Segments[png.Filling].Last = true;
    if (!LaunchFilling(png)) return false;
    while (png.Segments[png.Oldest].Busy)
        if (!CollectOldest(png)) return false;
    std::uint8_t checksum[4];
    be::Put32(checksum, png.Adler);
    if (!PutImageData(png, checksum, sizeof checksum)) return false;
    if (png.ChunkUsed > 0 && !WriteChunk(png.File, png.Chunk.get(), "IDAT", png.ChunkUsed)) return false;
    std::uint8_t end[12];
    return WriteChunk(png.File, end, "IEND", 0);
}

void EndPngFile(PngWriter& png) {
    // A write that failed leaves segments under way: they finish first.
    for (PngSegment& segment : png.Segments) platform::FinishWork(segment.Work);
    for (PngSegment& segment : png.Segments) {
        if (segment.Deflating) deflateEnd(segment.Zlib.get());
        segment = PngSegment{};
    }
    png.Prior.reset();
    png.Chunk.reset();
    png.Filling = png.Oldest = 0;
}
