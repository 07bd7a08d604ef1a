// One way to take a block: every block the player takes goes through the
// player's allocator, which lets the copies of what can be drawn again (the
// background picture, the edge caches and their saved bucket arrays) go
// before it refuses a block the player needs. A heap with more room, or a
// play with fewer caches, never fails a step another plays.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "movie_script.h"

namespace {

using movie::Bytes;
using movie::Concat;
using namespace movie::script;

constexpr uint16_t kWhite = 0x7FFF;

// A "/Background" sprite of one box in frame 1 (or later); a shape filled
// with a coded bitmap of side x side pixels from two frames after it on.
Bytes BackgroundAndPhoto(int32_t side, int32_t w = kW, int32_t h = kH, size_t backgroundFrame = 0) {
  const Bytes end = Concat({movie::ShowFrame(), movie::End()});
  const Bytes defs = Concat({movie::BoxShape(1, {0, 120, 240}, 0, 0, 20 * w / 2, 20 * h / 2),
                             movie::Sprite(7, 1, Concat({movie::Place(1, 1, 0, 0), end})), CodedBitmap(9, static_cast<uint16_t>(side),
                                                                                                   static_cast<uint16_t>(side), 5),
                             BitmapBox(10, 9, 8, 8, side, side)});
  std::vector<Bytes> frames(backgroundFrame + 6);
  frames[0] = movie::Background(255, 255, 255);
  frames[backgroundFrame] = Concat({frames[backgroundFrame], PlaceNamed(7, 1, "Background")});
  frames[backgroundFrame + 2] = movie::Place(10, 2, 0, 0);
  return MovieOf(defs, frames, w, h);
}

// Fault 1: the coded bitmap's decoder took its blocks without letting the
// picture go. In a whole heap the picture is made at once; the step that
// first shows the bitmap must play, and so must every step after it.
TEST(PlayerOneAllocator, ACodedBitmapOverABackgroundSpritePlaysInAWholeHeap) {
  for (const int32_t side : {96, 128}) {
    SCOPED_TRACE(side);
    OnStage p(BackgroundAndPhoto(side));
    ASSERT_EQ(p.opened, 0u);
    for (int step = 0; step < 8; ++step) {
      SCOPED_TRACE(step);
      ASSERT_EQ(AnimHost_Step(p.get()), 0u);
      ASSERT_EQ(AnimPlayer_Aborted(p.get()), 0u);
    }
    // The bitmap is shown over the kept sprite, and the kept sprite under it.
    EXPECT_NE(p.At(8 + side / 2, 8 + side / 2), kWhite);
    EXPECT_EQ(p.At(kW - 4, kH - 4), kWhite);
  }
}

// The same at 64 pixels on a stage of 176 x 120 pixels, the background
// sprite coming in the second frame, with the heap's room cut to `keep`
// bytes once the movie is open: a heap with more room never fails where
// one with less plays, whether or not it made the picture (about 42 KB,
// made where the room allows).
TEST(PlayerOneAllocator, MoreRoomNeverFailsACodedBitmapWhereLessPlays) {
  constexpr int32_t kShort = 120;
  const Bytes data = BackgroundAndPhoto(64, kW, kShort, 1);
  int32_t played = -1;
  bool pictured = false;
  std::string failed;
  for (int32_t keep = 30000; keep <= 72000; keep += 512) {
    OnStage x(data, kW, kShort);
    ASSERT_EQ(x.opened, 0u);
    HeapLeft left(x->heap, keep);
    bool ok = true;
    for (int step = 0; step < 5 && ok; ++step) {
      ok = AnimHost_Step(x.get()) == 0;
      pictured |= x.movie()->raster.backgroundName != nullptr;
    }
    if (ok && played < 0) played = keep;
    if (!ok && played >= 0 && failed.empty())
      failed = std::to_string(keep) + " bytes left fail where " + std::to_string(played) + " played";
  }
  EXPECT_GE(played, 0);
  EXPECT_TRUE(pictured) << "some heap made the picture";
  EXPECT_EQ(failed, "");
}

// A shape of n small boxes spread over the stage: its cache holds a run of
// 4 n edges with their fills and the heads of nearly every bucket.
Bytes ManyBoxes(uint16_t id, int32_t n, movie::Solid c) {
  movie::Records r(1, 0);
  for (int32_t i = 0; i < n; ++i) r.Change(-1, 1, -1, true, 100 + (i % 10) * 330, 100 + (i / 10) * 800).Box(160, 160);
  return movie::ShapeTag(2, id, {c}, {}, 1, 0, r.End(), 0, 20 * kW, 0, 20 * kH);
}

// What a play did at each input: whether it failed, and the frame after it.
struct Outcome {
  std::vector<bool> failed;
  std::vector<std::vector<uint16_t>> frames;
};

// Opens the movie in a whole heap, its shape objects keeping their edges as
// their frames decide (or none), and plays the inputs (0 a host step, else
// a user key) until one fails.
Outcome PlayWhole(const Bytes& data, uint32_t cacheMode, const std::vector<uint32_t>& inputs) {
  Outcome out;
  OnStage p(data);
  if (p.opened != 0) {
    out.failed.push_back(true);
    return out;
  }
  for (uint32_t in : inputs) {
    p.movie()->raster.cacheMode = cacheMode;
    const uint32_t result = in ? AnimPlayer_Command(p.get(), 4, in) : AnimHost_Step(p.get());
    const bool failed = result != 0 || AnimPlayer_Aborted(p.get()) != 0;
    out.failed.push_back(failed);
    out.frames.push_back(p.frame);
    if (failed) break;
  }
  return out;
}

// Fault 2: the edge caches and their saved bucket arrays held blocks that a
// block the player needs then could not have. Heavy shapes are kept by
// their edges from the second frame; in the third a "/Background" sprite of
// many tiles is kept (its draws in chunks); then the quality goes up and
// down. A script's text of a chosen length takes part of the heap first:
// at every length, the play keeping edges and the one keeping none fail at
// the same input, or neither, and show the same frames until then.
TEST(PlayerOneAllocator, CachesOnAndOffFailAtTheSameInputInAWholeHeap) {
  const Bytes end = Concat({movie::ShowFrame(), movie::End()});
  Bytes tiles;
  for (uint16_t i = 0; i < 240; ++i) tiles = Concat({tiles, movie::Place(3, static_cast<uint16_t>(i + 1), (i % 20) * 170, (i / 20) * 340)});
  const Bytes defs = Concat({ManyBoxes(1, 60, {200, 0, 0}), ManyBoxes(2, 60, {0, 160, 0}), Box(3, {0, 0, 200}, 120),
                             Box(4, {200, 200, 0}, 600), movie::Sprite(30, 1, Concat({tiles, end}))});
  const std::vector<uint32_t> inputs{0, 0, 0, 0, 0, 0, 0, 0, 0};
  uint32_t lengths = 0, failedAlike = 0;
  std::string parted;
  for (uint32_t length = 1000; length <= 64000 && parted.empty(); length += 500) {
    const Bytes ballast = Do(Set("/:b", Push(std::string(length, 'x'))));
    const Bytes data = MovieOf(defs, {Concat({movie::Background(255, 255, 255), ballast, movie::Place(1, 10, 0, 0),
                                              movie::Place(2, 11, 60, 200), movie::Place(1, 12, 200, 2000),
                                              movie::Place(4, 20, 0, 0)}),
                                      movie::MoveTo(20, 400, 400), Concat({PlaceNamed(30, 1, "Background"), movie::MoveTo(20, 800, 800)}),
                                      movie::MoveTo(20, 1200, 1200), movie::MoveTo(20, 1600, 1600), movie::MoveTo(20, 2000, 2000)});
    const Outcome cached = PlayWhole(data, kAnimCacheByFrame, inputs), uncached = PlayWhole(data, kAnimCacheNone, inputs);
    ++lengths;
    if (cached.failed.size() == 1 && cached.failed[0] && uncached.failed.size() == 1 && uncached.failed[0]) break;  // no room to open
    if (!uncached.failed.empty() && uncached.failed.back()) ++failedAlike;
    for (size_t i = 0; i < cached.failed.size() && i < uncached.failed.size() && parted.empty(); ++i) {
      if (cached.failed[i] != uncached.failed[i])
        parted = "text of " + std::to_string(length) + ": input " + std::to_string(i) + " failed only " +
                 (cached.failed[i] ? "keeping edges" : "keeping none");
      else if (!cached.failed[i] && cached.frames[i] != uncached.frames[i])
        parted = "text of " + std::to_string(length) + ": input " + std::to_string(i) + ": " +
                 FrameDifferences(uncached.frames[i], cached.frames[i], kW);
    }
    if (parted.empty() && cached.failed.size() != uncached.failed.size()) parted = "text of " + std::to_string(length) + ": one play went further";
  }
  EXPECT_EQ(parted, "");
  // The lengths reach from plays that play every input to plays that fail.
  EXPECT_GT(failedAlike, 0u);
  EXPECT_GT(lengths, failedAlike + 3);
}

// A shape of 30 boxes keeping its edges beside a "/Background" sprite of
// one box, and a box moving over both.
Bytes BoxesOverABackground() {
  const Bytes end = Concat({movie::ShowFrame(), movie::End()});
  const Bytes defs = Concat({ManyBoxes(1, 30, {200, 0, 0}), Box(2, {0, 0, 200}, 600),
                             movie::Sprite(7, 1, Concat({movie::Place(2, 1, 0, 0), end}))});
  return MovieOf(defs, {Concat({movie::Background(255, 255, 255), PlaceNamed(7, 1, "Background"), movie::Place(1, 2, 0, 0),
                                movie::Place(2, 3, 0, 0)}),
                        movie::MoveTo(3, 400, 400), movie::MoveTo(3, 800, 800), movie::MoveTo(3, 1200, 1200)});
}

// The allocator's three kinds of block in a heap with no room left: a copy
// makes nothing give way and goes without; a block the player needs has
// the picture and every edge cache let go first, and is refused (the abort
// flag set) only when that is not enough.
TEST(PlayerOneAllocator, CopiesGiveWayOnlyForWhatThePlayerNeeds) {
  OnStage p(BoxesOverABackground());
  ASSERT_EQ(p.opened, 0u);
  for (int step = 0; step < 2; ++step) ASSERT_EQ(AnimHost_Step(p.get()), 0u);
  AnimRaster& r = p.movie()->raster;
  ASSERT_NE(r.keptCaches, nullptr) << "the boxes keep their edges";
  ASSERT_NE(r.backgroundImage, nullptr) << "the background sprite's picture is made";
  // Every block the heap can give, down to its smallest.
  std::vector<void*> taken;
  for (int32_t size = 65536; size >= 1; size /= 2)
    while (void* b = AnimHeap_Malloc(&p->heap, size)) taken.push_back(b);
  EXPECT_EQ(AnimPlayer_AllocCopy(p.get(), 64), nullptr);
  EXPECT_NE(r.keptCaches, nullptr);
  EXPECT_NE(r.backgroundImage, nullptr);
  EXPECT_EQ(AnimPlayer_TryAlloc(p.get(), 3000000), nullptr) << "more than the arena";
  EXPECT_EQ(AnimPlayer_Aborted(p.get()), 0u) << "a draw's block refused sets no flag";
  EXPECT_EQ(r.keptCaches, nullptr) << "but the copies were let go first";
  EXPECT_EQ(r.backgroundImage, nullptr);
  // What the copies held is taken too: nothing is left to give way.
  for (int32_t size = 65536; size >= 1; size /= 2)
    while (void* b = AnimHeap_Malloc(&p->heap, size)) taken.push_back(b);
  EXPECT_EQ(AnimPlayer_Alloc(p.get(), 64), nullptr);
  EXPECT_EQ(AnimPlayer_Aborted(p.get()), 1u);
  for (void* b : taken) AnimHeap_Free(&p->heap, b);
  p->heap.abortFlag = 0;
  // With room again the movie plays on, making its picture and caches anew.
  for (int step = 0; step < 2; ++step) ASSERT_EQ(AnimHost_Step(p.get()), 0u);
  EXPECT_NE(r.backgroundImage, nullptr);
}

// A copy in a heap that has room for it is taken; the needed block that
// only the copies' room can hold is had by letting them go.
TEST(PlayerOneAllocator, ANeededBlockTakesTheRoomOfTheCopies) {
  OnStage p(BoxesOverABackground());
  ASSERT_EQ(p.opened, 0u);
  for (int step = 0; step < 2; ++step) ASSERT_EQ(AnimHost_Step(p.get()), 0u);
  AnimRaster& r = p.movie()->raster;
  ASSERT_NE(r.backgroundImage, nullptr);
  std::vector<void*> taken;
  for (int32_t size = 65536; size >= 1; size /= 2)
    while (void* b = AnimHeap_Malloc(&p->heap, size)) taken.push_back(b);
  // The picture's own block, and more than any hole left.
  void* needed = AnimPlayer_Alloc(p.get(), kW * kH * 2 - 64);
  EXPECT_NE(needed, nullptr);
  EXPECT_EQ(AnimPlayer_Aborted(p.get()), 0u);
  EXPECT_EQ(r.backgroundImage, nullptr);
  AnimPlayer_Free(p.get(), needed);
  for (void* b : taken) AnimHeap_Free(&p->heap, b);
  for (int step = 0; step < 2; ++step) ASSERT_EQ(AnimHost_Step(p.get()), 0u);
}

// A heap with the bytes but no hole for a whole chunk of kept draws keeps
// them in shorter chunks: the "/Background" sprite of many tiles shows as
// in a whole heap.
TEST(PlayerOneAllocator, KeptDrawsTakeTheHolesTheHeapHas) {
  const Bytes end = Concat({movie::ShowFrame(), movie::End()});
  Bytes tiles;
  for (uint16_t i = 0; i < 40; ++i) tiles = Concat({tiles, movie::Place(3, static_cast<uint16_t>(i + 1), (i % 8) * 420, (i / 8) * 800)});
  const Bytes data = MovieOf(Concat({Box(3, {0, 0, 200}, 300), Box(4, {200, 0, 0}, 400), movie::Sprite(30, 1, Concat({tiles, end}))}),
                             {Concat({movie::Background(255, 255, 255), movie::Place(4, 5, 0, 0)}),
                              Concat({PlaceNamed(30, 1, "Background"), movie::MoveTo(5, 600, 600)}), movie::MoveTo(5, 1200, 1200),
                              movie::MoveTo(5, 1800, 1800)});
  OnStage whole(data), holed(data);
  ASSERT_EQ(whole.opened, 0u);
  ASSERT_EQ(holed.opened, 0u);
  // Every other block of 600 bytes given back: holes the display objects
  // fit in, not a chunk of twelve draws (880 bytes).
  std::vector<void*> taken;
  while (void* b = AnimHeap_Malloc(&holed->heap, 592)) taken.push_back(b);
  for (int32_t size = 512; size >= 1; size /= 2)
    while (void* b = AnimHeap_Malloc(&holed->heap, size)) taken.push_back(b);
  std::sort(taken.begin(), taken.end());
  for (size_t i = 0; i < taken.size(); i += 2) {
    AnimHeap_Free(&holed->heap, taken[i]);
    taken[i] = nullptr;
  }
  for (int step = 0; step < 3; ++step) {
    SCOPED_TRACE(step);
    ASSERT_EQ(AnimHost_Step(whole.get()), 0u);
    ASSERT_EQ(AnimHost_Step(holed.get()), 0u);
    EXPECT_EQ(FrameDifferences(holed.frame, whole.frame, kW), "");
  }
  ASSERT_NE(holed.movie()->kept, nullptr);
  EXPECT_LT(holed.movie()->kept->first->capacity, kAnimKeptChunkDraws) << "kept in shorter chunks";
  EXPECT_EQ(whole.movie()->kept->first->capacity, kAnimKeptChunkDraws);
  for (void* b : taken) AnimHeap_Free(&holed->heap, b);
}

// Found by the cross-play check's coded bitmaps: levels are movies of
// their own, whose bitmap characters may share an id. Each level's box
// shows its own bitmap, not the one decoded first under that id.
TEST(PlayerOneAllocator, LevelsBitmapsOfOneIdShowTheirOwnPixels) {
  const auto movieWith = [](uint32_t seed, int32_t at) {
    return MovieOf(Concat({CodedBitmap(9, 32, 32, seed), BitmapBox(10, 9, at, at, 32, 32)}),
                   {Concat({movie::Background(255, 255, 255), movie::Place(10, 1, 0, 0)}), {}, {}});
  };
  const Bytes root = movieWith(3, 10), level = movieWith(77, 100);
  OnStage both(root), rootAlone(root), levelAlone(level);
  ASSERT_EQ(both.opened, 0u);
  ASSERT_EQ(rootAlone.opened, 0u);
  ASSERT_EQ(levelAlone.opened, 0u);
  ASSERT_EQ(AnimMovie_ReplaceLevel(both.movie(), false, 1, level.data(), static_cast<uint32_t>(level.size())), 1u);
  for (OnStage* p : {&both, &rootAlone, &levelAlone})
    for (int step = 0; step < 2; ++step) ASSERT_EQ(AnimHost_Step(p->get()), 0u);
  std::string differing;
  for (int32_t y = 0; y < 32 && differing.empty(); ++y)
    for (int32_t x = 0; x < 32 && differing.empty(); ++x) {
      if (both.At(10 + x, 10 + y) != rootAlone.At(10 + x, 10 + y)) differing = "root's box at " + std::to_string(x) + "," + std::to_string(y);
      if (both.At(100 + x, 100 + y) != levelAlone.At(100 + x, 100 + y))
        differing = "level's box at " + std::to_string(x) + "," + std::to_string(y);
    }
  EXPECT_EQ(differing, "");
}

}  // namespace
