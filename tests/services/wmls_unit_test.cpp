// Units written by hand for what wmlsc never writes, malformed units, and
// the collector over blocks of any size.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kernel/datachunk.h"
#include "kernel/heap.h"
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
  // Runs the first function of a hand-built unit with no arguments.
  std::string Run(const WmlsUnitBuilder& b) {
    WmlsUnit* unit = nullptr;
    if (Parse(b.Build(), &unit) != WmlsParse::Ok) return "refused";
    const WmlsOutcome o = WmlsRunUnit(unit, "#0", {}, 1000);
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
    {"FloatConstantIsInvalid", {0x12, 0x02, 0x3A}, "invalid"},
    // while (v < 50) v++; the loop closed by JUMP_BW_W back to 2.
    {"JumpBackWide",
     {0x14, 0x40, 0xE0, 0x55, 0x2F, 0xC4, 0x70, 0x04, 0x00, 0x05, 0xE0, 0x3A},
     "i:50"},
    // do v++; while (v <= 50): conditional backward jumps count from their
    // own start, back to the INCR_VAR_S at 2.
    {"TJumpBackFromStart", {0x14, 0x40, 0x70, 0xE0, 0x55, 0x31, 0x07, 0x04, 0xE0, 0x3A}, "i:51"},
    {"CallWide", {0x55, 0x15, 0x09, 0x01, 0x3A}, "i:49"},
    // Errors end the run with the status.
    {"JumpPastTheEnd", {0x01, 0x10, 0x15, 0x3A}, "err:1005"},
    {"ConstantOutOfRange", {0x13, 0x01, 0x2C, 0x3A}, "err:1008"},
    // A call whose arguments are missing ends with an error, not a normal end.
    {"CallWithMissingArguments", {0x15, 0x61, 0x3A}, "err:1003"},
    {"UnknownLibrary", {0x0B, 0x00, 0x01, 0x00, 0x3A}, "err:1002"},
    {"CallUrlNeedsTextConstants", {0x0C, 0x00, 0x01, 0x00, 0x3A}, "err:1001"},
};
INSTANTIATE_TEST_SUITE_P(Code, WmlsCodeTest, ::testing::ValuesIn(kCodes));

TEST_F(WmlsUnitTest, CellsLeftBorrowingAReturnedFunctionsVariablesKeepTheirText) {
  WmlsUnitBuilder b;
  b.Utf8("abc").Function(0, 0, {0x61, 0x37, 0x3A});
  // Stores a copy of the constant, leaves two loads of the variable behind.
  b.Function(0, 1, {0x50, 0x40, 0xE0, 0xE0, 0x3A});
  EXPECT_EQ(Run(b), "s:abc");
}

TEST_F(WmlsUnitTest, ExitEndsTheRunNormally) {
  WmlsUnitBuilder b;
  b.Function(0, 0, {0x15, 0x0A, 10, 0x00, 0x14, 0x3A});
  WmlsUnit* unit = nullptr;
  ASSERT_EQ(Parse(b.Build(), &unit), WmlsParse::Ok);
  const WmlsOutcome o = WmlsRunUnit(unit, "#0", {});
  EXPECT_EQ(o.result, WmlsResult::Ok);
  EXPECT_EQ(o.status, WmlsStatus::Exit);
  EXPECT_EQ(WmlsRunUnit(unit, "#0", {"i:1"}).result, WmlsResult::ArgCount);
  EXPECT_EQ(WmlsRunUnit(unit, "#1", {}).result, WmlsResult::BadCall);
  WmlsUnitFree(&unit);
}


TEST_F(WmlsUnitTest, DecodesTextConstantsByTheUnitsCharacterSet) {
  // A set with a decoder converts, 17 and 1000 take one unit per byte, any other leaves it unset.
  const struct {
    uint32_t mib;
    std::vector<uint8_t> bytes;
    const char* expected;
  } cases[] = {{106, {0xC3, 0xBC, 'a'}, "s:\\u00FCa"}, {1000, {0xFC, 'a'}, "s:\\u00FCa"}, {2, {'a'}, "unset"}};
  for (const auto& c : cases) {
    WmlsUnitBuilder b;
    b.charset = c.mib;
    std::vector<uint8_t> text{6};
    WmlsMbUInt(text, static_cast<uint32_t>(c.bytes.size()));
    text.insert(text.end(), c.bytes.begin(), c.bytes.end());
    b.Raw(text).Function(0, 0, {0x50, 0x3A});
    EXPECT_EQ(Run(b), c.expected) << c.mib;
  }
}

