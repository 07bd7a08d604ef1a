// Units written by hand for the instructions and constant kinds wmlsc never
// writes, malformed units refused cleanly, the collector over blocks of any
// size, the access check, and the cell and conversion rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_internal.h"
#include "tests/services/wmls_harness.h"
#include "tests/support/engine_fixture.h"

namespace {

class WmlsUnitTest : public HeapFixture {
 protected:
  void SetUp() override {
    HeapFixture::SetUp();
    before_ = HeapGetStats().freeBytes;
  }
  void TearDown() override { EXPECT_EQ(HeapGetStats().freeBytes, before_); }

  int32_t Parse(const std::vector<uint8_t>& bytes, WmlsUnit** unit) {
    return WmlsUnitParse(bytes.data(), static_cast<uint32_t>(bytes.size()), unit);
  }
  // Runs function `fn` of a hand-built unit with no arguments.
  std::string Run(const WmlsUnitBuilder& b, int fn = 0, uint32_t slices = 1000) {
    WmlsUnit* unit = nullptr;
    if (Parse(b.Build(), &unit) != WmlsParse::Ok) return "refused";
    const WmlsOutcome o = WmlsRunUnit(unit, "#" + std::to_string(fn), {}, slices);
    WmlsUnitFree(&unit);
    return o.value;
  }

