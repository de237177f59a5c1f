// The LM pass: every cell record is read once, staged exports take their
// bytes from it before staged imports put theirs in, and the record goes back
// whole when anything was imported. Rows run bottom map row first, x rising,
// as the bitmaps store them. Records move in batches of whole map rows
// (record_batches.h); bitmap rows move a whole row (LargeMap: a band of five
// image rows) at a time.
#include <cstring>

#include "bitmap/import_report.h"
#include "bitmap/move_failure.h"
#include "bitmap/world_backup.h"
#include "world/bitmap_layout.h"
#include "world/layers.h"
#include "world/record_batches.h"

namespace {

// A staged layer's pixels for the map row in hand: LandType and LandHeight
// one stored row, LargeMap a band of five. Pad bytes are never written by a
// cell, so they stay zero in every exported row.
struct LayerRow {
    platform::Memory<std::uint8_t> Pixels;
    std::uint64_t Length;
    std::uint32_t Got;  // imports: the bytes the file still held
};

// Which ways the pass moves data; each way has a loop of its own.
struct PassKind {
    bool AnyImport;
    bool AnyExport;
};

// Exports write LargeMap's band before the one-byte rows, as the cells would.
constexpr LayerIndex kExportOrder[] = {kLargeMap, kLandType, kLandHeight};

bool IsStaged(const LayerSlot& slot) { return slot.ExportStaged || slot.ImportStaged; }

void AllocateRows(const PassGeometry& geometry, const LayerSlot (&layers)[kLayerCount], LayerRow (&rows)[kLayerCount]) {
    for (int layer = 0; layer < kLayerCount; ++layer) {
        if (!IsStaged(layers[layer])) continue;
        rows[layer].Length = layer == kLargeMap ? BandLength(geometry) : geometry.Stride;
        rows[layer].Pixels = platform::Allocate<std::uint8_t>(rows[layer].Length);
    }
}

std::uint64_t RowPosition(const PassGeometry& geometry, int layer, std::uint64_t pixelStart, std::uint32_t y) {
    return layer == kLargeMap ? BandPosition(geometry, pixelStart, y) : OneByteRowPosition(geometry, pixelStart, y);
}

// Where an import stores map row y: its LargeMap band begins with image row
// 5y+4 when stored bottom-up, 5y when top-down.
std::uint64_t ImportRowPosition(const ImportSource& source, int layer, std::uint32_t y) {
    if (layer != kLargeMap) return PictureRowAt(source, y);
    const std::uint64_t first = std::uint64_t{kLargeMapScale} * y;
    return PictureRowAt(source, source.TopDown ? first : first + kLargeMapScale - 1);
}

// Import rows are read whole; a file that ends early delivers fewer bytes.
bool ReadImportRows(const PassGeometry& geometry, const LayerSlot (&layers)[kLayerCount], std::uint32_t y,
                    LayerRow (&rows)[kLayerCount], MoveFailure& failure) {
    for (int layer = 0; layer < kLayerCount; ++layer) {
        const LayerSlot& slot = layers[layer];
        if (!slot.ImportStaged) continue;
        LayerRow& row = rows[layer];
        const auto count = static_cast<std::uint32_t>(layer == kLargeMap ? row.Length : geometry.Width);
        if (!NoteMove(
                failure,
                ReadImportAt(slot.Import, ImportRowPosition(slot.Import, layer, y), row.Pixels.get(), count, &row.Got),
                "reading", slot.Path))
            return false;
    }
    return true;
}

bool WriteExportRows(const PassGeometry& geometry, const LayerSlot (&layers)[kLayerCount], std::uint32_t y,
                     const LayerRow (&rows)[kLayerCount], MoveFailure& failure) {
    for (LayerIndex layer : kExportOrder) {
        const LayerSlot& slot = layers[layer];
        if (!slot.ExportStaged) continue;
        std::uint32_t done = 0;
        if (!NoteMove(
                failure,
                platform::WriteFileAt(slot.ExportHandle, RowPosition(geometry, layer, kBmpHeaderSize, y),
                                      rows[layer].Pixels.get(), static_cast<std::uint32_t>(rows[layer].Length), &done),
                "writing", slot.Path))
            return false;
    }
    return true;
}

// Exports of a whole map row when nothing is imported: one layer at a time
// over the row gives the same bytes as every layer cell by cell.
void ExportRowCells(const PassGeometry& geometry, const LayerSlot (&layers)[kLayerCount], const std::uint8_t* records,
                    const std::uint32_t* recordOffsets, LayerRow (&rows)[kLayerCount]) {
    if (layers[kLargeMap].ExportStaged) {
        std::uint8_t* blockRows[kLargeMapScale];
        for (std::uint32_t k = 0; k < kLargeMapScale; ++k)
            blockRows[k] = rows[kLargeMap].Pixels.get() + BlockRowInBand(geometry, 0, k);
        for (std::uint32_t x = 0; x < geometry.Width; ++x) {
            const std::uint8_t* block = records + recordOffsets[x] + kLargeMapByte;
            for (std::uint32_t k = 0; k < kLargeMapScale; ++k)
                std::memcpy(blockRows[k] + std::uint64_t{kLargeMapScale} * x, block + kLargeMapScale * k,
                            kLargeMapScale);
        }
    }
    for (const OneByteLayer& layer : kOneByteLayers) {
        if (!layers[layer.Layer].ExportStaged) continue;
        std::uint8_t* pixels = rows[layer.Layer].Pixels.get();
        for (std::uint32_t x = 0; x < geometry.Width; ++x) pixels[x] = records[recordOffsets[x] + layer.RecordByte];
    }
}

// One layer's work for the cells of a map row: where its exported pixels go
// and where its imported ones come from; null where it does neither.
struct CellWork {
    std::uint8_t* ExportPixels;
    const std::uint8_t* ImportPixels;
    std::uint64_t ImportGot;
    std::uint64_t BlockRowAt[kLargeMapScale];  // LargeMap import: block row k of cell 0 in the band as read
};

// What the imports changed, for the lines after the pass.
struct ImportCounts {
    std::uint64_t Changed[kLayerCount];  // cells whose bytes differ from what their record held
    std::uint64_t Zeroed;                // LandType values of 3 or more set to 0
};

// Taken out of the slots once a row: a write to a record may alias anything,
// so slots read cell by cell would be read again after every byte written.
[[gnu::always_inline]] inline void PlanRowWork(const PassGeometry& geometry, const LayerSlot (&layers)[kLayerCount],
                                               LayerRow (&rows)[kLayerCount], CellWork (&work)[kLayerCount]) {
    for (int layer = 0; layer < kLayerCount; ++layer) {
        work[layer].ExportPixels = layers[layer].ExportStaged ? rows[layer].Pixels.get() : nullptr;
        work[layer].ImportPixels = layers[layer].ImportStaged ? rows[layer].Pixels.get() : nullptr;
        work[layer].ImportGot = rows[layer].Got;
    }
    // A bottom-up band holds block row 4 first, a top-down one block row 0.
    const bool topDown = layers[kLargeMap].Import.TopDown;
    for (std::uint32_t k = 0; k < kLargeMapScale; ++k)
        work[kLargeMap].BlockRowAt[k] = geometry.LargeStride * (topDown ? k : kLargeMapScale - 1 - k);
}

// Exports of one cell, from its record as it stands.
inline void ExportCell(const PassGeometry& geometry, const CellWork (&work)[kLayerCount], const std::uint8_t* record,
                       std::uint32_t x) {
    if (std::uint8_t* band = work[kLargeMap].ExportPixels) {
        for (std::uint32_t k = 0; k < kLargeMapScale; ++k)
            std::memcpy(band + BlockRowInBand(geometry, x, k), record + kLargeMapByte + kLargeMapScale * k,
                        kLargeMapScale);
    }
    for (const OneByteLayer& layer : kOneByteLayers)
        if (std::uint8_t* pixels = work[layer.Layer].ExportPixels) pixels[x] = record[layer.RecordByte];
}

// One block row of a LargeMap cell from its band; nonzero when it changed.
[[gnu::always_inline]] inline std::uint32_t MoveBlockRow(std::uint8_t* to, const std::uint8_t* from) {
    std::uint32_t was = 0, now = 0;
    std::memcpy(&was, to, 4);
    std::memcpy(&now, from, 4);
    const std::uint32_t differ = (was ^ now) | static_cast<std::uint32_t>(to[4] ^ from[4]);
    std::memcpy(to, from, kLargeMapScale);
    return differ;
}

// A LargeMap block whose band the file cut short: only the bytes it held.
// Returns whether the block changed.
bool ImportPartBlock(const std::uint8_t* band, std::uint64_t got, const std::uint64_t* rowAt, std::uint64_t column,
                     std::uint8_t* block) {
    bool changed = false;
    for (std::uint32_t k = 0; k < kLargeMapScale; ++k) {
        const std::uint64_t at = rowAt[k] + column;
        if (at >= got) continue;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kLargeMapScale, got - at));
        changed |= std::memcmp(block + kLargeMapScale * k, band + at, n) != 0;
        std::memcpy(block + kLargeMapScale * k, band + at, n);
    }
    return changed;
}

