#include "move/record_batches.h"

#include <algorithm>
#include <cstring>

#include "platform/le_bytes.h"

namespace {

// Batch sizes in cells. Records stored in map order are read as a few long
// pieces, and small batches keep them in the processor's cache; scattered
// records are read through windows over much of the file, so each batch
// should hold as many as the memory budget (about 48 MiB) allows.
constexpr std::uint64_t kOrderedBatchCells = std::uint64_t{16} << 10;
constexpr std::uint64_t kScatteredBatchCells = std::uint64_t{512} << 10;
constexpr std::uint64_t kPieceGap = 16;                        // records closer than this share a piece
constexpr std::uint32_t kLongPiece = 64 * 1024;                // moves with its own transfer
constexpr std::uint32_t kWindowSize = 1024 * 1024;             // short pieces move through this
constexpr std::uint64_t kWindowGap = std::uint64_t{16} << 10;  // short pieces this close share a window

enum class Transfer { Read, Write };

// Stable radix sort on the position half of each key, two 16-bit digits.
void SortByPosition(const PlanScratch& scratch, std::uint64_t cells) {
    std::uint64_t* keys = scratch.Keys;
    std::uint64_t* sorted = scratch.Sorted;
    std::uint32_t* counts = scratch.DigitCounts;
    for (int shift : {32, 48}) {
        std::fill(counts, counts + kDigitValues, 0u);
        for (std::uint64_t i = 0; i < cells; ++i) ++counts[(keys[i] >> shift) & 0xFFFF];
        std::uint32_t sum = 0;
        for (std::uint32_t digit = 0; digit < kDigitValues; ++digit) {
            const std::uint32_t here = counts[digit];
            counts[digit] = sum;
            sum += here;
        }
        for (std::uint64_t i = 0; i < cells; ++i) sorted[counts[(keys[i] >> shift) & 0xFFFF]++] = keys[i];
        std::swap(keys, sorted);
    }
    // Two passes: the sorted keys are back in Keys.
}

// The records in file order, lowest map row first: a world stored row by
// row is then in order already.
void SortRecords(const std::uint32_t* positions, std::uint32_t rowCount, std::uint32_t width,
                 const PlanScratch& scratch) {
    const std::uint64_t cells = std::uint64_t{rowCount} * width;
    std::uint64_t* keys = scratch.Keys;
    std::uint64_t next = 0;
    for (std::uint64_t r = rowCount; r-- > 0;)
        for (std::uint64_t cell = r * width; cell < (r + 1) * width; ++cell)
            keys[next++] = std::uint64_t{positions[cell]} << 32 | cell;
    for (std::uint64_t i = 1; i < cells; ++i) {
        if (keys[i - 1] >> 32 > keys[i] >> 32) {
            SortByPosition(scratch, cells);
            return;
        }
    }
}

// Every read of the world must deliver its bytes: one that comes up short
// means the file shrank under the run.
bool TransferFile(const WorldFile& world, Transfer transfer, std::uint64_t position, std::uint8_t* bytes,
                  std::uint32_t count, MoveFailure& failure) {
    std::uint32_t done = 0;
    if (transfer == Transfer::Read)
        return NoteMove(failure, platform::ReadExactlyAt(world.Handle, position, bytes, count), "reading", world.Path);
    return NoteMove(failure, platform::WriteFileAt(world.Handle, position, bytes, count, &done), "writing", world.Path);
}

bool MoveSpan(const WorldFile& world, RecordBatch& batch, const Span& span, Transfer transfer, MoveFailure& failure) {
    const auto length = static_cast<std::uint32_t>(span.End - span.Start);
    if (span.Direct)
        return TransferFile(world, transfer, span.Start, batch.Records.get() + batch.Pieces[span.First].BufferOffset,
                            length, failure);

    std::uint8_t* window = batch.Window.get();
    std::uint64_t covered = 0;
    for (std::size_t i = span.First; i < span.Next; ++i) covered += batch.Pieces[i].Length;
    // A write-back keeps the bytes between the pieces as the file holds them now.
    if ((transfer == Transfer::Read || covered < length) &&
        !TransferFile(world, Transfer::Read, span.Start, window, length, failure))
        return false;
    for (std::size_t i = span.First; i < span.Next; ++i) {
        const RecordPiece& piece = batch.Pieces[i];
        std::uint8_t* inWindow = window + (piece.Start - span.Start);
        std::uint8_t* inRecords = batch.Records.get() + piece.BufferOffset;
        if (transfer == Transfer::Read)
            std::memcpy(inRecords, inWindow, piece.Length);
        else
            std::memcpy(inWindow, inRecords, piece.Length);
    }
    return transfer == Transfer::Read || TransferFile(world, Transfer::Write, span.Start, window, length, failure);
}

bool MoveRecords(const WorldFile& world, RecordBatch& batch, Transfer transfer, MoveFailure& failure) {
    for (std::size_t i = 0; i < batch.PieceCount;) {
        const Span span = NextSpan(batch.Pieces.get(), batch.PieceCount, i);
        if (!MoveSpan(world, batch, span, transfer, failure)) return false;
        i = span.Next;
    }
    return true;
}

// The batch's rows of the offset table, each read through tableRow.
bool ReadPositions(const WorldFile& world, std::uint32_t* tableRow, RecordBatch& batch, MoveFailure& failure) {
    auto* table = reinterpret_cast<std::uint8_t*>(tableRow);
    const std::uint32_t width = batch.Width;
    for (std::uint32_t r = 0; r < batch.RowCount; ++r) {
        const std::uint64_t row = kOffsetTableStart + std::uint64_t{4} * width * (batch.TopRow - r);
        if (!TransferFile(world, Transfer::Read, row, table, 4 * width, failure)) return false;
        std::uint32_t* positions = batch.Positions.get() + std::uint64_t{r} * width;
        for (std::uint32_t x = 0; x < width; ++x) {
            positions[x] = le::Get32(table + std::size_t{4} * x);
            // Rewritten since the world was checked: nothing of it can be trusted.
            if (!RecordLiesInside(positions[x], OffsetTableEnd(world.Header), world.Size)) {
                NoteFailure(failure, platform::ShortReadCode(), "reading", world.Path);
                return false;
            }
        }
    }
    return true;
}

}  // namespace

