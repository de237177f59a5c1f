// The LM pass: every cell record is read once, staged exports take their
// bytes from it before staged imports put theirs in, and the record goes back
// whole when anything was imported. Rows run bottom map row first, x rising,
// as the bitmaps store them.
//
// Records are moved in batches of whole map rows. A batch's records are read
// at once, sorted by position: records that touch or overlap share one piece
// of memory, long pieces move with one read and one write each, and short
// pieces lying close together move through a window read (and, for the
// write-back, re-read, patched and written) in one go. Because overlapping and
// repeated records share their bytes, every cell sees the changes of the
// cells before it, exactly as if each record were read and written on its
// own; the batch goes back to the file before the next batch is read. Bitmap
// rows move a whole row (LargeMap: a band of five image rows) at a time.
#include <algorithm>
#include <cstring>
#include <vector>

#include "driver/state.h"
#include "platform/le_bytes.h"
#include "world/bitmap_layout.h"
#include "world/move_failure.h"
#include "world/world.h"

namespace {

// Batch sizes in cells. Records stored in map order are read as a few long
// pieces, and small batches keep them in the processor's cache; scattered
// records are read through windows over much of the file, so each batch
// should hold as many as the memory budget (about 48 MiB) allows.
constexpr std::uint64_t kOrderedBatchCells = 16 * 1024;
constexpr std::uint64_t kScatteredBatchCells = 512 * 1024;
constexpr std::uint64_t kPieceGap = 16;             // records closer than this share a piece
constexpr std::uint32_t kLongPiece = 64 * 1024;     // moves with its own read and write
constexpr std::uint32_t kWindowSize = 1024 * 1024;  // short pieces move through this
constexpr std::uint64_t kWindowGap = 16 * 1024;     // short pieces this close share a window

struct Piece {
    std::uint64_t Start;
    std::uint32_t Length;
    std::uint32_t BufferOffset;
};

// The records of a batch of map rows, y from TopRow down.
struct Batch {
    std::uint32_t TopRow;
    std::uint32_t RowCount;
    std::vector<std::uint32_t> Position;    // per cell: (row in batch) * Width + x
    std::vector<std::uint64_t> Keys;        // position << 32 | cell, sorted by position
    std::vector<std::uint64_t> Scratch;
    std::vector<std::uint32_t> Counts;
    std::vector<Piece> Pieces;
    std::vector<std::uint32_t> CellOffset;  // each cell's record in Buffer
    std::vector<std::uint8_t> Buffer;
    std::vector<std::uint8_t> Window;
};


// Pixel rows of the staged bitmaps for the map row in hand.
struct RowPixels {
    std::vector<std::uint8_t> OneByte[2];  // LandType, LandHeight: Stride bytes
    std::uint32_t OneByteGot[2];           // imports: bytes the file still held
    std::vector<std::uint8_t> Band;        // LargeMap: five stored rows
    std::uint32_t BandGot;
};

constexpr int kOneByteLayers[2] = {kLandType, kLandHeight};
constexpr int kOneByteOffsets[2] = {kLandTypeByte, kLandHeightByte};

// Stable radix sort on the position half of each key, two 16-bit digits.
void SortByPosition(Batch& batch) {
    std::vector<std::uint64_t>& keys = batch.Keys;
    batch.Scratch.resize(keys.size());
    batch.Counts.resize(65536);
    for (int shift : {32, 48}) {
        std::fill(batch.Counts.begin(), batch.Counts.end(), 0u);
        for (std::uint64_t key : keys) ++batch.Counts[(key >> shift) & 0xFFFF];
        std::uint32_t sum = 0;
        for (std::uint32_t& count : batch.Counts) {
            const std::uint32_t here = count;
            count = sum;
            sum += here;
        }
        for (std::uint64_t key : keys) batch.Scratch[batch.Counts[(key >> shift) & 0xFFFF]++] = key;
        keys.swap(batch.Scratch);
    }
}

void PlanPieces(Batch& batch) {
    const std::size_t cells = batch.Position.size();
    const std::size_t width = cells / batch.RowCount;
    batch.Keys.clear();
    // Lowest map row first: a world stored row by row is then sorted already.
    for (std::size_t r = batch.RowCount; r-- > 0;)
        for (std::size_t cell = r * width; cell < (r + 1) * width; ++cell)
            batch.Keys.push_back(std::uint64_t{batch.Position[cell]} << 32 | cell);
    bool sorted = true;
    for (std::size_t i = 1; i < cells && sorted; ++i) sorted = batch.Keys[i - 1] >> 32 <= batch.Keys[i] >> 32;
    if (!sorted) SortByPosition(batch);

    batch.Pieces.clear();
    batch.CellOffset.resize(cells);
    std::uint64_t end = 0;
    std::uint32_t offset = 0;
    for (std::uint64_t key : batch.Keys) {
        const std::uint64_t start = key >> 32;
        if (batch.Pieces.empty() || start > end + kPieceGap) {
            if (!batch.Pieces.empty()) offset += batch.Pieces.back().Length;
            batch.Pieces.push_back({start, 0, offset});
            end = start;
        }
        end = std::max(end, start + kLmRecordSize);
        Piece& piece = batch.Pieces.back();
        piece.Length = static_cast<std::uint32_t>(end - piece.Start);
        batch.CellOffset[key & 0xFFFFFFFF] = piece.BufferOffset + static_cast<std::uint32_t>(start - piece.Start);
    }
    if (!batch.Pieces.empty()) offset += batch.Pieces.back().Length;
    batch.Buffer.resize(offset);
}

// Short pieces from first on that share one window; returns one past the last.
std::size_t WindowEnd(const Batch& batch, std::size_t first, std::uint64_t* windowEnd) {
    const std::uint64_t start = batch.Pieces[first].Start;
    std::uint64_t end = start + batch.Pieces[first].Length;
    std::size_t next = first + 1;
    for (; next < batch.Pieces.size(); ++next) {
        const Piece& piece = batch.Pieces[next];
        if (piece.Length >= kLongPiece || piece.Start > end + kWindowGap ||
            piece.Start + piece.Length - start > kWindowSize)
            break;
        end = piece.Start + piece.Length;
    }
    *windowEnd = end;
    return next;
}

bool ReadBatchRecords(AppState& state, Batch& batch, MoveFailure& failure) {
    const std::uint32_t width = state.Header.Width;
    auto* table = reinterpret_cast<std::uint8_t*>(state.OffsetRow);
    batch.Position.resize(std::uint64_t{batch.RowCount} * width);
    std::uint32_t got = 0;
    for (std::uint32_t r = 0; r < batch.RowCount; ++r) {
        const std::uint64_t tableRow = kOffsetTableStart + std::uint64_t{4} * width * (batch.TopRow - r);
        if (!NoteMove(failure, platform::ReadFileAt(state.World, tableRow, table, 4 * width, &got), "reading",
                      state.WorldPath))
            return false;
        for (std::uint32_t x = 0; x < width; ++x) batch.Position[std::uint64_t{r} * width + x] = le::Get32(table + 4 * x);
    }
    PlanPieces(batch);

    for (std::size_t i = 0; i < batch.Pieces.size();) {
        const Piece& piece = batch.Pieces[i];
        if (piece.Length >= kLongPiece) {
            if (!NoteMove(failure, platform::ReadFileAt(state.World, piece.Start, batch.Buffer.data() + piece.BufferOffset,
                                                        piece.Length, &got),
                          "reading", state.WorldPath))
                return false;
            ++i;
            continue;
        }
        std::uint64_t end = 0;
        const std::size_t next = WindowEnd(batch, i, &end);
        const std::uint64_t start = piece.Start;
        if (!NoteMove(failure,
                      platform::ReadFileAt(state.World, start, batch.Window.data(), static_cast<std::uint32_t>(end - start), &got),
                      "reading", state.WorldPath))
            return false;
        for (; i < next; ++i) {
            const Piece& p = batch.Pieces[i];
            std::memcpy(batch.Buffer.data() + p.BufferOffset, batch.Window.data() + (p.Start - start), p.Length);
        }
    }
    return true;
}

bool WriteBatchRecords(AppState& state, Batch& batch, MoveFailure& failure) {
    std::uint32_t done = 0;
    for (std::size_t i = 0; i < batch.Pieces.size();) {
        const Piece& piece = batch.Pieces[i];
        if (piece.Length >= kLongPiece) {
            if (!NoteMove(failure, platform::WriteFileAt(state.World, piece.Start, batch.Buffer.data() + piece.BufferOffset,
                                                         piece.Length, &done),
                          "writing", state.WorldPath))
                return false;
            ++i;
            continue;
        }
        std::uint64_t end = 0;
        const std::size_t next = WindowEnd(batch, i, &end);
        const std::uint64_t start = piece.Start;
        const auto length = static_cast<std::uint32_t>(end - start);
        std::uint64_t covered = 0;
        for (std::size_t j = i; j < next; ++j) covered += batch.Pieces[j].Length;
        // The bytes between pieces go back as the file holds them now.
        if (covered < length &&
            !NoteMove(failure, platform::ReadFileAt(state.World, start, batch.Window.data(), length, &done), "reading",
                      state.WorldPath))
            return false;
        for (; i < next; ++i) {
            const Piece& p = batch.Pieces[i];
            std::memcpy(batch.Window.data() + (p.Start - start), batch.Buffer.data() + p.BufferOffset, p.Length);
        }
        if (!NoteMove(failure, platform::WriteFileAt(state.World, start, batch.Window.data(), length, &done), "writing",
                      state.WorldPath))
            return false;
    }
    return true;
}

// Import rows are read whole; a file that ends early delivers fewer bytes.
bool ReadImportRows(AppState& state, const PassGeometry& g, std::uint32_t y, RowPixels& px, MoveFailure& failure) {
    for (int i = 0; i < 2; ++i) {
        LayerSlot& slot = state.Layers[kOneByteLayers[i]];
        if (!slot.ImportStaged) continue;
        if (!NoteMove(failure,
                      platform::ReadFileAt(slot.ImportHandle, OneByteRowPosition(g, slot.PixelStart, y),
                                           px.OneByte[i].data(), g.Width, &px.OneByteGot[i]),
                      "reading", slot.Path))
            return false;
    }
    LayerSlot& large = state.Layers[kLargeMap];
    return !large.ImportStaged ||
           NoteMove(failure,
                    platform::ReadFileAt(large.ImportHandle, BandPosition(g, large.PixelStart, y), px.Band.data(),
                                         static_cast<std::uint32_t>(px.Band.size()), &px.BandGot),
                    "reading", large.Path);
}

bool WriteExportRows(AppState& state, const PassGeometry& g, std::uint32_t y, const RowPixels& px,
                     MoveFailure& failure) {
    std::uint32_t done = 0;
    LayerSlot& large = state.Layers[kLargeMap];
    if (large.ExportStaged &&
        !NoteMove(failure,
                  platform::WriteFileAt(large.ExportHandle, BandPosition(g, kBmpHeaderSize, y), px.Band.data(),
                                        static_cast<std::uint32_t>(px.Band.size()), &done),
                  "writing", large.Path))
        return false;
    for (int i = 0; i < 2; ++i) {
        LayerSlot& slot = state.Layers[kOneByteLayers[i]];
        if (slot.ExportStaged &&
            !NoteMove(failure,
                      platform::WriteFileAt(slot.ExportHandle, OneByteRowPosition(g, kBmpHeaderSize, y),
                                            px.OneByte[i].data(), static_cast<std::uint32_t>(g.Stride), &done),
                      "writing", slot.Path))
            return false;
    }
    return true;
}

// Exports of one map row. Taking one layer at a time over the row is the same
// as taking every layer cell by cell when nothing is imported.
void ExportRowCells(const AppState& state, const PassGeometry& g, const std::uint8_t* buffer,
                    const std::uint32_t* cellOffset, RowPixels& px) {
    if (state.Layers[kLargeMap].ExportStaged) {
        std::uint8_t* blockRows[kLargeMapScale];
        for (std::uint32_t k = 0; k < kLargeMapScale; ++k) blockRows[k] = px.Band.data() + BlockRowInBand(g, 0, k);
        for (std::uint32_t x = 0; x < g.Width; ++x) {
            const std::uint8_t* record = buffer + cellOffset[x] + kLargeMapByte;
            for (std::uint32_t k = 0; k < kLargeMapScale; ++k) std::memcpy(blockRows[k] + 5 * std::uint64_t{x}, record + 5 * k, 5);
        }
    }
    for (int i = 0; i < 2; ++i) {
        if (!state.Layers[kOneByteLayers[i]].ExportStaged) continue;
        std::uint8_t* row = px.OneByte[i].data();
        const int byte = kOneByteOffsets[i];
        for (std::uint32_t x = 0; x < g.Width; ++x) row[x] = buffer[cellOffset[x] + byte];
    }
}

// Imports into one cell's record.
inline void ImportCell(const PassGeometry& g, const bool oneIn[2], bool largeIn, bool typeIn, const RowPixels& px,
                       std::uint32_t x, std::uint8_t* record) {
    if (largeIn) {
        for (std::uint32_t k = 0; k < kLargeMapScale; ++k) {
            const std::uint64_t at = BlockRowInBand(g, x, k);
            if (at + 5 <= px.BandGot) {
                std::memcpy(record + kLargeMapByte + 5 * k, px.Band.data() + at, 5);
            } else if (at < px.BandGot) {
                std::memcpy(record + kLargeMapByte + 5 * k, px.Band.data() + at, px.BandGot - at);
            }
        }
    }
    for (int i = 0; i < 2; ++i)
        if (oneIn[i] && x < px.OneByteGot[i]) record[kOneByteOffsets[i]] = px.OneByte[i][x];
    if (typeIn && record[kLandTypeByte] >= kLandTypeLimit) record[kLandTypeByte] = 0;
}

// The cells of one map row, x rising: each cell's exports, then its imports.
void MoveRowCells(const AppState& state, const PassGeometry& g, bool anyImport, bool anyExport, Batch& batch,
                  std::uint32_t r, RowPixels& px) {
    const LayerSlot* layers = state.Layers;
    std::uint8_t* buffer = batch.Buffer.data();
    const std::uint32_t* cellOffset = batch.CellOffset.data() + std::uint64_t{r} * g.Width;
    const bool largeIn = layers[kLargeMap].ImportStaged;
    const bool typeIn = layers[kLandType].ImportStaged;
    const bool oneIn[2] = {layers[kLandType].ImportStaged, layers[kLandHeight].ImportStaged};
    if (!anyImport) {
        ExportRowCells(state, g, buffer, cellOffset, px);
        return;
    }
    if (!anyExport) {
        for (std::uint32_t x = 0; x < g.Width; ++x) ImportCell(g, oneIn, largeIn, typeIn, px, x, buffer + cellOffset[x]);
        return;
    }
    // Both ways: a cell may share its record with an earlier cell of the row,
    // so its exports must see that cell's imports.
    for (std::uint32_t x = 0; x < g.Width; ++x) {
        std::uint8_t* record = buffer + cellOffset[x];
        if (layers[kLargeMap].ExportStaged) {
            for (std::uint32_t k = 0; k < kLargeMapScale; ++k)
                std::memcpy(px.Band.data() + BlockRowInBand(g, x, k), record + kLargeMapByte + 5 * k, 5);
        }
        for (int i = 0; i < 2; ++i)
            if (layers[kOneByteLayers[i]].ExportStaged) px.OneByte[i][x] = record[kOneByteOffsets[i]];
        ImportCell(g, oneIn, largeIn, typeIn, px, x, record);
    }
}

void CloseStagedFiles(AppState& state, MoveFailure& failure) {
    for (LayerSlot& slot : state.Layers) {
        // A failed close of an export may lose written data: it is a failed write.
        if (slot.ExportStaged) NoteMove(failure, platform::CloseFile(slot.ExportHandle), "writing", slot.Path);
        if (slot.ImportStaged) platform::CloseFile(slot.ImportHandle);
    }
}

}  // namespace

