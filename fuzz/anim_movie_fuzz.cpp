// Movie and package bodies as a host hands them to the player. The first
// byte picks how many bytes arrive per call (and how small the small heap
// is); the rest is the body, raw QVX or a QVZ package. The movie is played
// in a whole heap, then in a small one (all but 8 to 64 KB of it taken once
// it is open), where its copies (the background picture, the edge caches,
// the decoded bitmaps) give way. Any bytes end as a stream or a refusal;
// every read stays inside the body, the heap's invariants hold, and
// tearing the stream down gives back every block.
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
  if (size < 1 || size > 200000) return 0;
  static std::vector<uint8_t> work(256000);
  static std::vector<uint16_t> frame(176 * 208);
  static auto player = std::make_unique<AnimPlayer>();
  const uint32_t step = data[0] + 1u;
  const uint8_t* body = data + 1;
  const auto length = static_cast<uint32_t>(size - 1);

  // Through the host: open, a few frames, close.
  AnimPlayer* p = player.get();
  AnimPlayer_Init(p);
  const int32_t w = 176, h = 208;
  const uint32_t opened = AnimHost_Open(p, length ? body : nullptr, frame.data(), work.data(), length, &w, &h);
  Check(opened <= 2);
  Check(opened != 0 || p->movie != nullptr);
  for (int i = 0; i < 4 && opened == 0; ++i) AnimHost_Step(p);
  Check(AnimHeap_Check(&p->heap) == nullptr);
  AnimHost_Close(p);
  Check(p->movie == nullptr);

  // Again in a small heap: once open, the heap is taken in 4 KB pieces and
  // as many given back as leave 8 to 64 KB; the high-quality tables and the
  // frames then find what room they can.
  AnimPlayer_Init(p);
  if (AnimHost_Open(p, length ? body : nullptr, frame.data(), work.data(), length, &w, &h) == 0) {
    std::vector<void*> taken;
    while (void* b = AnimHeap_Malloc(&p->heap, 4096)) taken.push_back(b);
    for (size_t keep = 2 + data[0] % 8 * 2; keep > 0 && !taken.empty(); --keep) {
      AnimHeap_Free(&p->heap, taken.back());
      taken.pop_back();
    }
    AnimHost_Step(p);
    AnimPlayer_Command(p, 4, 7);
    AnimHost_Step(p);
    AnimPlayer_Command(p, 4, 8);
    AnimHost_Step(p);
    Check(AnimHeap_Check(&p->heap) == nullptr);
    for (void* b : taken) AnimHeap_Free(&p->heap, b);
    AnimHost_Step(p);
    Check(AnimHeap_Check(&p->heap) == nullptr);
  }
  AnimHost_Close(p);
  Check(p->movie == nullptr);

  // Straight into the parser, fed in pieces, on a fresh heap.
  AnimHeap_Reset(&p->heap, work.data());
  const uint8_t* movie = body;
  uint32_t movieLength = length;
  AnimPackage package{};
  uint32_t memberSize = 0;
  if (const uint8_t* first = AnimPackage_Unpack(&package, body, length, &memberSize)) {
    movie = first;
    movieLength = memberSize;
  }
  AnimStream stream;
  AnimStream_Init(&stream, p, 0);
  for (uint32_t n = 0;;) {
    n = movieLength - n < step ? movieLength : n + step;
    const uint32_t flags = AnimMovie_ReadHeader(&stream, movie, n);
    if (AnimPlayer_Aborted(p) || flags == 0 || (flags & ~static_cast<uint32_t>(kAnimNeedMore)) != 0) break;
    if (n == movieLength) break;
  }
  Check(AnimHeap_Check(&p->heap) == nullptr);
  AnimStream_Free(&stream);
  Check(p->heap.bytesInUse == 0 || AnimPlayer_Aborted(p));
  Check(AnimHeap_Check(&p->heap) == nullptr);
  return 0;
}
