// A download for installation draws its progress screen in the browser
// window while it is collected, through the real UI task, toolkit and fonts.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "browser/uiprogress.h"
#include "browser/uitask.h"
#include "browser/url.h"
#include "content/content_rows.h"
#include "content/handover_rows.h"
#include "kernel/heap.h"
#include "tests/support/fetch_driver.h"
#include "tests/widgets/pwl_fixture.h"

namespace {

class NdwnProgressTest : public PwlFixture {
 protected:
  NdwnProgressTest() { withFonts = true; }
  void SetUp() override {
    PwlFixture::SetUp();
    ContentRowsInstall();
    ASSERT_EQ(UiCreate(""), kOk);
    Pump();
  }
  void TearDown() override {
    NdwnHeldItemFree();
    TskmanSend(TskmanFind(Mod::Ui), UiMsg::Command, 31, 0);
    // The browser's end stops its URL task by a post: the task must run
    // it, or the URL module outlives this engine and the next test's
    // browser joins a module in a heap that is gone.
    Pump();
    ContentRowsRemove();
    PwlFixture::TearDown();
  }
  ::testing::AssertionResult Screen(const char* name) {
    const GoldenImage image = GoldenFromRgb565(platform->screen.data(), 160, 240, 160);
    return GoldenMatches(std::string(QOR_GOLDEN_DIR) + "/" + name, image);
  }
};

// The panel with its lines and the empty bar, then a quarter of the way.
TEST_F(NdwnProgressTest, ThePanelShowsTheBarFillingUp) {
  UiProgressShow();
  EXPECT_TRUE(UiProgressActive());
  EXPECT_TRUE(Screen("ndwn_progress_0.png"));
  UiProgressStep(250, 1000);
  EXPECT_TRUE(Screen("ndwn_progress_25.png"));
  UiProgressHide();
  UiProgressStep(1000, 1000);  // no longer drawn
  EXPECT_TRUE(Screen("ndwn_progress_25.png"));
}

// A download of 1,000 bytes in four blocks is held for provisioning and
// leaves the screen full, no longer active.
TEST_F(NdwnProgressTest, ADownloadFillsTheBarAndIsHeld) {
  FetchDriver driver;
  FetchBody body;
  body.body = std::string(1000, 'D');
  body.blockSize = 250;
  body.contentType = "application/ndwn";
  driver.Serve("/item", body);
  Recorder urlOwner(Mod::TestHarness);
  FetchRequester requester(Mod::Performance);
  UrlTaskContext* urlTask = nullptr;
  UrlSession* session = nullptr;
  ASSERT_EQ(UrlStartTask(&urlTask, urlOwner.task()), kOk);
  ASSERT_EQ(UrlSessionCreate(&session, requester.task()), kOk);
  Pump();
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(requester.Request(session, "qortest://h/item", 0, &request), kOk);
  Pump();
  Result failure = 0;
  for (const Received& r : requester.log())
    if (r.message == UrlMsg::Failed) failure = static_cast<Result>(r.arg2);
  EXPECT_EQ(failure, NdwnCode::HandedOver);
  requester.Done(session, request);
  UrlSessionDestroy(session);
  UrlStopTask(urlTask);
  Pump();
  uint32_t held = 0;
  EXPECT_NE(NdwnHeldItem(&held), nullptr);
  EXPECT_EQ(held, 1000u);
  EXPECT_FALSE(UiProgressActive());
  EXPECT_TRUE(Screen("ndwn_progress_100.png"));
}

// Two downloads collected at once: the one finished last is held, and the
// other does not stay behind in the heap.
TEST_F(NdwnProgressTest, TwoDownloadsAtOnceHoldTheLastAndLeaveNothingBehind) {
  FetchDriver driver;
  for (const char* name : {"/a", "/b"}) {
    FetchBody body;
    body.body = std::string(name[1] == 'a' ? 1000 : 600, name[1]);
    body.blockSize = 100;
    body.contentType = "application/ndwn";
    driver.Serve(name, body);
  }
  Recorder urlOwner(Mod::TestHarness);
  FetchRequester requester(Mod::Performance);
  // Downloads `names` at once; what the one held holds.
  const auto download = [&](std::initializer_list<const char*> names) {
    UrlTaskContext* urlTask = nullptr;
    UrlSession* session = nullptr;
    EXPECT_EQ(UrlStartTask(&urlTask, urlOwner.task()), kOk);
    EXPECT_EQ(UrlSessionCreate(&session, requester.task()), kOk);
    Pump();
    std::vector<UrlRequestRec*> requests;
    for (const char* name : names) {
      requests.push_back(nullptr);
      EXPECT_EQ(requester.Request(session, std::string("qortest://h") + name, 0, &requests.back()),
                kOk);
    }
    Pump();
    for (UrlRequestRec* request : requests) requester.Done(session, request);
    UrlSessionDestroy(session);
    UrlStopTask(urlTask);
    Pump();
    uint32_t length = 0;
    const uint8_t* item = NdwnHeldItem(&length);
    const std::string held = item ? std::string(reinterpret_cast<const char*>(item), length) : "";
    NdwnHeldItemFree();
    return held;
  };
  EXPECT_EQ(download({"/a"}), std::string(1000, 'a'));  // whatever one download leaves
  const uint32_t before = HeapGetStats().freeBytes;
  const std::string held = download({"/a", "/b"});
  EXPECT_TRUE(held == std::string(1000, 'a') || held == std::string(600, 'b'));
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

}  // namespace
