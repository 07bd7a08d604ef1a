// Background pictures of sprites in more than one level: the frame shows the
// levels in their order whatever picture was kept before.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "movie_script.h"

namespace {

using movie::Bytes;
using movie::Concat;
using namespace movie::script;

constexpr uint16_t kWhite = 0x7FFF, kGreen = 0x03E0, kWideRed = 0x64A5;

using Played = OnStage;

// Level 0 keeps a "/Background" sprite (a box over the right half) and moves
// a box every frame; level 1 holds a second background sprite, a green box
// across the first one's left edge.
TEST(PlayerPictures, AHigherLevelsBackgroundSpriteShowsOverALowerOnes) {
  const Bytes defs = Concat({movie::BoxShape(1, {200, 40, 40}, 1760, 0, 1760, 4160), Box(2, {0, 0, 248}),
                             movie::BoxShape(3, {0, 248, 0}, 0, 0, 800, 800),
                             movie::Sprite(10, 1, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::End()})),
                             movie::Sprite(11, 1, Concat({movie::Place(3, 1, 0, 0), movie::ShowFrame(), movie::End()}))});
  const Bytes loop = Do(Concat({movie::GotoFrame(0), movie::Action(0x06)}));
  const Bytes lower = MovieOf(defs, {Concat({movie::Background(255, 255, 255), PlaceNamed(10, 1, "Background"),
                                             movie::Place(2, 2, 0, 0)}),
                                     movie::MoveTo(2, 400, 400), Concat({movie::MoveTo(2, 800, 800), loop})});
  // Level 1's sprite goes by another name, or holds the background sprite.
  for (const bool inside : {false, true}) {
    SCOPED_TRACE(inside ? "a sprite inside it" : "another name");
    const Bytes holder = movie::Sprite(12, 1, Concat({PlaceNamed(11, 1, "inner"), movie::ShowFrame(), movie::End()}));
    const Bytes upper = MovieOf(Concat({defs, holder}), {PlaceNamed(inside ? 12 : 11, 1, "Background2", 1600, 1000), {}, loop});
    Played p(lower);
    ASSERT_EQ(p.opened, 0u);
    p.Step();
    ASSERT_EQ(AnimMovie_ReplaceLevel(p.movie(), false, 1, upper.data(), static_cast<uint32_t>(upper.size())), 1u);
    // Steps while a picture is kept, then after a quality change let it go.
    for (uint32_t key : {0u, 0u, 0u, 7u, 0u, 8u, 0u, 0u}) {
      SCOPED_TRACE(key);
      if (key) p.Key(key);
      else ASSERT_EQ(p.Step(), 0u);
      if (p->highQuality) continue;  // smooth edges blend
      EXPECT_EQ(p.At(84, 60), kGreen);
      EXPECT_EQ(p.At(100, 60), kGreen) << "level 1 lies over level 0";
      EXPECT_EQ(p.At(130, 120), kWideRed);
      EXPECT_EQ(p.At(60, 150), kWhite);
    }
  }
}

// Two plays of one movie, one of them without heap for a background
// picture from the given point on: the frames they show are the same.
struct TwoPlays {
  explicit TwoPlays(const Bytes& data) : kept(data), refused(data) {}
  void Squeeze() { squeeze.emplace(refused->heap); }
  template <typename F>
  void Both(F f) {
    f(kept);
    f(refused);
    EXPECT_EQ(FrameDifferences(refused.frame, kept.frame, kW), "") << "without room for the picture";
  }
  Played kept, refused;
  std::optional<HeapSqueeze> squeeze;
};

