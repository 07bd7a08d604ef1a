// Moving controls and reading order: one ticker period of 20 running
// marquees, each stepping and redrawing its text (items are marquee steps),
// and 1,000 controls put into reading order by position (items are inserts).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench/bench_engine.h"
#include "widgets/pwl.h"
#include "widgets/pwl_marquee.h"
#include "widgets/pwl_ticker.h"

namespace {

constexpr int kMarquees = 20;
constexpr int kInserts = 1000;
// Timer messages per period of a marquee.
constexpr int kTicksPerPeriod = kPwlMarqueePeriod / kPwlTickerStep;

void BM_MarqueeTickerPeriod(benchmark::State& state) {
  BenchEngine engine(BenchPart::Ticker | BenchPart::Font);
  if (!engine.ok()) return state.SkipWithError("no toolkit or font");
  FontInstance* font = engine.font();
  PwlWindow* window = nullptr;
  const PwlBox box{0, 0, 160, 240};
  if (PwlCreateSubWindow(&window, nullptr, &box, 0) != kOk)
    return state.SkipWithError("no window");
  const PwlControlClass* old = PwlSetControlClass(PwlType::Marquee, &kPwlMarqueeClass);
  for (int i = 0; i < kMarquees; ++i) {
    PwlControl* c = nullptr;
    if (PwlCreate(&c, window, static_cast<uint32_t>(i), 0, static_cast<uint32_t>(i),
                  PwlType::Marquee) != kOk)
      return state.SkipWithError("no marquee");
    PwlMarqueeFont spec{font, 0x001F0000};
    PwlSend(c, nullptr, &spec, 0, PwlMarqueeMsg::SetFont, 0);
    PglRect r{4, i * 12, 155, i * 12 + 11};
    PwlSend(c, nullptr, &r, 0, PwlMsg::SetRect, 0);
    PwlSend(c, nullptr, reinterpret_cast<void*>(static_cast<uintptr_t>(i % 4)), 0, PwlMarqueeMsg::Behaviour, 0);
    PwlMarqueeBind bind{nullptr, u"Marquee text moving across the handset screen", 0, 0, 0,
                        nullptr};
    PwlSend(c, nullptr, &bind, 0, PwlMsg::Bind, 0);
    PwlSend(c, nullptr, nullptr, 0, PwlMsg::Enable, 0);
  }
  PwlTicker* ticker = PwlTickerGetContext();
  for (auto _ : state)
    for (int t = 0; t < kTicksPerPeriod; ++t) PwlTickerTick(ticker);
  state.SetItemsProcessed(state.iterations() * kMarquees);
  PwlDestroyWindow(&window);
  PwlSetControlClass(PwlType::Marquee, old);
}
BENCHMARK(BM_MarqueeTickerPeriod);

void BM_PwlInsertByPosition(benchmark::State& state) {
  BenchEngine engine(BenchPart::Toolkit);
  if (!engine.ok()) return state.SkipWithError("no toolkit");
  std::vector<PwlControl*> controls(kInserts);
  uint32_t seed = 12345;
  for (auto _ : state) {
    state.PauseTiming();
    PwlWindow* window = nullptr;
    const PwlBox box{0, 0, 160, 240};
    PwlCreateSubWindow(&window, nullptr, &box, 0);
    for (int i = 0; i < kInserts; ++i) {
      PwlCreate(&controls[i], window, static_cast<uint32_t>(i), 0, 0, PwlType::CheckBox);
      seed = seed * 1103515245u + 12345u;
      controls[i]->row = (seed >> 16) % 200;
      const int32_t left = static_cast<int32_t>((seed >> 8) % 150);
      controls[i]->rect = {left, 0, left + 9, 9};
    }
    state.ResumeTiming();
    for (PwlControl* c : controls) PwlInsertByPosition(c);
    state.PauseTiming();
    PwlDestroyWindow(&window);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kInserts);
}
BENCHMARK(BM_PwlInsertByPosition);

}  // namespace
