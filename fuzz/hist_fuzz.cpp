// Both history readers through their files: the bytes as "hist.dat" and as
// "IntHist.dat" in a folder of the fuzzer's own. Whatever the bytes, the
// history block is either read whole or left untouched, and the back stack
// loads or stays empty without a leak. The fuzzer works in that folder, so
// give it its corpus as an absolute path.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "browser/hist.h"
#include "kernel/heap.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::filesystem::path gFolder;

void RemoveFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(gFolder, ignored);
}

void EnterFolder() {
  if (!gFolder.empty()) return;
  char pattern[] = "/tmp/qor-histfuzz-XXXXXX";
  Check(::mkdtemp(pattern) != nullptr);
  gFolder = pattern;
  std::filesystem::current_path(gFolder);
  std::atexit(RemoveFolder);
}

void Write(const char* name, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(name, "wb");
  Check(f != nullptr);
  if (size) Check(std::fwrite(data, 1, size, f) == size);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 200000) return 0;
  EnterFolder();
  static std::vector<uint64_t> arena(1u << 20 >> 3);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));

  Write(kHistFile, data, size);
  static uint8_t block[kBenHistoryBlockSize];
  std::memset(block, 0xA5, sizeof block);
  if (HistLoad(block, kBenHistoryBlockSize)) {
    // A longer file gives its first bytes.
    Check(size >= kBenHistoryBlockSize && std::memcmp(block, data, kBenHistoryBlockSize) == 0);
  } else {
    for (uint8_t b : block) Check(b == 0xA5);
  }

  Write(kIntHistFile, data, size);
  static BenBackStack stack;
  std::memset(&stack, 0, sizeof stack);
  Check(IntHistLoad(&stack) == 1);
  BenBackStackClear(&stack);
  Check(HeapValidate() == nullptr);
  const HeapStats stats = HeapGetStats();
  Check(stats.freeBytes == stats.arenaBytes);
  return 0;
}
