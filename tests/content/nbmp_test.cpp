// The nbmp codec: random images and animations written by the test encoder
// (tests/content/nbmp_encoder.cpp) come back cell for cell through both
// sources; cut streams and short buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "content/nbmp.h"
#include "tests/content/nbmp_encoder.h"

namespace {

// An aligned buffer with `size` usable bytes.
struct Output {
  explicit Output(uint32_t size) : words((size + 7) / 8 + 1, 0), size(size) {}
  uint8_t* data() { return reinterpret_cast<uint8_t*>(words.data()); }
  const NbmpImage* image() { return reinterpret_cast<const NbmpImage*>(data()); }
  std::vector<uint64_t> words;
  uint32_t size;
};

void ExpectDecoded(Output& out, const NbmpTestImage& want, const std::string& where) {
  const NbmpImage* got = out.image();
  ASSERT_EQ(got->frameCount, want.frames.size()) << where;
  EXPECT_EQ((std::vector<uint32_t>{got->loopCount, got->depthCode, got->width, got->height}),
            (std::vector<uint32_t>{want.loopCount, want.depthCode, want.width, want.height}))
      << where;
  uint32_t end = 0;
  for (size_t i = 0; i < want.frames.size(); ++i) {
    NbmpFrame* frame = got->frames[i];
    const NbmpTestFrame& f = want.frames[i];
    EXPECT_EQ((std::vector<uint32_t>{frame->x, frame->y, frame->width, frame->height, frame->delay}),
              (std::vector<uint32_t>{f.x, f.y, f.width, f.height, f.delay}))
        << where;
    ASSERT_EQ(std::vector<uint8_t>(NbmpFramePixels(frame), NbmpFramePixels(frame) + f.cells.size()),
              f.cells)
        << where << " frame " << i;
    end = static_cast<uint32_t>(NbmpFramePixels(frame) + f.cells.size() - out.data());
  }
  if (!want.frames.empty()) {
    EXPECT_EQ(got->usedBytes, end) << where;
  }
  const uint32_t canvasBytes = NbmpTestRowBytes(want.width, want.depthCode) * want.height;
  const std::vector<uint8_t> canvas =
      NbmpTestCompose(want, std::vector<uint8_t>(canvasBytes, 0));
  EXPECT_EQ(std::memcmp(out.data() + out.size - canvasBytes, canvas.data(), canvasBytes), 0) << where;
}

TEST(NbmpTest, RandomImagesComeBackThroughBothSources) {
  std::mt19937 rng(20261207);
  for (int round = 0; round < 400; ++round) {
    const NbmpTestImage image = NbmpTestRandomImage(rng);
    const uint32_t canvasBytes = NbmpTestRowBytes(image.width, image.depthCode) * image.height;
    const bool wide = round % 3 == 0;
    const std::vector<uint8_t> stream =
        NbmpTestStream(image, std::vector<uint8_t>(canvasBytes, 0), wide);
    const std::string where = "round " + std::to_string(round);
    // The room check asks for a canvas's worth per frame besides the canvas.
    const uint32_t size = 64 + (image.frames.size() + 1) * (canvasBytes + 64) + 2 * canvasBytes;
    {
      Output out(size);
      const std::vector<uint8_t> raw = NbmpTestPackMemory(stream);
      ASSERT_EQ(NbmpDecodeMemory(raw.data(), static_cast<uint32_t>(raw.size()), out.data(), size), 1)
          << where;
      ExpectDecoded(out, image, where + " memory");
    }
    for (bool noisy : {false, true}) {
      Output out(size);
      std::mt19937 noise(round);
      const std::string text = NbmpTestPackText(stream, noisy ? &noise : nullptr) + (round % 2 ? "\"" : "");
      ASSERT_EQ(NbmpDecodeText(text.c_str(), out.data(), size), 1) << where << " " << text;
      ExpectDecoded(out, image, where + " text");
    }
  }
}

TEST(NbmpTest, CutStreamsAndShortBuffersFail) {
  std::mt19937 rng(7);
  NbmpTestImage image;
  do image = NbmpTestRandomImage(rng); while (image.frames.size() < 2);
  const uint32_t canvasBytes = NbmpTestRowBytes(image.width, image.depthCode) * image.height;
  const std::vector<uint8_t> stream = NbmpTestStream(image, std::vector<uint8_t>(canvasBytes, 0), false);
  const std::vector<uint8_t> raw = NbmpTestPackMemory(stream);
  const uint32_t size = 64 + (image.frames.size() + 1) * (canvasBytes + 64) + 2 * canvasBytes;
  for (size_t cut = 0; cut < raw.size(); ++cut) {
    Output out(size);
    // An exact copy, so a read past the cut is caught.
    std::vector<uint8_t> part(raw.begin(), raw.begin() + cut);
    EXPECT_EQ(NbmpDecodeMemory(part.data(), static_cast<uint32_t>(cut), out.data(), size), 0) << cut;
  }
  const std::string text = NbmpTestPackText(stream, nullptr);
  for (size_t cut = 0; cut < text.size(); ++cut) {
    Output out(size);
    EXPECT_EQ(NbmpDecodeText(text.substr(0, cut).c_str(), out.data(), size), 0) << cut;
  }
  // Every buffer size either decodes the whole image or refuses it; the
  // buffer is exact, so a write past it is caught.
  bool decoded = false;
  for (uint32_t s = 0; s <= size; s += 1 + s / 64) {
    std::vector<uint64_t> words(s / 8 + 1);
    std::vector<uint8_t> exact(s);
    uint8_t* buffer = s ? exact.data() : reinterpret_cast<uint8_t*>(words.data());
    if (reinterpret_cast<uintptr_t>(buffer) % alignof(NbmpImage)) continue;
    decoded |= NbmpDecodeMemory(raw.data(), static_cast<uint32_t>(raw.size()), buffer, s) == 1;
  }
  EXPECT_TRUE(decoded);
}

}  // namespace
