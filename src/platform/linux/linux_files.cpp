// Files on POSIX with the sharing behaviour of the Windows build: every file
// is opened for reading and writing, so two opens of one file conflict, both
// inside one run (a table of held files) and between runs (OFD locks).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/error_words.h"
#include "platform/platform.h"

namespace platform {
namespace {

std::uint32_t g_lastError = 0;

struct HeldFile {
    int Fd;
    dev_t Device;
    ino_t Inode;
    bool Locked;  // false where the file system takes no locks
};
std::vector<HeldFile> g_held;

bool Fail(int code) {
    g_lastError = static_cast<std::uint32_t>(code);
    return false;
}

FileHandle FailOpen(int fd, int code) {
    if (fd >= 0) close(fd);
    g_lastError = static_cast<std::uint32_t>(code);
    return kInvalidFile;
}

bool IsHeld(const struct stat& st) {
    for (const HeldFile& h : g_held)
        if (h.Device == st.st_dev && h.Inode == st.st_ino) return true;
    return false;
}

enum class Lock { Taken, Unsupported, Refused };

// Exclusive lock for the whole file, owned by this open file description.
// File systems without locks let the open go ahead unlocked.
Lock LockAgainstOtherRuns(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return Lock::Taken;
    return errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL ? Lock::Unsupported : Lock::Refused;
}

int Fd(FileHandle file) { return static_cast<int>(file); }

enum class Direction { Read, Write };

// Repeats one transfer call until count bytes are through, a read meets the
// end of the file, or the call fails for a reason other than a signal.
// transfer(at) moves bytes from offset at on and returns what the call did.
template <typename Transfer>
bool TransferAll(Direction direction, std::uint32_t count, std::uint32_t* done, Transfer transfer) {
    std::uint32_t moved = 0;
    while (moved < count) {
        const ssize_t n = transfer(moved);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || (n == 0 && direction == Direction::Write)) {
            *done = moved;
            return Fail(n < 0 ? errno : EIO);  // a write must take every byte
        }
        if (n == 0) break;
        moved += static_cast<std::uint32_t>(n);
    }
    *done = moved;
    return true;
}

// Whether a file at path is held open by this run or locked by another, so
// that renaming over it would pull it from under its user.
bool HeldAt(const char* path) {
    struct stat st {};
    if (lstat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (IsHeld(st)) return true;
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return false;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool locked = fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    close(fd);
    return locked;
}

// A file that grants write access to nobody: the read-only mark of this layer.
bool IsReadOnly(const char* path) {
    struct stat st {};
    return lstat(path, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

constexpr std::uint64_t kKernelCopyChunk = std::uint64_t{1} << 30;
constexpr std::uint32_t kBufferCopyChunk = 4 << 20;

// Reads and writes, for file pairs the kernel will not copy between.
bool CopyByBuffer(FileHandle from, FileHandle to, std::uint64_t at, std::uint64_t size) {
    const Memory<std::uint8_t> buffer = Allocate<std::uint8_t>(kBufferCopyChunk);
    while (at < size) {
        const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(size - at, kBufferCopyChunk));
        std::uint32_t got = 0, put = 0;
        if (!ReadFileAt(from, at, buffer.get(), count, &got)) return false;
        if (got == 0) return Fail(EIO);  // a copy shorter than the file is no copy
        if (!WriteFileAt(to, at, buffer.get(), got, &put)) return false;
        at += got;
    }
    return true;
}

// The kernel copies without the bytes passing through us, and a file system
// that shares blocks between files makes the copy a clone.
bool CopyContents(FileHandle from, FileHandle to, std::uint64_t size) {
    loff_t in = 0, out = 0;
    while (static_cast<std::uint64_t>(in) < size) {
        const std::uint64_t count = std::min(size - static_cast<std::uint64_t>(in), kKernelCopyChunk);
        const ssize_t n = copy_file_range(Fd(from), &in, Fd(to), &out, count, 0);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        // Nothing copied where bytes remain: some file systems say so instead
        // of an error; reads and writes then do it, or say why they cannot.
        if (n == 0 || errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)
            return CopyByBuffer(from, to, static_cast<std::uint64_t>(in), size);
        return Fail(errno);
    }
    return true;
}

bool IsLink(const char* path) {
    struct stat st {};
    return lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
}

// The file at path, or a new one: a link that points nowhere is never
// followed to create its target (a copy tool refuses it too).
int OpenOrCreate(const char* path) {
    for (;;) {
        const int fd = open(path, O_RDWR | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT) return fd;
        const int created = open(path, O_RDWR | O_CLOEXEC | O_CREAT | O_EXCL, 0666);
        if (created >= 0 || errno != EEXIST) return created;
        if (IsLink(path)) {
            errno = ELOOP;
            return -1;
        }
        // Another process made the file between the two opens: open it.
    }
}

}  // namespace

FileHandle OpenFile(const char* path, Share /*share*/, Disposition disposition) {
    // Without O_TRUNC: a file is emptied only once we know it is not in use.
    const int fd = disposition == Disposition::CreateAlways ? OpenOrCreate(path) : open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) return FailOpen(-1, errno);

    struct stat st {};
    if (fstat(fd, &st) != 0) return FailOpen(fd, errno);
    // No write bit for anybody is the read-only attribute, also for root.
    if ((st.st_mode & 0222) == 0) return FailOpen(fd, EACCES);
    if (IsHeld(st)) return FailOpen(fd, EBUSY);
    const Lock lock = LockAgainstOtherRuns(fd);
    if (lock == Lock::Refused) return FailOpen(fd, EBUSY);
    if (disposition == Disposition::CreateAlways && ftruncate(fd, 0) != 0) return FailOpen(fd, errno);

    g_held.push_back({fd, st.st_dev, st.st_ino, lock == Lock::Taken});
    return fd;
}

FileHandle CreateNewFile(const char* path, FileHandle modeOf) {
    // A stale file or a planted link goes first; unlink never follows a link.
    if (unlink(path) != 0 && errno != ENOENT) return FailOpen(-1, errno);
    const int fd = open(path, O_RDWR | O_CLOEXEC | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (fd < 0) return FailOpen(-1, errno);
    struct stat from {};
    const mode_t mode = modeOf == kInvalidFile ? 0600 : fstat(Fd(modeOf), &from) == 0 ? from.st_mode & 0777 : 0600;
    if (fchmod(fd, mode) != 0) {
        const int code = errno;
        close(fd);
        unlink(path);
        return FailOpen(-1, code);
    }
    struct stat st {};
    fstat(fd, &st);
    g_held.push_back({fd, st.st_dev, st.st_ino, true});
    return fd;
}

FileHandle OpenForReading(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return FailOpen(-1, errno);
    return fd;
}

bool Exists(const char* path) {
    struct stat st {};
    return lstat(path, &st) == 0;
}

bool RemoveFile(const char* path) { return unlink(path) == 0 || Fail(errno); }

Removal RemoveExport(const char* path, std::string* target) {
    if (IsLink(path)) {
        char text[4096];
        const ssize_t n = readlink(path, text, sizeof text - 1);
        *target = n > 0 ? std::string(text, static_cast<std::size_t>(n)) : std::string();
        return Removal::Link;
    }
    if (unlink(path) == 0) return Removal::Removed;
    Fail(errno);
    return Removal::Failed;
}

bool IsLocked(FileHandle file) {
    for (const HeldFile& h : g_held)
        if (h.Fd == Fd(file)) return h.Locked;
    return false;
}

bool FlushFile(FileHandle file) { return fsync(Fd(file)) == 0 || Fail(errno); }

// A rename lasts only once the folder that holds the name is on disk.
bool FlushFolderOf(const char* path) {
    std::string folder(path);
    const std::size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Fail(errno);
    // Some file systems cannot flush a folder (EINVAL): they have nothing to wait for.
    const bool ok = fsync(fd) == 0 || errno == EINVAL;
    const int code = errno;
    close(fd);
    return ok || Fail(code);
}

std::uint32_t ShortReadCode() { return EIO; }
std::uint32_t InUseCode() { return EBUSY; }

bool ReadFile(FileHandle file, void* buffer, std::uint32_t count, std::uint32_t* done) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    return TransferAll(Direction::Read, count, done,
                       [&](std::uint32_t at) { return read(Fd(file), bytes + at, count - at); });
}

bool WriteFile(FileHandle file, const void* buffer, std::uint32_t count, std::uint32_t* done) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    return TransferAll(Direction::Write, count, done,
                       [&](std::uint32_t at) { return write(Fd(file), bytes + at, count - at); });
}