 private:
  uint32_t before_ = 0;
};

struct CodeCase {
  const char* name;
  std::vector<uint8_t> code;
  const char* expected;
};
void PrintTo(const CodeCase& c, std::ostream* os) { *os << c.name; }

class WmlsCodeTest : public WmlsUnitTest, public ::testing::WithParamInterface<CodeCase> {};

// Constants 0: 7, 1: "ab", 2: float, then 17 more integers so that a wide
// constant index exists; function 0 runs the code with 2 locals, function 1
// takes two arguments and gives their difference.
TEST_P(WmlsCodeTest, RunsToTheValue) {
  WmlsUnitBuilder b;
  b.Int(7).Utf8("ab").Raw({3, 0x3F, 0xC0, 0, 0});
  for (int i = 3; i < 300; ++i) b.Int(i * 10);
  b.Function(0, 2, GetParam().code);
  b.Function(2, 0, {0xE0, 0xE1, 0x21, 0x3A});
  EXPECT_EQ(Run(b), GetParam().expected);
}

const CodeCase kCodes[] = {
    {"LoadConstWide", {0x13, 0x01, 0x2B, 0x3A}, "i:2990"},
    {"LoadConstByte", {0x12, 0x01, 0x3A}, "s:ab"},
    {"FloatConstantIsInvalid", {0x12, 0x02, 0x3A}, "invalid"},
    {"ConstMinusOne", {0x16, 0x3A}, "i:-1"},
    {"ConstEmptyString", {0x17, 0x3A}, "s:"},
    {"ReturnEmptyString", {0x15, 0x3B}, "s:"},
    {"Debug", {0x3C, 0x15, 0x3A}, "i:1"},
    {"JumpForwardWide", {0x02, 0x00, 0x02, 0x14, 0x3A, 0x15, 0x3A}, "i:1"},
    // while (v < 50) v++; the loop closed by JUMP_BW_W back to 2.
    {"JumpBackWide",
     {0x14, 0x40, 0xE0, 0x55, 0x2F, 0xC4, 0x70, 0x04, 0x00, 0x05, 0xE0, 0x3A},
     "i:50"},
    // do v++; while (v <= 50): conditional backward jumps count from their
    // own start, back to the INCR_VAR_S at 2.
    {"TJumpBackFromStart", {0x14, 0x40, 0x70, 0xE0, 0x55, 0x31, 0x07, 0x04, 0xE0, 0x3A}, "i:51"},
    {"TJumpBackWideFromStart",
     {0x14, 0x40, 0x70, 0xE0, 0x55, 0x31, 0x08, 0x00, 0x04, 0xE0, 0x3A},
     "i:51"},
    {"TJumpForwardWide", {0x1A, 0x06, 0x00, 0x02, 0x14, 0x3A, 0x15, 0x3A}, "i:1"},
    {"CallWide", {0x55, 0x15, 0x09, 0x01, 0x3A}, "i:49"},
    {"CallLibWide", {0x16, 0x0B, 0x00, 0x00, 0x00, 0x3A}, "i:1"},
    {"StoreAndLoadWide", {0x55, 0x0F, 0x01, 0x0E, 0x01, 0x3A}, "i:50"},
    {"IncrDecrVarWide", {0x10, 0x00, 0x10, 0x00, 0x11, 0x01, 0xE0, 0xE1, 0x20, 0x3A}, "i:1"},
    {"IncrDecrOnStack", {0x55, 0x1B, 0x1B, 0x1C, 0x3A}, "i:51"},
    {"ToBool", {0x55, 0x36, 0x3A}, "b:true"},
    {"ToBoolInvalid", {0x18, 0x36, 0x3A}, "invalid"},
    {"FallsOffTheEnd", {0x15}, "s:"},
    // Errors end the run with the status.
    {"UndefinedOpcode3D", {0x3D}, "err:FF3D"},
    {"UndefinedOpcode7A", {0x7A}, "err:FF7A"},
    {"JumpPastTheEnd", {0x01, 0x10, 0x15, 0x3A}, "err:1005"},
    {"JumpBackBeforeStart", {0x15, 0xA5}, "err:1005"},
    {"OperandCutByTheEnd", {0x13, 0x00}, "err:1005"},
    {"OperandMissing", {0x0E}, "err:1005"},
    {"VariableOutOfRange", {0x0E, 0x02, 0x3A}, "err:1006"},
    {"ShortStoreOutOfRange", {0x15, 0x4F, 0x3B}, "err:1006"},
    {"ConstantOutOfRange", {0x13, 0x01, 0x2C, 0x3A}, "err:1008"},
    {"FunctionOutOfRange", {0x09, 0x02, 0x3A}, "err:1007"},
    // A call whose arguments are missing ends with an error, not a normal end.
    {"CallWithMissingArguments", {0x15, 0x61, 0x3A}, "err:1003"},
    {"UnknownLibrary", {0x0B, 0x00, 0x01, 0x00, 0x3A}, "err:1002"},
    {"UnknownLibraryFunction", {0x0A, 0x20, 0x00, 0x3A}, "err:1002"},
    {"LibraryArgumentsMissing", {0x68, 0x00, 0x3A}, "err:1003"},
    {"PopEmpty", {0x37, 0x3B}, "err:1003"},
    {"ReturnEmpty", {0x3A}, "err:1003"},
    {"AddEmpty", {0x15, 0x20, 0x3A}, "err:1003"},
    {"CallUrlNeedsTextConstants", {0x0C, 0x00, 0x01, 0x00, 0x3A}, "err:1001"},
    {"CallUrlConstantOutOfRange", {0x0D, 0x7F, 0x00, 0x00, 0x01, 0x00, 0x3A}, "err:1008"},
};
INSTANTIATE_TEST_SUITE_P(Code, WmlsCodeTest, ::testing::ValuesIn(kCodes));

TEST_F(WmlsUnitTest, CallsFunction200OfAUnitOf201) {
  WmlsUnitBuilder b;
  b.Function(0, 0, {0x09, 200, 0x3A});
  for (int i = 1; i < 200; ++i) b.Function(0, 0, {0x14, 0x3A});
  b.Function(0, 0, {0x16, 0x3A});
  EXPECT_EQ(Run(b), "i:-1");
}

TEST_F(WmlsUnitTest, CellsLeftBorrowingAReturnedFunctionsVariablesKeepTheirText) {
  WmlsUnitBuilder b;
  b.Utf8("abc");
  b.Function(0, 0, {0x61, 0x37, 0x3A});
  // Stores a copy of the constant, leaves two loads of the variable behind.
  b.Function(0, 1, {0x50, 0x40, 0xE0, 0xE0, 0x3A});
  EXPECT_EQ(Run(b), "s:abc");
}

TEST_F(WmlsUnitTest, ALoopWithoutEndStaysWithinItsSlicesAndFreesOnEnd) {
  WmlsUnitBuilder b;
  // Pushes a string every pass: the stack grows and is freed with the run.
  b.Utf8("x").Function(0, 0, {0x50, 0xA1});
  WmlsUnit* unit = nullptr;
  ASSERT_EQ(Parse(b.Build(), &unit), WmlsParse::Ok);
  WmlsRunContext ctx;
  const WmlsOutcome o = WmlsRunUnit(unit, "#0", {}, 50, &ctx);
  EXPECT_EQ(o.result, 0);
  EXPECT_EQ(o.slices, 50u);
  EXPECT_EQ(o.value, "running");
  EXPECT_EQ(ctx.top, 50 * static_cast<int32_t>(kWmlsSliceSteps) / 2 - 1);
  WmlsRunRelease(&ctx);
  WmlsUnitFree(&unit);
}

TEST_F(WmlsUnitTest, ExitEndsTheRunNormally) {
  WmlsUnitBuilder b;
  b.Function(0, 0, {0x15, 0x0A, 10, 0x00, 0x14, 0x3A});
  WmlsUnit* unit = nullptr;
  ASSERT_EQ(Parse(b.Build(), &unit), WmlsParse::Ok);
  const WmlsOutcome o = WmlsRunUnit(unit, "#0", {});
  EXPECT_EQ(o.result, WmlsResult::Ok);
  EXPECT_EQ(o.status, WmlsStatus::Exit);
  const WmlsOutcome a = WmlsRunUnit(unit, "#0", {"i:1"});
  EXPECT_EQ(a.result, WmlsResult::ArgCount);
  const WmlsOutcome n = WmlsRunUnit(unit, "#1", {});
  EXPECT_EQ(n.result, WmlsResult::BadCall);
  WmlsUnitFree(&unit);
}

TEST_F(WmlsUnitTest, AbortEndsTheRunAsAborted) {
  WmlsUnitBuilder b;
  b.Utf8("why").Function(0, 0, {0x50, 0x0A, 11, 0x00, 0x3B});
  WmlsUnit* unit = nullptr;
  ASSERT_EQ(Parse(b.Build(), &unit), WmlsParse::Ok);
  EXPECT_EQ(WmlsRunUnit(unit, "#0", {}).result, WmlsResult::Aborted);
  WmlsUnitFree(&unit);
}

struct CharsetCase {
  uint32_t mib;
  std::vector<uint8_t> bytes;
  const char* expected;
};
class WmlsCharsetTest : public WmlsUnitTest, public ::testing::WithParamInterface<CharsetCase> {};

TEST_P(WmlsCharsetTest, DecodesTextConstants) {
  WmlsUnitBuilder b;
  b.charset = GetParam().mib;
  std::vector<uint8_t> c{6};
  WmlsMbUInt(c, static_cast<uint32_t>(GetParam().bytes.size()));
  c.insert(c.end(), GetParam().bytes.begin(), GetParam().bytes.end());
  b.Raw(c).Function(0, 0, {0x50, 0x3A});
  EXPECT_EQ(Run(b), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Charsets, WmlsCharsetTest,
                         ::testing::Values(CharsetCase{106, {0xC3, 0xBC, 'a'}, "s:\\u00FCa"},
                                           CharsetCase{4, {0xFC, 'a'}, "s:\\u00FCa"},
                                           CharsetCase{1000, {0xFC, 'a'}, "s:\\u00FCa"},
                                           // Any other character set leaves the constant unset.
                                           CharsetCase{2, {'a'}, "unset"}));

TEST_F(WmlsUnitTest, EveryCutOfACompiledUnitIsRefused) {
  for (const char* name : {"flow", "string"}) {
    const std::vector<uint8_t> whole = WmlsReadUnit(name);
    ASSERT_FALSE(whole.empty());
    for (size_t n = 0; n < whole.size(); ++n) {
      WmlsUnit* unit = nullptr;
      std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(n));
      EXPECT_EQ(Parse(cut, &unit), WmlsParse::Refused) << name << " " << n;
      EXPECT_EQ(unit, nullptr);
      // The same cut with a header that claims only what is there.
      if (n < 3) continue;
      std::vector<uint8_t> fixed{1};
      WmlsMbUInt(fixed, static_cast<uint32_t>(n - 3));
      fixed.insert(fixed.end(), whole.begin() + 3, whole.begin() + static_cast<long>(n));
      EXPECT_EQ(Parse(fixed, &unit), WmlsParse::Refused) << name << " " << n;
    }
  }
}

TEST_F(WmlsUnitTest, RefusesBadHeadersCountsAndIndexes) {
  auto refused = [&](const std::vector<uint8_t>& bytes) {
    WmlsUnit* unit = nullptr;
    return Parse(bytes, &unit);
  };
  WmlsUnitBuilder good;
  good.Utf8("d").Function(0, 0, {0x15, 0x3A});
  std::vector<uint8_t> ok = good.Build();
  WmlsUnit* unit = nullptr;
  ASSERT_EQ(Parse(ok, &unit), WmlsParse::Ok);
  WmlsUnitFree(&unit);

  std::vector<uint8_t> v2 = ok;
  v2[0] = 2;
  EXPECT_EQ(refused(v2), WmlsParse::Refused);
  EXPECT_EQ(refused({1, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}), WmlsParse::Refused);  // size too long

  WmlsUnitBuilder badType;
  badType.Raw({7}).Function(0, 0, {0x3A});
  EXPECT_EQ(refused(badType.Build()), WmlsParse::Refused);

  // A text longer than the unit is bad bytes, not want of memory.
  WmlsUnitBuilder hugeText;
  hugeText.Raw({4, 0x87, 0xFF, 0xFF, 0xFF, 0x7F});
  EXPECT_EQ(refused(hugeText.Build()), WmlsParse::Refused);

  WmlsUnitBuilder names;
  names.Function(0, 0, {0x3A});
  names.names = {{0, "a"}, {0, "b"}};
  EXPECT_EQ(refused(names.Build()), WmlsParse::Refused);
  names.names = {{1, "a"}};
  EXPECT_EQ(refused(names.Build()), WmlsParse::Refused);

  WmlsUnitBuilder pragma = good;
  pragma.pragmaCount = 1;
  pragma.pragmas = {4, 0};
  EXPECT_EQ(refused(pragma.Build()), WmlsParse::Refused);
  pragma.pragmas = {0, 1};
  EXPECT_EQ(refused(pragma.Build()), WmlsParse::Refused);
  WmlsUnitBuilder intPragma;
  intPragma.Int(3).Function(0, 0, {0x3A});
  intPragma.pragmaCount = 1;
  intPragma.pragmas = {0, 0};
  EXPECT_EQ(refused(intPragma.Build()), WmlsParse::Refused);
  WmlsUnitBuilder many = good;
  many.constantCount = 5000;
  EXPECT_EQ(refused(many.Build()), WmlsParse::Refused);

  std::vector<uint8_t> longFn = ok;
  longFn[longFn.size() - 3] = 3;  // the function's size claims more than remains
  EXPECT_EQ(refused(longFn), WmlsParse::Refused);
}

TEST_F(WmlsUnitTest, CollectsTheSameUnitFromBlocksOfAnySize) {
  const std::vector<uint8_t> whole = WmlsReadUnit("lang");
  for (uint32_t block : {1u, 2u, 7u, 64u, 100000u}) {
    Queue input{};
    WmlsCollector* state = nullptr;
    WmlsUnit* unit = nullptr;
    Result r = kOk;
    for (size_t at = 0; at < whole.size(); at += block) {
      const uint32_t n = static_cast<uint32_t>(std::min<size_t>(block, whole.size() - at));
      ASSERT_EQ(UtilDataChunkAppend(&input, whole.data() + at, n, Mod::TestCode), kOk);
      r = WmlsCollect(&state, &input, 0, &unit);
      ASSERT_EQ(r, kOk);
      ASSERT_EQ(unit, nullptr);
    }
    r = WmlsCollect(&state, &input, 1, &unit);
    ASSERT_EQ(r, kOk) << block;
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(state, nullptr);
    EXPECT_EQ(WmlsRunUnit(unit, "randomThree", {}).value, "s:45,41,60");
    WmlsUnitFree(&unit);
  }
}

int gEvictions = 0;

// Hands the collector `size` bytes in blocks of `block`, each as it comes,
// until it (or the queue) answers anything but kOk.
Result FeedInBlocks(const uint8_t* bytes, size_t size, uint32_t block, Queue* input,
                    WmlsCollector** state, WmlsUnit** unit, bool* noMemory) {
  Result r = kOk;
  for (size_t at = 0; at < size && r == kOk; at += block) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(block, size - at));
    r = UtilDataChunkAppend(input, bytes + at, n, Mod::TestCode);
    if (r == kOk) r = WmlsCollect(state, input, 0, unit, noMemory);
  }
  return r;
}

