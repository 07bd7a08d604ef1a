// The JPEG decoder in megapixels a second at handset and desktop sizes in
// 4:2:0, 4:4:4 and grey, next to libjpeg-turbo on the same bodies (integer
// slow IDCT, no fancy upsampling, RGB out); the body whole and in 140-byte
// blocks; and the longest single step.
//
// libjpeg-turbo picks its SIMD code once per process, so its scalar figures
// come from a second run: JSIMD_FORCENONE=1 qor_bench --benchmark_filter=Jpeg
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include <jpeglib.h>

#include "content/jpeg.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/mem.h"

namespace {

enum Kind { k420 = 0, k444 = 1, kGrey = 2 };

struct Size {
  uint32_t w, h;
};
constexpr Size kSizes[] = {{176, 208}, {640, 480}, {1024, 768}};

// A photo-like picture: smooth gradients, edges and some texture.
std::vector<uint8_t> Picture(uint32_t w, uint32_t h, int channels) {
  std::vector<uint8_t> px(size_t{w} * h * channels);
  uint32_t seed = 1;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      seed = seed * 1103515245 + 12345;
      const int noise = static_cast<int>(seed >> 28) - 8;
      const int r = static_cast<int>(128 + 100 * std::sin(x / 23.0) * std::cos(y / 31.0)) + noise;
      const int g = ((x / 40 + y / 40) % 2 ? 200 : 60) + noise;
      const int b = static_cast<int>(255 * y / h) + noise;
      const int v[3] = {r, g, b};
      for (int c = 0; c < channels; ++c) {
        const int s = channels == 1 ? (r * 77 + g * 150 + b * 29) >> 8 : v[c];
        const int clamped = s < 0 ? 0 : s > 255 ? 255 : s;
        px[(size_t{y} * w + x) * channels + c] = static_cast<uint8_t>(clamped);
      }
    }
  return px;
}

std::vector<uint8_t> Encode(uint32_t w, uint32_t h, Kind kind) {
  const int channels = kind == kGrey ? 1 : 3;
  std::vector<uint8_t> px = Picture(w, h, channels);
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = w;
  c.image_height = h;
  c.input_components = channels;
  c.in_color_space = kind == kGrey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 75, TRUE);
  if (kind == k444) c.comp_info[0].h_samp_factor = c.comp_info[0].v_samp_factor = 1;
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < h) {
    JSAMPROW row = px.data() + size_t{c.next_scanline} * w * channels;
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<uint8_t> body(out, out + size);
  jpeg_destroy_compress(&c);
  free(out);
  return body;
}

const std::vector<uint8_t>& Body(int size, int kind) {
  static std::vector<uint8_t> bodies[3][3];
  std::vector<uint8_t>& b = bodies[size][kind];
  if (b.empty()) b = Encode(kSizes[size].w, kSizes[size].h, static_cast<Kind>(kind));
  return b;
}

std::vector<uint64_t>& Arena() {
  static std::vector<uint64_t> arena((16u << 20) / 8);
  return arena;
}

// Decodes one body; the longest step in nanoseconds when asked.
void DecodeOnce(const std::vector<uint8_t>& body, uint32_t block, int64_t* longest) {
  Queue input{};
  const uint32_t n = static_cast<uint32_t>(body.size());
  const uint32_t piece = block ? block : n;
  for (uint32_t at = 0; at < n; at += piece)
    UtilDataChunkAppend(&input, body.data() + at, n - at < piece ? n - at : piece, Mod::TestCode);
  JpegStream io{&input, 1, 0, -1, 0, nullptr};
  JpegDecoder* state = nullptr;
  for (;;) {
    Result r;
    if (longest) {
      // Thread CPU time: a step the scheduler interrupts is not a long step.
      timespec t0, t1;
      clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
      r = JpegDecodeStep(&state, &io);
      clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
      const int64_t ns = (t1.tv_sec - t0.tv_sec) * 1000000000LL + (t1.tv_nsec - t0.tv_nsec);
      if (ns > *longest) *longest = ns;
    } else {
      r = JpegDecodeStep(&state, &io);
    }
    if (r || (io.events & JpegEvent::Complete)) break;
  }
  JpegDecoderFree(&state);
  UtilDataChunkFreeQueue(&input);
  JpegImageFree(&io.image);
}

void SetPixels(benchmark::State& state, int size) {
  const double px = double(kSizes[size].w) * kSizes[size].h;
  state.counters["MP/s"] =
      benchmark::Counter(px / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_JpegEngine(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0)), kind = static_cast<int>(state.range(1));
  const uint32_t block = static_cast<uint32_t>(state.range(2));
  const std::vector<uint8_t>& body = Body(size, kind);
  HeapArenaInit(Arena().data(), static_cast<uint32_t>(Arena().size() * 8));
  for (auto _ : state) DecodeOnce(body, block, nullptr);
  SetPixels(state, size);
}
BENCHMARK(BM_JpegEngine)
    ->ArgsProduct({{0, 1, 2}, {k420, k444, kGrey}, {0}})
    ->Args({2, k420, 140})
    ->Args({0, k420, 140})
    ->ArgNames({"size", "kind", "block"});

void BM_JpegEngineLongestStep(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  const std::vector<uint8_t>& body = Body(size, k420);
  HeapArenaInit(Arena().data(), static_cast<uint32_t>(Arena().size() * 8));
  int64_t longest = 0;
  for (auto _ : state) DecodeOnce(body, 140, &longest);
  state.counters["longest_us"] = double(longest) / 1000.0;
}
BENCHMARK(BM_JpegEngineLongestStep)->Arg(0)->Arg(2)->ArgName("size");

void BM_JpegLibjpeg(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0)), kind = static_cast<int>(state.range(1));
  const std::vector<uint8_t>& body = Body(size, kind);
  std::vector<uint8_t> rgb(size_t{kSizes[size].w} * kSizes[size].h * 3);
  for (auto _ : state) {
    jpeg_decompress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, body.data(), static_cast<unsigned long>(body.size()));
    jpeg_read_header(&c, TRUE);
    c.dct_method = JDCT_ISLOW;
    c.do_fancy_upsampling = FALSE;
    c.out_color_space = JCS_RGB;
    jpeg_start_decompress(&c);
    while (c.output_scanline < c.output_height) {
      JSAMPROW row = rgb.data() + size_t{c.output_scanline} * c.output_width * 3;
      jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    benchmark::DoNotOptimize(rgb.data());
  }
  SetPixels(state, size);
  state.SetLabel(std::getenv("JSIMD_FORCENONE") ? "scalar" : "simd");
}
BENCHMARK(BM_JpegLibjpeg)
    ->ArgsProduct({{0, 1, 2}, {k420, k444, kGrey}})
    ->ArgNames({"size", "kind"});

}  // namespace
