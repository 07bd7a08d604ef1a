// The wave player over the test device: formats, the header probe, buffer
// queueing and completions on the main thread, a source that refills, the
// capture file, freeing, the file device's RIFF files and system sounds.
#include <gtest/gtest.h>

#include <string>
#include <thread>
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

TEST_F(SoundTest, FormatCodesOpenTheDeviceAtOnce) {
  WavePlayer* p = WavePlayerOpen(nullptr, kWaveMono, kWave44100, kWave16Bit);
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(device.streams.size(), 1u);
  WaveFormat f = device.streams[0]->format;
  EXPECT_EQ(f.channels, 1);
  EXPECT_EQ(f.rate, 44100u);
  EXPECT_EQ(f.bits, 16);
  EXPECT_EQ(f.BlockAlign(), 2);
  EXPECT_EQ(f.BytesPerSecond(), 88200u);
  WavePlayerClose(p);
  EXPECT_FALSE(device.streams[0]->open);

  WaveFormat odd = WaveDecodeFormat(0x3000, 0x50, kWave8Bit);
  EXPECT_EQ(odd.channels, 0);
  EXPECT_EQ(odd.rate, 0u);
  EXPECT_EQ(WaveDecodeFormat(kWaveStereo, kWave22050, 0x300).rate, 0u);
  EXPECT_EQ(WaveDecodeFormat(kWaveStereo, kWave11025, kWave8Bit).channels, 2);
}

TEST_F(SoundTest, ProbeReadsThePcmFormatChunkAfterOthers) {
  std::string list = Chunk("LIST", "INFOISFT fmt  text that mentions fmt ");
  WaveFormat f = Probe(Riff(list + Fmt(1, 2, 96000, 16) + Chunk("data", "ab")));
  EXPECT_EQ(f.channels, 2);
  EXPECT_EQ(f.rate, 96000u);  // all 32 bits of the rate
  EXPECT_EQ(f.bits, 16);
}

TEST_F(SoundTest, ProbeFallsBackToEightKilohertzMono) {
  for (const std::string& data :
       {std::string("not a wave file at all"), Riff(Fmt(3, 2, 44100, 32)),
        std::string("RIFF\x10\0\0\0AVI fmt ", 16), Riff(Chunk("data", "xy")), std::string()}) {
    WaveFormat f = Probe(data);
    EXPECT_EQ(f.channels, 1);
    EXPECT_EQ(f.rate, 8000u);
    EXPECT_EQ(f.bits, 8);
  }
}

TEST_F(SoundTest, CompletionsReachThePlayerOnlyOnTheMainThread) {
  WavePlayer* p = WavePlayerOpen(nullptr, kWaveMono, kWave8000, kWave8Bit);
  Write(p, Bytes(2 * 4096));
  EXPECT_EQ(Write(p, Bytes(4096)), 0);
  EXPECT_EQ(Write(p, "x"), 0);
  std::thread deviceThread([&] { device.Complete(1); });
  deviceThread.join();
  EXPECT_EQ(device.streams[0]->written.size(), 2u);  // handed over, not yet run
  EXPECT_EQ(WaveDeliverDone(), 1);
  EXPECT_EQ(device.streams[0]->written.size(), 3u);
  EXPECT_EQ(Write(p, "x"), 1);
  WavePlayerClose(p);
  Complete(3);
}

TEST_F(SoundTest, ACompletionWithNothingWaitingRefillsFromTheSource) {
  struct Feed {
    std::vector<std::string> blocks;
    size_t next = 0;
  } feed{{Bytes(4096, 1), Bytes(4096, 2)}};
  WaveSource source{&feed, [](void* ctx, const uint8_t** data, uint32_t* length) -> Result {
                      auto* f = static_cast<Feed*>(ctx);
                      if (f->next == f->blocks.size()) return 0x8001;
                      *data = reinterpret_cast<const uint8_t*>(f->blocks[f->next].data());
                      *length = static_cast<uint32_t>(f->blocks[f->next++].size());
                      return kOk;
                    }};
  WavePlayer* p = WavePlayerOpen(&source, kWaveStereo, kWave22050, kWave16Bit);
  Write(p, Bytes(8192));
  Complete(1);  // slot 0 idle: the source's first block fills the next buffer
  Complete(1);  // slot 1 idle: the second block; both go out as the device restarts
  ASSERT_EQ(device.streams[0]->written.size(), 4u);
  EXPECT_EQ(device.streams[0]->written[2], feed.blocks[0]);
  EXPECT_EQ(device.streams[0]->written[3], feed.blocks[1]);
  WavePlayerClose(p);
  Complete(2);
  EXPECT_FALSE(device.streams[0]->open);
}

