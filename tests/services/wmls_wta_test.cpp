// The WTA and Dialogs libraries through the real script task: a unit
// compiled by Kannel's wmlsc (wta.wmls) calls every WTA function from a WTA
// deck, the stand-in browser accepts, the emulated handset answers and the
// run resumes with the answer.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "browser/benvar.h"
#include "browser/url.h"
#include "content/content_rows.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/uistring.h"
#include "services/service_rows.h"
#include "services/wmlscript/wmls_script_task.h"
#include "services/sms/sms.h"
#include "services/wtai/wtai.h"
#include "tests/services/wmls_harness.h"
#include "tests/services/wtai_fixture.h"
#include "tests/support/fetch_driver.h"
#include "widgets/popup.h"
#include "widgets/pwl.h"

namespace {

// Telephony answers delivered to the watched script task, or with their
// text to the null task that inherits what a destroyed task had queued.
TskmanTask* gWatched = nullptr;
int gAnswersHeard = 0;
void CountAnswers(const TskmanTask* task, uint32_t message, uintptr_t, uintptr_t text) {
  if (message == WtaiMsg::Answer && (task == gWatched || (task == TskmanNullTask() && text)))
    ++gAnswersHeard;
}

// Whether a message waits for the task.
bool Queued(TskmanTask* task, uint32_t message) {
  std::pair<uint32_t, bool> look{message, false};
  TskmanSiftEvents(
      task,
      [](void* user, uint32_t m, uintptr_t*, uintptr_t*) {
        auto* l = static_cast<std::pair<uint32_t, bool>*>(user);
        l->second = l->second || m == l->first;
        return false;
      },
      &look);
  return look.second;
}

class WmlsWtaTest : public WtaiFixture {
 protected:
  void SetUp() override {
    WtaiFixture::SetUp();
    ContentRowsInstall();
    ServiceRowsInstall();
    driver.Serve("/wta.wmlsc", WmlsUnitBody("wta"));
    FetchBody deck;
    deck.body = "deck";
    deck.contentType = "application/x-wap-wta-wmlc";
    driver.Serve("/wta.wml", deck);
    deck.contentType = "text/plain";
    driver.Serve("/plain.wml", deck);
    owner = std::make_unique<Recorder>(Mod::TestHarness);
    Pump();
    BenBrowserInit(&vars);
    ASSERT_EQ(UrlStartTask(&urlTask, owner->task()), kOk);
    ASSERT_EQ(UrlSessionCreate(&session, owner->task()), kOk);
    ASSERT_EQ(WmlsScriptTaskCreate(&task, owner->task(), &vars, session), kOk);
    Pump();
    wta = Referring("qortest://h/wta.wml");
    plain = Referring("qortest://h/plain.wml");
  }
  void TearDown() override {
    UrlRequestDone(session, wta);
    UrlRequestDone(session, plain);
    WmlsScriptTaskDestroy(&task);
    UrlSessionDestroy(session);
    UrlStopTask(urlTask);
    BenFreeVarList(&vars);
    Pump();
    owner.reset();
    ServiceRowsRemove();
    ContentRowsRemove();
    WtaiFixture::TearDown();
  }
  UrlRequestRec* Referring(const char* url) {
    UrlRequestRec* r = nullptr;
    EXPECT_EQ(UrlRequest(session, url, UrlFlag::RawData, nullptr, &r, 0, owner->task(), 0), kOk);
    Pump();
    return r;
  }
  // The completion codes the owner received, in order.
  std::vector<uint32_t> Ends() const {
    std::vector<uint32_t> out;
    for (const Received& r : owner->log)
      if (r.message == WmlsMsg::End) out.push_back(static_cast<uint32_t>(r.arg1));
    return out;
  }
  // "r" as the script left it.
  std::string R() const {
    const char16_t* v = BenGetVar(&vars, u"r");
    return v ? Narrow(v) : "(unset)";
  }
  // Runs the call to its end; "r" as the script left it.
  std::string Run(const std::string& call, UrlRequestRec* referring) {
    BenClearVars(&vars);
    WmlsPostRun(task, "qortest://h/wta.wmlsc#" + call, referring);
    Pump();
    return R();
  }

