// PNG decoding with zlib, row by row. The file is read through one buffer;
// the image data of its chunks is gathered into a small input for zlib's
// raw inflate (the zlib header is read here: its checksum at the end is
// never reached, as nothing after the last row is inflated); each scanline
// is inflated to its exact size, unfiltered against the one before it and
// turned into values through a table (grey samples, palette indices) or the
// memo of the last colour (RGB).
#include "bitmap/png_decode.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/le_bytes.h"
#include "report/console_text.h"

namespace {

constexpr std::uint32_t kBufferBytes = 1u << 20;
constexpr std::uint32_t kInputBytes = 64u << 10;
constexpr std::uint32_t kCheckBytes = 256u << 10;  // inflated at once by the check
constexpr std::uint32_t kMostChunkLength = 0x7FFFFFFFu;
constexpr std::uint32_t kMostPaletteBytes = 256 * 3;

constexpr char kSaveAgain[] = "save it again";

// zlib's memory comes the way every other buffer's does.
voidpf ZlibAllocate(voidpf, uInt items, uInt size) { return platform::AllocateMemory(std::uint64_t{items} * size); }
void ZlibRelease(voidpf, voidpf memory) { platform::ReleaseMemory(memory); }

std::uint32_t ChannelsOf(std::uint8_t colourType) {
    switch (colourType) {
        case 2: return 3;
        case 4: return 2;
        case 6: return 4;
        default: return 1;  // grey, and palette indices
    }
}

// PNG bit depths by colour type: grey, -, RGB, palette, grey and alpha, -,
// RGBA; then the one compression and filter method, and two interlacings.
bool IsDefinedHeader(const PngHeader& h) {
    bool depth = false;
    switch (h.ColourType) {
        case 0: depth = h.Depth == 1 || h.Depth == 2 || h.Depth == 4 || h.Depth == 8 || h.Depth == 16; break;
        case 3: depth = h.Depth == 1 || h.Depth == 2 || h.Depth == 4 || h.Depth == 8; break;
        case 2:
        case 4:
        case 6: depth = h.Depth == 8 || h.Depth == 16; break;
        default: break;
    }
    return depth && h.Compression == 0 && h.Filter == 0 && h.Interlace <= 1;
}

std::uint64_t RowBytesOf(const PngHeader& h, std::uint64_t width) {
    return (width * ChannelsOf(h.ColourType) * h.Depth + 7) / 8;
}

// The scanlines of an image: one pass for a plain image, Adam7's seven for
// an interlaced one (a pass may be empty).
struct Pass {
    std::uint32_t X0, Y0, Dx, Dy;
};
constexpr Pass kWhole[1] = {{0, 0, 1, 1}};
constexpr Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

struct Passes {
    const Pass* First;
    int Count;
};

Passes PassesOf(const PngHeader& h) { return h.Interlace == 1 ? Passes{kAdam7, 7} : Passes{kWhole, 1}; }

std::uint64_t Across(std::uint32_t size, std::uint32_t origin, std::uint32_t step) {
    return size > origin ? (std::uint64_t{size} - origin + step - 1) / step : 0;
}

std::uint64_t PassWidth(const PngHeader& h, const Pass& p) { return Across(h.Width, p.X0, p.Dx); }
std::uint64_t PassHeight(const PngHeader& h, const Pass& p) { return Across(h.Height, p.Y0, p.Dy); }

// Complete scanlines among the first outBytes inflated, and all of them.
struct RowCount {
    std::uint64_t Done, Total;
};

RowCount CountRows(const PngHeader& h, std::uint64_t outBytes) {
    RowCount count{0, 0};
    const Passes passes = PassesOf(h);
    for (int p = 0; p < passes.Count; ++p) {
        const std::uint64_t width = PassWidth(h, passes.First[p]), height = PassHeight(h, passes.First[p]);
        if (width == 0 || height == 0) continue;
        const std::uint64_t line = 1 + RowBytesOf(h, width);
        const std::uint64_t done = std::min(height, outBytes / line);
        count.Done += done;
        count.Total += height;
        outBytes -= done * line;
        if (done < height) outBytes = 0;
    }
    return count;
}

// "after 12 of 40 rows", for the notes on data that stops.
std::string Progress(const PngRows& rows) {
    const RowCount count = CountRows(rows.Header, rows.OutBytes);
    return "after " + console::Dec(count.Done) + " of " + console::Dec(count.Total) +
           (rows.Header.Interlace == 1 ? " rows of its interlace passes" : " rows");
}

bool Fail(PngRows& rows, std::string note) {
    rows.Status = PngStatus::Invalid;
    rows.Note = std::move(note);
    return false;
}

bool FailRead(PngRows& rows, std::uint32_t code) {
    rows.Status = PngStatus::ReadFailed;
    rows.Code = code;
    return false;
}

// A chunk's name for a note, its bytes as letters where they are letters.
std::string ChunkName(const std::uint8_t* type) {
    std::string name(reinterpret_cast<const char*>(type), 4);
    for (char& c : name)
        if (c < ' ' || c > '~') c = '?';
    return name;
}

// ---- The file, through the buffer ------------------------------------------

// Makes the buffer hold the file from at on, want bytes of it unless the file
// ends first. False on a failed read.
bool Fill(PngRows& rows, std::uint64_t at, std::uint32_t want) {
    if (at >= rows.BufferAt && at - rows.BufferAt + want <= rows.Held) return true;
    std::uint32_t got = 0;
    if (!platform::ReadFileAt(rows.File, at, rows.Buffer.get(), kBufferBytes, &got)) return false;
    rows.BufferAt = at;
    rows.Held = got;
    return true;
}

// Buffered bytes from at on.
std::uint64_t HeldFrom(const PngRows& rows, std::uint64_t at) {
    return at >= rows.BufferAt && at - rows.BufferAt < rows.Held ? rows.Held - (at - rows.BufferAt) : 0;
}

const std::uint8_t* BytesAt(const PngRows& rows, std::uint64_t at) { return rows.Buffer.get() + (at - rows.BufferAt); }

// ---- The walk over the chunks ----------------------------------------------

bool EndWalk(PngRows& rows, PngWalk end, std::string note = {}) {
    rows.Walk = end;
    rows.WalkStatus = PngStatus::Invalid;
    rows.WalkNote = std::move(note);
    return false;
}

bool EndWalkOnRead(PngRows& rows) {
    rows.Walk = PngWalk::Fault;
    rows.WalkStatus = PngStatus::ReadFailed;
    rows.WalkCode = platform::LastError();
    return false;
}

// The palette chunk before the image data; the last one counts.
bool TakePalette(PngRows& rows, std::uint32_t length) {
    if (length == 0 || length % 3 != 0 || length > kMostPaletteBytes) {
        // Only a palette image needs it; another may suggest a palette, and
        // a broken suggestion does not change its pixels.
        if (rows.Header.ColourType != 3) return true;
        return EndWalk(rows, PngWalk::Fault,
                       "The PNG's palette chunk (PLTE) holds " + console::Dec(length) +
                           " bytes, which are not 1 to 256 colours of 3 bytes each: the file is damaged; " +
                           kSaveAgain);
    }
    if (!Fill(rows, rows.At + 8, length)) return EndWalkOnRead(rows);
    if (HeldFrom(rows, rows.At + 8) < length) return EndWalk(rows, PngWalk::FileEnds);  // the image data never comes
    std::memcpy(rows.PaletteBytes, BytesAt(rows, rows.At + 8), length);
    rows.PaletteLength = length;
    rows.PaletteSeen = true;
    return true;
}

// Moves the walk from the chunk at At to the next image data chunk that
// holds data, passing over the others; DataLeft is then its length and At
// its first data byte. False when the walk ends.
bool NextDataChunk(PngRows& rows) {
    for (;;) {
        if (!Fill(rows, rows.At, 8)) return EndWalkOnRead(rows);
        if (HeldFrom(rows, rows.At) < 8) return EndWalk(rows, PngWalk::FileEnds);
        const std::uint8_t* head = BytesAt(rows, rows.At);
        const std::uint32_t length = be::Get32(head);
        std::uint8_t type[4];
        std::memcpy(type, head + 4, 4);
        if (length > kMostChunkLength)
            return EndWalk(rows, PngWalk::Fault,
                           "The PNG's chunk \"" + ChunkName(type) + "\" gives its length as " + console::Dec(length) +
                               " bytes, more than the 2^31 - 1 PNG allows: the file is damaged; " + kSaveAgain);
        const auto is = [&](const char* name) { return std::memcmp(type, name, 4) == 0; };
        if (is("IDAT")) {
            if (!rows.DataSeen && rows.Header.ColourType == 3 && !rows.PaletteSeen)
                return EndWalk(rows, PngWalk::Fault,
                               "The PNG is a palette image without a palette chunk (PLTE) before its image data: the "
                               "file is damaged; " +
                                   std::string(kSaveAgain));
            rows.DataSeen = true;
            if (length > 0) {
                rows.At += 8;
                rows.DataLeft = length;
                return true;
            }
        } else if (is("IEND")) {
            if (!rows.DataSeen)
                return EndWalk(rows, PngWalk::Fault,
                               "The PNG has no image data chunk (IDAT) before its end: the file is damaged; " +
                                   std::string(kSaveAgain));
            return EndWalk(rows, PngWalk::DataEnds);
        } else if (is("IHDR")) {
            if (rows.At != sizeof kPngSignature)
                return EndWalk(
                    rows, PngWalk::Fault,
                    "The PNG has a second header chunk (IHDR): the file is damaged; " + std::string(kSaveAgain));
        } else if (is("PLTE")) {
            if (!rows.DataSeen && !TakePalette(rows, length)) return false;
        } else if ((type[0] & 0x20) == 0) {
            // A critical chunk (its name begins with a capital): the image
            // may not be shown right without it.
            return EndWalk(rows, PngWalk::Fault,
                           "The PNG holds a chunk \"" + ChunkName(type) +
                               "\" that this tool does not know and that PNG says a reader must understand: save it "
                               "again as a plain PNG");
        }
        rows.At += 12 + std::uint64_t{length};
    }
}

// The walk's end as the decoding meets it, once the data before it is used.
bool FailAtWalkEnd(PngRows& rows) {
    switch (rows.Walk) {
        case PngWalk::FileEnds:
            return Fail(rows, "The PNG ends before its image data does (the file stops " + Progress(rows) +
                                  "): it is cut short; " + kSaveAgain);
        case PngWalk::DataEnds:
            return Fail(rows, "The PNG's image data ends before its last row (its end chunk comes " + Progress(rows) +
                                  "): it is damaged or cut short; " + kSaveAgain);
        default:
            if (rows.WalkStatus == PngStatus::ReadFailed) return FailRead(rows, rows.WalkCode);
            return Fail(rows, rows.WalkNote);
    }
}

// Gathers image data from the chunks into zlib's input, as much as it
// holds. False when none is left, with Status set.
bool Gather(PngRows& rows) {
    z_stream& z = rows.Zlib[0];
    std::uint32_t n = 0;
    while (n < kInputBytes) {
        if (rows.DataLeft == 0) {
            if (rows.Walk != PngWalk::Open) break;
            rows.At += 4;  // the chunk's checksum
            if (!NextDataChunk(rows)) break;
        }
        if (!Fill(rows, rows.At, 1)) {
            EndWalkOnRead(rows);
            break;
        }
        const std::uint64_t held = HeldFrom(rows, rows.At);
        if (held == 0) {
            EndWalk(rows, PngWalk::FileEnds);
            rows.DataLeft = 0;
            break;
        }
        const auto take = static_cast<std::uint32_t>(std::min({rows.DataLeft, held, std::uint64_t{kInputBytes - n}}));
        std::memcpy(rows.Input.get() + n, BytesAt(rows, rows.At), take);
        n += take;
        rows.At += take;
        rows.DataLeft -= take;
    }
    z.next_in = rows.Input.get();
    z.avail_in = n;
    return n > 0 || FailAtWalkEnd(rows);
}

// ---- Inflating --------------------------------------------------------------

// Exactly count bytes of the image data, inflated into out.
bool Inflate(PngRows& rows, std::uint8_t* out, std::uint64_t count) {
    z_stream& z = rows.Zlib[0];
    z.next_out = out;
    while (count > 0) {
        const auto step = static_cast<uInt>(std::min<std::uint64_t>(count, 1u << 30));
        z.avail_out = step;
        while (z.avail_out > 0) {
            if (rows.StreamEnded)
                return Fail(rows, "The PNG's compressed image data ends before its last row (it stops " +
                                      Progress(rows) + "): it is damaged or cut short; " + kSaveAgain);
            if (z.avail_in == 0 && !Gather(rows)) return false;
            const uInt before = z.avail_out;
            const int result = inflate(&z, Z_NO_FLUSH);
            rows.OutBytes += before - z.avail_out;
            if (result == Z_STREAM_END) {
                rows.StreamEnded = true;
            } else if (result != Z_OK) {
                // Z_DATA_ERROR names what is wrong; nothing else comes of
                // data and room that are both there.
                return Fail(rows, "The PNG's compressed image data is damaged " + Progress(rows) + " (" +
                                      (z.msg != nullptr ? z.msg : "zlib's code " + std::to_string(result)) +
                                      "): " + kSaveAgain);
            }
        }
        count -= step;
    }
    return true;
}

// The zlib header before the deflate data: PNG allows deflate alone, with
// no preset dictionary. The window size it gives is not held to.
bool TakeZlibHeader(PngRows& rows) {
    z_stream& z = rows.Zlib[0];
    std::uint8_t head[2];
    for (std::uint8_t& byte : head) {
        if (z.avail_in == 0 && !Gather(rows)) return false;
        byte = *z.next_in++;
        --z.avail_in;
    }
    char bytes[48];
    std::snprintf(bytes, sizeof bytes, "(its first bytes are %02X %02X)", head[0], head[1]);
    if ((head[0] * 256 + head[1]) % 31 != 0)
        return Fail(rows, std::string("The PNG's image data does not begin with a zlib header ") + bytes +
                              ": the file is damaged; " + kSaveAgain);
    if ((head[0] & 15) != 8)
        return Fail(rows,
                    std::string("The PNG's image data is not compressed with deflate, the one method PNG allows ") +
                        bytes + ": the file is damaged; " + kSaveAgain);
    if ((head[1] & 32) != 0)
        return Fail(rows, std::string("The PNG's image data asks for a preset dictionary, which PNG does not allow ") +
                              bytes + ": the file is damaged; " + kSaveAgain);
    return true;
}

// ---- Scanlines --------------------------------------------------------------

inline std::uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
    return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// Undoes a scanline's filter; prior is the row before (zeros for the first
// row of a pass), bpp the bytes of a pixel (at least 1).
void Unfilter(std::uint8_t filter, std::uint8_t* row, const std::uint8_t* prior, std::uint64_t n, std::uint64_t bpp) {
    switch (filter) {
        case 1:
            for (std::uint64_t i = bpp; i < n; ++i) row[i] = static_cast<std::uint8_t>(row[i] + row[i - bpp]);
            break;
        case 2:
            for (std::uint64_t i = 0; i < n; ++i) row[i] = static_cast<std::uint8_t>(row[i] + prior[i]);
            break;
        case 3:
            for (std::uint64_t i = 0; i < std::min(bpp, n); ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + (prior[i] >> 1));
            for (std::uint64_t i = bpp; i < n; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + ((row[i - bpp] + prior[i]) >> 1));
            break;
        case 4:
            for (std::uint64_t i = 0; i < std::min(bpp, n); ++i) row[i] = static_cast<std::uint8_t>(row[i] + prior[i]);
            for (std::uint64_t i = bpp; i < n; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + Paeth(row[i - bpp], prior[i], prior[i - bpp]));
            break;
        default: break;
    }
}

std::string FilterNote(const PngRows& rows, int pass, std::uint64_t row, std::uint8_t filter) {
    const std::string where = rows.Header.Interlace == 1
                                  ? "row " + console::Dec(row + 1) + " of interlace pass " + console::Dec(pass + 1)
                                  : "row " + console::Dec(row + 1);
    return "The PNG's " + where + " has filter type " + console::Dec(filter) +
           ", which PNG does not define (0 to 4): the file is damaged; " + kSaveAgain;
}

// Where the next scanline goes: the half of Scanlines not holding the row before.
std::uint8_t* CurrentLine(PngRows& rows) { return rows.Scanlines.get() + (rows.PriorIsFirst ? rows.ScanlineBytes : 0); }

// Undoes the filter of the scanline at CurrentLine (its filter byte first,
// then rowBytes bytes) against the row before, which it then becomes. False
// for a filter PNG does not define.
bool UnfilterLine(PngRows& rows, std::uint64_t rowBytes) {
    std::uint8_t* prior = rows.Scanlines.get() + (rows.PriorIsFirst ? 0 : rows.ScanlineBytes);
    std::uint8_t* line = CurrentLine(rows);
    if (line[0] > 4) return false;
    const PngHeader& h = rows.Header;
    const std::uint64_t bpp = std::max<std::uint64_t>(1, ChannelsOf(h.ColourType) * h.Depth / 8);
    Unfilter(line[0], line + 1, prior + 1, rowBytes, bpp);
    rows.PriorIsFirst = !rows.PriorIsFirst;
    return true;
}

// The next scanline of rowBytes bytes, unfiltered: *row points at its bytes
// after the filter byte.
bool NextScanline(PngRows& rows, int pass, std::uint64_t index, std::uint64_t rowBytes, std::uint8_t** row) {
    std::uint8_t* line = CurrentLine(rows);
    if (!Inflate(rows, line, 1 + rowBytes)) return false;
    if (!UnfilterLine(rows, rowBytes)) return Fail(rows, FilterNote(rows, pass, index, line[0]));
    *row = line + 1;
    return true;
}

// A pass begins against a row of zeros.
void StartPass(PngRows& rows, std::uint64_t rowBytes) {
    std::uint8_t* prior = rows.Scanlines.get() + (rows.PriorIsFirst ? 0 : rows.ScanlineBytes);
    std::memset(prior, 0, 1 + rowBytes);
}

// ---- Pixels to values -------------------------------------------------------

// What each grey sample (a 16-bit one by its high byte) or palette index gives.
void PrepareValues(PngRows& rows) {
    const PngHeader& h = rows.Header;
    for (std::uint32_t s = 0; s < 256; ++s) {
        Rgb colour{0, 0, 0};
        if (h.ColourType == 3) {
            if (3 * s < rows.PaletteLength)
                colour = {rows.PaletteBytes[std::size_t{3} * s], rows.PaletteBytes[std::size_t{3} * s + 1],
                          rows.PaletteBytes[std::size_t{3} * s + 2]};
        } else {
            const std::uint8_t grey =
                h.Depth < 8 ? WidenChannel(s & ((1u << h.Depth) - 1), h.Depth) : static_cast<std::uint8_t>(s);
            colour = {grey, grey, grey};
        }
        rows.SampleValues[s] = ValueOfColour(rows.Layer, colour);
        rows.SampleExact[s] = IsLayerColour(rows.Layer, colour);
    }
    const bool allExact = std::all_of(rows.SampleExact, rows.SampleExact + 256, [](bool exact) { return exact; });
    rows.SamplesAreValues = allExact && h.Depth == 8 && (h.ColourType == 0 || h.ColourType == 3);
    for (std::uint32_t s = 0; s < 256 && rows.SamplesAreValues; ++s) rows.SamplesAreValues = rows.SampleValues[s] == s;
    rows.Memo = StartColourMemo(rows.Layer);
}

// One unfiltered row of width pixels as values.
void ConvertRow(PngRows& rows, const std::uint8_t* row, std::uint64_t width, std::uint8_t* values) {
    const PngHeader& h = rows.Header;
    const std::uint8_t* table = rows.SampleValues;
    const bool* exact = rows.SampleExact;
    std::uint64_t off = 0;
    std::uint8_t high = 0;        // the high bytes of 16-bit colour samples, or'ed
    if (rows.SamplesAreValues) {  // a grey layer's own greys, or its export palette
        std::memcpy(values, row, width);
    } else if (h.ColourType == 0 || h.ColourType == 3 || h.ColourType == 4) {
        if (h.Depth < 8) {
            const std::uint32_t depth = h.Depth, mask = (1u << depth) - 1;
            for (std::uint64_t x = 0; x < width; ++x) {
                const std::uint64_t bit = x * depth;
                const std::uint32_t s = (row[bit / 8] >> (8 - depth - bit % 8)) & mask;
                values[x] = table[s];
                off += !exact[s];
            }
        } else {
            // Grey, or grey and alpha: the grey sample, a 16-bit one by its high byte.
            const std::uint64_t step = std::uint64_t{ChannelsOf(h.ColourType)} * (h.Depth / 8);
            for (std::uint64_t x = 0; x < width; ++x) {
                const std::uint8_t s = row[x * step];
                values[x] = table[s];
                off += !exact[s];
                high |= s;
            }
            if (h.Depth == 8) high = 0;
        }
    } else if (rows.Layer == Palette::Gray) {
        // A grey layer's value is a sum of products, quicker made than looked up.
        const std::uint64_t bytes = h.Depth / 8, step = ChannelsOf(h.ColourType) * bytes;
        for (std::uint64_t x = 0; x < width; ++x) {
            const std::uint8_t* p = row + x * step;
            const Rgb colour{p[0], p[bytes], p[2 * bytes]};
            values[x] = ValueOfColour(Palette::Gray, colour);
            off += !IsLayerColour(Palette::Gray, colour);
            high |= colour.R | colour.G | colour.B;
        }
        if (h.Depth == 8) high = 0;
    } else {
        const std::uint64_t bytes = h.Depth / 8, step = ChannelsOf(h.ColourType) * bytes;
        ColourMemo memo = rows.Memo;
        for (std::uint64_t x = 0; x < width; ++x) {
            const std::uint8_t* p = row + x * step;
            const Rgb colour{p[0], p[bytes], p[2 * bytes]};
            Remember(memo, rows.Layer, colour);
            values[x] = memo.Value;
            off += !memo.Exact;
            high |= colour.R | colour.G | colour.B;
        }
        rows.Memo = memo;
        if (h.Depth == 8) high = 0;
    }
    rows.OffColour += off;
    rows.AnySampleHigh = rows.AnySampleHigh || high != 0;
}

std::string WholeTooLargeNote(const PngHeader& h, std::uint64_t size) {
    return "The PNG is interlaced and too large to decode whole (" + console::Dec(h.Width) + " x " +
           console::Dec(h.Height) + " pixels take " + console::Dec((size + (1u << 20) - 1) >> 20) + " MiB, more than " +
           console::Dec(kPngWholeLimit >> 20) +
           " MiB): save it again without interlacing (GIMP: untick Interlacing in Export; ImageMagick: -interlace "
           "none)";
}

// The values of a whole image, as an exported file lays them out.
std::uint64_t WholeSize(const PngHeader& h) {
    const std::uint64_t stride = RowStride(h.Width);
    return SpanEnd(0, stride, h.Height);
}

}  // namespace

