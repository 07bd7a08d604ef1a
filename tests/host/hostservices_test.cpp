// The cookie file: its round trip, its size limit and its length checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "host/cookiefile.h"
#include "host/shellhost.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "tests/kernel/config_fixture.h"

namespace {

// The cookies task's jar, filled and read by the cookie file routines.
class CookieFileTest : public WorkDirFixture {
 protected:
  void SetUp() override {
    WorkDirFixture::SetUp();
    starter_ = std::make_unique<Recorder>(97);
    CookiesStartTask(starter_->task());
    jar_ = CookiesGetJar();
    ASSERT_NE(jar_, nullptr);
  }
  void TearDown() override {
    FreeJar();
    CookiesStopTask(starter_->task());
    Pump();
    starter_.reset();
    WorkDirFixture::TearDown();
  }

  // A record of `words` body words, word i of the body = seed + i; session
  // records have a non-zero sixth word.
  void Push(uint32_t bodyWords, uintptr_t seed, bool session = false) {
    const uint32_t size = kCookieHeaderSize + bodyWords * sizeof(uintptr_t);
    auto* r = static_cast<CookieRecord*>(MemAllocZero(size, 49, Mod::Cookies));
    r->size = size;
    auto* words = reinterpret_cast<uintptr_t*>(r);
    for (uint32_t i = 0; i < bodyWords; ++i) words[2 + i] = seed + i;
    words[5] = session ? 1 : 0;
    CookieJarPush(jar_, r);
  }
  std::vector<uintptr_t> Seeds() const {
    std::vector<uintptr_t> out;
    for (CookieRecord* r = jar_->first; r; r = r->next)
      out.push_back(reinterpret_cast<uintptr_t*>(r)[2]);
    return out;
  }
  void FreeJar() {
    CookieRecord* r = jar_->first;
    while (r) {
      CookieRecord* next = r->next;
      MemFree(&r);
      r = next;
    }
    *jar_ = {};
  }

  std::unique_ptr<Recorder> starter_;
  CookieJar* jar_ = nullptr;
};

TEST_F(CookieFileTest, LastingRecordsRoundTripWithoutTheirLinks) {
  Push(6, 100);
  Push(6, 200, true);  // a session cookie stays out
  Push(8, 300);
  ASSERT_TRUE(HostCookieFileSave());
  const uint32_t body6 = 6 * sizeof(uintptr_t), body8 = 8 * sizeof(uintptr_t);
  EXPECT_EQ(std::filesystem::file_size(kCookieFile), 4 + body8 + 4 + body6);
  FreeJar();
  const uint32_t empty = HeapGetStats().freeBytes;
  ASSERT_TRUE(HostCookieFileLoad());
  // Each pushed on the front: the file's order reversed.
  EXPECT_EQ(Seeds(), (std::vector<uintptr_t>{100, 300}));
  EXPECT_EQ(jar_->bytes, 2 * kCookieHeaderSize + body6 + body8);
  FreeJar();
  EXPECT_EQ(HeapGetStats().freeBytes, empty);
  // A full jar is written while it stays below the limit.
  for (int i = 0; i < 200; ++i) Push(6, 1000 + i);
  ASSERT_TRUE(HostCookieFileSave());
  EXPECT_EQ(std::filesystem::file_size(kCookieFile), (kCookieFileMax - 1) / (4 + body6) * (4 + body6));
}

TEST_F(CookieFileTest, AFileCutShortLoadsNothing) {
  Push(6, 100);
  Push(6, 200);
  ASSERT_TRUE(HostCookieFileSave());
  const std::vector<uint8_t> file = ReadFile(kCookieFile);
  FreeJar();
  Push(6, 7);  // what the jar holds stays
  const uint32_t before = HeapGetStats().freeBytes;
  const size_t boundary = 4 + 6 * sizeof(uintptr_t);  // one whole record: a good file
  for (size_t cut = 1; cut < file.size(); ++cut) {
    if (cut == boundary) continue;
    WriteFile(kCookieFile, std::vector<uint8_t>(file.begin(), file.begin() + static_cast<long>(cut)));
    ASSERT_FALSE(HostCookieFileLoad()) << cut;
  }
  EXPECT_EQ(Seeds(), std::vector<uintptr_t>{7});
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

}  // namespace