  FetchDriver driver;
  std::unique_ptr<Recorder> owner;
  BenBrowser vars{};
  UrlTaskContext* urlTask = nullptr;
  UrlSession* session = nullptr;
  WmlsScriptTask* task = nullptr;
  UrlRequestRec* wta = nullptr;
  UrlRequestRec* plain = nullptr;
};

TEST_F(WmlsWtaTest, EveryFunctionReachesItsServiceAndResumesWithTheAnswer) {
  struct Row {
    const char* call;
    std::string handset;  // the handset request, or "" when none
    std::string r;
  };
  const Row rows[] = {
      {"mc('123')", "PubMakeCall(123)", "PubMakeCall Return"},
      {"sd('12#')", "VCSendDTMF(null,12#)", "VCSendDTMF Return"},
      {"ap('123','Kim')", "PBWrite(0,{123,Kim})", "PBWrite Return"},
      {"setup('0123',true)", "VCSetup(0123)", "VCSetup Return"},
      {"acct(3,true)", "VCAccept(3)", "VCAccept Return"},
      {"rel(3)", "VCRelease(3)", "VCRelease Return"},
      {"dtmf(3,'9')", "VCSendDTMF(3,9)", "VCSendDTMF Return"},
      {"stat(3,'number')", "VCCallStatus(3,number)", "VCCallStatus Return"},
      {"vlist(true)", "VCList()", "VCList Return"},
      {"nlist(true,2)", "NTList()", "NTList Return"},
      {"nrem(7)", "NTRemove(7)", "NTRemove Return"},
      {"nfield(7,'body')", "NTGetField(7,body)", "NTGetField Return"},
      {"asread(7)", "NTMarkRead(7)", "NTMarkRead Return"},
      {"write(1,'123','home')", "PBWrite(1,{123,home})", "PBWrite Return"},
      {"srch('name','Lee')", "PBSearch(name,Lee)", "PBSearch Return"},
      {"prem(4)", "PBRemove()", "PBRemove Return"},
      {"pfield(4,'name')", "PBGetField(4,name)", "PBGetField Return"},
      {"change(4,'name','Park')", "PBChange(4,name,Park)", "PBChange Return"},
      {"dial(true)", "CLDialled()", "CLDialled Return"},
      {"miss(true)", "CLMissed()", "CLMissed Return"},
      {"rec(true)", "CLReceived()", "CLReceived Return"},
      {"cfield(2,'number')", "CLGetField(2,number)", "CLGetField Return"},
      {"getp()", "", "false"},
      {"ec()", "", "(unset)"},          // answered with the empty text
      {"setp('abc')", "", "(unset)"},
      {"ind(8,1)", "", "invalid"},      // a type past 7: no request
      {"ind(4,1)", "", "invalid"},      // no indicator task: refused
      {"rel('x')", "", "invalid"},      // asked, then refused
      {"prem('x')", "", "invalid"},
  };
  for (const Row& row : rows) {
    calls().clear();
    EXPECT_EQ(Run(row.call, wta), row.r) << row.call;
    EXPECT_EQ(calls(), row.handset.empty() ? std::vector<std::string>{}
                                           : std::vector<std::string>{row.handset})
        << row.call;
  }
  // Every run ended well.
  for (const Received& r : owner->log) {
    if (r.message == WmlsMsg::End) {
      EXPECT_EQ(r.arg1, WmlsEnd::Ok);
    }
  }
}

TEST_F(WmlsWtaTest, OnlyThePublicLibraryServesAnOrdinaryDeck) {
  prompts.clear();
  EXPECT_EQ(Run("rel(3)", plain), "invalid");
  EXPECT_EQ(Run("write(1,'123','home')", plain), "invalid");
  EXPECT_TRUE(prompts.empty());
  EXPECT_EQ(Run("mc('123')", plain), "PubMakeCall Return");
  EXPECT_EQ(calls(), std::vector<std::string>{"PubMakeCall(123)"});
  accept = 0;
  EXPECT_EQ(Run("mc('123')", plain), "invalid");
}

TEST_F(WmlsWtaTest, ACallSetUpThatIsNotKeptIsReportedForRelease) {
  // The handset's answer is not a number: the owner is told call 0.
  EXPECT_EQ(Run("setup('0123',false)", wta), "VCSetup Return");
  ASSERT_EQ(owner->Count(BenMsg::WtaCall), 1u);
  EXPECT_EQ(Run("setup('0123',true)", wta), "VCSetup Return");
  EXPECT_EQ(owner->Count(BenMsg::WtaCall), 1u);
}

TEST_F(WmlsWtaTest, ATextSentByAScriptWaitsForTheService) {
  Recorder service(Mod::Sms);
  Pump();
  EXPECT_EQ(Run("send('0123','hi')", wta), "(unset)");
  ASSERT_EQ(service.Count(SmsServiceMsg::Send), 1u);
  auto* request = reinterpret_cast<SmsSendRequestRec*>(service.log.back().arg2);
  AnswerSms(request, SmsServiceMsg::NotSent, 0x80038000);
  EXPECT_EQ(Narrow(BenGetVar(&vars, u"r")), "-100");
}

// The popups cannot be drawn here (no fonts): each goes away without an
// answer, and the run goes on as cancelled (the prompt's default, false for
// confirm, the empty text of alert, which unsets the variable).
TEST_F(WmlsWtaTest, DialogsWaitForTheirPopup) {
  struct Row {
    const char* call;
    std::string r;
  };
  for (const Row& row : {Row{"prompt('Name?','Kim')", "Kim"}, Row{"confirm('Sure?')", "false"},
                         Row{"alert('Done')", "(unset)"}}) {
    EXPECT_EQ(Run(row.call, plain), row.r) << row.call;
  }
  for (const Received& r : owner->log) {
    if (r.message == WmlsMsg::End) {
      EXPECT_EQ(r.arg1, WmlsEnd::Ok);
    }
  }
}

// Answers of ended runs' requests may come after answers of the run that
// followed (a consent still open, a request answered without asking): the
// live run gets its own answer, and the late one goes nowhere.
TEST_F(WmlsWtaTest, AnEndedRunsLateRefusalLeavesTheNextRunItsOwnAnswer) {
  holdConsents = true;
  WmlsPostRun(task, "qortest://h/wta.wmlsc#mc('123')", wta);
  Pump();
  ASSERT_EQ(held.size(), 1u);
  TskmanPost(WmlsScriptTaskOf(task), WmlsMsg::Abort, 0, 0);
  Pump();
  ASSERT_EQ(Ends(), std::vector<uint32_t>{WmlsEnd::Ok});
  // Asked of the browser, answered at once.
  WmlsPostRun(task, "qortest://h/wta.wmlsc#getp()", wta);
  Pump();
  EXPECT_EQ(Ends(), (std::vector<uint32_t>{WmlsEnd::Ok, WmlsEnd::Ok}));
  EXPECT_EQ(R(), "false");
  Decide(0, 0);
  Pump();
  EXPECT_EQ(Ends(), (std::vector<uint32_t>{WmlsEnd::Ok, WmlsEnd::Ok}));
  EXPECT_EQ(R(), "false");
}

// A call set up by a run that ended before its answer is still reported for
// release when that answer comes, whatever the next run waits for.
TEST_F(WmlsWtaTest, AnEndedRunsCallSetUpIsReportedWhenItsAnswerComes) {
  holdConsents = true;
  WmlsPostRun(task, "qortest://h/wta.wmlsc#setup('0123',false)", wta);
  Pump();
  ASSERT_EQ(held.size(), 1u);
  TskmanPost(WmlsScriptTaskOf(task), WmlsMsg::Abort, 0, 0);
  Pump();
  WmlsPostRun(task, "qortest://h/wta.wmlsc#mc('123')", wta);
  Pump();
  ASSERT_EQ(held.size(), 2u);
  Decide(0, 1);
  Pump();
  EXPECT_EQ(owner->Count(BenMsg::WtaCall), 1u);
  Decide(1, 1);
  Pump();
  EXPECT_EQ(R(), "PubMakeCall Return");
  EXPECT_EQ(owner->Count(BenMsg::WtaCall), 1u);
  EXPECT_EQ(Ends(), (std::vector<uint32_t>{WmlsEnd::Ok, WmlsEnd::Ok}));
}

// A run that ends while its request is outstanding (the handset's answer
// already queued for it, or a WTA-context request the browser has not taken
// yet) hears nothing of that request afterwards: the answer is taken back or
// goes to no one, a call it set up is still reported for release, and the
// next run gets its own answer.
TEST_F(WmlsWtaTest, ARunEndedWhileItsRequestIsOutstandingHearsNoAnswer) {
  enum class End { Abort, NewRun, Stop };
  struct Row {
    const char* call;
    uint32_t browserRequest;  // the WTA-context request, or 0 for a handset one
    End end;
    size_t reported;  // calls reported for release
  };
  const Row rows[] = {
      {"mc('123')", 0, End::Abort, 0},
      {"setup('0123',false)", 0, End::Abort, 1},
      {"setup('0123',true)", 0, End::NewRun, 0},
      {"setup('0123',false)", 0, End::Stop, 1},
      {"dial(true)", 0, End::Stop, 0},
      {"getp()", BenMsg::WtaGet, End::Abort, 0},
      {"setp('abc')", BenMsg::WtaSet, End::NewRun, 0},
      {"ec()", BenMsg::WtaEnd, End::Stop, 0},
  };
  TskmanSetObserver(CountAnswers);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.call);
    owner->log.clear();
    browser->log.clear();
    held.clear();
    holdConsents = row.browserRequest == 0;
    BenClearVars(&vars);
    TskmanTask* script = WmlsScriptTaskOf(task);
    WmlsPostRun(task, std::string("qortest://h/wta.wmlsc#") + row.call, wta);
    if (row.browserRequest) {
      for (int i = 0; i < 1000 && !Queued(browser->task(), row.browserRequest); ++i) Step();
      ASSERT_TRUE(Queued(browser->task(), row.browserRequest));
    } else {
      Pump();
      ASSERT_EQ(held.size(), 1u);
      Decide(0, 1);
      Step();  // the consent's request goes to the handset, which answers at once
      ASSERT_TRUE(Queued(script, WtaiMsg::Answer));
    }
    gWatched = script;
    gAnswersHeard = 0;
    switch (row.end) {
      case End::Abort:
        TskmanSend(script, WmlsMsg::Abort, 0, 0);
        break;
      case End::NewRun: {
        const std::string next = "qortest://h/wta.wmlsc#getp()";
        auto* text = static_cast<char*>(
            MemAlloc(static_cast<uint32_t>(next.size() + 1), Use::String, Mod::TestCode));
        std::memcpy(text, next.c_str(), next.size() + 1);
        TskmanSend(script, WmlsMsg::Run, reinterpret_cast<uintptr_t>(text), reinterpret_cast<uintptr_t>(wta));
        break;
      }
      case End::Stop:
        WmlsScriptTaskDestroy(&task);
        ASSERT_EQ(WmlsScriptTaskCreate(&task, owner->task(), &vars, session), kOk);
        break;
    }
    if (row.end == End::NewRun) gWatched = nullptr;  // the next run hears its own
    Pump();
    EXPECT_EQ(gAnswersHeard, 0);
    EXPECT_EQ(owner->Count(BenMsg::WtaCall), row.reported);
    // A request the browser had not taken is still carried out.
    if (row.browserRequest) {
      EXPECT_EQ(browser->Count(row.browserRequest), 1u);
    }
    holdConsents = false;
    if (row.end != End::NewRun) {
      EXPECT_EQ(Run("getp()", wta), "false");
    }
    EXPECT_EQ(R(), "false");
    EXPECT_EQ(owner->Count(WmlsMsg::End), row.end == End::Stop ? 1u : 2u);
    for (const Received& r : owner->log) {
      if (r.message == WmlsMsg::End) {
        EXPECT_EQ(r.arg1, WmlsEnd::Ok);
      }
    }
  }
  gWatched = nullptr;
  TskmanSetObserver(nullptr);
}