bool StartPngRows(PngRows& rows, platform::FileHandle file, std::uint64_t fileSize, const PngHeader& header,
                  Palette layer) {
    EndPngRows(rows);
    rows.File = file;
    rows.FileSize = fileSize;
    rows.Header = header;
    rows.Layer = layer;
    rows.NextRow = 0;
    rows.OffColour = 0;
    rows.AnySampleHigh = false;
    rows.Status = PngStatus::Ok;
    rows.Code = 0;
    rows.Note.clear();
    rows.BufferAt = 0;
    rows.Held = 0;
    rows.At = sizeof kPngSignature;
    rows.DataLeft = 0;
    rows.DataSeen = false;
    rows.Walk = PngWalk::Open;
    rows.WalkStatus = PngStatus::Ok;
    rows.WalkCode = 0;
    rows.WalkNote.clear();
    rows.StreamEnded = false;
    rows.OutBytes = 0;
    rows.PriorIsFirst = false;
    rows.PaletteLength = 0;
    rows.PaletteSeen = false;

    // The check has judged the header; the decoder holds to it all the same.
    if (!IsDefinedHeader(header) || header.Width == 0 || header.Height == 0)
        return Fail(rows, "The PNG header gives a " + console::Dec(header.Width) + " x " + console::Dec(header.Height) +
                              " image of colour type " + console::Dec(header.ColourType) + " with bit depth " +
                              console::Dec(header.Depth) +
                              " (or another field PNG does not define): the file is damaged; " + kSaveAgain);
    rows.ScanlineBytes = 1 + RowBytesOf(header, header.Width);
    rows.Buffer = platform::Allocate<std::uint8_t>(kBufferBytes);
    rows.Input = platform::Allocate<std::uint8_t>(kInputBytes);
    rows.Scanlines = platform::Allocate<std::uint8_t>(2 * rows.ScanlineBytes);
    rows.Zlib = platform::Allocate<z_stream_s>(1);
    z_stream& z = rows.Zlib[0];
    z.zalloc = ZlibAllocate;
    z.zfree = ZlibRelease;
    z.next_in = rows.Input.get();
    z.avail_in = 0;
    // Raw deflate: the zlib header is read here, and its checksum, after the
    // data, is never needed.
    if (inflateInit2(&z, -15) != Z_OK) return Fail(rows, "The PNG decoder could not start zlib");
    rows.Inflating = true;

    if (!NextDataChunk(rows)) return FailAtWalkEnd(rows);
    PrepareValues(rows);
    return TakeZlibHeader(rows);
}

