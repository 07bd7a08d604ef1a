// Download answers as a host hands them to the player, block by block: the
// first byte picks the block size, the rest is the answer (status line,
// headers, body). Any answer is taken within its announced length or
// refused; the end of the transfer and the delivery of a variables body or
// a movie keep the heap whole.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "player/anim_player.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 100000) return 0;
  static std::vector<uint8_t> work(256000);
  static auto player = std::make_unique<AnimPlayer>();
  AnimPlayer* p = player.get();
  AnimPlayer_Init(p);
  p->workBuffer = work.data();
  const AnimSize frame{0, 0};
  AnimPlayer_Command(p, 1, reinterpret_cast<uintptr_t>(&frame));
  Check(AnimNet_StartFetch(p, "http://example.com/dir/m.qvx?x=1") == 1);
  AnimNet_SendRequest(p);
  const uint32_t block = data[0] + 1u;
  for (size_t at = 1; at < size;) {
    const uint32_t n = size - at < block ? static_cast<uint32_t>(size - at) : block;
    const AnimDataArg arg{n, data + at, 0};
    AnimPlayer_Command(p, 12, reinterpret_cast<uintptr_t>(&arg));
    at += n;
    Check(p->download.contentLength < 0 || p->download.received <= static_cast<uint32_t>(p->download.contentLength));
  }
  int transfer = 1;
  AnimPlayer_Command(p, 13, reinterpret_cast<uintptr_t>(&transfer));
  if (p->fetchComplete) AnimNet_Deliver(p);
  Check(AnimHeap_Check(&p->heap) == nullptr);
  AnimHost_Close(p);
  return 0;
}
