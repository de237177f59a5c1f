// Dialogs for a person at a terminal: line editing, file name completion and
// a history of the run's paths for file names, single keys for questions.
// Used only when standard input is a terminal; scripts keep the plain line
// protocol.
#pragma once

#include <string>

#include "platform/platform.h"

namespace platform::terminal {

bool IsInteractive();

// Remembers the terminal's mode at start; Restore() puts it back, also from
// a signal handler.
void SaveInitialMode();
void Restore();

// Colour for headings, when standard error is a terminal and NO_COLOR is unset.
std::string Heading(const std::string& text);
void Note(const std::string& text);

// Tab completes names in folder (home for "~/") that fit the patterns
// ("*.BMP", or "*.BMP;*.PNG"), and folders.
void SetCompletion(const std::string& folder, const std::string& home, const std::string& pattern);

// One edited line, pre-filled with prefill; false when the user cancels
// (Esc or Ctrl-D).
bool ReadFileName(const std::string& prefill, std::string* line);
void RememberPath(const std::string& path);

// The Yes/No/Cancel box: y, n, c, Enter for Yes, Esc or Ctrl-D for Cancel.
Answer AskYesNoCancel(const std::string& caption, const std::string& text);
// Replace an existing file? y for Yes; Esc or Ctrl-D cancels; any other key
// is No.
Answer AskReplace(const std::string& path);

}  // namespace platform::terminal