bool NextPngRow(PngRows& rows, std::uint8_t* values) {
    if (rows.Status != PngStatus::Ok) return false;
    if (rows.Header.Interlace == 1 || rows.NextRow >= rows.Header.Height)
        return Fail(rows,
                    "The PNG decoder was asked for a row past the last, or for an interlaced image's rows one by one "
                    "(a fault of this tool)");
    std::uint8_t* row = nullptr;
    if (!NextScanline(rows, 0, rows.NextRow, rows.ScanlineBytes - 1, &row)) return false;
    ConvertRow(rows, row, rows.Header.Width, values);
    ++rows.NextRow;
    return true;
}

bool CheckPngRows(PngRows& rows) {
    const PngHeader& h = rows.Header;
    if (rows.Status == PngStatus::Ok && h.Interlace == 1 && WholeSize(h) > kPngWholeLimit)
        Fail(rows, WholeTooLargeNote(h, WholeSize(h)));
    if (rows.Status == PngStatus::Ok) {
        // Many scanlines inflated at once; only their filter bytes are looked at.
        platform::Memory<std::uint8_t> window = platform::Allocate<std::uint8_t>(kCheckBytes);
        const Passes passes = PassesOf(h);
        for (int p = 0; p < passes.Count && rows.Status == PngStatus::Ok; ++p) {
            const std::uint64_t width = PassWidth(h, passes.First[p]), height = PassHeight(h, passes.First[p]);
            if (width == 0) continue;
            const std::uint64_t line = 1 + RowBytesOf(h, width);
            const std::uint64_t batch = std::max<std::uint64_t>(1, kCheckBytes / line);
            for (std::uint64_t r = 0; r < height && rows.Status == PngStatus::Ok;) {
                const std::uint64_t lines = std::min(batch, height - r);
                if (line <= kCheckBytes) {
                    if (!Inflate(rows, window.get(), lines * line)) break;
                    for (std::uint64_t i = 0; i < lines; ++i)
                        if (window[i * line] > 4) {
                            Fail(rows, FilterNote(rows, p, r + i, window[i * line]));
                            break;
                        }
                } else {  // a scanline wider than the window, in pieces
                    for (std::uint64_t done = 0; done < line && rows.Status == PngStatus::Ok;) {
                        const std::uint64_t piece = std::min<std::uint64_t>(kCheckBytes, line - done);
                        if (Inflate(rows, window.get(), piece) && done == 0 && window[0] > 4)
                            Fail(rows, FilterNote(rows, p, r, window[0]));
                        done += piece;
                    }
                }
                r += lines;
            }
        }
    }
    const bool whole = rows.Status == PngStatus::Ok;
    EndPngRows(rows);
    return whole;
}

