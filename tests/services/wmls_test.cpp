// WMLScript sources compiled by Kannel's wmlsc (tests/data/wmls) run through
// the loader and the interpreter to the values the engine defines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/heap.h"
#include "tests/services/wmls_harness.h"
#include "tests/support/engine_fixture.h"

namespace {

struct Case {
  const char* file;
  const char* function;
  std::vector<std::string> args;
  const char* expected;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.file << "." << c.function;
  for (const std::string& a : c.args) *os << "." << a.substr(2);
}

class WmlsRunTest : public HeapFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(WmlsRunTest, GivesTheValue) {
  const Case& c = GetParam();
  const uint32_t before = HeapGetStats().freeBytes;
  EXPECT_EQ(WmlsRunFile(c.file, c.function, c.args), c.expected);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

const Case kCases[] = {
    {"arith", "addOverflow", {}, "invalid"},
    {"arith", "strPlusInt", {}, "s:21474836471"},
    {"arith", "remNeg", {}, "i:-1"},
    {"arith", "divZero", {}, "invalid"},
    {"arith", "minDivMinusOne", {}, "invalid"},
    {"arith", "negOverflowingText", {}, "i:1"},
    {"arith", "incrMax", {}, "invalid"},
    {"arith", "boolPlusText", {}, "s:false!"},
    // A fresh local is unset, which typeof gives as 4, not as a string.
    {"arith", "typeofUnset", {}, "i:4"},
    {"arith", "isvalidInvalid", {}, "b:false"},
    {"compare", "textVsInt", {}, "b:true"},
    {"compare", "invalidEq", {}, "invalid"},
    {"compare", "unsetEqEmpty", {}, "b:true"},
    {"compare", "ifEmptyText", {}, "s:else"},
    {"compare", "orFalseInvalid", {}, "invalid"},
    {"compare", "conditionalInvalid", {}, "s:n"},
    // A text argument compares as text: "2" <= "10" is false.
    {"flow", "sumWhile", {"s:10"}, "i:1"},
    {"flow", "factorial", {"i:13"}, "invalid"},
    // At most 73 frames: the outer function and down(71) to down(0) run,
    // one call more fails.
    {"flow", "depth", {"i:71"}, "s:bottom"},
    {"flow", "depth", {"i:72"}, "err:1004"},
    {"flow", "argsInOrder", {"s:a", "i:2", "s:c"}, "s:a,2,c"},
    {"flow", "aliasIncrement", {}, "s:55"},
    {"flow", "argumentChangedInCallee", {}, "s:hi!hi"},
    {"flow", "aliasInLoop", {}, "s:aababbabbb"},
    {"flow", "manyConstants", {}, "s:c00c01c02c03c04c05c06c07c08c09c10c11c12c13c14c15c16c17c18c19"},
    {"lang", "absMin", {}, "i:-2147483648"},
    {"lang", "parseIntPx", {}, "i:42"},
    // An overflowing number is invalid and the script goes on.
    {"lang", "parseIntOverflowGoesOn", {}, "b:false"},
    // The generator is fixed: every run without a seed draws these.
    {"lang", "randomThree", {}, "s:45,41,60"},
    {"lang", "seeded", {}, "s:565,232"},
    {"lang", "abortNow", {}, "err:2"},
    // A float constant loads as invalid.
    {"lang", "floatConstant", {}, "i:4"},
    {"string", "charAtPast", {}, "s:"},
    {"string", "subStringMid", {}, "s:cdef"},
    {"string", "findEmpty", {}, "invalid"},
    {"string", "replaceOverlap", {}, "s:bb"},
    {"string", "elementsTrailing", {}, "i:3"},
    {"string", "removeAt9", {}, "s:a,b"},
    {"string", "insertAtPast", {}, "s:a,b,X"},
    {"string", "squeeze", {}, "s: a\tb "},
    {"string", "toStringUnset", {}, "invalid"},
    {"string", "formatPrecision", {}, "s:-007"},
    {"string", "formatBadConv", {}, "invalid"},
    {"string", "formatRest", {}, "s:a%b3c%de"},
};
INSTANTIATE_TEST_SUITE_P(Units, WmlsRunTest, ::testing::ValuesIn(kCases));

}  // namespace
