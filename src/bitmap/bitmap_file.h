// Choosing a layer's bitmap file and opening it, the same for every layer.
#pragma once

#include <string>

#include "platform/platform.h"
#include "report/console_text.h"

enum class BitmapUse { Export, Import };

// The bitmap dialog's title, filter and flags for a use.
void PrepareBitmapDialog(platform::FileDialog& dialog, BitmapUse use, const char* title);

// The bitmap dialog with its title, filter and flags (and, for an export,
// the proposed name). True leaves the chosen path in the dialog's buffer; a
// cancelled dialog prints nothing.
bool ChooseBitmapPath(platform::FileDialog& dialog, BitmapUse use, const char* title, const char* proposedName);

// The chosen file: created empty, nobody else let in, for an export; opened
// as it is, others may read, for an import. A failed open prints its error
// line, and names the world as such when it was chosen (worldPath).
platform::FileHandle OpenBitmapFile(console::Report& report, const char* path, BitmapUse use, const char* worldPath);

// Whether an export's name asks for a PNG: it ends in ".png", in any case.
bool NamesPng(const char* path);

// Removes an export that did not complete (its file closed); returns what
// standard error should say of it, with its layer, once the step's line is
// complete. A link there stays, and the note names its target.
std::string RemoveUnfinishedExport(const char* path, const char* layer);
