// What the host is shown after every step, key and command equals a whole
// uncached redraw of the movie as it then stands: movies played with the
// edge caches on and off, across zoom, pan and quality changes, with levels
// loaded, replaced and removed and with background sprites in any level.
// The frames of the two players must also agree with each other.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "movie_script.h"

namespace {

using movie::Bytes;
using movie::Concat;
using namespace movie::script;

// n closed squares of 4 edges in one shape, scattered over the stage.
Bytes ManyEdges(uint16_t id, int count, int32_t offset, movie::Solid colour) {
  movie::Records r(1, 0);
  for (int i = 0; i < count; ++i)
    r.Change(-1, 1, -1, true, offset + (i % 15) * 220, offset + (i / 15) * 200).To(90, 0).To(0, 90).To(-90, 0).To(0, -90);
  return movie::ShapeTag(2, id, {colour}, {}, 1, 0, r.End());
}

// A blob of curves, subdivided more the larger it is drawn.
Bytes Curves(uint16_t id, movie::Solid colour) {
  movie::Records r(1, 0);
  r.Change(-1, 1, -1, true, 400, 0).Curve(400, 0, 0, 400).Curve(0, 400, -400, 0).Curve(-400, 0, 0, -400).Curve(0, -400, 400, 0);
  return movie::ShapeTag(2, id, {colour}, {}, 1, 0, r.End());
}

Bytes Bg(uint16_t sprite, uint16_t shape) {
  return movie::Sprite(sprite, 1, Concat({movie::Place(shape, 1, 0, 0), movie::ShowFrame(), movie::End()}));
}

enum class Act { kStep, kKey, kLevel, kRemoveLevel };
struct Action {
  Act op;
  uint32_t value = 0;  // the key, or the level
  const Bytes* data = nullptr;
};

Action S() { return {Act::kStep}; }
Action K(uint32_t key) { return {Act::kKey, key}; }

struct Playing {
  explicit Playing(const Bytes& data, uint32_t cacheMode) : player(data) {
    player.frame.assign(static_cast<size_t>(kW) * kH, 0);
    int32_t w = kW, h = kH;
    opened = AnimHost_Open(player.get(), player.bytes.data(), player.frame.data(), player.work.data(),
                           static_cast<uint32_t>(player.bytes.size()), &w, &h);
    mode = cacheMode;
    Keep();
  }
  ~Playing() { AnimHost_Close(player.get()); }
  // The raster is made again by a quality change; the way of drawing stays.
  void Keep() {
    if (player.movie()) player.movie()->raster.cacheMode = mode;
  }
  void Do(const Action& a) {
    switch (a.op) {
      case Act::kStep: AnimHost_Step(player.get()); break;
      case Act::kKey: AnimPlayer_Command(player.get(), 4, a.value); break;
      case Act::kLevel:
        AnimMovie_ReplaceLevel(player.movie(), false, a.value, a.data->data(), static_cast<uint32_t>(a.data->size()));
        break;
      case Act::kRemoveLevel: AnimMovie_ReplaceLevel(player.movie(), true, a.value, nullptr, 0); break;
    }
    Keep();
  }
  MoviePlayer player;
  uint32_t opened = 99, mode = 0;
};

constexpr uint16_t kRedBox = 1, kBlueBox = 2, kWide = 3, kEdges = 4;

Bytes Shapes() {
  return Concat({movie::Background(255, 255, 255), movie::BoxShape(kRedBox, {248, 0, 0}, 0, 0, 400, 400),
                 movie::BoxShape(kBlueBox, {0, 0, 248}, 0, 0, 400, 400),
                 movie::BoxShape(kWide, {200, 40, 40}, 1760, 0, 1760, 4160)});
}

struct Case {
  const char* what;
  Bytes movie;
  std::vector<Action> actions;
};

// whole: also compare every frame shown with a whole uncached redraw.
void Play(const std::vector<Case>& cases, bool whole = true) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Playing cached(c.movie, 0), uncached(c.movie, 1);
    ASSERT_EQ(cached.opened, 0u);
    ASSERT_EQ(uncached.opened, 0u);
    for (size_t i = 0; i < c.actions.size(); ++i) {
      SCOPED_TRACE("after action " + std::to_string(i));
      for (Playing* run : {&cached, &uncached}) {
        run->Do(c.actions[i]);
        // A level changes what the next step draws; until then the host is
        // shown the frame before.
        if (whole && (c.actions[i].op == Act::kStep || c.actions[i].op == Act::kKey))
          ExpectShownIsWholeRedraw(run->player.get());
      }
      EXPECT_EQ(FrameDifferences(cached.player.frame, uncached.player.frame, kW), "")
          << "cached against uncached frames";
    }
  }
}

struct Movies {
  Movies();
  Bytes heavy, level1, level2, base;
};

