// Runs started from call texts "name(arguments)" on units compiled by
// Kannel's wmlsc (tests/data/wmls/call.wmls, guarded.wmls): argument kinds
// and escapes, malformed texts, unknown functions, counts, the access
// pragmas, a run over many slices, argument lists on a nearly full heap; the
// heap is whole after each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/heap.h"
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_task.h"
#include "services/wtai/wtai.h"
#include "tests/services/wmls_harness.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/recorder.h"

namespace {

struct Case {
  const char* name;
  const char* file;
  const char16_t* call;
  const char* referrer;
  const char* expected;  // the value, or "result N" when the start fails
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class WmlsCallTest : public HeapFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(WmlsCallTest, StartsAndRuns) {
  const Case& c = GetParam();
  const uint32_t before = HeapGetStats().freeBytes;
  const std::vector<uint8_t> bytes = WmlsReadUnit(c.file);
  WmlsUnit* unit = nullptr;
  ASSERT_EQ(WmlsUnitParse(bytes.data(), static_cast<uint32_t>(bytes.size()), &unit), WmlsParse::Ok);
  WmlsRunContext ctx;
  int32_t r = WmlsRunCall(&ctx, unit, c.call, c.referrer, "http://b.com/app/s/x.wmls", nullptr);
  uint32_t slices = 0;
  for (; r == 0 && ctx.status == 0 && slices < 1000; ++slices) r = WmlsRunSlice(&ctx, kWmlsSliceSteps);
  const std::string got = r == 0 && ctx.top >= 0 ? WmlsDescribe(ctx.stack[ctx.top]) : "result " + std::to_string(r);
  EXPECT_EQ(got, c.expected);
  WmlsRunRelease(&ctx);
  WmlsUnitFree(&unit);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

const Case kCases[] = {
    {"NoArguments", "call", u"main()", nullptr, "s:main"},
    {"BlankList", "call", u"main( \t)", nullptr, "s:main"},
    {"BlanksAroundTheName", "call", u" main ()", nullptr, "s:main"},
    {"NoParenthesis", "call", u"main", nullptr, "result -1005"},
    {"Kinds", "call", u"three('a%41', 3, true)", nullptr, "s:2:aA|0:3|3:true"},
    {"DoubleQuotesKeepCommas", "call", u"three(\"x,y\" ,-7,false)", nullptr, "s:2:x,y|0:-7|3:false"},
    {"EscapedQuoteAndPercent", "call", u"one('%27%25%2c')", nullptr, "s:2:'%,"},
    {"LowerCaseHex", "call", u"one('%c3')", nullptr, "s:2:\\u00C3"},
    {"PercentNotHex", "call", u"one('%zz%4')", nullptr, "s:2:%zz%4"},
    {"OtherQuoteInside", "call", u"one(\"it's\")", nullptr, "s:2:it's"},
    {"FloatIsInvalid", "call", u"one(1.5)", nullptr, "invalid"},
    {"InvalidWord", "call", u"one(invalid)", nullptr, "invalid"},
    {"NotANumberIsZero", "call", u"one(abc)", nullptr, "s:0:0"},
    {"EmptyArgumentsAreZero", "call", u"three(1,, )", nullptr, "s:0:1|0:0|0:0"},
    {"Overflow", "call", u"one(99999999999)", nullptr, "invalid"},
    {"UnclosedQuote", "call", u"one('a)", nullptr, "result -1005"},
    {"NoClosingParenthesis", "call", u"one(1", nullptr, "result -1005"},
    {"JunkAfterArgument", "call", u"one('a' 'b')", nullptr, "result -1005"},
    {"TooManyArguments", "call", u"one(1,2)", nullptr, "result -1006"},
    {"TooFewArguments", "call", u"three(1)", nullptr, "result -1006"},
    {"EmptyListForOne", "call", u"one()", nullptr, "result -1006"},
    {"UnknownFunction", "call", u"nope()", nullptr, "result -1001"},
    {"LocalFunctionIsNotCallable", "call", u"hidden()", nullptr, "result -1001"},
    {"ManySlices", "call", u"loop(1000)", nullptr, "i:1000"},
    {"AccessAdmitted", "guarded", u"main()", "http://b.com/app/page.wml", "s:in"},
    {"AccessSubdomain", "guarded", u"main()", "http://www.b.com/app/x/y.wml", "s:in"},
    {"AccessLookalikeHost", "guarded", u"main()", "http://b.com.evil.org/app/x", "result -1002"},
    {"AccessUrlInQuery", "guarded", u"main()", "http://evil.org/p?u=http://b.com/app", "result -1002"},
    {"AccessPathPrefixOfSegment", "guarded", u"main()", "http://b.com/application", "result -1002"},
    {"AccessUserPartIsNotTheHost", "guarded", u"main()", "http://b.com@evil.org/app/x", "result -1002"},
    {"AccessPortIgnored", "guarded", u"main()", "http://b.com:8080/app", "s:in"},
    {"AccessPathInTheMiddle", "guarded", u"main()", "http://b.com/x/app/y", "result -1002"},
    {"AccessNoReferrer", "guarded", u"main()", nullptr, "result -1002"},
};
INSTANTIATE_TEST_SUITE_P(Call, WmlsCallTest, ::testing::ValuesIn(kCases),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace

namespace {

// Takes the heap's room in blocks until no piece of more than about `spare`
// bytes is left; the caller gives the blocks back.
std::vector<void*> FillHeap(uint32_t spare) {
  std::vector<void*> blocks;
  for (HeapStats s = HeapGetStats(); s.largestFree > spare + 32; s = HeapGetStats()) {
    void* block = HeapBlockAlloc(s.largestFree - spare - 32);
    if (!block) break;
    blocks.push_back(block);
  }
  return blocks;
}

using WmlsCallMemoryTest = HeapFixture;

// With the heap nearly full at every level of spare room, an argument list
// that cannot grow gives up without keeping any of the argument texts.
TEST_F(WmlsCallMemoryTest, ArgumentListsThatRunOutOfMemoryLeaveNothing) {
  const std::vector<uint8_t> bytes = WmlsReadUnit("call");
  WmlsUnit* unit = nullptr;
  ASSERT_EQ(WmlsUnitParse(bytes.data(), static_cast<uint32_t>(bytes.size()), &unit), WmlsParse::Ok);
  int outOfMemory = 0;
  for (uint32_t spare = 0; spare < 1024; spare += 8) {
    const uint32_t before = HeapGetStats().freeBytes;
    const std::vector<void*> ballast = FillHeap(spare);
    WmlsRunContext ctx;
    const int32_t r = WmlsRunCall(&ctx, unit, u"nope('a', 'b', 'c', 'd', 'e', 'f')", nullptr, nullptr, nullptr);
    outOfMemory += r == WmlsResult::NoMemory;
    EXPECT_TRUE(r == WmlsResult::NoMemory || r == WmlsResult::NoFunction) << r;
    for (void* b : ballast) HeapBlockFree(b);
    EXPECT_EQ(HeapGetStats().freeBytes, before) << spare;
  }
  EXPECT_GT(outOfMemory, 0);
  WmlsUnitFree(&unit);
}

class WmlsWaitMemoryTest : public EngineFixture {};

// A call that waits for an answer leaves its cell on the stack for the
// answer to replace. With the heap nearly full at every level of spare room,
// a call whose cell cannot be pushed ends the run for memory rather than
// leaving it waiting with nothing to put the answer in.
// Either way a request that was made stays marked as owed to the run, so
// that the script task cancels it when the run ends without its answer.
TEST_F(WmlsWaitMemoryTest, AWaitingCallAlwaysLeavesItsCell) {
  Recorder answers(Mod::TestHarness);
  Pump();
  WmlsTaskContext task{};
  task.self = answers.task();
  task.referringClass = kWmlsWtaDeckClass;
  // WTAMisc.endContext() as the first instruction: the stack is still empty.
  WmlsUnitBuilder b;
  b.Function(0, 0, {0x0B, 0x01, 0x02, 0x04, 0x3A});
  const std::vector<uint8_t> bytes = b.Build();
  WmlsUnit* unit = nullptr;
  ASSERT_EQ(WmlsUnitParse(bytes.data(), static_cast<uint32_t>(bytes.size()), &unit), WmlsParse::Ok);
  int outOfMemory = 0, waiting = 0, askedThenOut = 0;
  for (uint32_t spare = 0; spare < 1024; spare += 8) {
    const uint32_t before = HeapGetStats().freeBytes;
    task.telephonyPending = 0;
    answers.log.clear();
    const std::vector<void*> ballast = FillHeap(spare);
    WmlsRunContext ctx;
    int32_t r = WmlsRunStart(&ctx, unit, 0, nullptr, 0);
    ctx.scriptTask = &task;
    if (r == 0) r = WmlsRunSlice(&ctx, kWmlsSliceSteps);
    if (r == WmlsResult::Suspended) {
      ++waiting;
      EXPECT_EQ(ctx.resumeKind, 5) << spare;
      EXPECT_GE(ctx.top, 0) << spare;
    } else {
      ++outOfMemory;
      EXPECT_EQ(r, WmlsResult::NoMemory) << spare;
      EXPECT_EQ(ctx.suspended, 0) << spare;
    }
    WmlsRunRelease(&ctx);
    for (void* block : ballast) HeapBlockFree(block);
    Pump();
    const bool asked = answers.Count(WtaiMsg::Answer) > 0;
    EXPECT_EQ(task.telephonyPending, asked ? 1u : 0u) << spare;
    askedThenOut += asked && r == WmlsResult::NoMemory;
    EXPECT_EQ(HeapGetStats().freeBytes, before) << spare;
  }
  EXPECT_GT(outOfMemory, 0);
  EXPECT_GT(waiting, 0);
  EXPECT_GT(askedThenOut, 0);
  WmlsUnitFree(&unit);
}

}  // namespace