// Imports into one cell's record: only the bytes the bitmap still held.
// Inlined into each of its loops, as the cell work is most of the pass.
[[gnu::always_inline]] inline void ImportCell(const PassGeometry& geometry, const CellWork (&work)[kLayerCount],
                                              std::uint32_t x, std::uint8_t* record, ImportCounts& counts) {
    if (const std::uint8_t* band = work[kLargeMap].ImportPixels) {
        const std::uint64_t got = work[kLargeMap].ImportGot;
        const std::uint64_t* rowAt = work[kLargeMap].BlockRowAt;
        const std::uint64_t column = std::uint64_t{kLargeMapScale} * x;
        std::uint8_t* block = record + kLargeMapByte;
        bool changed = false;
        // The last block row read lies furthest into the band: when it arrived, all did.
        if (BlockRowInBand(geometry, x, 0) + kLargeMapScale <= got) {
            // Fixed sizes and no branches; every source found before the first store.
            const std::uint8_t* at = band + column;
            const std::uint8_t* from[kLargeMapScale] = {at + rowAt[0], at + rowAt[1], at + rowAt[2], at + rowAt[3],
                                                        at + rowAt[4]};
            changed =
                (MoveBlockRow(block, from[0]) | MoveBlockRow(block + 5, from[1]) | MoveBlockRow(block + 10, from[2]) |
                 MoveBlockRow(block + 15, from[3]) | MoveBlockRow(block + 20, from[4])) != 0;
        } else {
            changed = ImportPartBlock(band, got, rowAt, column, block);
        }
        counts.Changed[kLargeMap] += changed;
    }
    for (const OneByteLayer& layer : kOneByteLayers) {
        const CellWork& one = work[layer.Layer];
        if (one.ImportPixels == nullptr) continue;
        std::uint8_t value = x < one.ImportGot ? one.ImportPixels[x] : record[layer.RecordByte];
        if (layer.Layer == kLandType && value >= kLandTypeLimit) {
            value = 0;
            ++counts.Zeroed;
        }
        counts.Changed[layer.Layer] += value != record[layer.RecordByte];
        record[layer.RecordByte] = value;
    }
}

