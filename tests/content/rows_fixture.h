// The content rows over the real URL task: each load on a task and session
// of its own, bodies from the tests' fetch driver, the heap whole afterwards.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "browser/url.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fetch_driver.h"
#include "tests/support/recorder.h"

class RowsFixture : public EngineFixture {
 protected:
  RowsFixture() : EngineFixture(4u << 20) {}
  void SetUp() override;
  void TearDown() override;

  struct Ended {
    bool complete = false;
    Result failure = 0;  // the load's failure, or the request's refusal
  };
  // Loads `url`; `look` sees the request while it is still there.
  Ended Load(const std::string& url, uint32_t flags,
             const std::function<void(UrlRequestRec*)>& look);

  // Serves the body at qortest://h/body, `block` bytes at a time, and loads it.
  Ended Serve(const std::string& type, const std::string& body, uint32_t block, bool announce,
              uint32_t flags, const std::function<void(UrlRequestRec*)>& look);

  // Where the URL module's work buffer stands for the next load.
  enum class WorkBuffer {
    Had,               // the module's own, as since its start
    GaveWay,           // given way to a request the heap could not meet
    GaveWayCacheFull,  // given way, and the object cache since filled with pages
  };
  // Keeps the module running across loads, as it runs while the browser
  // does, and puts its work buffer there; the cache's pages go first.
  void PlaceWorkBuffer(WorkBuffer where);

  FetchDriver driver;
  // Each load leaves the heap as it found it; off for loads that hand memory
  // on past their end (or take some that was held before).
  bool heapWholeAfterLoad = true;
  // The URL module stops with each load's task; off where another task
  // keeps it running.
  bool moduleStopsAfterLoad = true;
  std::unique_ptr<Recorder> owner;
  std::unique_ptr<FetchRequester> requester;

 private:
  UrlTaskContext* running_ = nullptr;  // the task PlaceWorkBuffer keeps up
  int pages_ = 0;
};
