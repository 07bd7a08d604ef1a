// The Dialogs library through real popups: the toolkit with its fonts and
// control classes, the URL task and the script task run wta.wmls (compiled
// by Kannel's wmlsc); the popups are answered by their soft keys and the
// host's text entry, or closed under the script.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "browser/benvar.h"
#include "browser/url.h"
#include "content/content_rows.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "services/service_rows.h"
#include "services/wmlscript/wmls_script_task.h"
#include "tests/services/wmls_harness.h"
#include "tests/support/fetch_driver.h"
#include "tests/widgets/fake_text_window.h"
#include "tests/widgets/sel_fixture.h"
#include "widgets/input.h"
#include "widgets/popup.h"

namespace {

// A task of another module made in a freed task record, whatever the
// heap's layout around it. Every free block is taken whole, so that the
// heap is full; the one holding the record, which may have merged with free
// blocks around it, goes back as the only free block, a filler takes it up
// to the record's header, and the task, carved from the free block's low
// end, lands in the record. Everything else taken goes back then. No task
// is made when the record is in use again.
struct TaskInRecord {
  explicit TaskInRecord(TskmanTask* record) {
    const auto target = reinterpret_cast<uintptr_t>(record) - 8;  // the block's header
    std::vector<void*> taken;
    void* holder = nullptr;
    for (HeapStats s = HeapGetStats(); s.freeBlocks; s = HeapGetStats()) {
      void* block = MemAlloc(s.largestFree - 8, Use::Data, Mod::TestHarness);
      if (!block) break;
      const auto at = reinterpret_cast<uintptr_t>(block) - 8;
      if (at <= target && target < at + HeapBlockSizeOf(block))
        holder = block;
      else
        taken.push_back(block);
    }
    if (holder) {
      const auto below = static_cast<uint32_t>(target - (reinterpret_cast<uintptr_t>(holder) - 8));
      MemFree(&holder);
      // No free block is smaller than a header and two links.
      if (below == 0 || below >= 16) {
        if (below) fillers.push_back(MemAlloc(below - 8, Use::Data, Mod::TestHarness));
        auto probe = std::make_unique<Recorder>(Mod::Performance);
        if (probe->task() == record) task = std::move(probe);
      }
    }
    for (void* block : taken) MemFree(&block);
  }
  ~TaskInRecord() {
    task.reset();
    for (void* f : fillers) MemFree(&f);
  }
  std::unique_ptr<Recorder> task;
  std::vector<void*> fillers;
};

class WmlsDialogsTest : public SelFixture {
 protected:
  WmlsDialogsTest() { realClasses = true; }
  void SetUp() override {
    SelFixture::SetUp();
    window.Install();
    ContentRowsInstall();
    ServiceRowsInstall();
    driver.Serve("/wta.wmlsc", WmlsUnitBody("wta"));
    scriptOwner = std::make_unique<Recorder>(Mod::TestHarness);
    Pump();
    ASSERT_EQ(UrlStartTask(&urlTask, scriptOwner->task()), kOk);
    ASSERT_EQ(UrlSessionCreate(&session, scriptOwner->task()), kOk);
    ASSERT_EQ(WmlsScriptTaskCreate(&task, scriptOwner->task(), &browser, session), kOk);
    Pump();
  }
  void TearDown() override {
    WmlsScriptTaskDestroy(&task);
    UrlSessionDestroy(session);
    UrlStopTask(urlTask);
    Pump();
    scriptOwner.reset();
    ServiceRowsRemove();
    ContentRowsRemove();
    window.Remove();
    SelFixture::TearDown();
  }
  TskmanTask* Popup() const { return TskmanFind(Mod::Popup); }
  // Starts the call and runs until the script waits on its popup.
  void Start(const std::string& call) {
    BenClearVars(&browser);
    scriptOwner->log.clear();
    WmlsPostRun(task, "qortest://h/wta.wmlsc#" + call);
    Pump();
  }
  // "r" as the script left it.
  std::string R() const {
    const char16_t* v = BenGetVar(&browser, u"r");
    return v ? std::string(v, v + std::char_traits<char16_t>::length(v)) : "(unset)";
  }
  size_t Ends() const { return scriptOwner->Count(WmlsMsg::End); }
  // The script's end came once and ended well.
  void ExpectOneEnd() {
    ASSERT_EQ(Ends(), 1u);
    for (const Received& r : scriptOwner->log) {
      if (r.message == WmlsMsg::End) {
        EXPECT_EQ(r.arg1, WmlsEnd::Ok);
      }
    }
  }
  // The popup's watch looks again.
  void WatchTicks() {
    Tick(static_cast<int>(kPopupWatchMs / kTskmanTickMs));
    Pump();
  }

