// PNG through stb_image (Debian's libstb-dev), its PNG decoder alone. The
// file reaches it through a stream that makes its input safe and small:
// a palette image is handed over as a grey image of its indices, and its
// palette is kept here, since stb_image would read an index beyond the
// palette from memory it never set (our rule: such an index is black) and
// would expand every pixel to RGB; transparency chunks are left out, since
// transparency does not count. Its memory comes from
// platform::AllocateMemory, so that running out ends the run as every
// allocation does; a request beyond what an image of the expected size can
// need is refused instead, so that a stream that unpacks without end makes
// the file invalid rather than ending the run.
#include <algorithm>
#include <cstring>

#include "bitmap/bmp.h"
#include "bitmap/image_decode.h"
#include "platform/le_bytes.h"
#include "report/console_text.h"

namespace {

// One decoding at a time: the allocation hooks see its limit here.
std::uint64_t g_allocationLimit = 0;
bool g_limitReached = false;

void* PngAllocate(std::size_t size) {
    if (size > g_allocationLimit) {
        g_limitReached = true;
        return nullptr;
    }
    return platform::AllocateMemory(size);
}

void* PngReallocate(void* old, std::size_t oldSize, std::size_t size) {
    void* memory = PngAllocate(size);
    if (memory == nullptr) return nullptr;
    if (old != nullptr) std::memcpy(memory, old, std::min(oldSize, size));
    platform::ReleaseMemory(old);
    return memory;
}

}  // namespace

#define STBI_MALLOC(size) PngAllocate(size)
#define STBI_REALLOC_SIZED(old, oldSize, size) PngReallocate(old, oldSize, size)
#define STBI_FREE(memory) platform::ReleaseMemory(memory)
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_NO_THREAD_LOCALS
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace {

constexpr std::uint32_t kPaletteBytes = 256 * 3;
constexpr std::uint32_t kHeaderChunkBytes = 13;

// The file as stb_image reads it, chunk by chunk: each chunk's header (made
// here, and for the header chunk its fields too), its data from the file,
// and its checksum from the file. Ends after the image end chunk, or where
// the file or a read ends.
struct PngStream {
    platform::FileHandle File;
    PngHeader Header;  // as the check read it
    std::uint64_t At;  // next file byte
    std::uint8_t Made[8 + kHeaderChunkBytes];
    std::uint32_t MadeLength;
    std::uint32_t MadeLeft;
    std::uint64_t DataLeft;  // file bytes from At
    std::uint32_t TailLeft;  // file bytes from At, after the data
    bool LastChunk;
    bool Ended;
    bool Failed;
    std::uint32_t Code;
    // The palette, taken out of the stream: from the last palette chunk
    // before the image data; Bad when that chunk is not one.
    bool ImageDataSeen;
    bool PaletteSeen;
    bool PaletteBad;
    std::uint32_t PaletteLength;  // bytes
    std::uint8_t Palette[kPaletteBytes];
};

void PutBigEndian(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// Keeps a palette chunk's entries for the conversion.
bool TakePalette(PngStream& s, std::uint32_t length) {
    if (s.ImageDataSeen) return true;  // too late to count
    s.PaletteSeen = true;
    s.PaletteBad = length % 3 != 0 || length > kPaletteBytes;
    s.PaletteLength = s.PaletteBad ? 0 : length;
    std::uint32_t got = 0;
    if (!platform::ReadFileAt(s.File, s.At + 8, s.Palette, s.PaletteLength, &got)) {
        s.Failed = true;
        s.Code = platform::LastError();
        return false;
    }
    s.PaletteLength = got / 3 * 3;
    return true;
}

// Sets up the next chunk; false at the end of the stream.
bool NextChunk(PngStream& s) {
    while (!s.LastChunk) {
        std::uint8_t head[8];
        std::uint32_t got = 0;
        if (!platform::ReadFileAt(s.File, s.At, head, sizeof head, &got)) {
            s.Failed = true;
            s.Code = platform::LastError();
            return false;
        }
        if (got < sizeof head) return false;
        const std::uint32_t length = be::Get32(head);
        if (length > 0x7FFFFFFFu) return false;  // beyond what PNG allows: the decoding fails
        const bool palette = std::memcmp(head + 4, "PLTE", 4) == 0;
        if (palette && !TakePalette(s, length)) return false;
        if (palette || std::memcmp(head + 4, "tRNS", 4) == 0) {
            s.At += 12 + std::uint64_t{length};
            continue;
        }
        const bool imageData = std::memcmp(head + 4, "IDAT", 4) == 0;
        s.ImageDataSeen = s.ImageDataSeen || imageData;
        // An empty data chunk adds nothing; stb_image would copy it to a
        // buffer it has not made yet.
        if (imageData && length == 0) {
            s.At += 12;
            continue;
        }
        s.LastChunk = std::memcmp(head + 4, "IEND", 4) == 0;
        std::memcpy(s.Made, head, sizeof head);
        s.MadeLength = sizeof head;
        s.At += sizeof head;
        s.DataLeft = length;
        s.TailLeft = 4;
        if (std::memcmp(head + 4, "IHDR", 4) == 0 && length == kHeaderChunkBytes) {
            // The fields the check read; a palette image's indices as grey.
            const PngHeader& h = s.Header;
            PutBigEndian(s.Made + 8, h.Width);
            PutBigEndian(s.Made + 12, h.Height);
            const std::uint8_t fields[] = {h.Depth, h.ColourType == 3 ? std::uint8_t{0} : h.ColourType, h.Compression,
                                           h.Filter, h.Interlace};
            std::memcpy(s.Made + 16, fields, sizeof fields);
            s.MadeLength += kHeaderChunkBytes;
            s.At += kHeaderChunkBytes;
            s.DataLeft = 0;
        }
        s.MadeLeft = s.MadeLength;
        return true;
    }
    return false;
}

// File bytes of the current chunk: left of them, want of them asked for.
std::uint64_t FromFile(PngStream& s, std::uint64_t& left, std::uint8_t* out, std::uint64_t want) {
    const std::uint64_t n = std::min(want, left);
    if (out == nullptr) {  // passed over: a later read finds whether they were there
        s.At += n;
        left -= n;
        return n;
    }
    std::uint64_t done = 0;
    while (done < n) {
        const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(n - done, 1u << 30));
        std::uint32_t got = 0;
        if (!platform::ReadFileAt(s.File, s.At, out + done, count, &got)) {
            s.Failed = true;
            s.Code = platform::LastError();
        }
        s.At += got;
        left -= got;
        done += got;
        if (s.Failed || got < count) {
            s.Ended = true;
            break;
        }
    }
    return done;
}

// Moves count bytes of the stream into out (or past them, out null);
// returns how many there were.
std::uint64_t Take(PngStream& s, std::uint8_t* out, std::uint64_t count) {
    std::uint64_t done = 0;
    while (done < count && !s.Ended) {
        std::uint8_t* to = out == nullptr ? nullptr : out + done;
        const std::uint64_t want = count - done;
        if (s.MadeLeft > 0) {
            const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(want, s.MadeLeft));
            if (to != nullptr) std::memcpy(to, s.Made + (s.MadeLength - s.MadeLeft), n);
            s.MadeLeft -= n;
            done += n;
        } else if (s.DataLeft > 0) {
            done += FromFile(s, s.DataLeft, to, want);
        } else if (s.TailLeft > 0) {
            std::uint64_t tail = s.TailLeft;
            done += FromFile(s, tail, to, want);
            s.TailLeft = static_cast<std::uint32_t>(tail);
        } else if (!NextChunk(s)) {
            s.Ended = true;
        }
    }
    return done;
}

