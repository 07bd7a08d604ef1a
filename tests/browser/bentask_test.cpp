// The browser task beside its window, through the real browser and UI tasks;
// each test ends the window and finds the heap as it was before it opened.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "browser/ben_hist.h"
#include "browser/benpage.h"
#include "browser/bentask.h"
#include "browser/uinav.h"
#include "browser/url.h"
#include "browser/ui.h"
#include "browser/uitask.h"
#include "browser/uiwindow.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/wmlscript/wmls_script_task.h"
#include "tests/support/fetch_driver.h"
#include "tests/widgets/pwl_fixture.h"
#include "widgets/popup.h"
#include "widgets/pwl_imagemap.h"

namespace {

// One message a watched task received, its texts copied as it arrived (the
// receiver frees them).
struct Seen {
  uint32_t message;
  uintptr_t arg1, arg2;
  std::string text;       // an 8-bit address
};

std::vector<Seen>* gSeen = nullptr;
uint32_t gWatched = 0;

void Observe(const TskmanTask* task, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  if (!gSeen || !task || task->id != gWatched || message == TskMsg::Start) return;
  Seen s{message, arg1, arg2, {}};
  if ((message == BenMsg::UiNavigate || message == BenMsg::UiShowUrl) && arg1)
    s.text = reinterpret_cast<const char*>(arg1);
  gSeen->push_back(s);
}

// WTA events the browser task leaves to the host.
int gHostEvents = 0;
void HostEventHook(uint32_t, uint32_t, const char16_t*) { ++gHostEvents; }
const BenWtaHostHooks kHooks{HostEventHook, [](uint32_t) {}};

// A parameter block: the texts, each with its terminator.
char16_t* Block(const std::vector<std::u16string>& params) {
  std::u16string all;
  for (const auto& p : params) all += p + u'\0';
  auto* t = static_cast<char16_t*>(MemAllocZero((all.size() + 1) * 2, Use::String, Mod::Input));
  LibcMemCopy(t, all.data(), all.size() * 2);
  return t;
}

BenEventBinding* Binding(uint32_t event, const char* url) {
  auto* b = static_cast<BenEventBinding*>(
      MemAllocZero(sizeof(BenEventBinding), Use::Data, Mod::WtlReplib));
  b->event = event;
  b->url = LibcStrDup(url);
  return b;
}

class BrowserTaskTest : public PwlFixture {
 protected:
  void SetUp() override {
    PwlFixture::SetUp();
    old_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "qor_ben_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    std::filesystem::current_path(dir_);
    const FontSettings settings = PwlTestFontSettings();
    ASSERT_EQ(FontInit(&settings), kOk);
    // The confirm popup's soft keys are an image map.
    PwlInstallImageMapClass();
    gHostEvents = 0;
    BenSetWtaHostHooks(&kHooks);
    TskmanSetObserver(Observe);
    gSeen = &seen;
    gWatched = Mod::Ui;
    Pump();
    baseline_ = HeapGetStats().freeBytes;
  }

  void TearDown() override {
    EndWindow();
    Pump();
    EXPECT_EQ(HeapGetStats().freeBytes, baseline_);
    EXPECT_EQ(HeapValidate(), nullptr);
    TskmanSetObserver(nullptr);
    gSeen = nullptr;
    BenSetWtaHostHooks(nullptr);
    FontTerm();
    PwlSetClassHooks(nullptr);
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
    PwlFixture::TearDown();
  }

