// Standard error and the terminal for the dialogs: every prompt and note,
// and for a person at a terminal line editing, file name completion, a
// history of the run's paths and single-key questions. Scripts keep the
// plain line protocol.
#pragma once

#include <termios.h>

#include <csignal>
#include <string>

#include "platform/platform.h"

struct editline;
struct history;

namespace platform::terminal {

// What the dialogs keep from one question to the next, in one record. The
// signal handlers (a stop, a resize, an interrupt, a fault) reach it through
// the one pointer that Attach sets; the line editor's callbacks through the
// editor's client data.
struct TerminalState {
    // The folder of the file chosen last in this run, where a dialog starts;
    // empty until the first dialog takes the current directory.
    std::string DialogFolder;
    bool ScriptStarted;  // a script's first line is read: only it may carry a byte-order mark
    bool PromptOpen;     // a prompt on standard error waits for the rest of its line

    // The terminal's mode at start, put back on every exit.
    termios InitialMode;
    volatile sig_atomic_t HaveInitialMode;
    // While a question waits, a stop gives the shell LineMode back and the
    // continue takes ReadMode again; the reader then draws the prompt anew.
    termios LineMode;
    termios ReadMode;
    bool HaveEditorMode;  // ReadMode holds the line editor's own mode yet
    volatile sig_atomic_t Continued;
    volatile sig_atomic_t Resized;

    editline* Editor;  // made for the first file name read at a terminal
    history* Paths;    // the paths chosen in this run, for Up and Down
    // What Tab completes against: the dialog's folder, home and patterns;
    // and the line a Tab could not complete further, so that a second Tab
    // on it lists the choices.
    std::string CompleteFolder;
    std::string CompleteHome;
    std::string CompletePatterns;
    std::string LastTab;
};

// The record the signal handlers use from now on; the terminal's mode at
// start is kept in it.
void Attach(TerminalState& state);
// Attaches the dialogs' record (linux_dialogs.cpp); InitProcess calls it.
void StartDialogs();
// Puts the terminal's mode at start back; safe in a signal handler.
void Restore();

bool IsInteractive();

// Text on standard error at once: every prompt and note of the dialogs.
void Say(TerminalState& state, const std::string& text);
// A note on a line of its own (in colour at a terminal).
void Note(TerminalState& state, const std::string& text);
// Colour for headings, when standard error is a terminal and NO_COLOR is unset.
std::string Heading(const std::string& text);

// Tab completes names in folder (home for "~/") that fit the patterns
// ("*.BMP", or "*.BMP;*.PNG"), and folders.
void SetCompletion(TerminalState& state, const std::string& folder, const std::string& home,
                   const std::string& patterns);

// One edited line, pre-filled with prefill; false when the user cancels
// (Esc or Ctrl-D).
bool ReadFileName(TerminalState& state, const std::string& prefill, std::string* line);
void RememberPath(TerminalState& state, const std::string& path);

// The Yes/No/Cancel box: y, n, c, Enter for Yes, Esc or Ctrl-D for Cancel.
Answer AskYesNoCancel(TerminalState& state, const std::string& caption, const std::string& text);
// Replace an existing file? y for Yes; Esc or Ctrl-D cancels; any other key
// is No.
Answer AskReplace(TerminalState& state, const std::string& path);

}  // namespace platform::terminal
