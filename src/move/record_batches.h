// The cell records of a batch of whole map rows, moved between the world file
// and memory in few large transfers. The records are taken in file order:
// records that touch or overlap share one piece of memory, long pieces move
// with one transfer each, and short pieces lying close together move through
// a window, read whole (and for the write-back patched and written whole).
// Because overlapping and repeated records share their bytes, every cell
// sees the changes of the cells before it, exactly as if each record were
// read and written on its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "move/move_failure.h"
#include "platform/platform.h"
#include "world/world.h"

// One run of file bytes holding one or more records, and its place in memory.
struct RecordPiece {
    std::uint64_t Start;
    std::uint32_t Length;
    std::uint32_t BufferOffset;
};

// Pieces [First, Next) that move together, [Start, End) in the file: one
// long piece on its own, or short pieces close enough to share the window.
struct Span {
    std::size_t First;
    std::size_t Next;
    std::uint64_t Start;
    std::uint64_t End;
    bool Direct;
};

// The sort's working memory, as many cells as the positions.
struct PlanScratch {
    std::uint64_t* Keys;  // position << 32 | cell, in file order afterwards
    std::uint64_t* Sorted;
    std::uint32_t* DigitCounts;  // kDigitValues
};
inline constexpr std::uint32_t kDigitValues = 65536;

struct PiecePlan {
    std::size_t Count;          // pieces
    std::uint64_t RecordBytes;  // the memory they need
    bool Overlapping;           // two of the cells share record bytes
};

// Where the records of rowCount rows of width cells (top row first) lie in
// memory: taken in file order, records that touch or lie within a few bytes
// of each other share a piece. Fills pieces (at most one per cell) and each
// cell's offset in the record memory.
PiecePlan PlanPieces(const std::uint32_t* positions, std::uint32_t rowCount, std::uint32_t width,
                     const PlanScratch& scratch, RecordPiece* pieces, std::uint32_t* cellOffsets);

// The span that begins at piece first: a long piece moves alone, short
// pieces close together move through one window.
Span NextSpan(const RecordPiece* pieces, std::size_t count, std::size_t first);

struct RecordBatch {
    std::uint32_t Width;
    std::uint64_t Capacity;  // cells the per-cell buffers hold
    std::uint32_t TopRow;    // the batch's highest map row (r = 0); its other rows count down from it
    std::uint32_t RowCount;
    bool Scattered;    // the last batch's records lay far apart
    bool Overlapping;  // two cells of the batch share record bytes
    std::size_t PieceCount;
    std::uint64_t RecordBytes;  // the batch's records in memory
    std::uint64_t RecordCapacity;
    platform::Memory<std::uint32_t> Positions;  // per cell: the table entry
    platform::Memory<std::uint64_t> Keys;       // position << 32 | cell, in file order
    platform::Memory<std::uint64_t> SortScratch;
    platform::Memory<std::uint32_t> DigitCounts;
    platform::Memory<RecordPiece> Pieces;
    platform::Memory<std::uint32_t> CellOffsets;  // each cell's record in Records
    platform::Memory<std::uint8_t> Records;
    platform::Memory<std::uint8_t> Window;
    platform::Memory<std::uint8_t> Before;  // the records as read, where cells share bytes
    std::uint64_t BeforeCapacity;
};

// Buffers for the batches of a world this wide.
RecordBatch AllocateBatch(std::uint32_t width);

// The next batch of a pass that has moved done of height rows, as many rows
// as suit the way the last batch's records lay: the next ones up from the
// bottom map row, or down from the top one when the pass goes top first.
void StartBatch(RecordBatch& batch, std::uint32_t done, std::uint32_t height, bool topFirst);

// The batch's table rows, read through tableRow (one row of the offset
// table), then its records. A record outside the limits the world was
// checked against at load, or a read that comes up short, is a failed read:
// the world changed under the run.
bool ReadBatch(const WorldFile& world, std::uint32_t* tableRow, RecordBatch& batch, MoveFailure& failure);

// Keeps the batch's records as read, to tell afterwards whether anything
// changed; for batches whose cells share record bytes, where counting the
// cells that changed cannot tell.
void KeepRecordsAsRead(RecordBatch& batch);
bool RecordsChanged(const RecordBatch& batch);
// Every record of the batch back to the file.
bool WriteBatch(const WorldFile& world, RecordBatch& batch, MoveFailure& failure);

// Row r of the batch (r = 0 is TopRow): the offsets of its cells' records.
inline const std::uint32_t* RowRecordOffsets(const RecordBatch& batch, std::uint32_t r) {
    return batch.CellOffsets.get() + std::uint64_t{r} * batch.Width;
}
