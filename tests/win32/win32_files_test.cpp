// Sharing on Windows is the system's own: a second open of a held file fails
// with 32 and a refused create empties nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace {

using platform::Disposition;
using platform::Share;

class Win32Files : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[MAX_PATH];
        GetTempPathA(MAX_PATH, folder);
        path_ = std::string(folder) + "velmarsh-share-" + std::to_string(GetCurrentProcessId()) + ".bin";
        SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        const platform::FileHandle file = platform::OpenFile(path_.c_str(), Share::None, Disposition::CreateAlways);
        ASSERT_NE(file, platform::kInvalidFile);
        std::uint32_t done = 0;
        ASSERT_TRUE(platform::WriteFile(file, "keep me", 7, &done));
        platform::CloseFile(file);
    }
    void TearDown() override {
        SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path_.c_str());
    }
    std::uint64_t SizeOnDisk() {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data);
        return data.nFileSizeLow;
    }
    std::string path_;
};

TEST_F(Win32Files, SecondOpenOfAHeldFileIsASharingViolation) {
    const platform::FileHandle held = platform::OpenFile(path_.c_str(), Share::Read, Disposition::OpenExisting);
    ASSERT_NE(held, platform::kInvalidFile);
    for (Disposition d : {Disposition::OpenExisting, Disposition::CreateAlways}) {
        EXPECT_EQ(platform::OpenFile(path_.c_str(), Share::None, d), platform::kInvalidFile);
        EXPECT_EQ(platform::LastError(), 32u);
        EXPECT_NE(platform::DescribeError(platform::LastError()).Meaning.find("in use"), std::string::npos);
        EXPECT_EQ(SizeOnDisk(), 7u);
    }
    platform::CloseFile(held);
}

TEST_F(Win32Files, ReadOnlyAndMissingFiles) {
    SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_READONLY);
    const platform::FileHandle file = platform::OpenFile(path_.c_str(), Share::Read, Disposition::OpenExisting);
    EXPECT_EQ(file, platform::kInvalidFile);
    if (file != platform::kInvalidFile) platform::CloseFile(file);
    EXPECT_EQ(platform::LastError(), 5u);
    EXPECT_NE(platform::DescribeError(platform::LastError()).Meaning.find("read-only"), std::string::npos);
    EXPECT_EQ(SizeOnDisk(), 7u);
    const std::string missing = path_ + ".none";
    EXPECT_EQ(platform::OpenFile(missing.c_str(), Share::Read, Disposition::OpenExisting), platform::kInvalidFile);
    EXPECT_EQ(platform::LastError(), 2u);
    EXPECT_NE(platform::DescribeError(platform::LastError()).Meaning.find("does not exist"), std::string::npos);
}

TEST_F(Win32Files, PositionedTransfersBeyond4GiB) {
    const platform::FileHandle file = platform::OpenFile(path_.c_str(), Share::None, Disposition::OpenExisting);
    ASSERT_NE(file, platform::kInvalidFile);
    const std::uint64_t beyond = (std::uint64_t{1} << 32) + 11;
    std::uint32_t done = 0;
    ASSERT_TRUE(platform::WriteFileAt(file, beyond, "far", 3, &done));
    char buffer[4] = {};
    ASSERT_TRUE(platform::ReadFileAt(file, beyond, buffer, 3, &done));
    EXPECT_EQ(std::string(buffer), "far");
    std::uint64_t size = 0;
    ASSERT_TRUE(platform::GetFileSize(file, &size));
    EXPECT_EQ(size, beyond + 3);
    // The file position stays where it was: at the start.
    ASSERT_TRUE(platform::ReadFile(file, buffer, 3, &done));
    EXPECT_EQ(std::string(buffer, 3), "kee");
    platform::CloseFile(file);
}

// The copy reads through the held handle and lands whole; a file held open at
// its name is in use, and no temporary file stays behind.
TEST_F(Win32Files, CopyThroughTheHeldHandle) {
    const platform::FileHandle source = platform::OpenFile(path_.c_str(), Share::Read, Disposition::OpenExisting);
    ASSERT_NE(source, platform::kInvalidFile);
    const std::string copy = path_ + ".bak", temp = copy + ".tmp";
    platform::CopyStep step = platform::CopyStep::Write;
    ASSERT_TRUE(platform::SaveFileCopy(source, temp.c_str(), copy.c_str(), &step));
    EXPECT_EQ(GetFileAttributesA(temp.c_str()), INVALID_FILE_ATTRIBUTES);
    const platform::FileHandle held = platform::OpenFile(copy.c_str(), Share::Read, Disposition::OpenExisting);
    ASSERT_NE(held, platform::kInvalidFile);
    char buffer[8] = {};
    std::uint32_t done = 0;
    ASSERT_TRUE(platform::ReadFile(held, buffer, 7, &done));
    EXPECT_EQ(std::string(buffer), "keep me");
    EXPECT_FALSE(platform::SaveFileCopy(source, temp.c_str(), copy.c_str(), &step));
    EXPECT_EQ(platform::LastError(), 32u);
    EXPECT_EQ(step, platform::CopyStep::Rename);
    EXPECT_EQ(GetFileAttributesA(temp.c_str()), INVALID_FILE_ATTRIBUTES);
    platform::CloseFile(held);
    EXPECT_TRUE(platform::SaveFileCopy(source, temp.c_str(), copy.c_str(), &step));  // over the older copy
    platform::CloseFile(source);
    DeleteFileA(copy.c_str());
}

}  // namespace
