// Scripts that loop for ever, through the host entry points: a list the
// step's work cuts short leaves nothing behind on the value stack, and the
// text an action walks is work of the step in its length.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "loop_movies.h"
#include "movie_script.h"

namespace {

using movie::Bytes;
using movie::Concat;
using namespace movie::script;

size_t StackCells(const AnimPlayer* p) {
  size_t n = 0;
  for (const AnimValue* v = p->stack; v; v = v->next) ++n;
  return n;
}

uint32_t Count(OnStage& p) { return static_cast<uint32_t>(std::stoul("0" + p.Var("/:n"))); }

// Sprites counting for ever, every step cut short by the work.
std::vector<std::pair<const char*, Bytes>> CountingForEver() {
  return {{"counting", movie::LoopForEver({})},
          {"counting over a value", movie::LoopForEver(Push("1"), Op(0x17))},
          // The literal lies on the stack over most of each round.
          {"counting over a 30 KB literal", movie::LoopForEver(Push(std::string(30000, 'x')), Op(0x17))}};
}

// Each step's list pushed values it never reached the pops of; they go, so
// that the stack holds only what complete lists left and the heap stays as
// it was.
void PlaysSteadily(const Bytes& data, uint32_t steps) {
  OnStage p(data);
  ASSERT_EQ(p.opened, 0u);
  uint32_t inUse = 0;
  size_t digits = 0;
  for (uint32_t step = 1; step <= steps; ++step) {
    SCOPED_TRACE(step);
    const uint32_t ranOut = p->workRanOut;
    ASSERT_EQ(AnimHost_Step(p.get()), 0u);
    ASSERT_EQ(p->workRanOut, ranOut + 1);
    ASSERT_EQ(StackCells(p.get()), 0u);
    // Only the count's text may take a longer block.
    if (step == 2) {
      inUse = p->heap.bytesInUse;
      digits = p.Var("/:n").size();
    } else if (step > 2) {
      ASSERT_LE(p->heap.bytesInUse, inUse + 16 * (p.Var("/:n").size() - digits));
    }
  }
}

TEST(PlayerScriptWork, ACutListLeavesNothingBehind) {
  for (const auto& [name, data] : CountingForEver()) {
    SCOPED_TRACE(name);
    PlaysSteadily(data, 3);
  }
}

// The same for 1,500 steps (about two minutes; the count stops at 2^24,
// where adding 1 in single precision changes nothing).
TEST(PlayerScriptWork, DISABLED_FifteenHundredSteadySteps) {
  for (const auto& [name, data] : CountingForEver()) {
    SCOPED_TRACE(name);
    PlaysSteadily(data, 1500);
  }
}

// A sprite looping for ever over long texts, each round walking `perRound`
// bytes one at a time (walked) or in bulk (copied): the opening's step is
// cut by its work, having walked no more than the work before drawing
// holds.
TEST(PlayerScriptWork, TextWalkedIsWorkOfTheStep) {
  struct Case {
    const char* name;
    Bytes movie;
    uint64_t walked, copied;  // bytes a round
  };
  const std::string twelve(12000, 'x');
  const Case cases[] = {
      // The number's digits are pushed (copied), then read by `not`.
      {"not, 20,000 digits", movie::LoopForEver(Concat({Push(movie::Digits(20000)), Op(0x12), Op(0x17)})), 20000, 20000},
      {"not, 5,000 digits", movie::LoopForEver(Concat({Push(movie::Digits(5000)), Op(0x12), Op(0x17)})), 5000, 5000},
      // Both pushed, both texts taken, the two joined.
      {"string add, 12,000 bytes", movie::LoopForEver(Concat({Push(twelve), Push(twelve), Op(0x21), Op(0x17)})), 0,
       6 * 12000},
      // Lookups passing long names: each compared with the one looked for,
      // a clip's name walked for its depth.
      {"a path past 30 sprites named in 1,000 bytes",
       movie::LoopAmongNames(Concat({Push("/q"), Push("0"), Op(0x22), Op(0x17)}), 30, 1000, false), 30 * 1000, 0},
      {"a missing label among 100 labels of 1,000 bytes",
       movie::LoopAmongNames(Concat({movie::Action(0x8B, movie::Writer().Str("/").bytes()),
                                     movie::Action(0x8C, movie::Writer().Str(std::string(1000, 'a') + "x").bytes()),
                                     movie::Action(0x8B, movie::Writer().Str("").bytes())}),
                             100, 1000, true),
       100 * 1000, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OnStage p(c.movie);
    ASSERT_EQ(p.opened, 0u);
    EXPECT_EQ(p->workRanOut, 1u);
    const uint64_t rounds = Count(p);
    EXPECT_GT(rounds, 0u);
    const uint64_t units = kAnimStepWork - kAnimDrawWork;
    EXPECT_LE(rounds * c.walked, units * kAnimTextWalkedPerWork) << rounds << " rounds";
    EXPECT_LE(rounds * c.copied, units * kAnimTextCopiedPerWork) << rounds << " rounds";
  }
}

// A script that ends, however many actions it runs, ends in the step that
// began it when they take well under the step's time (a million plain
// actions take about a tenth of a second).
TEST(PlayerScriptWork, AFiniteScriptEndsInItsStep) {
  struct Case {
    const char* name;
    uint32_t rounds;
    uint16_t sprites;
  };
  for (const Case c : {Case{"1,000,000 actions in one list", 91000, 1}, Case{"1,000,000 actions in eight lists", 11400, 8}}) {
    SCOPED_TRACE(c.name);
    EXPECT_GE(uint64_t{c.rounds} * c.sprites * movie::kCountRoundActions, 1000000u);
    OnStage p(movie::CountTo(c.rounds, c.sprites));
    ASSERT_EQ(p.opened, 0u);
    EXPECT_EQ(p->workRanOut, 0u);
    EXPECT_EQ(p.Var("/:done"), std::to_string(c.sprites));
  }
}

}  // namespace
