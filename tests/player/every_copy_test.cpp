// A clip shown by several objects of one name is one clip, but every object
// shows it: each copy is drawn, measured and hit-tested where it stands,
// and the clip plays whole wherever it shows, however deep another copy of
// it lies.
#include <gtest/gtest.h>

#include <string>

#include "movie_script.h"
#include "step_movies.h"

namespace {

using movie::Bytes;
using movie::Concat;
using namespace movie::script;

using Played = OnStage;

constexpr uint16_t kRed = 0x7C00, kBlue = 0x001F;

// Button actions appending a letter to the root's "hit".
Bytes Append(const std::string& letter) {
  return Concat({Set("/:hit", Concat({Push("/:hit"), Op(0x1C), Push(letter), Op(0x21)})), movie::EndActions()});
}

// Button 50 showing shape `shape`, whose key-press actions set `target`'s
// x to `x`.
Bytes KeyMovingX(const std::string& target, const std::string& x, uint16_t shape) {
  const Bytes move = Concat({Push(target), Push("0"), Push(x), Op(0x23), movie::EndActions()});
  return movie::ButtonWithConditions(50, false, shape, {{0x6000, move}});
}

// The movie opens and its first step shows red at (105, 105); after key
// 24, red has left there and shows at (x, 105).
void ExpectKeyMovesRedTo(Played& p, int32_t x) {
  ASSERT_EQ(p.opened, 0u);
  p.Step();
  EXPECT_EQ(p.At(105, 105), kRed);
  p.Key(24);
  EXPECT_NE(p.At(105, 105), kRed);
  EXPECT_EQ(p.At(x, 105), kRed);
}

// A pointer moved to a pixel and pressed there.
void PressAt(Played& p, int32_t x, int32_t y) {
  AnimPlayer_Command(p.get(), 104, (static_cast<uint32_t>(x) << 16) | static_cast<uint32_t>(y));
  const AnimEvent press{x, y, kAnimEventPress, 0};
  AnimMovie_Control(p.movie(), 2, &press);
}

// Sprite 30 holds a red button; it is shown twice under one name, a blue
// button between the copies. The upper copy is drawn over the blue button,
// and a press there presses the red one.
TEST(PlayerEveryCopy, APressOnTheUpperCopyPressesItsButton) {
  const Bytes defs = Concat({movie::Background(255, 255, 255), Box(1, {248, 0, 0}), Box(2, {0, 0, 248}),
                             movie::Button(20, 1, Append("S")), movie::Button(21, 2, Append("X")),
                             movie::Sprite(30, 1, Concat({movie::Place(20, 1, 0, 0), movie::ShowFrame(), movie::End()}))});
  Played p(MovieOf(defs, {Concat({PlaceNamed(30, 1, "s", 0, 0), movie::Place(21, 2, 2000, 2000),
                                  PlaceNamed(30, 3, "s", 2000, 2000)})}));
  ASSERT_EQ(p.opened, 0u);
  EXPECT_EQ(p.At(105, 105), kRed);
  PressAt(p, 105, 105);
  EXPECT_EQ(p.Var("/:hit"), "S");
}

// The same movie, its copies also shown inside sprite 31 named "w" at
// (0, 150): a press on any copy's own box presses the button it shows
// there, the lower copy's as well as the upper one's, and a press beside
// them none.
TEST(PlayerEveryCopy, APressOnEitherCopyPressesItsButton) {
  const Bytes defs = Concat({movie::Background(255, 255, 255), Box(1, {248, 0, 0}), Box(2, {0, 0, 248}),
                             movie::Button(20, 1, Append("S")), movie::Button(21, 2, Append("X")),
                             movie::Sprite(30, 1, Concat({movie::Place(20, 1, 0, 0), movie::ShowFrame(), movie::End()})),
                             movie::Sprite(31, 1, Concat({PlaceNamed(30, 1, "s", 0, 0), PlaceNamed(30, 2, "s", 1000, 0),
                                                          movie::ShowFrame(), movie::End()}))});
  const Bytes movie = MovieOf(defs, {Concat({PlaceNamed(30, 1, "s", 0, 0), movie::Place(21, 2, 2000, 2000),
                                             PlaceNamed(30, 3, "s", 2000, 2000), PlaceNamed(31, 4, "w", 0, 3000)})});
  struct Case {
    int32_t x, y;
    const char* hit;
  };
  for (const Case c : {Case{5, 5, "S"}, Case{105, 105, "S"}, Case{115, 115, "S"}, Case{5, 155, "S"}, Case{55, 155, "S"},
                       Case{50, 50, ""}, Case{35, 155, ""}}) {
    SCOPED_TRACE(std::to_string(c.x) + ", " + std::to_string(c.y));
    Played p(movie);
    ASSERT_EQ(p.opened, 0u);
    EXPECT_EQ(p.At(c.x, c.y), *c.hit ? kRed : uint16_t{0x7FFF});
    PressAt(p, c.x, c.y);
    EXPECT_EQ(p.Var("/:hit"), c.hit);
  }
}

// Walks are numbered past 32 bits: a walk numbered 2^32 past the one that
// last met the root (where a 32-bit number would come round to it again)
// still enters it.
TEST(PlayerEveryCopy, WalkNumbersGoOnPast32Bits) {
  const Bytes defs = Concat({movie::Background(255, 255, 255), Box(1, {248, 0, 0}), movie::Button(20, 1, Append("S"))});
  Played p(MovieOf(defs, {movie::Place(20, 1, 2000, 2000)}));
  ASSERT_EQ(p.opened, 0u);
  AnimPlayer_Command(p.get(), 104, (105u << 16) | 105u);
  const uint64_t met = p.root()->treeWalk;
  p.movie()->treeWalks = met - 1 + (uint64_t{1} << 32);
  const AnimEvent press{105, 105, kAnimEventPress, 0};
  AnimMovie_Control(p.movie(), 2, &press);
  EXPECT_EQ(p.Var("/:hit"), "S");
  EXPECT_GT(p.movie()->treeWalks, uint64_t{0xFFFFFFFF});
}

// Sprite 86 holds sprite 80 (given with the definitions it needs) at the
// end of a chain of six sprites, each named "c" in the one above.
Bytes Chain(const Bytes& bottom) {
  Bytes defs = Concat({movie::Background(255, 255, 255), Box(1, {248, 0, 0}), Box(2, {0, 0, 248}), bottom});
  for (uint16_t id = 81; id <= 86; ++id)
    defs = Concat({defs, movie::Sprite(id, 1, Concat({PlaceNamed(static_cast<uint16_t>(id - 1), 1, "c"), movie::ShowFrame(),
                                                       movie::End()}))});
  return defs;
}

// Ten sprites inside each other, the innermost showing sprite 86 as "/d".
Bytes Wrappers(const Bytes& defs) {
  Bytes out = Concat({defs, movie::Sprite(60, 1, Concat({PlaceNamed(86, 1, "/d"), movie::ShowFrame(), movie::End()}))});
  for (uint16_t id = 61; id <= 69; ++id)
    out = Concat({out, movie::Sprite(id, 1, Concat({movie::Place(static_cast<uint16_t>(id - 1), 1, 0, 0), movie::ShowFrame(),
                                                    movie::End()}))});
  return out;
}

// Sprite 80 showing a red box, then a blue one.
Bytes TwoColours() {
  return movie::Sprite(80, 2, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::RemoveDepth(1),
                                      movie::Place(2, 1, 0, 0), movie::ShowFrame(), movie::End()}));
}

