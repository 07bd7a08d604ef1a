// The graphics layer's hot paths against the machine's bandwidth in the same
// run: the 1-bit glyph blit onto RGB565 (the road of all text), and a full
// RGB565 screen filled and copied next to memset and memcpy of its bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "graphics/pgl.h"

namespace {

constexpr uint32_t kScreenW = 240, kScreenH = 320;

struct Rgb565Surface {
  std::vector<uint16_t> px;
  PglSurface s{};
  Rgb565Surface(uint32_t w, uint32_t h) : px(static_cast<size_t>(w) * h, 0xFFFF) {
    PglInitSurface(&s, w, h, kPglRgb565, 0x80, 0);
    s.pixels = reinterpret_cast<uint8_t*>(px.data());
  }
};

// An 8 x 16 glyph as the font layer hands it over: rows of 16 bytes.
void BM_PglGlyphBlit(benchmark::State& state) {
  std::vector<uint8_t> bits(16 * 16);
  for (size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<uint8_t>(i * 37 + 11);
  PglSurface glyph{};
  PglInitSurface(&glyph, 8, 16, kPglMono, 0x80, 0);
  glyph.pitch = 16;
  glyph.pixels = bits.data();
  Rgb565Surface screen(kScreenW, kScreenH);
  const uint32_t mode = static_cast<uint32_t>(state.range(0));
  uint32_t x = 0;
  for (auto _ : state) {
    const PglBlitJob job{&glyph, &screen.s, 0, 0, 7, 15, x, 100, mode};
    PglBlit(&job, 0x0000, 0xFFFF);
    x = (x + 8) % (kScreenW - 8);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PglGlyphBlit)->Arg(PglMode::Recolour)->Arg(PglMode::Recolour | PglMode::Transparent);

void BM_PglFillScreen(benchmark::State& state) {
  Rgb565Surface screen(kScreenW, kScreenH);
  const PglRect all{0, 0, kScreenW - 1, kScreenH - 1};
  uint16_t colour = 0;
  for (auto _ : state) {
    PglFillRect(&screen.s, &all, 0, colour++);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kScreenW * kScreenH * 2);
}
BENCHMARK(BM_PglFillScreen);

void BM_MemsetScreen(benchmark::State& state) {
  std::vector<uint16_t> px(kScreenW * kScreenH);
  int byte = 0;
  for (auto _ : state) {
    std::memset(px.data(), byte++ & 0xFF, px.size() * 2);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kScreenW * kScreenH * 2);
}
BENCHMARK(BM_MemsetScreen);

void BM_PglBlitScreen(benchmark::State& state) {
  Rgb565Surface from(kScreenW, kScreenH), to(kScreenW, kScreenH);
  for (auto _ : state) {
    const PglBlitJob job{&from.s, &to.s, 0, 0, kScreenW - 1, kScreenH - 1, 0, 0, 0};
    PglBlit(&job, 0, 0);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kScreenW * kScreenH * 2);
}
BENCHMARK(BM_PglBlitScreen);

void BM_MemcpyScreen(benchmark::State& state) {
  std::vector<uint16_t> from(kScreenW * kScreenH, 1), to(kScreenW * kScreenH);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size() * 2);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kScreenW * kScreenH * 2);
}
BENCHMARK(BM_MemcpyScreen);

}  // namespace
