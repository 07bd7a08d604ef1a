// The handset image decoders: the preset-table inflate next to zlib's
// inflate on the same streams, rotated and scaled placements in megapixels
// a second, and what asking for one frame of a 256 x 256 8-bit animation
// with 20 objects costs.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "graphics/blit.h"
#include "graphics/sis.h"
#include "graphics/sis_codec.h"
#include "tests/graphics/sis_deflate_split.h"
#include "tests/graphics/sis_encoders.h"

namespace {

// Image-like bytes: short repeats over a small alphabet.
std::vector<uint8_t> Picture(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> d(n);
  for (size_t i = 0; i < n; ++i)
    d[i] = i > 16 && rng() % 4 ? d[i - 1 - rng() % 16] : static_cast<uint8_t>(rng() % 48);
  return d;
}

constexpr size_t kInflateBytes = 24000;

// The stream of each kind: 0 stored, 1 fixed, 2 dynamic. For the preset
// inflate the dynamic block comes without its table definition.
struct Streams {
  std::vector<uint8_t> data, stored, fixed;
  SisSplitStream dynamic;
  Streams() : data(Picture(kInflateBytes, 7)), stored(SisZlib(data, 0)), fixed(SisZlib(data, 6)) {
    SisSplitDynamic(data, &dynamic);
  }
};

const Streams& GetStreams() {
  static const Streams s;
  return s;
}

void BM_SisInflate(benchmark::State& state) {
  const Streams& s = GetStreams();
  const int kind = static_cast<int>(state.range(0));
  const std::vector<uint8_t>& z = kind == 0 ? s.stored : kind == 1 ? s.fixed : s.dynamic.stream;
  if (kind == 2 && SisInflateAll(s.dynamic.tables.data(), static_cast<uint16_t>(s.dynamic.tables.size())) != 0)
    state.SkipWithError("tables refused");
  std::vector<uint8_t> out(kInflateBytes);
  for (auto _ : state) {
    SisInflateStream st{};
    st.input = z.data();
    st.inputLength = static_cast<uint32_t>(z.size());
    st.output = out.data();
    st.room = static_cast<uint32_t>(out.size());
    if (SisInflateStep(&st) != SisInflate::End) state.SkipWithError(SisInflateMessage());
    benchmark::DoNotOptimize(out.data());
  }
  if (out != s.data) state.SkipWithError("wrong output");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kInflateBytes));
}
BENCHMARK(BM_SisInflate)->ArgName("kind")->Arg(0)->Arg(1)->Arg(2);

// zlib on the same streams; for kind 2 the block with its definition.
void BM_ZlibInflate(benchmark::State& state) {
  const Streams& s = GetStreams();
  const int kind = static_cast<int>(state.range(0));
  const std::vector<uint8_t>& z = kind == 0 ? s.stored : kind == 1 ? s.fixed : s.dynamic.whole;
  std::vector<uint8_t> out(kInflateBytes);
  for (auto _ : state) {
    uLongf n = static_cast<uLongf>(out.size());
    if (uncompress(out.data(), &n, z.data(), static_cast<uLong>(z.size())) != Z_OK) state.SkipWithError("zlib");
    benchmark::DoNotOptimize(out.data());
  }
  if (out != s.data) state.SkipWithError("wrong output");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kInflateBytes));
}
BENCHMARK(BM_ZlibInflate)->ArgName("kind")->Arg(0)->Arg(1)->Arg(2);

