// WTAI: the function table by level, every function from the first call
// through the user's consent to the handset's answer, the refusals, the
// link request tasks, text messages through the SMS service, and links of
// the four schemes.
#include <gtest/gtest.h>

#include "browser/benvar.h"
#include "browser/bentask.h"
#include "browser/status.h"
#include "browser/url.h"
#include "host/smsservice.h"
#include "host/platform/handset.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/uistring.h"
#include "services/service_rows.h"
#include "services/sms/sms.h"
#include "services/wtai/wtai.h"
#include "tests/services/wtai_fixture.h"

namespace {

char16_t* Text(const std::u16string& s) { return LibcWStrDup(s.c_str()); }

class WtaiTest : public WtaiFixture {
 protected:
  // Calls the function as a script library would, with the answer task.
  void Call(const char* lib, const char* fn, const std::u16string& args) {
    WtaiHandler h = WtaiFindFunction(lib, fn, 2);
    ASSERT_NE(h, nullptr) << lib << "/" << fn;
    EXPECT_EQ(h(answer->task(), Text(args), WtaiState::First), kOk);
    Pump();
  }
};

TEST_F(WtaiTest, LookupComparesNamesWithoutCaseAndHonoursLevels) {
  struct Row {
    const char* lib;
    const char* fn;
    int32_t level;
    bool found;
  };
  const Row rows[] = {{"WP", "MC", 0, true},     {"wp", "ap", 0, true},    {"ms", "ec", 1, true},
                      {"ms", "ec", 0, false},    {"nt", "send", 1, false}, {"nt", "SEND", 2, true},
                      {"cl", "field", 2, true},  {"xx", "mc", 2, false},   {"wp", "zz", 2, false},
                      {"wp", "", 2, false},      {"wpwpwpwpwpwpwp", "mc", 2, false}};
  for (const Row& r : rows)
    EXPECT_EQ(WtaiFindFunction(r.lib, r.fn, r.level) != nullptr, r.found) << r.lib << "/" << r.fn;
}

TEST_F(WtaiTest, FieldReaders) {
  struct IntRow {
    std::u16string text;
    int32_t value;
  };
  for (const IntRow& r : std::vector<IntRow>{{u"", -1}, {u"+", 0}, {u"+12", 12}, {u"12a", -1},
                                             {u"2147483647", 2147483647}, {u"2147483648", -1},
                                             {u"-1", -1}})
    EXPECT_EQ(WtaiParseInt(r.text.c_str()), r.value) << Narrow(r.text.c_str());
  EXPECT_EQ(WtaiArgCount(u""), 1u);
  EXPECT_EQ(WtaiArgCount(u"a;;b"), 3u);
  char16_t* f = WtaiArgText(u"  a;bc;", 2);
  EXPECT_EQ(std::u16string(f), u"bc");
  MemFree(&f);
  f = WtaiArgText(u"a;bc;", 3);
  EXPECT_EQ(std::u16string(f), u"");
  MemFree(&f);
  EXPECT_EQ(WtaiArgText(u"a", 2), nullptr);
  EXPECT_EQ(WtaiArgInt(u"1; 2", 1), 1);
  for (auto [t, v] : std::vector<std::pair<std::u16string, bool>>{
           {u"", false}, {u"false", false}, {u"FaLsE", false}, {u"no", true}, {u"falsey", true}})
    EXPECT_EQ(WtaiArgIsTrue(t.c_str()), v) << Narrow(t.c_str());
}

// Every function that asks first: the prompt, then the handset's request
// with its arguments, then the handset's answer.
TEST_F(WtaiTest, EveryFunctionAsksThenReachesItsHandsetService) {
  struct Row {
    const char* lib;
    const char* fn;
    std::u16string args;
    uint32_t prompt;
    std::u16string detail;
    std::string call;
  };
  const Row rows[] = {
      {"wp", "mc", u"+123", 0, u"+123", "PubMakeCall(+123)"},
      {"wp", "sd", u"12ab#*", 1, u"", "VCSendDTMF(null,12ab#*)"},
      {"wp", "ap", u"123;Kim", 6, u"Kim:123", "PBWrite(0,{123,Kim})"},
      {"nt", "list", u"true;3", 12, u"", "NTList()"},
      {"nt", "rem", u"7", 13, u"", "NTRemove(7)"},
      {"nt", "field", u"7;body", 14, u"", "NTGetField(7,body)"},
      {"nt", "asread", u"7", 15, u"", "NTMarkRead(7)"},
      {"vc", "setup", u"0123;true", 0, u"0123", "VCSetup(0123)"},
      {"vc", "acct", u"3;true", 2, u"", "VCAccept(3)"},
      {"vc", "rel", u"3", 3, u"", "VCRelease(3)"},
      {"vc", "dtmf", u"3;9#", 1, u"", "VCSendDTMF(3,9#)"},
      {"vc", "stat", u"3;number", 4, u"", "VCCallStatus(3,number)"},
      {"vc", "list", u"false", 5, u"", "VCList()"},
      {"pb", "write", u"4;0123;Lee", 6, u"Lee", "PBWrite(4,{0123,Lee})"},
      {"pb", "srch", u"name;Lee", 7, u"", "PBSearch(name,Lee)"},
      {"pb", "rem", u"4", 8, u"", "PBRemove()"},
      {"pb", "field", u"4;name", 9, u"", "PBGetField(4,name)"},
      {"pb", "change", u"4;name;Park", 10, u"", "PBChange(4,name,Park)"},
      {"cl", "dial", u"true", 16, u"", "CLDialled()"},
      {"cl", "miss", u"true", 17, u"", "CLMissed()"},
      {"cl", "rec", u"true", 18, u"", "CLReceived()"},
      {"cl", "field", u"2;number", 19, u"", "CLGetField(2,number)"},
  };
  for (const Row& r : rows) {
    prompts.clear();
    calls().clear();
    Call(r.lib, r.fn, r.args);
    std::u16string prompt = UiGetString(19, r.prompt);
    if (!r.detail.empty()) prompt += u" (" + r.detail + u")";
    EXPECT_EQ(prompts, std::vector<std::u16string>{prompt}) << r.lib << "/" << r.fn;
    EXPECT_EQ(calls(), std::vector<std::string>{r.call});
    const std::string name = r.call.substr(0, r.call.find('('));
    const auto answers = Answers(*answer);
    ASSERT_EQ(answers.size(), 1u) << r.call;
    EXPECT_EQ(answers[0].first, 0);
    EXPECT_EQ(Narrow(answers[0].second.c_str()), name + " Return");
  }
  // Every consent task has ended with its request.
  EXPECT_EQ(TskmanFind(Mod::WtlWtai), nullptr);
}

TEST_F(WtaiTest, RefusalsAndBadArgumentsAnswerMinus200) {
  struct Row {
    const char* lib;
    const char* fn;
    std::u16string args;
    uint32_t accepted;
    size_t asked;
  };
  const Row rows[] = {
      {"wp", "mc", u"", 1, 0},          // empty: refused before asking
      {"wp", "mc", u"12a", 1, 1},       // asked, then refused
      {"wp", "mc", u"123", 0, 1},       // the user said no
      {"wp", "mc", u"1;2", 1, 0},       // wrong field count
      {"wp", "sd", u"12e", 1, 1},
      {"pb", "rem", u"x", 1, 1},
      {"pb", "write", u"1;12 a;x", 1, 1},
      {"vc", "dtmf", u"x;12", 1, 1},
      {"nt", "list", u"true;x", 1, 1},
      {"ms", "ind", u"-1;1", 1, 0},
      {"ms", "ind", u"4", 1, 0},
      {"ms", "set", u"a;b", 1, 0},
  };
  for (const Row& r : rows) {
    prompts.clear();
    accept = r.accepted;
    Call(r.lib, r.fn, r.args);
    EXPECT_EQ(prompts.size(), r.asked) << r.lib << "/" << r.fn << " " << Narrow(r.args.c_str());
    EXPECT_EQ(Answers(*answer), (std::vector<std::pair<int32_t, std::u16string>>{{-200, u""}}))
        << r.lib << "/" << r.fn << " " << Narrow(r.args.c_str());
  }
  EXPECT_TRUE(calls().empty());
}

TEST_F(WtaiTest, WithoutAHandsetARequestIsRefusedAndItsTextsFreed) {
  HandsetInstall(nullptr);
  const uint32_t before = HeapGetStats().freeBytes;
  Call("pb", "write", u"4;0123;Lee");
  Call("wp", "mc", u"123");
  EXPECT_EQ(Answers(*answer), (std::vector<std::pair<int32_t, std::u16string>>{{-200, u""}, {-200, u""}}));
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

TEST_F(WtaiTest, TheMiscellaneousFunctionsGoToTheIndicatorAndTheBrowser) {
  Recorder status(Mod::Status);
  Pump();
  Call("ms", "ind", u"4;1");
  Call("ms", "ind", u"9;1");
  Call("ms", "ind", u"0;0");
  std::vector<Received> indicators;
  for (const Received& r : status.log)
    if (r.message == StatusMsg::Indicator) indicators.push_back(r);
  EXPECT_EQ(indicators, (std::vector<Received>{{StatusMsg::Indicator, 4, 0x42},
                                               {StatusMsg::Indicator, 4, 0x4C},
                                               {StatusMsg::Indicator, 4, 0x4A}}));
  EXPECT_EQ(Answers(*answer).size(), 3u);
  Call("ms", "set", u"FALSE");
  Call("ms", "set", u"no");
  Call("ms", "get", u"");
  Call("vc", "acct", u"3;false");
  std::vector<Received> toBrowser;
  for (const Received& r : browser->log)
    if (r.message == BenMsg::WtaSet || r.message == BenMsg::WtaGet || r.message == BenMsg::WtaCall)
      toBrowser.push_back(r);
  const auto a = reinterpret_cast<uintptr_t>(answer->task());
  EXPECT_EQ(toBrowser, (std::vector<Received>{{BenMsg::WtaSet, a, 0},
                                              {BenMsg::WtaSet, a, 1},
                                              {BenMsg::WtaGet, a, 0},
                                              {BenMsg::WtaCall, 3, 0}}));
  browser.reset();
  Call("ms", "ec", u"");
  EXPECT_EQ(Answers(*answer).back().first, -200);
}

TEST_F(WtaiTest, ALinkRequestStoresItsAnswerInItsVariable) {
  BenBrowser b{};
  BenBrowserInit(&b);
  struct Row {
    int32_t code;
    const char16_t* text;
    const char16_t* stored;
  };
  for (const Row& r : {Row{0, u"PubMakeCall Return", u"PubMakeCall Return"}, Row{5, nullptr, u"5"},
                       Row{-200, nullptr, u"-200"}, Row{-2147483647 - 1, nullptr, u"-2147483648"}}) {
    TskmanTask* t = WtaiCreateUrlRequestTask(&b, u"r");
    ASSERT_NE(t, nullptr);
    TskmanPost(t, BenMsg::Answer, static_cast<uintptr_t>(static_cast<intptr_t>(r.code)),
               reinterpret_cast<uintptr_t>(r.text ? LibcWStrDup(r.text) : nullptr));
    Pump();
    EXPECT_EQ(std::u16string(BenGetVar(&b, u"r")), r.stored);
  }
  // A task that cannot be made keeps nothing of the name.
  const uint32_t before = HeapGetStats().freeBytes;
  TskmanFailNextCreate(Mod::WtlWtai);
  EXPECT_EQ(WtaiCreateUrlRequestTask(&b, u"r"), nullptr);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
  // Without a variable the answer is dropped.
  TskmanTask* t = WtaiCreateUrlRequestTask(&b, nullptr);
  TskmanPost(t, BenMsg::Answer, 0, reinterpret_cast<uintptr_t>(LibcWStrDup(u"x")));
  Pump();
  EXPECT_EQ(TskmanFind(Mod::WtlWtai), nullptr);
  BenFreeVarList(&b);
}

class WtaiSmsTest : public WtaiTest {
 protected:
  void SetUp() override {
    WtaiTest::SetUp();
    service = std::make_unique<Recorder>(Mod::Sms);
    Pump();
  }
  void TearDown() override {
    service.reset();
    WtaiTest::TearDown();
  }
  // The request the service got, its message's address and text.
  SmsSendRequestRec* Request(std::string* address, std::string* text) {
    for (const Received& r : service->log) {
      if (r.message != SmsServiceMsg::Send) continue;
      auto* request = reinterpret_cast<SmsSendRequestRec*>(r.arg2);
      *address = request->message->sender;
      *text = SmsText(request);
      return request;
    }
    return nullptr;
  }
  std::unique_ptr<Recorder> service;
};

TEST_F(WtaiSmsTest, ATextGoesToTheServiceAndItsOutcomeComesBack) {
  struct Row {
    uint32_t message;
    uintptr_t code;
    int32_t answer;
    bool event;
  };
  const Row rows[] = {{SmsServiceMsg::Sent, 0, 0, true},
                      {SmsServiceMsg::NotSent, 0x80038000, -100, false},
                      {SmsServiceMsg::NotSent, 0x80030002, 0, true}};
  for (const Row& row : rows) {
    browser->log.clear();
    Call("nt", "send", u"0123;hello");
    std::string address, text;
    SmsSendRequestRec* request = Request(&address, &text);
    ASSERT_NE(request, nullptr);
    service->log.clear();
    EXPECT_EQ(address, "0123");
    EXPECT_EQ(text, "hello");
    // Another text while this one is under way is refused.
    Call("nt", "send", u"0123;again");
    EXPECT_EQ(Answers(*answer), (std::vector<std::pair<int32_t, std::u16string>>{{-200, u""}}));
    const std::u16string reference = request->reference;
    AnswerSms(request, row.message, row.code);
    const auto answers = Answers(*answer);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].first, row.answer);
    if (row.answer == 0) {
      EXPECT_EQ(answers[0].second, reference);
    }
    EXPECT_EQ(browser->Count(BenMsg::WtaEvent), row.event ? 1u : 0u);
    EXPECT_EQ(TskmanFind(Mod::WtlWtai2), nullptr);
  }
}

