// The interpreter takes some instruction sequences at once, but a slice
// still ends after exactly its number of instructions: a run sliced in full
// slices passes through the same states as the same run taken one
// instruction at a time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/heap.h"
#include "tests/services/wmls_harness.h"
#include "tests/support/engine_fixture.h"

namespace {

std::string State(const WmlsRunContext& c, int32_t result) {
  std::string s = "result " + std::to_string(result) + " status " + std::to_string(c.status) + " stack";
  for (int32_t i = 0; i <= c.top; ++i) s += ' ' + WmlsDescribe(c.stack[i]);
  for (const WmlsFrame* f = c.frame; f; f = f->previous) {
    s += " | at " + std::to_string(f->offset);
    for (int16_t i = 0; i < f->variableCount; ++i) s += ' ' + WmlsDescribe(f->variables[i]);
  }
  return s;
}

// The states after every kWmlsSliceSteps instructions and at the end, the
// run taken `steps` instructions a slice.
std::vector<std::string> States(WmlsUnit* unit, int32_t fn, const std::vector<WmlsValue>& args, uint32_t steps) {
  std::vector<std::string> states;
  WmlsRunContext ctx;
  int32_t r = WmlsRunStart(&ctx, unit, fn, args.data(), static_cast<uint8_t>(args.size()));
  for (uint32_t taken = 0; r == 0 && ctx.status == 0 && states.size() < 400;) {
    r = WmlsRunSlice(&ctx, steps);
    taken += steps;
    if (taken % kWmlsSliceSteps == 0 || r != 0 || ctx.status != 0) states.push_back(State(ctx, r));
  }
  WmlsRunRelease(&ctx);
  return states;
}

void ExpectSameStates(WmlsUnit* unit, int32_t fn, const std::vector<WmlsValue>& args) {
  ASSERT_GE(fn, 0);
  const std::vector<std::string> whole = States(unit, fn, args, kWmlsSliceSteps);
  ASSERT_FALSE(whole.empty());
  EXPECT_EQ(States(unit, fn, args, 1), whole);
}

struct FileCase {
  const char* file;
  const char16_t* function;
  std::vector<int32_t> args;
};

class WmlsSliceTest : public HeapFixture, public ::testing::WithParamInterface<FileCase> {};

TEST_P(WmlsSliceTest, FullSlicesPassThroughTheStatesOfSingleSteps) {
  const FileCase& c = GetParam();
  const std::vector<uint8_t> bytes = WmlsReadUnit(c.file);
  WmlsUnit* unit = nullptr;
  ASSERT_EQ(WmlsUnitParse(bytes.data(), static_cast<uint32_t>(bytes.size()), &unit), WmlsParse::Ok);
  std::vector<WmlsValue> args;
  for (int32_t n : c.args) args.push_back(WmlsMakeInt(n));
  ExpectSameStates(unit, WmlsFindFunction(unit, c.function), args);
  WmlsUnitFree(&unit);
}

const FileCase kFileCases[] = {
    {"bench", u"sumTo", {300}},       {"bench", u"calls", {200}},     {"bench", u"concat8k", {}},
    {"flow", u"sumWhile", {60}},      {"flow", u"sumOdd", {50}},      {"flow", u"breakAtEnd", {}},
    {"flow", u"forBreakAtEnd", {90}}, {"flow", u"nestedBreaks", {}},  {"flow", u"fibonacci", {9}},
    {"flow", u"aliasInLoop", {}},     {"flow", u"manyLocals", {}},    {"flow", u"factorial", {13}},
};
INSTANTIATE_TEST_SUITE_P(Units, WmlsSliceTest, ::testing::ValuesIn(kFileCases), [](const auto& info) {
  std::string name = info.param.file;
  for (const char16_t* p = info.param.function; *p; ++p) name += static_cast<char>(*p);
  return name;
});

struct CodeCase {
  const char* name;
  std::vector<uint8_t> code;  // of a function with two locals
};

class WmlsSliceCodeTest : public HeapFixture, public ::testing::WithParamInterface<CodeCase> {};

// Constants: 0 is 7, 1 is "ab", 2 is the largest integer.
TEST_P(WmlsSliceCodeTest, FullSlicesPassThroughTheStatesOfSingleSteps) {
  WmlsUnitBuilder b;
  b.Int(7).Utf8("ab").Int(2147483647).Function(0, 2, GetParam().code);
  const std::vector<uint8_t> bytes = b.Build();
  WmlsUnit* unit = nullptr;
  ASSERT_EQ(WmlsUnitParse(bytes.data(), static_cast<uint32_t>(bytes.size()), &unit), WmlsParse::Ok);
  ExpectSameStates(unit, 0, {});
  WmlsUnitFree(&unit);
}

const CodeCase kCodeCases[] = {
    // v0 = 0; then "v0++;" and a jump back to before the code's start.
    {"StepJumpsOutOfTheCode", {0x14, 0x40, 0xE0, 0x70, 0x37, 0xA7}},
    // v0 = "ab"; v1 = 0; while (v0 < v1) v1++; return v1;
    {"LoopTestOnText", {0x51, 0x40, 0x14, 0x41, 0xE0, 0xE1, 0x2F, 0xC4, 0xE1, 0x71, 0x37, 0xA7, 0xE1, 0x3A}},
    // v1 = 0; v0 = 7; while (v1 < v0) v1++; and the same over again.
    {"CountedLoopsBackToBack",
     {0x14, 0x41, 0x50, 0x40, 0xE1, 0xE0, 0x2F, 0xC4, 0xE1, 0x71, 0x37, 0xA7, 0xA0 | 12}},
    // v0 = the largest integer; "v0++;" makes it invalid.
    {"StepAtTheLargestInteger", {0x52, 0x40, 0xE0, 0x70, 0x37, 0xE0, 0x3A}},
    // v0 = 1; v1 = 0; a false test whose jump leaves the code.
    {"TestJumpsPastTheEnd", {0x15, 0x40, 0x14, 0x41, 0xE0, 0xE1, 0x2D, 0xDF}},
    // v0 = 7; v1 = "ab"; v1 += v0 as text, then v0 += v0 until it overflows.
    {"AddAssignOnTextAndOverflow", {0x50, 0x40, 0x51, 0x41, 0xE0, 0x1D, 0x01, 0xE0, 0x1D, 0x00, 0xA3}},
};
INSTANTIATE_TEST_SUITE_P(Codes, WmlsSliceCodeTest, ::testing::ValuesIn(kCodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