// The cells of row r of the batch, x rising: each cell's exports, then its
// imports. A cell may share its record with an earlier cell of the row, so
// its exports see that cell's imports.
void MoveRowCells(const PassGeometry& geometry, const LayerSlot (&layers)[kLayerCount], const PassKind& kind,
                  RecordBatch& batch, std::uint32_t r, LayerRow (&rows)[kLayerCount], ImportCounts& counts) {
    std::uint8_t* records = batch.Records.get();
    const std::uint32_t* recordOffsets = RowRecordOffsets(batch, r);
    if (!kind.AnyImport) {
        ExportRowCells(geometry, layers, records, recordOffsets, rows);
        return;
    }
    CellWork work[kLayerCount];
    PlanRowWork(geometry, layers, rows, work);
    // Counted here, where no record write can reach them, then added up.
    ImportCounts row{};
    if (!kind.AnyExport) {
        for (std::uint32_t x = 0; x < geometry.Width; ++x)
            ImportCell(geometry, work, x, records + recordOffsets[x], row);
    } else {
        for (std::uint32_t x = 0; x < geometry.Width; ++x) {
            std::uint8_t* record = records + recordOffsets[x];
            ExportCell(geometry, work, record, x);
            ImportCell(geometry, work, x, record, row);
        }
    }
    for (int layer = 0; layer < kLayerCount; ++layer) counts.Changed[layer] += row.Changed[layer];
    counts.Zeroed += row.Zeroed;
}

