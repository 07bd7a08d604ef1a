// Content that reaches the emulated handset's own services through the real
// host core: sound bodies pumped into their render sinks end in the host's
// numbered sound files, and commerce-brand bodies go through the host's
// delayed confirmation back to the browser window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser/bentask.h"
#include "content/handover_rows.h"
#include "host/handset_host.h"
#include "host/shellsvc.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "layout/render_pump.h"
#include "markup/html_node.h"
#include "tests/content/rows_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

const ShellServiceOps kQuietSounds{nullptr, [](void*, const char*) {}, [](void*) {},
                                   [](void*, const char*) { return 0; }};

class HandsetHostTest : public RowsFixture {
 protected:
  void SetUp() override {
    RowsFixture::SetUp();
    HostHandsetInstall();
    ShellServicesInstall(&kQuietSounds);
    ShellPlaySystemSound(0, nullptr, 0);  // the numbering starts at 1
    // The browser window's UI task: keeps the addresses it is sent.
    ui = std::make_unique<Recorder>(Mod::Ui, [this](Recorder&, const Received& r) {
      if (r.message == BenMsg::UiNavigate) {
        auto* address = reinterpret_cast<char*>(r.arg1);
        navigations.emplace_back(address);
        MemFree(&address);
      }
      return kOk;
    });
  }
  void TearDown() override {
    ui.reset();
    ShellServicesInstall(nullptr);
    HandsetInstall(nullptr);
    RowsFixture::TearDown();
  }

  // Loads the body and pumps its output into the sink of its class, as the
  // page renderer does.
  Result PumpSound(const std::string& type, const std::string& body, uint32_t block) {
    FetchBody served;
    served.body = body;
    served.blockSize = block;
    served.contentType = type;
    driver.Serve("/sound", served);
    RenderRequest renderRequest{nullptr, 1, 0};
    RenderPump pump{};
    // The load has ended when `look` runs: the pump takes its whole output.
    requester->onMessage = [](const Received&) {};
    const Ended ended = Load("qortest://h/sound", 0, [&](UrlRequestRec* request) {
      RenderPumpStart(&pump, &renderRequest, request, requester->task());
      RenderPumpRun(&pump);
      EXPECT_TRUE(pump.finished);
    });
    requester->onMessage = nullptr;
    EXPECT_TRUE(ended.complete);
    return pump.result ? pump.result : pump.closeAnswer;
  }

  TempDir folder{true};
  std::unique_ptr<Recorder> ui;
  std::vector<std::string> navigations;
};

// Every sound class is pumped whole into its own sink and reaches the host
// once, from its first non-NUL byte, whatever the blocks.
TEST_F(HandsetHostTest, SoundBodiesReachTheHostThroughTheirSinks) {
  const char* types[] = {"audio/nsnd", "audio/vib",  "audio/mmf", "audio/ma1", "audio/ma2",
                         "audio/ma3",  "audio/smaf", "audio/pmd", "audio/mid", "audio/ma5"};
  int number = 0;
  for (const char* type : types)
    for (uint32_t block : {0u, 3u}) {
      SCOPED_TRACE(std::string(type) + " " + std::to_string(block));
      std::string body(2, '\0');
      body += std::string("MThd") + type;
      EXPECT_EQ(PumpSound(type, body, block), 0u);
      EXPECT_EQ(ReadWholeFile(folder / (std::to_string(++number) + ".sound")), body.substr(2));
    }
}

// A page's pending sound is played in place of the body, and freed.
TEST_F(HandsetHostTest, PendingPageSoundTakesPrecedence) {
  const uint32_t heapAtStart = HeapGetStats().freeBytes;
  heapWholeAfterLoad = false;
  auto* page = static_cast<uint8_t*>(MemAlloc(4, Use::Data, Mod::TestCode));
  for (int i = 0; i < 4; ++i) page[i] = static_cast<uint8_t>("PAGE"[i]);
  HtmlSetPendingPageSound(page, 4, 3);
  EXPECT_EQ(PumpSound("audio/mid", "BODY", 0), 0u);
  EXPECT_EQ(ReadWholeFile(folder / "1.sound"), "PAGE");
  EXPECT_FALSE(HtmlHasPendingPageSound());
  EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
}

// A commerce-brand body asks the handset to confirm; three seconds later the
// browser window is sent to the callback address with the answer. A second
// body while one waits, a body without the marker and an empty body are
// refused.
TEST_F(HandsetHostTest, CommerceBrandBodiesConfirmThenNavigate) {
  const uint32_t heapAtStart = HeapGetStats().freeBytes;
  heapWholeAfterLoad = false;  // the confirmation waits past the load
  for (uint32_t block : {0u, 1u}) {
    SCOPED_TRACE(block);
    navigations.clear();
    EXPECT_EQ(Serve("application/tbazar", "Pay 300 won;CBURL=http://shop.example/cb;x;", block,
                    true, 0, [](UrlRequestRec*) {})
                  .failure,
              TbazarCode::Confirming);
    EXPECT_EQ(Serve("application/tbazar", "Again;CBURL=http://other/;", 0, true, 0,
                    [](UrlRequestRec*) {})
                  .failure,
              TbazarCode::Refused);
    Tick(kShellConfirmMs / kTskmanTickMs - 1);
    Pump();
    EXPECT_TRUE(navigations.empty());
    Tick(1);
    Pump();
    EXPECT_EQ(navigations, std::vector<std::string>{
                                    "http://shop.example/cb;x?scl_p1=STATUS_OK&scl_p2=RESULT_OK"});
  }
  EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
  for (const char* body : {"no marker here", ""})
    EXPECT_EQ(Serve("application/tbazar", body, 0, false, 0, [](UrlRequestRec*) {}).failure,
              TbazarCode::Refused)
        << body;
  // The address runs to the end when no ";" follows the marker.
  navigations.clear();
  EXPECT_EQ(Serve("application/tbazar", ";CBURL=http://a/b", 0, false, 0, [](UrlRequestRec*) {})
                .failure,
            TbazarCode::Confirming);
  Tick(kShellConfirmMs / kTskmanTickMs);
  Pump();
  EXPECT_EQ(navigations,
            std::vector<std::string>{"http://a/b?scl_p1=STATUS_OK&scl_p2=RESULT_OK"});
  navigations.clear();
  EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
}

}  // namespace
