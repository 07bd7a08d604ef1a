// The player heap under random operations: each triple of bytes allocates a
// size or frees a live block. Every live block keeps its bytes, and the
// invariant walker finds every block and list intact every few steps and at
// the end. The walker visits the whole arena, so running it after every step
// held the target to a few runs a second; a fault still shows within a few
// steps of its cause.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "player/anim_heap.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr size_t kCheckEvery = 16;

struct Live {
  uint8_t* p;
  uint32_t n;
  uint8_t fill;
};

// Each block's head and tail carry its fill: enough to catch an overlap or a
// link written into a live block, at a cost that keeps the runs fast.
void Fill(const Live& l) {
  const uint32_t edge = l.n < 64 ? l.n : 64;
  std::memset(l.p, l.fill, edge);
  std::memset(l.p + l.n - edge, l.fill, edge);
}

void Verify(const Live& l) {
  const uint32_t edge = l.n < 64 ? l.n : 64;
  for (uint32_t b = 0; b < edge; ++b) Check(l.p[b] == l.fill && l.p[l.n - 1 - b] == l.fill);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint8_t> arena(256008);
  static AnimHeap heap;
  // The low bits of the first byte shift the arena off its alignment.
  const uint32_t shift = size ? data[0] & 7u : 0;
  AnimHeap_Reset(&heap, arena.data() + shift);
  std::vector<Live> live;
  size_t steps = 0;
  for (size_t i = 1; i + 2 < size; i += 3) {
    const uint8_t op = data[i];
    const uint32_t arg = data[i + 1] | (static_cast<uint32_t>(data[i + 2]) << 8);
    if ((op & 3) != 0 || live.empty()) {
      // Sizes: small, medium, or large by the op's high bits.
      uint32_t n = arg;
      if ((op >> 6) == 0) n &= 63;
      else if ((op >> 6) == 1) n &= 1023;
      else if ((op >> 6) == 3) n *= 4;
      auto* p = static_cast<uint8_t*>(AnimHeap_Alloc(&heap, static_cast<int32_t>(n)));
      if (!p) {
        Check(heap.abortFlag == 1);
        heap.abortFlag = 0;
      } else {
        Check(AnimHeap_BlockSize(&heap, p) >= n + 8);
        Check(p >= arena.data() && p + n <= arena.data() + arena.size());
        live.push_back({p, n, op});
        Fill(live.back());
      }
    } else {
      const size_t k = arg % live.size();
      Verify(live[k]);
      AnimHeap_Free(&heap, live[k].p);
      live[k] = live.back();
      live.pop_back();
    }
    if (++steps % kCheckEvery == 0) Check(AnimHeap_Check(&heap) == nullptr);
  }
  Check(AnimHeap_Check(&heap) == nullptr);
  for (const Live& l : live) {
    Verify(l);
    AnimHeap_Free(&heap, l.p);
  }
  Check(heap.bytesInUse == 0);
  Check(AnimHeap_Check(&heap) == nullptr);
  return 0;
}
