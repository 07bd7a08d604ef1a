// Counted loops through the interpreter's fast loop, whatever the test's
// form and however the slices fall, against the same run taken one
// instruction at a time through WmlsStep alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/services/wmls_harness.h"
#include "tests/support/engine_fixture.h"

namespace {

std::string State(const WmlsRunContext& c) {
  std::string s = "status " + std::to_string(c.status) + " stack";
  for (int32_t i = 0; i <= c.top; ++i) s += ' ' + WmlsDescribe(c.stack[i]);
  for (const WmlsFrame* f = c.frame; f; f = f->previous) {
    s += " | at " + std::to_string(f->offset);
    for (int16_t i = 0; i < f->variableCount; ++i) s += ' ' + WmlsDescribe(f->variables[i]);
  }
  return s;
}

constexpr size_t kMaxSteps = 20000;

// The state after every instruction of the run taken by WmlsStep alone:
// states[n] is the state after n instructions; the last is the end.
std::vector<std::string> PlainStates(WmlsUnit* unit, int32_t fn) {
  std::vector<std::string> states;
  WmlsRunContext ctx;
  if (WmlsRunStart(&ctx, unit, fn, nullptr, 0) != 0) return states;
  states.push_back(State(ctx));
  while (ctx.status == 0 && ctx.frame && states.size() < kMaxSteps) {
    WmlsFrame* f = ctx.frame;
    if (f->offset > f->desc->codeSize) {
      ctx.status = WmlsStatus::CodeOverrun;
    } else {
      const uint8_t op = f->desc->code[f->offset++];
      if (WmlsStep(op, &ctx) != 0) break;
    }
    states.push_back(State(ctx));
  }
  WmlsRunRelease(&ctx);
  return states;
}

// Runs fn with a first slice of `first` instructions, then full slices, and
// checks every state between slices against the plain run's.
void ExpectSameAsPlain(WmlsUnit* unit, int32_t fn, const std::vector<std::string>& plain, uint32_t first) {
  WmlsRunContext ctx;
  ASSERT_EQ(WmlsRunStart(&ctx, unit, fn, nullptr, 0), 0);
  size_t taken = 0;
  for (uint32_t steps = first; ctx.status == 0 && ctx.frame && taken < kMaxSteps; steps = kWmlsSliceSteps) {
    WmlsRunSlice(&ctx, steps);
    taken += steps;
    if (ctx.status != 0 || !ctx.frame) break;
    ASSERT_LT(taken, plain.size());
    ASSERT_EQ(State(ctx), plain[taken]) << "first slice " << first << ", after " << taken;
  }
  EXPECT_EQ(State(ctx), plain.back()) << "first slice " << first;
  WmlsRunRelease(&ctx);
}

struct LoopCase {
  const char* form;  // the function's name without its variable count
  int32_t count;     // i after the loop
};

class WmlsLoopTest : public HeapFixture, public ::testing::WithParamInterface<LoopCase> {};

// Functions of 2, 17 and 40 variables; each returns its loop variable.
TEST_P(WmlsLoopTest, CountsAsSingleStepsWhereverSlicesFall) {
  const std::vector<uint8_t> bytes = WmlsReadUnit("loops");
  WmlsUnit* unit = nullptr;
  ASSERT_EQ(WmlsUnitParse(bytes.data(), static_cast<uint32_t>(bytes.size()), &unit), WmlsParse::Ok);
  for (const char* vars : {"2", "17", "40"}) {
    const std::string name = std::string(GetParam().form) + vars;
    SCOPED_TRACE(name);
    const std::u16string wide(name.begin(), name.end());
    const int32_t fn = WmlsFindFunction(unit, wide.c_str());
    ASSERT_GE(fn, 0);
    const std::vector<std::string> plain = PlainStates(unit, fn);
    ASSERT_FALSE(plain.empty());
    EXPECT_NE(plain.back().find("status 3 stack i:" + std::to_string(GetParam().count)), std::string::npos)
        << plain.back();
    for (uint32_t first = 1; first <= kWmlsSliceSteps; ++first) ExpectSameAsPlain(unit, fn, plain, first);
    EXPECT_EQ(WmlsRunUnit(unit, name, {}).value, "i:" + std::to_string(GetParam().count));
  }
  WmlsUnitFree(&unit);
}

const LoopCase kLoopCases[] = {
    {"ltVar", 5},   {"leVar", 5},   {"gtVar", 5},  {"ltVarRev", 6}, {"neVar", 5},  {"ltConst", 5},
    {"leConst", 5}, {"gtConst", 4}, {"neConst", 5}, {"ltZero", 0},  {"gtZero", 5}, {"neOne", 1},
    {"leOne", 2},   {"eqOne", 2},   {"ltWide", 105}, {"neWide", 106},
};
INSTANTIATE_TEST_SUITE_P(Forms, WmlsLoopTest, ::testing::ValuesIn(kLoopCases),
                         [](const auto& info) { return std::string(info.param.form); });

// No compiler here writes CONST_M1, so its loop is written by hand in the
// shape of the others: v0 = -5; fillers v2.. = 1000 + n;
// for (; v0 < -1; v0++) ; return v0;
std::vector<uint8_t> MinusOneLoop(int vars) {
  std::vector<uint8_t> code = {0x50, 0x40};  // v0 = const 0 (-5)
  for (int n = 2; n < vars; ++n) code.insert(code.end(), {0x12, static_cast<uint8_t>(n), 0x0F, static_cast<uint8_t>(n)});
  const uint8_t test = static_cast<uint8_t>(code.size());
  code.insert(code.end(), {0xE0, 0x16, 0x2F, 0xC4, 0xE0, 0x70, 0x37});
  code.push_back(static_cast<uint8_t>(0xA0 | (code.size() - test)));
  code.insert(code.end(), {0xE0, 0x3A});
  return code;
}

class WmlsLoopMinusOneTest : public HeapFixture, public ::testing::WithParamInterface<int> {};

TEST_P(WmlsLoopMinusOneTest, CountsAsSingleStepsWhereverSlicesFall) {
  WmlsUnitBuilder b;
  b.Int(-5).Int(0);
  for (int32_t n = 2; n < GetParam(); ++n) b.Int(1000 + n);
  b.Function(0, static_cast<uint8_t>(GetParam()), MinusOneLoop(GetParam()));
  const std::vector<uint8_t> bytes = b.Build();
  WmlsUnit* unit = nullptr;
  ASSERT_EQ(WmlsUnitParse(bytes.data(), static_cast<uint32_t>(bytes.size()), &unit), WmlsParse::Ok);
  const std::vector<std::string> plain = PlainStates(unit, 0);
  ASSERT_FALSE(plain.empty());
  EXPECT_NE(plain.back().find("status 3 stack i:-1"), std::string::npos) << plain.back();
  for (uint32_t first = 1; first <= kWmlsSliceSteps; ++first) ExpectSameAsPlain(unit, 0, plain, first);
  WmlsUnitFree(&unit);
}

INSTANTIATE_TEST_SUITE_P(Variables, WmlsLoopMinusOneTest, ::testing::Values(2, 17, 40));

}  // namespace
