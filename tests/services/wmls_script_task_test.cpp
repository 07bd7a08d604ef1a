// The script task through the real URL task: units compiled by Kannel's
// wmlsc (task.wmls, page.wmls) served by the tests' fetch driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "browser/benvar.h"
#include "browser/cache.h"
#include "browser/url.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/service_rows.h"
#include "services/wmlscript/wmls_content.h"
#include "services/wmlscript/wmls_script_task.h"
#include "tests/services/wmls_harness.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/fetch_driver.h"
#include "tests/support/recorder.h"

namespace {

class WmlsScriptTaskTest : public EngineFixture {
 protected:
  WmlsScriptTaskTest() : EngineFixture(2u << 20) {}
  void SetUp() override {
    EngineFixture::SetUp();
    ServiceRowsInstall();
    const std::vector<uint8_t> unit = WmlsReadUnit("task");
    FetchBody body;
    body.body.assign(unit.begin(), unit.end());
    body.contentType = "application/vnd.wap.wmlscriptc";
    driver.Serve("/s/task.wmlsc", body);
    FetchBody text;
    text.body = "not a unit";
    text.contentType = "text/plain";
    driver.Serve("/s/text.wmlsc", text);
    FetchBody gone = body;
    gone.status = 404;
    driver.Serve("/s/gone.wmlsc", gone);
    FetchBody cut = body;
    cut.failAt = 10;
    cut.blockSize = 10;
    driver.Serve("/s/cut.wmlsc", cut);
    const std::vector<uint8_t> page = WmlsReadUnit("page");
    body.body.assign(page.begin(), page.end());
    driver.Serve("/app/s/page.wmlsc", body);
    for (const char* name : {"nest", "echo"}) {
      const std::vector<uint8_t> u = WmlsReadUnit(name);
      body.body.assign(u.begin(), u.end());
      driver.Serve(std::string("/s/") + name + ".wmlsc", body);
    }
    FetchBody deck;
    deck.body = "deck";
    deck.contentType = "text/plain";
    driver.Serve("/app/deck.wml", deck);
    driver.Serve("/other/deck.wml", deck);
    FetchBody hello;
    hello.body = "h\xc3\xa9llo";
    hello.contentType = "text/html";
    driver.Serve("/s/hello.txt", hello);
    FetchBody plain;
    plain.body = "plain";
    plain.contentType = "text/plain; charset=utf-8";
    driver.Serve("/s/plain.txt", plain);
    plain.status = 404;
    driver.Serve("/s/gone.txt", plain);
    hello.failAt = 2;
    hello.blockSize = 2;
    driver.Serve("/s/cut.txt", hello);
    FetchBody bytewise = body;
    bytewise.body.assign(unit.begin(), unit.end());
    bytewise.blockSize = 1;
    driver.Serve("/s/bytewise.wmlsc", bytewise);
    FetchBody bad = bytewise;
    bad.body[0] = 2;  // a version no unit has
    driver.Serve("/s/v2.wmlsc", bad);
    bad = bytewise;
    bad.body.resize(bad.body.size() - 3);
    driver.Serve("/s/short.wmlsc", bad);
    bad.body.assign(1, '\x01');
    driver.Serve("/s/header.wmlsc", bad);
    FetchBody slow = FetchText("the real body", "text/plain");
    slow.blockSize = 1;
    driver.Serve("/s/slow.txt", slow);
    owner = std::make_unique<Recorder>(Mod::TestHarness);
    Pump();
    heapAtStart = HeapGetStats().freeBytes;
    BenBrowserInit(&browser);
    ASSERT_EQ(UrlStartTask(&urlTask, owner->task()), kOk);
    ASSERT_EQ(UrlSessionCreate(&session, owner->task()), kOk);
    ASSERT_EQ(WmlsScriptTaskCreate(&task, owner->task(), &browser, session), kOk);
    Pump();
    owner->log.clear();
  }
  void TearDown() override {
    WmlsScriptTaskDestroy(&task);
    UrlSessionDestroy(session);
    UrlStopTask(urlTask);
    BenFreeVarList(&browser);
    Pump();
    EXPECT_EQ(HeapGetStats().freeBytes, heapAtStart);
    owner.reset();
    ServiceRowsRemove();
    EngineFixture::TearDown();
  }
  // A finished request of the owner, as the link's deck would be.
  UrlRequestRec* Referring(const char* url) {
    UrlRequestRec* r = nullptr;
    EXPECT_EQ(UrlRequest(session, url, UrlFlag::RawData, nullptr, &r, 0, owner->task(), 0), kOk);
    Pump();
    return r;
  }
  void Post(const char* text, UrlRequestRec* referring = nullptr) { WmlsPostRun(task, text, referring); }
  // Steps until the unit has been collected (its load closed) and the run
  // has gone through some slices, the script still running.
  void RunIntoSlices() {
    for (int i = 0; i < 10000 && driver.closes == 0; ++i) Step();
    ASSERT_GT(driver.closes, 0);
    for (int i = 0; i < 50; ++i) Step();
    ASSERT_TRUE(Ends().empty());
  }
  // The completion codes the owner received, in order.
  std::vector<uint32_t> Ends() const {
    std::vector<uint32_t> out;
    for (const Received& r : owner->log)
      if (r.message == WmlsMsg::End) out.push_back(static_cast<uint32_t>(r.arg1));
    return out;
  }
  std::string Var(const char16_t* name) const {
    const char16_t* v = BenGetVar(&browser, name);
    return v ? std::string(v, v + std::char_traits<char16_t>::length(v)) : "(unset)";
  }
  std::string Pending() const {
    return std::to_string(browser.pending.kind) + ":" + (browser.pending.url ? browser.pending.url : "");
  }