// Every row of the batch: its import rows in, its cells, its export rows out.
void MoveBatchRows(const PassGeometry& geometry, const LayerSlot (&layers)[kLayerCount], const PassKind& kind,
                   RecordBatch& batch, LayerRow (&rows)[kLayerCount], MoveFailure& failure, ImportCounts& counts) {
    for (std::uint32_t r = 0; r < batch.RowCount; ++r) {
        const std::uint32_t y = batch.TopRow - r;
        if (!ReadImportRows(geometry, layers, y, rows, failure)) return;
        MoveRowCells(geometry, layers, kind, batch, r, rows, counts);
        if (!WriteExportRows(geometry, layers, y, rows, failure)) return;
    }
}

void CloseStagedFiles(LayerSlot (&layers)[kLayerCount], MoveFailure& failure) {
    for (LayerSlot& slot : layers) {
        // A failed close of an export may lose written data: it is a failed write.
        if (slot.ExportStaged) NoteMove(failure, platform::CloseFile(slot.ExportHandle), "writing", slot.Path);
        if (slot.ImportStaged) {
            platform::CloseFile(slot.ImportHandle);
            slot.Import.Decoded.reset();
        }
    }
}

// After a complete import: what it changed in each imported layer.
void SayImportCounts(const PassGeometry& geometry, const LayerSlot (&layers)[kLayerCount], const ImportCounts& counts) {
    const std::uint64_t cells = std::uint64_t{geometry.Width} * geometry.Height;
    for (int layer = 0; layer < kLayerCount; ++layer) {
        if (!layers[layer].ImportStaged) continue;
        SayChangedCells(kLayerNames[layer], counts.Changed[layer], cells);
        if (layer == kLandType && counts.Zeroed > 0)
            platform::SayLine("LandType: " + Grouped(counts.Zeroed) +
                              " cells held a value of 3 or more and were set to 0 (only 0, 1 and 2 are kept)");
    }
}

}  // namespace

void RunLmPass(WorldFile& world, LayerSlot (&layers)[kLayerCount]) {
    PassKind kind{};
    for (const LayerSlot& slot : layers) {
        kind.AnyImport = kind.AnyImport || slot.ImportStaged;
        kind.AnyExport = kind.AnyExport || slot.ExportStaged;
    }
    if (!kind.AnyImport && !kind.AnyExport) return;
    // An interrupt waits until every record is back and the line is complete.
    platform::HoldInterrupts();
    console::Print("Reading and writing LM data...");

    const PassGeometry geometry = GeometryOf(world.Header.Width, world.Header.Height);
    LayerRow rows[kLayerCount] = {};
    AllocateRows(geometry, layers, rows);
    RecordBatch batch = AllocateBatch(geometry.Width);
    MoveFailure failure{};
    ImportCounts counts{};
    // No layer moves, exports included, unless the world is backed up first.
    if (kind.AnyImport) BackUpWorld(world.Backup, world.Handle, world.Path, failure);
    for (std::uint32_t top = geometry.Height; top > 0 && !failure.Failed; top -= batch.RowCount) {
        StartBatch(batch, top);
        if (!ReadBatch(world, world.OffsetRow, batch, failure)) break;
        MoveBatchRows(geometry, layers, kind, batch, rows, failure, counts);
        // What was moved in goes back even after a failure: nothing is rolled back.
        if (kind.AnyImport) WriteBatch(world, batch, failure);
    }
    CloseStagedFiles(layers, failure);
    console::EndLine(EndOf(failure));
    TellBackup(world.Backup);
    if (kind.AnyImport && !failure.Failed) SayImportCounts(geometry, layers, counts);
    platform::ReleaseInterrupts();
}