// A consent still to be answered when its run ends (its question with the
// user, or the request task not yet told whom to answer) keeps its request:
// accepted later, the call is set up, its answer goes to the request task,
// which reports the call for release and ends; nothing reaches the script
// task or a task that is gone.
TEST_F(WmlsWtaTest, AConsentOutlivingItsRunAnswersItselfAndReportsTheCall) {
  struct Row {
    bool confirmQueued;  // the run ends before the request task learns its answer task
    bool stop;           // ended by the task's stop, else by an abort
  };
  TskmanSetObserver(CountAnswers);
  for (const Row row : {Row{false, false}, Row{false, true}, Row{true, false}, Row{true, true}}) {
    SCOPED_TRACE(testing::Message() << row.confirmQueued << row.stop);
    owner->log.clear();
    held.clear();
    calls().clear();
    holdConsents = true;
    TskmanTask* script = WmlsScriptTaskOf(task);
    WmlsPostRun(task, "qortest://h/wta.wmlsc#setup('0123',false)", wta);
    if (row.confirmQueued) {
      auto confirmQueued = [] {
        TskmanTask* consent = TskmanFind(Mod::WtlWtai);
        return consent && Queued(consent, WtaiMsg::Confirm);
      };
      for (int i = 0; i < 1000 && !confirmQueued(); ++i) Step();
      ASSERT_TRUE(confirmQueued());
    } else {
      Pump();
    }
    gWatched = script;
    gAnswersHeard = 0;
    if (row.stop) {
      WmlsScriptTaskDestroy(&task);
      ASSERT_EQ(WmlsScriptTaskCreate(&task, owner->task(), &vars, session), kOk);
    } else {
      TskmanSend(script, WmlsMsg::Abort, 0, 0);
    }
    Pump();
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(owner->Count(BenMsg::WtaCall), 0u);
    Decide(0, 1);
    Pump();
    EXPECT_EQ(calls(), std::vector<std::string>{"VCSetup(0123)"});
    EXPECT_EQ(owner->Count(BenMsg::WtaCall), 1u);
    EXPECT_EQ(gAnswersHeard, 0);
    EXPECT_EQ(TskmanFind(Mod::WtlWtai), nullptr);
    holdConsents = false;
    EXPECT_EQ(Run("getp()", wta), "false");
  }
  gWatched = nullptr;
  TskmanSetObserver(nullptr);
}