TEST_F(SoundTest, WithoutChannelsTheFirstBufferDecidesTheFormat) {
  WavePlayer* p = WavePlayerOpen(nullptr, 0, 0, 0);
  EXPECT_TRUE(device.streams.empty());
  std::string wave = Riff(Chunk("LIST", "INFO") + Fmt(1, 2, 44100, 16));
  Write(p, wave + Bytes(8192 - wave.size()));
  ASSERT_EQ(device.streams.size(), 1u);
  EXPECT_EQ(device.streams[0]->format.channels, 2);
  EXPECT_EQ(device.streams[0]->format.rate, 44100u);
  EXPECT_EQ(device.streams[0]->written.size(), 2u);
  WavePlayerClose(p);
  Complete(2);

  WavePlayer* raw = WavePlayerOpen(nullptr, 0, 0, 0);
  Write(raw, "plain bytes");
  WavePlayerClose(raw);  // a sound shorter than a buffer is written at close
  ASSERT_EQ(device.streams.size(), 2u);
  EXPECT_EQ(device.streams[1]->format.rate, 8000u);
  EXPECT_EQ(device.streams[1]->written, std::vector<std::string>{"plain bytes"});
  Complete(1);
  EXPECT_FALSE(device.streams[1]->open);
}

TEST_F(SoundTest, APlayerWhoseDeviceNeverOpenedIsFreedAtClose) {
  device.refuse = true;
  WavePlayer* p = WavePlayerOpen(nullptr, kWaveMono, kWave8000, kWave8Bit);
  Write(p, Bytes(9000));
  WavePlayerClose(p);  // the sanitizer build checks that nothing is left
  EXPECT_TRUE(device.streams.empty());
  EXPECT_GE(device.queried.size(), 1u);

  WavePlayer* zero = WavePlayerOpen(nullptr, 0, 0, 0);
  Write(zero, Riff(Fmt(1, 0, 8000, 8)) + Bytes(5000));  // a header with no channels
  WavePlayerClose(zero);
}

TEST_F(SoundTest, TheCaptureFileHoldsExactlyTheBytesWritten) {
  WavePlayer* first = WavePlayerOpen(nullptr, kWaveMono, kWave8000, kWave8Bit);
  WavePlayer* second = WavePlayerOpen(nullptr, kWaveMono, kWave8000, kWave8Bit);
  std::string a = Bytes(10000, 3), b = Bytes(17, 9);
  Write(first, a);  // 1808 bytes were not taken, but captured all the same
  Write(first, b);
  Write(second, "second");
  WavePlayerClose(first);
  WavePlayerClose(second);
  EXPECT_EQ(ReadWholeFile(dir_.path() / "5f00aa.wav"), a + b);
  EXPECT_EQ(ReadWholeFile(dir_.path() / "5f00aa-2.wav"), "second");
  device.Complete(100);
  WaveDeliverDone();
}

TEST_F(SoundTest, AMissingCaptureFolderIsNoError) {
  WaveSetCaptureFolder((dir_ / "absent").c_str());
  WavePlayer* p = WavePlayerOpen(nullptr, kWaveMono, kWave8000, kWave8Bit);
  ASSERT_NE(p, nullptr);
  Write(p, "abc");
  WavePlayerClose(p);
  Complete(1);
}

TEST_F(SoundTest, SystemSoundsGoToTheInstalledPlayer) {
  std::vector<std::string> heard;
  SoundSystemOps ops{&heard,
                     [](void* ctx, const char* alias) {
                       static_cast<std::vector<std::string>*>(ctx)->push_back(alias);
                     },
                     [](void* ctx) { static_cast<std::vector<std::string>*>(ctx)->push_back("stop"); }};
  SoundPlaySystem("SystemStart");  // nothing installed: nothing happens
  const SoundSystemOps* before = SoundSystemInstall(&ops);
  SoundPlaySystem("SystemStart");
  SoundStopSystem();
  SoundSystemInstall(before);
  EXPECT_EQ(heard, (std::vector<std::string>{"SystemStart", "stop"}));
}

}  // namespace
