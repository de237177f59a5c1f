// The LM pass: every cell record is read once, staged exports take their
// bytes from it before staged imports put theirs in, and the record goes back
// whole when anything was imported. Rows run bottom map row first, x rising,
// as the bitmaps store them. Records move in batches of whole map rows
// (record_batches.h); each staged layer's band of the map row (its Block
// image rows) moves whole.
#include <algorithm>
#include <cstring>
#include <string>

#include "bitmap/bmp.h"
#include "bitmap/import_source.h"
#include "move/bitmap_layout.h"
#include "move/lm_pass.h"
#include "move/move_failure.h"
#include "move/record_batches.h"
#include "move/world_backup.h"
#include "platform/platform.h"
#include "report/console_text.h"
#include "report/import_report.h"
#include "world/layers.h"
#include "world/world.h"

namespace {

// A staged layer as the pass moves it: its row of the layer table, its slot,
// and its band of the map row in hand. Pad bytes are never written by a
// cell, so they stay zero in every exported band.
struct StagedLayer {
    const RecordLayer* Layer;
    LayerSlot* Slot;
    bool Import;
    LayerGeometry Geometry;
    platform::Memory<std::uint8_t> Band;
    std::uint32_t Got;               // import: the band's bytes the file still held
    std::uint64_t RowAt[kMaxBlock];  // block row k of cell 0 within the band
    std::uint64_t Changed;           // import: cells whose bytes differ from what their record held
    std::uint64_t Zeroed;            // import: values of Limit or more set to 0
};

// The staged layers in the order a cell's bytes move: its larger blocks
// before its single bytes, then the table's order.
struct StagedLayers {
    StagedLayer Layers[kLayerCount];
    int Count;
    bool AnyImport;
    bool AnyExport;
};

void StageForPass(LayerSlot (&slots)[kLayerCount], std::uint32_t width, std::uint32_t height, StagedLayers& staged) {
    for (int i = 0; i < kLayerCount; ++i) {
        LayerSlot& slot = slots[i];
        if (!slot.ExportStaged && !slot.ImportStaged) continue;
        StagedLayer& layer = staged.Layers[staged.Count++];
        layer.Layer = &kRecordLayers[i];
        layer.Slot = &slot;
        layer.Import = slot.ImportStaged;
        layer.Geometry = GeometryOf(layer.Layer->Block, width, height);
        // A band stored bottom-up holds its last block row first; an import
        // stored top-down its first.
        const bool topDown = layer.Import && slot.Import.TopDown;
        for (std::uint32_t k = 0; k < layer.Layer->Block; ++k)
            layer.RowAt[k] = topDown ? layer.Geometry.Stride * k : BlockRowInBand(layer.Geometry, 0, k);
        staged.AnyImport = staged.AnyImport || layer.Import;
        staged.AnyExport = staged.AnyExport || !layer.Import;
    }
    std::stable_sort(staged.Layers, staged.Layers + staged.Count,
                     [](const StagedLayer& a, const StagedLayer& b) { return a.Layer->Block > b.Layer->Block; });
}

// The bands' memory, once the pass has begun: a world too wide for it ends
// the run after the pass's progress text.
void AllocateBands(StagedLayers& staged) {
    for (int i = 0; i < staged.Count; ++i)
        staged.Layers[i].Band = platform::Allocate<std::uint8_t>(BandLength(staged.Layers[i].Geometry));
}

// Where an import stores map row y's band: image row Block y + Block - 1
// comes first when stored bottom-up, Block y when top-down.
std::uint64_t ImportBandPosition(const ImportSource& source, std::uint32_t block, std::uint32_t y) {
    const std::uint64_t first = std::uint64_t{block} * y;
    return PictureRowAt(source, source.TopDown ? first : first + block - 1);
}

// Import bands are read whole; a file that ends early delivers fewer bytes.
bool ReadImportBands(StagedLayers& staged, std::uint32_t y, MoveFailure& failure) {
    for (int i = 0; i < staged.Count; ++i) {
        StagedLayer& layer = staged.Layers[i];
        if (!layer.Import) continue;
        const ImportSource& source = layer.Slot->Import;
        if (!NoteMove(failure,
                      ReadImportAt(source, ImportBandPosition(source, layer.Layer->Block, y), layer.Band.get(),
                                   static_cast<std::uint32_t>(BandLength(layer.Geometry)), &layer.Got),
                      "reading", layer.Slot->Path))
            return false;
    }
    return true;
}

bool WriteExportBands(const StagedLayers& staged, std::uint32_t y, MoveFailure& failure) {
    for (int i = 0; i < staged.Count; ++i) {
        const StagedLayer& layer = staged.Layers[i];
        if (layer.Import) continue;
        std::uint32_t done = 0;
        if (!NoteMove(
                failure,
                platform::WriteFileAt(layer.Slot->ExportHandle, BandPosition(layer.Geometry, kBmpHeaderSize, y),
                                      layer.Band.get(), static_cast<std::uint32_t>(BandLength(layer.Geometry)), &done),
                "writing", layer.Slot->Path))
            return false;
    }
    return true;
}

// One layer's work for the cells of a map row, taken out of its StagedLayer
// once a row: a write to a record may alias anything, so fields read cell by
// cell would be read again after every byte written.
struct CellWork {
    bool Import;
    std::uint32_t Block;
    int RecordByte;
    std::uint8_t Limit;
    std::uint8_t* Band;
    std::uint64_t RowAt[kMaxBlock];
    std::uint64_t Got;
    std::uint64_t WholeUpTo;  // the cells before it have their whole block in the band
    std::uint64_t Changed;
    std::uint64_t Zeroed;
};

CellWork WorkOf(const StagedLayer& layer) {
    CellWork work{};
    work.Import = layer.Import;
    work.Block = layer.Layer->Block;
    work.RecordByte = layer.Layer->RecordByte;
    work.Limit = layer.Layer->Limit;
    work.Band = layer.Band.get();
    work.Got = layer.Got;
    std::memcpy(work.RowAt, layer.RowAt, sizeof work.RowAt);
    // A cell's block row that lies furthest into the band ends it: when that
    // arrived, all did.
    const std::uint64_t furthest = *std::max_element(work.RowAt, work.RowAt + work.Block) + work.Block;
    work.WholeUpTo = layer.Got < furthest ? 0 : (layer.Got - furthest) / work.Block + 1;
    return work;
}

// Exports of one cell, from its record as it stands.
void ExportCell(const CellWork& work, const std::uint8_t* record, std::uint32_t x) {
    std::uint8_t* band = work.Band + std::uint64_t{work.Block} * x;
    for (std::uint32_t k = 0; k < work.Block; ++k)
        std::memcpy(band + work.RowAt[k], record + work.RecordByte + work.Block * k, work.Block);
}

// Values of the limit or more become 0.
void ApplyLimit(std::uint8_t* bytes, std::uint32_t count, std::uint8_t limit, std::uint64_t& zeroed) {
    for (std::uint32_t i = 0; i < count; ++i) {
        if (bytes[i] < limit) continue;
        bytes[i] = 0;
        ++zeroed;
    }
}

// Imports into one cell's record: the bytes of its block that the band
// holds, the others kept as the record held them.
void ImportCell(CellWork& work, std::uint8_t* record, std::uint32_t x) {
    std::uint8_t* bytes = record + work.RecordByte;
    const std::uint64_t column = std::uint64_t{work.Block} * x;
    std::uint8_t before[kMaxBlock * kMaxBlock];
    const std::uint32_t size = work.Block * work.Block;
    std::memcpy(before, bytes, size);
    for (std::uint32_t k = 0; k < work.Block; ++k) {
        const std::uint64_t at = work.RowAt[k] + column;
        if (at >= work.Got) continue;
        std::memcpy(bytes + work.Block * k, work.Band + at,
                    static_cast<std::size_t>(std::min<std::uint64_t>(work.Block, work.Got - at)));
    }
    if (work.Limit != 0) ApplyLimit(bytes, size, work.Limit, work.Zeroed);
    work.Changed += std::memcmp(before, bytes, size) != 0;
}

// The same for a whole row of cells whose records are all their own, with
// copies of a fixed length for the block sizes the table has: most of the
// pass's time is spent here.
template <std::uint32_t kBlock>
void ExportRow(const CellWork& work, const std::uint8_t* records, const std::uint32_t* recordOffsets,
               std::uint32_t width) {
    std::uint8_t* rows[kBlock];
    for (std::uint32_t k = 0; k < kBlock; ++k) rows[k] = work.Band + work.RowAt[k];
    // Locals: a byte stored may alias anything, so fields would be read again.
    const std::uint8_t* from = records + work.RecordByte;
    for (std::uint32_t x = 0; x < width; ++x) {
        const std::uint8_t* block = from + recordOffsets[x];
        for (std::uint32_t k = 0; k < kBlock; ++k)
            std::memcpy(rows[k] + std::uint64_t{kBlock} * x, block + kBlock * k, kBlock);
    }
}

template <std::uint32_t kBlock>
void ImportRow(CellWork& work, std::uint8_t* records, const std::uint32_t* recordOffsets, std::uint32_t width) {
    const std::uint8_t* rows[kBlock];
    for (std::uint32_t k = 0; k < kBlock; ++k) rows[k] = work.Band + work.RowAt[k];
    const std::uint8_t limit = work.Limit;
    std::uint64_t changed = 0, zeroed = 0;
    const std::uint32_t whole = static_cast<std::uint32_t>(std::min<std::uint64_t>(work.WholeUpTo, width));
    for (std::uint32_t x = 0; x < whole; ++x) {
        std::uint8_t* block = records + recordOffsets[x] + work.RecordByte;
        std::uint8_t before[kBlock * kBlock];
        std::memcpy(before, block, sizeof before);
        for (std::uint32_t k = 0; k < kBlock; ++k)
            std::memcpy(block + kBlock * k, rows[k] + std::uint64_t{kBlock} * x, kBlock);
        if (limit != 0) ApplyLimit(block, kBlock * kBlock, limit, zeroed);
        changed += std::memcmp(before, block, sizeof before) != 0;
    }
    work.Changed += changed;
    work.Zeroed += zeroed;
    // A band the file cut short: the cells it ends in, and the cells after.
    for (std::uint32_t x = whole; x < width; ++x) ImportCell(work, records + recordOffsets[x], x);
}

void ExportRowOf(const CellWork& work, const std::uint8_t* records, const std::uint32_t* offsets, std::uint32_t width) {
    switch (work.Block) {
        case 1: ExportRow<1>(work, records, offsets, width); return;
        case 5: ExportRow<5>(work, records, offsets, width); return;
        default:
            for (std::uint32_t x = 0; x < width; ++x) ExportCell(work, records + offsets[x], x);
    }
}

void ImportRowOf(CellWork& work, std::uint8_t* records, const std::uint32_t* offsets, std::uint32_t width) {
    switch (work.Block) {
        case 1: ImportRow<1>(work, records, offsets, width); return;
        case 5: ImportRow<5>(work, records, offsets, width); return;
        default:
            for (std::uint32_t x = 0; x < width; ++x) ImportCell(work, records + offsets[x], x);
    }
}

// The cells of row r of the batch: each cell's exports, then its imports.
// Where every cell has a record of its own, one layer at a time over the
// row gives the same bytes, exports first. Where cells share record bytes,
// a cell's exports must see the imports of the cells before it, and the
// cells go one at a time, x rising.
void MoveRowCells(StagedLayers& staged, RecordBatch& batch, std::uint32_t width, std::uint32_t r) {
    std::uint8_t* records = batch.Records.get();
    const std::uint32_t* offsets = RowRecordOffsets(batch, r);
    CellWork work[kLayerCount];
    const int count = staged.Count;
    for (int i = 0; i < count; ++i) work[i] = WorkOf(staged.Layers[i]);
    if (!batch.Overlapping || !staged.AnyImport) {
        for (int i = 0; i < count; ++i)
            if (!work[i].Import) ExportRowOf(work[i], records, offsets, width);
        for (int i = 0; i < count; ++i)
            if (work[i].Import) ImportRowOf(work[i], records, offsets, width);
    } else {
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint8_t* record = records + offsets[x];
            for (int i = 0; i < count; ++i)
                if (!work[i].Import) ExportCell(work[i], record, x);
            for (int i = 0; i < count; ++i)
                if (work[i].Import) ImportCell(work[i], record, x);
        }
    }
    for (int i = 0; i < count; ++i) {
        staged.Layers[i].Changed += work[i].Changed;
        staged.Layers[i].Zeroed += work[i].Zeroed;
    }
}