// A "/Background" sprite holding "inner", a sprite of two frames (red, then
// blue): the picture shows inner as it was first drawn as long as the
// sprite stays; without room for the picture the frame is the same.
TEST(PlayerPictures, WithoutRoomTheBackgroundSpriteStaysAsFirstDrawn) {
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 0, 0, 3520, 4160), movie::BoxShape(2, {0, 0, 248}, 0, 0, 3520, 4160),
                             movie::Sprite(8, 2, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::RemoveDepth(1),
                                                         movie::Place(2, 1, 0, 0), movie::ShowFrame(), movie::End()})),
                             movie::Sprite(7, 1, Concat({PlaceNamed(8, 1, "inner"), movie::ShowFrame(), movie::End()}))});
  TwoPlays p(MovieOf(defs, {Concat({movie::Background(255, 255, 255), PlaceNamed(7, 1, "Background")}), {}, {}, {}, {},
                            {}, {}, {}}));
  ASSERT_EQ(p.kept.opened, 0u);
  ASSERT_EQ(p.refused.opened, 0u);
  p.Both([](Played& x) { ASSERT_TRUE(AnimView_SetQuality(x.movie(), false)); });
  p.Squeeze();
  uint16_t first = 0;
  for (int step = 0; step < 6; ++step) {
    SCOPED_TRACE(step);
    p.Both([](Played& x) { x.Step(); });
    EXPECT_EQ(p.refused.movie()->raster.backgroundName, nullptr);
    if (step == 0) first = p.kept.At(100, 100);
    EXPECT_TRUE(first == 0x7C00 || first == 0x001F) << first;
    EXPECT_EQ(p.kept.At(100, 100), first) << "inner as first drawn";
    EXPECT_EQ(p.refused.At(100, 100), first) << "inner as first drawn";
  }
}

// Level 0 holds a "/Background" sprite and a box; level 2, loaded twice, a
// "/Background1" sprite, a wide box under level 0's box. Background sprites
// lie under every level, in level order, whether or not the heap has room
// for their picture.
TEST(PlayerPictures, BackgroundSpritesStackTheSameWithOrWithoutRoom) {
  const Bytes defs = Concat({movie::BoxShape(1, {200, 40, 40}, 1760, 0, 1760, 4160), Box(2, {0, 0, 248}),
                             movie::BoxShape(3, {0, 248, 0}, 0, 0, 800, 800),
                             movie::Sprite(10, 1, Concat({movie::Place(3, 1, 0, 0), movie::ShowFrame(), movie::End()})),
                             movie::Sprite(11, 1, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::End()}))});
  const Bytes lower = MovieOf(defs, {Concat({movie::Background(255, 255, 255), PlaceNamed(10, 1, "Background"),
                                             movie::Place(2, 2, 2000, 1000)}),
                                     movie::MoveTo(2, 2100, 1100), movie::MoveTo(2, 2000, 1000)});
  const Bytes upper = MovieOf(defs, {PlaceNamed(11, 1, "Background1"), {}});
  TwoPlays p(lower);
  ASSERT_EQ(p.kept.opened, 0u);
  ASSERT_EQ(p.refused.opened, 0u);
  p.Both([](Played& x) { x.Key(9); });  // loop
  p.Both([](Played& x) { x.Key(8); });
  p.Squeeze();
  auto load = [&](Played& x) {
    ASSERT_EQ(AnimMovie_ReplaceLevel(x.movie(), false, 2, upper.data(), static_cast<uint32_t>(upper.size())), 1u);
  };
  p.Both(load);
  p.Both([](Played& x) { x.Step(); });
  p.Both(load);
  for (uint32_t key : {0u, 7u, 0u, 0u, 8u, 0u, 0u}) {
    SCOPED_TRACE(key);
    p.Both([key](Played& x) {
      if (key) x.Key(key);
      else x.Step();
    });
    if (p.kept->highQuality) continue;  // smooth edges blend
    for (Played* x : {&p.kept, &p.refused}) {
      EXPECT_EQ(x->At(20, 20), kGreen);
      EXPECT_EQ(x->At(130, 150), kWideRed);
      EXPECT_EQ(x->At(111, 61), 0x001F) << "level 0's box over level 2's background";
    }
  }
}

