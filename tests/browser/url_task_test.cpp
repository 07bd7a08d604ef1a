// The URL task plays loads from the tests' fetch driver: block sizes,
// announced lengths, raw data, content rows, failures and closes in the
// middle; the engine heap is back where it started after each.
#include <gtest/gtest.h>

#include <string>

#include "browser/cache.h"
#include "browser/url.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "kernel/qorrom.h"
#include "tests/browser/url_fixture.h"

namespace {

std::string Body(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return s;
}

class UrlTaskTest : public UrlFixture {
 protected:
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

  // The messages for one request, in order, without the watch messages.
  std::vector<uint32_t> AnswersFor(UrlRequestRec* request) {
    std::vector<uint32_t> out;
    for (const Received& r : requester->log())
      if (r.message != TskMsg::Start && r.message != UrlMsg::Watch &&
          r.arg1 == reinterpret_cast<uintptr_t>(request))
        out.push_back(r.message);
    return out;
  }

  std::unique_ptr<FetchRequester> requester;
};

TEST_F(UrlTaskTest, ModuleContextHoldsTheWorkBuffer) {
  UrlModuleContext* module = UrlGetModule();
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->workBufferSize, kUrlWorkBufferSize);
  ASSERT_NE(module->workBuffer, nullptr);
  EXPECT_GE(HeapRequestedSizeOf(module->workBuffer), kUrlWorkBufferSize);
  EXPECT_EQ(driver.moduleInits, 1);
  Finish();
  EXPECT_EQ(driver.moduleTerms, 1);
}

struct PlayCase {
  size_t size;
  uint32_t block;  // 0: whole body
  bool announce;
  const char* type;
  uint32_t flags;
};

class UrlPlayTest : public UrlTaskTest, public ::testing::WithParamInterface<PlayCase> {};

TEST_P(UrlPlayTest, DeliversTheBodyWhole) {
  const PlayCase& c = GetParam();
  FetchBody body;
  body.body = Body(c.size);
  body.blockSize = c.block;
  body.announceLength = c.announce;
  body.contentType = c.type;
  driver.Serve("/doc", body);

  UrlRequestRec* request = nullptr;
  ASSERT_EQ(requester->Request(session, "qortest://host/doc", c.flags, &request), kOk);
  UrlRequestWatch(request, requester->task(), 77);
  Pump();

  EXPECT_EQ(requester->received[request], body.body);
  const std::vector<uint32_t> want = {UrlMsg::StatusKnown, UrlMsg::ClassKnown, UrlMsg::Complete};
  EXPECT_EQ(AnswersFor(request), want);
  for (const Received& r : requester->log())
    if (r.message == UrlMsg::Watch) {
      EXPECT_EQ(r.arg1, 77u);
    }
  UrlLoad* load = UrlRequestLoad(request);
  EXPECT_EQ(UrlLoadStatus(request), 200u);
  EXPECT_EQ(load->announcedLength, c.announce ? c.size : 0u);
  EXPECT_EQ(load->delivered, c.size);
  EXPECT_EQ(load->endOfData, 1u);
  EXPECT_EQ(load->input.head, nullptr);

  const bool processed = !(c.flags & UrlFlag::RawData) && std::string(c.type) == "application/x-qor-collect";
  if (processed) {
    EXPECT_GE(driver.processCalls, 1);
    EXPECT_EQ(driver.releases, 1);
    for (uint32_t size : driver.workBufferSizes) EXPECT_EQ(size, kUrlWorkBufferSize);
  } else {
    EXPECT_EQ(driver.processCalls, 0);
  }
  EXPECT_EQ(driver.closes, 1);
  const uint32_t blocks = c.block ? static_cast<uint32_t>((c.size + c.block - 1) / c.block) : 1;
  // One scheme step per block, and one more for the end when nothing came.
  EXPECT_EQ(driver.steps, static_cast<int>(c.size ? blocks : 1));

  requester->Done(session, request);
  Finish();
}

std::vector<PlayCase> PlayCases() {
  std::vector<PlayCase> out;
  for (size_t size : {0, 1, 139, 140, 141, 1000})
    for (uint32_t block : {1u, 140u, 0u})
      for (bool announce : {true, false})
        for (int mode = 0; mode < 3; ++mode) {
          // 0: a type without a handler, 1: a handler, 2: the handler's type
          // requested as raw data.
          const char* type = mode == 0 ? "text/vnd.wap.wml" : "application/x-qor-collect";
          out.push_back({size, block, announce, type, mode == 2 ? UrlFlag::RawData : 0u});
        }
  return out;
}