// Bad bodies fail with the one code, none of them for want of memory (the
// last two claim more than any memory holds) and none making room for what
// it claims, whether they come whole or in blocks; a heap too full for the
// buffer fails the good unit for memory.
TEST_F(WmlsUnitTest, CollectorFailsOnBadOrCutBodies) {
  gEvictions = 0;
  MemSetEvictor([] { return ++gEvictions, 0; });
  const std::vector<uint8_t> whole = WmlsReadUnit("lang");
  std::vector<uint8_t> claims{1, 0x8F, 0xFF, 0xFF, 0xFF, 0x70};
  claims.insert(claims.end(), whole.begin() + 3, whole.end());
  const std::vector<std::vector<uint8_t>> bodies = {
      {},
      {1},
      {1, 0},                          // size 0
      {1, 0x90, 0x80, 0x80, 0x80, 0x80},  // never ends
      std::vector<uint8_t>(whole.begin(), whole.end() - 1),
      claims,
      WmlsClaimText(whole, 0x7FFFFFFEu),
  };
  for (const auto& body : bodies) {
    for (uint32_t block : {1u, 100000u}) {
      Queue input{};
      WmlsCollector* state = nullptr;
      WmlsUnit* unit = nullptr;
      bool noMemory = true;
      Result r = FeedInBlocks(body.data(), body.size(), block, &input, &state, &unit, &noMemory);
      if (r == kOk) r = WmlsCollect(&state, &input, 1, &unit, &noMemory);
      EXPECT_EQ(r, 0x80230001u) << body.size() << " " << block;
      EXPECT_FALSE(noMemory) << body.size() << " " << block;
      EXPECT_EQ(unit, nullptr);
      EXPECT_EQ(state, nullptr);
      UtilDataChunkFreeQueue(&input);
    }
  }
  MemSetEvictor(nullptr);
  EXPECT_EQ(gEvictions, 0);
  {
    Queue input{};
    ASSERT_EQ(UtilDataChunkAppend(&input, whole.data(), static_cast<uint32_t>(whole.size()), Mod::TestCode), kOk);
    std::vector<void*> eaten = EatHeap(static_cast<uint32_t>(whole.size()) / 2);
    WmlsCollector* state = nullptr;
    WmlsUnit* unit = nullptr;
    bool noMemory = false;
    EXPECT_EQ(WmlsCollect(&state, &input, 1, &unit, &noMemory), 0x80230001u);
    EXPECT_TRUE(noMemory);
    EXPECT_EQ(unit, nullptr);
    for (void* p : eaten) MemFree(&p);
    UtilDataChunkFreeQueue(&input);
  }
  // Released before it ends.
  Queue input{};
  ASSERT_EQ(UtilDataChunkAppend(&input, whole.data(), 10, Mod::TestCode), kOk);
  WmlsCollector* state = nullptr;
  WmlsUnit* unit = nullptr;
  EXPECT_EQ(WmlsCollect(&state, &input, 0, &unit), kOk);
  WmlsCollectorRelease(&state);
  EXPECT_EQ(state, nullptr);
}

