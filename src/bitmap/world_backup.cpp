#include "bitmap/world_backup.h"

#include <cstdio>
#include <string>

bool BackUpWorld(WorldBackup& backup, platform::FileHandle world, const char* worldPath, MoveFailure& failure) {
    if (backup.Made) return true;
    std::snprintf(backup.Path, sizeof backup.Path, "%s.bak", worldPath);
    const std::string temp = std::string(backup.Path) + ".tmp";
    backup.Made = platform::SaveFileCopy(world, temp.c_str(), backup.Path, &backup.FailedStep);
    backup.News = backup.Made ? BackupNews::Saved : BackupNews::Refused;
    return NoteMove(failure, backup.Made, "writing", backup.Path);
}

void TellBackup(WorldBackup& backup) {
    const std::string path = backup.Path;
    const std::string temp = path + ".tmp";
    const BackupNews news = backup.News;
    backup.News = BackupNews::None;
    if (news == BackupNews::Saved) {
        platform::SayLine("Saved a copy of the world as " + path +
                          " (to undo this import, put it back in place of the world)");
        return;
    }
    if (news != BackupNews::Refused) return;
    std::string why;
    switch (backup.FailedStep) {
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
                  "another program), or move away what stands there";
            break;
    }
    platform::SayLine("Nothing was moved, so the world is as it was: it is copied to " + path +
                      " before an import, and " + why + "; then import again.");
}
