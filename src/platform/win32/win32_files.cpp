// Files on Windows: the operating system does the sharing, so this is a thin
// layer over the kernel32 calls with 64-bit positions throughout. Paths are
// UTF-8 and reach the system as UTF-16.
#include "platform/error_words.h"
#include "platform/platform.h"
#include "platform/win32/wide_text.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace platform {
namespace {

DWORD g_lastError = 0;

bool Fail() {
    g_lastError = ::GetLastError();
    return false;
}

HANDLE Handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

bool Position(HANDLE handle, std::int64_t distance, DWORD from, std::uint64_t* result = nullptr) {
    LARGE_INTEGER move, now;
    move.QuadPart = distance;
    if (!::SetFilePointerEx(handle, move, &now, from)) return Fail();
    if (result != nullptr) *result = static_cast<std::uint64_t>(now.QuadPart);
    return true;
}

// Transfers at a position, leaving the file position where it was.
template <typename Transfer>
bool AtPosition(FileHandle file, std::uint64_t position, Transfer transfer) {
    std::uint64_t saved = 0;
    if (!Position(Handle(file), 0, FILE_CURRENT, &saved)) return false;
    if (!Position(Handle(file), static_cast<std::int64_t>(position), FILE_BEGIN)) return false;
    const bool ok = transfer();
    const DWORD error = g_lastError;
    Position(Handle(file), static_cast<std::int64_t>(saved), FILE_BEGIN);
    g_lastError = error;
    return ok;
}

}  // namespace

FileHandle OpenFile(const char* path, Share share, Disposition disposition) {
    const HANDLE handle = ::CreateFileW(
        SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, share == Share::Read ? FILE_SHARE_READ : 0, nullptr,
        disposition == Disposition::CreateAlways ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_ARCHIVE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        g_lastError = ::GetLastError();
        return kInvalidFile;
    }
    return reinterpret_cast<FileHandle>(handle);
}

namespace {

// Repeats one transfer call until count bytes are through or a read meets
// the end of the file; a write must take every byte. call(at, &n) moves
// bytes from offset at on.
template <typename Call>
bool TransferAll(bool write, std::uint32_t count, std::uint32_t* done, Call call) {
    std::uint32_t moved = 0;
    while (moved < count) {
        DWORD n = 0;
        if (!call(moved, &n)) {
            *done = moved;
            return Fail();
        }
        if (n == 0) break;
        moved += n;
    }
    *done = moved;
    return !write || moved == count || Fail();
}

}  // namespace

bool ReadFile(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* done) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    return TransferAll(false, count, done, [&](std::uint32_t at, DWORD* n) {
        return ::ReadFile(Handle(file), bytes + at, count - at, n, nullptr) != 0;
    });
}

bool WriteFile(FileHandle file, const void* buffer, std::uint32_t count, std::uint32_t* done) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    return TransferAll(true, count, done, [&](std::uint32_t at, DWORD* n) {
        return ::WriteFile(Handle(file), bytes + at, count - at, n, nullptr) != 0;
    });
}

bool ReadFileAt(FileHandle file, std::uint64_t position, void* buffer, std::uint32_t count, std::uint32_t* done) {
    return AtPosition(file, position, [&] { return ReadFile(file, buffer, count, done); });
}

bool WriteFileAt(FileHandle file, std::uint64_t position, const void* buffer, std::uint32_t count,
                 std::uint32_t* done) {
    return AtPosition(file, position, [&] { return WriteFile(file, buffer, count, done); });
}