// Two "/Background" sprites, each holding a sprite of three frames (red,
// blue, green); a script moves the second at the third frame. Its kept
// drawing goes, and it is drawn again as it stands; the first stays as it
// was first drawn.
TEST(PlayerPictures, AScriptMovingOneBackgroundSpriteLeavesTheOthersKept) {
  const Bytes end = Concat({movie::ShowFrame(), movie::End()});
  const Bytes defs = Concat({Box(1, {248, 0, 0}), Box(2, {0, 0, 248}), Box(3, {0, 248, 0}),
                             movie::Sprite(8, 3, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::RemoveDepth(1),
                                                         movie::Place(2, 1, 0, 0), movie::ShowFrame(), movie::RemoveDepth(1),
                                                         movie::Place(3, 1, 0, 0), end})),
                             movie::Sprite(7, 1, Concat({PlaceNamed(8, 1, "inner"), end}))});
  const Bytes move = Do(Concat({Push("/Background1"), Push("0"), Push("100"), Op(0x23)}));  // _x = 100
  for (const bool room : {true, false}) {
    SCOPED_TRACE(room ? "with a picture" : "without room for one");
    Played p(MovieOf(defs, {Concat({movie::Background(255, 255, 255), PlaceNamed(7, 1, "Background"),
                                    PlaceNamed(7, 2, "Background1", 0, 1000)}),
                            {}, move, {}}));
    ASSERT_EQ(p.opened, 0u);
    std::optional<HeapSqueeze> squeeze;
    if (!room) {
      ASSERT_TRUE(AnimView_SetQuality(p.movie(), false));
      squeeze.emplace(p->heap);
    }
    p.Step();
    const uint16_t first = p.At(5, 5), second = p.At(5, 55);
    EXPECT_EQ(first, second);
    p.Step();  // the script
    EXPECT_EQ(p.At(5, 5), first) << "the first is kept";
    EXPECT_EQ(p.At(5, 55), kWhite) << "the second moved";
    EXPECT_EQ(p.At(105, 55), 0x03E0) << "the second drawn as it stands";
  }
}

// A "/Background" sprite inside another sprite (named by its full path) lies
// under every level too, under the objects of its own level drawn before
// it, with or without room for the picture.
TEST(PlayerPictures, ABackgroundSpriteInsideAnotherLiesUnderEveryLevel) {
  const Bytes end = Concat({movie::ShowFrame(), movie::End()});
  const Bytes defs = Concat({movie::BoxShape(1, {200, 40, 40}, 1760, 0, 1760, 4160), Box(2, {0, 0, 248}),
                             movie::Sprite(10, 1, Concat({movie::Place(1, 1, 0, 0), end})),
                             movie::Sprite(11, 1, Concat({PlaceNamed(10, 1, "/Background3"), end}))});
  TwoPlays p(MovieOf(defs, {Concat({movie::Background(255, 255, 255), movie::Place(2, 2, 2000, 1000),
                                    PlaceNamed(11, 3, "holder")}),
                            movie::MoveTo(2, 2100, 1100), movie::MoveTo(2, 2000, 1000)}));
  ASSERT_EQ(p.kept.opened, 0u);
  ASSERT_EQ(p.refused.opened, 0u);
  p.Both([](Played& x) { x.Key(9); });  // loop
  p.Both([](Played& x) { ASSERT_TRUE(AnimView_SetQuality(x.movie(), false)); });
  p.Squeeze();
  for (int step = 0; step < 4; ++step) {
    SCOPED_TRACE(step);
    p.Both([](Played& x) { x.Step(); });
    for (Played* x : {&p.kept, &p.refused}) {
      EXPECT_EQ(x->At(130, 150), kWideRed);
      EXPECT_EQ(x->At(111, 61), 0x001F) << "the box over the background sprite";
    }
  }
}

}  // namespace

