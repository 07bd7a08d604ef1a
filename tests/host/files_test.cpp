// Whole-file storage: sizes, exact reads, atomic replacement, removal.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "host/platform/files.h"
#include "tests/support/failure_record.h"
#include "tests/support/temp_dir.h"

namespace {

class FilesTest : public ::testing::Test {
 protected:
  std::string Path(const char* name) { return dir_ / name; }
  TempDir dir_;
};

TEST_F(FilesTest, SizeAndReadOfAFile) {
  { std::ofstream(Path("a")) << "hello"; }
  uint32_t size = 99;
  ASSERT_EQ(PlatformFileSize(Path("a").c_str(), &size), FileStatus::Ok);
  EXPECT_EQ(size, 5u);
  char buf[5];
  ASSERT_EQ(PlatformFileRead(Path("a").c_str(), buf, 5), FileStatus::Ok);
  EXPECT_EQ(std::string(buf, 5), "hello");
  // Asking for more than is there fails rather than leaving bytes unset.
  char more[8];
  EXPECT_EQ(PlatformFileRead(Path("a").c_str(), more, 8), FileStatus::Failed);
}

TEST_F(FilesTest, ReplaceWritesEveryByteAndLeavesNoTemporaryFile) {
  std::vector<uint8_t> data(100000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  { std::ofstream(Path("f")) << "old"; }
  ASSERT_EQ(PlatformFileReplace(Path("f").c_str(), data.data(), 100000), FileStatus::Ok);
  std::vector<uint8_t> back(100000);
  ASSERT_EQ(PlatformFileRead(Path("f").c_str(), back.data(), 100000), FileStatus::Ok);
  EXPECT_EQ(back, data);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
  ASSERT_EQ(PlatformFileReplace(Path("f").c_str(), nullptr, 0), FileStatus::Ok);
  uint32_t size = 1;
  EXPECT_EQ(PlatformFileSize(Path("f").c_str(), &size), FileStatus::Ok);
  EXPECT_EQ(size, 0u);
}

TEST_F(FilesTest, AFailedReplaceKeepsTheOldFile) {
  { std::ofstream(Path("keep")) << "old"; }
  // The target is a folder with something in it: the rename cannot happen.
  std::filesystem::create_directories(dir_.path() / "busy" / "x");
  EXPECT_EQ(PlatformFileReplace(Path("busy").c_str(), "new", 3), FileStatus::Failed);
  EXPECT_TRUE(std::filesystem::is_directory(dir_.path() / "busy"));
  EXPECT_EQ(PlatformFileReplace((dir_.path() / "no" / "such" / "f").string().c_str(), "new", 3),
            FileStatus::Failed);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 2);
}

// A file goes; a missing one is missing; a folder is no file to remove.
TEST_F(FilesTest, RemovingAFile) {
  { std::ofstream(Path("a")) << "x"; }
  std::filesystem::create_directories(Path("folder"));
  const std::pair<const char*, FileStatus> rows[] = {
      {"a", FileStatus::Ok}, {"a", FileStatus::Missing}, {"folder", FileStatus::Failed}};
  for (const auto& [name, status] : rows)
    EXPECT_EQ(PlatformFileRemove(Path(name).c_str()), status) << name;
  EXPECT_TRUE(std::filesystem::is_directory(Path("folder")));
}

// A save the engine cut short is told to the host's hook as a failed
// replace is, and said the same way by default.
TEST_F(FilesTest, WhatASaveCouldNotKeepReachesTheFailureHook) {
  {
    FailureRecord record;
    const std::string missing = (dir_.path() / "no" / "f").string();
    PlatformFileNotKept("repository", "3 of the inbox's 8 messages did not fit its quota");
    EXPECT_EQ(PlatformFileReplace(missing.c_str(), "x", 1), FileStatus::Failed);
    // A failed replace gives its error number and no text.
    const std::vector<std::string> told{
        "repository: 3 of the inbox's 8 messages did not fit its quota",
        missing + ": " + std::to_string(ENOENT)};
    EXPECT_EQ(record.said, told);
  }
  ::testing::internal::CaptureStderr();
  PlatformFileNotKept("repository", "the inbox's 2 messages: not enough memory");
  // A loss that is no save's is said as what happened.
  PlatformSayLost("2 pushed messages: not enough memory");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "qor: could not save repository: the inbox's 2 messages: not enough memory\n"
            "qor: 2 pushed messages: not enough memory\n");
}

}  // namespace