void EndPngRows(PngRows& rows) {
    if (rows.Inflating) inflateEnd(rows.Zlib.get());
    rows.Inflating = false;
    rows.Zlib.reset();
    rows.Buffer.reset();
    rows.Input.reset();
    rows.Scanlines.reset();
}

bool DecodePngWhole(PngRows& rows, platform::Memory<std::uint8_t>* values) {
    values->reset();
    if (rows.Status != PngStatus::Ok) return false;
    const PngHeader& h = rows.Header;
    const std::uint64_t stride = RowStride(h.Width), size = WholeSize(h);
    if (h.Interlace == 1 && size > kPngWholeLimit) return Fail(rows, WholeTooLargeNote(h, size));
    *values = platform::Allocate<std::uint8_t>(size);
    const auto rowAt = [&](std::uint64_t y) { return values->get() + stride * (h.Height - 1 - y); };
    if (h.Interlace != 1) {
        for (std::uint64_t y = 0; y < h.Height; ++y)
            if (!NextPngRow(rows, rowAt(y))) {
                values->reset();
                return false;
            }
        return true;
    }
    // Each pass's rows are converted, then spread to their places.
    platform::Memory<std::uint8_t> passValues = platform::Allocate<std::uint8_t>(h.Width);
    for (int p = 0; p < 7; ++p) {
        const Pass& pass = kAdam7[p];
        const std::uint64_t width = PassWidth(h, pass), height = PassHeight(h, pass);
        if (width == 0) continue;
        const std::uint64_t rowBytes = RowBytesOf(h, width);
        StartPass(rows, rowBytes);
        for (std::uint64_t r = 0; r < height; ++r) {
            std::uint8_t* row = nullptr;
            if (!NextScanline(rows, p, r, rowBytes, &row)) {
                values->reset();
                return false;
            }
            ConvertRow(rows, row, width, passValues.get());
            std::uint8_t* out = rowAt(pass.Y0 + r * pass.Dy);
            for (std::uint64_t i = 0; i < width; ++i) out[pass.X0 + i * pass.Dx] = passValues[i];
        }
    }
    rows.NextRow = h.Height;
    return true;
}

