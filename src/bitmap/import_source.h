// Where an import's picture rows come from, for both movers (the SmallMap
// copy and the LM pass): the file itself for the exported kind, its bytes
// taken as they stand or through its palette's colours, or the values that
// a file of another kind was decoded into. Each image kind's decoder fills
// it in (image_kinds.h); the movers read it through ReadPictureRows alone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "bitmap/import_verdict.h"
#include "platform/platform.h"

// An import file as its kind's decoder gets it: open, its first bytes read.
struct ImportFile {
    platform::FileHandle Handle;
    const std::uint8_t* Head;
    std::uint32_t Got;  // how many of the first bytes there were
    std::uint64_t Size;
    std::string_view Path;
};

enum class RowSource {
    Stored,   // rows in the file, read where they are stored
    Decoded,  // rows decoded into memory, bottom-up, as an export stores them
    Stream,   // rows decoded as the mover takes them, top first
};

// A kind whose rows are decoded as they are taken: its own record, and what
// the source asks of it.
struct RowStream {
    std::unique_ptr<void, void (*)(void*)> State{nullptr, nullptr};
    // Rows in two steps, each false when a row cannot be had (*code is the
    // failed read's, or the short-read code for a file that changed since
    // its check): Take reads the next count rows' RawBytes bytes each (on
    // the read-ahead thread; *got says how many were whole), Finish makes
    // one row's the row's values (on the mover's). Take touches none of
    // what Finish does.
    bool (*Take)(void* state, std::uint8_t* raw, std::uint32_t count, std::uint32_t* got, std::uint32_t* code);
    bool (*Finish)(void* state, const std::uint8_t* raw, std::uint8_t* values, std::uint32_t* code);
    std::uint64_t RawBytes;
    // How the file was taken, once its rows are through.
    std::string (*Note)(const void* state, const ImportLayer& layer);
};

// A stream's rows taken a block ahead on a thread of their own, so that
// taking them (inflating, mostly) runs beside the mover's reads and writes
// of the world. Held apart from the source, as the thread holds on to it.
struct StreamBlock {
    platform::Memory<std::uint8_t> Rows;  // RawBytes a row
    void* State;                          // the stream's
    bool (*Take)(void* state, std::uint8_t* raw, std::uint32_t count, std::uint32_t* got, std::uint32_t* code);
    std::uint64_t RawBytes;
    std::uint32_t Wanted;  // rows asked of the thread
    std::uint32_t Got;     // rows taken whole; fewer than Wanted when one failed
    std::uint32_t Code;    // the failed row's code
};

struct StreamAhead {
    StreamBlock Blocks[2];
    platform::Work Work;
    bool Busy;              // a block being filled on the thread
    int Taking;             // the block the mover takes rows from
    std::uint32_t Taken;    // rows of it taken
    std::uint64_t Started;  // rows asked of the thread so far
};

struct ImportSource {
    platform::FileHandle File;
    RowSource Reading;
    std::uint32_t Width;   // pixels of a row; the rest of Stride is padding
    std::uint64_t Rows;    // the picture's height
    std::uint64_t Stride;  // RowStride of the width
    // Stored:
    std::uint64_t PixelStart;  // bfOffBits
    bool TopDown;              // stored rows run from the top of the picture
    bool ByColour;             // each byte read becomes Values[byte]
    std::uint8_t Values[256];
    // Decoded:
    platform::Memory<std::uint8_t> Decoded;
    // Stream:
    RowStream Stream;
    std::unique_ptr<StreamAhead> Ahead;
    std::uint64_t NextRow;  // the picture row the stream gives next
    // How the file was taken, for standard error once its move is done;
    // a stream's own note replaces it then.
    ImportLayer Layer;
    std::string Note;
};

// Picture rows first to first + count - 1 (0 is the top row) into rows,
// Stride bytes each, in the order the source stores them: the top one first
// when TopDown (as a stream's are), else the bottom one first. Padding that
// the file lacks reads as zero. A stream takes its rows in order only. False
// when the rows are not there (a failed read, or a file that no longer holds
// them): *code is the failed call's, or the system's code for a short read.
bool ReadPictureRows(ImportSource& source, std::uint64_t first, std::uint32_t count, std::uint8_t* rows,
                     std::uint32_t* code);

// The source's memory released and its file closed; Note then holds what
// standard error says of how the file was taken.
void CloseImportSource(ImportSource& source);
