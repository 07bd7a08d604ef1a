// The built-in file store: the romfiles folder beside the program, relative
// paths through the language folders, and refused paths.
#include "kernel/qorrom.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/platform/lang.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "tests/support/engine_fixture.h"

namespace fs = std::filesystem;

namespace {

constexpr int32_t kKorean = 20;

// Each test runs in a fresh working folder with an empty romfiles folder.
class QorRomTest : public HeapFixture {
 protected:
  void SetUp() override {
    HeapFixture::SetUp();
    char pattern[] = "/tmp/qorrom_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    old_ = fs::current_path();
    fs::current_path(dir_);
    fs::create_directories("romfiles");
    ShellSetLanguageIndex(0);
    freeAtStart_ = HeapGetStats().freeBytes;
  }
  void TearDown() override {
    EXPECT_EQ(HeapGetStats().freeBytes, freeAtStart_) << "a file image was not freed";
    ShellSetLanguageIndex(0);
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  void Put(const std::string& path, const std::string& text) {
    if (fs::path(path).has_parent_path()) fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string Open(const char* path) {
    uint32_t size = 0;
    const uint8_t* file = QorRomOpen(path, &size);
    if (!file) return "<none>";
    std::string text(reinterpret_cast<const char*>(file), size);
    QorRomRelease(file);
    return text;
  }

  fs::path dir_;
  fs::path old_;
  uint32_t freeAtStart_ = 0;
};

TEST_F(QorRomTest, RelativePathResolvesUnderTheLanguageFolderThenEnglish) {
  const std::string builtIn = Open("/eng/general/gohome.html");
  ASSERT_NE(builtIn, "<none>");
  EXPECT_EQ(Open("general/gohome.html"), builtIn);
  ASSERT_TRUE(ShellSetLanguageIndex(kKorean));
  // The tree holds no Korean pages: English answers.
  EXPECT_EQ(Open("general/gohome.html"), builtIn);
  // The romfiles folder is asked under the current language's folder only.
  Put("romfiles/ko/general/gohome.html", "korean");
  EXPECT_EQ(Open("general/gohome.html"), "korean");
  EXPECT_EQ(Open("/eng/general/gohome.html"), builtIn);
  ASSERT_TRUE(ShellSetLanguageIndex(0));
  EXPECT_EQ(Open("general/gohome.html"), builtIn);
  Put("romfiles/eng/general/gohome.html", "english on disk");
  EXPECT_EQ(Open("general/gohome.html"), "english on disk");
}

TEST_F(QorRomTest, PathsThatCouldLeaveTheFolderAreRefused) {
  Put("secret", "outside");
  Put("romfiles/eng/general/gohome.html", "inside");
  EXPECT_EQ(Open("/../secret"), "<none>");
  EXPECT_EQ(Open("../secret"), "<none>");
  EXPECT_EQ(Open("/eng/../../secret"), "<none>");
  EXPECT_EQ(Open("/eng/general/../general/gohome.html"), "<none>");
  EXPECT_EQ(Open("\\eng\\general\\gohome.html"), "<none>");
  EXPECT_EQ(Open("/eng/general\\gohome.html"), "<none>");
  const std::string host = "file://" + (dir_ / "x/../secret").string();
  EXPECT_EQ(Open(host.c_str()), "<none>");
  const std::string escaped = "file://" + dir_.string() + "/x/%2e%2e/secret";
  EXPECT_EQ(Open(escaped.c_str()), "<none>");
  // Dots inside a name are no ".." segment.
  Put("romfiles/eng/general/a..b", "dots");
  EXPECT_EQ(Open("/eng/general/a..b"), "dots");
}

// What keeps a file from opening is told: none there, or memory that could
// not hold it. A file of the folder that memory could not hold is not passed
// over for the built-in one of its path.
TEST_F(QorRomTest, WhyAFileDidNotOpenIsTold) {
  std::string packed;  // a compressed built-in entry: it expands into memory
  for (uint32_t d = 0; d < kQorRomDirCount && packed.empty(); ++d)
    for (uint32_t f = kQorRomDirs[d].first;
         f < (d + 1 < kQorRomDirCount ? kQorRomDirs[d + 1].first : kQorRomFileCount); ++f)
      if (kQorRomFiles[f].storedSize != kQorRomFiles[f].expandedSize) {
        packed = std::string(kQorRomDirs[d].path) + "/" + kQorRomFiles[f].name;
        break;
      }
  ASSERT_FALSE(packed.empty());
  Put("romfiles/eng/general/gohome.html", std::string(2 << 20, 'x'));  // more than the heap
  const struct {
    std::string path;
    bool heapFull;
    Result why;
  } rows[] = {
      {packed, false, kOk},
      {"/eng/general/none.html", false, kQorRomNotFound},
      {"/eng/general/gohome.html", false, kQorRomNoMemory},
      {packed, true, kQorRomNoMemory},
  };
  for (const auto& row : rows) {
    std::vector<void*> eaten = row.heapFull ? EatHeap(64) : std::vector<void*>{};
    Result why = 0x12345678;
    const uint8_t* file = QorRomOpen(row.path.c_str(), nullptr, &why);
    EXPECT_EQ(why, row.why) << row.path;
    EXPECT_EQ(file != nullptr, row.why == kOk) << row.path;
    QorRomRelease(file);
    for (void* p : eaten) MemFree(&p);
  }
}

}  // namespace
