#include <cstring>
#include <vector>

#include "platform/le_bytes.h"
#include "report/console_text.h"
#include "world/world.h"

using console::Dec;

void DecodeWldHeader(WldHeader& header) {
    const std::uint8_t* raw = header.Raw;
    header.OffsetSize = le::Get32(raw + 0);
    header.Width = le::Get32(raw + 4);
    header.Height = le::Get32(raw + 8);
    header.NullValue = le::Get32(raw + 12);
    header.Data1Offset = le::Get32(raw + 16);
    header.Unknown1 = le::Get32(raw + 20);
    header.Unknown2 = le::Get32(raw + 24);
    header.SmallMapOffset = le::Get32(raw + 28);
}

bool ReadWldHeader(console::Report& report, WorldFile& world) {
    // A short file leaves the rest of the zeroed header as it is.
    std::uint32_t got = 0;
    if (!platform::ReadFile(world.Handle, world.Header.Raw, kWldHeaderSize, &got)) {
        console::PrintErrorLine(report, platform::LastError(), "reading", "WLD header");
        return false;
    }
    DecodeWldHeader(world.Header);
    return true;
}

void ShowWldHeader(const WldHeader& header) {
    console::PrintLine("");
    console::PrintLine("Header info:");
    console::PrintLine(" OffsetSize:     " + Dec(header.OffsetSize));
    console::PrintLine(" Width:          " + Dec(header.Width));
    console::PrintLine(" Height:         " + Dec(header.Height));
    console::PrintLine(" NullValue:      " + Dec(header.NullValue));
    console::PrintLine(" Data1Offset:    " + Dec(header.Data1Offset));
    console::PrintLine(" Unknown1:       " + Dec(header.Unknown1));
    console::PrintLine(" Unknown2:       " + Dec(header.Unknown2));
    console::PrintLine(" SmallMapOffset: " + Dec(header.SmallMapOffset));
    console::PrintLine("");
}

namespace {

constexpr char kNoCellsAdvice[] =
    "The header gives this map no cells: the file is not a world file, or its header is damaged. Nothing was "
    "changed; choose the game's WOODS.WLD, or put back a copy of it.";
constexpr char kCutShortAdvice[] =
    "The file is shorter than its header says: it was cut short, as by an interrupted copy or download. Nothing was "
    "changed; copy the world again from the game or from a backup.";
constexpr char kDamagedAdvice[] =
    "The header points outside the file's data: the file is damaged, or not a world file. Nothing was changed; copy "
    "the world again from the game or from a backup.";

// A file chosen as the world that is an image: named as such, since the
// refusal's own advice (cut short, damaged) would mislead.
std::string ImageInsteadOfWorld(const std::uint8_t* raw) {
    const char* what = nullptr;
    if (raw[0] == 'B' && raw[1] == 'M') what = "a BMP image";
    if (std::memcmp(raw, "\x89PNG", 4) == 0) what = "a PNG image";
    if (std::memcmp(raw, "\xFF\xD8\xFF", 3) == 0) what = "a JPEG image";
    if (what == nullptr) return {};
    return std::string("The file is ") + what + ", not a world file: choose the game's WOODS.WLD (a layer's " +
           "bitmap goes to its layer's question, after the world). Nothing was changed.";
}

}  // namespace

WorldRefusal JudgeWorldSpan(const WldHeader& header, std::uint64_t fileSize) {
    if (header.Width == 0 || header.Height == 0)
        return {"Map size " + Dec(header.Width) + " x " + Dec(header.Height) + " is not supported!", kNoCellsAdvice};
    const std::uint64_t tableEnd = OffsetTableEnd(header);
    if (tableEnd > fileSize) return {"Cell offset table runs past the end of the WLD file!", kCutShortAdvice};
    const std::uint64_t blockEnd = std::uint64_t{header.SmallMapOffset} + std::uint64_t{header.Width} * header.Height;
    if (blockEnd > fileSize || header.SmallMapOffset < tableEnd)
        return {"SmallMap block lies outside the WLD data!", kDamagedAdvice};
    return {};
}

std::string JudgeRecordPlace(std::uint32_t x, std::uint32_t y, std::uint32_t position, std::uint64_t tableEnd,
                             std::uint64_t fileSize) {
    if (!RecordLiesInside(position, tableEnd, fileSize)) {
        return "LM record of cell (" + Dec(x) + ", " + Dec(y) + ") at " + Dec(position) + " lies outside the WLD data!";
    }
    return {};
}

bool CheckWorldLimits(console::Report& report, WorldFile& world) {
    const WldHeader& header = world.Header;
    std::uint64_t fileSize = 0;
    if (!platform::GetFileSize(world.Handle, &fileSize)) {
        console::PrintErrorLine(report, platform::LastError(), "reading", world.Path);
        return false;
    }
    const WorldRefusal refusal = JudgeWorldSpan(header, fileSize);
    if (!refusal.Line.empty()) {
        console::PrintRefusal(
            report, refusal.Line,
            ImageInsteadOfWorld(header.Raw).empty() ? std::string(refusal.Advice) : ImageInsteadOfWorld(header.Raw));
        return false;
    }
    world.Size = fileSize;
    world.RecordsApart = true;
    std::uint64_t lastEnd = 0;

    // The table may be far larger than memory we want to hold: read it in pieces.
    const std::uint64_t tableEnd = OffsetTableEnd(header);
    const std::uint64_t cells = std::uint64_t{header.Width} * header.Height;
    constexpr std::uint64_t kPiece = std::uint64_t{64} << 10;
    std::vector<std::uint8_t> piece(4 * kPiece);
    for (std::uint64_t first = 0; first < cells; first += kPiece) {
        const auto count = static_cast<std::uint32_t>(cells - first < kPiece ? cells - first : kPiece);
        std::uint32_t got = 0;
        if (!platform::ReadFileAt(world.Handle, kOffsetTableStart + 4 * first, piece.data(), 4 * count, &got)) {
            console::PrintErrorLine(report, platform::LastError(), "reading", world.Path);
            return false;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint64_t cell = first + i;
            const std::uint32_t position = le::Get32(piece.data() + std::size_t{4} * i);
            world.RecordsApart = world.RecordsApart && position >= lastEnd;
            lastEnd = std::uint64_t{position} + kLmRecordSize;
            if (RecordLiesInside(position, tableEnd, fileSize)) continue;
            console::PrintRefusal(
                report,
                JudgeRecordPlace(static_cast<std::uint32_t>(cell % header.Width),
                                 static_cast<std::uint32_t>(cell / header.Width), position, tableEnd, fileSize),
                kDamagedAdvice);
            return false;
        }
    }
    return true;
}