// Shown as "d" at the root and deep below wrappers, the clip plays at the
// root as it does when the root's copy is the only one.
TEST(PlayerEveryCopy, AClipMetFirstDeepPlaysWhereItShowsNearTheRoot) {
  const Bytes alone = MovieOf(Wrappers(Chain(TwoColours())), {PlaceNamed(86, 2, "d", 2000, 2000)});
  const Bytes deepToo =
      MovieOf(Wrappers(Chain(TwoColours())), {Concat({movie::Place(69, 1, 0, 0), PlaceNamed(86, 2, "d", 2000, 2000)})});
  Played a(alone), b(deepToo);
  ASSERT_EQ(a.opened, 0u);
  ASSERT_EQ(b.opened, 0u);
  std::string shownAlone, shownBoth;
  auto colour = [](uint16_t v) { return v == kRed ? 'r' : v == kBlue ? 'b' : '-'; };
  for (int step = 0; step < 4; ++step) {
    a.Step();
    b.Step();
    shownAlone += colour(a.At(105, 105));
    shownBoth += colour(b.At(105, 105));
  }
  EXPECT_EQ(shownAlone.size(), 4u);
  EXPECT_TRUE(shownAlone == "rbrb" || shownAlone == "brbr") << shownAlone;
  EXPECT_EQ(shownBoth, shownAlone);
}

