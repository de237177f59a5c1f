// Choosing a layer's bitmap file and opening it, the same for every layer.
#pragma once

#include "platform/platform.h"

enum class BitmapUse { Export, Import };

// The bitmap dialog with its title (and, for an export, the proposed name),
// then the chosen file: created empty, nobody else let in, for an export;
// opened as it is, others may read, for an import. A cancelled dialog prints
// nothing; a failed open prints its error line. Returns the open file, its
// path left in the dialog's buffer, or kInvalidFile.
platform::FileHandle ChooseBitmapFile(platform::FileDialog& dialog, BitmapUse use, const char* title,
                                      const char* proposedName);