namespace {

// A field of n by n boxes (shape `box`, 2 pixels wide, 2.5 pixels apart):
// sprite `id` shows a row sprite (id - 1) of n boxes n times under one name.
Bytes Field(uint16_t id, uint16_t box, int n) {
  Bytes row, field;
  for (int i = 0; i < n; ++i) {
    row = Concat({row, movie::Place(box, static_cast<uint16_t>(i + 1), 50 * i, 0)});
    field = Concat({field, PlaceNamed(static_cast<uint16_t>(id - 1), static_cast<uint16_t>(i + 1), "r", 0, 50 * i)});
  }
  const Bytes end = Concat({movie::ShowFrame(), movie::End()});
  return Concat({movie::Sprite(static_cast<uint16_t>(id - 1), 1, Concat({row, end})),
                 movie::Sprite(id, 1, Concat({field, end}))});
}

constexpr int32_t kShort = 120;  // a stage short enough for a picture to fit the heap

// Two plays of a movie on the short stage, the second with the heap
// squeezed after opening so that no picture fits.
struct ShortPlays {
  explicit ShortPlays(const Bytes& data, int32_t h = kShort) : whole(data, kW, h), squeezed(data, kW, h) {
    EXPECT_EQ(whole.opened, 0u);
    EXPECT_EQ(squeezed.opened, 0u);
    for (Played* x : {&whole, &squeezed}) EXPECT_TRUE(AnimView_SetQuality(x->movie(), false));
    squeeze.emplace(squeezed->heap, 8192);
  }
  Played whole, squeezed;
  std::optional<HeapSqueeze> squeeze;
};

// A "/Background" sprite holding a field of n by n small red boxes, with a
// blue box moving over it: a field of a thousand shapes plays in the
// player's heap, shows and stays, and the two plays show the same frame.
TEST(PlayerPictures, ABackgroundSpriteOfThousandsOfShapesPlaysInTheHeap) {
  for (const int n : {20, 32}) {
    SCOPED_TRACE(n);
    const Bytes defs = Concat({Box(1, {248, 0, 0}, 40), Box(2, {0, 0, 248}), Field(21, 1, n)});
    ShortPlays p(MovieOf(defs,
                         {Concat({movie::Background(255, 255, 255), PlaceNamed(21, 1, "Background"),
                                  movie::Place(2, 2, 2000, 1000)}),
                          movie::MoveTo(2, 2100, 1100), movie::MoveTo(2, 2000, 1000)},
                         kW, kShort));
    const int last = (50 * (n - 1)) / 20 + 1;  // a pixel inside the last box of a row
    for (int step = 0; step < 4; ++step) {
      SCOPED_TRACE(step);
      for (Played* x : {&p.whole, &p.squeezed}) {
        x->Step();
        ASSERT_FALSE(AnimPlayer_Aborted(x->get())) << (x == &p.whole ? "whole heap" : "squeezed heap");
        EXPECT_EQ(x->At(1, 1), 0x7C00);
        EXPECT_EQ(x->At(last, 1), 0x7C00);
        EXPECT_EQ(x->At(1, std::min(last, 51)), 0x7C00);
        EXPECT_EQ(x->At(170, 115), kWhite);
        EXPECT_EQ(x->At(105, 55), 0x001F);
      }
      // Its draws are kept in either heap; a picture is made only where
      // room is left beside them.
      for (Played* x : {&p.whole, &p.squeezed}) EXPECT_NE(x->movie()->kept->first, nullptr);
      EXPECT_EQ(p.squeezed.movie()->raster.backgroundName, nullptr);
      EXPECT_EQ(FrameDifferences(p.squeezed.frame, p.whole.frame, kW), "");
    }
  }
}

// Two such fields, each a "/Background" sprite of hundreds of draws, and a
// blue box over both. The one placed later goes to the head
// of the list, under the other, whose top half lies over its lower half: both fields and the box show, the same with or without room for
// a picture, step after step.
TEST(PlayerPictures, TwoBackgroundSpritesOfThousandsOfShapesBothShow) {
  constexpr int32_t kShorter = 60;
  const Bytes defs = Concat({Box(1, {248, 0, 0}, 40), Box(3, {0, 248, 0}, 40), Box(2, {0, 0, 248}), Field(21, 1, 24),
                             Field(31, 3, 24)});
  ShortPlays p(MovieOf(defs,
                       {Concat({movie::Background(255, 255, 255), PlaceNamed(31, 1, "Background1", 0, 400),
                                PlaceNamed(21, 2, "Background"), movie::Place(2, 3, 2000, 400)}),
                        movie::MoveTo(3, 2100, 500), movie::MoveTo(3, 2000, 400)},
                       kW, kShorter),
               kShorter);
  for (int step = 0; step < 4; ++step) {
    SCOPED_TRACE(step);
    for (Played* x : {&p.whole, &p.squeezed}) {
      x->Step();
      ASSERT_FALSE(AnimPlayer_Aborted(x->get())) << (x == &p.whole ? "whole heap" : "squeezed heap");
      EXPECT_EQ(x->At(1, 1), 0x7C00) << "the first field";
      EXPECT_EQ(x->At(1, 21), 0x03E0) << "the second field";
      EXPECT_EQ(x->At(105, 25), 0x001F) << "the box over both";
    }
    EXPECT_EQ(FrameDifferences(p.squeezed.frame, p.whole.frame, kW), "");
  }
}

// A "/Background" sprite holding a field of 60 by 60 boxes, 3,600 draws,
// more than the heap can keep, and over it "inner", a sprite of two frames
// (red, then blue). It cannot be shown as first drawn in any heap: the
// step that meets it reports the failure, with or without room for a
// picture, rather than showing it live in one heap and frozen in another.
TEST(PlayerPictures, ABackgroundSpriteTooLargeToKeepFailsTheStepWithOrWithoutRoom) {
  const Bytes end = Concat({movie::ShowFrame(), movie::End()});
  const Bytes defs = Concat({Box(1, {0, 248, 0}, 40), movie::BoxShape(2, {248, 0, 0}, 0, 0, 800, 800),
                             movie::BoxShape(3, {0, 0, 248}, 0, 0, 800, 800), Field(21, 1, 60),
                             movie::Sprite(8, 2, Concat({movie::Place(2, 1, 0, 0), movie::ShowFrame(), movie::RemoveDepth(1),
                                                         movie::Place(3, 1, 0, 0), end})),
                             movie::Sprite(22, 1, Concat({PlaceNamed(8, 2, "inner", 2000, 400), PlaceNamed(21, 1, "f"), end}))});
  ShortPlays p(MovieOf(defs, {movie::Background(255, 255, 255), PlaceNamed(22, 1, "Background"), {}}, kW, kShort));
  for (int step = 0; step < 2; ++step) {
    SCOPED_TRACE(step);
    for (Played* x : {&p.whole, &p.squeezed}) {
      EXPECT_NE(AnimHost_Step(x->get()), 0u) << (x == &p.whole ? "whole heap" : "squeezed heap");
      EXPECT_TRUE(AnimPlayer_Aborted(x->get()));
    }
  }
}

// Kept sprites (draws kept, or too many to keep: the step fails), in the
// root and in a level loaded and then freed, with or without room: closing
// the movie gives back every block.
TEST(PlayerPictures, ClosingGivesBackTheKeptSprites) {
  for (const int n : {4, 60}) {
    for (const bool room : {true, false}) {
      SCOPED_TRACE(std::to_string(n) + (room ? " with room" : " squeezed"));
      const Bytes defs = Concat({Box(1, {248, 0, 0}, 40), Box(2, {0, 0, 248}), Field(21, 1, n)});
      const Bytes data = MovieOf(defs,
                                 {Concat({movie::Background(255, 255, 255), movie::Place(2, 2, 2000, 1000)}),
                                  Concat({PlaceNamed(21, 1, "Background"), movie::MoveTo(2, 2100, 1100)}),
                                  movie::MoveTo(2, 2000, 1000)},
                                 kW, kShort);
      const Bytes level = MovieOf(Concat({Box(1, {0, 248, 0}, 40), Field(21, 1, 4)}),
                                  {PlaceNamed(21, 1, "Background1", 0, 600), {}}, kW, kShort);
      Played p(data, kW, kShort);
      ASSERT_EQ(p.opened, 0u);
      std::optional<HeapSqueeze> squeeze;
      if (!room) squeeze.emplace(p->heap, 8192);
      // Too many draws to keep: the step fails, and what it took is given
      // back all the same.
      const bool fits = n < 60;
      EXPECT_EQ(AnimHost_Step(p.get()) == 0, fits);
      ASSERT_EQ(AnimPlayer_Aborted(p.get()) == 0, fits);
      if (fits) {
        ASSERT_EQ(AnimMovie_ReplaceLevel(p.movie(), false, 1, level.data(), static_cast<uint32_t>(level.size())), 1u);
        p.Step();
        p.Step();
        EXPECT_NE(p.movie()->kept, nullptr);
        AnimMovie_ReplaceLevel(p.movie(), true, 1, nullptr, 0);
        p.Step();
        ASSERT_FALSE(AnimPlayer_Aborted(p.get()));
      }
      squeeze.reset();
      AnimHost_Close(p.get());
      EXPECT_EQ(p->heap.bytesInUse, 0u);
      EXPECT_EQ(AnimHeap_Check(&p->heap), nullptr);
    }
  }
}

// A "/Background" sprite holding "inner", a sprite of two frames (red, then
// blue) over the whole stage: zooming in and out, panning and changing the
// quality redraw it under the new view as it was first drawn, with or
// without room for the picture; only its removal lets it show as it stands.
TEST(PlayerPictures, ZoomPanAndQualityKeepTheBackgroundSpriteAsFirstDrawn) {
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 0, 0, 3520, 4160), movie::BoxShape(2, {0, 0, 248}, 0, 0, 3520, 4160),
                             movie::Sprite(8, 2, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::RemoveDepth(1),
                                                         movie::Place(2, 1, 0, 0), movie::ShowFrame(), movie::End()})),
                             movie::Sprite(7, 1, Concat({PlaceNamed(8, 1, "inner"), movie::ShowFrame(), movie::End()}))});
  std::vector<Bytes> frames(20);
  frames[0] = Concat({movie::Background(255, 255, 255), PlaceNamed(7, 1, "Background")});
  const Bytes data = MovieOf(defs, frames);
  for (const bool room : {true, false}) {
    SCOPED_TRACE(room ? "with room" : "squeezed");
    Played p(data);
    ASSERT_EQ(p.opened, 0u);
    std::optional<HeapSqueeze> squeeze;
    if (!room) squeeze.emplace(p->heap);
    p.Step();
    const uint16_t first = p.At(88, 104);
    ASSERT_TRUE(first == 0x7C00 || first == 0x001F) << first;
    // Zoom in, pan, zoom out, quality on and off, each followed by a step.
    for (const uint32_t key : {18u, 0u, 21u, 0u, 23u, 19u, 0u, 7u, 0u, 8u, 0u, 18u, 18u, 17u, 0u}) {
      SCOPED_TRACE(key);
      if (key) p.Key(key);
      else p.Step();
      ASSERT_FALSE(AnimPlayer_Aborted(p.get()));
      EXPECT_EQ(p.At(88, 104), first) << "inner as first drawn";
    }
  }
}


