// Wave headers come from downloaded sounds: any bytes must probe without a
// read past the buffer, and a player fed them must queue, finish and free.
#include <cstdint>
#include <cstdlib>

#include "host/sound.h"
#include "tests/support/soundtest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WaveFormat f = WaveProbeHeader(data, static_cast<uint32_t>(size));
  bool riff = size >= 12 && data[0] == 'R' && data[1] == 'I' && data[2] == 'F' && data[3] == 'F';
  if (!riff && (f.channels != 1 || f.rate != 8000 || f.bits != 8)) std::abort();

  WaveSetCaptureFolder("/nonexistent-qor-capture");
  WaveTestDevice device;
  WavePlayer* player = WavePlayerOpen(nullptr, 0, 0, 0);
  if (!player) return 0;
  int more = 0;
  for (size_t at = 0; at < size; at += 1500) {
    size_t n = size - at < 1500 ? size - at : 1500;
    WavePlayerWrite(player, data + at, static_cast<uint32_t>(n), &more);
    if (!more) break;
  }
  WavePlayerClose(player);
  while (device.Complete(1)) WaveDeliverDone();
  WaveSetCaptureFolder(nullptr);
  return 0;
}