void RunLmPass(AppState& state) {
    bool anyImport = false;
    bool anyExport = false;
    for (const LayerSlot& slot : state.Layers) {
        anyImport = anyImport || slot.ImportStaged;
        anyExport = anyExport || slot.ExportStaged;
    }
    if (!anyImport && !anyExport) return;
    // An interrupt waits until every record is back and the line is complete.
    platform::HoldInterrupts();
    console::Print("Reading and writing LM data...");

    const PassGeometry g = GeometryOf(state.Header.Width, state.Header.Height);

    // Pad bytes are never written by a cell, so they stay zero in every row.
    RowPixels px{};
    for (auto& row : px.OneByte) row.assign(g.Stride, 0);
    const LayerSlot& large = state.Layers[kLargeMap];
    if (large.ExportStaged || large.ImportStaged) px.Band.assign(g.LargeStride * kLargeMapScale, 0);
    Batch batch{};
    batch.Window.resize(kWindowSize);
    bool scattered = false;

    MoveFailure failure{};
    for (std::uint32_t top = g.Height; top > 0 && !failure.Failed;) {
        const std::uint64_t cells = scattered ? kScatteredBatchCells : kOrderedBatchCells;
        batch.TopRow = top - 1;
        batch.RowCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::max<std::uint64_t>(1, cells / g.Width), top));
        top -= batch.RowCount;
        if (!ReadBatchRecords(state, batch, failure)) break;
        scattered = batch.Pieces.size() > 4 * std::uint64_t{batch.RowCount};
        for (std::uint32_t r = 0; r < batch.RowCount; ++r) {
            const std::uint32_t y = batch.TopRow - r;
            if (!ReadImportRows(state, g, y, px, failure)) break;
            MoveRowCells(state, g, anyImport, anyExport, batch, r, px);
            if (!WriteExportRows(state, g, y, px, failure)) break;
        }
        // What was moved in goes back even after a failure: nothing is rolled back.
        if (anyImport) WriteBatchRecords(state, batch, failure);
    }
    CloseStagedFiles(state, failure);
    FinishMoveLine(failure);
    platform::ReleaseInterrupts();
}
