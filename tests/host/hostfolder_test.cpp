// What the start says about the working folder before anything is saved.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "host/hostfolder.h"

namespace {

class HostFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "qor_folder_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  static std::pair<bool, std::string> Say() {
    ::testing::internal::CaptureStderr();
    const bool said = HostSayUnkeptFiles();
    return {said, ::testing::internal::GetCapturedStderr()};
  }
  std::filesystem::path old_, dir_;
};

TEST_F(HostFolderTest, AWritableFolderWithItsFilesOrWithoutThemSaysNothing) {
  EXPECT_EQ(Say(), (std::pair<bool, std::string>{false, ""}));
  for (const char* name : {"hist.dat", "IntHist.dat", "repository", "access", "page", "persistent"})
    std::filesystem::create_symlink("elsewhere", name);  // a link is replaced like a file
  EXPECT_EQ(Say(), (std::pair<bool, std::string>{false, ""}));
  // Nothing of the probe is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 6);
}

// A folder that takes no new file (here one that was removed, which stops
// even root) keeps nothing of the run.
TEST_F(HostFolderTest, AFolderThatTakesNoNewFileIsSaidWithWhatWillNotBeKept) {
  std::filesystem::remove(dir_);
  const auto [said, err] = Say();
  EXPECT_TRUE(said);
  EXPECT_EQ(err.rfind("qor: the working folder ", 0), 0u) << err;
  EXPECT_NE(err.find(" cannot be written (No such file or directory): nothing this run changes "
                     "will be kept: not the history (hist.dat, IntHist.dat), the inbox "
                     "(repository), provisioning (access) or other settings (page, persistent)\n"),
            std::string::npos)
      << err;
  std::filesystem::create_directories(dir_);
}

TEST_F(HostFolderTest, AFolderWhereAKeptFileGoesIsNamedWithWhatItHolds) {
  std::filesystem::create_directory("access");
  std::filesystem::create_directory("IntHist.dat");
  const auto [said, err] = Say();
  EXPECT_TRUE(said);
  EXPECT_EQ(err,
            "qor: IntHist.dat in the working folder is a folder, not a file: the back stack will "
            "not be kept from this run\n"
            "qor: access in the working folder is a folder, not a file: provisioning and access "
            "settings will not be kept from this run\n");
}

}  // namespace
