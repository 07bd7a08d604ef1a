// WBMP and nbmp decoding in pixels per second, against the floor of copying
// the decoded output once (the least any decoder must do). WBMP decodes a
// 640 x 480 body into RGB565 bands, whole and in 140-byte blocks; nbmp a
// 640 x 480 one-bit canvas from raw bytes with runs. The image/nbmp row
// takes a 256 x 240 body (its decode area holds no more) through the decode
// and the conversion into RGB565 bands, against a copy of those bands.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "bench/bench_engine.h"
#include "browser/url.h"
#include "content/content_rows.h"
#include "content/handset_rows.h"
#include "content/nbmp.h"
#include "content/wbmp.h"
#include "kernel/heap.h"
#include "kernel/mem.h"

namespace {

constexpr uint32_t kW = 640, kH = 480;

// Its own heap, set up by every run: another benchmark may have left the
// engine on a heap of its own or on none.
void UseArena() {
  static std::vector<uint64_t> arena(1u << 19);  // 4 MB
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * 8));
  MemSetEvictor(nullptr);
}

std::vector<uint8_t> WbmpBody() {
  std::vector<uint8_t> body = {0x00, 0x00, 0x85, 0x00, 0x83, 0x60};  // 640, 480
  std::mt19937 rng(1);
  for (uint32_t i = 0; i < kW / 8 * kH; ++i) body.push_back(static_cast<uint8_t>(rng()));
  return body;
}

void FreeOutput(Queue* output) {
  while (QueueNode* node = QueuePopFront(output)) {
    auto* image = reinterpret_cast<ContentImage*>(node);
    for (uint32_t i = 0; i < image->bandCount; ++i) MemFree(&image->bands[i]);
    MemFree(&image);
  }
}

void DecodeWbmp(benchmark::State& state, uint32_t block) {
  UseArena();
  const std::vector<uint8_t> body = WbmpBody();
  for (auto _ : state) {
    Queue input{}, output{};
    ContentFeed feed{&input, 0, &output, 0, 0};
    WBmpDecoder* decoder = nullptr;
    for (size_t at = 0; at < body.size();) {
      const size_t n = block && body.size() - at > block ? block : body.size() - at;
      UtilDataChunkAppend(&input, body.data() + at, static_cast<uint32_t>(n), Mod::TestCode);
      at += n;
      feed.endOfData = at == body.size();
      WBmpDecodeStep(&decoder, &feed);
    }
    WBmpDecodeRelease(&decoder);
    benchmark::DoNotOptimize(output.head);
    FreeOutput(&output);
  }
  state.counters["Mpx/s"] = benchmark::Counter(double(kW) * kH * state.iterations() / 1e6,
                                               benchmark::Counter::kIsRate);
}

void BM_WbmpWhole(benchmark::State& state) { DecodeWbmp(state, 0); }
void BM_WbmpBlocks140(benchmark::State& state) { DecodeWbmp(state, 140); }

// The floor: one copy of the RGB565 output.
void BM_WbmpOutputCopyFloor(benchmark::State& state) {
  std::vector<uint16_t> from(kW * kH, 0xFFFF), to(kW * kH);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size() * 2);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.counters["Mpx/s"] = benchmark::Counter(double(kW) * kH * state.iterations() / 1e6,
                                               benchmark::Counter::kIsRate);
}

// One frame covering the canvas, all literals: random bytes with runs.
std::vector<uint8_t> NbmpBody() {
  std::vector<uint8_t> s = {0, 0, 1, 0x10, 0x28, 0x01, 0xE0,             // 640 x 480, 1 bit
                            0, 0, 0, 0x28, 0x01, 0xE0, 0, 1, 0, 0, 0, 0};  // frame, R = C = 0
  std::mt19937 rng(2);
  for (uint32_t i = 0; i < kW / 8 * kH;) {
    if (rng() % 4 == 0) {
      s.insert(s.end(), {0x96, 0x20, 0x00});
      i += 32;
    } else {
      const uint8_t b = static_cast<uint8_t>(rng() % 0x95);
      s.push_back(b);
      ++i;
    }
  }
  return s;
}

void BM_NbmpMemory(benchmark::State& state) {
  const std::vector<uint8_t> body = NbmpBody();
  const uint32_t size = 4 * kW / 8 * kH + 4096;
  std::vector<uint64_t> out(size / 8 + 1);
  for (auto _ : state) {
    const int ok = NbmpDecodeMemory(body.data(), static_cast<uint32_t>(body.size()),
                                    reinterpret_cast<uint8_t*>(out.data()), size);
    benchmark::DoNotOptimize(ok);
  }
  state.counters["Mpx/s"] = benchmark::Counter(double(kW) * kH * state.iterations() / 1e6,
                                               benchmark::Counter::kIsRate);
}

// The floor: one copy of the frame's and the canvas's bytes.
void BM_NbmpOutputCopyFloor(benchmark::State& state) {
  std::vector<uint8_t> from(2 * kW / 8 * kH, 0x55), to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.counters["Mpx/s"] = benchmark::Counter(double(kW) * kH * state.iterations() / 1e6,
                                               benchmark::Counter::kIsRate);
}

constexpr uint32_t kRowW = 256, kRowH = 240;

std::vector<uint8_t> NbmpRowBody() {
  std::vector<uint8_t> s = {0, 0, 1, 0x10, 0x10, 0x00, 0xF0,             // 256 x 240, 1 bit
                            0, 0, 0, 0x10, 0x00, 0xF0, 0, 1, 0, 0, 0, 0};  // frame, R = C = 0
  std::mt19937 rng(3);
  for (uint32_t i = 0; i < kRowW / 8 * kRowH; ++i) s.push_back(static_cast<uint8_t>(rng() % 0x95));
  return s;
}

void BM_NbmpRow(benchmark::State& state) {
  BenchEngine engine(0);
  const std::vector<uint8_t> body = NbmpRowBody();
  UrlModuleContext module{};
  module.workBuffer = static_cast<uint8_t*>(MemAlloc(kUrlWorkBufferSize, Use::Data, Mod::TestCode));
  module.workBufferSize = kUrlWorkBufferSize;
  UrlParsed url{};
  UrlParse(&url, "qortest://h/b.nbmp", 0);
  for (auto _ : state) {
    UrlLoad* load = UrlLoadCreate(&url);
    load->announcedLength = static_cast<uint32_t>(body.size());
    UrlLoadDeliver(load, body.data(), static_cast<uint32_t>(body.size()));
    load->endOfData = 1;
    if (NbmpContentProcess(&module, load) != kOk || !load->output.head) state.SkipWithError("no image");
    benchmark::DoNotOptimize(load->output.head);
    UrlLoadFree(load);
  }
  UrlFreeParsed(&url);
  MemFree(&module.workBuffer);
  state.counters["Mpx/s"] = benchmark::Counter(double(kRowW) * kRowH * state.iterations() / 1e6,
                                               benchmark::Counter::kIsRate);
}

void BM_NbmpRowOutputCopyFloor(benchmark::State& state) {
  std::vector<uint16_t> from(kRowW * kRowH, 0xFFFF), to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size() * 2);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.counters["Mpx/s"] = benchmark::Counter(double(kRowW) * kRowH * state.iterations() / 1e6,
                                               benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_WbmpWhole);
BENCHMARK(BM_WbmpBlocks140);
BENCHMARK(BM_WbmpOutputCopyFloor);
BENCHMARK(BM_NbmpMemory);
BENCHMARK(BM_NbmpOutputCopyFloor);
BENCHMARK(BM_NbmpRow);
BENCHMARK(BM_NbmpRowOutputCopyFloor);
