// A URL task owned by a recorder task of the test, with one session for the
// test's requester task and the fetch driver's schemes; the heap is checked
// whole once both are closed.
#pragma once
#include <memory>

#include "browser/url.h"
#include "kernel/heap.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fetch_driver.h"

class UrlFixture : public EngineFixture {
 protected:
  explicit UrlFixture(uint32_t heapBytes = 2u << 20) : EngineFixture(heapBytes) {}

  // Starts the URL task and a session for the requester (made before, so
  // that the heap's starting point counts it).
  void StartUrl(TskmanTask* requester) {
    owner = std::make_unique<Recorder>(Mod::TestHarness);
    Pump();
    heapAtStart = HeapGetStats().freeBytes;
    ASSERT_EQ(UrlStartTask(&urlTask, owner->task()), kOk);
    ASSERT_EQ(UrlSessionCreate(&session, requester), kOk);
    Pump();
  }

  // Closes the session and the task; the heap is whole again.
  void Finish() {
    UrlSessionDestroy(session);
    session = nullptr;
    UrlStopTask(urlTask);
    Pump();
    EXPECT_EQ(owner->Count(UrlMsg::Closed), 1u);
    EXPECT_EQ(UrlGetModule(), nullptr);
    EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
    EXPECT_EQ(HeapValidate(), nullptr);
  }

  // Finishes unless the test closed its URL task itself; fixtures call it
  // before they free their requester.
  void EndUrl() {
    if (owner && UrlGetModule() && owner->Count(UrlMsg::Closed) == 0) Finish();
  }

  void TearDown() override {
    EndUrl();
    owner.reset();
    EngineFixture::TearDown();
  }

  FetchDriver driver;
  std::unique_ptr<Recorder> owner;
  UrlTaskContext* urlTask = nullptr;
  UrlSession* session = nullptr;
  uint32_t heapAtStart = 0;
};
