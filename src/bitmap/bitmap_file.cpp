#include "bitmap/bitmap_file.h"

#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "bitmap/image_kinds.h"
#include "report/console_text.h"

namespace {

// Whether a name ends in ending, in any case.
bool EndsWith(std::string_view path, std::string_view ending) {
    if (path.size() < ending.size()) return false;
    for (std::size_t i = 0; i < ending.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(path[path.size() - ending.size() + i])) != ending[i]) return false;
    return true;
}

}  // namespace

void PrepareBitmapDialog(platform::FileDialog& dialog, BitmapUse use, const char* title) {
    // Both uses offer the kinds an import reads; an export's name picks BMP or PNG.
    static const std::string filterText = ImportFilterText(), filterPatterns = ImportFilterPatterns();
    dialog.Title = title;
    dialog.FilterText = filterText.c_str();
    dialog.FilterPattern = filterPatterns.c_str();
    dialog.DefaultExt = "BMP";
    dialog.Flags = use == BitmapUse::Export
                       ? platform::kOfnExplorer | platform::kOfnOverwritePrompt
                       : platform::kOfnExplorer | platform::kOfnFileMustExist | platform::kOfnHideReadOnly;
}

bool ChooseBitmapPath(platform::FileDialog& dialog, BitmapUse use, const char* title, const char* proposedName) {
    // The buffer's content is the dialog's proposal; an Open proposes nothing.
    PrepareBitmapDialog(dialog, use, title);
    if (use == BitmapUse::Export) {
        std::memset(dialog.FileBuffer, 0, dialog.FileBufferSize);
        std::strcpy(dialog.FileBuffer, proposedName);
        return platform::GetSaveFileName(dialog);
    }
    dialog.FileBuffer[0] = '\0';
    return platform::GetOpenFileName(dialog);
}

platform::FileHandle OpenBitmapFile(console::Report& report, const char* path, BitmapUse use, const char* worldPath) {
    const bool exporting = use == BitmapUse::Export;
    const platform::FileHandle file =
        exporting ? platform::OpenFile(path, platform::Share::None, platform::Disposition::CreateAlways)
                  : platform::OpenFile(path, platform::Share::Read, platform::Disposition::OpenExisting);
    if (file == platform::kInvalidFile) {
        const std::uint32_t code = platform::LastError();
        // The world is held by this run: that is why it cannot be a bitmap too.
        const std::string advice =
            std::strcmp(path, worldPath) != 0 || code != platform::InUseCode()
                ? std::string()
                : std::string(path) + " is the world file itself, which this run has open: " +
                      (exporting ? "an export needs a file of its own; choose another name (the proposed one)."
                                 : "choose the layer's bitmap, not the world.");
        console::PrintErrorLine(report, code, exporting ? "creating" : "opening", path, advice);
    } else if (exporting && NamesPng(path)) {
        platform::SayLine(std::string(path) + " is written as PNG (8 bits, the layer's palette)");
    } else if (exporting && !EndsWith(path, ".bmp")) {
        platform::SayLine(std::string(path) + " will hold a BMP: exports are BMP files unless their name ends in .png");
    }
    return file;
}

bool NamesPng(const char* path) { return EndsWith(path, ".png"); }

std::string RemoveUnfinishedExport(const char* path, const char* layer) {
    std::string target;
    const std::string named = std::string(path) + " (" + layer + ")";
    switch (platform::RemoveExport(path, &target)) {
        case platform::Removal::Removed:
            return "Removed " + named + ": its export did not complete, so it would have held part of the layer";
        case platform::Removal::Link:
            return named + " is a link, so it was not removed: " +
                   (target.empty() ? std::string("the file it leads to") : target) +
                   " is cut short, since the export did not complete; delete it or export again";
        case platform::Removal::Failed: break;
    }
    return named + " is cut short, since its export did not complete, and it could not be removed (" +
           platform::DescribeError(platform::LastError()).Meaning + "); delete it before using it";
}
