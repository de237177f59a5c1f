// What an error code of LastError() means, in words, with the next step: one
// table for both systems, whose numbers differ (Linux's errno, Windows'
// GetLastError).
#pragma once

#include <cstdint>
#include <string>

namespace platform::words {

// What a code means, and the next step that helps in general.
struct Words {
    const char* Meaning;
    const char* Next;
};

inline constexpr Words kInUse = {"the file is in use",
                                 "Another program, another run of velmarsh or another layer of this run has it open: "
                                 "close it there (or choose another file), then run again."};
inline constexpr Words kAccessDenied = {"access denied: the file is read-only, or you may not change it or its folder",
                                        "Make it writable (clear its read-only mark or give yourself write "
                                        "permission), or work on a copy in a folder of your own."};
inline constexpr Words kReadOnlyDisk = {"the disk is read-only (write-protected, or mounted read-only)",
                                        "Copy the world and its bitmaps to a writable disk and run there."};
inline constexpr Words kDiskFull = {"the disk is full (or your quota on it is used up)",
                                    "Free some space or choose another disk, then run again."};
inline constexpr Words kNotFound = {"the file, or a folder on its path, does not exist",
                                    "Check the name and the folder (create a missing folder first), then run again."};
inline constexpr Words kNoFolder = {"a folder on the path does not exist",
                                    "Check the path, or create the folder first."};
inline constexpr Words kBadName = {
    "the system cannot take this name: it holds a character that the disk does not allow (such as : * ? \" < > |) or "
    "is a reserved name",
    "Choose another name."};
inline constexpr Words kTooLong = {"the path is too long for the system",
                                   "Use a shorter name, or move the files to a folder with a shorter path."};
inline constexpr Words kTooLarge = {
    "the file would grow past the largest size allowed here (a limit set for this program, or the largest file of the "
    "disk's file system, 4 GiB on FAT32)",
    "Raise the limit or choose another disk."};
inline constexpr Words kDeviceFault = {
    "the disk reported a read or write fault",
    "Check the disk (its cable, card or network connection) and copy the world to a sound disk."};
inline constexpr Words kTooManyFiles = {"too many files are open on this system",
                                        "Close some programs, then run again."};
inline constexpr Words kNoDevice = {"the drive is not there or not ready",
                                    "Insert or connect it, or choose another drive."};
inline constexpr Words kNetwork = {"the network folder cannot be reached",
                                   "Check the connection, or copy the files to a local disk."};
inline constexpr Words kOutOfMemory = {"the system is out of memory", "Close some programs, then run again."};
inline constexpr Words kIsFolder = {"the name is that of a folder, not of a file", "Choose a file."};
inline constexpr Words kNotSupported = {"the disk's file system does not support what the tool needs",
                                        "Copy the files to a local disk and run there."};
inline constexpr Words kLinkLoop = {
    "the path holds links that lead in a circle, or its name is a link that points nowhere",
    "Choose the file by a path without them (an export never creates a file through a link)."};

enum class System { Posix, Windows };

struct ErrorWords {
    std::uint32_t Posix;    // 0: no such code
    std::uint32_t Windows;  // 0: no such code
    Words Text;
};

// Linux's errno numbers and the Windows system error codes that mean the same.
inline constexpr ErrorWords kErrorWords[] = {
    {16, 32, kInUse},         // EBUSY, ERROR_SHARING_VIOLATION
    {26, 33, kInUse},         // ETXTBSY, ERROR_LOCK_VIOLATION
    {13, 5, kAccessDenied},   // EACCES, ERROR_ACCESS_DENIED
    {1, 0, kAccessDenied},    // EPERM
    {30, 19, kReadOnlyDisk},  // EROFS, ERROR_WRITE_PROTECT
    {28, 112, kDiskFull},     // ENOSPC, ERROR_DISK_FULL
    {122, 39, kDiskFull},     // EDQUOT, ERROR_HANDLE_DISK_FULL
    {0, 1295, kDiskFull},     // ERROR_DISK_QUOTA_EXCEEDED
    {2, 2, kNotFound},        // ENOENT, ERROR_FILE_NOT_FOUND
    {20, 3, kNoFolder},       // ENOTDIR, ERROR_PATH_NOT_FOUND
    {22, 123, kBadName},      // EINVAL, ERROR_INVALID_NAME
    {84, 161, kBadName},      // EILSEQ, ERROR_BAD_PATHNAME
    {36, 206, kTooLong},      // ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE
    {27, 223, kTooLarge},     // EFBIG, ERROR_FILE_TOO_LARGE
    {5, 23, kDeviceFault},    // EIO, ERROR_CRC
    {0, 29, kDeviceFault},    // ERROR_WRITE_FAULT
    {0, 30, kDeviceFault},    // ERROR_READ_FAULT
    {0, 31, kDeviceFault},    // ERROR_GEN_FAILURE
    {0, 1117, kDeviceFault},  // ERROR_IO_DEVICE
    {24, 4, kTooManyFiles},   // EMFILE, ERROR_TOO_MANY_OPEN_FILES
    {23, 0, kTooManyFiles},   // ENFILE
    {6, 15, kNoDevice},       // ENXIO, ERROR_INVALID_DRIVE
    {19, 21, kNoDevice},      // ENODEV, ERROR_NOT_READY
    {116, 53, kNetwork},      // ESTALE, ERROR_BAD_NETPATH
    {100, 59, kNetwork},      // ENETDOWN, ERROR_UNEXP_NET_ERR
    {101, 64, kNetwork},      // ENETUNREACH, ERROR_NETNAME_DELETED
    {112, 67, kNetwork},      // EHOSTDOWN, ERROR_BAD_NET_NAME
    {12, 8, kOutOfMemory},    // ENOMEM, ERROR_NOT_ENOUGH_MEMORY
    {0, 14, kOutOfMemory},    // ERROR_OUTOFMEMORY
    {21, 0, kIsFolder},       // EISDIR
    {95, 50, kNotSupported},  // EOPNOTSUPP, ERROR_NOT_SUPPORTED
    {40, 1921, kLinkLoop},    // ELOOP, ERROR_CANT_RESOLVE_FILENAME
};

// The words for a code of the given system; nullptr for a code not in the table.
constexpr const Words* WordsFor(std::uint32_t code, System system) {
    if (code == 0) return nullptr;
    for (const ErrorWords& row : kErrorWords)
        if ((system == System::Posix ? row.Posix : row.Windows) == code) return &row.Text;
    return nullptr;
}

// Which column of the table this build reads, and the system's own words for
// a code the table does not hold; each system's file layer gives them.
System ThisSystem();
std::string SystemErrorText(std::uint32_t code);

}  // namespace platform::words