int ReadStream(void* user, char* data, int size) {
    return static_cast<int>(Take(*static_cast<PngStream*>(user), reinterpret_cast<std::uint8_t*>(data),
                                 static_cast<std::uint64_t>(std::max(size, 0))));
}

void SkipStream(void* user, int count) {
    if (count > 0) Take(*static_cast<PngStream*>(user), nullptr, static_cast<std::uint64_t>(count));
}

int StreamAtEnd(void* user) {
    const PngStream& s = *static_cast<const PngStream*>(user);
    return s.Ended || (s.LastChunk && s.MadeLeft == 0 && s.DataLeft == 0 && s.TailLeft == 0);
}

std::uint32_t ChannelsOf(std::uint8_t colourType) {
    switch (colourType) {
        case 2: return 3;
        case 4: return 2;
        case 6: return 4;
        default: return 1;  // grey, and palette indices
    }
}

std::string KindOf(const PngHeader& png) {
    const char* names[] = {"grey", "", "RGB", "", "grey and alpha", "", "RGBA"};
    std::string kind = png.ColourType == 3 ? "a PNG with a palette (" + console::Dec(png.Depth) + " bits per pixel"
                                           : std::string("a PNG (") + names[png.ColourType] + ", " +
                                                 console::Dec(png.Depth) + " bits per channel";
    return kind + (png.Interlace == 1 ? ", interlaced)" : ")");
}

std::string FailureNote(const PngHeader& png) {
    std::string why;
    // The decoder's reason may carry a chunk's name, bytes of the file.
    std::string reason = stbi_failure_reason() != nullptr ? stbi_failure_reason() : "";
    for (char& c : reason)
        if (c < ' ' || c > '~') c = '?';
    if (g_limitReached)
        why = "its image data unpacks to more than a " + console::Dec(png.Width) + " x " + console::Dec(png.Height) +
              " image holds";
    else if (reason == "outofdata" || reason == "not enough pixels")
        why = "it ends before its image data does";
    else
        why = "the decoder says: " + reason;
    return "The PNG cannot be decoded whole (" + why + "): it is damaged or cut short; save it again";
}

