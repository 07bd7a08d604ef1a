// Video streams as the player's video hand-off opens them: any bytes end
// as a refusal, an empty open or frames decoded into the frame buffer, with
// every read inside the stream and every pixel inside the frame.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "player/anim_player.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 200000) return 0;
  static std::vector<uint8_t> work(256000);
  static std::vector<uint16_t> frame(64 * 48);
  static auto player = std::make_unique<AnimPlayer>();
  AnimPlayer* p = player.get();
  AnimPlayer_Init(p);
  p->workBuffer = work.data();
  p->frameBuffer = frame.data();
  p->frameWidth = 64;
  p->frameHeight = 48;
  // The stream is copied so that a read past its end is seen by the sanitizers.
  std::vector<uint8_t> stream(data, data + size);
  const int32_t centre = size ? data[0] * 40 : 0;
  const AnimVideoArgs args{nullptr, stream.data(), static_cast<uint32_t>(stream.size()), centre, 3200 - centre, 0};
  if (AnimVideo_Open(p, kAnimVideoOpen, &args) == 0)
    for (int i = 0; i < 64 && AnimVideo_Open(p, kAnimVideoNext, nullptr) == 0; ++i) {
    }
  AnimVideo_Open(p, kAnimVideoClose, nullptr);
  if (AnimHeap_Check(&p->heap) != nullptr) std::abort();
  return 0;
}