// The same chain ending in a sprite that holds a red box as "e", moved by a
// digit key's button: the root's copy is redrawn where the box went,
// though the deep copy, met first, lies past the nesting limit there. The
// root still plays, so the key's actions bring no update of the lists.
TEST(PlayerEveryCopy, AShallowCopyIsRedrawnWhereItsDeepPartsChange) {
  const Bytes bottom = Concat({movie::Sprite(79, 1, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::End()})),
                               movie::Sprite(80, 1, Concat({PlaceNamed(79, 1, "e"), movie::ShowFrame(), movie::End()}))});
  const Bytes key = KeyMovingX("/d/c/c/c/c/c/c/e", "40", 1);
  Played p(MovieOf(Concat({Wrappers(Chain(bottom)), key}),
                   {Concat({movie::Place(69, 1, 0, 0), PlaceNamed(86, 2, "d", 2000, 2000), movie::Place(50, 3, 3000, 3800)}),
                    {}, {}, {}}));
  ExpectKeyMovesRedTo(p, 145);
}

// Sprite "w" holds the wrappers, the innermost showing the chain as "/w/d",
// and the chain again as "d" at (100, 100). A key's button moves "w": its
// area is measured from the shallow copy too, though the walk meets the
// deep one first, past the nesting limit.
TEST(PlayerEveryCopy, AShallowCopyIsMeasuredWhereItShows) {
  const Bytes bottom = movie::Sprite(80, 1, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::End()}));
  Bytes defs = Concat({Chain(bottom), movie::Sprite(60, 1, Concat({PlaceNamed(86, 1, "/w/d"), movie::ShowFrame(), movie::End()}))});
  for (uint16_t id = 61; id <= 69; ++id)
    defs = Concat({defs, movie::Sprite(id, 1, Concat({movie::Place(static_cast<uint16_t>(id - 1), 1, 0, 0), movie::ShowFrame(),
                                                      movie::End()}))});
  defs = Concat({defs, movie::Sprite(90, 1, Concat({movie::Place(69, 1, 0, 0), PlaceNamed(86, 2, "d", 2000, 2000),
                                                    movie::ShowFrame(), movie::End()}))});
  const Bytes key = KeyMovingX("/w", "20", 2);
  Played p(MovieOf(Concat({defs, key}), {Concat({PlaceNamed(90, 1, "w"), movie::Place(50, 3, 3000, 3800)}), {}, {}, {}}));
  ExpectKeyMovesRedTo(p, 125);
}

// A clip of 130 boxes shown 130 times under one name: 17,030 objects to
// draw, every one of them drawn.
TEST(PlayerEveryCopy, EveryCopyOfALargeClipIsDrawn) {
  Played p(movie::CopyField(130, 130));
  ASSERT_EQ(p.opened, 0u);
  p.Step();
  for (int i = 0; i < 130; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(p.At((i % 13) * 13 + 5, (i / 13) * 13 + 5), kRed);
  }
}

}  // namespace