// A body cut short, at any byte, is bad bytes however little memory is left
// when it ends: its header already says it is short.
TEST_F(WmlsUnitTest, ACutBodyIsRefusedWhenTheHeapIsGoneByItsEnd) {
  const std::vector<uint8_t> whole = WmlsReadUnit("lang");
  for (size_t cut = 2; cut < whole.size(); ++cut) {
    for (uint32_t block : {1u, 100000u}) {
      Queue input{};
      WmlsCollector* state = nullptr;
      WmlsUnit* unit = nullptr;
      bool noMemory = true;
      Result r = FeedInBlocks(whole.data(), cut, block, &input, &state, &unit, &noMemory);
      std::vector<void*> eaten = EatHeapFinely(0);
      if (r == kOk) r = WmlsCollect(&state, &input, 1, &unit, &noMemory);
      for (void* p : eaten) MemFree(&p);
      EXPECT_EQ(r, 0x80230001u) << cut << " " << block;
      EXPECT_FALSE(noMemory) << cut << " " << block;
      EXPECT_EQ(state, nullptr);
      UtilDataChunkFreeQueue(&input);
    }
  }
}

struct AccessCase {
  std::vector<std::pair<uint8_t, std::string>> pragmas;  // type, text
  const char* referrer;
  const char* unitUrl;
  int32_t expected;
};
class WmlsAccessTest : public WmlsUnitTest, public ::testing::WithParamInterface<AccessCase> {};