bool ReadFileAt(FileHandle file, std::uint64_t position, void* buffer, std::uint32_t count, std::uint32_t* done) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    return TransferAll(Direction::Read, count, done, [&](std::uint32_t at) {
        return pread(Fd(file), bytes + at, count - at, static_cast<off_t>(position + at));
    });
}

bool WriteFileAt(FileHandle file, std::uint64_t position, const void* buffer, std::uint32_t count,
                 std::uint32_t* done) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    return TransferAll(Direction::Write, count, done, [&](std::uint32_t at) {
        return pwrite(Fd(file), bytes + at, count - at, static_cast<off_t>(position + at));
    });
}

bool ReadExactlyAt(FileHandle file, std::uint64_t position, void* buffer, std::uint32_t count) {
    std::uint32_t got = 0;
    if (!ReadFileAt(file, position, buffer, count, &got)) return false;
    return got == count || Fail(EIO);
}

bool GetFileSize(FileHandle file, std::uint64_t* size) {
    struct stat st {};
    if (fstat(Fd(file), &st) != 0) return Fail(errno);
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool CloseFile(FileHandle file) {
    for (auto it = g_held.begin(); it != g_held.end(); ++it) {
        if (it->Fd == Fd(file)) {
            g_held.erase(it);
            break;
        }
    }
    if (close(Fd(file)) != 0) return Fail(errno);
    return true;
}

std::uint32_t LastError() { return g_lastError; }

bool SaveFileCopy(FileHandle source, const char* tempPath, const char* path, CopyStep* failed) {
    *failed = CopyStep::Create;
    struct stat from {};
    if (fstat(Fd(source), &from) != 0) return Fail(errno);
    // The copy is readable by those who may read the world, and no others.
    const FileHandle temp = CreateNewFile(tempPath, source);
    if (temp == kInvalidFile) return false;
    *failed = CopyStep::Write;
    bool ok = CopyContents(source, temp, static_cast<std::uint64_t>(from.st_size));
    if (ok) {
        *failed = CopyStep::Flush;
        ok = fsync(Fd(temp)) == 0 || Fail(errno);
    }
    const std::uint32_t code = g_lastError;
    const bool closed = CloseFile(temp);
    if (!ok) g_lastError = code;
    ok = ok && closed;
    if (ok) {
        *failed = CopyStep::Rename;
        // A read-only backup is not replaced, as on Windows.
        ok = HeldAt(path) ? Fail(EBUSY) : IsReadOnly(path) ? Fail(EACCES) : rename(tempPath, path) == 0 || Fail(errno);
    }
    if (!ok) {
        unlink(tempPath);
        return false;
    }
    *failed = CopyStep::Flush;
    return FlushFolderOf(path);
}

// The table holds Linux's numbers.
static_assert(EBUSY == 16 && EACCES == 13 && ENOSPC == 28 && ENAMETOOLONG == 36 && EFBIG == 27 && EROFS == 30);

words::System words::ThisSystem() { return words::System::Posix; }

std::string words::SystemErrorText(std::uint32_t code) { return std::strerror(static_cast<int>(code)); }

}  // namespace platform
