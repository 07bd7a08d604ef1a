// The work of a host step, a key or a pointer event is bounded: a movie
// that would take it without end ends its step where the work runs out,
// the same way each time, and an ordinary movie never comes near.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "movie_script.h"
#include "step_movies.h"

namespace {

using movie::Bytes;
using movie::Concat;
using namespace movie::script;

constexpr uint16_t kRed = 0x7C00, kWhite = 0x7FFF;

// Two players of one movie, stepped alike.
struct Twins {
  explicit Twins(const Bytes& data) : a(data), b(data) {}
  OnStage a, b;
};

// What a step left: the frame, each clip's frame on the way down the
// root's list, and the trace.
std::string State(OnStage& p) {
  std::string out = p.Var("/:n") + "|";
  for (AnimDisplayObject* o = p.root()->list.first; o; o = o->next)
    if (o->clip) out += std::to_string(o->clip->currentFrame) + ",";
  return out;
}

// The switching copies without runners loop only in the root's one frame,
// at the opening; with runners, at every step. Two players of one movie
// end each step with the same work left, the same frame and state.
TEST(PlayerStepWork, MoviesWithoutEndEndEachStepTheSameWay) {
  struct Case {
    const char* name;
    Bytes movie;
    bool everyStep;
  };
  const Case cases[] = {{"switching copies, no runner", movie::SwitchingCopies(40, 40, 0), false},
                        {"switching copies, 4 runners", movie::SwitchingCopies(40, 40, 4), true},
                        {"switching copies, 16 runners", movie::SwitchingCopies(40, 40, 16), true},
                        {"copies of copies, 15 deep", movie::CopiesOfCopies(15, 8), true},
                        {"copies of boxes, 12 deep", movie::CopiesOfCopies(12, 4, 1000), true},
                        // Their edges are the work: offered, placed in order, walked row by row.
                        {"grass, outlines left to right", movie::GrassField(899, 40, 40, false), true},
                        {"grass, outlines right side first", movie::GrassField(899, 40, 40, true), true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Twins t(c.movie);
    ASSERT_EQ(t.a.opened, 0u);
    ASSERT_EQ(t.b.opened, 0u);
    EXPECT_EQ(t.a->workRanOut, 1u);  // the opening too
    for (int step = 0; step < 2; ++step) {
      SCOPED_TRACE(step);
      const uint32_t before = t.a->workRanOut;
      EXPECT_EQ(AnimHost_Step(t.a.get()), 0u);
      EXPECT_EQ(AnimHost_Step(t.b.get()), 0u);
      EXPECT_EQ(t.a->workRanOut, before + (c.everyStep ? 1 : 0));
      EXPECT_EQ(t.a->workRanOut, t.b->workRanOut);
      EXPECT_EQ(t.a->workLeft, t.b->workLeft);
      EXPECT_EQ(FrameDifferences(t.a.frame, t.b.frame, kW), "");
      EXPECT_EQ(State(t.a), State(t.b));
    }
  }
}

// Runs of several clips in one step share its work: sprites each looping
// for ever in their frame actions, counting in "/:n", count no further
// together than the step's work allows one of them.
TEST(PlayerStepWork, RunsOfOneStepShareItsWork) {
  const Bytes count = Set("/:n", Concat({Push("/:n"), Op(0x1C), Push("1"), Op(0x0A)}));
  constexpr int kActionsPerRound = 7;  // push, push, get, push, add, set, jump
  const Bytes loop = movie::Actions(
      Concat({count, movie::Jump(0x99, static_cast<int16_t>(-(static_cast<int>(count.size()) + 5))), movie::EndActions()}));
  Bytes defs = movie::Sprite(60, 1, Concat({loop, movie::ShowFrame(), movie::End()}));
  Bytes places;
  for (uint16_t i = 0; i < 8; ++i) places = Concat({places, PlaceNamed(60, static_cast<uint16_t>(i + 1), "r" + std::to_string(i))});
  OnStage p(MovieOf(defs, {places, {}}));
  ASSERT_EQ(p.opened, 0u);
  p->workRanOut = 0;
  const int before = std::stoi("0" + p.Var("/:n"));
  EXPECT_EQ(AnimHost_Step(p.get()), 0u);
  EXPECT_EQ(p->workRanOut, 1u);
  EXPECT_LE(std::stoi(p.Var("/:n")) - before, static_cast<int>(kAnimStepWork * kAnimActionsPerWork / kActionsPerRound) + 1);
  EXPECT_GT(std::stoi(p.Var("/:n")) - before, 0);
}

// A clip of 130 boxes shown 130 times, its first box moving at every step,
// is an ordinary movie: every step draws all of it and leaves work over.
TEST(PlayerStepWork, ALargeFieldOfCopiesNeverRunsOut) {
  OnStage p(movie::CopyField(130, 130));
  ASSERT_EQ(p.opened, 0u);
  for (int step = 0; step < 4; ++step) {
    p.Step();
    EXPECT_GT(p->workLeft, kAnimStepWork / 2);
  }
  EXPECT_EQ(p->workRanOut, 0u);
}

// Blades of grass standing still keep their edges every other step, each
// needing the whole pool: each draw empties it, and lets go only the caches
// kept since, not walking the movie's objects. Steps are walked as they
// would be without the caches: once, for the blade's dot moved in each.
TEST(PlayerStepWork, EmptyingThePoolWalksNoObject) {
  OnStage p(movie::GrassField(899, 10, 10, false, true));
  ASSERT_EQ(p.opened, 0u);
  for (int step = 0; step < 4; ++step) {
    const uint64_t walked = p.movie()->treeVisits, drawn = p.movie()->drawVisits;
    p.Step();
    EXPECT_EQ(p->workRanOut, 0u);
    EXPECT_LE(p.movie()->treeVisits - walked, (p.movie()->drawVisits - drawn) / 2) << step;
  }
}

// A sprite whose one frame's actions loop for ever, counting in "/:n",
// and a red box beside it in the root.
Bytes RunawayOverABox() {
  const Bytes count = Set("/:n", Concat({Push("/:n"), Op(0x1C), Push("1"), Op(0x0A)}));
  const Bytes loop = movie::Actions(
      Concat({count, movie::Jump(0x99, static_cast<int16_t>(-(static_cast<int>(count.size()) + 5))), movie::EndActions()}));
  const Bytes defs = Concat({movie::Background(255, 255, 255), Box(1, {248, 0, 0}),
                             movie::Sprite(60, 1, Concat({loop, movie::ShowFrame(), movie::End()}))});
  return MovieOf(defs, {Concat({movie::Place(1, 1, 2000, 2000), PlaceNamed(60, 2, "r")})});
}

// A movie opened on the stage, its shapes drawn with the edge caches as
// the frame decides (0) or with none (1).
struct Drawn : OnStage {
  Drawn(const Bytes& data, uint32_t cacheMode) : OnStage(data), mode(cacheMode) { Keep(); }
  void Keep() {
    if (movie()) movie()->raster.cacheMode = mode;
  }
  uint32_t mode;
};

// A change of quality there and back, which lets every cache go; the
// stage's cache mode is set again after it.
template <typename Stage>
void RequalifyKeepingMode(Stage& stage) {
  AnimView_SetQuality(stage.movie(), false);
  AnimView_SetQuality(stage.movie(), true);
  stage.Keep();
}

// The script takes what the step may spend on actions; what is left draws
// the frame, whichever way the shapes are drawn.
TEST(PlayerStepWork, ARunawayScriptStillShowsItsFrame) {
  Drawn cached(RunawayOverABox(), 0), uncached(RunawayOverABox(), 1);
  ASSERT_EQ(cached.opened, 0u);
  ASSERT_EQ(uncached.opened, 0u);
  EXPECT_EQ(cached.At(105, 105), kRed) << "the opening";
  for (int step = 0; step < 2; ++step) {
    SCOPED_TRACE(step);
    const uint32_t before = cached->workRanOut;
    for (Drawn* d : {&cached, &uncached}) {
      EXPECT_EQ(AnimHost_Step(d->get()), 0u);
      ExpectShownIsWholeRedraw(d->get());
    }
    EXPECT_EQ(cached->workRanOut, before + 1);
    EXPECT_EQ(cached.At(105, 105), kRed);
    EXPECT_EQ(cached.At(5, 5), kWhite);
    EXPECT_EQ(FrameDifferences(cached.frame, uncached.frame, kW), "");
    EXPECT_EQ(cached.Var("/:n"), uncached.Var("/:n"));
  }
}

// A red box standing still in the root (which stops in its second frame),
// and sprite "m" showing sprite 40
// (forty boxes) as "c", moved in its second frame. A one-frame sprite's
// actions switch "m" between its frames for ever, counting in "/:n": each
// switch moves "c", which lets the caches of what it shows go.
Bytes RunawayMoves() {
  Bytes inner;
  for (int i = 0; i < 40; ++i) inner = Concat({inner, movie::Place(2, static_cast<uint16_t>(i + 1), 20 * (i % 8), 20 * (i / 8))});
  const Bytes body = Concat({Set("/:n", Concat({Push("/:n"), Op(0x1C), Push("1"), Op(0x0A)})), movie::Action(0x8B, Bytes{'/', 'm', 0}),
                             movie::GotoFrame(1), movie::GotoFrame(0), movie::Action(0x8B, Bytes{0})});
  const Bytes loop =
      movie::Actions(Concat({body, movie::Jump(0x99, static_cast<int16_t>(-(static_cast<int>(body.size()) + 5))), movie::EndActions()}));
  const Bytes defs = Concat({movie::Background(255, 255, 255), Box(1, {248, 0, 0}), movie::BoxShape(2, {0, 0, 248}, 0, 0, 200, 200),
                             movie::Sprite(40, 1, Concat({inner, movie::ShowFrame(), movie::End()})),
                             movie::Sprite(50, 2, Concat({PlaceNamed(40, 1, "c"), movie::ShowFrame(), movie::MoveTo(1, 400, 400),
                                                          movie::ShowFrame(), movie::End()})),
                             movie::Sprite(60, 1, Concat({loop, movie::ShowFrame(), movie::End()}))});
  return MovieOf(defs, {Concat({movie::Place(1, 1, 2000, 2000), PlaceNamed(50, 2, "m", 0, 2400), PlaceNamed(60, 3, "r")}),
                        Do(Op(0x07))});
}

// Played with the edge caches, without, and short of heap, each step of a
// script moving a sprite for ever ends at the same place and shows the same
// frame, also after a change of quality has let every cache go.
TEST(PlayerStepWork, CachesOnOrOffRunOutAlike) {
  const Bytes data = RunawayMoves();
  Drawn cached(data, 0), uncached(data, 1), short_(data, 0);
  ASSERT_EQ(cached.opened, 0u);
  ASSERT_EQ(uncached.opened, 0u);
  ASSERT_EQ(short_.opened, 0u);
  // Short of heap: no cache is kept, and every draw lets all caches go.
  AnimHeap& heap = short_->heap;
  while (heap.end - heap.bytesInUse > 24000) ASSERT_NE(AnimHeap_Alloc(&heap, 512), nullptr);
  for (int step = 0; step < 6; ++step) {
    SCOPED_TRACE(step);
    for (Drawn* d : {&cached, &uncached, &short_}) {
      if (step == 2) RequalifyKeepingMode(*d);
      EXPECT_EQ(AnimHost_Step(d->get()), 0u);
    }
    for (Drawn* d : {&uncached, &short_}) {
      SCOPED_TRACE(d == &short_ ? "short of heap" : "without caches");
      EXPECT_EQ(cached->workRanOut, (*d)->workRanOut);
      EXPECT_EQ(State(cached), State(*d));
      EXPECT_EQ(cached->workLeft, (*d)->workLeft);
      EXPECT_EQ(FrameDifferences(cached.frame, d->frame, kW), "");
    }
    EXPECT_EQ(AnimPlayer_Aborted(short_.get()), 0u);
  }
}

// Closed 1-by-2-pixel boxes in rows of 15, `count` of them: a shape of
// four edges a box.
Bytes ManyBoxes(uint16_t id, int count, movie::Solid colour) {
  movie::Records r(1, 0);
  for (int i = 0; i < count; ++i)
    r.Change(-1, 1, -1, true, 20 + (i % 15) * 40, 20 + (i / 15) * 40).To(10, 20).To(-10, 20).To(-10, -20).To(10, -20);
  return movie::ShapeTag(2, id, {colour}, {}, 1, 0, r.End());
}

// Three shapes of 440 edges, kept from the second frame on, and in the
// third a shape of 520 edges placed for the first time: drawn with the
// caches, its edges do not fit beside the kept ones and the frame is drawn
// again keeping none. Above them eleven sprites whose copies of copies meet
// 8,421 objects each off the stage, a grid of 1-pixel boxes, and a one-frame
// sprite whose actions loop for ever.
Bytes RunawayOverLostEdges() {
  const Bytes count = Set("/:n", Concat({Push("/:n"), Op(0x1C), Push("1"), Op(0x0A)}));
  const Bytes loop = movie::Actions(
      Concat({count, movie::Jump(0x99, static_cast<int16_t>(-(static_cast<int>(count.size()) + 5))), movie::EndActions()}));
  Bytes offStage, copies, copies2, row, rows, burners;
  for (int i = 0; i < 20; ++i) {
    const auto d = static_cast<uint16_t>(i + 1);
    offStage = Concat({offStage, movie::Place(5, d, -20000, 0)});
    copies = Concat({copies, PlaceNamed(40, d, "b")});
    copies2 = Concat({copies2, PlaceNamed(41, d, "c")});
  }
  for (int i = 0; i < 16; ++i) row = Concat({row, movie::Place(5, static_cast<uint16_t>(i + 1), 20 * i, 0)});
  for (int i = 0; i < 64; ++i) rows = Concat({rows, PlaceNamed(43, static_cast<uint16_t>(i + 1), "row", 0, 20 * i)});
  for (int i = 0; i < 11; ++i) burners = Concat({burners, PlaceNamed(44, static_cast<uint16_t>(10 + i), "burn")});
  const Bytes defs = Concat({movie::Background(255, 255, 255), ManyBoxes(1, 110, {0, 200, 0}), ManyBoxes(3, 130, {0, 0, 200}),
                             movie::BoxShape(5, {248, 0, 0}, 0, 0, 20, 20),
                             movie::Sprite(40, 1, Concat({offStage, movie::ShowFrame(), movie::End()})),
                             movie::Sprite(41, 1, Concat({copies, movie::ShowFrame(), movie::End()})),
                             movie::Sprite(44, 1, Concat({copies2, movie::ShowFrame(), movie::End()})),
                             movie::Sprite(43, 1, Concat({row, movie::ShowFrame(), movie::End()})),
                             movie::Sprite(42, 1, Concat({rows, movie::ShowFrame(), movie::End()})),
                             movie::Sprite(60, 1, Concat({loop, movie::ShowFrame(), movie::End()}))});
  return MovieOf(defs, {Concat({movie::Place(1, 1, 0, 0), movie::Place(1, 2, 700, 0), movie::Place(1, 3, 0, 500), burners,
                                movie::Place(42, 100, 200, 2000), PlaceNamed(60, 101, "r")}),
                        {}, movie::Place(3, 4, 700, 500), Do(Op(0x07))});
}

// A frame drawn again keeping no edges costs the step no more than one
// drawn without the caches: both steps leave the same work, and show the
// same frame.
TEST(PlayerStepWork, AFrameDrawnAgainCostsItsDrawingOnce) {
  const Bytes data = RunawayOverLostEdges();
  Drawn cached(data, 0), uncached(data, 1);
  ASSERT_EQ(cached.opened, 0u);
  ASSERT_EQ(uncached.opened, 0u);
  for (int step = 0; step < 4; ++step) {
    SCOPED_TRACE(step);
    const uint32_t cachedMet = cached.movie()->drawVisits, uncachedMet = uncached.movie()->drawVisits;
    for (Drawn* d : {&cached, &uncached}) EXPECT_EQ(AnimHost_Step(d->get()), 0u);
    // The step that places the large shape draws the frame twice with the
    // caches (the objects before the shape a second time), once without.
    if (step == 1) {
      EXPECT_GT(cached.movie()->drawVisits - cachedMet, uncached.movie()->drawVisits - uncachedMet);
    }
    EXPECT_EQ(cached->workRanOut, uncached->workRanOut);
    EXPECT_EQ(cached->workLeft, uncached->workLeft);
    EXPECT_EQ(State(cached), State(uncached));
    EXPECT_EQ(FrameDifferences(cached.frame, uncached.frame, kW), "");
  }
}

}  // namespace

namespace {

// A movie opened on a stage of kSide pixels square (the heap then holds its
// background picture beside the movies below), drawn with the edge caches
// as the frame decides (0) or with none (1), or with the caches but with the heap
// squeezed once it is open, so that no background picture fits. A picture
// the opening made goes first (with every kept drawing), in every play
// alike.
constexpr int32_t kSide = 120;

struct ThreeWay : OnStage {
  ThreeWay(const Bytes& data, uint32_t cacheMode, bool squeezed) : OnStage(data, kSide, kSide), mode(cacheMode) {
    if (opened) return;
    AnimView_SetQuality(movie(), player->highQuality != 0);
    Keep();
    if (squeezed) squeeze.emplace(player->heap, 16384);
  }
  ~ThreeWay() { squeeze.reset(); }
  void Keep() {
    if (movie()) movie()->raster.cacheMode = mode;
  }
  uint32_t mode;
  std::optional<HeapSqueeze> squeeze;
};

// Movies that run out of work every step, with a "/Background" sprite
// under them: with the caches, without, and without room for the
// background picture (the kept sprite's draws listed, drawn at every
// clearing), each step ends at the same place, with the same work left,
// and shows the same frame.
TEST(PlayerStepWork, KeptBackgroundSpritesRunOutAlike) {
  struct Case {
    const char* name;
    Bytes movie;
  };
  const Case cases[] = {{"switching copies, 4 runners", movie::SwitchingCopies(40, 40, 4, true)},
                        {"copies of copies, 15 deep", movie::CopiesOfCopies(15, 8, 40, true)},
                        {"copies of boxes, 12 deep", movie::CopiesOfCopies(12, 4, 1000, true)},
                        {"grass standing still", movie::GrassField(899, 40, 40, true, true, true)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ThreeWay cached(c.movie, 0, false), uncached(c.movie, 1, false), squeezed(c.movie, 0, true);
    ASSERT_EQ(cached.opened, 0u);
    ASSERT_EQ(uncached.opened, 0u);
    ASSERT_EQ(squeezed.opened, 0u);
    for (int step = 0; step < 4; ++step) {
      SCOPED_TRACE(step);
      for (ThreeWay* t : {&cached, &uncached, &squeezed}) {
        if (step == 2) RequalifyKeepingMode(*t);
        EXPECT_EQ(AnimHost_Step(t->get()), 0u);
        t->Keep();
      }
      ASSERT_EQ(AnimPlayer_Aborted(squeezed.get()), 0u);
      EXPECT_NE(cached.movie()->kept, nullptr);
      EXPECT_NE(squeezed.movie()->kept, nullptr);
      if (step < 2) {
        EXPECT_NE(cached.movie()->raster.backgroundName, nullptr);
      }
      EXPECT_EQ(squeezed.movie()->raster.backgroundName, nullptr);
      EXPECT_GT(cached->workRanOut, 0u);
      for (ThreeWay* t : {&uncached, &squeezed}) {
        SCOPED_TRACE(t == &squeezed ? "without room for the picture" : "without caches");
        EXPECT_EQ(cached->workRanOut, (*t)->workRanOut);
        EXPECT_EQ(cached->workLeft, (*t)->workLeft);
        EXPECT_EQ(State(cached), State(*t));
        EXPECT_EQ(FrameDifferences(cached.frame, t->frame, kSide), "");
      }
    }
  }
}

// A "/Background" sprite of 400 draws (40 copies under one name of a
// sprite of 10 boxes), and above it a box moving to and fro at every step.
Bytes ManyDrawsBackground() {
  Bytes boxes, copies;
  for (int i = 0; i < 40; ++i) {
    if (i < 10) boxes = Concat({boxes, movie::Place(2, static_cast<uint16_t>(i + 1), 100 * (i % 8), 100 * (i / 8))});
    copies = Concat({copies, PlaceNamed(41, static_cast<uint16_t>(i + 1), "s", 40 * (i % 5), 600 * (i / 5))});
  }
  const Bytes defs = Concat({movie::Background(255, 255, 255), Box(1, {248, 0, 0}), movie::BoxShape(2, {0, 0, 248}, 0, 0, 60, 60),
                             movie::Sprite(41, 1, Concat({boxes, movie::ShowFrame(), movie::End()})),
                             movie::Sprite(42, 1, Concat({copies, movie::ShowFrame(), movie::End()})),
                             movie::Sprite(43, 2, Concat({movie::Place(1, 1, 0, 0), movie::ShowFrame(), movie::MoveTo(1, 1000, 1000),
                                                          movie::ShowFrame(), movie::End()}))});
  return MovieOf(defs, {Concat({PlaceNamed(42, 1, "Background"), PlaceNamed(43, 2, "m", 400, 400)}), {}});
}

// A kept sprite of many draws, drawn from its kept draws at every clearing
// where no picture fits: each step leaves the same work with the caches,
// without them and with the heap squeezed.
TEST(PlayerStepWork, KeptSpritesOfManyDrawsLeaveTheWorkAlike) {
  const Bytes data = ManyDrawsBackground();
  ThreeWay cached(data, 0, false), uncached(data, 1, false), squeezed(data, 0, true);
  ASSERT_EQ(cached.opened, 0u);
  ASSERT_EQ(uncached.opened, 0u);
  ASSERT_EQ(squeezed.opened, 0u);
  for (int step = 0; step < 6; ++step) {
    SCOPED_TRACE(step);
    for (ThreeWay* t : {&cached, &uncached, &squeezed}) {
      EXPECT_EQ(AnimHost_Step(t->get()), 0u);
      t->Keep();
    }
    ASSERT_EQ(AnimPlayer_Aborted(squeezed.get()), 0u);
    for (ThreeWay* t : {&cached, &uncached, &squeezed}) {
      ASSERT_NE(t->movie()->kept, nullptr);
      EXPECT_NE(t->movie()->kept->first, nullptr);
    }
    EXPECT_EQ(squeezed.movie()->raster.backgroundName, nullptr);
    EXPECT_EQ(cached->workRanOut, 0u);
    for (ThreeWay* t : {&uncached, &squeezed}) {
      SCOPED_TRACE(t == &squeezed ? "without room for the picture" : "without caches");
      EXPECT_EQ(cached->workRanOut, (*t)->workRanOut);
      EXPECT_EQ(cached->workLeft, (*t)->workLeft);
      EXPECT_EQ(FrameDifferences(cached.frame, t->frame, kSide), "");
    }
  }
}

// Drawing that reads the records of an outline with no fill, prepares
// styles it never uses, decodes coded bitmaps again and again, measures and
// draws buttons inside buttons, draws kept sprites at every clearing, or
// composites rows in high quality is the
// step's work wherever it is done: movies of far more of it than a handset
// shows run out of work at the opening (or the change to high quality) and
// at the next step, with the edge caches, without them (where shapes keep
// their edges) and without room for the picture (where a sprite is kept),
// each play leaving the same work and showing the same frame.
TEST(PlayerStepWork, DrawingWorkRunsOutAlikeInEveryPlay) {
  struct Case {
    const char* name;
    Bytes movie;
    size_t plays;  // as the frames decide; then without caches; then squeezed
    bool highQuality;
  };
  const Case cases[] = {
      {"an outline of 20,000 unfilled edges moving, 400 copies", movie::UnfilledOutlineField(20000, 20, 20), 1, false},
      {"the same standing still, its edges kept", movie::UnfilledOutlineField(20000, 20, 20, true), 2, false},
      {"a box among 40 gradient fills, 2,025 copies", movie::GradientFillsField(40, 45, 45), 1, false},
      {"18 coded photos of 96 x 96 in strips, more than a frame holds, decoded again copy by copy, 64 copies",
       movie::PhotoStrips(96, 18, 8, 8, false, 18), 1, false},
      {"the same standing still, its edges kept", movie::PhotoStrips(96, 18, 8, 8, true, 18), 2, false},
      {"buttons inside buttons, 64 records 4 deep, drawing nothing", movie::NestedButtons(4, 64, false), 1, false},
      {"a kept sprite of 400 full-stage hatchings", movie::KeptHatching(20), 3, false},
      {"two lines at the sides, 8,100 copies, high quality", movie::SideLines(90, 90), 1, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::unique_ptr<ThreeWay>> plays;
    for (size_t i = 0; i < c.plays; ++i) plays.push_back(std::make_unique<ThreeWay>(c.movie, i == 1 ? 1 : 0, i == 2));
    for (auto& t : plays) {
      ASSERT_EQ(t->opened, 0u);
      if (c.highQuality) {
        const uint32_t before = (*t)->workRanOut;
        EXPECT_EQ(AnimPlayer_Command(t->get(), 4, 7), 0u);
        t->Keep();
        EXPECT_EQ((*t)->workRanOut, before + 1) << "the change to high quality";
      } else {
        EXPECT_EQ((*t)->workRanOut, 1u) << "the opening";
      }
      const uint32_t before = (*t)->workRanOut;
      EXPECT_EQ(AnimHost_Step(t->get()), 0u);
      t->Keep();
      EXPECT_EQ((*t)->workRanOut, before + 1) << "the step";
    }
    ThreeWay& first = *plays.front();
    for (size_t i = 1; i < plays.size(); ++i) {
      ThreeWay& t = *plays[i];
      SCOPED_TRACE(t.squeeze ? "without room for the picture" : "without caches");
      EXPECT_EQ(first->workLeft, t->workLeft);
      EXPECT_EQ(FrameDifferences(first.frame, t.frame, kSide), "");
    }
  }
}

// A kept sprite of 100 full-stage hatchings under a moving box: whether the
// clearing copies the picture, makes it again (its buffer given back to the
// heap meanwhile) or draws the kept draws again, each step pays for them
// (more than a quarter of its work) and leaves the same work.
TEST(PlayerStepWork, KeptSpritesCostEveryClearingAlike) {
  const Bytes data = movie::KeptHatching(10);
  ThreeWay cached(data, 0, false), uncached(data, 1, false), squeezed(data, 0, true);
  for (ThreeWay* t : {&cached, &uncached, &squeezed}) ASSERT_EQ(t->opened, 0u);
  for (int step = 0; step < 3; ++step) {
    SCOPED_TRACE(step);
    if (step == 1) {
      EXPECT_TRUE(AnimDisplay_FreePicture(cached.movie()));
    }
    for (ThreeWay* t : {&cached, &uncached, &squeezed}) {
      EXPECT_EQ(AnimHost_Step(t->get()), 0u);
      t->Keep();
    }
    EXPECT_NE(cached.movie()->raster.backgroundName, nullptr) << "the picture is copied";
    EXPECT_EQ(squeezed.movie()->raster.backgroundName, nullptr) << "the kept draws are drawn";
    EXPECT_EQ(cached->workRanOut, 0u);
    EXPECT_LT(cached->workLeft, kAnimStepWork - kAnimStepWork / 4);
    for (ThreeWay* t : {&uncached, &squeezed}) {
      SCOPED_TRACE(t == &squeezed ? "without room for the picture" : "without caches");
      EXPECT_EQ(cached->workRanOut, (*t)->workRanOut);
      EXPECT_EQ(cached->workLeft, (*t)->workLeft);
      EXPECT_EQ(FrameDifferences(cached.frame, t->frame, kSide), "");
    }
  }
}

// A kept photo over kept hatchings, and two more photos in the root: the
// table of two decoded bitmaps cannot hold the three, so where no picture
// fits every clearing decodes the kept one again, late in a step whose
// work is mostly spent. A clearing is paid for before it draws, and draws
// whole: the photo shows as the picture shows it. (Decoding the root's
// photos again after it costs that play more: the work is not compared.)
TEST(PlayerStepWork, AKeptPhotoShowsAtEveryClearing) {
  const Bytes data = movie::KeptHatching(10, 32);
  ThreeWay pictured(data, 0, false), squeezed(data, 0, true);
  for (ThreeWay* t : {&pictured, &squeezed}) ASSERT_EQ(t->opened, 0u);
  for (int step = 0; step < 3; ++step) {
    SCOPED_TRACE(step);
    for (ThreeWay* t : {&pictured, &squeezed}) {
      EXPECT_EQ(AnimHost_Step(t->get()), 0u);
      t->Keep();
    }
    EXPECT_NE(pictured.movie()->raster.backgroundName, nullptr);
    EXPECT_EQ(squeezed.movie()->raster.backgroundName, nullptr);
    EXPECT_EQ(FrameDifferences(pictured.frame, squeezed.frame, kSide), "");
  }
}

}  // namespace

// A collage of three or four coded photos in one shape, every pixel row
// crossing each of them: more photos than the table of two decoded bitmaps
// holds. Each step draws it within its work, at the opening and at every
// step after, in either quality, just as the photos drawn as shapes of
// their own (one after the other) show.
TEST(PlayerStepWork, APhotoCollageIsDrawnWholeAtEveryStep) {
  struct Case {
    const char* name;
    int photos, w, h, drawnWidth;
  };
  const Case cases[] = {{"three photos of 58 x 208", 3, 58, 208, 58},
                        {"four photos of 58 x 156, each drawn 44 x 208", 4, 58, 156, 44},
                        {"three photos of 88 x 120, each drawn 58 x 208", 3, 88, 120, 58},
                        {"four photos of 58 x 208, each drawn 44 x 208", 4, 58, 208, 44},
                        {"three photos of 88 x 208, each drawn 58 x 208", 3, 88, 208, 58},
                        {"four photos of 88 x 208, each drawn 44 x 208", 4, 88, 208, 44}};
  for (const Case& c : cases) {
    for (const bool highQuality : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (highQuality ? ", high quality" : ""));
      const int32_t width = c.photos * c.drawnWidth;
      OnStage collage(movie::PhotoCollage(c.photos, c.w, c.h, c.drawnWidth), width, kH);
      OnStage apart(movie::PhotoCollage(c.photos, c.w, c.h, c.drawnWidth, true), width, kH);
      ASSERT_EQ(collage.opened, 0u);
      ASSERT_EQ(apart.opened, 0u);
      if (highQuality) {
        ASSERT_EQ(AnimPlayer_Command(collage.get(), 4, 7), 0u);
        ASSERT_EQ(AnimPlayer_Command(apart.get(), 4, 7), 0u);
        ASSERT_EQ(collage.movie()->raster.smooth, 1u);
      }
      for (int step = 0; step < 4; ++step) {
        SCOPED_TRACE(step);
        if (step > 0) {
          EXPECT_EQ(collage.Step(), 0u);
          EXPECT_EQ(apart.Step(), 0u);
        }
        EXPECT_EQ(collage->workRanOut, 0u);
        EXPECT_EQ(apart->workRanOut, 0u);
        EXPECT_EQ(FrameDifferences(collage.frame, apart.frame, width), "");
      }
    }
  }
}