// A text message still with the SMS service when its run ends: the service's
// answer goes to no one, and the request task still ends.
TEST_F(WmlsWtaTest, ARunEndedWhileItsTextIsWithTheServiceHearsNoAnswer) {
  Recorder service(Mod::Sms);
  Pump();
  WmlsPostRun(task, "qortest://h/wta.wmlsc#send('0123','hi')", wta);
  Pump();
  ASSERT_EQ(service.Count(SmsServiceMsg::Send), 1u);
  TskmanSetObserver(CountAnswers);
  gWatched = WmlsScriptTaskOf(task);
  gAnswersHeard = 0;
  TskmanSend(gWatched, WmlsMsg::Abort, 0, 0);
  auto* request = reinterpret_cast<SmsSendRequestRec*>(service.log.back().arg2);
  ASSERT_NE(TskmanFind(Mod::WtlWtai2), nullptr);
  AnswerSms(request, SmsServiceMsg::Sent);
  EXPECT_EQ(gAnswersHeard, 0);
  EXPECT_EQ(TskmanFind(Mod::WtlWtai2), nullptr);
  gWatched = nullptr;
  TskmanSetObserver(nullptr);
  EXPECT_EQ(Run("getp()", wta), "false");
}


// A consent that outlives its run and is stopped (as the engine's stop does)
// with its handset answer still queued for it leaves nothing of that answer
// behind; taken in its turn, the answer is freed as ever.
TEST_F(WmlsWtaTest, AConsentStoppedWithItsAnswerQueuedLeavesNothingBehind) {
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop);
    EXPECT_EQ(Run("getp()", wta), "false");
    const uint32_t before = HeapGetStats().freeBytes;
    holdConsents = true;
    held.clear();
    WmlsPostRun(task, "qortest://h/wta.wmlsc#setup('0123',false)", wta);
    Pump();
    ASSERT_EQ(held.size(), 1u);
    TskmanSend(WmlsScriptTaskOf(task), WmlsMsg::Abort, 0, 0);
    Pump();
    TskmanTask* consent = TskmanFind(Mod::WtlWtai);
    ASSERT_NE(consent, nullptr);
    Decide(0, 1);
    for (int i = 0; i < 1000 && !Queued(consent, WtaiMsg::Answer); ++i) Step();
    ASSERT_TRUE(Queued(consent, WtaiMsg::Answer));
    if (stop) TskmanSend(consent, TskMsg::Stop2, 0, 0);
    Pump();
    EXPECT_EQ(TskmanFind(Mod::WtlWtai), nullptr);
    holdConsents = false;
    EXPECT_EQ(HeapGetStats().freeBytes, before);
  }
}

