// The player's host step on movies that take it a great deal of work: two
// sprites whose copies of a shared clip are switched between frames for
// ever by the root and by R runner sprites (K copies of T boxes), and
// sprites showing the one below under one name, copies of copies 15 deep.
// Fields of grass whose every blade is a shape of 1,800 edges. Copies of an
// outline of 20,000 edges with no fill, a "/Background" sprite of 900
// full-stage hatchings with no room for its picture, copies of two lines
// at the stage's sides in high quality, copies of a box among 12
// gradient fills, three coded photos in strips (copies of a shape of 6
// strips, and one shape of 60), and buttons
// inside buttons (64 records 4 deep drawing boxes, 5 deep drawing
// nothing). A collage of three or four coded photos in one shape, every
// pixel row crossing each. Beside them,
// as the yardstick, ordinary steps: a clip of 130 boxes shown 130 times, a
// field of 40 x 40 x 40 stars, and a small movie's step. Each iteration is one step, after
// the opening and a first step; the first step after opening is timed on
// its own with the opening (the Open cases). The counters say how many
// steps ran out of work, what work the last one left, and the processor
// time of the longest step.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "bench/bench_engine.h"
#include "player/anim_movie.h"
#include "player/anim_player.h"
#include "tests/player/loop_movies.h"
#include "tests/player/movie_writer.h"
#include "tests/player/step_movies.h"

