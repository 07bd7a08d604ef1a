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

class WmlsWtaTest : public WtaiFixture {
 protected:
  void SetUp() override {
    WtaiFixture::SetUp();
    ContentRowsInstall();
    ServiceRowsInstall();
    const std::vector<uint8_t> unit = WmlsReadUnit("wta");
    FetchBody body;
    body.body.assign(unit.begin(), unit.end());
    body.contentType = "application/vnd.wap.wmlscriptc";
    driver.Serve("/wta.wmlsc", body);
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
  TskmanTask* sms = TskmanFind(Mod::WtlWtai2);
  TskmanPost(sms, SmsServiceMsg::NotSent, reinterpret_cast<uintptr_t>(request->reference), 0x80038000);
  TskmanPost(sms, SmsServiceMsg::RequestOver, 0, 0);
  request->reference = nullptr;
  SmsMessageFree(&request->message);
  MemFree(&request);
  Pump();
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
// Off for now: the task counts answers still owed to ended runs and drops
// the next ones, but answers do not come in the order the requests were
// made, so the next run's own answer is dropped (it waits for ever) and the
// ended run's refusal resumes it instead. An answer needs to name its request.
TEST_F(WmlsWtaTest, DISABLED_AnEndedRunsLateRefusalLeavesTheNextRunItsOwnAnswer) {
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
// Off for now: while the next run waits for telephony the ended run's answer
// is dropped without the report, the flag stays set, and the next run's own
// answer is reported as a call instead.
TEST_F(WmlsWtaTest, DISABLED_AnEndedRunsCallSetUpIsReportedWhenItsAnswerComes) {
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

}  // namespace