TEST_F(WmlsUnitTest, EveryCutOfACompiledUnitIsRefused) {
  const std::vector<uint8_t> whole = WmlsReadUnit("flow");
  ASSERT_FALSE(whole.empty());
  for (size_t n = 0; n < whole.size(); ++n) {
    WmlsUnit* unit = nullptr;
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(n));
    EXPECT_EQ(Parse(cut, &unit), WmlsParse::Refused) << n;
    EXPECT_EQ(unit, nullptr);
    // The same cut with a header that claims only what is there.
    if (n < 3) continue;
    std::vector<uint8_t> fixed{1};
    WmlsMbUInt(fixed, static_cast<uint32_t>(n - 3));
    fixed.insert(fixed.end(), whole.begin() + 3, whole.begin() + static_cast<long>(n));
    EXPECT_EQ(Parse(fixed, &unit), WmlsParse::Refused) << n;
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

  EXPECT_EQ(refused({1, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}), WmlsParse::Refused);  // size too long

  WmlsUnitBuilder badType;
  badType.Raw({7}).Function(0, 0, {0x3A});
  EXPECT_EQ(refused(badType.Build()), WmlsParse::Refused);

  WmlsUnitBuilder hugeText;
  hugeText.Raw({4, 0x87, 0xFF, 0xFF, 0xFF, 0x7F});
  EXPECT_EQ(refused(hugeText.Build()), WmlsParse::NoMemory);

  WmlsUnitBuilder names;
  names.Function(0, 0, {0x3A});
  names.names = {{0, "a"}, {0, "b"}};
  EXPECT_EQ(refused(names.Build()), WmlsParse::Refused);

  WmlsUnitBuilder pragma = good;
  pragma.pragmaCount = 1;
  pragma.pragmas = {4, 0};
  EXPECT_EQ(refused(pragma.Build()), WmlsParse::Refused);

  std::vector<uint8_t> longFn = ok;
  longFn[longFn.size() - 3] = 3;  // the function's size claims more than remains
  EXPECT_EQ(refused(longFn), WmlsParse::Refused);
}

TEST_F(WmlsUnitTest, CollectsTheSameUnitFromBlocksOfAnySize) {
  const std::vector<uint8_t> compiled = WmlsReadUnit("lang");
  // The same unit with its size written in all five bytes the header allows.
  size_t sizeEnd = 1;
  while (compiled[sizeEnd] & 0x80) ++sizeEnd;
  std::vector<uint8_t> padded{1};
  padded.insert(padded.end(), 5 - sizeEnd, 0x80);
  padded.insert(padded.end(), compiled.begin() + 1, compiled.end());
  for (const std::vector<uint8_t>& whole : {compiled, padded}) {
    for (uint32_t block : {1u, 7u, 100000u}) {
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
}

TEST_F(WmlsUnitTest, CollectorFailsOnBadOrCutBodies) {
  const std::vector<uint8_t> whole = WmlsReadUnit("lang");
  for (const size_t n : {size_t{0}, whole.size() - 1}) {  // nothing, or all but the last byte
    Queue input{};
    if (n) {
      ASSERT_EQ(UtilDataChunkAppend(&input, whole.data(), static_cast<uint32_t>(n), Mod::TestCode), kOk);
    }
    WmlsCollector* state = nullptr;
    WmlsUnit* unit = nullptr;
    EXPECT_EQ(WmlsCollect(&state, &input, 1, &unit), WmlsErr::Failed);
    EXPECT_EQ(unit, nullptr);
    EXPECT_EQ(state, nullptr);
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

TEST_F(WmlsUnitTest, PathPragmasResolveAgainstTheUnitsUrl) {
  for (const auto& [path, expected] : {std::pair{"../lib", 0}, {"./lib", WmlsResult::Refused}}) {
    WmlsUnitBuilder b;
    b.Utf8(path).Function(0, 0, {0x3B});
    b.pragmaCount = 1;
    b.pragmas = {1, 0};
    WmlsUnit* unit = nullptr;
    ASSERT_EQ(Parse(b.Build(), &unit), WmlsParse::Ok);
    WmlsRunContext ctx{};
    ctx.unit = unit;
    ctx.referrer = "http://h/lib/page";
    ctx.unitUrl = "http://h/app/s.wmlsc";
    EXPECT_EQ(WmlsCheckAccess(&ctx), expected) << path;
    WmlsUnitFree(&unit);
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



}  // namespace
