// The plain LM pass, kept as the reference the fast one is compared with: one
// positioning and one small transfer per record, per LargeMap block row and
// per byte, exactly in the order the pass is defined. Obviously right, slow.
#include <cstring>
#include <string>

#include "reference/reference_lm_pass.h"

#include "bitmap/bmp.h"
#include "bitmap/import_source.h"
#include "move/move_failure.h"
#include "platform/le_bytes.h"
#include "world/layers.h"
#include "world/world.h"

namespace {

// The record's layout as the pass is defined, apart from the tool's table.
constexpr int kLandTypeByte = 8;
constexpr int kLandHeightByte = 9;
constexpr int kLargeMapByte = 22;  // block row k is the 5 bytes at 22 + 5k
constexpr std::uint32_t kLargeMapScale = 5;
constexpr std::uint8_t kLandTypeLimit = 3;  // imported values from here on become 0

const std::uint8_t kZeros[4] = {};

// Where an import stores picture row r (0 at the top), and its bytes there,
// written out here apart from the tool's own helpers.
std::uint64_t RowOf(const ImportSource& source, std::uint64_t r) {
    return source.PixelStart + source.Stride * (source.TopDown ? r : source.Rows - 1 - r);
}

bool ReadImport(const ImportSource& source, std::uint64_t at, std::uint8_t* bytes, std::uint32_t count,
                std::uint32_t* got) {
    if (source.Reading == RowSource::Decoded) {
        *got = 0;
        for (; *got < count && at + *got < source.Stride * source.Rows; ++*got) bytes[*got] = source.Decoded[at + *got];
        return true;
    }
    if (!platform::ReadFileAt(source.File, at, bytes, count, got)) return false;
    for (std::uint32_t i = 0; source.ByColour && i < *got; ++i) bytes[i] = source.Values[bytes[i]];
    return true;
}

// 196608 as "196,608".
std::string Grouped(std::uint64_t value) {
    std::string digits = std::to_string(value), grouped;
    for (std::size_t i = 0; i < digits.size(); ++i)
        grouped += (i > 0 && (digits.size() - i) % 3 == 0 ? "," : "") + std::string(1, digits[i]);
    return grouped;
}

struct PassGeometry {
    std::uint32_t Width;
    std::uint32_t Height;
    std::uint32_t Padding;      // one-byte layers: zero bytes after each row
    std::uint64_t LargeStride;  // LargeMap stored row length
    std::uint64_t LargeHeight;  // LargeMap image rows
};

// Where block row k of cell (x, y) lies in a LargeMap file whose pixel data
// begins at pixelStart.
std::uint64_t LargeMapPosition(const PassGeometry& g, std::uint64_t pixelStart, std::uint32_t x, std::uint32_t y,
                               std::uint32_t k) {
    const std::uint64_t imageRow = std::uint64_t{kLargeMapScale} * y + k;
    return pixelStart + g.LargeStride * (g.LargeHeight - 1 - imageRow) + std::uint64_t{kLargeMapScale} * x;
}

// What the imports changed, cell by cell.
std::uint64_t g_changed[kLayerCount];
std::uint64_t g_zeroed;

bool ReadOffsetRow(WorldFile& world, std::uint32_t y, MoveFailure& failure) {
    const std::uint32_t width = world.Header.Width;
    auto* bytes = reinterpret_cast<std::uint8_t*>(world.OffsetRow);
    std::uint32_t got = 0;
    const std::uint64_t position = kOffsetTableStart + std::uint64_t{4} * width * y;
    if (!NoteMove(failure, platform::ReadFileAt(world.Handle, position, bytes, 4 * width, &got), "reading", world.Path))
        return false;
    for (std::uint32_t x = 0; x < width; ++x) world.OffsetRow[x] = le::Get32(bytes + 4 * x);
    return true;
}

// One cell: exports first, then imports and the write-back.
bool MoveCell(WorldFile& world, LayerSlot (&layers)[kLayerCount], const PassGeometry& g, bool anyImport,
              std::uint32_t x, std::uint32_t y, MoveFailure& failure) {
    static std::uint8_t buffer[kLmRecordSize];  // kept from cell to cell, as one record buffer is
    std::uint8_t* record = buffer;
    const std::uint32_t position = world.OffsetRow[x];
    std::uint32_t done = 0;
    if (!NoteMove(failure, platform::ReadFileAt(world.Handle, position, record, kLmRecordSize, &done), "reading",
                  world.Path))
        return false;

    LayerSlot& large = layers[kLargeMap];
    if (large.ExportStaged) {
        for (std::uint32_t k = 5; k-- > 0;) {
            const std::uint64_t at = LargeMapPosition(g, kBmpHeaderSize, x, y, k);
            if (!NoteMove(failure,
                          platform::WriteFileAt(large.Export.File, at, record + kLargeMapByte + 5 * k, 5, &done),
                          "writing", large.Path))
                return false;
        }
    }
    for (int layer : {kLandType, kLandHeight}) {
        LayerSlot& slot = layers[layer];
        const int byte = layer == kLandType ? kLandTypeByte : kLandHeightByte;
        if (slot.ExportStaged &&
            !NoteMove(failure, platform::WriteFile(slot.Export.File, record + byte, 1, &done), "writing", slot.Path))
            return false;
    }
    if (!anyImport) return true;

    if (large.ImportStaged) {
        std::uint8_t block[25];
        std::memcpy(block, record + kLargeMapByte, 25);
        for (std::uint32_t k = 5; k-- > 0;) {
            // Image row 5y + k, wherever the import stores it.
            const std::uint64_t at = RowOf(large.Import, std::uint64_t{kLargeMapScale} * y + k) + 5 * x;
            std::uint8_t row[5];
            std::uint32_t got = 0;
            if (!NoteMove(failure, ReadImport(large.Import, at, row, 5, &got), "reading", large.Path)) return false;
            // A short file replaces only the bytes it still holds.
            std::memcpy(block + 5 * k, row, got);
        }
        g_changed[kLargeMap] += std::memcmp(block, record + kLargeMapByte, 25) != 0;
        std::memcpy(record + kLargeMapByte, block, 25);
    }
    for (int layer : {kLandType, kLandHeight}) {
        LayerSlot& slot = layers[layer];
        const int byte = layer == kLandType ? kLandTypeByte : kLandHeightByte;
        if (!slot.ImportStaged) continue;
        std::uint8_t value = record[byte];
        std::uint32_t got = 0;
        if (!NoteMove(failure, ReadImport(slot.Import, RowOf(slot.Import, y) + x, &value, 1, &got), "reading",
                      slot.Path))
            return false;
        if (layer == kLandType && value >= kLandTypeLimit) {
            value = 0;
            ++g_zeroed;
        }
        g_changed[layer] += value != record[byte];
        record[byte] = value;
    }
    return NoteMove(failure, platform::WriteFileAt(world.Handle, position, record, kLmRecordSize, &done), "writing",
                    world.Path);
}

// Row padding of the one-byte layers: zeros out, or skipped in.
bool PadOneByteLayers(LayerSlot (&layers)[kLayerCount], const PassGeometry& g, MoveFailure& failure) {
    if (g.Padding == 0) return true;
    std::uint32_t done = 0;
    for (int layer : {kLandType, kLandHeight}) {
        LayerSlot& slot = layers[layer];
        if (slot.ExportStaged &&
            !NoteMove(failure, platform::WriteFile(slot.Export.File, kZeros, g.Padding, &done), "writing", slot.Path))
            return false;
    }
    return true;
}

// No cell covers the end of the top image row; write it so the file is whole.
void PadLargeMapTopRow(const LayerSlot (&layers)[kLayerCount], const PassGeometry& g, MoveFailure& failure) {
    const LayerSlot& large = layers[kLargeMap];
    const std::uint64_t covered = std::uint64_t{kLargeMapScale} * g.Width;
    if (!large.ExportStaged || g.LargeStride == covered) return;
    const std::uint64_t at = kBmpHeaderSize + g.LargeStride * (g.LargeHeight - 1) + covered;
    std::uint32_t done = 0;
    NoteMove(failure,
             platform::WriteFileAt(large.Export.File, at, kZeros, static_cast<std::uint32_t>(g.LargeStride - covered),
                                   &done),
             "writing", large.Path);
}

void CloseStagedFiles(LayerSlot (&layers)[kLayerCount], MoveFailure& failure) {
    for (LayerSlot& slot : layers) {
        // A failed close of an export may lose buffered data: it is a failed write.
        if (slot.ExportStaged) NoteMove(failure, platform::CloseFile(slot.Export.File), "writing", slot.Path);
        if (slot.ImportStaged) CloseImportSource(slot.Import);
    }
}

}  // namespace

