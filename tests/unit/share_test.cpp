// Sharing as on Windows: any two opens of one file conflict, and a refused
// create leaves the file as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/platform.h"
#include "support/test_files.h"

namespace {

using platform::Disposition;
using platform::Share;

class ShareTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test_files::MakeFolder("share");
        path_ = dir_ + "/held.bin";
        Save(path_, "keep me");
    }
    void TearDown() override { test_files::RemoveFolder(dir_); }
    static void Save(const std::string& path, const std::string& text) {
        test_files::Save(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }
    static std::string Contents(const std::string& path) {
        const test_files::Bytes bytes = test_files::Load(path);
        return std::string(bytes.begin(), bytes.end());
    }
    std::uint64_t SizeOnDisk() {
        struct stat st {};
        stat(path_.c_str(), &st);
        return static_cast<std::uint64_t>(st.st_size);
    }
    std::string dir_, path_;
};

TEST_F(ShareTest, SecondOpenOfAHeldFileIsBusyAndTruncatesNothing) {
    const platform::FileHandle held = platform::OpenFile(path_.c_str(), Share::Read, Disposition::OpenExisting);
    ASSERT_NE(held, platform::kInvalidFile);
    for (Disposition d : {Disposition::OpenExisting, Disposition::CreateAlways}) {
        EXPECT_EQ(platform::OpenFile(path_.c_str(), Share::None, d), platform::kInvalidFile);
        EXPECT_EQ(platform::LastError(), 16u);
        EXPECT_NE(platform::DescribeError(platform::LastError()).Meaning.find("in use"), std::string::npos);
        EXPECT_EQ(SizeOnDisk(), 7u);
    }
    platform::CloseFile(held);
    // Released: a create now empties it.
    const platform::FileHandle again = platform::OpenFile(path_.c_str(), Share::None, Disposition::CreateAlways);
    ASSERT_NE(again, platform::kInvalidFile);
    EXPECT_EQ(SizeOnDisk(), 0u);
    platform::CloseFile(again);
}

TEST_F(ShareTest, ReadOnlyAndMissingFiles) {
    chmod(path_.c_str(), 0444);
    for (Disposition d : {Disposition::OpenExisting, Disposition::CreateAlways}) {
        EXPECT_EQ(platform::OpenFile(path_.c_str(), Share::Read, d), platform::kInvalidFile);
        EXPECT_EQ(platform::LastError(), 13u);
        EXPECT_NE(platform::DescribeError(platform::LastError()).Meaning.find("read-only"), std::string::npos);
    }
    EXPECT_EQ(SizeOnDisk(), 7u);
    const std::string missing = dir_ + "/none.bin";
    EXPECT_EQ(platform::OpenFile(missing.c_str(), Share::Read, Disposition::OpenExisting), platform::kInvalidFile);
    EXPECT_EQ(platform::LastError(), 2u);
    EXPECT_NE(platform::DescribeError(platform::LastError()).Meaning.find("does not exist"), std::string::npos);
}

TEST_F(ShareTest, ReadsPastTheEndKeepTheBuffer) {
    const platform::FileHandle file = platform::OpenFile(path_.c_str(), Share::Read, Disposition::OpenExisting);
    ASSERT_NE(file, platform::kInvalidFile);
    char buffer[10] = "XXXXXXXXX";
    std::uint32_t got = 99;
    ASSERT_TRUE(platform::ReadFileAt(file, 5, buffer, 9, &got));
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(std::string(buffer), "meXXXXXXX");
    ASSERT_TRUE(platform::ReadFileAt(file, 100, buffer, 9, &got));
    EXPECT_EQ(got, 0u);
    platform::CloseFile(file);
}

// A copy through a held handle lands whole under its name or not at all; a
// failed one leaves no temporary file behind.
TEST_F(ShareTest, CopyIsWholeOrNotThere) {
    chmod(path_.c_str(), 0640);
    const platform::FileHandle source = platform::OpenFile(path_.c_str(), Share::Read, Disposition::OpenExisting);
    ASSERT_NE(source, platform::kInvalidFile);
    char first[4] = {};
    std::uint32_t got = 0;
    ASSERT_TRUE(platform::ReadFile(source, first, 3, &got));
    const std::string copy = dir_ + "/copy", temp = copy + ".tmp", held = dir_ + "/held";
    const std::string longName = dir_ + "/" + std::string(252, 'n');
    Save(held, "old");
    const platform::FileHandle holder = platform::OpenFile(held.c_str(), Share::None, Disposition::OpenExisting);
    ASSERT_NE(holder, platform::kInvalidFile);
    // Another run holds a file by its lock alone.
    const std::string locked = dir_ + "/locked";
    const int other = open(locked.c_str(), O_RDWR | O_CREAT, 0644);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(fcntl(other, F_OFD_SETLK, &lock), 0);
    mkdir((dir_ + "/folder").c_str(), 0755);
    const std::string readOnly = dir_ + "/read-only";
    Save(readOnly, "old");
    chmod(readOnly.c_str(), 0444);
    const struct {
        std::string Path;
        bool Ok;
        std::uint32_t Code;
        platform::CopyStep Step;
        std::string After;  // what stands at the path afterwards
    } cases[] = {
        {copy, true, 0, platform::CopyStep::Rename, "keep me"},
        {copy, true, 0, platform::CopyStep::Rename, "keep me"},  // over an older copy
        {held, false, 16, platform::CopyStep::Rename, "old"},    // held by this run
        {locked, false, 16, platform::CopyStep::Rename, ""},
        {dir_ + "/folder", false, 21, platform::CopyStep::Rename, ""},
        {readOnly, false, 13, platform::CopyStep::Rename, "old"},  // not replaced, as on Windows
        {longName, false, 36, platform::CopyStep::Create, ""},     // the temporary name is too long
        {dir_ + "/none/copy", false, 2, platform::CopyStep::Create, ""},
    };
    for (const auto& c : cases) {
        platform::CopyStep step = platform::CopyStep::Write;
        const std::string tempPath = c.Path + ".tmp";
        EXPECT_EQ(platform::SaveFileCopy(source, tempPath.c_str(), c.Path.c_str(), &step), c.Ok) << c.Path;
        if (!c.Ok) {
            EXPECT_EQ(platform::LastError(), c.Code) << c.Path;
            EXPECT_EQ(step, c.Step) << c.Path;
        }
        EXPECT_EQ(access(tempPath.c_str(), F_OK), -1) << c.Path;
        if (!c.After.empty()) {
            EXPECT_EQ(Contents(c.Path), c.After) << c.Path;
        }
    }
    struct stat st {};
    stat(copy.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // The source's position is where the reads left it.
    ASSERT_TRUE(platform::ReadFile(source, first, 3, &got));
    EXPECT_EQ(std::string(first, 3), "p m");
    platform::CloseFile(holder);
    platform::CloseFile(source);
    close(other);
    for (const std::string& name : {copy, held, locked, readOnly}) std::remove(name.c_str());
    rmdir((dir_ + "/folder").c_str());
}

}  // namespace