INSTANTIATE_TEST_SUITE_P(Blocks, UrlPlayTest, ::testing::ValuesIn(PlayCases()));

TEST_F(UrlTaskTest, RawDataArrivesInTheBlocksAsTheyCame) {
  FetchBody body;
  body.body = Body(300);
  body.blockSize = 140;
  body.contentType = "application/x-qor-collect";
  driver.Serve("/raw", body);
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(requester->Request(session, "qortest://h/raw", UrlFlag::RawData, &request), kOk);
  Pump();
  std::vector<uint32_t> sizes;
  void* object = nullptr;
  UrlRequestRec fresh = *request;
  fresh.cursor = nullptr;
  while (UrlLoadNextChunk(&fresh, &object) == kOk)
    sizes.push_back(static_cast<UtilDataChunk*>(object)->remaining);
  EXPECT_EQ(sizes, (std::vector<uint32_t>{140, 140, 20}));
  EXPECT_EQ(driver.processCalls, 0);
  requester->Done(session, request);
  Finish();
}

TEST_F(UrlTaskTest, NoProcessAfterTheHandlerCompletes) {
  FetchBody body;
  body.body = Body(500);
  body.blockSize = 100;
  body.contentType = "application/x-qor-first";
  driver.Serve("/first", body);
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(requester->Request(session, "qortest://h/first", 0, &request), kOk);
  Pump();
  EXPECT_EQ(driver.processCalls, 1);
  EXPECT_EQ(driver.releases, 1);
  EXPECT_EQ(driver.closes, 1);
  EXPECT_EQ(requester->received[request], body.body.substr(0, 100));
  EXPECT_EQ(requester->Count(UrlMsg::Complete), 1u);
  requester->Done(session, request);
  Finish();
}

TEST_F(UrlTaskTest, SchemeFailureInTheMiddle) {
  for (uint32_t block : {1u, 140u, 0u}) {
    SCOPED_TRACE(block);
    FetchBody body;
    body.body = Body(400);
    body.blockSize = block;
    body.failAt = 200;
    body.contentType = "application/x-qor-collect";
    driver.Serve("/broken", body);
    const int releases = driver.releases, closes = driver.closes;
    UrlRequestRec* request = nullptr;
    ASSERT_EQ(requester->Request(session, "qortest://h/broken", 0, &request), kOk);
    Pump();
    const std::vector<uint32_t> want = {UrlMsg::StatusKnown, UrlMsg::ClassKnown, UrlMsg::Failed};
    EXPECT_EQ(AnswersFor(request), want);
    EXPECT_EQ(requester->log().back().arg2, body.failCode);
    EXPECT_EQ(driver.releases, releases + 1);
    EXPECT_EQ(driver.closes, closes + 1);
    requester->Done(session, request);
    requester->ClearLog();
  }
  Finish();
}

TEST_F(UrlTaskTest, ContentRowFailureFailsTheLoad) {
  FetchBody body;
  body.body = Body(50);
  body.contentType = "application/x-qor-refuse";
  driver.Serve("/refused", body);
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(requester->Request(session, "qortest://h/refused", 0, &request), kOk);
  Pump();
  ASSERT_EQ(requester->Count(UrlMsg::Failed), 1u);
  EXPECT_EQ(requester->log().back().arg2, kFetchRefused);
  EXPECT_EQ(requester->Count(UrlMsg::Complete), 0u);
  EXPECT_EQ(driver.releases, 1);
  requester->Done(session, request);
  Finish();
}

// A content row that refuses a body in the middle fails the load after the
// status and class are known; the row is released and the scheme closed once.
TEST_F(UrlTaskTest, FailuresInTheMiddleFailTheLoad) {
  FetchBody body;
  body.body = Body(400);
  body.contentType = "application/x-qor-refuse";
  driver.Serve("/broken", body);
  const int releases = driver.releases, closes = driver.closes;
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(requester->Request(session, "qortest://h/broken", 0, &request), kOk);
  Pump();
  const std::vector<uint32_t> want = {UrlMsg::StatusKnown, UrlMsg::ClassKnown, UrlMsg::Failed};
  EXPECT_EQ(AnswersFor(request), want);
  EXPECT_EQ(requester->log().back().arg2, kFetchRefused);
  EXPECT_EQ(driver.releases, releases + 1);
  EXPECT_EQ(driver.closes, closes + 1);
  requester->Done(session, request);
  Finish();
}

