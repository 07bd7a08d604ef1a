// The browser task as it runs beside its window: the navigation a script
// leaves behind, WTA events against the deck's and the repository's
// bindings, the WTA context the WTA libraries ask about, consent questions
// put to the user through the toolkit's confirm popup, form replies, and the
// page and back-stack look-ups. Every message goes through the real browser
// and UI tasks; recorder tasks stand in for the tasks that ask and answer.
// Each test ends the window and finds the heap as it was before it opened.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "browser/ben_hist.h"
#include "browser/benform.h"
#include "browser/benpage.h"
#include "browser/bentask.h"
#include "browser/status.h"
#include "browser/uinav.h"
#include "browser/url.h"
#include "browser/ui.h"
#include "browser/uitask.h"
#include "browser/uiwindow.h"
#include "kernel/config.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/uistring.h"
#include "services/provisioning/prov.h"
#include "services/service_rows.h"
#include "services/wmlscript/wmls_script_task.h"
#include "services/wtai/wtai.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/failure_record.h"
#include "tests/support/fetch_driver.h"
#include "tests/support/pinned_work_buffer.h"
#include "tests/support/recorder.h"
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
  std::u16string wide1, wide2;
};

std::vector<Seen>* gSeen = nullptr;
uint32_t gWatched = 0;

void Observe(const TskmanTask* task, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  if (!gSeen || !task || task->id != gWatched || message == TskMsg::Start) return;
  Seen s{message, arg1, arg2, {}, {}, {}};
  if ((message == BenMsg::UiNavigate || message == BenMsg::UiShowUrl) && arg1)
    s.text = reinterpret_cast<const char*>(arg1);
  if (message == PwlEvent::Labels) {
    if (arg1) s.wide1 = reinterpret_cast<const char16_t*>(arg1);
    if (arg2) s.wide2 = reinterpret_cast<const char16_t*>(arg2);
  }
  gSeen->push_back(s);
}

// The host's side of WTA events and call releases, as the tests see it.
struct HostEvent {
  uint32_t id;
  std::vector<std::u16string> params;
};
std::vector<HostEvent> gHostEvents;
std::vector<uint32_t> gReleased;
void HostEventHook(uint32_t id, uint32_t count, const char16_t* block) {
  HostEvent e{id, {}};
  for (uint32_t i = 0; block && i < count; ++i) {
    e.params.emplace_back(block);
    block += e.params.back().size() + 1;
  }
  gHostEvents.push_back(e);
}
void ReleaseHook(uint32_t call) { gReleased.push_back(call); }
const BenWtaHostHooks kHooks{HostEventHook, ReleaseHook};

char* Text(const char* s) {
  const uint32_t n = LibcStrLen(s);
  auto* t = static_cast<char*>(MemAlloc(n + 1, Use::String, Mod::WtlReplib));
  LibcMemCopy(t, s, n + 1);
  return t;
}

char16_t* WText(const std::u16string& s) {
  auto* t = static_cast<char16_t*>(MemAlloc((s.size() + 1) * 2, Use::String, Mod::Input));
  LibcMemCopy(t, s.c_str(), (s.size() + 1) * 2);
  return t;
}

// A parameter block: the texts, each with its terminator.
char16_t* Block(const std::vector<std::u16string>& params) {
  std::u16string all;
  for (const auto& p : params) all += p + u'\0';
  auto* t = static_cast<char16_t*>(MemAllocZero((all.size() + 1) * 2, Use::String, Mod::Input));
  LibcMemCopy(t, all.data(), all.size() * 2);
  return t;
}