// A game's tiled background: a "/Background" sprite holding a field of n by
// n tiles (its rows shared under one name) and "inner", a sprite of two
// frames (red, then blue), placed at the movie's second frame.
Bytes TiledBackground(int n) {
  const Bytes end = Concat({movie::ShowFrame(), movie::End()});
  const Bytes defs = Concat({Box(1, {0, 248, 0}, 40), movie::BoxShape(2, {248, 0, 0}, 0, 0, 800, 800),
                             movie::BoxShape(3, {0, 0, 248}, 0, 0, 800, 800), Field(21, 1, n),
                             movie::Sprite(8, 2, Concat({movie::Place(2, 1, 0, 0), movie::ShowFrame(), movie::RemoveDepth(1),
                                                         movie::Place(3, 1, 0, 0), end})),
                             movie::Sprite(22, 1, Concat({PlaceNamed(21, 1, "f"), PlaceNamed(8, 2, "inner", 2000, 400), end}))});
  return MovieOf(defs, {movie::Background(255, 255, 255), PlaceNamed(22, 1, "Background"), {}, {}, {}});
}

// Such a background shows as first drawn in every heap the movie plays in:
// in a whole heap and in heaps squeezed into holes (no picture fits), at
// either quality, inner stays red and every play shows the same frames.
TEST(PlayerPictures, ATiledBackgroundSpriteShowsAsFirstDrawnInEveryHeap) {
  constexpr int kSteps = 4;
  for (int n = 6; n <= 15; ++n) {
    for (const bool high : {true, false}) {
      SCOPED_TRACE(std::to_string(n) + (high ? " tiles a side, high quality" : " tiles a side, low quality"));
      const Bytes data = TiledBackground(n);
      auto open = [&](Played& x) {
        ASSERT_EQ(x.opened, 0u);
        if (!high) {
          ASSERT_TRUE(AnimView_SetQuality(x.movie(), false));
        }
      };
      Played whole(data);
      open(whole);
      std::vector<std::vector<uint16_t>> frames;
      for (int step = 0; step < kSteps; ++step) {
        ASSERT_EQ(AnimHost_Step(whole.get()), 0u);
        EXPECT_EQ(whole.At(110, 30), 0x7C00) << "inner as first drawn, step " << step;
        frames.push_back(whole.frame);
      }
      for (const uint32_t hole : {4096u, 8192u, 16384u, 32768u, 65536u}) {
        SCOPED_TRACE("holes of " + std::to_string(hole));
        Played squeezed(data);
        open(squeezed);
        HeapSqueeze squeeze(squeezed->heap, hole);
        for (int step = 0; step < kSteps; ++step) {
          ASSERT_EQ(AnimHost_Step(squeezed.get()), 0u) << step;
          EXPECT_EQ(squeezed.movie()->raster.backgroundName, nullptr);
          EXPECT_EQ(FrameDifferences(squeezed.frame, frames[static_cast<size_t>(step)], kW), "") << "step " << step;
        }
      }
    }
  }
}