TEST_F(UrlTaskTest, MissingDocumentFails) {
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(requester->Request(session, "qortest://h/none", 0, &request), kOk);
  Pump();
  const std::vector<uint32_t> want = {UrlMsg::StatusKnown, UrlMsg::Failed};
  EXPECT_EQ(AnswersFor(request), want);
  EXPECT_EQ(UrlLoadStatus(request), 404u);
  requester->Done(session, request);
  Finish();
}

TEST_F(UrlTaskTest, ClosedInTheMiddle) {
  for (int stepsBeforeClose : {0, 1, 2, 5}) {
    for (bool raw : {false, true}) {
      SCOPED_TRACE(stepsBeforeClose);
      FetchBody body;
      body.body = Body(1000);
      body.blockSize = 140;
      body.contentType = "application/x-qor-collect";
      driver.Serve("/long", body);
      const int closes = driver.closes, releases = driver.releases;
      UrlRequestRec* request = nullptr;
      ASSERT_EQ(requester->Request(session, "qortest://h/long", raw ? UrlFlag::RawData : 0, &request),
                kOk);
      for (int i = 0; i < stepsBeforeClose; ++i) Step();
      requester->Done(session, request);
      Pump();
      EXPECT_EQ(driver.closes, closes + 1);
      // The content row is known from the first step on.
      EXPECT_EQ(driver.releases, releases + (stepsBeforeClose > 0 ? 1 : 0));
      EXPECT_EQ(requester->Count(UrlMsg::Complete), 0u);
    }
  }
  Finish();
}

TEST_F(UrlTaskTest, RelativeUrlsResolveAgainstTheReferringRequest) {
  FetchBody body;
  body.body = "x";
  driver.Serve("/dir/a", body);
  driver.Serve("/dir/b", body);
  UrlRequestRec* first = nullptr;
  UrlRequestRec* second = nullptr;
  ASSERT_EQ(requester->Request(session, "qortest://h/dir/a?q", 0, &first), kOk);
  ASSERT_EQ(requester->Request(session, "b#frag", 0, &second, first), kOk);
  char* text = nullptr;
  ASSERT_EQ(UrlOfRequest(&text, second), kOk);
  EXPECT_STREQ(text, "qortest://h/dir/b#frag");
  MemFree(&text);
  Pump();
  EXPECT_EQ(requester->received[second], "x");
  // Without a base a relative URL names nothing.
  UrlRequestRec* none = nullptr;
  EXPECT_EQ(UrlRequest(session, "b", 0, nullptr, &none, 0, requester->task(), 0), kUrlBadUrl);
  EXPECT_EQ(UrlRequest(session, "nosuch://h/", 0, nullptr, &none, 0, requester->task(), 0),
            kUrlNoScheme);
  EXPECT_EQ(none, nullptr);
  requester->Done(session, first);
  requester->Done(session, second);
  Finish();
}

TEST_F(UrlTaskTest, AnswersToAGoneRequesterAreDropped) {
  // A bystander task sees nothing of a request whose requester has gone:
  // the answers are not broadcast.
  Recorder bystander(Mod::TestCode + 1);
  FetchBody body;
  body.body = Body(10);
  driver.Serve("/x", body);
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(requester->Request(session, "qortest://h/x", 0, &request), kOk);
  requester->Destroy();
  Pump();
  EXPECT_TRUE(bystander.Messages().empty());
  UrlRequestDone(session, request);
  UrlSessionDestroy(session);
  session = nullptr;
  UrlStopTask(urlTask);
  Pump();
  EXPECT_TRUE(bystander.Messages().empty());
  EXPECT_EQ(owner->Count(UrlMsg::Closed), 1u);
}

