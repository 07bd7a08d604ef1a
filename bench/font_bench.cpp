// Glyphs and widths through the font layer's caches against FreeType doing
// the same work every time, on one line of mixed Latin and Hangul text at the
// body font's 10 points. The ratio of the pairs is what the caches save the
// text layer, which asks for every character of every line it draws.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_engine.h"
#include "graphics/pgl.h"
#include "host/fontft.h"
#include "host/fontft_internal.h"

namespace {

const std::u16string kLine = u"The quick brown fox \uD55C\uAE00 \uBCF8\uBB38 jumps over 42 dogs.";

void BM_FontDrawCached(benchmark::State& state) {
  BenchEngine engine(BenchPart::Font);
  if (!engine.ok()) return state.SkipWithError("no font");
  FontInstance* font = engine.font();
  PglSurface glyph;
  for (auto _ : state)
    for (char16_t c : kLine) benchmark::DoNotOptimize(FontDrawText(font, c, &glyph, 0));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kLine.size()));
}
BENCHMARK(BM_FontDrawCached);

void BM_FontDrawFreeType(benchmark::State& state) {
  BenchEngine engine(BenchPart::Font);
  if (!engine.ok()) return state.SkipWithError("no font");
  FontInstance* font = engine.font();
  static uint8_t rows[kFontGlyphPitch * kFontGlyphSide];
  for (auto _ : state)
    for (char16_t c : kLine)
      benchmark::DoNotOptimize(FontFaceDrawUncached(font->normal, c, rows, kFontGlyphPitch));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kLine.size()));
}
BENCHMARK(BM_FontDrawFreeType);

void BM_FontWidthCached(benchmark::State& state) {
  BenchEngine engine(BenchPart::Font);
  if (!engine.ok()) return state.SkipWithError("no font");
  FontInstance* font = engine.font();
  int32_t width = 0;
  for (auto _ : state)
    for (char16_t c : kLine) benchmark::DoNotOptimize(FontGetCharWidth(font, c, &width, 0));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kLine.size()));
}
BENCHMARK(BM_FontWidthCached);

void BM_FontWidthFreeType(benchmark::State& state) {
  BenchEngine engine(BenchPart::Font);
  if (!engine.ok()) return state.SkipWithError("no font");
  FontInstance* font = engine.font();
  for (auto _ : state)
    for (char16_t c : kLine) benchmark::DoNotOptimize(FontFaceAdvanceUncached(font->normal, c));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kLine.size()));
}
BENCHMARK(BM_FontWidthFreeType);

}  // namespace