// What each 8-bit sample of a grey image (a palette image's index, as stb_image
// widens it) gives: the value of its grey, or of its palette entry's colour.
IndexValues ValuesOfSamples(const PngStream& stream, Palette layer) {
    IndexValues table{};
    const PngHeader& png = stream.Header;
    // stb_image widens grey samples of fewer bits by repeating them; indices as well now.
    const std::uint32_t widened = png.Depth >= 8 ? 1 : 255 / ((1u << png.Depth) - 1);
    for (std::uint32_t v = 0; v < 256; ++v) {
        auto colour = Rgb{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v)};
        if (png.ColourType == 3) {
            const std::uint32_t index = v / widened;
            colour = 3 * index < stream.PaletteLength
                         ? Rgb{stream.Palette[3 * index], stream.Palette[3 * index + 1], stream.Palette[3 * index + 2]}
                         : Rgb{0, 0, 0};
        }
        table.Values[v] = ValueOfColour(layer, colour);
        table.Exact[v] = IsLayerColour(layer, colour);
    }
    return table;
}

}  // namespace

DecodeOutcome DecodePng(platform::FileHandle file, const PngHeader& png, std::uint64_t fileSize,
                        const ImportLayer& layer, DecodedImage* image) {
    const std::uint32_t channels = ChannelsOf(png.ColourType);
    // stb_image takes no image of more than 2^30 samples or 2^24 rows or
    // columns; such a file is sound, only too large for this decoder.
    constexpr std::uint32_t kMostSamples = 1u << 30, kMostSide = 1u << 24;
    if (png.Width > kMostSide || png.Height > kMostSide || kMostSamples / png.Width / channels < png.Height)
        return {DecodeResult::Invalid, 0,
                "The PNG is too large for the PNG decoder (" + console::Dec(png.Width) + " x " +
                    console::Dec(png.Height) + " pixels of " + console::Dec(channels) +
                    " samples is more than 2^30 samples): save the layer as a BMP instead"};
    // The most an image of this header can ask for at once: its unpacked data
    // (twice stb_image's first guess, which interlaced images exceed), the
    // decoded image (a byte per sample, or two, even when the file packs
    // several samples into a byte), or the compressed data gathered from the file.
    const std::uint64_t rowBytes = (std::uint64_t{png.Width} * png.Depth + 7) / 8;
    const std::uint64_t unpacked = rowBytes * png.Height * channels + png.Height;
    const std::uint64_t decoded = std::uint64_t{png.Width} * png.Height * channels * (png.Depth == 16 ? 2 : 1);
    g_allocationLimit = std::max({2 * unpacked, decoded, 2 * fileSize}) + (std::uint64_t{1} << 16);
    g_limitReached = false;

    PngStream stream{};
    stream.File = file;
    stream.Header = png;
    stream.DataLeft = sizeof kPngSignature;
    const stbi_io_callbacks callbacks{ReadStream, SkipStream, StreamAtEnd};
    int width = 0, height = 0, decodedChannels = 0;
    const bool wide = png.Depth == 16;
    void* pixels =
        wide
            ? static_cast<void*>(stbi_load_16_from_callbacks(&callbacks, &stream, &width, &height, &decodedChannels, 0))
            : static_cast<void*>(stbi_load_from_callbacks(&callbacks, &stream, &width, &height, &decodedChannels, 0));
    if (stream.Failed) {
        stbi_image_free(pixels);
        return {DecodeResult::ReadFailed, stream.Code, {}};
    }
    if (pixels == nullptr) return {DecodeResult::Invalid, 0, FailureNote(png)};
    if (png.ColourType == 3 && (!stream.PaletteSeen || stream.PaletteBad)) {
        stbi_image_free(pixels);
        return {DecodeResult::Invalid, 0,
                "The PNG has a palette image but no palette chunk before its image data that could be read: it is "
                "damaged; save it again"};
    }

    // Rows top first as decoded, stored bottom first; 16-bit samples by their
    // high byte; alpha does not count.
    const auto samples = static_cast<std::uint32_t>(decodedChannels);
    const std::uint64_t stride = RowStride(layer.Width);
    image->Size = stride * layer.Height;
    image->Values = platform::Allocate<std::uint8_t>(image->Size);
    image->Kind = KindOf(png);
    const auto* narrow = static_cast<const std::uint8_t*>(pixels);
    const auto* broad = static_cast<const std::uint16_t*>(pixels);
    const auto sample = [&](std::uint64_t i) { return wide ? static_cast<std::uint8_t>(broad[i] >> 8) : narrow[i]; };
    // Grey samples through a table; other colours mostly repeat their neighbour's.
    const IndexValues greys = ValuesOfSamples(stream, layer.Colours);
    ColourMemo memo = StartColourMemo(layer.Colours);
    std::uint64_t off = 0;
    for (std::uint64_t y = 0; y < layer.Height; ++y) {
        std::uint8_t* out = image->Values.get() + stride * (layer.Height - 1 - y);
        std::uint64_t at = y * layer.Width * samples;
        for (std::uint64_t x = 0; x < layer.Width; ++x, at += samples) {
            if (samples < 3) {
                const std::uint8_t grey = sample(at);
                out[x] = greys.Values[grey];
                off += !greys.Exact[grey];
                continue;
            }
            Remember(memo, layer.Colours, {sample(at), sample(at + 1), sample(at + 2)});
            out[x] = memo.Value;
            off += !memo.Exact;
        }
    }
    image->OffColour = off;
    stbi_image_free(pixels);
    return {DecodeResult::Done, 0, {}};
}