// The copy of the sent text is made for an answer task that still stands:
// one that has gone leaves nothing behind.
TEST_F(WtaiSmsTest, AnOutcomeForAnAnswerTaskThatHasGoneLeavesNothing) {
  Recorder asker(Mod::TestHarness);
  Pump();
  const uint32_t before = HeapGetStats().freeBytes;
  ASSERT_EQ(WtaiFindFunction("nt", "send", 2)(asker.task(), Text(u"0123;hello"), WtaiState::Accepted),
            kOk);
  Pump();
  std::string address, text;
  SmsSendRequestRec* request = Request(&address, &text);
  ASSERT_NE(request, nullptr);
  // The asker's own record goes with it: counted apart.
  const uint32_t beforeGone = HeapGetStats().freeBytes;
  asker.Destroy();
  const uint32_t askerBytes = HeapGetStats().freeBytes - beforeGone;
  AnswerSms(request, SmsServiceMsg::Sent);
  EXPECT_EQ(TskmanFind(Mod::WtlWtai2), nullptr);
  EXPECT_EQ(HeapGetStats().freeBytes, before + askerBytes);
}

// The number asked about is the number the text goes to: blanks and '-'
// are dropped before asking, and a number that would not fit whole is
// refused without a question.
TEST_F(WtaiSmsTest, TheUserIsAskedAboutExactlyTheAddressTheTextGoesTo) {
  struct Row {
    std::u16string args;
    std::u16string asked;  // empty: refused without a question
  };
  const Row rows[] = {
      {u"+49 170 123 45 67 89;hi", u"+49170123456789"},
      {u" 0170-123-4567;hi", u"01701234567"},
      {u"1234567890123456789;hi", u"1234567890123456789"},
      {u"12345678901234567890;hi", u""},
      {u"+49 170 123 45 67 89 12 34 56;hi", u""},
      {u"- -;hi", u""},
  };
  for (const Row& r : rows) {
    prompts.clear();
    service->log.clear();
    Call("nt", "send", r.args);
    std::string address, text;
    SmsSendRequestRec* request = Request(&address, &text);
    if (r.asked.empty()) {
      EXPECT_TRUE(prompts.empty()) << Narrow(r.args.c_str());
      EXPECT_EQ(request, nullptr);
      EXPECT_EQ(Answers(*answer), (std::vector<std::pair<int32_t, std::u16string>>{{-200, u""}}));
      continue;
    }
    EXPECT_EQ(prompts, std::vector<std::u16string>{std::u16string(UiGetString(19, 11)) + u" (" +
                                                   r.asked + u")"});
    ASSERT_NE(request, nullptr) << Narrow(r.args.c_str());
    EXPECT_EQ(address, Narrow(r.asked.c_str()));
    EXPECT_EQ(text, "hi");
    AnswerSms(request, SmsServiceMsg::Sent);
    Answers(*answer);
  }
}