// Every row of the batch: its import bands in, its cells, its export bands out.
void MoveBatchRows(StagedLayers& staged, RecordBatch& batch, std::uint32_t width, MoveFailure& failure) {
    for (std::uint32_t r = 0; r < batch.RowCount; ++r) {
        const std::uint32_t y = batch.TopRow - r;
        if (!ReadImportBands(staged, y, failure)) return;
        MoveRowCells(staged, batch, width, r);
        if (!WriteExportBands(staged, y, failure)) return;
    }
}

void CloseStagedFiles(LayerSlot (&slots)[kLayerCount], MoveFailure& failure) {
    for (LayerSlot& slot : slots) {
        // A failed close of an export may lose written data: it is a failed write.
        if (slot.ExportStaged) NoteMove(failure, platform::CloseFile(slot.ExportHandle), "writing", slot.Path);
        if (slot.ImportStaged) {
            platform::CloseFile(slot.ImportHandle);
            slot.Import.Decoded.reset();
        }
    }
}

// "0, 1 and 2" for a limit of 3.
std::string KeptValues(std::uint8_t limit) {
    std::string kept = "0";
    for (int v = 1; v < limit; ++v) kept += (v + 1 < limit ? ", " : " and ") + std::to_string(v);
    return kept;
}

// After a complete import: what it changed in each imported layer, in the
// table's order.
void SayImportCounts(const StagedLayers& staged, std::uint64_t cells) {
    for (const RecordLayer& row : kRecordLayers) {
        for (int i = 0; i < staged.Count; ++i) {
            const StagedLayer& layer = staged.Layers[i];
            if (layer.Layer != &row || !layer.Import) continue;
            SayChangedCells(row.Name, layer.Changed, cells);
            if (layer.Zeroed > 0)
                platform::SayLine(std::string(row.Name) + ": " + Grouped(layer.Zeroed) + " cells held a value of " +
                                  std::to_string(row.Limit) + " or more and were set to 0 (only " +
                                  KeptValues(row.Limit) + " are kept)");
        }
    }
}

}  // namespace

