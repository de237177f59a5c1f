// The world file: a 144-byte header, a table of Width x Height record
// positions at 144, one 47-byte record per cell, and the SmallMap block.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "report/console_text.h"

inline constexpr std::uint32_t kWldHeaderSize = 144;
inline constexpr std::uint64_t kOffsetTableStart = 144;
inline constexpr std::uint32_t kLmRecordSize = 47;

struct WldHeader {
    std::uint8_t Raw[kWldHeaderSize];  // as read; bytes 32-143 are carried, never shown
    std::uint32_t OffsetSize;
    std::uint32_t Width;
    std::uint32_t Height;
    std::uint32_t NullValue;
    std::uint32_t Data1Offset;
    std::uint32_t Unknown1;
    std::uint32_t Unknown2;
    std::uint32_t SmallMapOffset;
};

// The world file as the run holds it, open for reading and writing from the
// header on to the end of the run.
struct WorldFile {
    platform::FileHandle Handle;
    char Path[platform::kFileNameBufferSize];  // kept: the dialogs reuse their buffer
    WldHeader Header;
    std::uint32_t* OffsetRow;  // one row of the offset table, Width entries
    std::uint64_t Size;        // as the limits were checked: moves trust no record beyond them
    bool RecordsApart;         // the table lists records in file order, none sharing a byte
};

// Fills the fields from Raw.
void DecodeWldHeader(WldHeader& header);

// End of the cell offset table, in 64-bit arithmetic.
inline std::uint64_t OffsetTableEnd(const WldHeader& header) {
    return kOffsetTableStart + std::uint64_t{4} * header.Width * header.Height;
}

inline bool RecordLiesInside(std::uint32_t position, std::uint64_t tableEnd, std::uint64_t fileSize) {
    return position >= tableEnd && std::uint64_t{position} + kLmRecordSize <= fileSize;
}

// A line refusing a world outside the limits (empty when the check passes),
// and what the user can do about it.
struct WorldRefusal {
    std::string Line;
    const char* Advice;
};
WorldRefusal JudgeWorldSpan(const WldHeader& header, std::uint64_t fileSize);
std::string JudgeRecordPlace(std::uint32_t x, std::uint32_t y, std::uint32_t position, std::uint64_t tableEnd,
                             std::uint64_t fileSize);

// One read of 144 bytes at the start; prints the error line on failure.
bool ReadWldHeader(console::Report& report, WorldFile& world);
void ShowWldHeader(const WldHeader& header);
// Refuses, with one line, a world whose table, SmallMap block or records
// do not lie inside the file; notes whether the records lie apart in table
// order, so that their order of moving cannot matter. Reads the table in
// pieces.
bool CheckWorldLimits(console::Report& report, WorldFile& world);