// The heap taken, block by block, while it lives: room left for drawing,
// not for the smooth mode's larger tables.
struct HeapTaken {
  explicit HeapTaken(AnimHeap& h) : heap(h) {
    for (int32_t size : {4096, 256, 16})
      while (void* b = AnimHeap_Malloc(&heap, size)) blocks.push_back(b);
    for (int i = 0; i < 8; ++i) {
      AnimHeap_Free(&heap, blocks.back());
      blocks.pop_back();
    }
  }
  ~HeapTaken() {
    for (void* b : blocks) AnimHeap_Free(&heap, b);
  }
  AnimHeap& heap;
  std::vector<void*> blocks;
};

// A quality change finding no heap for the new mode's tables reports it and
// keeps the old mode; the tiled background stays as first drawn (its draws
// are not given up to make room).
TEST(PlayerPictures, AQualityChangeWithoutRoomKeepsTheBackgroundAsFirstDrawn) {
  Played p(TiledBackground(12));
  ASSERT_EQ(p.opened, 0u);
  ASSERT_TRUE(AnimView_SetQuality(p.movie(), false));
  HeapSqueeze squeeze(p->heap, 32768);
  for (int step = 0; step < 2; ++step) ASSERT_EQ(AnimHost_Step(p.get()), 0u);
  ASSERT_NE(p.movie()->kept, nullptr);
  {
    HeapTaken taken(p->heap);
    EXPECT_NE(AnimPlayer_Command(p.get(), 4, 7), 0u) << "no room for the smooth tables";
  }
  EXPECT_EQ(p->highQuality, 0u);
  EXPECT_EQ(AnimPlayer_Aborted(p.get()), 0u);
  for (int step = 0; step < 3; ++step) {
    ASSERT_EQ(AnimHost_Step(p.get()), 0u);
    EXPECT_EQ(p.At(110, 30), 0x7C00) << "inner as first drawn, step " << step;
  }
}

}  // namespace

