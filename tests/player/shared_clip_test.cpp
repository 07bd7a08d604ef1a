// Objects of one name show one clip. A movie can nest such clips, each
// showing the one below several times: the copies double (or more) at every
// level, and every walk over the tree must still end in bounded work.
#include <gtest/gtest.h>

#include <string>

#include "movie_script.h"

namespace {

using movie::Bytes;
using movie::Concat;
using namespace movie::script;

using Played = OnStage;

// Two objects of one name show one clip: it steps once a frame, its frame
// actions run once, and both copies show it.
TEST(PlayerSharedClips, OneClipStepsOnceAFrame) {
  Played p(SharedClipTree(1, 2));
  ASSERT_EQ(p.opened, 0u);
  AnimHost_Step(p.get());
  const int counted = std::stoi(p.Var("/:n"));
  for (int step = 1; step <= 3; ++step) {
    AnimHost_Step(p.get());
    EXPECT_EQ(std::stoi(p.Var("/:n")), counted + step);
  }
  ExpectShownIsWholeRedraw(p.get());
}

// Copies of copies: four of them at each of ten levels are a million boxes
// (four of them at fifteen levels, a billion). A redraw and a step each meet
// a bounded number of objects: the step's work, and the walks that see each
// clip once besides. A step that did not run out of work shows what a whole
// redraw shows.
TEST(PlayerSharedClips, WalksOverCopiesOfCopiesAreBounded) {
  struct Case {
    int levels, copies;
  };
  for (const Case c : {Case{12, 2}, Case{16, 2}, Case{20, 2}, Case{10, 4}, Case{15, 8}}) {
    SCOPED_TRACE(std::to_string(c.levels) + " levels of " + std::to_string(c.copies));
    Played p(SharedClipTree(c.levels, c.copies));
    ASSERT_EQ(p.opened, 0u);
    AnimMovie* m = p.movie();
    const uint64_t limit = uint64_t{kAnimStepWork} + 1000;
    for (int step = 0; step < 2; ++step) {
      const uint32_t drawn = m->drawVisits, walked = m->treeVisits;
      AnimHost_Step(p.get());
      EXPECT_LE(uint64_t{m->drawVisits - drawn} + (m->treeVisits - walked), limit);
      if (!AnimWork_Spent(p.get())) ExpectShownIsWholeRedraw(p.get());
    }
    const uint32_t drawn = m->drawVisits, walked = m->treeVisits;
    AnimMovie_InvalidateAll(m);
    EXPECT_LE(uint64_t{m->drawVisits - drawn} + (m->treeVisits - walked), limit);
    EXPECT_EQ(AnimPlayer_Aborted(p.get()), 0u);
  }
}

// The walks that look for buttons (a digit key, the arrows, a focus that
// may have gone with a level) go through every copy: in a tree of copies of
// copies without a button they end with the step's work.
TEST(PlayerSharedClips, ButtonWalksOverCopiesOfCopiesAreBounded) {
  for (auto [levels, copies] : {std::pair{8, 4}, {15, 8}}) {
    SCOPED_TRACE(std::to_string(levels) + " levels of " + std::to_string(copies));
    Played p(SharedClipTree(levels, copies));
    ASSERT_EQ(p.opened, 0u);
    AnimMovie* m = p.movie();
    AnimHost_Step(p.get());
    for (uint32_t key : {1u, 2u, 3u, 4u, 24u, 25u, 32u}) {
      SCOPED_TRACE(key);
      const uint32_t walked = m->treeVisits;
      AnimPlayer_Command(p.get(), 4, key);
      EXPECT_LE(m->treeVisits - walked, kAnimStepWork + 50u * (levels * copies + 2));
    }
  }
}

}  // namespace