  FetchDriver driver;
  std::unique_ptr<Recorder> owner;
  uint32_t heapAtStart = 0;
  BenBrowser browser{};
  UrlTaskContext* urlTask = nullptr;
  UrlSession* session = nullptr;
  WmlsScriptTask* task = nullptr;
};

TEST_F(WmlsScriptTaskTest, AScriptSetsAVariableAndRecordsItsNavigation) {
  Post("qortest://h/s/task.wmlsc#setAndGo('a%20b')");
  Pump();
  EXPECT_EQ(Ends(), std::vector<uint32_t>{WmlsEnd::Ok});
  EXPECT_EQ(Var(u"result"), "a b");
  EXPECT_EQ(Pending(), "1:next.wml#c");
}

// Each call ends with its completion code, leaves its navigation and what
// URL.loadString gave it (the text, 414 for another type, or invalid).
struct Completion {
  const char* name;
  const char* call;
  uint32_t code;
  const char* pending;
  const char* loaded;
};

class WmlsCompletionTest : public WmlsScriptTaskTest, public ::testing::WithParamInterface<Completion> {};

TEST_P(WmlsCompletionTest, EndsWithItsCode) {
  const Completion& c = GetParam();
  Post((std::string("qortest://h/s/") + c.call).c_str());
  Pump();
  EXPECT_EQ(Ends(), std::vector<uint32_t>{c.code});
  EXPECT_EQ(Pending(), c.pending);
  EXPECT_EQ(Var(u"loaded"), c.loaded);
}

const Completion kCompletions[] = {
    {"Back", "task.wmlsc#back()", WmlsEnd::Ok, "2:", "(unset)"},
    {"Abort", "task.wmlsc#bail()", WmlsEnd::Ok, "0:", "(unset)"},
    {"AbortAfterGo", "task.wmlsc#goThenBail()", WmlsEnd::Ok, "0:", "(unset)"},
    {"ExitAfterRefresh", "task.wmlsc#quit()", WmlsEnd::Ok, "4:", "(unset)"},
    {"AbortAfterPrev", "task.wmlsc#prevThenBail()", WmlsEnd::Ok, "0:", "(unset)"},
    {"WrongArgumentCount", "task.wmlsc#back(1)", WmlsEnd::ArgCount, "0:", "(unset)"},
    {"MalformedArguments", "task.wmlsc#setAndGo('a)", WmlsEnd::Failed, "0:", "(unset)"},
    {"NotAScript", "text.wmlsc#main()", WmlsEnd::Failed, "0:", "(unset)"},
    {"LoadFails", "cut.wmlsc#back()", WmlsEnd::Failed, "0:", "(unset)"},
    {"ServerError", "gone.wmlsc#back()", WmlsEnd::Failed, "0:", "(unset)"},
    {"NoSuchFunction", "task.wmlsc#nothing()", WmlsEnd::Failed, "0:", "(unset)"},
    {"CallDepth", "task.wmlsc#deep(0)", WmlsEnd::Failed, "0:", "(unset)"},
    {"LoadAnyText", "task.wmlsc#load('hello.txt', 'text/*')", WmlsEnd::Ok, "0:", "h\xe9llo"},
    {"LoadOtherType", "task.wmlsc#load('hello.txt', 'text/vnd.wap.wml')", WmlsEnd::Ok, "0:", "414"},
    {"LoadPlainText", "task.wmlsc#load('plain.txt', 'text/plain')", WmlsEnd::Ok, "0:", "plain"},
    {"LoadPlainAsHtml", "task.wmlsc#load('plain.txt', 'text/html')", WmlsEnd::Ok, "0:", "414"},
    {"LoadCut", "task.wmlsc#load('cut.txt', 'text/*')", WmlsEnd::Ok, "0:", "invalid"},
    {"LoadHttpStatus", "task.wmlsc#load('gone.txt', 'text/*')", WmlsEnd::Ok, "0:", "404"},
    {"NoUnitThere", "none.wmlsc#back()", WmlsEnd::Failed, "0:", "(unset)"},
    {"LoadNotText", "task.wmlsc#load('hello.txt', 'image/png')", WmlsEnd::Ok, "0:", "invalid"},
    // A text that passes for a URL but names port 99999 stops the script as invalid.
    {"UnparsableUrl", "task.wmlsc#badPort()", WmlsEnd::Failed, "0:", "(unset)"},
};
INSTANTIATE_TEST_SUITE_P(Ends, WmlsCompletionTest, ::testing::ValuesIn(kCompletions),
                         [](const auto& i) { return std::string(i.param.name); });

// Calls into another unit run nested: the arguments arrive as they were (a
// quote or a percent sign in a string cannot change the call), the value
// comes back, and a failure in the nested run ends the whole script.
struct NestedRow {
  const char* name;
  const char* call;
  uint32_t code;
  const char* pending;
  const char16_t* variable;
  const char* value;
};

class WmlsNestedTest : public WmlsScriptTaskTest, public ::testing::WithParamInterface<NestedRow> {};

TEST_P(WmlsNestedTest, RunsTheOtherUnit) {
  const NestedRow& row = GetParam();
  Post((std::string("qortest://h/s/nest.wmlsc#") + row.call).c_str());
  Pump();
  EXPECT_EQ(Ends(), std::vector<uint32_t>{row.code});
  EXPECT_EQ(Pending(), row.pending);
  EXPECT_EQ(Var(row.variable), row.value);
}

const NestedRow kNested[] = {
    {"QuotesAndPercentSigns", "relay('it%27s 100%25, \"ok\")', 7)", WmlsEnd::Ok, "1:done.wml", u"relayed",
     "it's 100%, \"ok\")|2|7|0|true|false|nest.wmlsc"},
    {"ThroughThreeUnits", "deep(3)", WmlsEnd::Ok, "0:", u"deep", "bottom<<<"},
    {"WithoutEnd", "deep(100000)", WmlsEnd::Failed, "0:", u"deep", "(unset)"},
    {"AbortInside", "bails()", WmlsEnd::Ok, "0:", u"after", "(unset)"},
    {"NoSuchFunction", "missing()", WmlsEnd::Failed, "0:", u"after", "(unset)"},
    // An unset variable arrives as the empty string.
    {"UnsetArgument", "unsetArg()", WmlsEnd::Ok, "0:", u"relayed", "|2|1|0|true|false|nest.wmlsc"},
};
INSTANTIATE_TEST_SUITE_P(Calls, WmlsNestedTest, ::testing::ValuesIn(kNested),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(WmlsScriptTaskTest, AnErrorWhosePopupCannotOpenEndsWithOne) {
  TskmanFailNextCreate(Mod::Popup);
  Post("qortest://h/s/task.wmlsc#nothing()");
  Pump();
  EXPECT_EQ(Ends(), std::vector<uint32_t>{WmlsEnd::NoMemory});
}

TEST_F(WmlsScriptTaskTest, AUnitFromTheCacheRunsAsAFetchedOne) {
  Post("qorcache://h/s/task.wmlsc#setAndGo('first')");
  Pump();
  const int starts = driver.starts;
  Post("qorcache://h/s/task.wmlsc#setAndGo('second')");
  Pump();
  EXPECT_EQ(driver.starts, starts);
  EXPECT_EQ(Ends(), (std::vector<uint32_t>{WmlsEnd::Ok, WmlsEnd::Ok}));
  EXPECT_EQ(Var(u"result"), "second");
  CacheClear();
}

TEST_F(WmlsScriptTaskTest, AnAbortInTheMiddleOfASliceEndsOnceAndTheTaskGoesOn) {
  Post("qortest://h/s/task.wmlsc#forever()");
  RunIntoSlices();
  TskmanPost(WmlsScriptTaskOf(task), WmlsMsg::Abort, 0, 0);
  Pump();
  EXPECT_EQ(Ends(), std::vector<uint32_t>{WmlsEnd::Ok});
  Post("qortest://h/s/task.wmlsc#setAndGo('next')");
  Pump();
  EXPECT_EQ(Ends(), (std::vector<uint32_t>{WmlsEnd::Ok, WmlsEnd::Ok}));
  EXPECT_EQ(Var(u"result"), "next");
}

TEST_F(WmlsScriptTaskTest, ARelativeScriptResolvesAgainstTheReferringDeck) {
  UrlRequestRec* deck = Referring("qortest://h/app/deck.wml");
  Post("s/page.wmlsc#where()", deck);
  Pump();
  EXPECT_EQ(Ends(), std::vector<uint32_t>{WmlsEnd::Ok});
  EXPECT_EQ(Var(u"base"), "qortest://h/app/s/page.wmlsc");
  EXPECT_EQ(Var(u"referer"), "../deck.wml");
  UrlRequestDone(session, deck);
  // The unit's access pragmas refuse another deck, and a run without one.
  deck = Referring("qortest://h/other/deck.wml");
  Post("qortest://h/app/s/page.wmlsc#where()", deck);
  Pump();
  UrlRequestDone(session, deck);
  Post("qortest://h/app/s/page.wmlsc#where()");
  Pump();
  EXPECT_EQ(Ends(), (std::vector<uint32_t>{WmlsEnd::Ok, WmlsEnd::Failed, WmlsEnd::Failed}));
}

TEST_F(WmlsScriptTaskTest, AReferringPageFinishedBeforeTheRunStartsIsLeftAlone) {
  UrlRequestRec* deck = Referring("qortest://h/app/deck.wml");
  Post("qortest://h/s/task.wmlsc#setAndGo('alone')", deck);
  UrlRequestDone(session, deck);
  Pump();
  EXPECT_EQ(Ends(), std::vector<uint32_t>{WmlsEnd::Ok});
  EXPECT_EQ(Var(u"result"), "alone");
}

TEST_F(WmlsScriptTaskTest, TwoScriptsPostedTogetherLeaveTheSecondsWork) {
  Post("qortest://h/s/task.wmlsc#count(5)");
  Post("qortest://h/s/task.wmlsc#setAndGo('second')");
  Pump();
  EXPECT_EQ(Ends(), (std::vector<uint32_t>{WmlsEnd::Ok, WmlsEnd::Ok}));
  EXPECT_EQ(Var(u"count"), "(unset)");
  EXPECT_EQ(Var(u"result"), "second");
  EXPECT_EQ(Pending(), "1:next.wml#c");
}

TEST_F(WmlsScriptTaskTest, StopInTheMiddleDeletesTheTaskSilently) {
  Post("qortest://h/s/task.wmlsc#count(100000)");
  RunIntoSlices();
  TskmanPost(WmlsScriptTaskOf(task), WmlsMsg::Stop, 0, 0);
  task = nullptr;
  Pump();
  EXPECT_TRUE(Ends().empty());
  EXPECT_EQ(TskmanFind(Mod::WmlsExec), nullptr);
}

TEST_F(WmlsScriptTaskTest, ASecondScriptEndsTheFirst) {
  Post("qortest://h/s/task.wmlsc#count(100000)");
  RunIntoSlices();
  Post("qortest://h/s/task.wmlsc#setAndGo('second')");
  Pump();
  EXPECT_EQ(Ends(), (std::vector<uint32_t>{WmlsEnd::Ok, WmlsEnd::Ok}));
  EXPECT_EQ(Var(u"count"), "(unset)");
  EXPECT_EQ(Var(u"result"), "second");
}

// A fetch that cannot start: the owner hears the request's own result.
TEST_F(WmlsScriptTaskTest, AFetchThatCannotStartEndsWithItsResult) {
  Post("nosuch://h/s/task.wmlsc#back()");
  Pump();
  EXPECT_EQ(Ends(), std::vector<uint32_t>{kUrlNoScheme});
  Post("qortest://h/s/task.wmlsc#back()");
  Pump();
  EXPECT_EQ(Ends(), (std::vector<uint32_t>{kUrlNoScheme, WmlsEnd::Ok}));
}

// A telephony answer nothing asked for (or that an ended run's request left)
// is dropped: the run waiting on its fetch still gets the fetched text.
TEST_F(WmlsScriptTaskTest, AStrayTelephonyAnswerLeavesAFetchWaiting) {
  Post("qortest://h/s/task.wmlsc#load('slow.txt', 'text/plain')");
  for (int i = 0; i < 10000 && driver.closes == 0; ++i) Step();
  ASSERT_EQ(driver.closes, 1);
  Step();
  ASSERT_EQ(Var(u"loaded"), "(unset)");
  TskmanPost(WmlsScriptTaskOf(task), BenMsg::Answer, 0, reinterpret_cast<uintptr_t>(LibcWStrDup(u"STALE")));
  Pump();
  EXPECT_EQ(Ends(), std::vector<uint32_t>{WmlsEnd::Ok});
  EXPECT_EQ(Var(u"loaded"), "the real body");
}

// The compiled-script row collects a load's blocks and leaves the parsed
// unit on it as the one parsed object {kind 1, unit}; bytes that form no
// unit fail the load with the parser's code and leave nothing.
struct UnitLoadRow {
  const char* path;
  bool unit;
};

class WmlsUnitLoadTest : public WmlsScriptTaskTest, public ::testing::WithParamInterface<UnitLoadRow> {};

TEST_P(WmlsUnitLoadTest, TheLoadCarriesTheParsedUnit) {
  UrlRequestRec* r = nullptr;
  ASSERT_EQ(UrlRequest(session, (std::string("qortest://h") + GetParam().path).c_str(), 0, nullptr, &r, 0,
                       owner->task(), 0),
            kOk);
  Pump();
  UrlLoad* load = UrlRequestLoad(r);
  EXPECT_NE(load->events & UrlEvent::Complete, 0u);
  EXPECT_EQ(load->handlerState, nullptr);
  if (GetParam().unit) {
    EXPECT_EQ(owner->Count(UrlMsg::Complete), 1u);
    ASSERT_NE(load->output.head, nullptr);
    EXPECT_EQ(load->output.head->next, nullptr);
    const auto* parsed = reinterpret_cast<const WmlsParsedObject*>(load->output.head);
    EXPECT_EQ(parsed->kind, WmlsObject::Unit);
    ASSERT_EQ(WmlsUnitOfLoad(load), parsed->unit);
    EXPECT_GE(WmlsFindFunction(parsed->unit, u"setAndGo"), 0);
  } else {
    EXPECT_EQ(owner->Count(UrlMsg::Complete), 0u);
    ASSERT_EQ(owner->Count(UrlMsg::Failed), 1u);
    for (const Received& m : owner->log) {
      if (m.message == UrlMsg::Failed) {
        EXPECT_EQ(m.arg2, WmlsErr::Failed);
      }
    }
    EXPECT_EQ(load->output.head, nullptr);
    EXPECT_EQ(WmlsUnitOfLoad(load), nullptr);
  }
  UrlRequestDone(session, r);
}

const UnitLoadRow kUnitLoads[] = {
    {"/s/task.wmlsc", true},  {"/s/bytewise.wmlsc", true}, {"/s/v2.wmlsc", false},
    {"/s/short.wmlsc", false}, {"/s/header.wmlsc", false},
};
INSTANTIATE_TEST_SUITE_P(Loads, WmlsUnitLoadTest, ::testing::ValuesIn(kUnitLoads),
                         [](const auto& i) {
                           std::string name;
                           for (const char* p = i.param.path + 3; *p && *p != '.'; ++p) name += *p;
                           return name;
                         });

// A unit that arrives a byte at a time runs as one that arrives whole.
TEST_F(WmlsScriptTaskTest, AUnitInManyBlocksRuns) {
  Post("qortest://h/s/bytewise.wmlsc#setAndGo('blocks')");
  Pump();
  EXPECT_EQ(Ends(), std::vector<uint32_t>{WmlsEnd::Ok});
  EXPECT_EQ(Var(u"result"), "blocks");
  Post("qortest://h/s/v2.wmlsc#setAndGo('v2')");
  Pump();
  EXPECT_EQ(Ends(), (std::vector<uint32_t>{WmlsEnd::Ok, WmlsEnd::Failed}));
}

// Units the loader refuses, as a script's unit: the load fails with the
// collector's one code, and the script ends with the invalid-script popup
// and 0x8003, never as want of memory, however much the unit claims. Only a
// unit that holds more than the whole memory ends for want of it (1), with
// the same code. Most are wmlsc's units spoiled at one place. Some run with
// only `heapLeft` bytes of the heap free, in holes (0: all of it).
struct RefusedRow {
  const char* name;
  std::vector<uint8_t> (*body)();
  uint32_t end;
  uint32_t heapLeft = 0;
};
void PrintTo(const RefusedRow& row, std::ostream* os) { *os << row.name; }

std::vector<uint8_t> Spoiled(void (*spoil)(WmlsUnitSplit&)) {
  WmlsUnitSplit s = WmlsUnitSplit::Of(WmlsReadUnit("task"));
  spoil(s);
  return s.Join();
}

// A good unit written by hand, then spoiled.
std::vector<uint8_t> Built(void (*spoil)(WmlsUnitBuilder&)) {
  WmlsUnitBuilder b;
  b.Utf8("d").Function(0, 0, {0x15, 0x3A});
  b.names = {{0, "f"}};
  spoil(b);
  return b.Build();
}

// A header claiming `size` bytes, then task.wmlsc's body.
std::vector<uint8_t> Claiming(uint32_t size) {
  const std::vector<uint8_t> unit = WmlsReadUnit("task");
  size_t at = 1;
  WmlsReadMbUInt(unit, at);
  std::vector<uint8_t> out{1};
  WmlsMbUInt(out, size);
  out.insert(out.end(), unit.begin() + static_cast<long>(at), unit.end());
  return out;
}

const RefusedRow kRefused[] = {
    {"Version2", [] { return Spoiled([](WmlsUnitSplit& s) { s.version = 2; }); }, WmlsEnd::Failed},
    {"NoBytes", [] { return std::vector<uint8_t>{}; }, WmlsEnd::Failed},
    {"HeaderCut", [] { return std::vector<uint8_t>{1}; }, WmlsEnd::Failed},
    {"SizeZero", [] { return std::vector<uint8_t>{1, 0}; }, WmlsEnd::Failed},
    {"SizeNeverEnds", [] { return std::vector<uint8_t>{1, 0x90, 0x80, 0x80, 0x80, 0x80, 1}; },
     WmlsEnd::Failed},
    {"ShorterThanItsHeaderSays",
     [] {
       std::vector<uint8_t> u = WmlsReadUnit("task");
       u.resize(u.size() - 3);
       return u;
     },
     WmlsEnd::Failed},
    {"ClaimsMoreThanAnyMemory", [] { return Claiming(0x0FFFFFF0u); }, WmlsEnd::Failed},
    {"TextClaimsMoreThanTheUnit", [] { return WmlsClaimText(WmlsReadUnit("task"), 0x7FFFFFFEu); },
     WmlsEnd::Failed},
    {"CharsetTextClaimsMoreThanTheUnit",
     [] { return WmlsClaimText(WmlsReadUnit("task"), 0x7FFFFFFDu, 6); }, WmlsEnd::Failed},
    {"ConstantType7", [] { return Spoiled([](WmlsUnitSplit& s) { s.rest[0] = 7; }); }, WmlsEnd::Failed},
    {"MoreConstantsThanBytes", [] { return Spoiled([](WmlsUnitSplit& s) { s.count = 5000; }); },
     WmlsEnd::Failed},
    {"PragmaType4",
     [] {
       return Built([](WmlsUnitBuilder& b) {
         b.pragmaCount = 1;
         b.pragmas = {4, 0};
       });
     },
     WmlsEnd::Failed},
    {"MoreNamesThanFunctions",
     [] { return Built([](WmlsUnitBuilder& b) { b.names = {{0, "a"}, {0, "b"}}; }); },
     WmlsEnd::Failed},
    {"FunctionLongerThanTheUnit",
     [] {
       std::vector<uint8_t> u = Built([](WmlsUnitBuilder&) {});
       u[u.size() - 3] = 3;  // the function's size claims more than remains
       return u;
     },
     WmlsEnd::Failed},
    // 255 functions, all named, and no byte of them: what the names would
    // take is never asked of a heap too small for it.
    {"NamesClaimedBeyondTheUnitWithLittleMemory",
     [] { return std::vector<uint8_t>{1, 5, 0, 0x6A, 0, 0xFF, 0xFF}; }, WmlsEnd::Failed, 64 * 1024},
    // Refused by its first byte, however much it holds.
    {"Version2HoldingMoreThanTheWholeMemory",
     [] {
       WmlsUnitBuilder b;
       b.Utf8(std::string(3u << 20, 'x')).Function(0, 0, {0x15, 0x3A});
       std::vector<uint8_t> u = b.Build();
       u[0] = 2;
       return u;
     },
     WmlsEnd::Failed},
    // Every byte of it comes: only memory keeps it.
    {"HoldsMoreThanTheWholeMemory",
     [] {
       WmlsUnitBuilder b;
       b.Utf8(std::string(3u << 20, 'x')).Function(0, 0, {0x15, 0x3A});
       return b.Build();
     },
     WmlsEnd::NoMemory},
};

class WmlsRefusedUnitTest : public WmlsScriptTaskTest, public ::testing::WithParamInterface<RefusedRow> {
 protected:
  static void Observe(const TskmanTask* task, uint32_t message, uintptr_t, uintptr_t arg2) {
    if (task->id == Mod::WmlsExec && message == UrlMsg::Failed) failures.push_back(static_cast<Result>(arg2));
  }
  static inline std::vector<Result> failures;
};

TEST_P(WmlsRefusedUnitTest, EndsAsTheLoaderSays) {
  const std::vector<uint8_t> unit = GetParam().body();
  FetchBody body;
  body.body.assign(unit.begin(), unit.end());
  body.blockSize = 4096;
  body.contentType = "application/vnd.wap.wmlscriptc";
  driver.Serve("/s/refused.wmlsc", body);
  failures.clear();
  std::vector<void*> eaten;
  if (GetParam().heapLeft) eaten = EatHeap(GetParam().heapLeft);
  TskmanSetObserver(Observe);
  Post("qortest://h/s/refused.wmlsc#setAndGo('x')");
  Pump();
  TskmanSetObserver(nullptr);
  for (void* p : eaten) MemFree(&p);
  EXPECT_EQ(failures, std::vector<Result>{0x80230001u});
  EXPECT_EQ(Ends(), std::vector<uint32_t>{GetParam().end});
}

INSTANTIATE_TEST_SUITE_P(Units, WmlsRefusedUnitTest, ::testing::ValuesIn(kRefused),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace

// A compiled unit kept in the cache carries its parsed unit, not its bytes:
// fetching its URL as text, or running a unit whose bytes were fetched as
// text before, each gets a load of its own kind.
TEST_F(WmlsScriptTaskTest, AUnitsUrlLoadedAsTextWhileItRuns) {
  Post("qorcache://h/s/task.wmlsc#loadLength('task.wmlsc', 'text/*')");
  Pump();
  EXPECT_EQ(Ends(), std::vector<uint32_t>{WmlsEnd::Ok});
  // The unit's bytes, read as text.
  const std::string length = Var(u"length");
  EXPECT_GT(std::atoi(length.c_str()), 8) << length;
  CacheClear();
}

TEST_F(WmlsScriptTaskTest, AUnitFetchedAsTextBeforeStillRuns) {
  Post("qortest://h/s/task.wmlsc#load('qorcache://h/s/bytewise.wmlsc', 'text/*')");
  Pump();
  ASSERT_EQ(Ends(), std::vector<uint32_t>{WmlsEnd::Ok});
  Post("qorcache://h/s/bytewise.wmlsc#setAndGo('after text')");
  Pump();
  EXPECT_EQ(Ends(), (std::vector<uint32_t>{WmlsEnd::Ok, WmlsEnd::Ok}));
  EXPECT_EQ(Var(u"result"), "after text");
  CacheClear();
}

// A request for a cached unit when memory is short: room made for the
// request itself must not come from freeing the very load it is to name.
TEST_F(WmlsScriptTaskTest, ACachedUnitAskedForWhenMemoryIsShortStaysWhole) {
  // A short address, so that its name needs less room than a request.
  FetchBody body;
  const std::vector<uint8_t> unit = WmlsReadUnit("task");
  body.body.assign(unit.begin(), unit.end());
  body.contentType = "application/vnd.wap.wmlscriptc";
  driver.Serve("/u", body);
  Post("qorcache://h/u#setAndGo('first')");
  Pump();
  ASSERT_EQ(Ends(), std::vector<uint32_t>{WmlsEnd::Ok});
  ASSERT_EQ(CacheCount(), 1u);
  // The arena full, then holes everywhere too small for a request record.
  std::vector<void*> filler;
  const uint32_t hole = sizeof(UrlRequestRec) - 8;
  while (void* p = HeapBlockAlloc(hole)) filler.push_back(p);
  std::vector<void*> tail;
  for (uint32_t n = hole; n > 0; n /= 2)
    while (void* p = HeapBlockAlloc(n)) tail.push_back(p);
  // Every other block in address order, so that no two holes touch.
  std::sort(filler.begin(), filler.end());
  for (size_t i = 0; i < filler.size(); i += 2) {
    if (HeapBlockSizeOf(filler[i]) != HeapNeed(hole)) continue;
    HeapBlockFree(filler[i]);
    filler[i] = nullptr;
  }
  UrlRequestRec* r = nullptr;
  const Result made = UrlRequest(session, "qorcache://h/u", 0, nullptr, &r, 0, owner->task(), 0);
  for (void* p : filler)
    if (p) HeapBlockFree(p);
  for (void* p : tail) HeapBlockFree(p);
  ASSERT_EQ(made, kOk);
  Pump();
  EXPECT_NE(WmlsUnitOfLoad(UrlRequestLoad(r)), nullptr);
  UrlRequestDone(session, r);
  CacheClear();
}
