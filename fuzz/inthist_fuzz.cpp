// The back-stack file's reader on arbitrary bytes: nothing is read past
// them, a rejected file leaves the stack empty with nothing allocated, every
// text of an accepted one ends inside its allocation, and what it saves
// loads back to the same stack and saves to the same bytes again.
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
  static BenBackStack stack, back;
  std::memset(&stack, 0, sizeof stack);
  std::memset(&back, 0, sizeof back);
  const uint32_t n = static_cast<uint32_t>(size);
  if (IntHistDecode(&stack, data, n)) {
    for (const BenBackSlot& slot : stack.slots)
      for (const char* text : {slot.text1, slot.text2})
        if (text) Check(std::memchr(text, 0, HeapRequestedSizeOf(text)) != nullptr);
    std::vector<uint8_t> saved(IntHistEncodedSize(&stack));
    IntHistEncode(&stack, saved.data());
    Check(IntHistDecode(&back, saved.data(), static_cast<uint32_t>(saved.size())));
    std::vector<uint8_t> again(IntHistEncodedSize(&back));
    IntHistEncode(&back, again.data());
    Check(again == saved);
    BenBackStackClear(&stack);
    BenBackStackClear(&back);
  }
  Check(Empty(stack));
  Check(Empty(back));
  Check(HeapValidate() == nullptr);
  const HeapStats stats = HeapGetStats();
  Check(stats.freeBytes == stats.arenaBytes);  // nothing leaked
  return 0;
}
