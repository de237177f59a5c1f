// The narrow layer between the tool and the operating system: files, file
// dialogs, the message box, the console and fatal runtime errors. One
// implementation per operating system sits behind these declarations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Every path the tool handles fits here with its zero byte; the dialogs
// refuse longer ones. A path may be 319 long as the system counts it: 319
// bytes on Linux, 319 UTF-16 units on Windows, whose paths the tool keeps as
// UTF-8, up to three bytes for each unit.
inline constexpr std::uint32_t kLongestPath = 319;
#if defined(_WIN32)
inline constexpr std::uint32_t kFileNameBufferSize = 3 * kLongestPath + 1;
#else
inline constexpr std::uint32_t kFileNameBufferSize = kLongestPath + 1;
#endif

// ---- Files ---------------------------------------------------------------

using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

// Every file is opened for reading and writing. Read sharing lets other
// openers read while we hold it; None lets nobody else in.
enum class Share { None, Read };
enum class Disposition { OpenExisting, CreateAlways };

// Failure returns kInvalidFile; LastError() then gives the reason. A create
// never makes a file through a link that points nowhere: that fails as a
// loop of links (ELOOP 40); a link to an existing file opens that file.
FileHandle OpenFile(const char* path, Share share, Disposition disposition);

// Reads up to count bytes; at or past the end of the file it succeeds with
// fewer bytes (or none) and leaves the rest of the buffer untouched.
bool ReadFile(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* done);
// Writes all bytes or fails; *done says how many went out before a failure.
bool WriteFile(FileHandle file, const void* buffer, std::uint32_t count, std::uint32_t* done);
// Positioned transfers that leave the file position alone.
bool ReadFileAt(FileHandle file, std::uint64_t position, void* buffer, std::uint32_t count, std::uint32_t* done);
bool WriteFileAt(FileHandle file, std::uint64_t position, const void* buffer, std::uint32_t count, std::uint32_t* done);
bool GetFileSize(FileHandle file, std::uint64_t* size);
bool CloseFile(FileHandle file);

// The operating system's code for the last failed call of this layer.
std::uint32_t LastError();

// The system's codes for a read that came up short where bytes were expected
// (EIO 5; ERROR_HANDLE_EOF 38 on Windows) and for a file in use (EBUSY 16;
// ERROR_SHARING_VIOLATION 32).
std::uint32_t ShortReadCode();
std::uint32_t InUseCode();

// Reads exactly count bytes at position; fewer is a failure with ShortReadCode().
bool ReadExactlyAt(FileHandle file, std::uint64_t position, void* buffer, std::uint32_t count);

// Whether an open file is locked against other runs: false only where the
// file system takes no locks and the open went ahead without one.
bool IsLocked(FileHandle file);

// The file's data on disk.
bool FlushFile(FileHandle file);
// The folder that holds path on disk, so that a name made or removed there
// lasts; nothing to do on Windows, whose file systems journal their names.
bool FlushFolderOf(const char* path);

// A new empty file at path, never through a link: whatever stands there by
// that name (a stale file, a link) is first removed, never followed, then
// the file is created exclusively without following links. Its permission
// bits are those of modeOf (kInvalidFile: read and write for the owner),
// set through the new handle. Fails when another process takes the name
// between the two steps.
FileHandle CreateNewFile(const char* path, FileHandle modeOf);

// Opens an existing file for reading alone, held against nobody (the backup
// read back into the world).
FileHandle OpenForReading(const char* path);

// Whether anything stands at path; a link is not followed.
bool Exists(const char* path);

// Removes the name path; a link is removed itself, never its target.
bool RemoveFile(const char* path);

// Removes an export that did not complete. Only the last part of the path is
// looked at: where it is a symbolic link, nothing is removed and target
// receives what it points to.
enum class Removal { Removed, Link, Failed };
Removal RemoveExport(const char* path, std::string* target);

// The calls of SaveFileCopy, to say which one failed.
enum class CopyStep { Create, Write, Flush, Rename };

// Copies the open file source, whole, to path: written to tempPath (in the
// same folder, made by CreateNewFile), flushed to disk, renamed over whatever
// stands at path (a link there is replaced, never its target), the folder
// flushed; so path holds either what it held before or the whole copy. Reads
// through the handle, leaving its position alone. A file that this run (or
// another) holds open at path is not replaced (the code of a file in use),
// nor a read-only one (access denied). On failure tempPath is gone again,
// LastError() gives the failed call's code and *failed its step.
bool SaveFileCopy(FileHandle source, const char* tempPath, const char* path, CopyStep* failed);

// What such a code means, in words ("the disk is full"), and the next step
// that helps in general; one table for both systems, the system's own words
// for a code it does not hold.
struct ErrorMeaning {
    std::string Meaning;
    std::string Next;
};
ErrorMeaning DescribeError(std::uint32_t code);

// ---- Dialogs and message box --------------------------------------------

inline constexpr std::uint32_t kOfnOverwritePrompt = 0x00002;
inline constexpr std::uint32_t kOfnHideReadOnly = 0x00004;
inline constexpr std::uint32_t kOfnFileMustExist = 0x01000;
inline constexpr std::uint32_t kOfnExplorer = 0x80000;