  // Opens the browser window, and with it the browser task.
  void OpenWindow() {
    ASSERT_EQ(UiCreate(""), kOk);
    Pump();
    ASSERT_NE(TskmanFind(Mod::Ben), nullptr);
    seen.clear();
  }
  void EndWindow() {
    if (!TskmanFind(Mod::Ui)) return;
    UiCommand(UiCmd::End, 0);
    Pump();
  }
  BenBrowser* Browser() const { return BenGetBrowser(); }
  void ToBrowser(uint32_t message, uintptr_t arg1 = 0, uintptr_t arg2 = 0) {
    TskmanPost(TskmanFind(Mod::Ben), message, arg1, arg2);
    Pump();
  }
  std::vector<Seen> SeenOf(uint32_t message) const {
    std::vector<Seen> out;
    for (const Seen& s : seen)
      if (s.message == message) out.push_back(s);
    return out;
  }
  // Sends the window an address, as the browser task does.
  void Navigate(const char* address) {
    TskmanPost(TskmanFind(Mod::Ui), BenMsg::UiNavigate,
               reinterpret_cast<uintptr_t>(LibcStrDup(address)), 0);
    Pump();
  }
  // The address of the page the window shows.
  std::string PageAddress() const {
    char* text = nullptr;
    UrlRequestRec* page = UiNavCurrentRequest(UiGetWindow());
    if (!page || UrlOfRequest(&text, page) != kOk || !text) return "(none)";
    std::string out = text;
    MemFree(&text);
    return out;
  }
  std::u16string Current() const {
    const UiWindow* ui = UiGetWindow();
    return ui && ui->currentString ? std::u16string(ui->currentString) : std::u16string();
  }

  std::vector<Seen> seen;