TEST_F(UrlTaskTest, IgnoresNoticesAndMessagesForOthers) {
  FetchBody body;
  body.body = Body(10);
  driver.Serve("/x", body);
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(requester->Request(session, "qortest://h/x", 0, &request), kOk);
  // A settings notice to everyone, a stop meant for another task, and a
  // step naming no request of this task.
  TskmanBroadcast(Msg(Mod::Config, 0x10), 0, 0);
  TskmanBroadcast(TskMsg::Stop2, 0, 0);
  TskmanPost(urlTask->task, UrlMsg::Step, 0x1234, 0);
  Pump();
  EXPECT_EQ(requester->received[request], body.body);
  EXPECT_EQ(owner->Count(UrlMsg::Closed), 0u);
  requester->Done(session, request);
  Finish();
}

TEST_F(UrlTaskTest, SessionsAndTheTaskAnswerWhenClosed) {
  UrlSession* second = nullptr;
  ASSERT_EQ(UrlSessionCreate(&second, requester->task()), kOk);
  UrlSessionDestroy(second);
  Pump();
  ASSERT_EQ(requester->Count(UrlMsg::Closed), 1u);
  EXPECT_EQ(requester->log().back().arg1, reinterpret_cast<uintptr_t>(second));
  // A closing task takes no more requests.
  UrlStopTask(urlTask);
  UrlRequestRec* request = nullptr;
  EXPECT_EQ(UrlRequest(session, "qortest://h/x", 0, nullptr, &request, 0, requester->task(), 0),
            kUrlClosing);
  Pump();
  // The session the task still had is closed with it.
  EXPECT_EQ(requester->Count(UrlMsg::Closed), 2u);
  EXPECT_EQ(owner->Count(UrlMsg::Closed), 1u);
  UrlSession* late = nullptr;
  EXPECT_EQ(UrlSessionCreate(&late, requester->task()), kUrlNoMemory);
  EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
}

TEST_F(UrlTaskTest, BuiltInFilesComeFromTheTree) {
  // Any file of the built-in tree will do: the first of a folder.
  std::string path;
  for (uint32_t i = 0; i + 1 < kQorRomDirCount && path.empty(); ++i)
    if (kQorRomDirs[i].path[0] && kQorRomDirs[i].first < kQorRomDirs[i + 1].first)
      path = std::string(kQorRomDirs[i].path) + "/" + kQorRomFiles[kQorRomDirs[i].first].name;
  ASSERT_FALSE(path.empty());
  uint32_t size = 0;
  const uint8_t* bytes = QorRomOpen(path.c_str(), &size);
  ASSERT_NE(bytes, nullptr);
  const std::string want(reinterpret_cast<const char*>(bytes), size);
  QorRomRelease(bytes);

  UrlRequestRec* request = nullptr;
  ASSERT_EQ(requester->Request(session, "file://" + path, UrlFlag::RawData, &request), kOk);
  Pump();
  EXPECT_EQ(requester->received[request], want);
  EXPECT_EQ(UrlLoadStatus(request), 200u);
  EXPECT_EQ(UrlRequestLoad(request)->announcedLength, size);
  requester->Done(session, request);

  UrlRequestRec* missing = nullptr;
  ASSERT_EQ(requester->Request(session, "file:///no/such/file.html", 0, &missing), kOk);
  Pump();
  EXPECT_EQ(requester->Count(UrlMsg::Failed), 1u);
  EXPECT_EQ(UrlLoadStatus(missing), 404u);
  requester->Done(session, missing);
  Finish();
}

}  // namespace