TEST_F(WtaiSmsTest, WithoutTheServiceTheTextIsAnsweredAndTheTaskEnds) {
  service.reset();
  Call("nt", "send", u"0123;hello");
  EXPECT_EQ(Answers(*answer).size(), 1u);
  EXPECT_EQ(TskmanFind(Mod::WtlWtai2), nullptr);
}

// Through the real SMS service: a text whose request is queued behind the
// service's stop is answered as stopped, and the next text is not refused
// for a request that never ends.
TEST_F(WtaiTest, ATextQueuedBehindTheServicesStopDoesNotBlockTheNext) {
  ASSERT_EQ(SmsServiceStart(), kOk);
  Pump();
  const WtaiHandler send = WtaiFindFunction("nt", "send", 2);
  SmsServiceStop();
  ASSERT_EQ(send(answer->task(), Text(u"0123;first"), WtaiState::Accepted), kOk);
  Pump();
  EXPECT_EQ(TskmanFind(Mod::Sms), nullptr);
  EXPECT_EQ(TskmanFind(Mod::WtlWtai2), nullptr);
  const auto first = Answers(*answer);
  ASSERT_EQ(first.size(), 1u);
  // Not sent, for another reason than the network's refusal.
  EXPECT_EQ(first[0].first, 0);
  ASSERT_EQ(send(answer->task(), Text(u"0123;second"), WtaiState::Accepted), kOk);
  Pump();
  EXPECT_EQ(TskmanFind(Mod::WtlWtai2), nullptr);
  EXPECT_EQ(Answers(*answer).size(), 1u);
}