TEST_P(WmlsAccessTest, ChecksTheReferringUrl) {
  const AccessCase& c = GetParam();
  WmlsUnitBuilder b;
  for (size_t i = 0; i < c.pragmas.size(); ++i) {
    b.Utf8(c.pragmas[i].second);
    b.pragmas.push_back(c.pragmas[i].first);
    b.pragmas.push_back(static_cast<uint8_t>(i));
    if (c.pragmas[i].first == 2) b.pragmas.push_back(static_cast<uint8_t>(i));
  }
  b.pragmaCount = static_cast<uint32_t>(c.pragmas.size());
  b.Function(0, 0, {0x3B});
  WmlsUnit* unit = nullptr;
  ASSERT_EQ(Parse(b.Build(), &unit), WmlsParse::Ok);
  WmlsRunContext ctx{};
  ctx.unit = unit;
  ctx.referrer = c.referrer;
  ctx.unitUrl = c.unitUrl;
  EXPECT_EQ(WmlsCheckAccess(&ctx), c.expected);
  WmlsUnitFree(&unit);
}

INSTANTIATE_TEST_SUITE_P(
    Pragmas, WmlsAccessTest,
    ::testing::Values(
        AccessCase{{{0, "b.c"}}, "http://a.b.c/x", nullptr, 0},
        AccessCase{{{0, "b.c"}}, "http://ab.c/x", nullptr, WmlsResult::Refused},
        AccessCase{{{0, "b.c"}}, "http://b.c:8080/x", nullptr, 0},
        AccessCase{{{0, "b.c"}}, nullptr, nullptr, WmlsResult::Refused},
        AccessCase{{}, nullptr, nullptr, 0},
        AccessCase{{{2, "p"}}, nullptr, nullptr, 0},
        AccessCase{{{1, "/cgi"}}, "http://h/cgi/run?x", nullptr, 0},
        AccessCase{{{1, "cgi"}}, "http://h/cgix/run", nullptr, WmlsResult::Refused},
        AccessCase{{{1, "a/b"}}, "http://h/a/b;p", nullptr, 0},
        AccessCase{{{1, "./lib"}}, "http://h/app/lib/page", "http://h/app/s.wmlsc", 0},
        AccessCase{{{1, "../lib"}}, "http://h/lib/page", "http://h/app/s.wmlsc", 0},
        AccessCase{{{1, "./lib"}}, "http://h/lib/page", "http://h/app/s.wmlsc", WmlsResult::Refused},
        AccessCase{{{0, "b.c"}, {1, "x"}}, "http://a.b.c/y", nullptr, WmlsResult::Refused}));

