// Pictogram files: still and animated layouts read field by field, frames
// found by walking the records, and files cut short or inconsistent refused.
#include "graphics/pict.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "kernel/qorrom.h"
#include "tests/support/engine_fixture.h"

namespace {

// A small encoder of the stored layout, independent of the reader.
class PictWriter {
 public:
  // Little-endian fields as {value, width in bytes}.
  void Fields(std::initializer_list<std::pair<uint32_t, int>> fields) {
    for (const auto& [v, n] : fields)
      for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(v >> 8 * i));
  }
  // A stored RGB565 surface whose pixel i is base + i.
  void Surface(uint32_t w, uint32_t h, uint16_t base, uint32_t flags = 0x98, uint16_t key = 0) {
    Fields({{0, 4}, {w, 4}, {h, 4}, {w * 2, 4}, {w, 4}, {flags, 4}, {key, 2}, {0, 2}});
    for (uint32_t i = 0; i < w * h; ++i) Fields({{base + i, 2}});
  }
  // Image record (68 bytes; the link word's low byte marks an animation)
  // then frame 0's record (28 bytes).
  void AnimationHeader(uint16_t frames, uint16_t w, uint16_t h) {
    Fields({{1, 4}, {17, 4}, {0, 4}, {w, 2}, {h, 2}, {frames, 2}});
    bytes.insert(bytes.end(), 68 - 18, 0);
    FrameRecord(w, h);
  }
  void FrameRecord(uint16_t w, uint16_t h) {
    Fields({{w, 2}, {h, 2}, {0, 2}, {0, 2}, {100, 4}, {0, 4}, {1, 1}, {0, 1}, {0, 2}, {1, 2}, {0, 2}, {0, 4}});
  }
  std::vector<uint8_t> bytes;
};

class PictTest : public EngineFixture {};

uint16_t PixelAt(const PglSurface& s, uint32_t x, uint32_t y) {
  uint16_t v;
  std::memcpy(&v, s.pixels + (static_cast<size_t>(y) * s.pitch + x) * 2, 2);
  return v;
}

TEST_F(PictTest, AnimationFramesAreFoundByWalkingTheRecords) {
  PictWriter w;
  w.AnimationHeader(3, 4, 2);
  ASSERT_EQ(w.bytes.size(), kPictAnimHeader);
  w.Surface(4, 2, 0x000);
  w.FrameRecord(2, 1);
  w.Surface(2, 1, 0x200);
  w.FrameRecord(1, 3);
  w.Surface(1, 3, 0x300);
  PglSurface s{};
  ASSERT_EQ(PictParseImage(w.bytes, 0, &s), kOk);
  EXPECT_EQ(s.pixels, w.bytes.data() + kPictAnimHeader + kPictStoredHeader);
  EXPECT_EQ(s.width, 4u);
  ASSERT_EQ(PictParseImage(w.bytes, 1, &s), kOk);
  EXPECT_EQ(PixelAt(s, 1, 0), 0x201);
  ASSERT_EQ(PictParseImage(w.bytes, 2, &s), kOk);
  EXPECT_EQ(s.height, 3u);
  EXPECT_EQ(PixelAt(s, 0, 2), 0x302);
  EXPECT_EQ(PictParseImage(w.bytes, 3, &s), PictErr::NotFound);  // N equal to the count
  w.bytes[0] = 2;  // not a pictogram
  EXPECT_EQ(PictParseImage(w.bytes, 0, &s), PictErr::NotFound);
}

TEST_F(PictTest, FilesCutShortOrInconsistentAreRefused) {
  PglSurface s{};
  PictWriter anim;
  anim.AnimationHeader(2, 2, 2);
  anim.Surface(2, 2, 0);
  anim.FrameRecord(2, 2);
  anim.Surface(2, 2, 0);
  for (size_t n = 1; n < anim.bytes.size(); ++n)
    EXPECT_EQ(PictParseImage(std::span(anim.bytes.data(), n), 1, &s), PictErr::Malformed) << n;
  // A pitch that would run the rows past the stored bytes.
  PictWriter wide;
  wide.Surface(4, 4, 0);
  wide.bytes[16] = 9;
  EXPECT_EQ(PictParseImage(wide.bytes, 0, &s), PictErr::Malformed);
  PictWriter empty;
  empty.Surface(0, 4, 0);
  EXPECT_EQ(PictParseImage(empty.bytes, 0, &s), PictErr::Malformed);
  // A huge size must not wrap into something that seems to fit.
  PictWriter huge;
  huge.Surface(1, 1, 0);
  huge.bytes[4] = huge.bytes[5] = huge.bytes[6] = huge.bytes[7] = 0xFF;
  huge.bytes[8] = huge.bytes[9] = huge.bytes[10] = huge.bytes[11] = 0xFF;
  EXPECT_EQ(PictParseImage(huge.bytes, 0, &s), PictErr::Malformed);
}

}  // namespace
