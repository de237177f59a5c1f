#include "move/world_backup.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/le_bytes.h"
#include "report/console_text.h"

namespace {

constexpr std::uint32_t kCopyPiece = 4 << 20;
constexpr std::uint32_t kHeaderSize = 144;  // the world's header; its table follows it

// Beyond what the failed call's code means: which step of the copy it was,
// and that the world is as it was.
std::string BackupAdvice(platform::CopyStep step, const std::string& path) {
    const std::string temp = path + ".tmp";
    std::string why;
    switch (step) {
        case platform::CopyStep::Create:
            why = temp +
                  " could not be created. The world's folder must take a new file, with a name 8 characters "
                  "longer than the world's";
            break;
        case platform::CopyStep::Write:
            why = "it could not be written to " + temp + ". Make room on the disk for a second copy of the world";
            break;
        case platform::CopyStep::Flush: why = "the copy could not be flushed to disk. Check the disk"; break;
        case platform::CopyStep::Rename:
            why = "it could not replace " + path + ". Close what holds that file open (a bitmap of this run, " +
                  "another program), make it writable, or move away what stands there";
            break;
    }
    return "Nothing was moved, so the world is as it was: it is copied to " + path + " before an import, and " + why +
           "; then import again.";
}

bool MakeBackup(WorldBackup& backup, platform::FileHandle world, const char* worldPath, MoveFailure& failure) {
    std::snprintf(backup.Path, sizeof backup.Path, "%s.bak", worldPath);
    if (backup.Blocked) {
        NoteFailure(failure, platform::InUseCode(), "writing", backup.Path,
                    "An import into this world died in an earlier run, and its folder takes no locks, so another "
                    "run could be using the world: nothing was put back and no import writes, so that " +
                        std::string(backup.Path) + " stays the whole copy of the world before that import. Once no " +
                        "other program uses the world, put " + backup.Path + " in its place by hand and remove " +
                        MarkerPath(worldPath) + ".");
        return false;
    }
    const std::string temp = std::string(backup.Path) + ".tmp";
    platform::CopyStep step = platform::CopyStep::Create;
    backup.Made = platform::SaveFileCopy(world, temp.c_str(), backup.Path, &step);
    backup.JustMade = backup.Made;
    if (!backup.Made)
        NoteFailure(failure, platform::LastError(), "writing", backup.Path, BackupAdvice(step, backup.Path));
    return backup.Made;
}

// The marker: an empty file, on disk with its name before the world changes.
bool MakeMarker(const std::string& marker, MoveFailure& failure) {
    const platform::FileHandle file = platform::CreateNewFile(marker.c_str(), platform::kInvalidFile);
    bool ok = file != platform::kInvalidFile;
    std::uint32_t code = platform::LastError();
    if (ok) {
        ok = platform::FlushFile(file);
        code = platform::LastError();
        platform::CloseFile(file);
        if (ok) {
            ok = platform::FlushFolderOf(marker.c_str());
            code = platform::LastError();
        }
        if (!ok) platform::RemoveFile(marker.c_str());
    }
    if (!ok)
        NoteFailure(failure, code, "writing", marker,
                    "Nothing was moved, so the world is as it was: before an import writes the world it leaves " +
                        marker + " beside it, so that a run after one that died can put the world back, and that " +
                        "file could not be made. The world's folder must take a new file; then import again.");
    return ok;
}

// Whether the backup is of this world: the same size, header and table.
bool SameWorld(platform::FileHandle world, platform::FileHandle copy, std::uint64_t size) {
    std::uint8_t head[kHeaderSize];
    if (size < kHeaderSize || !platform::ReadExactlyAt(world, 0, head, kHeaderSize)) return false;
    const std::uint64_t tableEnd =
        std::min<std::uint64_t>(size, kHeaderSize + std::uint64_t{4} * le::Get32(head + 4) * le::Get32(head + 8));
    const platform::Memory<std::uint8_t> ours = platform::Allocate<std::uint8_t>(kCopyPiece);
    const platform::Memory<std::uint8_t> theirs = platform::Allocate<std::uint8_t>(kCopyPiece);
    for (std::uint64_t at = 0; at < tableEnd;) {
        const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(tableEnd - at, kCopyPiece));
        if (!platform::ReadExactlyAt(world, at, ours.get(), count) ||
            !platform::ReadExactlyAt(copy, at, theirs.get(), count) ||
            std::memcmp(ours.get(), theirs.get(), count) != 0)
            return false;
        at += count;
    }
    return true;
}