namespace {

// A heap too small for the work buffer: the module runs without it.
class UrlSmallHeapTest : public EngineFixture {
 protected:
  UrlSmallHeapTest() : EngineFixture(160u << 10) {}
};

TEST_F(UrlSmallHeapTest, ModuleRunsWithoutItsWorkBuffer) {
  FetchDriver driver;
  Recorder owner(Mod::TestHarness);
  FetchRequester requester;
  Pump();
  const uint32_t start = HeapGetStats().freeBytes;
  UrlTaskContext* urlTask = nullptr;
  ASSERT_EQ(UrlStartTask(&urlTask, owner.task()), kOk);
  ASSERT_NE(UrlGetModule(), nullptr);
  EXPECT_EQ(UrlGetModule()->workBufferSize, 0u);
  EXPECT_EQ(UrlGetModule()->workBuffer, nullptr);
  UrlSession* session = nullptr;
  ASSERT_EQ(UrlSessionCreate(&session, requester.task()), kOk);
  FetchBody body;
  body.body = "collected";
  body.contentType = "application/x-qor-collect";
  driver.Serve("/c", body);
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(requester.Request(session, "qortest://h/c", 0, &request), kOk);
  Pump();
  EXPECT_EQ(requester.received[request], "collected");
  EXPECT_EQ(driver.workBufferSizes, std::vector<uint32_t>{0});
  requester.Done(session, request);
  UrlSessionDestroy(session);
  UrlStopTask(urlTask);
  Pump();
  EXPECT_EQ(HeapGetStats().freeBytes, start);
}

// A heap with room for the work buffer and a little more: the buffer gives
// way to a request the rest of the heap cannot meet, unless a user holds it;
// the next user takes it again once the heap has room for it beside the rest.
class UrlWorkBufferTest : public EngineFixture {
 protected:
  UrlWorkBufferTest() : EngineFixture(320u << 10) {}
};

TEST_F(UrlWorkBufferTest, GivesWayUnlessHeldAndIsTakenAgainByTheNextUser) {
  Recorder owner(Mod::TestHarness);
  Pump();
  UrlTaskContext* urlTask = nullptr;
  ASSERT_EQ(UrlStartTask(&urlTask, owner.task()), kOk);
  UrlModuleContext* module = UrlGetModule();
  for (const bool held : {true, false}) {
    SCOPED_TRACE(held ? "held" : "not held");
    ASSERT_EQ(module->workBufferSize, kUrlWorkBufferSize);
    if (held) UrlWorkBufferHold(module);
    // More than the heap has beside the buffer.
    void* big = MemAlloc(HeapGetStats().largestFree + 1024, Use::Data, Mod::TestCode);
    EXPECT_EQ(big != nullptr, !held);
    EXPECT_EQ(module->workBufferSize, held ? kUrlWorkBufferSize : 0u);
    // While the heap is short, a user has none.
    EXPECT_EQ(UrlWorkBufferHold(module) != nullptr, held);
    EXPECT_EQ(module->workBufferSize, held ? kUrlWorkBufferSize : 0u);
    UrlWorkBufferLetGo(module);
    if (held) UrlWorkBufferLetGo(module);
    MemFree(&big);
  }
  ASSERT_NE(UrlWorkBufferHold(module), nullptr);
  EXPECT_EQ(module->workBufferSize, kUrlWorkBufferSize);
  UrlWorkBufferLetGo(module);
  UrlStopTask(urlTask);
  Pump();
}

TEST_F(UrlSmallHeapTest, TaskThatCannotBeCreatedLeavesNothing) {
  Recorder owner(Mod::TestHarness);
  Pump();
  const uint32_t start = HeapGetStats().freeBytes;
  TskmanFailNextCreate(Mod::Url);
  UrlTaskContext* urlTask = nullptr;
  EXPECT_EQ(UrlStartTask(&urlTask, owner.task()), kUrlNoMemory);
  EXPECT_EQ(urlTask, nullptr);
  EXPECT_EQ(UrlGetModule(), nullptr);
  EXPECT_EQ(HeapGetStats().freeBytes, start);
  UrlSession* session = nullptr;
  EXPECT_EQ(UrlSessionCreate(&session, owner.task()), kUrlNoMemory);
}

TEST_F(UrlSmallHeapTest, TwoUrlTasksShareTheModule) {
  Recorder first(Mod::TestHarness);
  Recorder second(Mod::TestCode);
  Pump();
  UrlTaskContext* a = nullptr;
  UrlTaskContext* b = nullptr;
  ASSERT_EQ(UrlStartTask(&a, first.task()), kOk);
  ASSERT_EQ(UrlStartTask(&b, second.task()), kOk);
  // A session goes to its requester's own URL task.
  UrlSession* session = nullptr;
  ASSERT_EQ(UrlSessionCreate(&session, second.task()), kOk);
  EXPECT_EQ(session->urlTask, b);
  UrlSessionDestroy(session);
  UrlStopTask(a);
  Pump();
  EXPECT_EQ(first.Count(UrlMsg::Closed), 1u);
  EXPECT_NE(UrlGetModule(), nullptr);
  UrlStopTask(b);
  Pump();
  EXPECT_EQ(second.Count(UrlMsg::Closed), 2u);  // the session, then the task
  EXPECT_EQ(UrlGetModule(), nullptr);
}

}  // namespace
