// Wave headers come from downloaded sounds: any bytes must probe without a
// read past the buffer, and a player fed them must configure its device,
// queue, finish and free, whatever the format codes it is opened with,
// whether the device refuses the format, how the producer cuts the data and
// when the device reports buffers done. Captures go to a private folder.
//
// Input: a codes byte (bits 0-1 channels: from the data, mono, stereo or
// unknown; bits 2-4 rate; bits 5-6 bits; bit 7 the device refuses), a cut
// byte (piece sizes and completions), then the sound data.
#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "fuzz/private_folder.h"
#include "host/sound.h"
#include "tests/support/soundtest.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = FuzzPrivateFolder("wave-fuzz", false);
  if (size < 2 || size > 65536) return 0;
  const uint8_t* sound = data + 2;
  const size_t length = size - 2;
  WaveFormat f = WaveProbeHeader(sound, static_cast<uint32_t>(length));
  bool riff = length >= 12 && sound[0] == 'R' && sound[1] == 'I' && sound[2] == 'F' &&
              sound[3] == 'F';
  if (!riff) Check(f.channels == 1 && f.rate == 8000 && f.bits == 8);

  static const uint32_t kChannels[] = {0, kWaveMono, kWaveStereo, 0x3000};
  static const uint32_t kRates[] = {kWave8000, kWave11025, kWave22050, kWave44100, 0, 0x50,
                                    kWave8000, kWave44100};
  static const uint32_t kBits[] = {kWave8Bit, kWave16Bit, 0, 0x300};
  const uint32_t channels = kChannels[data[0] & 3];
  const uint32_t rate = kRates[(data[0] >> 2) & 7];
  const uint32_t bits = kBits[(data[0] >> 5) & 3];
  const WaveFormat decoded = WaveDecodeFormat(channels, rate, bits);
  Check(decoded.channels <= 2);
  const uint32_t cut = 1 + data[1] * 37u;

  WaveSetCaptureFolder(folder.c_str());
  {
    WaveTestDevice device;
    device.refuse = data[0] & 0x80;
    WavePlayer* player = WavePlayerOpen(nullptr, channels, rate, bits);
    Check(player != nullptr);
    int more = 1;
    for (size_t at = 0; at < length;) {
      const size_t n = length - at < cut ? length - at : cut;
      uint32_t taken = 0;
      WavePlayerWrite(player, sound + at, static_cast<uint32_t>(n), &more, &taken);
      Check(taken <= n);
      at += taken;
      if (!more || taken == 0) {
        // The device finishes a buffer; without one at the device the
        // producer stops here.
        if (!device.Complete(1)) break;
        WaveDeliverDone();
      }
    }
    WavePlayerClose(player);
    while (device.Complete(1)) WaveDeliverDone();
    Check(device.Pending() == 0);
    for (const auto& stream : device.streams) {
      Check(!device.refuse);
      for (const std::string& buffer : stream->written) Check(buffer.size() <= kWaveBufferSize);
    }
  }
  WaveSetCaptureFolder(nullptr);
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
    std::filesystem::remove(entry.path(), ignored);
  return 0;
}