std::string DescribePng(const PngHeader& png) {
    const char* names[] = {"grey", "", "RGB", "", "grey and alpha", "", "RGBA"};
    std::string kind = png.ColourType == 3
                           ? "a PNG with a palette (" + console::Dec(png.Depth) + " bits per pixel"
                           : std::string("a PNG (") + (png.ColourType < 7 ? names[png.ColourType] : "") + ", " +
                                 console::Dec(png.Depth) + " bits per channel";
    return kind + (png.Interlace == 1 ? ", interlaced)" : ")");
}

// ---- The PNG kind of import --------------------------------------------------

namespace {

ImportVerdict VerdictOf(const PngRows& rows, std::string_view path) {
    return rows.Status == PngStatus::ReadFailed ? ReadFailed(rows.Code) : RefusedAsInvalid(path, rows.Note);
}

// How the file was taken; a 16-bit image whose samples all lie below 256
// holds its values in the low byte, which count for nothing.
std::string TakenNote(const PngRows& rows, const ImportLayer& layer) {
    std::string note = TakenByColourNote(layer, DescribePng(rows.Header), rows.OffColour);
    if (rows.Header.Depth == 16 && !rows.AnySampleHigh)
        note += std::string("\n") + layer.Name +
                ": every 16-bit sample of this PNG lies below 256, so its values sit in the low byte (as some "
                "programs write 8-bit values into 16 bits) and all came out 0, since 16-bit samples count by their "
                "high byte: save the layer with 8 bits per sample (Pillow: convert to \"L\"; ImageMagick: "
                "-depth 8; GIMP: Image > Precision > 8 bit)";
    return note;
}

// A stream of rows for the movers, owning its decoder.
void EndStream(void* state) {
    auto* rows = static_cast<PngRows*>(state);
    EndPngRows(*rows);
    delete rows;
}

// A stream's rows in two steps, so that inflating, most of the time, runs
// on the read-ahead thread beside the mover. They share the record but not
// its fields: inflating owns the file and zlib, the mover the rows after.
//
// On the thread: count rows' scanlines, inflated at once.
bool TakeStreamScanlines(void* state, std::uint8_t* scanlines, std::uint32_t count, std::uint32_t* got,
                         std::uint32_t* code) {
    auto& rows = *static_cast<PngRows*>(state);
    const std::uint64_t before = rows.OutBytes;
    const bool whole = Inflate(rows, scanlines, rows.ScanlineBytes * count);
    *got = static_cast<std::uint32_t>((rows.OutBytes - before) / rows.ScanlineBytes);
    // Checked whole before the move: a row that fails now comes from a file
    // that changed, or could not be read.
    if (!whole) *code = rows.Status == PngStatus::ReadFailed ? rows.Code : platform::ShortReadCode();
    return whole;
}

// On the mover's thread: the scanline unfiltered, its pixels made values.
bool FinishStreamRow(void* state, const std::uint8_t* scanline, std::uint8_t* values, std::uint32_t* code) {
    auto& rows = *static_cast<PngRows*>(state);
    std::uint8_t* line = CurrentLine(rows);
    std::memcpy(line, scanline, rows.ScanlineBytes);
    if (!UnfilterLine(rows, rows.ScanlineBytes - 1)) {  // a filter byte the check saw whole: the file changed
        *code = platform::ShortReadCode();
        return false;
    }
    ConvertRow(rows, line + 1, rows.Header.Width, values);
    ++rows.NextRow;
    return true;
}

std::string StreamNote(const void* state, const ImportLayer& layer) {
    return TakenNote(*static_cast<const PngRows*>(state), layer);
}

}  // namespace

