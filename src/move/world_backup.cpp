#include "move/world_backup.h"

#include <cstdio>
#include <string>

namespace {

// Beyond what the failed call's code means: which step of the copy it was,
// and that the world is as it was.
std::string Advice(platform::CopyStep step, const std::string& path) {
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
                  "another program), or move away what stands there";
            break;
    }
    return "Nothing was moved, so the world is as it was: it is copied to " + path + " before an import, and " + why +
           "; then import again.";
}

}  // namespace

bool BackUpWorld(WorldBackup& backup, platform::FileHandle world, const char* worldPath, MoveFailure& failure) {
    if (backup.Made) return true;
    std::snprintf(backup.Path, sizeof backup.Path, "%s.bak", worldPath);
    const std::string temp = std::string(backup.Path) + ".tmp";
    platform::CopyStep step = platform::CopyStep::Create;
    backup.Made = platform::SaveFileCopy(world, temp.c_str(), backup.Path, &step);
    backup.JustMade = backup.Made;
    if (!NoteMove(failure, backup.Made, "writing", backup.Path)) failure.Advice = Advice(step, backup.Path);
    return backup.Made;
}

void TellBackup(WorldBackup& backup) {
    if (!backup.JustMade) return;
    backup.JustMade = false;
    platform::SayLine(std::string("Saved a copy of the world as ") + backup.Path +
                      " (to undo this import, put it back in place of the world)");
}
