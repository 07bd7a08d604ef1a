#include "tests/content/rows_fixture.h"

#include <gtest/gtest.h>

#include "browser/cache.h"
#include "content/content_rows.h"
#include "kernel/heap.h"
#include "kernel/mem.h"

void RowsFixture::SetUp() {
  EngineFixture::SetUp();
  ContentRowsInstall();
  owner = std::make_unique<Recorder>(Mod::TestHarness);
  requester = std::make_unique<FetchRequester>();
  Pump();
}

void RowsFixture::TearDown() {
  if (running_) {
    UrlStopTask(running_);
    Pump();
  }
  requester.reset();
  owner.reset();
  ContentRowsRemove();
  EngineFixture::TearDown();
}

RowsFixture::Ended RowsFixture::Load(const std::string& url, uint32_t flags,
                                     const std::function<void(UrlRequestRec*)>& look) {
  const uint32_t heapAtStart = HeapGetStats().freeBytes;
  UrlTaskContext* urlTask = nullptr;
  UrlSession* session = nullptr;
  EXPECT_EQ(UrlStartTask(&urlTask, owner->task()), kOk);
  EXPECT_EQ(UrlSessionCreate(&session, requester->task()), kOk);
  Pump();
  UrlRequestRec* request = nullptr;
  requester->ClearLog();
  Ended ended;
  ended.failure = requester->Request(session, url, flags, &request);
  if (ended.failure == kOk) {
    Pump();
    for (const Received& r : requester->log()) {
      if (r.message == UrlMsg::Complete) ended.complete = true;
      if (r.message == UrlMsg::Failed) ended.failure = static_cast<Result>(r.arg2);
    }
    look(request);
    requester->Done(session, request);
  }
  UrlSessionDestroy(session);
  UrlStopTask(urlTask);
  Pump();
  if (moduleStopsAfterLoad) {
    EXPECT_EQ(UrlGetModule(), nullptr);
  }
  if (heapWholeAfterLoad) {
    EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
  }
  EXPECT_EQ(HeapValidate(), nullptr);
  return ended;
}

RowsFixture::Ended RowsFixture::Serve(const std::string& type, const std::string& body,
                                      uint32_t block, bool announce, uint32_t flags,
                                      const std::function<void(UrlRequestRec*)>& look) {
  FetchBody served;
  served.body = body;
  served.blockSize = block;
  served.announceLength = announce;
  served.contentType = type;
  driver.Serve("/body", served);
  return Load("qortest://h/body", flags, look);
}

void RowsFixture::PlaceWorkBuffer(WorkBuffer where) {
  heapWholeAfterLoad = false;
  moduleStopsAfterLoad = false;
  if (!running_) {
    ASSERT_EQ(UrlStartTask(&running_, owner->task()), kOk);
    Pump();
  }
  UrlModuleContext* module = UrlGetModule();
  ASSERT_NE(module, nullptr);
  while (CacheFreeOne()) {
  }
  UrlWorkBufferHold(module);
  UrlWorkBufferLetGo(module);
  ASSERT_EQ(module->workBufferSize, kUrlWorkBufferSize);
  if (where == WorkBuffer::Had) return;
  void* big = MemAlloc(HeapGetStats().largestFree + 1024, Use::Data, Mod::TestCode);
  ASSERT_EQ(module->workBuffer, nullptr);
  MemFree(&big);
  if (where == WorkBuffer::GaveWay) return;
  const FetchBody page = FetchText(std::string(16000, 'p'), "application/x-qor-collect");
  while (HeapGetStats().largestFree >= kUrlWorkBufferSize) {
    const std::string path = "/page" + std::to_string(pages_++);
    driver.Serve(path, page);
    ASSERT_TRUE(Load("qorcache://h" + path, 0, [](UrlRequestRec*) {}).complete);
  }
}