bool GetFileSize(FileHandle file, std::uint64_t* size) {
    LARGE_INTEGER value;
    if (!::GetFileSizeEx(Handle(file), &value)) return Fail();
    *size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

bool CloseFile(FileHandle file) { return ::CloseHandle(Handle(file)) || Fail(); }

std::uint32_t LastError() { return g_lastError; }

std::uint32_t ShortReadCode() { return ERROR_HANDLE_EOF; }
std::uint32_t InUseCode() { return ERROR_SHARING_VIOLATION; }

bool ReadExactlyAt(FileHandle file, std::uint64_t position, void* buffer, std::uint32_t count) {
    std::uint32_t got = 0;
    if (!ReadFileAt(file, position, buffer, count, &got)) return false;
    if (got == count) return true;
    g_lastError = ERROR_HANDLE_EOF;
    return false;
}

// The system's share modes hold every file the tool opens.
bool IsLocked(FileHandle /*file*/) { return true; }

bool FlushFile(FileHandle file) { return ::FlushFileBuffers(Handle(file)) || Fail(); }

bool FlushFolderOf(const char* /*path*/) { return true; }

FileHandle CreateNewFile(const char* path, FileHandle /*modeOf*/) {
    const std::wstring wide = SystemPath(path);
    // A stale file or a link goes first; deleting a link never touches its target.
    if (!::DeleteFileW(wide.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
        g_lastError = ::GetLastError();
        return kInvalidFile;
    }
    const HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_ARCHIVE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        g_lastError = ::GetLastError();
        return kInvalidFile;
    }
    return reinterpret_cast<FileHandle>(handle);
}

FileHandle OpenForReading(const char* path) {
    const HANDLE handle = ::CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        g_lastError = ::GetLastError();
        return kInvalidFile;
    }
    return reinterpret_cast<FileHandle>(handle);
}

bool Exists(const char* path) { return ::GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool RemoveFile(const char* path) { return ::DeleteFileW(SystemPath(path).c_str()) || Fail(); }

Removal RemoveExport(const char* path, std::string* /*target*/) {
    const DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Removal::Link;
    if (::DeleteFileW(SystemPath(path).c_str())) return Removal::Removed;
    Fail();
    return Removal::Failed;
}

// The world is held against other openers, so the copy reads through the
// run's own handle; the rename writes through to disk, folder entry included.
bool SaveFileCopy(FileHandle source, const char* tempPath, const char* path, CopyStep* failed) {
    const std::wstring temp = SystemPath(tempPath), target = SystemPath(path);
    std::uint64_t size = 0;
    *failed = CopyStep::Create;
    if (!GetFileSize(source, &size)) return false;
    const FileHandle made = CreateNewFile(tempPath, source);
    if (made == kInvalidFile) return false;
    const HANDLE copy = Handle(made);

    *failed = CopyStep::Write;
    constexpr std::uint32_t kChunk = 4 << 20;
    const Memory<std::uint8_t> buffer = Allocate<std::uint8_t>(kChunk);
    bool ok = true;
    for (std::uint64_t at = 0; ok && at < size;) {
        const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(size - at, kChunk));
        std::uint32_t got = 0, put = 0;
        ok = ReadFileAt(source, at, buffer.get(), count, &got);
        if (ok && got == 0) {  // a copy shorter than the file is no copy
            g_lastError = ERROR_HANDLE_EOF;
            ok = false;
        }
        ok = ok && WriteFile(reinterpret_cast<FileHandle>(copy), buffer.get(), got, &put);
        at += got;
    }
    if (ok) {
        *failed = CopyStep::Flush;
        ok = ::FlushFileBuffers(copy) || Fail();
    }
    const DWORD code = g_lastError;
    const bool closed = ::CloseHandle(copy) || Fail();
    if (!ok) g_lastError = code;
    ok = ok && closed;

    if (ok) {
        *failed = CopyStep::Rename;
        // Replacing a file that somebody holds open fails as "access denied";
        // in use is what it is.
        const HANDLE held =
            ::CreateFileW(target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
        if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
        const DWORD attributes = ::GetFileAttributesW(target.c_str());
        if (held == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION) {
            g_lastError = ERROR_SHARING_VIOLATION;
            ok = false;
        } else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            // The system would replace a read-only file here; the Linux build refuses it, and so do we.
            g_lastError = ERROR_ACCESS_DENIED;
            ok = false;
        } else {
            ok = ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
                 Fail();
        }
    }
    if (!ok) {
        const DWORD error = g_lastError;
        ::DeleteFileW(temp.c_str());
        g_lastError = error;
    }
    return ok;
}

words::System words::ThisSystem() { return words::System::Windows; }

// The system's own words for a code, on one line.
std::string words::SystemErrorText(std::uint32_t code) {
    wchar_t text[512];
    DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                         nullptr, code, 0, text, sizeof text / sizeof text[0], nullptr);
    while (length > 0 && (text[length - 1] == L' ' || text[length - 1] == L'.')) --length;
    return length > 0 ? Utf8(std::wstring_view(text, length)) : std::string("an error unknown to the system");
}

}  // namespace platform
