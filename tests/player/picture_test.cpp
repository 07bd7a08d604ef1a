// Background pictures of sprites in more than one level: the frame shows the
// levels in their order whatever picture was kept before.
#include <gtest/gtest.h>

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

}  // namespace