 private:
  std::filesystem::path old_, dir_;
  uint32_t baseline_ = 0;
};

TEST_F(BrowserTaskTest, TheBrowserTaskComesAndGoesWithItsWindow) {
  TskmanFailNextCreate(Mod::Ben);
  EXPECT_NE(UiCreate(""), kOk);
  Pump();
  EXPECT_EQ(TskmanFind(Mod::Ui), nullptr);
  EXPECT_EQ(TskmanFind(Mod::Ben), nullptr);
  OpenWindow();
  EndWindow();
  EXPECT_EQ(TskmanFind(Mod::Ui), nullptr);
  EXPECT_EQ(TskmanFind(Mod::Ben), nullptr);
}

// ---- pending navigation ------------------------------------------------------------------

struct PendingCall {
  uint32_t kind;
  const char* url;
};
struct PendingRow {
  const char* name;
  std::vector<PendingCall> calls;
  uint32_t kind;         // what stays pending
  const char* url;       // its URL, or null
  uint32_t uiMessage;    // what the UI task receives on 6413, 0 for nothing
  const char* address;   // the address it is sent
};

class PendingTest : public BrowserTaskTest, public ::testing::WithParamInterface<PendingRow> {};

TEST_P(PendingTest, TheLastCallWinsAndTheScriptsEndCarriesItOut) {
  const PendingRow& row = GetParam();
  OpenWindow();
  char16_t now[] = u"http://now/deck.wml";
  UiGetWindow()->currentString = now;
  BenBrowser* browser = Browser();
  for (const PendingCall& c : row.calls) EXPECT_EQ(BenSetPendingTask(browser, c.kind, c.url), kOk);
  EXPECT_EQ(browser->pending.kind, row.kind);
  if (row.url)
    EXPECT_STREQ(browser->pending.url, row.url);
  else
    EXPECT_EQ(browser->pending.url, nullptr);

  ToBrowser(BenMsg::ScriptEnded, 0);
  EXPECT_EQ(browser->pending.kind, BenPendingKind::None);
  EXPECT_EQ(browser->pending.url, nullptr);
  std::vector<Seen> sent;
  for (const Seen& s : seen)
    if (s.message == BenMsg::UiNavigate || s.message == UiMsg::Command) sent.push_back(s);
  if (!row.uiMessage) {
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(UiGetWindow()->currentString, now);
  } else {
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].message, row.uiMessage);
    if (row.uiMessage == BenMsg::UiNavigate) {
      EXPECT_EQ(sent[0].text, row.address);
      EXPECT_EQ(Current(), std::u16string(row.address, row.address + LibcStrLen(row.address)));
    } else {
      EXPECT_EQ(sent[0].arg1, static_cast<uintptr_t>(UiCmd::Back));
    }
  }
  if (UiGetWindow()->currentString == now) UiGetWindow()->currentString = nullptr;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PendingTest,
    ::testing::Values(
        PendingRow{"go", {{1, "next.wml"}}, 1, "next.wml", BenMsg::UiNavigate, "next.wml"},
        PendingRow{"go_then_back", {{1, "next.wml"}, {2, nullptr}}, 2, nullptr, UiMsg::Command,
                   nullptr},
        PendingRow{"refresh", {{4, nullptr}}, 4, nullptr, BenMsg::UiNavigate,
                   "http://now/deck.wml"},
        PendingRow{"go_nowhere_clears", {{1, "a.wml"}, {1, nullptr}}, 0, nullptr, 0, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- navigation --------------------------------------------------------------------------

class NavigationTest : public BrowserTaskTest {
 protected:
  void SetUp() override {
    BrowserTaskTest::SetUp();
    driver.Serve("/app/s/task.wmlsc",
                 FetchFile(QOR_WMLS_DATA "/task.wmlsc", "application/vnd.wap.wmlscriptc"));
    const FetchBody deck = FetchText("<wml/>", "text/vnd.wap.wml");
    driver.Serve("/app/deck.wml", deck);
    driver.Serve("/app/next.wml", deck);
    BenSetScriptStarter(WmlsScriptTaskStartForBrowser);
    OpenWindow();
  }
  void TearDown() override {
    EndWindow();
    BenSetScriptStarter(nullptr);
    BrowserTaskTest::TearDown();
  }
  FetchDriver driver;
};

TEST_F(NavigationTest, AScriptLinksGoLoadsTheAddressResolvedAgainstThePage) {
  Navigate("qortest://h/app/deck.wml");
  EXPECT_EQ(PageAddress(), "qortest://h/app/deck.wml");
  Navigate("s/task.wmlsc#setAndGo('a%20b')");
  EXPECT_EQ(std::u16string(BenGetVar(Browser(), u"result")), u"a b");
  EXPECT_EQ(PageAddress(), "qortest://h/app/next.wml#c");
  EXPECT_EQ(Current(), u"qortest://h/app/next.wml#c");
  EXPECT_NE(TskmanFind(Mod::WmlsExec), nullptr);
  // The page left is on the back stack.
  ASSERT_NE(BenHistoryCurrent(), nullptr);
  EXPECT_STREQ(BenFindHistoryEntry(Browser(), nullptr, 0, 0), "qortest://h/app/deck.wml");
  // The script task ends with the window.
  EndWindow();
  EXPECT_EQ(TskmanFind(Mod::WmlsExec), nullptr);
}

TEST_F(NavigationTest, AFailedScriptShowsItsErrorAndEndsWhenTheUserClosesIt) {
  Navigate("qortest://h/app/deck.wml");
  gWatched = Mod::Ben;
  seen.clear();
  Navigate("s/task.wmlsc#nothing()");
  EXPECT_EQ(Current(), u"qortest://h/app/deck.wml");
  EXPECT_NE(TskmanFind(Mod::Popup), nullptr);
  EXPECT_TRUE(SeenOf(BenMsg::ScriptEnded).empty());
  UiCommand(UiCmd::Back, 0);
  Pump();
  EXPECT_EQ(TskmanFind(Mod::Popup), nullptr);
  ASSERT_EQ(SeenOf(BenMsg::ScriptEnded).size(), 1u);
  EXPECT_EQ(SeenOf(BenMsg::ScriptEnded)[0].arg1, WmlsEnd::Failed);
  EXPECT_EQ(PageAddress(), "qortest://h/app/deck.wml");
}

TEST_F(NavigationTest, AWtaEventsBoundAddressIsLoaded) {
  ASSERT_EQ(BenWtaContextOpen(Browser()), kOk);
  ASSERT_EQ(BenWtaBindEvent(Browser(), BenWtaEvent::IncomingCall, "qortest://h/app/deck.wml"), kOk);
  ASSERT_EQ(BenRaiseWtaEvent(BenWtaEvent::IncomingCall, 0, nullptr), kOk);
  Pump();
  EXPECT_EQ(PageAddress(), "qortest://h/app/deck.wml");
}

TEST_F(NavigationTest, AnAddressThatCannotBeLoadedLeavesThePage) {
  Navigate("qortest://h/app/deck.wml");
  Navigate("qortest://h/app/missing.wml");
  Navigate("nosuchscheme://x/");
  EXPECT_EQ(PageAddress(), "qortest://h/app/deck.wml");
}

TEST_F(NavigationTest, ShowUrlFillsTheTitleAndARedrawCleansThePage) {
  TskmanPost(TskmanFind(Mod::Ui), BenMsg::UiShowUrl,
             reinterpret_cast<uintptr_t>(LibcStrDup("http://a.example/a/very/long/path/deck.wml")), 0);
  Pump();
  EXPECT_EQ(std::u16string(UiGetWindow()->title), u"http://a.example/a/very/long/pa");
  BenPage page{};
  UiGetWindow()->page = &page;
  BenFormRedrawPage(Browser());
  EXPECT_TRUE(page.flags & BenPageFlag::Dirty);
  Pump();
  EXPECT_FALSE(page.flags & BenPageFlag::Dirty);
  UiGetWindow()->page = nullptr;
}

// ---- WTA events --------------------------------------------------------------------------

TEST_F(BrowserTaskTest, AnEventBoundByTheDeckSetsItsParametersAndGoesToTheBoundAddress) {
  OpenWindow();
  BenBrowser* browser = Browser();
  ASSERT_EQ(BenWtaContextOpen(browser), kOk);
  ASSERT_EQ(BenWtaBindEvent(browser, BenWtaEvent::TextSent, "wtai://sent.wml"), kOk);
  ASSERT_EQ(BenRaiseWtaEvent(BenWtaEvent::TextSent, 2, Block({u"hello", u"0"})), kOk);
  Pump();
  EXPECT_EQ(std::u16string(BenGetVar(browser, u"0")), u"hello");
  EXPECT_EQ(std::u16string(BenGetVar(browser, u"1")), u"0");
  ASSERT_EQ(SeenOf(BenMsg::UiNavigate).size(), 1u);
  EXPECT_EQ(SeenOf(BenMsg::UiNavigate)[0].text, "wtai://sent.wml");
  EXPECT_EQ(gHostEvents, 0);
}

// ---- consent -----------------------------------------------------------------------------

class ConsentTest : public BrowserTaskTest {
 protected:
  void SetUp() override {
    BrowserTaskTest::SetUp();
    OpenWindow();
    consent = std::make_unique<Recorder>(Mod::WtlWtai);
    Pump();
  }
  void TearDown() override {
    EndWindow();
    consent.reset();
    BrowserTaskTest::TearDown();
  }
  WtaiConsentRecord* Record(const std::u16string& prompt, uint32_t remember) {
    auto* r = static_cast<WtaiConsentRecord*>(
        MemAllocZero(sizeof(WtaiConsentRecord), Use::Context, 33));
    r->task = consent->task();
    r->remember = remember;
    r->prompt = LibcWStrDup(prompt.c_str());
    return r;
  }
  void Ask(WtaiConsentRecord* r) { ToBrowser(BenMsg::Consent, reinterpret_cast<uintptr_t>(r)); }
  std::vector<uintptr_t> Decisions() const {
    std::vector<uintptr_t> out;
    for (const Received& r : consent->log)
      if (r.message == BenMsg::Decision) out.push_back(r.arg1);
    return out;
  }
  bool PopupOpen() const { return TskmanFind(Mod::Popup) != nullptr; }

  std::unique_ptr<Recorder> consent;
};

TEST_F(ConsentTest, WhatIsPostedJustBeforeTheWindowEndsIsStillTakenAndFreed) {
  TskmanTask* browser = TskmanFind(Mod::Ben);
  TskmanPost(browser, BenMsg::Consent, reinterpret_cast<uintptr_t>(Record(u"late", 0)), 0);
  TskmanPost(browser, BenMsg::Bindings, reinterpret_cast<uintptr_t>(Binding(9, "rep://3")), 0);
  ASSERT_EQ(BenRaiseWtaEvent(BenWtaEvent::CallCleared, 1, Block({u"1"})), kOk);
  UiCommand(UiCmd::End, 0);
  Pump();
  EXPECT_EQ(TskmanFind(Mod::Ben), nullptr);
  EXPECT_FALSE(PopupOpen());
  EXPECT_EQ(Decisions(), std::vector<uintptr_t>{0});
  EXPECT_EQ(gHostEvents, 1);
}

}  // namespace