// A heap with room for the background picture plays the movie whenever a
// heap with less room does: the picture is only a copy.
TEST(PlayerPictures, MoreRoomNeverFailsWhereLessPlays) {
  const Bytes defs = Concat({movie::BoxShape(1, {248, 0, 0}, 0, 0, 3520, 2000), movie::BoxShape(2, {0, 0, 248}, 0, 0, 3520, 2000),
                             movie::Sprite(8, 2, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::RemoveDepth(1),
                                                         movie::Place(2, 1, 0, 0), movie::ShowFrame(), movie::End()})),
                             movie::Sprite(7, 1, Concat({PlaceNamed(8, 1, "inner"), movie::ShowFrame(), movie::End()}))});
  const Bytes data = MovieOf(defs, {Concat({movie::Background(255, 255, 255), PlaceNamed(7, 1, "Background")}), {}, {}, {}},
                             kW, kShort);
  const int32_t picture = kW * 2 * kShort;
  int32_t played = -1;
  for (int32_t keep = picture - 2048; keep < picture + 4096; keep += 16) {
    Played x(data, kW, kShort);
    ASSERT_EQ(x.opened, 0u);
    ASSERT_TRUE(AnimView_SetQuality(x.movie(), false));
    HeapLeft left(x->heap, keep);
    bool ok = true;
    bool pictured = false;
    for (int step = 0; step < 3 && ok; ++step) {
      ok = AnimHost_Step(x.get()) == 0;
      pictured |= x.movie()->raster.backgroundName != nullptr;
    }
    if (ok && played < 0) played = keep;
    if (played >= 0) {
      EXPECT_TRUE(ok) << keep << " bytes left fail where " << played << " played" << (pictured ? " (picture)" : "");
    }
  }
  EXPECT_GE(played, 0);
}