// ---- links ------------------------------------------------------------------------

class WtaiLinkTest : public WtaiFixture {
 protected:
  void SetUp() override {
    WtaiFixture::SetUp();
    BenBrowserInit(&b);
    request.browser = &b;
  }
  void TearDown() override {
    BenFreeVarList(&b);
    WtaiFixture::TearDown();
  }
  Result Start(const char* url) {
    UrlParsed parsed{};
    EXPECT_EQ(UrlParse(&parsed, url, 0), kOk);
    UrlLoad* load = UrlLoadCreate(&parsed);
    UrlFreeParsed(&parsed);
    const Result r = WtaiSchemeStart(&request, load);
    Pump();
    events = load->events;
    UrlLoadFree(load);
    return r;
  }
  BenBrowser b{};
  UrlRequestRec request{};
  uint32_t events = 0;
};

TEST_F(WtaiLinkTest, LinksOfTheFourSchemesReachTheirFunction) {
  struct Row {
    const char* url;
    Result result;
    std::string call;
  };
  const Row rows[] = {
      {"WTAI://WP/MC;123", kOk, "PubMakeCall(123)"},
      {"wtai://wp/sd;123#", kOk, "VCSendDTMF(null,123#)"},
      {"wtai://wp/mc;%2B49%20123", kOk, "PubMakeCall(+49 123)"},
      {"wtai://wp/zz;1", kWtaiUnknown, ""},
      {"tel:%2B123", kOk, "PubMakeCall(+123)"},
      {"dialto:0123", kOk, "PubMakeCall(0123)"},
      {"tel://0123/x", kWtaiUnknown, ""},
      {"smsto:123", kWtaiUnknown, ""},
  };
  for (const Row& r : rows) {
    calls().clear();
    EXPECT_EQ(Start(r.url), r.result) << r.url;
    EXPECT_EQ(calls(), r.call.empty() ? std::vector<std::string>{} : std::vector<std::string>{r.call})
        << r.url;
    if (r.result == kOk) {
      EXPECT_EQ(events & (UrlEvent::Complete | UrlEvent::Outside),
                UrlEvent::Complete | UrlEvent::Outside);
    }
  }
}