bool IsPng(const std::uint8_t* head, std::uint32_t got) {
    return got >= sizeof kPngSignature && std::memcmp(head, kPngSignature, sizeof kPngSignature) == 0;
}

ImportVerdict JudgePngHead(const std::uint8_t* head, std::uint32_t got, std::uint64_t /*fileSize*/,
                           const ImportLayer& layer, std::string_view path, PngHeader* out) {
    // The signature, then the header chunk: length 13, "IHDR", its fields.
    // Whether the rest is whole shows when it is checked.
    if (got < 29 || be::Get32(head + 8) != 13 || std::memcmp(head + 12, "IHDR", 4) != 0)
        return RefusedAsInvalid(path,
                                "The file begins as a PNG but its header chunk (IHDR) cannot be read: it is damaged; "
                                "save it again");
    const PngHeader png{be::Get32(head + 16), be::Get32(head + 20), head[24], head[25], head[26], head[27], head[28]};
    if (const ImportVerdict size = JudgeSize(png.Width, png.Height, layer); size.Outcome != Verdict::Accepted)
        return size;
    if (!IsDefinedHeader(png))
        return RefusedAsInvalid(path, "The PNG header gives colour type " + console::Dec(png.ColourType) +
                                          " with bit depth " + console::Dec(png.Depth) +
                                          " (or another field PNG does not define): the file is damaged; save it "
                                          "again");
    *out = png;
    return Accepted();
}

