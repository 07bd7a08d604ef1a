// The object cache under the URL task: hits served from it, locks through
// the load flags, eviction when the heap runs dry.
#include <gtest/gtest.h>

#include <string>

#include "browser/cache.h"
#include "browser/url.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "tests/browser/url_fixture.h"

namespace {

class UrlCacheTest : public UrlFixture {
 protected:
  UrlCacheTest() : UrlFixture(1u << 20) {}

  void SetUp() override {
    UrlFixture::SetUp();
    requester = std::make_unique<FetchRequester>();
    StartUrl(requester->task());
  }
  void TearDown() override {
    EndUrl();
    requester.reset();
    UrlFixture::TearDown();
  }

  void Serve(const std::string& path, size_t size) {
    FetchBody body;
    body.body = std::string(size, static_cast<char>('a' + path.size() % 26));
    body.blockSize = 140;
    body.contentType = "application/x-qor-collect";
    driver.Serve(path, body);
  }

  // Fetches and finishes one request; the load it left in the cache.
  UrlLoad* Fetch(const std::string& url, std::string* got = nullptr) {
    UrlRequestRec* request = nullptr;
    EXPECT_EQ(requester->Request(session, url, 0, &request), kOk);
    if (!request) return nullptr;
    Pump();
    if (got) *got = requester->received[request];
    UrlLoad* load = UrlRequestLoad(request);
    requester->Done(session, request);
    return load;
  }

  UrlLoad* Find(const char* url) {
    UrlParsed parsed;
    EXPECT_EQ(UrlParse(&parsed, url, 0), kOk);
    UrlLoad* load = CacheFindByName(&parsed);
    UrlFreeParsed(&parsed);
    return load;
  }

  std::unique_ptr<FetchRequester> requester;
};

TEST_F(UrlCacheTest, SecondRequestIsServedFromTheCache) {
  Serve("/a", 500);
  std::string first, second;
  UrlLoad* load = Fetch("qorcache://h/a", &first);
  EXPECT_EQ(CacheCount(), 1u);
  EXPECT_EQ(Fetch("qorcache://h/a", &second), load);
  EXPECT_EQ(driver.starts, 1);
  EXPECT_EQ(first, std::string(500, 'c'));
  EXPECT_EQ(second, first);
}

TEST_F(UrlCacheTest, MemoryPressureEvictsLeastRecentlyUsedUnlockedLoads) {
  // Three cached bodies of 150,000 bytes each, the first locked.
  for (const char* path : {"/one", "/two", "/three"}) Serve(path, 150000);
  UrlLoad* one = Fetch("qorcache://h/one");
  UrlLoadSetFlags(one, UrlFlag::Kept);
  Fetch("qorcache://h/two");
  Fetch("qorcache://h/three");
  // Using "two" again makes "three" the least recently used.
  Fetch("qorcache://h/two");
  ASSERT_EQ(CacheCount(), 3u);
  // Fill the heap so that a body-sized block fits only once a cached body
  // has gone.
  std::vector<void*> filler;
  while (HeapGetStats().largestFree > HeapNeed(4096))
    filler.push_back(MemAlloc(4096, Use::Data, Mod::TestCode));
  ASSERT_EQ(CacheCount(), 3u);
  void* block = MemAlloc(140000, Use::Data, Mod::TestCode);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(CacheCount(), 2u);
  EXPECT_EQ(Find("qorcache://h/three"), nullptr);
  EXPECT_NE(Find("qorcache://h/one"), nullptr);
  EXPECT_NE(Find("qorcache://h/two"), nullptr);
  // Asking for more than the heap can give empties what may go, never the locked one.
  EXPECT_EQ(MemAlloc(1u << 20, Use::Data, Mod::TestCode), nullptr);
  EXPECT_EQ(CacheCount(), 1u);
  EXPECT_EQ(Find("qorcache://h/one"), one);
  MemFree(&block);
  for (void* p : filler) MemFree(&p);
  UrlLoadClearFlags(one, UrlFlag::Kept);
}

}  // namespace