Movies::Movies() {
  // Five shapes of 300 edges, a curve blob, and a box moving every frame.
  heavy = Concat({movie::Background(255, 255, 255), movie::BoxShape(kRedBox, {248, 0, 0}, 0, 0, 400, 400)});
  Bytes heavyFrame0 = movie::Place(kRedBox, 20, 0, 0);
  for (uint16_t i = 0; i < 5; ++i) {
    heavy = Concat({heavy, ManyEdges(static_cast<uint16_t>(10 + i), 75, 40 * i, {uint8_t(40 * i), 160, uint8_t(200 - 30 * i)})});
    heavyFrame0 = Concat({heavyFrame0, movie::Place(static_cast<uint16_t>(10 + i), static_cast<uint16_t>(1 + i), 0, 0)});
  }
  heavy = Concat({heavy, Curves(20, {20, 20, 200})});
  heavyFrame0 = Concat({heavyFrame0, movie::Place(20, 10, 1200, 1200)});
  std::vector<Bytes> heavyFrames{heavyFrame0};
  for (int i = 1; i < 14; ++i) heavyFrames.push_back(movie::MoveTo(20, 160 * i, 100 * i));
  heavy = MovieOf(heavy, heavyFrames);

  // A level whose "/Background" sprite holds a sprite of its own.
  const Bytes nested = movie::Sprite(31, 1, Concat({movie::Place(kBlueBox, 1, 0, 0), movie::ShowFrame(), movie::End()}));
  const Bytes bgWithChild = movie::Sprite(30, 1, Concat({movie::Place(kWide, 1, 0, 0), PlaceNamed(31, 2, "inner", 400, 2000),
                                                         movie::ShowFrame(), movie::End()}));
  const Bytes moveBg = MoveBackground();
  level1 = MovieOf(Concat({Shapes(), nested, bgWithChild}),
                               {Concat({PlaceNamed(30, 1, "Background"), movie::Place(kRedBox, 2, 2400, 600)}), moveBg,
                                movie::MoveTo(2, 2600, 800), moveBg});
  level2 = MovieOf(Shapes(), {movie::Place(kBlueBox, 1, 3000, 3000), movie::MoveTo(1, 3000, 2600)});
  base = MovieOf(Concat({Shapes(), Bg(40, kWide)}),
                             {Concat({movie::Place(kBlueBox, 1, 0, 0), movie::Place(kRedBox, 2, 600, 3000)}),
                              movie::MoveTo(2, 800, 3000), movie::MoveTo(2, 1000, 3200), PlaceNamed(40, 3, "Background"),
                              movie::MoveTo(2, 1200, 3400), movie::RemoveDepth(3), movie::MoveTo(2, 1400, 3400), {}});

}

// Caption and quality changes between steps, at zoom 1 and zoomed in.
const std::vector<Action> kQuality{S(), S(), K(6), S(), K(7), S(), S(), K(8), S(), K(7), S(), K(18), S(), S(), K(8), S(), S()};
// Zoom in and out and pans (the order of user commands).
const std::vector<Action> kPans{S(), K(18), S(), K(22), S(), S(), K(21), S(), K(19), S(), K(23), S(), S(),
                                K(20), S(), K(6), S(), K(7), S(), S(), K(18), S(), K(23), S(), K(8), S(), S()};

// Levels loaded, replaced and loaded again, with a view change between.
std::vector<Action> Levels(const Movies& m, uint32_t view) {
  return {S(), {Act::kLevel, 1, &m.level1}, S(), S(), {Act::kLevel, 2, &m.level2}, K(18), S(),
          K(7), S(), {Act::kLevel, 1, &m.level1}, S(), K(view), S(), K(8), S(), S(), S()};
}

TEST(PlayerShown, EveryFrameShownIsAWholeRedraw) {
  const Movies m;
  const std::vector<Action> levels = Levels(m, 22);
  Play({
      {"levels with background sprites", m.base, levels},
      {"a background sprite and its child, smooth and plain", m.level1, kQuality},
      {"a background sprite and its child after pans", m.level1, kPans},
      {"a level's movie played alone", m.level2, kPans},
      // A step redraws part of the frame; a span cut at its edge once left
      // the pixels at either end of the many squares' spans undrawn.
      {"edges enough to fill the pool, smooth and plain", m.heavy, kQuality},
      {"steps after pans", m.heavy, kPans},
      {"levels over edges enough to fill the pool", m.heavy, Levels(m, 19)},
      // The heap had room for the background picture in one play and not in
      // the other: the sprite without it was drawn over the lower levels.
      {"levels with background sprites, zoomed out", m.base, Levels(m, 19)},
      // A removed level was let go before the redraw looked for it: nothing
      // was redrawn, and its pictures stayed.
      {"a step after the level of the background sprite went", m.base,
       {S(), {Act::kLevel, 1, &m.level1}, S(), S(), {Act::kLevel, 2, &m.level2}, K(18), S(), K(7), S(),
        {Act::kLevel, 1, &m.level1}, S(), K(22), S(), {Act::kRemoveLevel, 1}, S(), S()}},
  });
}

// Whatever the view, a frame drawn with the edge caches is the frame drawn
// without them.
TEST(PlayerShown, CachedFramesAreUncachedFramesAcrossPans) {
  const Movies m;
  Play({{"edges enough to fill the pool", m.heavy, kPans}, {"a background sprite and its child", m.level1, kPans}},
       false);
}

}  // namespace