namespace {

// A shape whose records bring their own styles: a small red box, then new
// styles (one linear gradient, yellow to blue) filling a box of 3000 by
// 2000 twips.
Bytes NewStylesGradientShape(uint16_t id) {
  movie::Records r(1, 0);
  r.Change(-1, 1, -1, true, 0, 0).Box(200, 200);
  r.raw().Bits(0, 1).Bits(16 | 4 | 1, 5).Bits(9, 5).SBits(200, 9).SBits(200, 9).Bits(1, 1).Align();
  r.raw().U8(1).U8(0x10).Matrix(1500, 1000, 6000, 6000).U8(2).U8(0).U8(248).U8(248).U8(0).U8(255).U8(0).U8(0).U8(248);
  r.raw().U8(0).Bits(1, 4).Bits(0, 4);
  r.Change(-1, 1, -1).Box(3000, 2000);
  return movie::ShapeTag(22, id, {{248, 0, 0}}, {}, 1, 0, r.End(), 0, 3400, 0, 2400);
}

}  // namespace

// Such a gradient, over a "/Background" sprite or inside it, takes its ramp
// as it is drawn: a heap that had room for the picture shows it as a heap
// without that room does.
TEST(PlayerPictures, ANewStylesGradientShowsTheSameWithOrWithoutRoomForThePicture) {
  for (const bool inside : {false, true}) {
    SCOPED_TRACE(inside ? "inside the background sprite" : "over the background sprite");
    const Bytes end = Concat({movie::ShowFrame(), movie::End()});
    const Bytes defs =
        Concat({movie::BoxShape(1, {248, 0, 0}, 0, 0, 3520, 2000), NewStylesGradientShape(2),
                movie::Sprite(7, 1, Concat({movie::Place(1, 1, 0, 0), inside ? movie::Place(2, 2, 200, 200) : Bytes{}, end}))});
    const Bytes data = MovieOf(defs,
                               {Concat({movie::Background(255, 255, 255), PlaceNamed(7, 1, "Background"),
                                        inside ? Bytes{} : movie::Place(2, 2, 200, 200)}),
                                {}, {}, {}},
                               kW, kShort);
    const int32_t picture = kW * 2 * kShort;
    std::vector<std::vector<uint16_t>> first;
    int32_t played = -1;
    std::string differing;
    for (int32_t keep = picture - 2048; keep < picture + 4096; keep += 16) {
      Played x(data, kW, kShort);
      ASSERT_EQ(x.opened, 0u);
      ASSERT_TRUE(AnimView_SetQuality(x.movie(), false));
      HeapLeft left(x->heap, keep);
      std::vector<std::vector<uint16_t>> frames;
      for (int step = 0; step < 3; ++step) {
        if (AnimHost_Step(x.get()) != 0) break;
        frames.push_back(x.frame);
      }
      if (frames.size() < 3) continue;
      if (played < 0) {
        played = keep;
        first = frames;
        EXPECT_NE(x.At(100, 50), kWhite) << "the gradient drawn";
        EXPECT_NE(x.At(100, 50), 0x7C00) << "the gradient drawn";
        continue;
      }
      for (size_t step = 0; step < frames.size() && differing.empty(); ++step)
        if (frames[step] != first[step])
          differing = std::to_string(keep) + " bytes left, step " + std::to_string(step) + ": " +
                      FrameDifferences(frames[step], first[step], kW);
    }
    EXPECT_GE(played, 0);
    EXPECT_EQ(differing, "") << "against " << played << " bytes left";
  }
}