void RunLmPass(WorldFile& world, WorldBackup& backup, LayerSlot (&layers)[kLayerCount]) {
    const std::uint32_t width = world.Header.Width, height = world.Header.Height;
    StagedLayers staged{};
    StageForPass(layers, width, height, staged);
    if (staged.Count == 0) return;
    // An interrupt waits until every record is back and the line is complete.
    platform::HoldInterrupts();
    console::Print("Reading and writing LM data...");

    AllocateBands(staged);
    RecordBatch batch = AllocateBatch(width);
    MoveFailure failure{};
    // No layer moves, exports included, unless the world is backed up first.
    if (staged.AnyImport) BackUpWorld(backup, world.Handle, world.Path, failure);
    for (std::uint32_t top = height; top > 0 && !failure.Failed; top -= batch.RowCount) {
        StartBatch(batch, top);
        if (!ReadBatch(world, world.OffsetRow, batch, failure)) break;
        MoveBatchRows(staged, batch, width, failure);
        // What was moved in goes back even after a failure: nothing is rolled back.
        if (staged.AnyImport) WriteBatch(world, batch, failure);
    }
    CloseStagedFiles(layers, failure);
    console::EndLine(EndOf(failure));
    TellBackup(backup);
    if (staged.AnyImport && !failure.Failed) SayImportCounts(staged, std::uint64_t{width} * height);
    platform::ReleaseInterrupts();
}
