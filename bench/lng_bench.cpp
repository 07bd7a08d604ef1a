// UTF-8 and Korean double-byte decoding against glibc's iconv on the same
// text, decoded into UTF-16 in one call: the ratio of the two timings is
// the cost of the engine's decoders.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <random>
#include <string>
#include <vector>

#include "kernel/lng.h"

namespace {

// A page-like mix: mostly ASCII markup with runs of Hangul.
std::u16string LngBenchText() {
  std::mt19937 rng(5);
  std::u16string text;
  while (text.size() < 64 * 1024) {
    if (rng() % 3) {
      for (const char* p = "<p class=\"x\">"; *p; ++p) text += static_cast<char16_t>(*p);
    } else {
      for (int i = 0; i < 12; ++i) text += static_cast<char16_t>(0xAC00 + rng() % 2350 * 4);
    }
  }
  return text;
}

std::vector<uint8_t> LngBenchBytes(LngEncodeFn encode) {
  const std::u16string text = LngBenchText();
  std::vector<uint8_t> bytes(text.size() * 4);
  uint32_t written = 0;
  encode(text.data(), static_cast<uint32_t>(text.size()), bytes.data(), &written);
  bytes.resize(written);
  return bytes;
}

void LngBenchOurs(benchmark::State& state, LngEncodeFn encode, LngDecodeFn decode) {
  const std::vector<uint8_t> bytes = LngBenchBytes(encode);
  std::vector<char16_t> out(bytes.size() + 2);
  for (auto _ : state) {
    uint32_t written = 0;
    decode(bytes.data(), static_cast<uint32_t>(bytes.size()), out.data(), &written);
    benchmark::DoNotOptimize(written);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void LngBenchIconv(benchmark::State& state, LngEncodeFn encode, const char* from) {
  const std::vector<uint8_t> bytes = LngBenchBytes(encode);
  std::vector<char16_t> out(bytes.size() + 2);
  iconv_t cd = iconv_open("UTF-16LE", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    state.SkipWithError("iconv_open failed");
    return;
  }
  for (auto _ : state) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    char* dst = reinterpret_cast<char*>(out.data());
    size_t srcLeft = bytes.size(), dstLeft = out.size() * 2;
    iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    benchmark::DoNotOptimize(dstLeft);
    benchmark::ClobberMemory();
  }
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void BM_LngUtf8Decode(benchmark::State& s) { LngBenchOurs(s, LngUtf8Encode, LngUtf8Decode); }
void BM_LngUtf8Iconv(benchmark::State& s) { LngBenchIconv(s, LngUtf8Encode, "UTF-8"); }
void BM_LngCp949Decode(benchmark::State& s) { LngBenchOurs(s, LngDbcsEncode, LngDbcsDecode); }
void BM_LngCp949Iconv(benchmark::State& s) { LngBenchIconv(s, LngDbcsEncode, "CP949"); }

BENCHMARK(BM_LngUtf8Decode);
BENCHMARK(BM_LngUtf8Iconv);
BENCHMARK(BM_LngCp949Decode);
BENCHMARK(BM_LngCp949Iconv);

}  // namespace
