#include "tests/content/rows_fixture.h"

#include <gtest/gtest.h>

#include "content/content_rows.h"
#include "kernel/heap.h"

void RowsFixture::SetUp() {
  EngineFixture::SetUp();
  ContentRowsInstall();
  owner = std::make_unique<Recorder>(Mod::TestHarness);
  requester = std::make_unique<FetchRequester>();
  Pump();
}

void RowsFixture::TearDown() {
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
  EXPECT_EQ(UrlGetModule(), nullptr);
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