  FakeTextWindow window;
  FetchDriver driver;
  std::unique_ptr<Recorder> scriptOwner;
  UrlTaskContext* urlTask = nullptr;
  UrlSession* session = nullptr;
  WmlsScriptTask* task = nullptr;
};

// Each way out of a confirm or an alert: the key or command the popup gets
// and what the function returns ("" unsets the variable).
TEST_F(WmlsDialogsTest, ConfirmAndAlertReturnWhatTheirSoftKeysAnswer) {
  const struct {
    const char* call;
    uint32_t message, key;
    std::string r;
  } cases[] = {
      {"confirm('Sure?')", PwlEvent::Key, PwlKey::Soft1, "true"},
      {"confirm('Sure?')", PwlEvent::Key, PwlKey::Soft2, "false"},
      {"confirm('Sure?')", PwlEvent::PopupCommand, PopupCmd::Cancel, "false"},
      {"alert('Done')", PwlEvent::Key, PwlKey::Soft1, "(unset)"},
      {"alert('Done')", PwlEvent::PopupCommand, PopupCmd::Accept, "(unset)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.key));
    Start(c.call);
    ASSERT_NE(Popup(), nullptr);
    EXPECT_EQ(Ends(), 0u) << "the script waits for the user";
    TskmanPost(Popup(), c.message, c.key, 0);
    Pump();
    EXPECT_EQ(Popup(), nullptr);
    EXPECT_EQ(R(), c.r);
    ExpectOneEnd();
    WatchTicks();
    EXPECT_EQ(Ends(), 1u);
  }
}

// The text typed in the host's window (a field left empty gives the empty
// text, which unsets the variable), or the default when cancelled.
TEST_F(WmlsDialogsTest, PromptReturnsTheTypedTextOrItsDefault) {
  const struct {
    const char16_t* typed;  // null: cancelled
    std::string r;
  } cases[] = {{u"Lee", "Lee"}, {nullptr, "Kim"}, {u"", "(unset)"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed ? "typed" : "cancelled");
    Start("prompt('Name?','Kim')");
    EXPECT_EQ(window.title, u"Name?");
    EXPECT_EQ(window.text, u"Kim");
    auto* input = static_cast<InputSession*>(TiwOpenSession());
    ASSERT_NE(input, nullptr);
    if (c.typed)
      ASSERT_EQ(InputSessionSubmitText(input, c.typed), kOk);
    else
      InputSessionCancel(input);
    InputSessionClose(input);
    Pump();
    EXPECT_EQ(Popup(), nullptr);
    EXPECT_EQ(R(), c.r);
    ExpectOneEnd();
  }
}

// A popup taken away under the waiting script (as the browser does when it
// gives up a question): the watch finds it gone and the run goes on as
// cancelled; nothing touches the freed popup.
TEST_F(WmlsDialogsTest, APopupClosedUnderTheScriptResumesItWithNoAnswer) {
  const struct {
    const char* call;
    std::string r;
  } cases[] = {{"confirm('Sure?')", "false"}, {"alert('Done')", "(unset)"},
               {"prompt('Name?','Kim')", "Kim"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    Start(c.call);
    ASSERT_NE(Popup(), nullptr);
    PopupClose();
    Pump();
    EXPECT_EQ(Popup(), nullptr);
    EXPECT_EQ(Ends(), 0u);
    WatchTicks();
    EXPECT_EQ(R(), c.r);
    ExpectOneEnd();
    WatchTicks();
    EXPECT_EQ(Ends(), 1u);
  }
}

// The host cannot open its text window: the prompt's popup goes at its
// start without an answer and the run goes on with the default at once.
TEST_F(WmlsDialogsTest, APromptWhosePopupCannotBeBuiltGoesOnWithItsDefault) {
  window.failOpen = true;
  Start("prompt('Name?','Kim')");
  EXPECT_EQ(Popup(), nullptr);
  EXPECT_EQ(R(), "Kim");
  ExpectOneEnd();
}

// An answer already queued when the popup goes is the one taken.
TEST_F(WmlsDialogsTest, AnAnswerQueuedAheadOfTheWatchWins) {
  Start("confirm('Sure?')");
  ASSERT_NE(Popup(), nullptr);
  // The watch's look is queued behind the key that answers and closes.
  TskmanPost(Popup(), PwlEvent::Key, PwlKey::Soft1, 0);
  Tick(static_cast<int>(kPopupWatchMs / kTskmanTickMs));
  Pump();
  EXPECT_EQ(R(), "true");
  ExpectOneEnd();
}

// Another module's PopupClose takes the script's popup without an answer,
// and a task of its own is made in the popup's freed record before the
// watch looks again. That task is not the popup: the watch's next look finds
// the popup gone and the run goes on as cancelled; a run ended before that
// look does not stop the task either.
TEST_F(WmlsDialogsTest, ATaskMadeInAClosedPopupsRecordIsNotTakenForThePopup) {
  for (const bool watchLooks : {true, false}) {
    SCOPED_TRACE(watchLooks ? "the watch looks" : "the run is aborted");
    Start("confirm('Sure?')");
    TskmanTask* popup = Popup();
    ASSERT_NE(popup, nullptr);
    PopupClose();
    TaskInRecord made(popup);
    ASSERT_NE(made.task, nullptr) << "no task was made in the popup's record";
    Recorder& stranger = *made.task;
    Pump();
    if (watchLooks) {
      WatchTicks();
      EXPECT_EQ(R(), "false");
    } else {
      TskmanPost(WmlsScriptTaskOf(task), WmlsMsg::Abort, 0, 0);
      Pump();
    }
    ExpectOneEnd();
    EXPECT_EQ(stranger.Count(TskMsg::Stop2), 0u);
    WatchTicks();
    EXPECT_EQ(Ends(), 1u);
  }
}

// A prompt answered while its run is ended another way first (the browser's
// abort, a new run, the window's stop): the entered text the queued answer
// carries is freed, and the engine heap is as it was.
TEST_F(WmlsDialogsTest, APromptsEnteredTextIsFreedWhenItsRunEndsFirst) {
  const std::string unit = "qortest://h/wta.wmlsc#";
  // A finished run first: the unit is cached for every case alike.
  Start("prompt('Name?','Kim')");
  InputSessionCancel(static_cast<InputSession*>(TiwOpenSession()));
  Pump();
  ExpectOneEnd();
  enum class End { Abort, NewRun, Stop };
  for (const End end : {End::Abort, End::NewRun, End::Stop}) {
    SCOPED_TRACE(static_cast<int>(end));
    BenClearVars(&browser);
    Pump();
    const uint32_t before = HeapGetStats().freeBytes;
    WmlsScriptTask* own = nullptr;
    ASSERT_EQ(WmlsScriptTaskCreate(&own, scriptOwner->task(), &browser, session), kOk);
    Pump();
    WmlsPostRun(own, unit + "prompt('Name?','Kim')");
    Pump();
    auto* input = static_cast<InputSession*>(TiwOpenSession());
    ASSERT_NE(input, nullptr);
    ASSERT_EQ(InputSessionSubmitText(input, u"Lee"), kOk);
    InputSessionClose(input);
    // Queued ahead of the popup's answer.
    TskmanTask* self = WmlsScriptTaskOf(own);
    if (end == End::Abort) TskmanPost(self, WmlsMsg::Abort, 0, 0);
    if (end == End::NewRun) WmlsPostRun(own, unit + "alert('Done')");
    if (end == End::Stop) {
      TskmanPost(self, TskMsg::Stop2, 0, 0);
      own = nullptr;  // the stop frees it
    }
    Pump();
    if (end == End::NewRun) {
      ASSERT_NE(Popup(), nullptr);
      TskmanPost(Popup(), PwlEvent::Key, PwlKey::Soft1, 0);
      Pump();
    }
    EXPECT_EQ(Popup(), nullptr);
    EXPECT_NE(R(), "Lee");
    WmlsScriptTaskDestroy(&own);
    Pump();
    BenClearVars(&browser);
    EXPECT_EQ(HeapGetStats().freeBytes, before);
  }
}

}  // namespace

namespace {

// Another module's question (as provisioning or the browser's consent asks)
// already shows when the script opens its dialog over it.
class WmlsCoveredPopupTest : public WmlsDialogsTest {
 protected:
  void OpenOther() {
    other = std::make_unique<Recorder>(Mod::Provisioning);
    Pump();
    ASSERT_EQ(PopupConfirm(u"Other?", nullptr, nullptr, other->task()), kOk);
    Pump();
    otherPopup = TskmanRefOf(Popup());
    ASSERT_NE(otherPopup.task, nullptr);
  }
  // The newest popup: the script's, on top.
  TskmanTask* Top() const {
    TskmanTask* top = nullptr;
    for (TskmanTask* t = TskmanNextTask(nullptr); t; t = TskmanNextTask(t))
      if (t->id == Mod::Popup) top = t;
    return top;
  }
  std::unique_ptr<Recorder> other;
  TskmanRef otherPopup{};
};

// The script's run ends (the browser's abort, or the window's stop taking
// the task) while its dialog covers another module's question: the script's
// own dialog goes, and the question stays for its module to have answered.
TEST_F(WmlsCoveredPopupTest, AScriptsEndClosesItsOwnDialogNotTheOneItCovers) {
  for (const bool destroy : {false, true}) {
    for (const char* call : {"confirm('Sure?')", "prompt('Name?','Kim')"}) {
      SCOPED_TRACE(std::string(call) + (destroy ? " destroyed" : " aborted"));
      if (!task) {
        ASSERT_EQ(WmlsScriptTaskCreate(&task, scriptOwner->task(), &browser, session), kOk);
        Pump();
      }
      OpenOther();
      Start(call);
      TskmanTask* own = Top();
      ASSERT_NE(own, otherPopup.task);
      if (destroy)
        WmlsScriptTaskDestroy(&task);
      else
        TskmanPost(WmlsScriptTaskOf(task), WmlsMsg::Abort, 0, 0);
      Pump();
      EXPECT_TRUE(TskmanRefAlive(otherPopup)) << "the other module's question was closed";
      EXPECT_EQ(Top(), otherPopup.task) << "the script's dialog stayed";
      // The other question is answered as its module expects.
      if (TskmanRefAlive(otherPopup)) TskmanPost(otherPopup.task, PwlEvent::PopupCommand, PopupCmd::Accept, 0);
      Pump();
      EXPECT_EQ(other->Count(PwlEvent::PopupAnswer), 1u);
      // Whatever still shows is closed, as the window would.
      while (Popup()) {
        PopupClose();
        Pump();
      }
      WatchTicks();
      EXPECT_EQ(Ends(), destroy ? 0u : 1u);
      other.reset();
      Pump();
    }
  }
}

// The other module closes its question under the script's dialog: the
// script still waits for its own, and takes its answer when it comes.
TEST_F(WmlsCoveredPopupTest, AQuestionClosedUnderTheScriptsDialogDoesNotAnswerIt) {
  for (const bool prompt : {false, true}) {
    SCOPED_TRACE(prompt ? "prompt" : "confirm");
    BenClearVars(&browser);
    Pump();
    const uint32_t before = HeapGetStats().freeBytes;
    OpenOther();
    Start(prompt ? "prompt('Name?','Kim')" : "confirm('Sure?')");
    TskmanTask* own = Top();
    ASSERT_NE(own, otherPopup.task);
    // The oldest popup, the other module's, is the one it closes.
    PopupClose();
    Pump();
    ASSERT_FALSE(TskmanRefAlive(otherPopup));
    WatchTicks();
    EXPECT_EQ(Ends(), 0u) << "the script went on while its dialog showed";
    ASSERT_EQ(Top(), own);
    if (prompt) {
      auto* input = static_cast<InputSession*>(TiwOpenSession());
      ASSERT_NE(input, nullptr);
      ASSERT_EQ(InputSessionSubmitText(input, u"Lee"), kOk);
      InputSessionClose(input);
    } else {
      TskmanPost(own, PwlEvent::PopupCommand, PopupCmd::Accept, 0);
    }
    Pump();
    EXPECT_EQ(Popup(), nullptr);
    EXPECT_EQ(R(), prompt ? "Lee" : "true");
    ExpectOneEnd();
    BenClearVars(&browser);
    other.reset();
    Pump();
    EXPECT_EQ(HeapGetStats().freeBytes, before);
  }
}

}  // namespace

namespace {

// Three popups of three modules open at once: another module's question,
// the script's dialog and a third module's message or text entry, opened in
// every order, then taken away one step at a time in every order and every
// way (answered, the oldest closed by another module, the requester's end).
// After each step the popup on top holds the screen, its window is the
// active one, the windows under it lead back to the page's through what each
// covered, and the band shows its labels; each answer reaches the requester
// that still stands, and nothing is left on the heap at the end.
class WmlsPopupStackTest : public WmlsDialogsTest {
 protected:
  enum Who { kOther, kScript, kThird };
  enum Act { kAnswer, kEnd, kCloseOldest };
  struct Shown {
    TskmanRef popup{};
    std::u16string left, right;
  };
  struct Case {
    const char* call;
    bool thirdText;
    std::vector<Who> order;
  };

  static PopupRequest* RequestOf(const TskmanRef& p) {
    TskmanTask* t = TskmanRefTask(p);
    return t ? static_cast<PopupRequest*>(t->context) : nullptr;
  }
  void Open(Who who, const Case& c) {
    if (who == kScript) {
      Start(c.call);
    } else if (who == kOther) {
      ASSERT_EQ(PopupConfirm(u"Other?", nullptr, nullptr, requester[kOther]->task()), kOk);
      Pump();
    } else if (c.thirdText) {
      ASSERT_EQ(PopupInput(u"PIN?", nullptr, nullptr, 0, requester[kThird]->task()), kOk);
      Pump();
    } else {
      ASSERT_EQ(PopupMessage(u"Third", requester[kThird]->task()), kOk);
      Pump();
    }
    TskmanTask* newest = nullptr;
    for (TskmanTask* t = TskmanNextTask(nullptr); t; t = TskmanNextTask(t))
      if (t->id == Mod::Popup) newest = t;
    ASSERT_NE(newest, nullptr);
    shown[who].popup = TskmanRefOf(newest);
    std::tie(shown[who].left, shown[who].right) = Band();
  }
  // What the screen, the active window and the band say, against the popups
  // that stand, oldest first.
  void ExpectTopHolds(const std::string& step) {
    SCOPED_TRACE(step);
    std::vector<PopupRequest*> windowed;
    std::vector<Who> whose;
    for (TskmanTask* t = TskmanNextTask(nullptr); t; t = TskmanNextTask(t)) {
      if (t->id != Mod::Popup) continue;
      auto* r = static_cast<PopupRequest*>(t->context);
      if (r && r->window) {
        windowed.push_back(r);
        for (Who w : {kOther, kScript, kThird})
          if (TskmanRefTask(shown[w].popup) == t) whose.push_back(w);
      }
    }
    PwlWindow* active = nullptr;
    PwlGetActiveWindow(&active);
    PwlWindow* below = root;
    for (size_t i = 0; i < windowed.size(); ++i) {
      EXPECT_EQ(windowed[i]->saved, below) << "popup " << i << " does not lead back to the one under it";
      EXPECT_EQ(below->hidden, 1u) << "a covered window shows";
      below = windowed[i]->window;
    }
    EXPECT_EQ(active, below) << "the active window is not the top popup's";
    EXPECT_EQ(active->hidden, 0u);
    ASSERT_EQ(whose.size(), windowed.size());
    const auto band = Band();
    if (windowed.empty()) {
      EXPECT_EQ(band, (std::pair<std::u16string, std::u16string>{})) << "labels left behind";
    } else {
      const Shown& top = shown[whose.back()];
      EXPECT_EQ(band, std::make_pair(top.left, top.right)) << "the band is not the top popup's";
    }
    EXPECT_EQ(PopupShowingMark, windowed.empty() ? 0u : 1u);
  }
  bool Applies(Who who, Act act) const {
    if (act == kCloseOldest) return TskmanFind(Mod::Popup) != nullptr;
    if (act == kAnswer) return TskmanRefAlive(shown[who].popup);
    if (who == kScript) return TskmanRefAlive(shown[kScript].popup) && Ends() == 0;
    // A requester that ends after its popup went changes nothing here.
    return requester[who] != nullptr && TskmanRefAlive(shown[who].popup);
  }
  void Do(Who who, Act act) {
    if (act == kCloseOldest) {
      PopupClose();
    } else if (act == kEnd && who == kScript) {
      TskmanPost(WmlsScriptTaskOf(task), WmlsMsg::Abort, 0, 0);
    } else if (act == kEnd) {
      requester[who].reset();
    } else if (PopupRequest* r = RequestOf(shown[who].popup); r && r->kind == PopupKind::Text) {
      auto* input = static_cast<InputSession*>(TiwOpenSession());
      ASSERT_NE(input, nullptr);
      ASSERT_EQ(InputSessionSubmitText(input, u"Lee"), kOk);
      InputSessionClose(input);
    } else {
      TskmanPost(shown[who].popup.task, PwlEvent::PopupCommand, PopupCmd::Accept, 0);
    }
    Pump();
    WatchTicks();
  }
  // Runs one opening and one sequence of steps; the sequence is extended in
  // `next` with every step that applied at its end (empty: all gone).
  void RunOne(const Case& c, const std::vector<std::pair<Who, Act>>& steps,
              std::vector<std::pair<Who, Act>>* next) {
    WmlsScriptTaskDestroy(&task);
    BenClearVars(&browser);
    Pump();
    ASSERT_EQ(WmlsScriptTaskCreate(&task, scriptOwner->task(), &browser, session), kOk);
    Pump();
    const uint32_t before = HeapGetStats().freeBytes;
    // The band starts empty: the runs before left nothing in it.
    ASSERT_EQ(Band(), (std::pair<std::u16string, std::u16string>{}));
    gUiLog->clear();
    // A text entry's answer is the receiver's to free.
    const auto takeText = [](Recorder&, const Received& m) {
      if (m.message == PwlEvent::PopupAnswer && m.arg2) {
        void* text = reinterpret_cast<void*>(m.arg1);
        MemFree(&text);
      }
      return kOk;
    };
    requester[kOther] = std::make_unique<Recorder>(Mod::Provisioning);
    requester[kThird] = std::make_unique<Recorder>(Mod::Performance,
                                                   c.thirdText ? Recorder::React(takeText) : nullptr);
    Pump();
    for (Who w : c.order) {
      Open(w, c);
      if (HasFatalFailure()) return;
    }
    ExpectTopHolds("opened");
    std::string trail;
    bool answered[3] = {};
    for (const auto& [who, act] : steps) {
      trail += std::to_string(who) + std::to_string(act) + " ";
      if (!Applies(who, act)) return;
      if (act == kAnswer && requester[who]) answered[who] = true;
      Do(who, act);
      if (HasFatalFailure()) return;
      ExpectTopHolds(trail);
      EXPECT_LE(Ends(), 1u) << trail;
    }
    next->clear();
    for (Who w : {kOther, kScript, kThird})
      for (Act a : {kAnswer, kEnd})
        if (Applies(w, a)) next->push_back({w, a});
    if (Applies(kOther, kCloseOldest)) next->push_back({kOther, kCloseOldest});
    if (!next->empty()) {
      // Left for the longer sequences; this one is cleaned up here.
      while (TskmanFind(Mod::Popup)) {
        PopupClose();
        Pump();
      }
      WatchTicks();
    } else {
      EXPECT_EQ(Ends(), 1u) << trail << ": the script did not end once";
      for (Who w : {kOther, kThird}) {
        if (requester[w]) {
          EXPECT_EQ(requester[w]->Count(PwlEvent::PopupAnswer), answered[w] ? 1u : 0u) << trail;
        }
      }
    }
    requester[kOther].reset();
    requester[kThird].reset();
    BenClearVars(&browser);
    Pump();
    EXPECT_EQ(HeapGetStats().freeBytes, before) << trail;
  }

  std::unique_ptr<Recorder> requester[3];
  Shown shown[3];
};

TEST_F(WmlsPopupStackTest, EveryOrderOfOpeningAndClosingLeavesTheTopInCharge) {
  std::vector<Case> cases;
  const std::vector<std::vector<Who>> orders = {
      {kOther, kScript, kThird}, {kOther, kThird, kScript}, {kScript, kOther, kThird},
      {kScript, kThird, kOther}, {kThird, kOther, kScript}, {kThird, kScript, kOther}};
  for (const char* call : {"confirm('Sure?')", "alert('Done')", "prompt('Name?','Kim')"})
    for (bool thirdText : {false, true})
      if (!(thirdText && std::string(call).rfind("prompt", 0) == 0))
        for (const auto& order : orders) cases.push_back({call, thirdText, order});
  size_t runs = 0;
  const char* only = std::getenv("QOR_STACK_CASE");
  for (size_t k = 0; k < cases.size(); ++k) {
    const Case& c = cases[k];
    if (only && std::to_string(k) != only) continue;
    std::string name = std::string(c.call) + (c.thirdText ? " text" : " message") + " order";
    for (Who w : c.order) name += " " + std::to_string(w);
    SCOPED_TRACE(name);
    std::vector<std::vector<std::pair<Who, Act>>> todo = {{}};
    while (!todo.empty()) {
      std::vector<std::pair<Who, Act>> steps = std::move(todo.back());
      todo.pop_back();
      std::vector<std::pair<Who, Act>> next;
      for (auto& s : shown) s = {};
      RunOne(c, steps, &next);
      ++runs;
      if (HasFailure()) return;
      for (const auto& n : next) {
        auto longer = steps;
        longer.push_back(n);
        todo.push_back(std::move(longer));
      }
    }
  }
  std::printf("%zu runs\n", runs);
}

}  // namespace
