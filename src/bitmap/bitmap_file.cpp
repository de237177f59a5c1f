#include "bitmap/bitmap_file.h"

#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "report/console_text.h"

namespace {

// Whether a name ends in ".bmp", in any case.
bool EndsWithBmp(std::string_view path) {
    if (path.size() < 4) return false;
    std::string ending(path.substr(path.size() - 4));
    for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ending == ".bmp";
}

}  // namespace

platform::FileHandle ChooseBitmapFile(platform::FileDialog& dialog, BitmapUse use, const char* title,
                                      const char* proposedName) {
    // The buffer's content is the dialog's proposal; an Open proposes nothing.
    // Exports write BMP alone; imports read PNG as well.
    dialog.Title = title;
    dialog.FilterText = use == BitmapUse::Export ? "Bitmap files (*.bmp)" : "Image files (*.bmp;*.png)";
    dialog.FilterPattern = use == BitmapUse::Export ? "*.BMP" : "*.BMP;*.PNG";
    if (use == BitmapUse::Export) {
        std::memset(dialog.FileBuffer, 0, dialog.FileBufferSize);
        std::strcpy(dialog.FileBuffer, proposedName);
        dialog.Flags = platform::kOfnExplorer | platform::kOfnOverwritePrompt;
        if (!platform::GetSaveFileName(dialog)) return platform::kInvalidFile;
    } else {
        dialog.FileBuffer[0] = '\0';
        dialog.Flags = platform::kOfnExplorer | platform::kOfnFileMustExist | platform::kOfnHideReadOnly;
        if (!platform::GetOpenFileName(dialog)) return platform::kInvalidFile;
    }

    const char* path = dialog.FileBuffer;
    const platform::FileHandle file =
        use == BitmapUse::Export ? platform::OpenFile(path, platform::Share::None, platform::Disposition::CreateAlways)
                                 : platform::OpenFile(path, platform::Share::Read, platform::Disposition::OpenExisting);
    if (file == platform::kInvalidFile)
        console::PrintErrorLine(platform::LastError(), use == BitmapUse::Export ? "creating" : "opening", path);
    else if (use == BitmapUse::Export && !EndsWithBmp(path))
        platform::SayLine(std::string(path) + " will hold a BMP: exports are 8-bit BMP files whatever their name");
    return file;
}