// A 96 x 96 object placed on a 256 x 256 frame; range(0) the depth,
// range(1) 0 rotated by 37/256 of a turn, 1 enlarged 1.5 times in x and y.
void BM_SisPlace(benchmark::State& state) {
  constexpr uint32_t kFrame = 256, kObject = 96;
  const auto depth = static_cast<uint32_t>(state.range(0));
  const bool rotate = state.range(1) == 0;
  std::vector<uint8_t> src = Picture(kObject * kObject * depth / 8, 3);
  std::vector<uint8_t> dst(kFrame * kFrame * depth / 8);
  SafObject o{};
  o.width = o.height = kObject;
  o.key = 0;
  BlitBitmap d{};
  d.opacity = -1;
  BlitClip c{0, 0, kFrame - 1, kFrame - 1};
  double pixels;
  if (rotate) {
    d.angle = 37;
    d.x = 128 - 60;  // the turned box lies inside the frame
    d.y = 40;
    c = {d.x - 60, d.y, d.x + 90, d.y + 140};
    pixels = double{kObject} * kObject;
  } else {
    d.xScaleMode = d.yScaleMode = 2;
    d.xFactor = d.yFactor = 171;  // 256 / 171: 1.5 times
    d.x = d.y = 20;
    c = {20, 20, 20 + 143, 20 + 143};
    pixels = 144.0 * 144.0;
  }
  for (auto _ : state) {
    if (depth == 8)
      BlitDispatch8Bit(src.data(), dst.data(), kFrame, kFrame, &d, &o, &c);
    else
      BlitDispatchPacked(src.data(), dst.data(), kFrame, kFrame, &d, &o, &c, depth);
    benchmark::DoNotOptimize(dst.data());
  }
  // Pixels of the object as placed, in millions: the rate is megapixels a second.
  state.counters["MP/s"] =
      benchmark::Counter(pixels * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SisPlace)->ArgNames({"depth", "scaled"})->ArgsProduct({{1, 2, 8}, {0, 1}});

// A 256 x 256 8-bit animation: 20 objects of 40 x 40 (half coded with the
// adaptive packer, half with zlib), 8 frames of 20 placements each, plain,
// mirrored, keyed, scaled and turned.
std::vector<uint8_t> Animation() {
  SafBuilder b;
  b.width = b.height = 0;  // 256: the byte wraps
  b.frames = 8;
  for (uint32_t i = 0; i < 20; ++i) {
    const auto px = Picture(40 * 40, 100 + i);
    b.Object(i, 40, 40, i % 2, 0, i % 2 ? SisZlib(px, 6) : SisPackAdaptive(px));
  }
  for (uint32_t f = 0; f < 8; ++f) {
    std::vector<std::vector<uint8_t>> commands;
    for (uint32_t i = 0; i < 20; ++i) {
      const auto x = static_cast<uint8_t>((i % 5) * 48 + f * 2), y = static_cast<uint8_t>((i / 5) * 60 + f);
      switch (i % 4) {
        case 0:
          commands.push_back({0, 5, static_cast<uint8_t>(i), 0, 0, x, y});
          break;
        case 1:
          commands.push_back({0, 5, static_cast<uint8_t>(i), 0x30, 2, x, y});
          break;
        case 2:
          commands.push_back({0, 7, static_cast<uint8_t>(i), 0, 0xA0, x, y, 200, 200});
          break;
        default:
          commands.push_back({0, 6, static_cast<uint8_t>(i), 0x01, 2, x, y, static_cast<uint8_t>(f * 16 + 5)});
          break;
      }
    }
    b.Frame(f, commands);
  }
  return b.File();
}

uint8_t gWork[kSisWorkBytes];
uint8_t gModel[kSisModelBufferBytes];

// range(0) 1: the frame of a file already parsed; 0: a file seen for the
// first time (probe, every object decoded, then the frame).
void BM_SisAnimationFrame(benchmark::State& state) {
  static const std::vector<uint8_t> file = Animation();
  const auto len = static_cast<uint32_t>(file.size());
  const bool parsed = state.range(0) == 1;
  SisDecoderInit(gWork, sizeof gWork, gModel, sizeof gModel, 256, 256);
  if (!SisProbeHeader(file.data(), len, nullptr)) state.SkipWithError("probe");
  std::vector<uint8_t> out(SisOutputSize(1));
  const auto size = static_cast<uint32_t>(out.size());
  if (SisDecodeFrame(file.data(), len, out.data(), size, 0, 0) != 1) state.SkipWithError("decode");
  int32_t frame = 0;
  for (auto _ : state) {
    if (!parsed) SisProbeHeader(file.data(), len, nullptr);
    frame = (frame + 1) % 8;
    if (SisDecodeFrame(file.data(), len, out.data(), size, frame, 0) != 1) state.SkipWithError("decode");
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_SisAnimationFrame)->ArgName("parsed")->Arg(0)->Arg(1);

}  // namespace
