// The adaptive unpacker over any block: driven through its window requests
// as the animation decoder drives it, it stays inside the block, its model
// and the output room, and ends within a bounded number of steps.
#include <cstdint>
#include <cstdlib>

#include "graphics/sis_codec.h"

namespace {

uint8_t gModel[kSisModelBytes];
uint8_t gOut[8192];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 20000) return 0;
  // The first byte picks the output room, so that a full output is reached too.
  const uint32_t room = 1u + data[0] * 32u;
  const uint8_t* block = data + 1;
  const auto length = static_cast<uint32_t>(size - 1);
  SisSetModelBuffer(gModel, sizeof gModel);
  SisDecodeAdaptiveReset();
  SisAdaptiveResult r{};
  uint32_t count = 0, windowLength = 0;
  const uint8_t* window = nullptr;
  // Each step reads or writes at least one byte, or asks for a window.
  for (uint32_t steps = 0; steps < 4 * (length + room) + 64; ++steps) {
    SisDecodeAdaptive(window, windowLength, gOut, room, &count, &r);
    if (count > room) std::abort();
    if (r.status == SisAdaptive::Window) {
      window = r.offset < length ? block + r.offset : nullptr;
      windowLength = r.offset < length ? (r.size < length - r.offset ? r.size : length - r.offset) : 0;
    } else if (r.status != SisAdaptive::Again) {
      if (r.status != SisAdaptive::Done && r.status != SisAdaptive::Bad) std::abort();
      return 0;
    }
  }
  return 0;
}
