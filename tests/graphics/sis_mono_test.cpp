// The one-bit variant beyond a single object: derived objects and their
// delta chains, the quarter turn and what it drops, drawing passes with the
// outline mask, and the two inversions. Files are written bit by bit here
// with raw blocks; the run codes have their own round trips.
#include <gtest/gtest.h>

#include "graphics/sis.h"
#include "tests/graphics/sis_encoders.h"

namespace {

using Rows = std::vector<uint8_t>;  // packed rows, MSB leftmost

struct MonoObject {
  uint32_t wu = 1, hu = 1;
  Rows pixels{};  // a new object: wu bytes a row
  bool derived = false;
  std::vector<std::pair<uint32_t, Rows>> delta{};  // block index, its 8 rows
};

struct MonoPlace {
  uint32_t object, pass = 0;
  int32_t x = 0, y = 0;
  bool vflip = false, hflip = false, rotate = false;
};

struct MonoFrame {
  bool invert = false;
  std::vector<MonoPlace> places{};  // in object order
};

std::vector<uint8_t> MonoFile(uint32_t wu, uint32_t hu, uint32_t passes, bool invert,
                              const std::vector<MonoObject>& objects, const std::vector<MonoFrame>& frames) {
  constexpr uint32_t kIndexWidth = 4;
  SisBitWriter w;
  for (char c : {'S', 'I', 'S'}) w.Put(static_cast<uint8_t>(c), 8);
  w.Put(static_cast<uint32_t>(frames.size()), 5);
  w.Put(2, 5);
  w.Put(wu, 5);
  w.Put(hu, 4);
  w.Put(invert, 1);
  w.Put(static_cast<uint32_t>(objects.size()) - 1, 5);
  w.Put(kIndexWidth, 3);
  w.Put(0, 1);
  w.Put(4, 4);
  w.Put(passes, 3);
  w.Put(0, 4);
  for (const MonoObject& o : objects) {
    if (o.derived) {
      w.Put(0, 9);
      w.Put(!o.delta.empty(), 1);
      if (o.delta.empty()) continue;
      for (const auto& [index, rows] : o.delta) {
        w.Put(index, kIndexWidth);
        w.Put(0, 1);
        SisPutBlock(&w, rows.data(), 1, false);
      }
      w.Put((1u << kIndexWidth) - 1, kIndexWidth);
      continue;
    }
    w.Put(o.wu, 5);
    w.Put(o.hu, 4);
    for (uint32_t b = 0; b < o.wu * o.hu; ++b) w.Put(0, 1);
    for (uint32_t b = 0; b < o.wu * o.hu; ++b) SisPutBlock(&w, &o.pixels[b / o.wu * 8 * o.wu + b % o.wu], o.wu, false);
  }
  for (const MonoFrame& f : frames) {
    w.Put(f.invert, 1);
    for (uint32_t i = 0; i < objects.size(); ++i) {
      bool present = false;
      for (const MonoPlace& p : f.places) present = present || p.object == i;
      w.Put(present, 1);
    }
    for (const MonoPlace& p : f.places) {
      if (passes != 1) w.Put(p.pass, 3);
      w.Put(p.x < 0 ? 0x80 | static_cast<uint32_t>(-p.x) : static_cast<uint32_t>(p.x), 8);
      w.Put(p.y < 0 ? 0x40 | static_cast<uint32_t>(-p.y) : static_cast<uint32_t>(p.y), 7);
      w.Put(p.vflip, 1);
      w.Put(p.hflip, 1);
      w.Put(p.rotate, 1);
      w.Put(0, 1);
    }
  }
  return w.bytes;
}

class SisMonoTest : public ::testing::Test {
 protected:
  void SetUp() override { SisTestDecoderInit(64, 64); }
  // The packed rows of frame `index`; empty when the decode fails.
  Rows Frame(const std::vector<uint8_t>& file, int32_t index) { return SisTestFrame(file, index); }
};

Rows Fill(uint32_t n, uint8_t v) { return Rows(n, v); }

TEST_F(SisMonoTest, DerivedObjectsApplyEveryDeltaOfTheirChainInOrder) {
  MonoObject base{2, 1, {}};
  for (uint32_t y = 0; y < 8; ++y) base.pixels.insert(base.pixels.end(), {static_cast<uint8_t>(1u << y), 0x0F});
  MonoObject same{};
  same.derived = true;
  MonoObject first = same, second = same;
  first.delta = {{1, Fill(8, 0xAA)}};
  second.delta = {{1, Fill(8, 0x3C)}, {0, Fill(8, 0xFF)}};
  // 0 base, 1 = base, 2 = base + first, 3 = 2, 4 = 2 + second.
  const std::vector<MonoObject> objects{base, same, first, same, second};
  std::vector<MonoFrame> frames;
  for (uint32_t i = 0; i < 5; ++i) frames.push_back({false, {{i}}});
  const auto file = MonoFile(2, 1, 1, false, objects, frames);
  const Rows f0 = Frame(file, 0);
  ASSERT_EQ(f0, base.pixels);
  EXPECT_EQ(Frame(file, 1), f0);
  Rows want = base.pixels;
  for (uint32_t y = 0; y < 8; ++y) want[2 * y + 1] = 0xAA;
  EXPECT_EQ(Frame(file, 2), want);
  EXPECT_EQ(Frame(file, 3), want);
  for (uint32_t y = 0; y < 8; ++y) want[2 * y] = 0xFF, want[2 * y + 1] = 0x3C;
  EXPECT_EQ(Frame(file, 4), want);
}

TEST_F(SisMonoTest, ADeltaIndexBeyondTheObjectAndAFirstDerivedObjectFail) {
  MonoObject base{1, 1, Fill(8, 0x81)}, bad{};
  bad.derived = true;
  bad.delta = {{1, Fill(8, 0)}};
  EXPECT_TRUE(Frame(MonoFile(1, 1, 1, false, {base, bad}, {{false, {{0}}}}), 0).empty());
  EXPECT_TRUE(Frame(MonoFile(1, 1, 1, false, {bad}, {{false, {}}}), 0).empty());
  EXPECT_FALSE(Frame(MonoFile(1, 1, 1, false, {base}, {{false, {{0}}}}), 0).empty());
}

uint32_t Bit(const Rows& r, uint32_t stride, uint32_t x, uint32_t y) { return r[y * stride + x / 8] >> (7 - x % 8) & 1; }

TEST_F(SisMonoTest, QuarterTurnBeforeFlipsDropsWhatLandsOutside) {
  // A 24 x 8 object with three pixels, on a 16 x 16 canvas: cut to 16
  // columns, then (x, y) goes to (y, 23 - x), kept only below row 16.
  MonoObject o{3, 1, Fill(24, 0)};
  auto set = [&](uint32_t x, uint32_t y) { o.pixels[y * 3 + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8)); };
  set(8, 0);   // to (0, 15)
  set(15, 5);  // to (5, 8)
  set(3, 2);   // to row 20: dropped
  set(20, 1);  // beyond the cut
  MonoPlace turned{0};
  turned.rotate = true;
  MonoPlace both = turned;
  both.vflip = both.hflip = true;
  const auto file = MonoFile(2, 2, 1, false, {o}, {{false, {turned}}, {false, {both}}});
  Rows f = Frame(file, 0);
  ASSERT_EQ(f.size(), 32u);
  uint32_t count = 0;
  for (uint32_t y = 0; y < 16; ++y)
    for (uint32_t x = 0; x < 16; ++x) count += Bit(f, 2, x, y);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(Bit(f, 2, 0, 15), 1u);
  EXPECT_EQ(Bit(f, 2, 5, 8), 1u);
  // The turned object is 8 x 16; both flips turn it half a turn more.
  f = Frame(file, 1);
  ASSERT_EQ(f.size(), 32u);
  EXPECT_EQ(Bit(f, 2, 7, 0), 1u);
  EXPECT_EQ(Bit(f, 2, 2, 7), 1u);
}