TEST_F(WtaiLinkTest, TheAnswerLandsInTheResultVariable) {
  EXPECT_EQ(Start("wtai://wp/mc;123!r"), kOk);
  EXPECT_EQ(std::u16string(BenGetVar(&b, u"r")), u"PubMakeCall Return");
  accept = 0;
  EXPECT_EQ(Start("wtai://wp/mc;123!r"), kOk);
  EXPECT_EQ(std::u16string(BenGetVar(&b, u"r")), u"-200");
}

TEST_F(WtaiLinkTest, TheBrowsersAccessWordChoosesTheLevel) {
  EXPECT_EQ(Start("wtai://ms/ec"), kOk);
  b.accessOk = 1;
  EXPECT_EQ(Start("wtai://ms/ec"), kWtaiUnknown);
}

TEST_F(WtaiLinkTest, SmsToSendsTheQueryToTheNumber) {
  Recorder service(Mod::Sms);
  Pump();
  EXPECT_EQ(Start("smsto:123?hello%20there"), kOk);
  ASSERT_EQ(service.Count(SmsServiceMsg::Send), 1u);
  auto* request = reinterpret_cast<SmsSendRequestRec*>(service.log.back().arg2);
  EXPECT_STREQ(request->message->sender, "123");
  EXPECT_EQ(prompts.back(), std::u16string(UiGetString(19, 11)) + u" (123)");
  EXPECT_EQ(SmsText(request), "hello there");
  AnswerSms(request, SmsServiceMsg::Sent);
  EXPECT_EQ(TskmanFind(Mod::WtlWtai2), nullptr);
  EXPECT_EQ(TskmanFind(Mod::WtlWtai), nullptr);
}