// A consent that outlives its run reports the call it sets up to the run's
// owner; an owner that has ended by then hears nothing, and neither does a
// task made after it in its place (the same record, as the heap gives it).
TEST_F(WmlsWtaTest, AConsentReportsNoCallToATaskMadeAfterItsOwnerEnded) {
  auto first = std::make_unique<Recorder>(Mod::TestHarness);
  Pump();
  WmlsScriptTask* other = nullptr;
  ASSERT_EQ(WmlsScriptTaskCreate(&other, first->task(), &vars, session), kOk);
  Pump();
  holdConsents = true;
  WmlsPostRun(other, "qortest://h/wta.wmlsc#setup('0123',false)", wta);
  Pump();
  ASSERT_EQ(held.size(), 1u);
  WmlsScriptTaskDestroy(&other);
  TskmanTask* gone = first->task();
  first.reset();
  Recorder next(Mod::TestHarness);
  Pump();
  holdConsents = false;
  Decide(0, 1);
  Pump();
  EXPECT_EQ(calls(), std::vector<std::string>{"VCSetup(0123)"});
  EXPECT_EQ(next.Count(BenMsg::WtaCall), 0u) << (next.task() == gone ? "in the same record" : "elsewhere");
  EXPECT_EQ(TskmanFind(Mod::WtlWtai), nullptr);
}

}  // namespace