ImportVerdict OpenPng(const ImportFile& file, const PngHeader& png, const ImportLayer& layer, ImportSource* source) {
    PngRows rows{};
    if (png.Interlace == 1 || !layer.TopFirst) {
        platform::Memory<std::uint8_t> values;
        const bool decoded =
            StartPngRows(rows, file.Handle, file.Size, png, layer.Colours) && DecodePngWhole(rows, &values);
        EndPngRows(rows);
        if (!decoded) return VerdictOf(rows, file.Path);
        source->Reading = RowSource::Decoded;
        source->PixelStart = 0;
        source->TopDown = false;
        source->Decoded = std::move(values);
        source->Note = TakenNote(rows, layer);
        return Accepted();
    }
    // A file cut short is refused here, before any move writes a byte.
    const bool whole = StartPngRows(rows, file.Handle, file.Size, png, layer.Colours) && CheckPngRows(rows);
    EndPngRows(rows);
    if (!whole) return VerdictOf(rows, file.Path);
    auto* stream = new PngRows{};
    source->Stream.State = {stream, EndStream};
    if (!StartPngRows(*stream, file.Handle, file.Size, png, layer.Colours)) return VerdictOf(*stream, file.Path);
    source->Stream.Take = TakeStreamScanlines;
    source->Stream.Finish = FinishStreamRow;
    source->Stream.RawBytes = stream->ScanlineBytes;
    source->Stream.Note = StreamNote;
    source->Reading = RowSource::Stream;
    source->TopDown = true;
    source->NextRow = 0;
    return Accepted();
}