namespace {

using movie::Bytes;

struct Stage {
  // With `highQuality` the user command for it follows the opening.
  explicit Stage(const Bytes& movie, bool highQuality = false) : data(movie), work(256000), frame(176 * 208) {
    AnimPlayer_Init(player.get());
    int32_t w = 176, h = 208;
    opened = AnimHost_Open(player.get(), data.data(), frame.data(), work.data(), static_cast<uint32_t>(data.size()), &w,
                           &h) == 0;
    if (opened && highQuality) opened = AnimPlayer_Command(player.get(), 4, 7) == 0;
  }
  ~Stage() { AnimHost_Close(player.get()); }
  Bytes data;
  std::unique_ptr<AnimPlayer> player = std::make_unique<AnimPlayer>();
  std::vector<uint8_t> work;
  std::vector<uint16_t> frame;
  bool opened = false;
};

// Steps that ran out of work, where the player counts them.
template <typename P>
double RanOut(const P* p) {
  if constexpr (requires { p->workRanOut; }) return static_cast<double>(p->workRanOut);
  else return -1;
}

// The work the last step left over.
template <typename P>
double WorkLeft(const P* p) {
  if constexpr (requires { p->workLeft; }) return static_cast<double>(p->workLeft);
  else return -1;
}

double ProcessorMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

void Steps(benchmark::State& state, const Bytes& movie, bool highQuality = false) {
  Stage s(movie, highQuality);
  if (!s.opened) {
    state.SkipWithError("the movie did not open");
    return;
  }
  AnimHost_Step(s.player.get());
  const AnimMovie* m = s.player->movie;
  uint32_t bounds = 0, drawn = 0, walked = 0;
  double longest = 0, total = 0, units = 0;
  for (auto _ : state) {
    bounds = m->boundsVisits, drawn = m->drawVisits, walked = m->treeVisits;
    const double start = ProcessorMs();
    AnimHost_Step(s.player.get());
    const double took = ProcessorMs() - start;
    total += took;
    units += kAnimStepWork - WorkLeft(s.player.get());
    if (took > longest) longest = took;
  }
  state.counters["max_ms"] = longest;
  // Processor time over the units the steps took: about the same for every
  // kind of work when the charges are calibrated.
  state.counters["ns_unit"] = units > 0 ? total * 1e6 / units : 0;
  // Objects the last step's bounds, drawing and other walks met.
  state.counters["bounds"] = m->boundsVisits - bounds;
  state.counters["drawn"] = m->drawVisits - drawn;
  state.counters["walked"] = m->treeVisits - walked;
  state.counters["ran_out"] = RanOut(s.player.get());
  state.counters["left"] = WorkLeft(s.player.get());
}

// The opening (which runs the first frame) and the first step after it.
void OpenStep(benchmark::State& state, const Bytes& movie) {
  double longest = 0;
  for (auto _ : state) {
    const double start = ProcessorMs();
    auto s = std::make_unique<Stage>(movie);
    if (s->opened) AnimHost_Step(s->player.get());
    const double took = ProcessorMs() - start;
    state.PauseTiming();
    if (took > longest) longest = took;
    state.counters["max_ms"] = longest;
    state.counters["ran_out"] = RanOut(s->player.get());
    state.counters["left"] = WorkLeft(s->player.get());
    s.reset();
    state.ResumeTiming();
  }
}

void AnimSwitchingCopies(benchmark::State& state) {
  Steps(state, movie::SwitchingCopies(40, 40, static_cast<int>(state.range(0))));
}
void AnimSwitchingCopiesOpen(benchmark::State& state) {
  OpenStep(state, movie::SwitchingCopies(40, 40, static_cast<int>(state.range(0))));
}
void AnimCopiesOfCopies(benchmark::State& state) {
  Steps(state, movie::CopiesOfCopies(15, static_cast<int>(state.range(0))));
}
// Shallower, so that the boxes are drawn: 2-pixel ones and ones over most
// of the stage (levels, copies, side in twips).
void AnimCopiesOfBoxes(benchmark::State& state) {
  Steps(state, movie::CopiesOfCopies(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                                     static_cast<int>(state.range(2))));
}
void AnimCopyField(benchmark::State& state) { Steps(state, movie::CopyField(130, 130)); }
void AnimCopyFieldOpen(benchmark::State& state) { OpenStep(state, movie::CopyField(130, 130)); }
void AnimSmallStep(benchmark::State& state) { Steps(state, movie::CopyField(4, 4)); }
// A field of grass, 100 x 100 copies of a sawtooth of 1,800 edges, its
// outline left to right (0) or its right side first (1), its blades moving
// at every step or (second argument 1) standing still, keeping their edges
// every other step: each then needs the whole pool.
void AnimGrassField(benchmark::State& state) {
  Steps(state, movie::GrassField(899, 100, 100, state.range(0) != 0, state.range(1) != 0));
}
void AnimStarField(benchmark::State& state) { Steps(state, movie::StarField(40, 40, 40)); }
// An outline of 20,000 edges with no fill beside a 2-pixel box, N x N copies.
void AnimUnfilledOutline(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Steps(state, movie::UnfilledOutlineField(20000, n, n));
}
void AnimUnfilledOutlineOpen(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  OpenStep(state, movie::UnfilledOutlineField(20000, n, n));
}
// 900 kept draws of a full-stage hatching, in the plain mode (0) or high
// quality (1).
void AnimKeptHatching(benchmark::State& state) { Steps(state, movie::KeptHatching(30), state.range(0) != 0); }
void AnimKeptHatchingOpen(benchmark::State& state) { OpenStep(state, movie::KeptHatching(30)); }
// Two lines at the stage's sides, 100 x 100 copies, in high quality.
void AnimSideLines(benchmark::State& state) { Steps(state, movie::SideLines(100, 100), true); }
// A 2-pixel box among 12 gradient fills, 100 x 100 copies.
void AnimGradientFills(benchmark::State& state) { Steps(state, movie::GradientFillsField(12, 100, 100)); }
// Three 96-pixel coded photos filling strips in turn: (strips, N) gives N x N
// copies of a shape of that many strips.
void AnimPhotoStrips(benchmark::State& state) {
  const int n = static_cast<int>(state.range(1));
  Steps(state, movie::PhotoStrips(96, static_cast<int>(state.range(0)), n, n));
}

// Buttons inside buttons: (depth, drawn), 64 records a button.
void AnimNestedButtons(benchmark::State& state) {
  Steps(state, movie::NestedButtons(static_cast<int>(state.range(0)), 64, state.range(1) != 0));
}

// Scripts looping for ever, each round walking texts: a number of N digits
// read by `not`, and each kind of action on texts (or numbers) of N bytes.
// Such a step takes all the work there is before drawing; ns_unit is its
// processor time over the units it took, which calibrates each charge
// (one unit of work should cost about the same, whatever the kind).
// The rounds of a step and the units its text took (those its actions did not)
// tell the cost of a unit of text from that of an action.
double Rounds(AnimPlayer* p) {
  const char* n = AnimVar_Text(AnimVar_Find(p, "/:n"));
  return n ? std::atof(n) : 0;
}
void LoopSteps(benchmark::State& state, const Bytes& movie, int actions = 0) {
  Stage s(movie);
  if (!s.opened) {
    state.SkipWithError("the movie did not open");
    return;
  }
  // The first step settles the loop; a shuffled run only shows the order.
  if (!BenchQuick()) AnimHost_Step(s.player.get());
  double longest = 0, total = 0, units = 0, rounds = 0, steps = 0;
  for (auto _ : state) {
    const double before = Rounds(s.player.get());
    const double start = ProcessorMs();
    AnimHost_Step(s.player.get());
    const double took = ProcessorMs() - start;
    total += took;
    units += kAnimStepWork - WorkLeft(s.player.get());
    rounds += Rounds(s.player.get()) - before;
    ++steps;
    if (took > longest) longest = took;
  }
  state.counters["max_ms"] = longest;
  state.counters["ns_unit"] = units > 0 ? total * 1e6 / units : 0;
  state.counters["ran_out"] = RanOut(s.player.get());
  state.counters["rounds"] = steps > 0 ? rounds / steps : 0;
  state.counters["text_units"] = steps > 0 ? (units - rounds * actions / kAnimActionsPerWork) / steps : 0;
}
void AnimLongNumberLoop(benchmark::State& state) {
  LoopSteps(state, movie::LoopOfKind(2, static_cast<uint32_t>(state.range(0))), movie::LoopKindActions(2));
}
void AnimActionLoop(benchmark::State& state) {
  state.SetLabel(movie::LoopKindName(static_cast<int>(state.range(0))));
  const int kind = static_cast<int>(state.range(0));
  LoopSteps(state, movie::LoopOfKind(kind, static_cast<uint32_t>(state.range(1))), movie::LoopKindActions(kind));
}
// A collage in one shape, moved a pixel at every step: (photos, drawn
// width, photo width, photo height) over the stage.
Bytes Collage(const benchmark::State& state) {
  return movie::PhotoCollage(static_cast<int>(state.range(0)), static_cast<int>(state.range(2)),
                             static_cast<int>(state.range(3)), static_cast<int>(state.range(1)));
}
void AnimPhotoCollage(benchmark::State& state) { Steps(state, Collage(state)); }
void AnimPhotoCollageOpen(benchmark::State& state) { OpenStep(state, Collage(state)); }

}  // namespace