// An smsto: link asks about the number as it will be sent, and one too long
// to send whole is refused without a question.
TEST_F(WtaiLinkTest, SmsToAsksAboutTheNumberItSendsTo) {
  Recorder service(Mod::Sms);
  Pump();
  EXPECT_EQ(Start("smsto:+49%20170%20123%2045%2067%2089?hello"), kOk);
  ASSERT_EQ(service.Count(SmsServiceMsg::Send), 1u);
  auto* request = reinterpret_cast<SmsSendRequestRec*>(service.log.back().arg2);
  EXPECT_STREQ(request->message->sender, "+49170123456789");
  EXPECT_EQ(prompts.back(), std::u16string(UiGetString(19, 11)) + u" (+49170123456789)");
  AnswerSms(request, SmsServiceMsg::Sent);
  prompts.clear();
  EXPECT_EQ(Start("smsto:+49%20170%20123%2045%2067%2089%2012%2034%2056?hello"), kOk);
  EXPECT_TRUE(prompts.empty());
  EXPECT_EQ(service.Count(SmsServiceMsg::Send), 1u);
  EXPECT_EQ(TskmanFind(Mod::WtlWtai), nullptr);
}

// Through the URL task: the scheme row is found, the link's load ends
// without a page, and the answer lands in the browser's variable.
TEST_F(WtaiLinkTest, TheUrlTaskHandsALinkToTheRow) {
  ServiceRowsInstall();
  Recorder requester(Mod::TestHarness);
  UrlTaskContext* urlTask = nullptr;
  UrlSession* session = nullptr;
  ASSERT_EQ(UrlStartTask(&urlTask, requester.task()), kOk);
  ASSERT_EQ(UrlSessionCreate(&session, requester.task()), kOk);
  UrlSetBrowser(&b);
  UrlRequestRec* r = nullptr;
  ASSERT_EQ(UrlRequest(session, "wtai://wp/mc;0123!n", 0, nullptr, &r, 0, requester.task(), 0), kOk);
  Pump();
  EXPECT_EQ(calls(), std::vector<std::string>{"PubMakeCall(0123)"});
  EXPECT_EQ(std::u16string(BenGetVar(&b, u"n")), u"PubMakeCall Return");
  EXPECT_EQ(requester.Count(UrlMsg::Complete), 1u);
  EXPECT_EQ(UrlLoadStatus(r), kUrlStatusKeptOut);
  UrlRequestDone(session, r);
  UrlSetBrowser(nullptr);
  UrlSessionDestroy(session);
  UrlStopTask(urlTask);
  Pump();
  ServiceRowsRemove();
}

}  // namespace
