#include <cstring>
#include <string>

#include "bitmap/bitmap_file.h"
#include "bitmap/import_source.h"
#include "driver/driver.h"
#include "report/console_text.h"

namespace {

// The path is kept because the pass reports failures by it and the dialogs
// reuse their buffer.
void Stage(bool& staged, LayerSlot& slot, const char (&path)[platform::kFileNameBufferSize]) {
    staged = true;
    std::memcpy(slot.Path, path, sizeof slot.Path);
}

void StageExport(DialogState& dialogs, const WldHeader& header, BitmapState& bitmap, LayerSlot& slot,
                 const RecordLayer& layer) {
    platform::FileDialog& dialog = dialogs.BitmapFileDialog;
    slot.ExportHandle = ChooseBitmapFile(dialog, BitmapUse::Export, layer.ExportTitle, layer.ProposedName);
    if (slot.ExportHandle == platform::kInvalidFile) return;
    const auto& path = dialogs.FileNameBuffer;  // where the dialog left its choice
    console::Print(std::string("Writing BMP header to ") + path + "...");
    // Sizes are 32-bit products, as the header fields hold them.
    if (WriteBmpHeader(bitmap.Header, slot.ExportHandle, layer.Block * header.Width, layer.Block * header.Height,
                       layer.Colours)) {
        Stage(slot.ExportStaged, slot, path);
        console::EndLine(console::Done());
    } else {
        const console::LineEnd end = HeaderError("writing", platform::LastError());
        platform::CloseFile(slot.ExportHandle);
        console::EndLine(end);
    }
}

void StageImport(DialogState& dialogs, const WldHeader& header, BitmapState& bitmap, LayerSlot& slot,
                 const RecordLayer& layer) {
    platform::FileDialog& dialog = dialogs.BitmapFileDialog;
    slot.ImportHandle = ChooseBitmapFile(dialog, BitmapUse::Import, layer.ImportTitle, "");
    if (slot.ImportHandle == platform::kInvalidFile) return;
    const auto& path = dialogs.FileNameBuffer;  // where the dialog left its choice
    console::Print(std::string("Reading ") + path + " header...");
    // Sizes are 32-bit products, as the header fields hold them. A file of
    // another kind is decoded here, so its refusal comes before any move.
    const ImportLayer target{layer.Name, layer.Colours, layer.Block * header.Width, layer.Block * header.Height,
                             layer.Block};
    std::string note;
    const console::LineEnd end = OpenImportSource(bitmap.Head, slot.ImportHandle, target, path, &slot.Import, &note);
    if (console::IsDone(end))
        Stage(slot.ImportStaged, slot, path);
    else
        platform::CloseFile(slot.ImportHandle);
    console::EndLine(end);
    if (!note.empty()) platform::SayLine(note);
}

}  // namespace

platform::Answer AskLayerQuestion(DialogState& dialogs, int question, const char* caption) {
    if (dialogs.LayerQuestionsStopped) return platform::Answer::Cancel;
    const platform::Answer answer = platform::MessageBoxYesNoCancel(kLayerQuestion, caption);
    if (answer != platform::Answer::NotAnAnswer) return answer;
    dialogs.LayerQuestionsStopped = true;
    std::string skipped = QuestionLayer(question);
    for (int i = question + 1; i < kQuestionCount; ++i)
        skipped += std::string(i + 1 < kQuestionCount ? ", " : " and ") + QuestionLayer(i);
    platform::SayLine("Skipped " + skipped + ": after a line that is not y, n or c, no more lines are read for the " +
                      "layer questions, so that no file name can reach the wrong layer");
    return platform::Answer::Cancel;
}

void StageLayers(DialogState& dialogs, const WldHeader& header, BitmapState& bitmap, LayerSlot (&layers)[kLayerCount]) {
    for (int i = 0; i < kLayerCount; ++i) {
        const RecordLayer& layer = kRecordLayers[i];
        const platform::Answer answer = AskLayerQuestion(dialogs, i + 1, layer.ExportTitle);
        if (answer == platform::Answer::Yes) StageExport(dialogs, header, bitmap, layers[i], layer);
        if (answer == platform::Answer::No) StageImport(dialogs, header, bitmap, layers[i], layer);
    }
    console::PrintLine("");
}
