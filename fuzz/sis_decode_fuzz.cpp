// Probe and decode of handset images of every variant: whatever the bytes,
// the decoder stays inside the file, its buffers and the output.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "graphics/sis.h"

namespace {

uint8_t gWork[kSisWorkBytes];
uint8_t gModel[kSisModelBufferBytes];
uint8_t gOut[16 + 24 + 256 * 256 + 64];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  SisDecoderInit(gWork, sizeof gWork, gModel, sizeof gModel, 64, 64);
  SisImageInfo info{};
  if (!SisProbeHeader(data, static_cast<uint32_t>(size), &info)) return 0;
  const uint32_t frames = info.frameCount < 4 ? info.frameCount : 4;
  for (uint32_t i = 0; i < frames; ++i)
    SisDecodeFrame(data, static_cast<uint32_t>(size), gOut, sizeof gOut, static_cast<int32_t>(i), 0);
  // A frame beyond the count must fail.
  if (SisDecodeFrame(data, static_cast<uint32_t>(size), gOut, sizeof gOut,
                     static_cast<int32_t>(info.frameCount), 0) != 0)
    std::abort();
  return 0;
}
