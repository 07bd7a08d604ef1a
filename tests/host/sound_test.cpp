// The wave player over the test device: the header probe, buffer queueing,
// and the file device's RIFF files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/sound.h"
#include "host/soundfile.h"
#include "tests/support/soundtest.h"
#include "tests/support/temp_dir.h"
#include "tests/support/fake_platform.h"

namespace {

std::string Bytes(size_t n, char seed = 0) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7);
  return s;
}

void Put16(std::string& s, uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, static_cast<uint16_t>(v));
  Put16(s, static_cast<uint16_t>(v >> 16));
}
std::string Chunk(const char* id, const std::string& body) {
  std::string s(id, 4);
  Put32(s, static_cast<uint32_t>(body.size()));
  s += body;
  if (body.size() & 1) s += '\0';
  return s;
}
std::string Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
  std::string b;
  Put16(b, tag);
  Put16(b, channels);
  Put32(b, rate);
  Put32(b, rate * channels * bits / 8);
  Put16(b, static_cast<uint16_t>(channels * bits / 8));
  Put16(b, bits);
  return Chunk("fmt ", b);
}
std::string Riff(const std::string& chunks) {
  std::string s = "RIFF";
  Put32(s, static_cast<uint32_t>(4 + chunks.size()));
  return s + "WAVE" + chunks;
}

WaveFormat Probe(const std::string& s) {
  return WaveProbeHeader(reinterpret_cast<const uint8_t*>(s.data()), static_cast<uint32_t>(s.size()));
}

class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WaveSetCaptureFolder(dir_.path().c_str());
    platform.now = 0x5f00aa;
  }
  void TearDown() override {
    EXPECT_EQ(WaveDeliverDone(), 0) << "completions left undelivered";
    WaveSetCaptureFolder(nullptr);
  }
  int Write(WavePlayer* p, const std::string& data, uint32_t* taken = nullptr) {
    int more = -1;
    EXPECT_EQ(WavePlayerWrite(p, reinterpret_cast<const uint8_t*>(data.data()),
                              static_cast<uint32_t>(data.size()), &more, taken),
              0);
    return more;
  }
  // Completes n buffers one at a time as the device's thread would, each
  // delivered before the next.
  void Complete(int n) {
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(device.Complete(1), 1) << i;
      EXPECT_EQ(WaveDeliverDone(), 1);
    }
  }

  FakePlatform platform;
  WaveTestDevice device;
  TempDir dir_;
};

TEST_F(SoundTest, ProbeNeverReadsPastTheBuffer) {
  std::string whole = Riff(Chunk("LIST", "abc") + Fmt(1, 2, 22050, 16));
  for (size_t cut = 0; cut <= whole.size(); ++cut) {
    std::vector<uint8_t> exact(whole.begin(), whole.begin() + cut);
    WaveFormat f = WaveProbeHeader(exact.data(), static_cast<uint32_t>(cut));
    EXPECT_EQ(f.channels, cut == whole.size() ? 2 : 1) << cut;
  }
  std::string huge = "RIFF\0\0\0\0WAVEJUNK\xff\xff\xff\xff";
  EXPECT_EQ(Probe(huge + Fmt(1, 2, 8000, 8)).channels, 1);  // the junk claims 4 GiB
}


TEST_F(SoundTest, TenThousandBytesFillTwoBuffersAndStartTheDevice) {
  WavePlayer* p = WavePlayerOpen(nullptr, kWaveMono, kWave8000, kWave8Bit);
  std::string data = Bytes(10000);
  uint32_t taken = 0;
  EXPECT_EQ(Write(p, data, &taken), 1);  // the third buffer is free
  EXPECT_EQ(taken, 8192u);
  ASSERT_EQ(device.streams[0]->written.size(), 2u);
  EXPECT_EQ(device.streams[0]->written[0], data.substr(0, 4096));
  EXPECT_EQ(device.streams[0]->written[1], data.substr(4096, 4096));
  EXPECT_EQ(Write(p, Bytes(4096), &taken), 0);  // every buffer is full or at the device
  EXPECT_EQ(taken, 4096u);
  EXPECT_EQ(device.streams[0]->written.size(), 2u);  // the third waits for slot 0

  Complete(1);
  ASSERT_EQ(device.streams[0]->written.size(), 3u);
  EXPECT_EQ(Write(p, Bytes(100), &taken), 1);
  WavePlayerClose(p);
  Complete(3);  // the last two, and the partial buffer queued at close
  EXPECT_EQ(device.streams[0]->written.back().size(), 100u);
  EXPECT_FALSE(device.streams[0]->open);  // the last completion freed the player
}



TEST_F(SoundTest, TheFileDeviceWritesNumberedRiffFiles) {
  WaveFileDevice files(dir_.path().string(), "out");
  const WaveOutOps* before = WaveOutInstall(files.Ops());
  WavePlayer* p = WavePlayerOpen(nullptr, kWaveStereo, kWave11025, kWave16Bit);
  std::string data = Bytes(8193);
  Write(p, data.substr(0, 8192));
  EXPECT_EQ(WaveDeliverDone(), 2);  // written and done at once, run here
  Write(p, data.substr(8192));
  WavePlayerClose(p);
  EXPECT_EQ(WaveDeliverDone(), 1);
  WaveOutInstall(before);
  ASSERT_EQ(files.Files().size(), 1u);
  // Padded to an even size.
  EXPECT_EQ(ReadWholeFile(dir_.path() / "out1.wav"), Riff(Fmt(1, 2, 11025, 16) + Chunk("data", data)));
}

}  // namespace
