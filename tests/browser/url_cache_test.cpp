// The object cache under the URL task: hits served from it, locks through
// the load flags, eviction when the heap runs dry, expiry, free hooks.
#include <gtest/gtest.h>

#include <string>

#include "browser/cache.h"
#include "browser/url.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "tests/browser/url_fixture.h"

namespace {

UrlLoad* gHookedLoad;
int gHookCalls;
void CountFree(UrlLoad* load) {
  gHookedLoad = load;
  ++gHookCalls;
}

class UrlCacheTest : public UrlFixture {
 protected:
  UrlCacheTest() : UrlFixture(1u << 20) {}

  void SetUp() override {
    UrlFixture::SetUp();
    platform->now = 1000000;
    requester = std::make_unique<FetchRequester>();
    StartUrl(requester->task());
    gHookCalls = 0;
    gHookedLoad = nullptr;
  }
  void TearDown() override {
    EndUrl();
    requester.reset();
    UrlFixture::TearDown();
  }

  void Serve(const std::string& path, size_t size, int32_t expiry = 0) {
    FetchBody body;
    body.body = std::string(size, static_cast<char>('a' + path.size() % 26));
    body.blockSize = 140;
    body.expiry = expiry;
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
  EXPECT_EQ(Find("qorcache://h/a#elsewhere"), load);
  EXPECT_EQ(Fetch("qorcache://h/a", &second), load);
  EXPECT_EQ(driver.starts, 1);
  EXPECT_EQ(first, std::string(500, 'c'));
  EXPECT_EQ(second, first);
  // A cache hit answers like a fetch: status, class, complete.
  std::vector<uint32_t> answers = requester->Messages();
  std::erase(answers, UrlMsg::Watch);
  const std::vector<uint32_t> once = {UrlMsg::StatusKnown, UrlMsg::ClassKnown, UrlMsg::Complete};
  std::vector<uint32_t> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(answers, twice);
  // The fresh scheme keeps nothing.
  Serve("/b", 10);
  Fetch("qortest://h/b");
  EXPECT_EQ(CacheCount(), 1u);
  EXPECT_EQ(Find("qortest://h/b"), nullptr);
}

TEST_F(UrlCacheTest, FailedLoadsAreNotCached) {
  FetchBody body;
  body.body = "xyz";
  body.failAt = 1;
  driver.Serve("/bad", body);
  Fetch("qorcache://h/bad");
  EXPECT_EQ(CacheCount(), 0u);
}

TEST_F(UrlCacheTest, LockedLoadsAreNeverEvicted) {
  Serve("/a", 100);
  UrlLoad* load = Fetch("qorcache://h/a");
  UrlLoadSetFlags(load, UrlFlag::Kept);
  UrlLoadSetFlags(load, 0);
  EXPECT_EQ(CacheFreeOne(), 0);
  UrlLoadClearFlags(load, 0);
  EXPECT_EQ(CacheFreeOne(), 0);
  EXPECT_EQ(load->flags & UrlFlag::Kept, UrlFlag::Kept);
  UrlLoadClearFlags(load, UrlFlag::Kept);
  EXPECT_EQ(load->flags & UrlFlag::Kept, 0u);
  CacheSetFreeHook(load, CountFree);
  EXPECT_EQ(CacheFreeOne(), 1);
  EXPECT_EQ(gHookCalls, 1);
  EXPECT_EQ(gHookedLoad, load);
  EXPECT_EQ(CacheCount(), 0u);
  EXPECT_EQ(CacheFreeOne(), 0);
}

TEST_F(UrlCacheTest, LoadsInUseAreNeverEvicted) {
  Serve("/a", 100);
  Fetch("qorcache://h/a");
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(requester->Request(session, "qorcache://h/a", 0, &request), kOk);
  EXPECT_EQ(CacheFreeOne(), 0);
  Pump();
  requester->Done(session, request);
  EXPECT_EQ(CacheFreeOne(), 1);
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

TEST_F(UrlCacheTest, ExpiredLoadsAreFetchedAgain) {
  Serve("/soon", 20, 1000060);
  Serve("/never", 20, 0);
  UrlLoad* soon = Fetch("qorcache://h/soon");
  UrlLoad* never = Fetch("qorcache://h/never");
  EXPECT_EQ(Fetch("qorcache://h/soon"), soon);
  EXPECT_EQ(driver.starts, 2);

  std::vector<UrlLoad*> fresh;
  void* cursor = nullptr;
  UrlLoad* load = nullptr;
  while (CacheFindNextFresh(&cursor, &load)) fresh.push_back(load);
  EXPECT_EQ(fresh, (std::vector<UrlLoad*>{never, soon}));

  platform->now = 1000060;
  fresh.clear();
  while (CacheFindNextFresh(&cursor, &load)) fresh.push_back(load);
  EXPECT_EQ(fresh, (std::vector<UrlLoad*>{never}));
  Fetch("qorcache://h/soon");
  EXPECT_EQ(driver.starts, 3);

  platform->now = 1000200;
  CachePurgeExpired();
  EXPECT_EQ(CacheCount(), 1u);
  EXPECT_NE(Find("qorcache://h/never"), nullptr);
}

TEST_F(UrlCacheTest, ExpiryOfTheRequestsLoad) {
  Serve("/e", 5, 1234567);
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(requester->Request(session, "qorcache://h/e", 0, &request), kOk);
  Pump();
  EXPECT_EQ(UrlLoadExpiry(request), 1234567);
  EXPECT_EQ(UrlLoadContentClass(request), 2u);
  EXPECT_EQ(UrlLoadTypeId(request), FetchType::Collect);
  requester->Done(session, request);
}

TEST_F(UrlCacheTest, ALockedLoadOutlivesTheCacheEntryItWasIn) {
  // Fetched anew while the first is locked: the old one leaves the cache
  // and goes when unlocked.
  FetchBody body;
  body.body = "v1";
  body.expiry = 1000010;
  driver.Serve("/v", body);
  UrlLoad* old = Fetch("qorcache://h/v");
  UrlLoadSetFlags(old, 0);
  platform->now = 1000020;
  UrlLoad* renewed = Fetch("qorcache://h/v");
  EXPECT_NE(renewed, old);
  EXPECT_EQ(Find("qorcache://h/v"), renewed);
  EXPECT_EQ(CacheCount(), 1u);
  UrlLoadClearFlags(old, 0);
}

}  // namespace