BENCHMARK(AnimSwitchingCopies)->Arg(0)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(AnimSwitchingCopiesOpen)->Arg(0)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(AnimCopiesOfCopies)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(AnimCopiesOfBoxes)
    ->Args({12, 4, 40})
    ->Args({12, 4, 3000})
    ->Args({8, 4, 3000})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(AnimCopyField)->Unit(benchmark::kMillisecond);
BENCHMARK(AnimCopyFieldOpen)->Unit(benchmark::kMillisecond);
BENCHMARK(AnimSmallStep)->Unit(benchmark::kMicrosecond);
BENCHMARK(AnimGrassField)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Iterations(BenchIterations(4))->Unit(benchmark::kMillisecond);
BENCHMARK(AnimStarField)->Unit(benchmark::kMillisecond);
BENCHMARK(AnimUnfilledOutline)->Arg(10)->Arg(30)->Arg(100)->Iterations(BenchIterations(4))->Unit(benchmark::kMillisecond);
BENCHMARK(AnimUnfilledOutlineOpen)->Arg(10)->Arg(30)->Arg(100)->Iterations(BenchIterations(2))->Unit(benchmark::kMillisecond);
BENCHMARK(AnimKeptHatching)->Arg(0)->Arg(1)->Iterations(BenchIterations(4))->Unit(benchmark::kMillisecond);
BENCHMARK(AnimKeptHatchingOpen)->Iterations(BenchIterations(2))->Unit(benchmark::kMillisecond);
BENCHMARK(AnimSideLines)->Iterations(BenchIterations(6))->Unit(benchmark::kMillisecond);
BENCHMARK(AnimGradientFills)->Iterations(BenchIterations(4))->Unit(benchmark::kMillisecond);
BENCHMARK(AnimNestedButtons)->Args({4, 1})->Args({5, 0})->Iterations(BenchIterations(4))->Unit(benchmark::kMillisecond);
BENCHMARK(AnimPhotoStrips)->Args({6, 4})->Args({6, 10})->Args({60, 1})->Iterations(BenchIterations(4))->Unit(benchmark::kMillisecond);
BENCHMARK(AnimLongNumberLoop)->Arg(5000)->Arg(20000)->Iterations(BenchIterations(3))->Unit(benchmark::kMillisecond);
BENCHMARK(AnimActionLoop)
    ->ArgsProduct({benchmark::CreateDenseRange(0, movie::kLoopKinds - 1, 1), {8, 12000}})
    ->Iterations(BenchIterations(3))
    ->Unit(benchmark::kMillisecond);
BENCHMARK(AnimPhotoCollage)
    ->Args({3, 58, 58, 208})
    ->Args({4, 44, 58, 156})
    ->Args({4, 44, 58, 208})
    ->Args({3, 58, 88, 208})
    ->Args({4, 44, 88, 208})
    ->Iterations(BenchIterations(6))
    ->Unit(benchmark::kMillisecond);
BENCHMARK(AnimPhotoCollageOpen)
    ->Args({3, 58, 58, 208})
    ->Args({4, 44, 58, 156})
    ->Args({4, 44, 58, 208})
    ->Args({3, 58, 88, 208})
    ->Args({4, 44, 88, 208})
    ->Iterations(BenchIterations(4))
    ->Unit(benchmark::kMillisecond);
