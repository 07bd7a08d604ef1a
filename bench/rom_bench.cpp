// The built-in file decoder against zlib's inflate on the same files: every
// compressed entry of the packed tree, expanded whole, once per iteration.
// zlib gets the same bytes deflated at level 9 (raw, no header), so the two
// timings compare the decoders on equal work.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "kernel/qorrom.h"

namespace {

struct RomBenchFile {
  const uint8_t* stored;
  uint32_t storedSize;
  uint32_t expandedSize;
  std::vector<uint8_t> deflated;
};

uint32_t RomBenchReadBE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

const std::vector<RomBenchFile>& RomBenchFiles() {
  static const std::vector<RomBenchFile> files = [] {
    std::vector<RomBenchFile> out;
    for (uint32_t i = 0; i < kQorRomFileCount; ++i) {
      const QorRomFile& row = kQorRomFiles[i];
      if (!(RomBenchReadBE32(row.entry) & kQorRomCompressed)) continue;
      RomBenchFile f{row.entry + 4, row.storedSize, row.expandedSize, {}};
      // The expanded bytes, through our own decoder once.
      std::vector<uint8_t> image(row.expandedSize + 4);
      uint32_t size = row.expandedSize;
      if (!QorRomDecompress(f.stored, f.storedSize, image.data(), &size)) continue;
      z_stream z{};
      deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
      f.deflated.resize(deflateBound(&z, size));
      z.next_in = image.data() + 4;
      z.avail_in = size;
      z.next_out = f.deflated.data();
      z.avail_out = static_cast<uInt>(f.deflated.size());
      deflate(&z, Z_FINISH);
      f.deflated.resize(z.total_out);
      deflateEnd(&z);
      out.push_back(std::move(f));
    }
    return out;
  }();
  return files;
}

void RomBenchCounters(benchmark::State& state, bool zlibSizes) {
  int64_t expanded = 0, stored = 0;
  for (const RomBenchFile& f : RomBenchFiles()) {
    expanded += f.expandedSize;
    stored += zlibSizes ? static_cast<int64_t>(f.deflated.size()) : f.storedSize;
  }
  state.SetBytesProcessed(state.iterations() * expanded);
  state.counters["files"] = static_cast<double>(RomBenchFiles().size());
  state.counters["stored/expanded"] = expanded ? static_cast<double>(stored) / expanded : 0;
}

void BM_RomDecompress(benchmark::State& state) {
  std::vector<uint8_t> image(kQorRomMaxExpanded + 4);
  for (auto _ : state) {
    for (const RomBenchFile& f : RomBenchFiles()) {
      uint32_t size = f.expandedSize;
      benchmark::DoNotOptimize(QorRomDecompress(f.stored, f.storedSize, image.data(), &size));
      benchmark::ClobberMemory();
    }
  }
  RomBenchCounters(state, false);
}
BENCHMARK(BM_RomDecompress);

void BM_RomZlibInflate(benchmark::State& state) {
  std::vector<uint8_t> out(kQorRomMaxExpanded);
  z_stream z{};
  inflateInit2(&z, -15);
  for (auto _ : state) {
    for (const RomBenchFile& f : RomBenchFiles()) {
      inflateReset(&z);
      z.next_in = const_cast<Bytef*>(f.deflated.data());
      z.avail_in = static_cast<uInt>(f.deflated.size());
      z.next_out = out.data();
      z.avail_out = f.expandedSize;
      benchmark::DoNotOptimize(inflate(&z, Z_FINISH));
      benchmark::ClobberMemory();
    }
  }
  inflateEnd(&z);
  RomBenchCounters(state, true);
}
BENCHMARK(BM_RomZlibInflate);

}  // namespace