// The buttons of a Yes/No/Cancel box, numbered as Windows numbers them, and
// what a script's line that is none of the box's words gives: no button.
enum class Answer { NotAnAnswer = -1, Cancel = 2, Yes = 6, No = 7 };

// Answers given ahead (from the command line), one for each question in
// turn: the next dialog or box takes the next answer and is not shown. A box
// takes Button. A dialog takes Path as if it were typed, with its rules, but
// a relative Path is taken from the current folder; an empty Path takes the
// proposed name. Only the first answer (the world) moves the folder the
// dialogs start in, so the proposed names land beside the world. A Save
// dialog takes an existing file only if Replace is set. A path that cannot
// be used gets its note on standard error and cancels its dialog. A plain
// record of the run's state, which the driver keeps and the questions take.
struct GivenAnswer {
    Answer Button;
    std::string Path;
};
struct GivenAnswers {
    std::vector<GivenAnswer> Answers;
    std::size_t Next;  // the answer the next question takes
    bool Replace;
    bool Refused;  // a question could not use its answer
};

// True when every given answer was asked for and taken by its question.
inline bool AllTaken(const GivenAnswers& given) { return !given.Refused && given.Next == given.Answers.size(); }

struct FileDialog {
    const char* Title;
    const char* FilterText;     // one filter entry: its description...
    const char* FilterPattern;  // ...and its patterns, ";" between them ("*.BMP;*.PNG")
    const char* DefaultExt;     // nullptr: none
    std::uint32_t Flags;
    char* FileBuffer;  // proposed name on entry, chosen full path on success
    std::uint32_t FileBufferSize;
    GivenAnswers* Given;  // answers given ahead, taken in turn; nullptr: none
};

// Nonzero (true) leaves the chosen full path in FileBuffer; false means
// cancelled or failed and leaves the buffer as it was.
bool GetOpenFileName(FileDialog& dialog);
bool GetSaveFileName(FileDialog& dialog);

// A Yes/No/Cancel question, or the next of the given answers; a box closed
// without an answer is Cancel.
Answer MessageBoxYesNoCancel(const char* text, const char* caption, GivenAnswers* given);

// The path that an answer given ahead names in this dialog, by the dialog's
// rules (relative to the current folder, default extensions, pasted-path
// cleaning, "~/"); empty when the dialog would not take it. Asks nothing,
// says nothing and takes no given answer.
std::string ResolveGivenPath(const std::string& typed, const FileDialog& dialog);

// ---- Process, console, fatal errors --------------------------------------

// Locale, signal dispositions and fault reporting; call first in main.
void InitProcess();

// The last step of a run that ends normally; returns the exit code. On
// Windows a console made for this run alone waits for Enter first, so that
// its last lines can be read before the window closes.
int FinishRun(int exitCode);

// One output statement: the bytes go out at once (a Windows console window
// is given the UTF-8 text as characters). A failed write ends the run with
// runtime error 101.
void ConsoleWrite(std::string_view bytes);
// Like ConsoleWrite, for text holding the code page 437 frame bytes of the
// banner; where the console expects UTF-8 they become box-drawing characters.
void ConsoleWriteFrame(std::string_view cp437);

// Text that is not the report (help, version): its lines, ended by '\n'
// here, end as the system ends lines. Written and checked as ConsoleWrite.
void ConsoleWriteText(std::string_view text);

// One line on standard error, ended as the system ends lines: what the tool
// says beyond the report (notes, advice after an error line). Standard
// output stays the report alone. A failed write is not an error of the run.
void SayLine(std::string_view text);

// The arguments after the program's name, as UTF-8.
std::vector<std::string> CommandLine(int argc, char** argv);

// Interrupts (Ctrl-C, a request to end) that arrive between these two calls
// are held until the second; then standard error says that the move was
// finished first, and the run ends as they would have ended it.
// Brackets each move of map data, so that no world is left half-imported.
void HoldInterrupts();
void ReleaseInterrupts();

// Ends the run with "Runtime error n at 0x...", a call trace and exit code n.
[[noreturn]] void RuntimeError(int code, const void* address);

// Work on a thread of its own, for a piece that shares nothing with the
// rest while it runs: StartWork runs run(args) there (or here, at once,
// where no thread can be had), FinishWork waits until it is done.
struct Work {
    void* Thread;  // nullptr: it ran at once
    void (*Run)(void*);
    void* Args;
};
void StartWork(Work& work, void (*run)(void*), void* args);
void FinishWork(Work& work);

// Memory whose size comes from the world file, zero-filled: runtime error
// 204 at 2^31 bytes or more, 203 when the system has none left. Never
// returns null.
void* AllocateMemory(std::uint64_t size);
void ReleaseMemory(void* memory);

struct ReleaseMemoryDeleter {
    void operator()(void* memory) const { ReleaseMemory(memory); }
};
template <typename T>
using Memory = std::unique_ptr<T[], ReleaseMemoryDeleter>;

// count elements of T through AllocateMemory; a count too large to multiply
// out is a size of 2^31 or more all the same.
template <typename T>
Memory<T> Allocate(std::uint64_t count) {
    const std::uint64_t size = count > UINT64_MAX / sizeof(T) ? UINT64_MAX : count * sizeof(T);
    return Memory<T>(static_cast<T*>(AllocateMemory(size)));
}

}  // namespace platform
