#include <cstring>
#include <string>

#include "bitmap/bmp.h"
#include "driver/driver.h"
#include "driver/state.h"
#include "platform/console_text.h"

namespace {

struct LayerInfo {
    const char* ExportTitle;  // also the question's caption
    const char* ImportTitle;
    const char* ProposedName;
    std::uint32_t Scale;      // bitmap pixels per cell, each way
    Palette ExportPalette;
};

constexpr LayerInfo kLayers[kLayerCount] = {
    {"Export LandType BMP", "Import LandType BMP", "landtype.bmp", 1, Palette::LandType},
    {"Export LandHeight BMP", "Import LandHeight BMP", "lmheight.bmp", 1, Palette::Gray},
    {"Export LargeMap BMP", "Import LargeMap BMP", "largemap.bmp", kLargeMapScale, Palette::Gray},
};

void KeepPath(LayerSlot& slot, const char* path) {
    std::memcpy(slot.Path, path, sizeof slot.Path);
}

void StageExport(AppState& state, LayerSlot& slot, const LayerInfo& layer) {
    std::memset(state.FileNameBuffer, 0, sizeof state.FileNameBuffer);
    std::strcpy(state.FileNameBuffer, layer.ProposedName);
    state.BitmapFileDialog.Title = layer.ExportTitle;
    state.BitmapFileDialog.Flags = platform::kOfnExplorer | platform::kOfnOverwritePrompt;
    if (!platform::GetSaveFileName(state.BitmapFileDialog)) return;

    const char* path = state.FileNameBuffer;
    slot.ExportHandle = platform::OpenFile(path, platform::Share::None, platform::Disposition::CreateAlways);
    if (slot.ExportHandle == platform::kInvalidFile) {
        console::PrintErrorLine(platform::LastError(), "creating", path);
        return;
    }
    console::Print(std::string("Writing BMP header to ") + path + "...");
    // Sizes are 32-bit products, as the header fields hold them.
    const std::uint32_t width = layer.Scale * state.Header.Width;
    const std::uint32_t height = layer.Scale * state.Header.Height;
    if (WriteBmpHeader(state.Bmp, slot.ExportHandle, width, height, layer.ExportPalette)) {
        slot.ExportStaged = true;
        KeepPath(slot, path);
        console::PrintLine("Done!");
    } else {
        console::PrintLine("Error " + console::Dec(platform::LastError()) + " writing BMP header!");
        platform::CloseFile(slot.ExportHandle);
    }
}

void StageImport(AppState& state, LayerSlot& slot, const LayerInfo& layer) {
    state.FileNameBuffer[0] = '\0';
    state.BitmapFileDialog.Title = layer.ImportTitle;
    state.BitmapFileDialog.Flags = platform::kOfnExplorer | platform::kOfnFileMustExist | platform::kOfnHideReadOnly;
    if (!platform::GetOpenFileName(state.BitmapFileDialog)) return;

    const char* path = state.FileNameBuffer;
    slot.ImportHandle = platform::OpenFile(path, platform::Share::Read, platform::Disposition::OpenExisting);
    if (slot.ImportHandle == platform::kInvalidFile) {
        console::PrintErrorLine(platform::LastError(), "opening", path);
        return;
    }
    console::Print(std::string("Reading ") + path + " header...");
    const std::uint32_t width = layer.Scale * state.Header.Width;
    const std::uint32_t height = layer.Scale * state.Header.Height;
    if (CheckBmpHeader(state.BmpHeaderPrefix, slot.ImportHandle, width, height, path, &slot.PixelStart)) {
        slot.ImportStaged = true;
        KeepPath(slot, path);
        console::PrintLine("Done!");
    } else {
        platform::CloseFile(slot.ImportHandle);
    }
}

}  // namespace

void StageLayers(AppState& state) {
    for (int i = 0; i < kLayerCount; ++i) {
        const int answer = platform::MessageBoxYesNoCancel(kLayerQuestion, kLayers[i].ExportTitle);
        if (answer == platform::kIdYes) StageExport(state, state.Layers[i], kLayers[i]);
        if (answer == platform::kIdNo) StageImport(state, state.Layers[i], kLayers[i]);
    }
    console::PrintLine("");
}
