// Sharing as on Windows: any two opens of one file conflict, and a refused
// create leaves the file as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace {

using platform::Disposition;
using platform::Share;

class ShareTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/velmarsh-share-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        path_ = dir_ + "/held.bin";
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        std::fputs("keep me", f);
        std::fclose(f);
    }
    void TearDown() override {
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
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
        EXPECT_NE(platform::DescribeError(platform::LastError()).find("in use"), std::string::npos);
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
        EXPECT_NE(platform::DescribeError(platform::LastError()).find("read-only"), std::string::npos);
    }
    EXPECT_EQ(SizeOnDisk(), 7u);
    const std::string missing = dir_ + "/none.bin";
    EXPECT_EQ(platform::OpenFile(missing.c_str(), Share::Read, Disposition::OpenExisting), platform::kInvalidFile);
    EXPECT_EQ(platform::LastError(), 2u);
    EXPECT_NE(platform::DescribeError(platform::LastError()).find("does not exist"), std::string::npos);
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

}  // namespace