PiecePlan PlanPieces(const std::uint32_t* positions, std::uint32_t rowCount, std::uint32_t width,
                     const PlanScratch& scratch, RecordPiece* pieces, std::uint32_t* cellOffsets) {
    SortRecords(positions, rowCount, width, scratch);
    const std::uint64_t cells = std::uint64_t{rowCount} * width;
    PiecePlan plan{};
    std::size_t& count = plan.Count;
    bool overlap = false;  // end is 0 before the first record
    std::uint64_t end = 0;
    std::uint32_t offset = 0;
    for (std::uint64_t i = 0; i < cells; ++i) {
        const std::uint64_t key = scratch.Keys[i];
        const std::uint64_t start = key >> 32;
        overlap |= start < end;
        if (count == 0 || start > end + kPieceGap) {
            if (count > 0) offset += pieces[count - 1].Length;
            pieces[count++] = {start, 0, offset};
            end = start;
        }
        end = std::max(end, start + kLmRecordSize);
        RecordPiece& piece = pieces[count - 1];
        piece.Length = static_cast<std::uint32_t>(end - piece.Start);
        cellOffsets[key & 0xFFFFFFFF] = piece.BufferOffset + static_cast<std::uint32_t>(start - piece.Start);
    }
    plan.RecordBytes = count > 0 ? std::uint64_t{offset} + pieces[count - 1].Length : 0;
    plan.Overlapping = overlap;
    return plan;
}

Span NextSpan(const RecordPiece* pieces, std::size_t count, std::size_t first) {
    const RecordPiece& piece = pieces[first];
    Span span{first, first + 1, piece.Start, piece.Start + piece.Length, piece.Length >= kLongPiece};
    if (span.Direct) return span;
    for (; span.Next < count; ++span.Next) {
        const RecordPiece& next = pieces[span.Next];
        if (next.Length >= kLongPiece || next.Start > span.End + kWindowGap ||
            next.Start + next.Length - span.Start > kWindowSize)
            break;
        span.End = next.Start + next.Length;
    }
    return span;
}

RecordBatch AllocateBatch(std::uint32_t width) {
    RecordBatch batch{};
    batch.Width = width;
    // Whole rows: a batch holds at least one, however wide.
    batch.Capacity = std::max<std::uint64_t>(kScatteredBatchCells, width);
    batch.Positions = platform::Allocate<std::uint32_t>(batch.Capacity);
    batch.Keys = platform::Allocate<std::uint64_t>(batch.Capacity);
    batch.SortScratch = platform::Allocate<std::uint64_t>(batch.Capacity);
    batch.DigitCounts = platform::Allocate<std::uint32_t>(kDigitValues);
    batch.Pieces = platform::Allocate<RecordPiece>(batch.Capacity);
    batch.CellOffsets = platform::Allocate<std::uint32_t>(batch.Capacity);
    batch.Window = platform::Allocate<std::uint8_t>(kWindowSize);
    return batch;
}

void StartBatch(RecordBatch& batch, std::uint32_t done, std::uint32_t height, bool topFirst) {
    const std::uint64_t cells = batch.Scattered ? kScatteredBatchCells : kOrderedBatchCells;
    batch.RowCount = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::max<std::uint64_t>(1, cells / batch.Width), height - done));
    batch.TopRow = topFirst ? done + batch.RowCount - 1 : height - done - 1;
}

bool ReadBatch(const WorldFile& world, std::uint32_t* tableRow, RecordBatch& batch, MoveFailure& failure) {
    if (!ReadPositions(world, tableRow, batch, failure)) return false;
    const PlanScratch scratch{batch.Keys.get(), batch.SortScratch.get(), batch.DigitCounts.get()};
    const PiecePlan plan = PlanPieces(batch.Positions.get(), batch.RowCount, batch.Width, scratch, batch.Pieces.get(),
                                      batch.CellOffsets.get());
    batch.PieceCount = plan.Count;
    batch.Overlapping = plan.Overlapping;
    batch.RecordBytes = plan.RecordBytes;
    if (plan.RecordBytes > batch.RecordCapacity) {
        batch.Records = platform::Allocate<std::uint8_t>(plan.RecordBytes);
        batch.RecordCapacity = plan.RecordBytes;
    }
    batch.Scattered = batch.PieceCount > 4 * std::uint64_t{batch.RowCount};
    return MoveRecords(world, batch, Transfer::Read, failure);
}

bool WriteBatch(const WorldFile& world, RecordBatch& batch, MoveFailure& failure) {
    return MoveRecords(world, batch, Transfer::Write, failure);
}

void KeepRecordsAsRead(RecordBatch& batch) {
    if (batch.RecordBytes > batch.BeforeCapacity) {
        batch.Before = platform::Allocate<std::uint8_t>(batch.RecordBytes);
        batch.BeforeCapacity = batch.RecordBytes;
    }
    if (batch.RecordBytes > 0) std::memcpy(batch.Before.get(), batch.Records.get(), batch.RecordBytes);
}

bool RecordsChanged(const RecordBatch& batch) {
    return batch.RecordBytes > 0 && std::memcmp(batch.Before.get(), batch.Records.get(), batch.RecordBytes) != 0;
}