void RunReferenceLmPass(console::Report& report, WorldFile& world, WorldBackup& /*backup*/,
                        LayerSlot (&layers)[kLayerCount]) {
    bool anyImport = false;
    bool anyExport = false;
    for (const LayerSlot& slot : layers) {
        anyImport = anyImport || slot.ImportStaged;
        anyExport = anyExport || slot.ExportStaged;
    }
    if (!anyImport && !anyExport) return;
    console::Print("Reading and writing LM data...");

    PassGeometry g{};
    g.Width = world.Header.Width;
    g.Height = world.Header.Height;
    g.Padding = static_cast<std::uint32_t>(RowStride(g.Width) - g.Width);
    g.LargeStride = RowStride(std::uint64_t{kLargeMapScale} * g.Width);
    g.LargeHeight = std::uint64_t{kLargeMapScale} * g.Height;

    for (std::uint64_t& changed : g_changed) changed = 0;
    g_zeroed = 0;
    MoveFailure failure{};
    for (std::uint32_t y = g.Height; y-- > 0 && !failure.Failed;) {
        if (!ReadOffsetRow(world, y, failure)) break;
        for (std::uint32_t x = 0; x < g.Width; ++x)
            if (!MoveCell(world, layers, g, anyImport, x, y, failure)) break;
        if (!failure.Failed) PadOneByteLayers(layers, g, failure);
    }
    if (!failure.Failed) PadLargeMapTopRow(layers, g, failure);
    CloseStagedFiles(layers, failure);
    console::EndLine(report, EndOf(failure));
    if (!anyImport || failure.Failed) return;
    const char* names[] = {"LandType", "LandHeight", "LargeMap"};
    for (int layer = 0; layer < kLayerCount; ++layer) {
        if (!layers[layer].ImportStaged) continue;
        platform::SayLine(std::string(names[layer]) + ": " + Grouped(g_changed[layer]) + " of " +
                          Grouped(std::uint64_t{g.Width} * g.Height) + " cells changed");
        if (layer == kLandType && g_zeroed > 0)
            platform::SayLine("LandType: " + Grouped(g_zeroed) +
                              " cells held a value of 3 or more and were set to 0 (only 0, 1 and 2 are kept)");
    }
}