BenEventBinding* Binding(uint32_t event, const char* url, BenEventBinding* next = nullptr) {
  auto* b = static_cast<BenEventBinding*>(
      MemAllocZero(sizeof(BenEventBinding), Use::Data, Mod::WtlReplib));
  b->event = event;
  b->url = Text(url);
  b->next = next;
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
    gHostEvents.clear();
    gReleased.clear();
    BenSetWtaHostHooks(&kHooks);
    TskmanSetObserver(Observe);
    gSeen = &seen;
    gWatched = Mod::Ui;
    Pump();
    baseline_ = HeapGetStats().freeBytes;
  }

  void TearDown() override {
    EndWindow();
    answers.reset();
    repository.reset();
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
  void OpenWindow(const char* home = "") {
    ASSERT_EQ(UiCreate(home), kOk);
    Pump();
    ASSERT_NE(TskmanFind(Mod::Ben), nullptr);
    seen.clear();
  }
  void EndWindow() {
    if (!TskmanFind(Mod::Ui)) return;
    if (UiWindow* ui = UiGetWindow(); ui && ui->page == &page) ui->page = nullptr;
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
  // The answers 0x2000 the answer task received, texts taken and freed.
  std::vector<std::u16string> TakeAnswers() {
    std::vector<std::u16string> out;
    for (Received& r : answers->log) {
      if (r.message != BenMsg::Answer) continue;
      EXPECT_EQ(r.arg1, 0u);
      auto* text = reinterpret_cast<char16_t*>(r.arg2);
      out.emplace_back(text ? text : u"<none>");
      MemFree(&text);
      r.arg2 = 0;
    }
    answers->log.clear();
    return out;
  }
  void MakeAnswerTask() {
    answers = std::make_unique<Recorder>(Mod::WtlWtai);
    Pump();
  }

  std::vector<Seen> seen;
  std::unique_ptr<Recorder> answers;
  std::unique_ptr<Recorder> repository;
  BenPage page{};

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
  // A second end has nothing left to do.
  seen.clear();
  ToBrowser(BenMsg::ScriptEnded, 0);
  EXPECT_TRUE(SeenOf(BenMsg::UiNavigate).empty());
  if (UiGetWindow()->currentString == now) UiGetWindow()->currentString = nullptr;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PendingTest,
    ::testing::Values(
        PendingRow{"go", {{1, "next.wml"}}, 1, "next.wml", BenMsg::UiNavigate, "next.wml"},
        PendingRow{"go_then_back", {{1, "next.wml"}, {2, nullptr}}, 2, nullptr, UiMsg::Command,
                   nullptr},
        PendingRow{"back_then_go", {{2, nullptr}, {1, "b.wml"}}, 1, "b.wml", BenMsg::UiNavigate,
                   "b.wml"},
        PendingRow{"go_nowhere_clears", {{1, "a.wml"}, {1, nullptr}}, 0, nullptr, 0, nullptr},
        PendingRow{"go_empty_clears", {{4, nullptr}, {1, ""}}, 0, nullptr, 0, nullptr},
        PendingRow{"refresh", {{4, nullptr}}, 4, nullptr, BenMsg::UiNavigate,
                   "http://now/deck.wml"},
        PendingRow{"nothing", {}, 0, nullptr, 0, nullptr}),
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
    ServiceRowsInstall();
    OpenWindow();
  }
  void TearDown() override {
    EndWindow();
    ServiceRowsRemove();
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

// The script task fetches through a URL task that stands while it does: one
// that another module started earlier, and stops, takes nothing of it along.
TEST_F(NavigationTest, AScriptRunsAfterAnotherModulesUrlTaskHasStopped) {
  EndWindow();
  UrlTaskContext* other = nullptr;
  ASSERT_EQ(UrlStartTask(&other, nullptr), kOk);
  OpenWindow();
  Navigate("qortest://h/app/deck.wml");
  Navigate("s/task.wmlsc#setAndGo('one')");
  EXPECT_EQ(std::u16string(BenGetVar(Browser(), u"result")), u"one");
  UrlStopTask(other);
  Pump();
  Navigate("qortest://h/app/deck.wml");
  Navigate("s/task.wmlsc#setAndGo('two')");
  EXPECT_EQ(std::u16string(BenGetVar(Browser(), u"result")), u"two");
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

// The home page the window is made with: loaded when the window starts and
// again on the home command, as any address is (the page left goes on the
// back stack; a script call runs the script on behalf of the page shown).
struct HomeRow {
  const char* name;
  const char* home;
  const char* pageAtStart;  // "(none)": no page comes of it
  const char16_t* count;    // what the script set, or null
};

class HomeTest : public NavigationTest, public ::testing::WithParamInterface<HomeRow> {};

TEST_P(HomeTest, TheWindowStartsAtItsHomePageAndTheHomeKeyGoesThereAgain) {
  const HomeRow& row = GetParam();
  auto count = [this] {
    const char16_t* value = BenGetVar(Browser(), u"count");
    return std::u16string(value ? value : u"(unset)");
  };
  const std::u16string ran = row.count ? row.count : u"(unset)";
  EndWindow();
  OpenWindow(row.home);
  EXPECT_EQ(PageAddress(), row.pageAtStart);
  EXPECT_EQ(count(), ran);

  Navigate("qortest://h/app/deck.wml");
  BenSetVar(Browser(), u"count", nullptr);
  BenBackStackClear(&BenHistoryCurrent()->back);
  UiCommand(UiCmd::Home, 0);
  Pump();
  EXPECT_EQ(count(), ran);
  const bool loads = std::string(row.pageAtStart) != "(none)";
  EXPECT_EQ(PageAddress(), loads ? row.pageAtStart : "qortest://h/app/deck.wml");
  const char* left = BenFindHistoryEntry(Browser(), nullptr, 0, 0);
  EXPECT_EQ(std::string(left ? left : "(none)"), loads ? "qortest://h/app/deck.wml" : "(none)");
  BenBackStackClear(&BenHistoryCurrent()->back);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HomeTest,
    ::testing::Values(
        HomeRow{"page", "qortest://h/app/next.wml", "qortest://h/app/next.wml", nullptr},
        HomeRow{"script", "qortest://h/app/s/task.wmlsc#count(3)", "(none)", u"3"},
        HomeRow{"none", "", "(none)", nullptr},
        // Built-in pages of info: are not there: nothing loads.
        HomeRow{"unbuilt_scheme", "info://HOME/general/gohome.html", "(none)", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// The home page at its edges: the window ending at any step of its home
// page's load, Home pressed again and again while the load or a script's
// question is pending, and no memory for the home address. Nothing is left
// behind (the fixture finds the heap as it was).
class HomeEdgeTest : public NavigationTest {
 protected:
  void SetUp() override {
    NavigationTest::SetUp();
    FetchBody big = FetchText("<wml>" + std::string(4000, 'x') + "</wml>", "text/vnd.wap.wml");
    big.blockSize = 64;
    driver.Serve("/app/big.wml", big);
    driver.Serve("/app/s/home.wmlsc",
                 FetchFile(QOR_WMLS_DATA "/home.wmlsc", "application/vnd.wap.wmlscriptc"));
    EndWindow();
  }
  static int Popups() {
    int n = 0;
    for (TskmanTask* t = TskmanNextTask(nullptr); t; t = TskmanNextTask(t)) n += t->id == Mod::Popup;
    return n;
  }
};

TEST_F(HomeEdgeTest, TheWindowEndingAtAnyStepOfItsHomePagesLoadLeavesNothing) {
  const uint32_t before = HeapGetStats().freeBytes;
  for (int steps : {0, 1, 2, 3, 5, 8, 13, 21, 34, 55}) {
    SCOPED_TRACE(steps);
    ASSERT_EQ(UiCreate("qortest://h/app/big.wml"), kOk);
    for (int i = 0; i < steps; ++i) TskmanStep();
    EndWindow();
    EXPECT_EQ(TskmanFind(Mod::Ui), nullptr);
    EXPECT_EQ(HeapGetStats().freeBytes, before);
  }
}

TEST_F(HomeEdgeTest, HomeAgainAndAgainWhileTheHomePageLoadsEndsOnItOnce) {
  ASSERT_EQ(UiCreate("qortest://h/app/big.wml"), kOk);
  for (int i = 0; i < 12; ++i) {
    UiCommand(UiCmd::Home, 0);
    TskmanStep();
    TskmanStep();
  }
  Pump();
  EXPECT_EQ(PageAddress(), "qortest://h/app/big.wml");
  // No page stood before it: nothing went on the back stack.
  EXPECT_EQ(BenFindHistoryEntry(Browser(), nullptr, 0, 0), nullptr);
}

TEST_F(HomeEdgeTest, HomeWhileTheScriptsQuestionIsOpenAsksItOnceMore) {
  OpenWindow("qortest://h/app/s/home.wmlsc#ask()");
  Pump();
  ASSERT_EQ(Popups(), 1);
  for (int i = 0; i < 5; ++i) {
    UiCommand(UiCmd::Home, 0);
    if (i % 2) Pump();
  }
  Pump();
  EXPECT_EQ(Popups(), 1);
  UiCommand(UiCmd::Soft1, 0);
  Pump();
  EXPECT_EQ(Popups(), 0);
  const char16_t* answer = BenGetVar(Browser(), u"answer");
  EXPECT_EQ(std::u16string(answer ? answer : u"(unset)"), u"true");
}

// Home with the heap cut at every size from nothing up to room for the
// whole load, so that each step of it (the address's copy, the request, the
// script's task, unit, texts and run, its question, a page's files, a built
// page's template) is the one that finds no memory: the home page runs (its
// question shows, its page loads), or the start-up task hears once that
// memory kept it from running; never both, never neither.
struct CutRow {
  const char* name;
  const char* home;
};

class HomeCutTest : public HomeEdgeTest, public ::testing::WithParamInterface<CutRow> {
 protected:
  bool Ran() const {
    if (!std::strchr(GetParam().home, '#')) return PageAddress() == GetParam().home;
    const TskmanTask* top = PopupTop();
    const auto* popup = top ? static_cast<const PopupRequest*>(top->context) : nullptr;
    return popup && popup->kind == PopupKind::Confirm && popup->window;
  }
  // Answers what the run left open and leaves another page shown.
  void Settle() {
    for (int i = 0; i < 8 && TskmanFind(Mod::Popup); ++i) {
      UiCommand(UiCmd::Soft2, 0);
      Pump();
    }
    Tick(static_cast<int>(kPopupWatchMs / kTskmanTickMs) + 1);
    Pump();
    Navigate("qortest://h/app/deck.wml");
    BenBackStackClear(&BenHistoryCurrent()->back);
  }
};

TEST_P(HomeCutTest, HomeAtEveryHeapCutRunsOrIsSaidOnce) {
  Recorder start(Mod::UiStart);
  OpenWindow(GetParam().home);
  Settle();
  int said = 0, ranInARow = 0;
  for (uint32_t spare = 0; spare < (96u << 10) && ranInARow < 8; spare += 16) {
    SCOPED_TRACE(spare);
    start.log.clear();
    std::vector<void*> eaten = EatHeapFinely(spare);
    UiCommand(UiCmd::Home, 0);
    Pump();
    for (void* p : eaten) MemFree(&p);
    Pump();
    const bool ran = Ran();
    const size_t told = start.Count(UiMsg::HomePageNoMemory);
    EXPECT_EQ(told, ran ? 0u : 1u) << (ran ? "ran" : "did not run");
    said += told > 0;
    ranInARow = ran ? ranInARow + 1 : 0;
    Settle();
  }
  EXPECT_GT(said, 0);
  EXPECT_EQ(ranInARow, 8);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HomeCutTest,
    ::testing::Values(CutRow{"script", "qortest://h/app/s/home.wmlsc#ask()"},
                      CutRow{"page", "qortest://h/app/big.wml"},
                      CutRow{"built_in_file", "file:///eng/general/home.html"},
                      CutRow{"notify_page", "notify://browse"}),
    [](const auto& info) { return std::string(info.param.name); });

// Addresses the browser task sends the window after its end command was
// queued are freed with the window, not left to nobody.
TEST_F(HomeEdgeTest, AddressesSentAfterTheEndCommandAreFreedWithTheWindow) {
  const uint32_t before = HeapGetStats().freeBytes;
  OpenWindow("qortest://h/app/deck.wml");
  Pump();
  UiCommand(UiCmd::End, 0);
  TskmanPost(TskmanFind(Mod::Ui), BenMsg::UiNavigate,
             reinterpret_cast<uintptr_t>(LibcStrDup("qortest://h/app/next.wml")), 0);
  TskmanPost(TskmanFind(Mod::Ui), BenMsg::UiShowUrl,
             reinterpret_cast<uintptr_t>(LibcStrDup("qortest://h/app/next.wml")), 0);
  Pump();
  EXPECT_EQ(TskmanFind(Mod::Ui), nullptr);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

// The heap filled with blocks of `size` until no more fit, and everything
// smaller after them, the work buffer held: a request of that size (or
// more) fails. Freed with the object.
class HeapFill {
 public:
  explicit HeapFill(uint32_t size) {
    for (uint32_t n = size; n > 0; n /= 2)
      while (void* p = HeapBlockAlloc(n)) blocks_.push_back(p);
  }
  ~HeapFill() {
    for (void* p : blocks_) HeapBlockFree(p);
  }
  // Frees the first block: one hole of the size given.
  void FreeOne() {
    HeapBlockFree(blocks_.front());
    blocks_.erase(blocks_.begin());
  }

 private:
  PinnedWorkBuffer pinned_;
  std::vector<void*> blocks_;
};

TEST_F(HomeEdgeTest, NoMemoryForTheHomeAddressFailsTheWindowOrSkipsTheHomeKey) {
  // A home address longer than the window context. The window is made in
  // one hole of growing size: it fails as a whole (nothing left behind), or
  // it is made with its home address, never without.
  const std::string longHome = "qortest://h/app/next.wml?" + std::string(sizeof(UiWindow) * 2, 'q');
  const uint32_t before = HeapGetStats().freeBytes;
  int failed = 0, made = 0;
  for (uint32_t extra = 0; extra < longHome.size() + 1024; extra += 8) {
    SCOPED_TRACE(extra);
    Result r;
    std::string home;
    {
      HeapFill fill(sizeof(UiWindow) + extra);
      fill.FreeOne();
      r = UiCreate(longHome.c_str());
      if (r == kOk && UiGetWindow() && UiGetWindow()->homeUrl) home = UiGetWindow()->homeUrl;
    }
    if (r == kOk) {
      ++made;
      EXPECT_EQ(home, longHome);
      EndWindow();
    } else {
      ++failed;
      EXPECT_EQ(TskmanFind(Mod::Ui), nullptr);
      Pump();
    }
    EXPECT_EQ(HeapGetStats().freeBytes, before);
  }
  EXPECT_GT(failed, 0);
  EXPECT_GT(made, 0);

  // With the window standing, Home finds no memory for its copy of the
  // address: nothing happens; the next Home goes there.
  OpenWindow(longHome.c_str());
  Pump();
  Navigate("qortest://h/app/deck.wml");
  {
    HeapFill fill(static_cast<uint32_t>(longHome.size()) + 1);
    UiCommand(UiCmd::Home, 0);
    TskmanStep();
  }
  Pump();
  EXPECT_EQ(PageAddress(), "qortest://h/app/deck.wml");
  UiCommand(UiCmd::Home, 0);
  Pump();
  EXPECT_EQ(PageAddress(), longHome);
  BenBackStackClear(&BenHistoryCurrent()->back);
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

TEST_F(BrowserTaskTest, AnUnknownKindIsRefusedAndLeavesThePendingNavigation) {
  OpenWindow();
  BenBrowser* browser = Browser();
  ASSERT_EQ(BenSetPendingTask(browser, 1, "a.wml"), kOk);
  EXPECT_NE(BenSetPendingTask(browser, 3, "b.wml"), kOk);
  EXPECT_STREQ(browser->pending.url, "a.wml");
  // A new context drops variables and the pending navigation together.
  ASSERT_EQ(BenSetVar(browser, u"x", u"1"), kOk);
  BenFreeVarList(browser);
  EXPECT_EQ(browser->pending.kind, 0u);
  EXPECT_EQ(browser->pending.url, nullptr);
  EXPECT_EQ(BenGetVar(browser, u"x"), nullptr);
}

// ---- variables ---------------------------------------------------------------------------

TEST_F(BrowserTaskTest, VariablesClearByPrefixAndAnswerWithTheirLength) {
  OpenWindow();
  BenBrowser* browser = Browser();
  for (const char16_t* name : {u"ab", u"abc", u"b", u"a"}) ASSERT_EQ(BenSetVar(browser, name, u"v1"), kOk);
  const char16_t* value = nullptr;
  uint32_t length = 9;
  EXPECT_EQ(BenGetVar(browser, u"abc", &value, &length), kOk);
  EXPECT_EQ(std::u16string(value), u"v1");
  EXPECT_EQ(length, 2u);
  BenClearVars(browser, u"ab");
  EXPECT_NE(BenGetVar(browser, u"abc", &value, &length), kOk);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(BenGetVar(browser, u"ab"), nullptr);
  EXPECT_NE(BenGetVar(browser, u"a"), nullptr);
  EXPECT_NE(BenGetVar(browser, u"b"), nullptr);
  BenClearVars(browser, u"");
  EXPECT_EQ(BenGetVar(browser, u"a"), nullptr);
  EXPECT_EQ(BenGetVar(browser, u"b"), nullptr);
}

// ---- the UI task's addresses -------------------------------------------------------------

TEST_F(BrowserTaskTest, TheWindowKeepsTheAddressItIsSentAndFreesTheText) {
  OpenWindow();
  TskmanTask* ui = TskmanFind(Mod::Ui);
  TskmanPost(ui, BenMsg::UiNavigate, reinterpret_cast<uintptr_t>(Text("info://SHOW/x.html")), 0);
  Pump();
  EXPECT_EQ(Current(), u"info://SHOW/x.html");
  // A current string someone else set is theirs: it is replaced, not freed;
  // an empty address changes nothing.
  char16_t foreign[] = u"foreign";
  UiGetWindow()->currentString = foreign;
  TskmanPost(ui, BenMsg::UiNavigate, reinterpret_cast<uintptr_t>(Text("rep://7/")), 0);
  TskmanPost(ui, BenMsg::UiNavigate, 0, 0);
  TskmanPost(ui, BenMsg::UiNavigate, reinterpret_cast<uintptr_t>(Text("")), 0);
  Pump();
  EXPECT_EQ(Current(), u"rep://7/");
  EXPECT_EQ(std::u16string(foreign), u"foreign");
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
  EXPECT_TRUE(gHostEvents.empty());
  // An event nobody binds goes to the host with its parameters.
  ASSERT_EQ(BenRaiseWtaEvent(BenWtaEvent::IncomingCall, 1, Block({u"0101234"})), kOk);
  Pump();
  ASSERT_EQ(gHostEvents.size(), 1u);
  EXPECT_EQ(gHostEvents[0].id, BenWtaEvent::IncomingCall);
  EXPECT_EQ(gHostEvents[0].params, std::vector<std::u16string>{u"0101234"});
  EXPECT_STREQ(BenWtaEventName(BenWtaEvent::TextSent), "wtaev-nt/st");
  EXPECT_STREQ(BenWtaEventName(BenWtaEvent::NetworkStatus), "wtaev-ms/ns");
  EXPECT_EQ(BenWtaEventName(9), nullptr);
}

TEST_F(BrowserTaskTest, WithoutABrowserTaskAnEventGoesToTheHostAtOnce) {
  ASSERT_EQ(TskmanFind(Mod::Ben), nullptr);
  ASSERT_EQ(BenRaiseWtaEvent(BenWtaEvent::Dtmf, 1, Block({u"5"})), kOk);
  ASSERT_EQ(gHostEvents.size(), 1u);
  EXPECT_EQ(gHostEvents[0].id, BenWtaEvent::Dtmf);
  EXPECT_EQ(gHostEvents[0].params, std::vector<std::u16string>{u"5"});
  ASSERT_EQ(BenRaiseWtaEvent(BenWtaEvent::CallCleared, 0, nullptr), kOk);
  EXPECT_EQ(gHostEvents.size(), 2u);
}

TEST_F(BrowserTaskTest, TheRepositoryIsAskedForItsBindingsAtTheStartAndTheyAreKept) {
  repository = std::make_unique<Recorder>(Mod::WtlReplib);
  Recorder bystander(Mod::TestHarness);
  Pump();
  OpenWindow();
  EXPECT_EQ(repository->Messages(), std::vector<uint32_t>{BenMsg::RepositoryBindings});
  EXPECT_TRUE(bystander.Messages().empty());  // asked, not broadcast
  EXPECT_EQ(Browser()->securityState, 1u);

  ToBrowser(BenMsg::Bindings,
            reinterpret_cast<uintptr_t>(Binding(7, "rep://1", Binding(1, "rep://2"))));
  ASSERT_EQ(BenRaiseWtaEvent(7, 1, Block({u"msg"})), kOk);
  Pump();
  ASSERT_EQ(SeenOf(BenMsg::UiNavigate).size(), 1u);
  EXPECT_EQ(SeenOf(BenMsg::UiNavigate)[0].text, "rep://1");

  // A new binding of the same event replaces it; the deck's own binding
  // comes first while its context lasts.
  ToBrowser(BenMsg::Binding, reinterpret_cast<uintptr_t>(Binding(7, "rep://9")),
            reinterpret_cast<uintptr_t>(Text("chan-a")));
  ASSERT_EQ(BenWtaContextOpen(Browser()), kOk);
  ASSERT_EQ(BenWtaBindEvent(Browser(), 1, "deck.wml"), kOk);
  seen.clear();
  BenRaiseWtaEvent(7, 0, nullptr);
  BenRaiseWtaEvent(1, 0, nullptr);
  Pump();
  auto sent = SeenOf(BenMsg::UiNavigate);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].text, "rep://9");
  EXPECT_EQ(sent[1].text, "deck.wml");

  // Unbinding leaves the event to the host.
  ToBrowser(BenMsg::Unbind, 7, reinterpret_cast<uintptr_t>(Text("chan-a")));
  BenRaiseWtaEvent(7, 0, nullptr);
  Pump();
  ASSERT_EQ(gHostEvents.size(), 1u);
  EXPECT_EQ(gHostEvents[0].id, 7u);
  // 0x1919 without a binding frees the channel id it carries.
  ToBrowser(BenMsg::Binding, 0, reinterpret_cast<uintptr_t>(Text("chan-b")));
  repository.reset();
}

TEST_F(BrowserTaskTest, WithoutARepositoryTaskNothingIsPosted) {
  Recorder bystander(Mod::TestHarness);
  Pump();
  OpenWindow();
  EXPECT_TRUE(bystander.Messages().empty());
}

// ---- the WTA context ---------------------------------------------------------------------

struct WtaRow {
  const char* name;
  bool context;
  std::vector<std::pair<uint32_t, uintptr_t>> messages;  // message, argument 2
  std::vector<std::u16string> answers;
  bool contextAfter;
};

class WtaContextTest : public BrowserTaskTest, public ::testing::WithParamInterface<WtaRow> {};

TEST_P(WtaContextTest, EachMessageAnswersOnceWithItsText) {
  const WtaRow& row = GetParam();
  OpenWindow();
  MakeAnswerTask();
  if (row.context) {
    ASSERT_EQ(BenWtaContextOpen(Browser()), kOk);
  }
  for (const auto& [message, arg2] : row.messages)
    ToBrowser(message, reinterpret_cast<uintptr_t>(answers->task()), arg2);
  EXPECT_EQ(TakeAnswers(), row.answers);
  EXPECT_EQ(Browser()->wta != nullptr, row.contextAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WtaContextTest,
    ::testing::Values(
        WtaRow{"get_without_context", false, {{BenMsg::WtaGet, 0}}, {u"false"}, false},
        WtaRow{"set_without_context", false, {{BenMsg::WtaSet, 1}, {BenMsg::WtaGet, 0}},
               {u"", u"true"}, false},
        WtaRow{"end_without_context", false, {{BenMsg::WtaEnd, 0}}, {u""}, false},
        WtaRow{"get_is_false_at_first", true, {{BenMsg::WtaGet, 0}}, {u"false"}, true},
        WtaRow{"set_then_get", true, {{BenMsg::WtaSet, 1}, {BenMsg::WtaGet, 0}},
               {u"", u"true"}, true},
        WtaRow{"set_clear_then_get", true,
               {{BenMsg::WtaSet, 5}, {BenMsg::WtaSet, 0}, {BenMsg::WtaGet, 0}},
               {u"", u"", u"false"}, true},
        // The flag is the browser's: it outlives the context.
        WtaRow{"end_then_get", true, {{BenMsg::WtaSet, 1}, {BenMsg::WtaEnd, 0}, {BenMsg::WtaGet, 0}},
               {u"", u"", u"true"}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BrowserTaskTest, EndingTheContextReleasesItsCallsAndDropsItsBindings) {
  OpenWindow();
  MakeAnswerTask();
  BenBrowser* browser = Browser();
  // Without a context there is nothing to record the call in.
  ToBrowser(BenMsg::WtaCall, 4);
  ASSERT_EQ(BenWtaContextOpen(browser), kOk);
  ToBrowser(BenMsg::WtaCall, 11);
  ToBrowser(BenMsg::WtaCall, 12);
  EXPECT_EQ(BenWtaCallCount(browser), 2u);
  ASSERT_EQ(BenWtaBindEvent(browser, 3, "connected.wml"), kOk);
  ToBrowser(BenMsg::WtaEnd, reinterpret_cast<uintptr_t>(answers->task()));
  EXPECT_EQ(TakeAnswers(), std::vector<std::u16string>{u""});
  std::vector<uint32_t> released = gReleased;
  std::sort(released.begin(), released.end());
  EXPECT_EQ(released, (std::vector<uint32_t>{11, 12}));
  BenRaiseWtaEvent(3, 0, nullptr);
  Pump();
  EXPECT_EQ(gHostEvents.size(), 1u);
  EXPECT_TRUE(SeenOf(BenMsg::UiNavigate).empty());
}

TEST_F(BrowserTaskTest, AnAnswerToATaskThatHasEndedIsDropped) {
  OpenWindow();
  MakeAnswerTask();
  Recorder bystander(Mod::TestHarness);
  Pump();
  TskmanTask* gone = answers->task();
  answers->Destroy();
  ToBrowser(BenMsg::WtaGet, reinterpret_cast<uintptr_t>(gone));
  ToBrowser(BenMsg::WtaEnd, reinterpret_cast<uintptr_t>(gone));
  EXPECT_TRUE(bystander.Messages().empty());  // nothing broadcast in its place
}

TEST_F(BrowserTaskTest, SettingsNoticesAndOthersMessagesAreIgnored) {
  OpenWindow();
  Recorder bystander(Mod::TestHarness);
  Pump();
  seen.clear();
  ToBrowser(ConfigMsg::Changed, 0, 0);
  ToBrowser(ConfigMsg::ChangedAll, 0, 0);
  ToBrowser(StatusMsg::Indicator, StatusKind::Push, 1);
  ToBrowser(Msg(Mod::Notify, 0x00), 0, 0);  // a pushed object for push reception
  EXPECT_TRUE(bystander.Messages().empty());
  EXPECT_TRUE(seen.empty());
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
  WtaiConsentRecord* Record(const std::u16string& prompt, uint32_t remember,
                            Recorder* to = nullptr) {
    auto* r = static_cast<WtaiConsentRecord*>(
        MemAllocZero(sizeof(WtaiConsentRecord), Use::Context, 33));
    r->task = TskmanRefOf((to ? to : consent.get())->task());
    r->remember = remember;
    r->prompt = WText(prompt);
    return r;
  }
  void Ask(WtaiConsentRecord* r) { ToBrowser(BenMsg::Consent, reinterpret_cast<uintptr_t>(r)); }
  std::vector<uintptr_t> Decisions(const Recorder* who = nullptr) const {
    std::vector<uintptr_t> out;
    for (const Received& r : (who ? who : consent.get())->log)
      if (r.message == BenMsg::Decision) out.push_back(r.arg1);
    return out;
  }
  // The user's key, through the UI task as the host sends it.
  void Press(int32_t command) {
    UiCommand(command, 0);
    Pump();
  }
  bool PopupOpen() const { return TskmanFind(Mod::Popup) != nullptr; }

  std::unique_ptr<Recorder> consent;
};

TEST_F(ConsentTest, TheUserIsAskedWithTheConsentLabelsAndTheDecisionIsAnswered) {
  Ask(Record(u"전화를 거시겠습니까?", 0));
  ASSERT_TRUE(PopupOpen());
  EXPECT_EQ(PopupShowingMark, 1u);
  auto labels = SeenOf(PwlEvent::Labels);
  ASSERT_FALSE(labels.empty());
  EXPECT_EQ(labels.back().wide1, UiGetString(13, 12));
  EXPECT_EQ(labels.back().wide2, UiGetString(13, 13));
  EXPECT_TRUE(Decisions().empty());
  Press(UiCmd::Soft1);
  EXPECT_EQ(Decisions(), std::vector<uintptr_t>{1});
  EXPECT_FALSE(PopupOpen());

  Ask(Record(u"메세지를 보낼까요?", 0));
  ASSERT_TRUE(PopupOpen());
  Press(UiCmd::Soft2);
  EXPECT_EQ(Decisions(), (std::vector<uintptr_t>{1, 0}));
  EXPECT_FALSE(PopupOpen());
}

TEST_F(ConsentTest, AnAcceptanceUnderTheGrantIsRememberedForQuestionsThatMayBe) {
  BenBrowser* browser = Browser();
  ASSERT_EQ(BenWtaContextOpen(browser), kOk);
  // Without the grant an acceptance is not remembered.
  Ask(Record(u"a", 1));
  Press(UiCmd::Soft1);
  EXPECT_FALSE(BenWtaAccepted(browser));
  BenWtaGrantPermission(browser, true);
  Ask(Record(u"b", 1));
  ASSERT_TRUE(PopupOpen());
  Press(UiCmd::Soft1);
  EXPECT_TRUE(BenWtaAccepted(browser));
  // Now a question that may be remembered is accepted without asking...
  Ask(Record(u"c", 1));
  EXPECT_FALSE(PopupOpen());
  EXPECT_EQ(Decisions(), (std::vector<uintptr_t>{1, 1, 1}));
  // ...and one that may not is still asked.
  Ask(Record(u"d", 0));
  EXPECT_TRUE(PopupOpen());
  Press(UiCmd::Back);  // cancels the popup: a refusal
  EXPECT_EQ(Decisions(), (std::vector<uintptr_t>{1, 1, 1, 0}));
  // A new context has no acceptance.
  ASSERT_EQ(BenWtaContextOpen(browser), kOk);
  BenWtaGrantPermission(browser, true);
  Ask(Record(u"e", 1));
  EXPECT_TRUE(PopupOpen());
  Press(UiCmd::Soft2);
  EXPECT_EQ(Decisions().size(), 5u);
}

TEST_F(ConsentTest, QuestionsArriveWhileOneIsOpenAreAskedInTurn) {
  Recorder second(Mod::WtlWtai);
  Pump();
  Ask(Record(u"first", 0));
  Ask(Record(u"second", 0, &second));
  Press(UiCmd::Soft2);
  EXPECT_EQ(Decisions(), std::vector<uintptr_t>{0});
  EXPECT_TRUE(Decisions(&second).empty());
  ASSERT_TRUE(PopupOpen());
  Press(UiCmd::Soft1);
  EXPECT_EQ(Decisions(&second), std::vector<uintptr_t>{1});
  EXPECT_FALSE(PopupOpen());
}

TEST_F(ConsentTest, TheWindowEndingRefusesTheQuestionsStillOpen) {
  Recorder second(Mod::WtlWtai);
  Pump();
  Ask(Record(u"first", 0));
  Ask(Record(u"second", 0, &second));
  ASSERT_TRUE(PopupOpen());
  EndWindow();
  Pump();
  EXPECT_FALSE(PopupOpen());
  EXPECT_EQ(Decisions(), std::vector<uintptr_t>{0});
  EXPECT_EQ(Decisions(&second), std::vector<uintptr_t>{0});
}

// A consent popup closed under its question refuses the question once the
// browser sees it gone, and the next question is asked; an answer queued
// before the popup went still decides.
TEST_F(ConsentTest, APopupGoneWithoutAnAnswerRefusesItsQuestion) {
  Ask(Record(u"first", 0));
  Ask(Record(u"second", 0));
  ASSERT_TRUE(PopupOpen());
  PopupClose();
  Pump();
  EXPECT_TRUE(Decisions().empty());
  Tick(kPopupWatchMs / kTskmanTickMs);
  Pump();
  EXPECT_EQ(Decisions(), std::vector<uintptr_t>{0});
  ASSERT_TRUE(PopupOpen()) << "the second question is asked";
  // The answer is queued when the popup is already gone: it decides.
  TskmanTask* popup = TskmanFind(Mod::Popup);
  TskmanPost(TskmanFind(Mod::Ben), PwlEvent::PopupAnswer, 1, 1);
  TskmanSend(popup, TskMsg::Stop2, 0, 0);
  Tick(kPopupWatchMs / kTskmanTickMs);
  Pump();
  EXPECT_EQ(Decisions(), (std::vector<uintptr_t>{0, 1}));
  EXPECT_FALSE(PopupOpen());
}

// A question memory could not show, its popup's task or its build, is
// refused, and said with its text: the user never saw it.
TEST_F(ConsentTest, AQuestionMemoryCouldNotShowIsRefusedAndSaid) {
  for (const bool build : {false, true}) {
    SCOPED_TRACE(build ? "build" : "task");
    consent->log.clear();
    FailureRecord failures;
    if (!build) {
      TskmanFailNextCreate(Mod::Popup);
      Ask(Record(u"Call 5551234?", 0));
    } else {
      TskmanPost(TskmanFind(Mod::Ben), BenMsg::Consent,
                 reinterpret_cast<uintptr_t>(Record(u"Call 5551234?", 0)), 0);
      for (int i = 0; i < 1000 && !PopupOpen(); ++i) Step();
      ASSERT_TRUE(PopupOpen());
      std::vector<void*> eaten = EatHeap(0);
      for (int i = 0; i < 1000 && PopupOpen(); ++i) Step();
      for (void* p : eaten) MemFree(&p);
      Pump();
    }
    EXPECT_FALSE(PopupOpen());
    EXPECT_EQ(Decisions(), std::vector<uintptr_t>{0});
    EXPECT_EQ(failures.said, std::vector<std::string>{"a popup could not be shown for want of "
                                                      "memory and went unanswered: \"Call "
                                                      "5551234?\""});
  }
}

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
  EXPECT_EQ(gHostEvents.size(), 1u);
}

// What is posted to the browser task behind its end finds it gone: the
// question is refused, a WTA request answered -200, and what the messages
// carry is freed (the heap check of the teardown).
TEST_F(ConsentTest, WhatIsQueuedBehindTheEndIsRefusedAndFreed) {
  MakeAnswerTask();
  TskmanTask* browser = TskmanFind(Mod::Ben);
  const auto asker = reinterpret_cast<uintptr_t>(answers->task());
  BenEndTask();
  TskmanPost(browser, BenMsg::Consent, reinterpret_cast<uintptr_t>(Record(u"late", 0)), 0);
  TskmanPost(browser, BenMsg::WtaGet, asker, 0);
  TskmanPost(browser, BenMsg::WtaSet, asker, 1);
  TskmanPost(browser, BenMsg::WtaEnd, asker, 0);
  TskmanPost(browser, BenMsg::Bindings, reinterpret_cast<uintptr_t>(Binding(9, "rep://3")), 0);
  TskmanPost(browser, BenMsg::Binding, reinterpret_cast<uintptr_t>(Binding(8, "rep://4")),
             reinterpret_cast<uintptr_t>(Text("channel")));
  TskmanPost(browser, BenMsg::Unbind, 8, reinterpret_cast<uintptr_t>(Text("channel")));
  auto* params = static_cast<BenWtaEventParams*>(
      MemAllocZero(sizeof(BenWtaEventParams), Use::Data, Mod::Ben));
  params->count = 1;
  params->block = Block({u"7"});
  TskmanPost(browser, BenMsg::WtaEvent, BenWtaEvent::CallCleared, reinterpret_cast<uintptr_t>(params));
  Pump();
  EXPECT_EQ(TskmanFind(Mod::Ben), nullptr);
  EXPECT_EQ(Decisions(), std::vector<uintptr_t>{0});
  std::vector<int32_t> codes;
  for (const Received& r : answers->log)
    if (r.message == BenMsg::Answer) codes.push_back(static_cast<int32_t>(r.arg1));
  EXPECT_EQ(codes, (std::vector<int32_t>{-200, -200, -200}));
  ASSERT_EQ(gHostEvents.size(), 1u);
  EXPECT_EQ(gHostEvents[0].params, std::vector<std::u16string>{u"7"});
}

// A call recorded for the WTA context behind the browser's end is released
// with the context's other calls.
TEST_F(ConsentTest, ACallRecordedBehindTheEndIsReleasedWithTheContext) {
  ASSERT_EQ(BenWtaContextOpen(Browser()), kOk);
  TskmanTask* browser = TskmanFind(Mod::Ben);
  ToBrowser(BenMsg::WtaCall, 6);
  BenEndTask();
  TskmanPost(browser, BenMsg::WtaCall, 7, 0);
  Pump();
  EXPECT_EQ(TskmanFind(Mod::Ben), nullptr);
  std::vector<uint32_t> released = gReleased;
  std::sort(released.begin(), released.end());
  EXPECT_EQ(released, (std::vector<uint32_t>{6, 7}));
}

// A telephony link followed in the browser window, as the user follows one:
// the refusal lands in the window's own variable.
TEST_F(ConsentTest, ALinkFollowedInTheWindowStoresItsAnswerInTheWindowsVariable) {
  ServiceRowsInstall();
  TskmanPost(TskmanFind(Mod::Ui), BenMsg::UiNavigate,
             reinterpret_cast<uintptr_t>(LibcStrDup("wtai://wp/mc;123!r")), 0);
  Pump();
  ASSERT_TRUE(PopupOpen());
  Press(UiCmd::Soft2);
  Pump();
  const char16_t* value = BenGetVar(Browser(), u"r");
  EXPECT_EQ(std::u16string(value ? value : u"(unset)"), u"-200");
  ServiceRowsRemove();
}

// A telephony link waiting for the user's consent when the window ends: the
// refusal reaches the link's request task after the browser instance has
// gone, and nothing is stored in it.
TEST_F(ConsentTest, ALinkAskingWhenTheWindowEndsStoresNothingInTheGoneBrowser) {
  TskmanTask* link = WtaiCreateUrlRequestTask(Browser(), u"r");
  ASSERT_NE(link, nullptr);
  const WtaiHandler call = WtaiFindFunction("wp", "mc", 0);
  ASSERT_NE(call, nullptr);
  ASSERT_EQ(call(link, WText(u"123"), WtaiState::First), kOk);
  Pump();
  ASSERT_TRUE(PopupOpen());
  EndWindow();
  Pump();
  EXPECT_FALSE(PopupOpen());
  for (TskmanTask* t = TskmanNextTask(nullptr); t; t = TskmanNextTask(t))
    EXPECT_TRUE(t->id != Mod::WtlWtai || t == consent->task()) << "a request task is left";
}

TEST_F(ConsentTest, AQuestionForATaskThatHasEndedIsStillFreed) {
  Recorder gone(Mod::WtlWtai);
  Pump();
  WtaiConsentRecord* r = Record(u"x", 0, &gone);
  gone.Destroy();
  Ask(r);
  Press(UiCmd::Soft1);
  EXPECT_FALSE(PopupOpen());
  EXPECT_TRUE(Decisions().empty());
}

// A pushed document's question, which stands apart from the window, already
// shows when a consent question opens over it, and the window ends: the
// consent goes with the browser and is refused, and provisioning's question
// is on top again, its window the active one, its answer provisioning's.
TEST_F(ConsentTest, TheWindowEndingOverAnotherModulesQuestionClosesOnlyItsConsent) {
  ServiceRowsInstall();
  FetchDriver driver;
  driver.Serve("/prov", FetchFile(QOR_WMLS_DATA "/../wbxml/prov.wbxml",
                                  "application/vnd.wap.connectivity-wbxml"));
  Recorder starter(Mod::TestCode), requester(Mod::TestHarness);
  Pump();
  ASSERT_EQ(ConfigStart(starter.task()), kOk);
  UrlTaskContext* urlTask = nullptr;
  UrlSession* session = nullptr;
  ASSERT_EQ(UrlStartTask(&urlTask, starter.task()), kOk);
  // In its own URL task, as push delivery loads it: the window's ends with the window.
  ASSERT_EQ(UrlSessionCreateWith(&session, requester.task(), starter.task()), kOk);
  Pump();
  const auto question = []() -> PopupRequest* {
    TskmanTask* popup = PopupFindFor(TskmanRefOf(TskmanFind(Mod::Provisioning)));
    return popup ? static_cast<PopupRequest*>(popup->context) : nullptr;
  };
  const auto active = [] {
    PwlWindow* window = nullptr;
    PwlGetActiveWindow(&window);
    return window;
  };
  UrlRequestRec* request = nullptr;
  ASSERT_EQ(UrlRequest(session, "qortest://h/prov", 0, nullptr, &request, 0, requester.task(), 0), kOk);
  // The load steps on while it waits: the ring does not drain.
  for (int i = 0; i < 100000 && !(question() && question()->window); ++i) TskmanStep();
  ASSERT_NE(question(), nullptr);
  PopupRequest* asked = question();
  const TskmanRef provPopup = TskmanRefOf(asked->popupTask);
  Ask(Record(u"전화를 거시겠습니까?", 0));
  ASSERT_NE(TskmanFind(Mod::Popup), nullptr);
  ASSERT_NE(active(), asked->window) << "the consent is not on top";
  EndWindow();
  Pump();
  EXPECT_EQ(Decisions(), std::vector<uintptr_t>{0});
  ASSERT_TRUE(TskmanRefAlive(provPopup)) << "provisioning's question was closed";
  EXPECT_EQ(TskmanFind(Mod::Popup), provPopup.task) << "the consent stayed";
  EXPECT_EQ(active(), asked->window) << "provisioning's question is not the active window";
  EXPECT_EQ(asked->window->hidden, 0u);
  EXPECT_EQ(PopupShowingMark, 1u);
  ASSERT_NE(TskmanFind(Mod::Provisioning), nullptr);
  // The user refuses the document: the load fails as cancelled.
  TskmanPost(provPopup.task, PwlEvent::PopupCommand, PopupCmd::Cancel, 0);
  Result end = 1;
  for (int i = 0; i < 100000 && end == 1; ++i) {
    TskmanStep();
    for (const Received& r : requester.log)
      if (r.message == UrlMsg::Failed) end = static_cast<Result>(r.arg2);
  }
  EXPECT_EQ(end, ProvCode::Cancelled);
  EXPECT_EQ(TskmanFind(Mod::Popup), nullptr);
  UrlRequestDone(session, request);
  Pump();
  EXPECT_EQ(TskmanFind(Mod::Provisioning), nullptr);
  UrlSessionDestroy(session);
  UrlStopTask(urlTask);
  Pump();
  ConfigStop();
  Pump();
  ServiceRowsRemove();
}

// The consent shows first and another module's question opens over it;
// the window ends. The consent goes from under the other question,
// refused once; the other stays on top, and its answer leads back to the
// screen as it was before either opened.
TEST_F(ConsentTest, TheWindowEndingUnderAnotherModulesQuestionLeavesItOnTop) {
  Recorder other(Mod::TestHarness);
  Pump();
  PwlWindow* root = nullptr;
  PwlGetRootWindow(&root);
  const auto active = [] {
    PwlWindow* window = nullptr;
    PwlGetActiveWindow(&window);
    return window;
  };
  Ask(Record(u"전화를 거시겠습니까?", 0));
  ASSERT_TRUE(PopupOpen());
  TskmanTask* consentPopup = TskmanFind(Mod::Popup);
  ASSERT_EQ(PopupConfirm(u"Other?", nullptr, nullptr, other.task()), kOk);
  Pump();
  TskmanTask* otherPopup = PopupFindFor(TskmanRefOf(other.task()));
  ASSERT_NE(otherPopup, nullptr);
  ASSERT_NE(otherPopup, consentPopup);
  auto* asked = static_cast<PopupRequest*>(otherPopup->context);
  ASSERT_EQ(active(), asked->window);
  const TskmanRef otherRef = TskmanRefOf(otherPopup);
  EndWindow();
  Pump();
  EXPECT_EQ(Decisions(), std::vector<uintptr_t>{0});
  ASSERT_TRUE(TskmanRefAlive(otherRef));
  EXPECT_EQ(TskmanFind(Mod::Popup), otherPopup);
  EXPECT_EQ(asked->saved, root);
  EXPECT_EQ(active(), asked->window);
  EXPECT_EQ(PopupShowingMark, 1u);
  TskmanPost(otherPopup, PwlEvent::PopupCommand, PopupCmd::Accept, 0);
  Pump();
  EXPECT_EQ(other.Count(PwlEvent::PopupAnswer), 1u);
  EXPECT_FALSE(PopupOpen());
  EXPECT_EQ(active(), root);
  EXPECT_EQ(root->hidden, 0u);
  EXPECT_EQ(PopupShowingMark, 0u);
  EXPECT_EQ(Decisions(), std::vector<uintptr_t>{0});
}

// Two consents queued, and the window ends while the first shows over
// another module's question: both are refused once, and the other question
// stays, past the consent watch's look, and answers its own task.
TEST_F(ConsentTest, QueuedConsentsOverAnotherQuestionAreRefusedAndItStays) {
  Recorder other(Mod::TestHarness), second(Mod::WtlWtai);
  Pump();
  ASSERT_EQ(PopupConfirm(u"Other?", nullptr, nullptr, other.task()), kOk);
  Pump();
  TskmanTask* otherPopup = PopupFindFor(TskmanRefOf(other.task()));
  ASSERT_NE(otherPopup, nullptr);
  Ask(Record(u"first", 0));
  Ask(Record(u"second", 0, &second));
  EndWindow();
  Pump();
  EXPECT_EQ(Decisions(), std::vector<uintptr_t>{0});
  EXPECT_EQ(Decisions(&second), std::vector<uintptr_t>{0});
  EXPECT_EQ(TskmanFind(Mod::Popup), otherPopup);
  Tick(kPopupWatchMs / kTskmanTickMs);
  Pump();
  EXPECT_EQ(TskmanFind(Mod::Popup), otherPopup);
  TskmanPost(otherPopup, PwlEvent::PopupCommand, PopupCmd::Cancel, 0);
  Pump();
  EXPECT_EQ(other.Count(PwlEvent::PopupAnswer), 1u);
  EXPECT_FALSE(PopupOpen());
}
// ---- page, back stack and forms ----------------------------------------------------------

TEST_F(BrowserTaskTest, TheCurrentPageGivesItsAddressAndItsFirstTaskAddress) {
  OpenWindow();
  char* out = nullptr;
  EXPECT_NE(BenTaskFirstUrl(Browser(), &out), kOk);  // no page
  EXPECT_EQ(out, nullptr);
  char url[] = "http://h/deck.wml#two";
  char first[] = "http://h/deck.wml#one";
  char second[] = "http://h/other.wml";
  BenPageTask t2{nullptr, 0, second};
  BenPageTask t1{&t2, 0, first};
  page.url = url;
  page.tasks = &t1;
  UiGetWindow()->page = &page;
  ASSERT_EQ(BenTaskFirstUrl(Browser(), &out), kOk);
  EXPECT_STREQ(out, first);
  EXPECT_NE(out, first);
  MemFree(&out);
  ASSERT_EQ(BenPageUrlString(&page, &out), kOk);
  EXPECT_STREQ(out, url);
  MemFree(&out);
  BenPage bare{};
  EXPECT_NE(BenPageUrlString(&bare, &out), kOk);
  EXPECT_EQ(out, nullptr);
}

struct HistoryRow {
  const char* name;
  std::vector<const char*> pages;  // oldest first
  const char* prefix;
  uint32_t offset;
  const char* found;  // or null
  // An address left in the slot older than the stack's oldest entry.
  const char* stale = nullptr;
};

class HistoryTest : public BrowserTaskTest, public ::testing::WithParamInterface<HistoryRow> {};

TEST_P(HistoryTest, TheMostRecentAddressWithoutThePrefix) {
  const HistoryRow& row = GetParam();
  OpenWindow();
  BenBackStack& back = BenHistoryCurrent()->back;
  BenBackStackClear(&back);
  // The ring starts part-way, so that it wraps.
  const uint32_t start = 14;
  for (size_t i = 0; i < row.pages.size(); ++i) {
    const uint32_t slot = static_cast<uint32_t>((start + i) % kBenBackSlots);
    back.slots[slot].text1 = row.pages[i] ? Text(row.pages[i]) : nullptr;
    back.last = slot;
  }
  back.first = static_cast<uint32_t>(row.pages.size());
  if (row.stale) back.slots[(start + kBenBackSlots - 1) % kBenBackSlots].text1 = Text(row.stale);
  const char* found =
      BenFindHistoryEntry(Browser(), row.prefix, row.prefix ? LibcStrLen(row.prefix) : 0,
                          row.offset);
  if (row.found)
    EXPECT_STREQ(found, row.found);
  else
    EXPECT_EQ(found, nullptr);
  BenBackStackClear(&back);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HistoryTest,
    ::testing::Values(
        HistoryRow{"empty", {}, "info:", 0, nullptr},
        HistoryRow{"most_recent", {"http://a/", "http://b/"}, "info:", 0, "http://b/"},
        HistoryRow{"skips_the_prefix", {"http://a/", "info://SHOW/x", "info:y"}, "info:", 0,
                   "http://a/"},
        HistoryRow{"only_the_prefix", {"info:a", "info:b"}, "info:", 0, nullptr},
        HistoryRow{"offset_passes_over_recent", {"http://a/", "http://b/", "http://c/"}, "info:",
                   1, "http://b/"},
        HistoryRow{"offset_past_the_end", {"http://a/"}, "info:", 1, nullptr, "http://old/"},
        HistoryRow{"no_prefix", {"info:a"}, nullptr, 0, "info:a"},
        HistoryRow{"slot_without_address", {"http://a/", nullptr}, "info:", 0, "http://a/"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BrowserTaskTest, AFormReplyFillsTheFieldsOfTheCurrentPageByKind) {
  OpenWindow();
  char16_t initial[] = u"old";
  BenFormFieldRecord input{};
  input.kind = BenFieldKind::Input;
  input.name = "user";
  input.initialValue = initial;
  BenFormFieldRecord area{};
  area.kind = BenFieldKind::TextArea;
  area.name = "note";
  BenFormFieldRecord check{};
  check.kind = BenFieldKind::CheckBox;
  check.name = "keep";
  check.flags = kBenFieldFromReply | 0x4;
  BenFormFieldRecord other{};
  other.kind = BenFieldKind::CheckBox;
  other.name = "other";
  other.flags = kBenFieldFromReply;
  BenFormFieldRecord radioA{};
  radioA.kind = BenFieldKind::Radio;
  radioA.group = u"size";
  radioA.initialValue = u"s";
  radioA.state = BenCheckState::Checked;
  BenFormFieldRecord radioB = radioA;
  radioB.initialValue = u"l";
  radioB.state = 0;
  BenFormFieldRecord button{};
  button.kind = BenFieldKind::Button;
  button.name = "go";
  button.flags = kBenFieldFromReply;
  BenFormFieldRecord* fields[] = {&input, &area, &check, &other, &radioA, &radioB, &button};
  page.fields = fields;
  page.fieldCount = 7;
  UiGetWindow()->page = &page;
  BenBrowser* b = Browser();

  BenFormClearKind5(b);
  EXPECT_EQ(check.flags, 0x4u);
  EXPECT_EQ(other.flags, 0u);
  EXPECT_EQ(button.flags, kBenFieldFromReply);  // only check boxes

  EXPECT_EQ(BenFormSetField(b, u"user", u"jo"), kOk);
  EXPECT_EQ(BenFormSetField(b, u"user", u"ann"), kOk);  // the later value wins
  EXPECT_EQ(std::u16string(input.newValue), u"ann");
  EXPECT_EQ(BenFormSetField(b, u"note", u""), kOk);
  EXPECT_EQ(std::u16string(area.newValue), u"");
  EXPECT_EQ(BenFormSetField(b, u"keep", u"on"), kOk);
  EXPECT_EQ(check.state & BenCheckState::Checked, BenCheckState::Checked);
  EXPECT_EQ(check.flags & kBenFieldFromReply, kBenFieldFromReply);
  EXPECT_EQ(other.state, 0u);
  EXPECT_EQ(BenFormSetField(b, u"size", u"l"), kOk);
  EXPECT_EQ(radioA.state, 0u);
  EXPECT_EQ(radioB.state, BenCheckState::Checked);
  EXPECT_NE(BenFormSetField(b, u"missing", u"x"), kOk);
  EXPECT_NE(BenFormSetField(b, u"go", u"x"), kOk);  // a button has no value

  seen.clear();
  BenFormRedrawPage(b);
  EXPECT_EQ(page.flags & BenPageFlag::Dirty, BenPageFlag::Dirty);
  Pump();
  EXPECT_EQ(SeenOf(PwlEvent::RedrawPage).size(), 1u);
  MemFree(&input.newValue);
  MemFree(&area.newValue);
}

}  // namespace