TEST_F(SisMonoTest, LaterPassesCoverWhatLiesUnderTheirOutline) {
  // Black squares under a ring, a cup and a bar with a gap, drawn in pass 1.
  MonoObject black{1, 1, Fill(8, 0xFF)};
  MonoObject ring{1, 1, {0xFF, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0xFF}};
  MonoObject cup{1, 1, {0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0xFF}};
  MonoObject bar{1, 1, {0x81, 0, 0, 0, 0, 0, 0, 0}};
  std::vector<MonoObject> objects{black, black, black, ring, cup, bar};
  MonoFrame f;
  for (uint32_t i = 0; i < 3; ++i) f.places.push_back({i, 0, static_cast<int32_t>(8 * i), 0});
  for (uint32_t i = 3; i < 6; ++i) f.places.push_back({i, 1, static_cast<int32_t>(8 * (i - 3)), 0});
  MonoFrame onePass = f;
  for (auto& p : onePass.places) p.pass = 0;
  auto file = MonoFile(3, 1, 2, false, objects, {f, onePass});
  Rows out = Frame(file, 0);
  ASSERT_EQ(out.size(), 24u);
  for (uint32_t y = 0; y < 8; ++y) {
    EXPECT_EQ(out[3 * y], ring.pixels[y]) << y;  // the inside cleared
    EXPECT_EQ(out[3 * y + 1], 0xFF) << y;         // an open top: rows are cut by columns
    // Columns without black keep their mark in row 0 only.
    EXPECT_EQ(out[3 * y + 2], y == 0 ? 0x81 : 0xFF) << y;
  }
  out = Frame(file, 1);  // all in pass 0: OR
  for (uint32_t y = 0; y < 8; ++y) EXPECT_EQ(out[3 * y], 0xFF);
  // A pass count of 0 draws nothing.
  file = MonoFile(3, 1, 0, false, objects, {f});
  EXPECT_EQ(Frame(file, 0), Fill(24, 0));
}

TEST_F(SisMonoTest, FrameAndHeaderInversionsCancel) {
  MonoObject o{1, 1, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
  const std::vector<MonoFrame> frames{{false, {{0}}}, {true, {{0}}}};
  auto plain = MonoFile(1, 1, 1, false, {o}, frames);
  auto inverted = MonoFile(1, 1, 1, true, {o}, frames);
  Rows flipped = o.pixels;
  for (auto& b : flipped) b = static_cast<uint8_t>(~b);
  EXPECT_EQ(Frame(plain, 0), o.pixels);
  EXPECT_EQ(Frame(plain, 1), flipped);
  EXPECT_EQ(Frame(inverted, 0), flipped);
  EXPECT_EQ(Frame(inverted, 1), o.pixels);
}

}  // namespace
