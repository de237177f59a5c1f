// Files on POSIX with the sharing behaviour of the Windows build: every file
// is opened for reading and writing, so two opens of one file conflict, both
// inside one run (a table of held files) and between runs (OFD locks).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

// Exclusive lock for the whole file, owned by this open file description.
// File systems without locks let the open go ahead unlocked.
bool LockAgainstOtherRuns(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
    return errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL;
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

}  // namespace

FileHandle OpenFile(const char* path, Share /*share*/, Disposition disposition) {
    // Without O_TRUNC: a file is emptied only once we know it is not in use.
    const int flags = O_RDWR | O_CLOEXEC | (disposition == Disposition::CreateAlways ? O_CREAT : 0);
    const int fd = open(path, flags, 0666);
    if (fd < 0) return FailOpen(-1, errno);

    struct stat st {};
    if (fstat(fd, &st) != 0) return FailOpen(fd, errno);
    // No write bit for anybody is the read-only attribute, also for root.
    if ((st.st_mode & 0222) == 0) return FailOpen(fd, EACCES);
    if (IsHeld(st)) return FailOpen(fd, EBUSY);
    if (!LockAgainstOtherRuns(fd)) return FailOpen(fd, EBUSY);
    if (disposition == Disposition::CreateAlways && ftruncate(fd, 0) != 0) return FailOpen(fd, errno);

    g_held.push_back({fd, st.st_dev, st.st_ino});
    return fd;
}

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

bool SeekFile(FileHandle file, std::uint64_t position) {
    if (position > static_cast<std::uint64_t>(INT64_MAX)) return Fail(EINVAL);
    if (lseek(Fd(file), static_cast<off_t>(position), SEEK_SET) < 0) return Fail(errno);
    return true;
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

// The table holds Linux's numbers.
static_assert(EBUSY == 16 && EACCES == 13 && ENOSPC == 28 && ENAMETOOLONG == 36 && EFBIG == 27 && EROFS == 30);

std::string DescribeError(std::uint32_t code) {
    const std::string head = "Error " + std::to_string(code) + " means ";
    if (const char* words = words::WordsFor(code, words::System::Posix)) return head + words;
    return head + "\"" + std::strerror(static_cast<int>(code)) +
           "\" here. Check the file and its folder, then run again.";
}

}  // namespace platform