// The backup's bytes into the world, on disk; the marker removed after.
bool CopyBack(platform::FileHandle world, platform::FileHandle copy, std::uint64_t size, const std::string& marker) {
    const platform::Memory<std::uint8_t> piece = platform::Allocate<std::uint8_t>(kCopyPiece);
    for (std::uint64_t at = 0; at < size;) {
        const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(size - at, kCopyPiece));
        std::uint32_t done = 0;
        if (!platform::ReadExactlyAt(copy, at, piece.get(), count) ||
            !platform::WriteFileAt(world, at, piece.get(), count, &done))
            return false;
        at += count;
    }
    return platform::FlushFile(world) && platform::RemoveFile(marker.c_str()) &&
           platform::FlushFolderOf(marker.c_str());
}

}  // namespace

std::string MarkerPath(const char* worldPath) { return std::string(worldPath) + ".importing"; }

bool BeginWorldWrites(WorldBackup& backup, platform::FileHandle world, const char* worldPath, MoveFailure& failure) {
    if (backup.Marked) return true;
    if (!backup.Made && !MakeBackup(backup, world, worldPath, failure)) return false;
    backup.Marked = MakeMarker(MarkerPath(worldPath), failure);
    return backup.Marked;
}

void EndWorldWrites(WorldBackup& backup, platform::FileHandle world, const char* worldPath, MoveFailure& failure) {
    if (!backup.Marked) return;
    backup.Marked = false;
    const std::string marker = MarkerPath(worldPath);
    if (!platform::FlushFile(world)) {
        NoteFailure(failure, platform::LastError(), "writing", worldPath,
                    std::string("The world could not be flushed to disk, so it may not hold the whole import: ") +
                        marker + " stays, and the next run puts the world back from " + backup.Path + ".");
        return;
    }
    if (!platform::RemoveFile(marker.c_str()) || !platform::FlushFolderOf(marker.c_str()))
        NoteFailure(failure, platform::LastError(), "writing", marker,
                    "The import is complete and on disk, but " + marker +
                        " could not be removed: remove it by hand, or the next run will put the world back as it was "
                        "before this run's first import, from " +
                        backup.Path + ".");
}

void TellBackup(WorldBackup& backup) {
    if (!backup.JustMade) return;
    backup.JustMade = false;
    platform::SayLine(std::string("Saved a copy of the world as ") + backup.Path +
                      " (to undo this import, put it back in place of the world)");
}

bool PutBackDiedImport(console::Report& report, WorldBackup& backup, platform::FileHandle world,
                       const char* worldPath) {
    const std::string marker = MarkerPath(worldPath);
    if (!platform::Exists(marker.c_str())) return true;
    const std::string copy = std::string(worldPath) + ".bak";
    if (!platform::IsLocked(world)) {
        backup.Blocked = true;
        platform::SayLine(marker + " says that an import into this world died, but the world's folder takes no " +
                          "locks, so another run could be using the world: nothing was put back, and this run " +
                          "imports nothing. Once no other program uses the world, put " + copy +
                          " in its place by hand and remove " + marker + ".");
        return true;
    }
    platform::HoldInterrupts();
    bool done = true;
    std::string why;
    std::uint64_t size = 0, copySize = 0;
    const platform::FileHandle file = platform::OpenForReading(copy.c_str());
    if (file == platform::kInvalidFile) {
        why = copy + " cannot be read (" + platform::DescribeError(platform::LastError()).Meaning + ")";
    } else if (!platform::GetFileSize(world, &size) || !platform::GetFileSize(file, &copySize) || size != copySize ||
               !SameWorld(world, file, size)) {
        why = copy + " is not a copy of this world (its size, header or table differ)";
    } else if (!CopyBack(world, file, size, marker)) {
        done = false;
        const std::uint32_t code = platform::LastError();
        console::PrintErrorLine(report, code, "opening", worldPath,
                                "An import into this world died, and putting the world back from " + copy +
                                    " failed: the world may be torn, " + copy + " is whole. Put " + copy +
                                    " in place of the world by hand, then remove " + marker + ".");
    } else {
        platform::SayLine("An import into " + std::string(worldPath) +
                          " did not finish (the run was ended or the machine stopped): the world was put back as it "
                          "was before that run's first import, from " +
                          copy + ", which stays.");
    }
    if (file != platform::kInvalidFile) platform::CloseFile(file);
    if (!why.empty()) {
        // Nothing to put back from: the marker would only repeat this note.
        platform::RemoveFile(marker.c_str());
        platform::FlushFolderOf(marker.c_str());
        platform::SayLine(marker + " says that an import into this world died, but " + why +
                          ": nothing was put back. Check the world; if it is torn, put a copy of it back by hand.");
    }
    platform::ReleaseInterrupts();
    return done;
}
