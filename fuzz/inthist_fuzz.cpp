// The back-stack file's reader on arbitrary bytes: nothing is read past
// them, a rejected file leaves the stack empty with nothing allocated, and
// an accepted one saves back to exactly the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "browser/hist.h"
#include "kernel/heap.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Empty(const BenBackStack& s) {
  const auto* p = reinterpret_cast<const uint8_t*>(&s);
  for (size_t i = 0; i < sizeof s; ++i)
    if (p[i]) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 200000) return 0;
  static std::vector<uint64_t> arena(1u << 20 >> 3);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  static BenBackStack stack;
  std::memset(&stack, 0, sizeof stack);
  const uint32_t n = static_cast<uint32_t>(size);
  if (IntHistDecode(&stack, data, n)) {
    Check(IntHistEncodedSize(&stack) == n);
    std::vector<uint8_t> again(n);
    IntHistEncode(&stack, again.data());
    Check(n == 0 || std::memcmp(again.data(), data, n) == 0);
    BenBackStackClear(&stack);
  }
  Check(Empty(stack));
  Check(HeapValidate() == nullptr);
  const HeapStats stats = HeapGetStats();
  Check(stats.freeBytes == stats.arenaBytes);  // nothing leaked
  return 0;
}
