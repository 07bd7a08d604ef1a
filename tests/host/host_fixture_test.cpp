// The host fixture's working folder: every test gets one of its own in the
// temporary folder, and leaves nothing there once it has ended.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/host_fixture.h"

namespace {

namespace fs = std::filesystem;

// What the fixture made directly in the temporary folder: the first part of
// its working folder's path below it.
fs::path TopFolder(const fs::path& dir) {
  const fs::path below = dir.lexically_relative(fs::temp_directory_path());
  return below.empty() ? fs::path() : fs::temp_directory_path() / *below.begin();
}

class HostFixtureFolderTest : public HostFixture, public ::testing::WithParamInterface<int> {
 protected:
  void TearDown() override {
    const fs::path top = TopFolder(dir_);
    HostFixture::TearDown();
    EXPECT_FALSE(top.empty());
    EXPECT_FALSE(fs::exists(dir_)) << dir_;
    EXPECT_FALSE(fs::exists(top)) << top << " is left in the temporary folder";
  }
};

// A parameterised test's name holds a "/": its folder is still one folder.
TEST_P(HostFixtureFolderTest, TheWorkingFolderIsOneFolderOfTheTemporaryFolder) {
  EXPECT_EQ(fs::current_path(), dir_);
  EXPECT_EQ(TopFolder(dir_), dir_);
  EXPECT_TRUE(fs::exists(dir_ / "qor.ini"));
}

INSTANTIATE_TEST_SUITE_P(Each, HostFixtureFolderTest, ::testing::Values(0, 1));

class PlainHostFixtureTest : public HostFixtureFolderTest {};

TEST_F(PlainHostFixtureTest, APlainTestsFolderGoesToo) { EXPECT_EQ(TopFolder(dir_), dir_); }

}  // namespace
