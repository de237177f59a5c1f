// The LM pass: every cell record is read once, staged exports take their
// bytes from it before staged imports put theirs in, and the record goes back
// whole when anything was imported. Rows run bottom map row first, x rising,
// as the bitmaps store them. Records move in batches of whole map rows
// (record_batches.h); each staged layer's band of the map row (its Block
// image rows) moves whole.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bitmap/bitmap_file.h"
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

// Import bands are read whole: a file that no longer holds them stops the move.
bool ReadImportBands(StagedLayers& staged, std::uint32_t y, MoveFailure& failure) {
    for (int i = 0; i < staged.Count; ++i) {
        StagedLayer& layer = staged.Layers[i];
        if (!layer.Import) continue;
        const std::uint32_t block = layer.Layer->Block;
        std::uint32_t code = 0;
        if (!ReadPictureRows(layer.Slot->Import, std::uint64_t{block} * y, block, layer.Band.get(), &code)) {
            NoteFailure(failure, code, "reading", layer.Slot->Path);
            return false;
        }
    }
    return true;
}

// A band holds its image rows as a BMP stores them, bottom row first.
bool WriteExportBands(const StagedLayers& staged, std::uint32_t y, MoveFailure& failure) {
    for (int i = 0; i < staged.Count; ++i) {
        const StagedLayer& layer = staged.Layers[i];
        if (layer.Import) continue;
        const std::uint32_t block = layer.Layer->Block;
        if (!NoteMove(failure, WriteExportRows(layer.Slot->Export, std::uint64_t{block} * y, block, layer.Band.get()),
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
    std::memcpy(work.RowAt, layer.RowAt, sizeof work.RowAt);
    return work;
}

// Exports of one cell, from its record as it stands.
void ExportCell(const CellWork& work, const std::uint8_t* record, std::uint32_t x) {
    std::uint8_t* band = work.Band + std::uint64_t{work.Block} * x;
    for (std::uint32_t k = 0; k < work.Block; ++k)
        std::memcpy(band + work.RowAt[k], record + work.RecordByte + std::size_t{work.Block} * k, work.Block);
}

// Values of the limit or more become 0.
void ApplyLimit(std::uint8_t* bytes, std::uint32_t count, std::uint8_t limit, std::uint64_t& zeroed) {
    for (std::uint32_t i = 0; i < count; ++i) {
        if (bytes[i] < limit) continue;
        bytes[i] = 0;
        ++zeroed;
    }
}

// Imports into one cell's record: the bytes of its block from the band.
void ImportCell(CellWork& work, std::uint8_t* record, std::uint32_t x) {
    std::uint8_t* bytes = record + work.RecordByte;
    const std::uint64_t column = std::uint64_t{work.Block} * x;
    std::uint8_t before[kMaxBlock * kMaxBlock];
    const std::uint32_t size = work.Block * work.Block;
    std::memcpy(before, bytes, size);
    for (std::uint32_t k = 0; k < work.Block; ++k)
        std::memcpy(bytes + std::size_t{work.Block} * k, work.Band + work.RowAt[k] + column, work.Block);
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
            std::memcpy(rows[k] + std::uint64_t{kBlock} * x, block + std::size_t{kBlock} * k, kBlock);
    }
}

template <std::uint32_t kBlock>
void ImportRow(CellWork& work, std::uint8_t* records, const std::uint32_t* recordOffsets, std::uint32_t width) {
    const std::uint8_t* rows[kBlock];
    for (std::uint32_t k = 0; k < kBlock; ++k) rows[k] = work.Band + work.RowAt[k];
    const std::uint8_t limit = work.Limit;
    std::uint64_t changed = 0, zeroed = 0;
    for (std::uint32_t x = 0; x < width; ++x) {
        std::uint8_t* block = records + recordOffsets[x] + work.RecordByte;
        if (limit == 0) {
            // Most cells of an edited layer are as the record holds them: a
            // look decides, and only a cell that differs is copied.
            bool same = true;
            for (std::uint32_t k = 0; k < kBlock && same; ++k)
                same = std::memcmp(block + std::size_t{kBlock} * k, rows[k] + std::uint64_t{kBlock} * x, kBlock) == 0;
            if (same) continue;
            for (std::uint32_t k = 0; k < kBlock; ++k)
                std::memcpy(block + std::size_t{kBlock} * k, rows[k] + std::uint64_t{kBlock} * x, kBlock);
            ++changed;
            continue;
        }
        // A limited layer is compared after its values are limited.
        std::uint8_t before[kBlock * kBlock];
        std::memcpy(before, block, sizeof before);
        for (std::uint32_t k = 0; k < kBlock; ++k)
            std::memcpy(block + std::size_t{kBlock} * k, rows[k] + std::uint64_t{kBlock} * x, kBlock);
        ApplyLimit(block, kBlock * kBlock, limit, zeroed);
        changed += std::memcmp(before, block, sizeof before) != 0;
    }
    work.Changed += changed;
    work.Zeroed += zeroed;
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

// Every row of the batch, in the pass's order: its import bands in, its
// cells, its export bands out.
void MoveBatchRows(StagedLayers& staged, RecordBatch& batch, std::uint32_t width, bool topFirst, MoveFailure& failure) {
    for (std::uint32_t i = 0; i < batch.RowCount; ++i) {
        const std::uint32_t r = topFirst ? batch.RowCount - 1 - i : i;
        const std::uint32_t y = batch.TopRow - r;
        if (!ReadImportBands(staged, y, failure)) return;
        MoveRowCells(staged, batch, width, r);
        if (!WriteExportBands(staged, y, failure)) return;
    }
}

std::uint64_t ChangedSoFar(const StagedLayers& staged) {
    std::uint64_t changed = 0;
    for (int i = 0; i < staged.Count; ++i) changed += staged.Layers[i].Changed;
    return changed;
}

// One batch of records: in, moved, and back where the imports changed a
// byte of them. The backup and the move's marker come right before the
// first batch that goes back.
void MoveBatch(const WorldFile& world, WorldBackup& backup, StagedLayers& staged, RecordBatch& batch, bool topFirst,
               MoveFailure& failure) {
    if (!ReadBatch(world, world.OffsetRow, batch, failure)) return;
    // Cells that share record bytes may change them and back: only the bytes can tell.
    const bool compareBytes = staged.AnyImport && batch.Overlapping;
    if (compareBytes) KeepRecordsAsRead(batch);
    const std::uint64_t changedBefore = ChangedSoFar(staged);
    MoveBatchRows(staged, batch, world.Header.Width, topFirst, failure);
    // What was moved in goes back even after a failure: nothing is rolled back.
    const bool changed = compareBytes ? RecordsChanged(batch) : ChangedSoFar(staged) != changedBefore;
    if (changed && BeginWorldWrites(backup, world.Handle, world.Path, failure)) WriteBatch(world, batch, failure);
}

// Closes every staged file, an export finished first when the pass was
// whole; a failed close of an export may lose written data, so it is a
// failed write.
void CloseStagedFiles(LayerSlot (&slots)[kLayerCount], MoveFailure& failure) {
    for (LayerSlot& slot : slots) {
        if (slot.ExportStaged) {
            if (!failure.Failed) NoteMove(failure, FinishExportFile(slot.Export), "writing", slot.Path);
            EndExportFile(slot.Export);
            NoteMove(failure, platform::CloseFile(slot.Export.File), "writing", slot.Path);
        }
        if (slot.ImportStaged) CloseImportSource(slot.Import);
    }
}

// Rows go top first where a stream of rows (a PNG read or written) needs
// them so and the order cannot change a byte: the records lie apart, or
// nothing is imported. Otherwise bottom first, a PNG export holding its
// picture until the end.
bool PassGoesTopFirst(const StagedLayers& staged, const WorldFile& world) {
    bool wanted = false;
    for (int i = 0; i < staged.Count; ++i) {
        const LayerSlot& slot = *staged.Layers[i].Slot;
        wanted = wanted || (staged.Layers[i].Import ? slot.Import.Reading == RowSource::Stream : slot.Export.Png);
    }
    return wanted && (world.RecordsApart || !staged.AnyImport);
}

// An export of a pass that stopped holds part of its layer: every one goes.
std::vector<std::string> RemoveUnfinishedExports(const StagedLayers& staged) {
    std::vector<std::string> said;
    for (int i = 0; i < staged.Count; ++i) {
        const StagedLayer& layer = staged.Layers[i];
        if (!layer.Import) said.push_back(RemoveUnfinishedExport(layer.Slot->Path, layer.Layer->Name));
    }
    return said;
}

// "0, 1 and 2" for a limit of 3.
std::string KeptValues(std::uint8_t limit) {
    std::string kept = "0";
    for (int v = 1; v < limit; ++v) kept += (v + 1 < limit ? ", " : " and ") + std::to_string(v);
    return kept;
}

// After a complete import: how each imported layer was taken and what it
// changed, in the table's order.
void SayImportCounts(const StagedLayers& staged, std::uint64_t cells) {
    for (const RecordLayer& row : kRecordLayers) {
        for (int i = 0; i < staged.Count; ++i) {
            const StagedLayer& layer = staged.Layers[i];
            if (layer.Layer != &row || !layer.Import) continue;
            if (!layer.Slot->Import.Note.empty()) console::SayLines(layer.Slot->Import.Note);
            SayChangedCells(row.Name, layer.Changed, cells);
            if (layer.Zeroed > 0)
                platform::SayLine(std::string(row.Name) + ": " + Grouped(layer.Zeroed) + " cells held a value of " +
                                  std::to_string(row.Limit) + " or more and were set to 0 (only " +
                                  KeptValues(row.Limit) + " are kept)");
        }
    }
}

}  // namespace

void RunLmPass(console::Report& report, WorldFile& world, WorldBackup& backup, LayerSlot (&layers)[kLayerCount]) {
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
    const bool topFirst = PassGoesTopFirst(staged, world);
    for (int i = 0; i < staged.Count && !topFirst; ++i)
        if (!staged.Layers[i].Import) HoldWholePicture(staged.Layers[i].Slot->Export);
    for (std::uint32_t done = 0; done < height && !failure.Failed; done += batch.RowCount) {
        StartBatch(batch, done, height, topFirst);
        MoveBatch(world, backup, staged, batch, topFirst, failure);
    }
    CloseStagedFiles(layers, failure);
    EndWorldWrites(backup, world.Handle, world.Path, failure);
    const std::vector<std::string> removed =
        failure.Failed ? RemoveUnfinishedExports(staged) : std::vector<std::string>();
    console::EndLine(report, EndOf(failure));
    TellBackup(backup);
    for (const std::string& note : removed) platform::SayLine(note);
    if (staged.AnyImport && !failure.Failed) SayImportCounts(staged, std::uint64_t{width} * height);
    platform::ReleaseInterrupts();
}