TEST_F(WmlsUnitTest, ConvertsTextToIntegers) {
  struct {
    const char16_t* text;
    int32_t value;
    int32_t status;
  } cases[] = {{u" 42", 42, 0},          {u"42 ", 0, 0x1001},  {u"4a", 0, 0x1001},
               {u"", 0, 0},              {u"   ", 0, 0},       {u"+7", 7, 0},
               {u"99999999999", -1, 0x2000}, {u"-2147483647", -2147483647, 0}, {u"12-3", 12, 0}};
  for (const auto& c : cases) {
    WmlsRunContext ctx{};
    WmlsValue v{WmlsType::String, reinterpret_cast<uintptr_t>(c.text), 1};
    EXPECT_EQ(WmlsToInt(&ctx, &v), c.value);
    EXPECT_EQ(ctx.status, c.status);
  }
}

TEST_F(WmlsUnitTest, MeasuresTextAtEveryAlignmentAndLength) {
  std::vector<char16_t> buffer(200, u'x');
  for (size_t start = 0; start < 36; ++start)
    for (size_t length = 0; length < 150; ++length) {
      std::fill(buffer.begin(), buffer.end(), u'x');
      buffer[start + length] = 0;
      // Units with a zero high or low byte are not terminators.
      if (length > 2) buffer[start + 1] = 0x0100;
      if (length > 3) buffer[start + 2] = 0x8000;
      EXPECT_EQ(WmlsLen(buffer.data() + start), length) << start << " " << length;
    }
  EXPECT_EQ(WmlsLen(nullptr), 0u);
}

TEST_F(WmlsUnitTest, AClearedBorrowedCellBecomesUnset) {
  static const char16_t text[] = u"owned elsewhere";
  WmlsValue v{WmlsType::String, reinterpret_cast<uintptr_t>(text), 1};
  WmlsValueClear(&v);
  EXPECT_EQ(v.type, WmlsType::Unset);
  EXPECT_EQ(v.value, 0u);
  EXPECT_EQ(v.borrowed, 0u);
}

TEST_F(WmlsUnitTest, ComparesByTheKindsOfItsOperands) {
  WmlsRunContext ctx{};
  WmlsValue ten{WmlsType::String, reinterpret_cast<uintptr_t>(u"10"), 1};
  WmlsValue nine = WmlsMakeInt(9), one = WmlsMakeInt(1), yes = WmlsMakeBool(true);
  EXPECT_LT(WmlsCompare(&ctx, &ten, &nine), 0);
  EXPECT_EQ(WmlsCompare(&ctx, &yes, &one), 0);
  EXPECT_EQ(ctx.status, 0);
}

}  // namespace
