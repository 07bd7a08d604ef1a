// Pictogram files: still and animated layouts read field by field, frames
// found by walking the records, and files cut short or inconsistent refused.
#include "graphics/pict.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kernel/qorrom.h"
#include "tests/support/engine_fixture.h"

namespace {

// A small encoder of the stored layout, independent of the reader.
class PictWriter {
 public:
  void U8(uint8_t v) { bytes.push_back(v); }
  void U16(uint16_t v) {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
  }
  void Zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
  // A stored RGB565 surface whose pixel i is base + i.
  void Surface(uint32_t w, uint32_t h, uint16_t base, uint32_t flags = 0x98, uint16_t key = 0) {
    U32(0);
    U32(w);
    U32(h);
    U32(w * 2);
    U32(w);
    U32(flags);
    U16(key);
    U16(0);
    for (uint32_t i = 0; i < w * h; ++i) U16(static_cast<uint16_t>(base + i));
  }
  // Image record (68 bytes) then frame 0's record (28 bytes).
  void AnimationHeader(uint16_t frames, uint16_t w, uint16_t h) {
    U32(1);  // the link word, whose low byte marks an animation
    U32(17);
    U32(0);
    U16(w);
    U16(h);
    U16(frames);
    Zeros(68 - 18);
    FrameRecord(w, h);
  }
  void FrameRecord(uint16_t w, uint16_t h) {
    U16(w);
    U16(h);
    U16(0);
    U16(0);
    U32(100);
    U32(0);
    U8(1);
    U8(0);
    U16(0);
    U16(1);
    U16(0);
    U32(0);
  }
  std::vector<uint8_t> bytes;
};

class PictTest : public EngineFixture {};

uint16_t PixelAt(const PglSurface& s, uint32_t x, uint32_t y) {
  uint16_t v;
  std::memcpy(&v, s.pixels + (static_cast<size_t>(y) * s.pitch + x) * 2, 2);
  return v;
}

TEST_F(PictTest, StillFileIsItsOwnSurface) {
  PictWriter w;
  w.Surface(3, 2, 0x100, 0xB8, 0xF81F);
  PglSurface s{};
  ASSERT_EQ(PictParseImage(w.bytes, 5, &s), kOk);  // a still image ignores the frame
  EXPECT_EQ(s.width, 3u);
  EXPECT_EQ(s.height, 2u);
  EXPECT_EQ(s.pitch, 3u);
  EXPECT_EQ(s.rowBytes, 6u);
  EXPECT_EQ(s.flags, 0xA8u);  // the pixels no longer follow a header of ours
  EXPECT_EQ(s.key, 0xF81F);
  EXPECT_EQ(s.pixels, w.bytes.data() + kPictStoredHeader);
  EXPECT_EQ(PixelAt(s, 2, 1), 0x105);
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
  EXPECT_EQ(s.width, 2u);
  EXPECT_EQ(PixelAt(s, 1, 0), 0x201);
  ASSERT_EQ(PictParseImage(w.bytes, 2, &s), kOk);
  EXPECT_EQ(s.height, 3u);
  EXPECT_EQ(PixelAt(s, 0, 2), 0x302);
  EXPECT_EQ(PictParseImage(w.bytes, 3, &s), PictErr::NotFound);  // N equal to the count
}

TEST_F(PictTest, OtherFirstBytesAreNotPictograms) {
  PictWriter w;
  w.Surface(1, 1, 0);
  w.bytes[0] = 2;
  PglSurface s{};
  EXPECT_EQ(PictParseImage(w.bytes, 0, &s), PictErr::NotFound);
  EXPECT_EQ(PictParseImage({}, 0, &s), PictErr::NotFound);
}

TEST_F(PictTest, FilesCutShortOrInconsistentAreRefused) {
  PictWriter still;
  still.Surface(4, 4, 0);
  PglSurface s{};
  for (size_t n = 1; n < still.bytes.size(); ++n)
    EXPECT_EQ(PictParseImage(std::span(still.bytes.data(), n), 0, &s), PictErr::Malformed) << n;

  PictWriter anim;
  anim.AnimationHeader(2, 2, 2);
  anim.Surface(2, 2, 0);
  anim.FrameRecord(2, 2);
  anim.Surface(2, 2, 0);
  for (size_t n = 1; n < anim.bytes.size(); ++n) {
    const Result r = PictParseImage(std::span(anim.bytes.data(), n), 1, &s);
    EXPECT_TRUE(r == PictErr::Malformed) << n;
  }

  // A pitch that would run the rows past the stored bytes.
  PictWriter wide;
  wide.Surface(4, 4, 0);
  wide.bytes[16] = 9;
  EXPECT_EQ(PictParseImage(wide.bytes, 0, &s), PictErr::Malformed);
  // A format nothing sizes, and an empty image.
  PictWriter nibble;
  nibble.Surface(4, 4, 0, 0x93);
  EXPECT_EQ(PictParseImage(nibble.bytes, 0, &s), PictErr::Malformed);
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

TEST_F(PictTest, MissingFilesAreNotFound) {
  PglSurface s{};
  const uint8_t* file = nullptr;
  EXPECT_EQ(PictLoadImage("no/such/picture", 0, &s, &file), PictErr::NotFound);
  EXPECT_EQ(file, nullptr);
}

}  // namespace
