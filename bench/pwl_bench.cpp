// The toolkit's text layer on a screenful of mixed Latin and Hangul text:
// fitting every line to the 160-pixel screen, and drawing the lines into a
// window, with the font layer's caches warm. Items are characters.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_engine.h"
#include "widgets/pwl.h"
#include "widgets/pwl_text.h"

namespace {

const std::u16string kText =
    u"The quick brown fox \uD55C\uAE00 \uBCF8\uBB38 jumps over 42 lazy dogs; "
    u"\uC548\uB155\uD558\uC138\uC694 handset browser, \uC6F9 \uD398\uC774\uC9C0 text. ";

struct Bench {
  FontInstance* font = nullptr;
  PwlWindow* window = nullptr;
  std::u16string text;  // a screenful: 18 lines' worth, repeated
};

// The toolkit and the body font, up for one benchmark.
bool Setup(const BenchEngine& engine, Bench* b) {
  if (!engine.ok()) return false;
  b->font = engine.font();
  PwlGetRootWindow(&b->window);
  while (b->text.size() < 18 * 30) b->text += kText;
  return b->window != nullptr;
}

// Breaks the text into lines that fit the screen; returns characters laid out.
int64_t LayOut(Bench* b, std::vector<std::pair<uint32_t, uint32_t>>* lines) {
  uint32_t at = 0;
  int64_t chars = 0;
  int32_t height = 0;
  PwlLineHeight(b->font, 0, &height);
  for (int32_t y = 0; y + height <= 240 && at < b->text.size(); y += height) {
    int32_t width = 156;
    uint32_t count = static_cast<uint32_t>(b->text.size()) - at;
    PwlFitText(b->font, 0, &width, b->text.c_str() + at, &count);
    if (count == 0) break;
    if (lines) lines->emplace_back(at, count);
    at += count;
    chars += count;
  }
  return chars;
}

void BM_PwlMeasureScreenful(benchmark::State& state) {
  BenchEngine engine(BenchPart::Toolkit | BenchPart::Font);
  Bench bench;
  if (!Setup(engine, &bench)) return state.SkipWithError("no toolkit or font");
  Bench* b = &bench;
  int64_t chars = 0;
  for (auto _ : state) chars += LayOut(b, nullptr);
  state.SetItemsProcessed(chars);
}
BENCHMARK(BM_PwlMeasureScreenful);

void BM_PwlDrawScreenful(benchmark::State& state) {
  BenchEngine engine(BenchPart::Toolkit | BenchPart::Font);
  Bench bench;
  if (!Setup(engine, &bench)) return state.SkipWithError("no toolkit or font");
  Bench* b = &bench;
  std::vector<std::pair<uint32_t, uint32_t>> lines;
  LayOut(b, &lines);
  int32_t height = 0;
  PwlLineHeight(b->font, 0, &height);
  int64_t chars = 0;
  for (auto _ : state) {
    int32_t y = 0;
    for (const auto& [at, count] : lines) {
      PwlDrawText(b->font, 0, count, b->text.c_str() + at, b->window, 2, y, nullptr, 0, 0xFFFF);
      y += height;
      chars += count;
    }
  }
  state.SetItemsProcessed(chars);
}
BENCHMARK(BM_PwlDrawScreenful);

}  // namespace
