#include <cstring>
#include <string>

#include "bitmap/bitmap_file.h"
#include "bitmap/image_kinds.h"
#include "driver/driver.h"
#include "report/console_text.h"

namespace {

// The path is kept because the pass reports failures by it and the dialogs
// reuse their buffer.
void Stage(bool& staged, LayerSlot& slot, const char (&path)[platform::kFileNameBufferSize]) {
    staged = true;
    std::memcpy(slot.Path, path, sizeof slot.Path);
}

void StageExport(console::Report& report, DialogState& dialogs, const WorldFile& world, BitmapState& bitmap,
                 LayerSlot& slot, const RecordLayer& layer) {
    if (!ChooseBitmapPath(dialogs.BitmapFileDialog, BitmapUse::Export, layer.ExportTitle, layer.ProposedName)) return;
    const auto& path = dialogs.FileNameBuffer;  // where the dialog left its choice
    const platform::FileHandle file = OpenBitmapFile(report, path, BitmapUse::Export, world.Path);
    if (file == platform::kInvalidFile) return;
    console::Print(std::string("Writing BMP header to ") + path + "...");
    // Sizes are 32-bit products, as the header fields hold them.
    if (StartExportFile(slot.Export, bitmap.Header, file, layer.Block * world.Header.Width,
                        layer.Block * world.Header.Height, layer.Colours, NamesPng(path))) {
        Stage(slot.ExportStaged, slot, path);
        console::EndLine(report, console::Done());
        return;
    }
    const console::LineEnd end = HeaderError("writing", platform::LastError());
    EndExportFile(slot.Export);
    platform::CloseFile(file);
    const std::string removed = RemoveUnfinishedExport(path, layer.Name);
    console::EndLine(report, end);
    platform::SayLine(removed);
}

void StageImport(console::Report& report, DialogState& dialogs, const WorldFile& world, BitmapState& bitmap,
                 LayerSlot& slot, const RecordLayer& layer) {
    if (!ChooseBitmapPath(dialogs.BitmapFileDialog, BitmapUse::Import, layer.ImportTitle, "")) return;
    const auto& path = dialogs.FileNameBuffer;  // where the dialog left its choice
    const platform::FileHandle file = OpenBitmapFile(report, path, BitmapUse::Import, world.Path);
    if (file == platform::kInvalidFile) return;
    console::Print(std::string("Reading ") + path + " header...");
    // Sizes are 32-bit products, as the header fields hold them. A file of
    // another kind is decoded here, so its refusal comes before any move.
    const ImportLayer target{
        layer.Name,  layer.Colours,     layer.Block * world.Header.Width, layer.Block * world.Header.Height,
        layer.Block, world.RecordsApart};
    const ImportVerdict verdict = OpenImportSource(bitmap.Head, file, target, path, &slot.Import);
    if (verdict.Outcome == Verdict::Accepted)
        Stage(slot.ImportStaged, slot, path);
    else
        CloseImportSource(slot.Import);
    console::EndLine(report, EndOf(verdict));
}

}  // namespace

platform::Answer AskLayerQuestion(DialogState& dialogs, int question, const char* caption) {
    if (dialogs.LayerQuestionsStopped) return platform::Answer::Cancel;
    const platform::Answer answer = platform::MessageBoxYesNoCancel(kLayerQuestion, caption, &dialogs.Given);
    if (answer != platform::Answer::NotAnAnswer) return answer;
    dialogs.LayerQuestionsStopped = true;
    std::string skipped = QuestionLayer(question);
    for (int i = question + 1; i < kQuestionCount; ++i)
        skipped += std::string(i + 1 < kQuestionCount ? ", " : " and ") + QuestionLayer(i);
    platform::SayLine("Skipped " + skipped + ": after a line that is not y, n or c, no more lines are read for the " +
                      "layer questions, so that no file name can reach the wrong layer");
    return platform::Answer::Cancel;
}

void StageLayers(console::Report& report, DialogState& dialogs, const WorldFile& world, BitmapState& bitmap,
                 LayerSlot (&layers)[kLayerCount]) {
    for (int i = 0; i < kLayerCount; ++i) {
        const RecordLayer& layer = kRecordLayers[i];
        const platform::Answer answer = AskLayerQuestion(dialogs, i + 1, layer.ExportTitle);
        if (answer == platform::Answer::Yes) StageExport(report, dialogs, world, bitmap, layers[i], layer);
        if (answer == platform::Answer::No) StageImport(report, dialogs, world, bitmap, layers[i], layer);
    }
    console::PrintLine("");
}
