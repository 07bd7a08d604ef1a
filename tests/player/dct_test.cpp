// The DCT bitmap code through the decoder, against images written by the
// test writer: flat blocks decode to exactly the values the transform's
// shortcut gives, textured blocks to within one step of an exact inverse DCT,
// and the two-slot table decodes again whatever it evicted.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "player/anim_dct.h"
#include "player/anim_heap.h"
#include "player/anim_player.h"
#include "tests/player/dct_encoder.h"

namespace {

using Block = std::array<int32_t, 64>;

Block Flat(int32_t dc) {
  Block b{};
  b[0] = dc;
  return b;
}

// The shift of the DC coefficient per quality, luma and chroma alike.
constexpr uint32_t kDcShift[8] = {3, 4, 4, 4, 5, 2, 2, 1};

// What a block holding only a DC decodes to, before the 128 offset.
int32_t FlatSample(int32_t dc, uint32_t quality) {
  const int32_t value = (dc * (1 << kDcShift[quality]) * 8 + 32) >> 6;
  return value < -256 ? -256 : value > 255 ? 255 : value;
}

int32_t Clamp(int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

uint16_t Pixel(const AnimDecodedBitmap& slot, uint32_t x, uint32_t y) {
  const uint8_t* p = slot.pixels + 2 * (y * slot.width + x);
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

class DctTest : public ::testing::Test {
 protected:
  // The decoder takes its blocks through the player's allocator: a player
  // without a movie over its own heap.
  void SetUp() override {
    AnimPlayer_Init(&player);
    AnimHeap_Reset(&heap, arena.data());
    AnimBitmap_ResetCache(&table);
  }
  void TearDown() override {
    AnimBitmap_FreeAll(&player);
    EXPECT_EQ(AnimHeap_Check(&heap), nullptr);
    EXPECT_EQ(heap.bytesInUse, 0u);
  }
  AnimBitmap Bitmap(uint32_t id, std::vector<uint8_t>& coded) {
    AnimBitmap bitmap{};
    AnimBitmap_Init(&bitmap, id, 0);
    bitmap.data = coded.data();
    bitmap.codedLength = static_cast<int32_t>(coded.size());
    return bitmap;
  }
  std::vector<uint8_t> arena = std::vector<uint8_t>(kAnimHeapArena + 1);
  AnimPlayer player{};
  AnimHeap& heap = player.heap;
  AnimBitmapTable& table = player.bitmaps;
};

// Flat macroblocks of chosen Y, I and Q at every quality: each pixel is the
// colour conversion of the three samples; only the image's own width and
// height are kept, pixels packed 5-5-5 high byte first; no alpha plane.
TEST_F(DctTest, FlatMacroblocksGiveTheirColoursExactly) {
  for (uint32_t quality = 0; quality < 8; ++quality) {
    SCOPED_TRACE(quality);
    DctTestImage image;
    image.width = 40;  // three macroblocks across, two down, the last ones cut
    image.height = 20;
    image.quality = static_cast<uint8_t>(quality);
    std::vector<std::array<int32_t, 3>> colours;
    std::mt19937 random(quality);
    for (int mb = 0; mb < 6; ++mb) {
      const int32_t y = static_cast<int32_t>(random() % 64) - 32;
      const int32_t i = static_cast<int32_t>(random() % 32) - 16;
      const int32_t q = static_cast<int32_t>(random() % 32) - 16;
      colours.push_back({y, i, q});
      for (int k = 0; k < 4; ++k) image.blocks.push_back(Flat(y));
      image.blocks.push_back(Flat(i));
      image.blocks.push_back(Flat(q));
    }
    std::vector<uint8_t> coded = DctTestEncode(image);
    AnimBitmap bitmap = Bitmap(7, coded);
    ASSERT_EQ(AnimBitmap_Decode(&player, &bitmap), 0);
    const AnimDecodedBitmap& slot = table.slots[0];
    EXPECT_EQ(bitmap.width, 40u);
    EXPECT_EQ(bitmap.height, 20u);
    EXPECT_EQ(bitmap.rowBytes, 80u);
    EXPECT_EQ(slot.alpha, nullptr);
    for (uint32_t y = 0; y < 20; ++y)
      for (uint32_t x = 0; x < 40; ++x) {
        const auto& c = colours[(y / 16) * 3 + x / 16];
        const int32_t Y = FlatSample(c[0], quality) + 128, I = FlatSample(c[1], quality),
                      Q = FlatSample(c[2], quality);
        const int32_t r = Clamp(Y + ((31 * I + 20 * Q) >> 5)), g = Clamp(Y - ((21 * Q + 9 * I) >> 5)),
                      b = Clamp(Y + ((5 * (11 * Q - 7 * I)) >> 5));
        ASSERT_EQ(Pixel(slot, x, y), (r >> 3) << 10 | (g >> 3) << 5 | b >> 3) << x << "," << y;
      }
    AnimBitmap_FreeAll(&player);
  }
}

// Textured luma blocks (no chroma: grey pixels) against a double-precision
// inverse DCT: every sample within one 5-bit step.
TEST_F(DctTest, TexturedBlocksFollowTheExactTransform) {
  std::mt19937 random(11);
  DctTestImage image;
  image.quality = 7;  // every coefficient doubled
  std::vector<Block> luma;
  for (int k = 0; k < 4; ++k) {
    Block b{};
    for (int at = 0; at < 64; ++at)
      if (random() % 3 == 0) b[at] = static_cast<int32_t>(random() % 81) - 40;
    b[0] = static_cast<int32_t>(random() % 200) - 100;
    luma.push_back(b);
    image.blocks.push_back(b);
  }
  image.blocks.push_back(Flat(0));
  image.blocks.push_back(Flat(0));
  std::vector<uint8_t> coded = DctTestEncode(image);
  AnimBitmap bitmap = Bitmap(1, coded);
  ASSERT_EQ(AnimBitmap_Decode(&player, &bitmap), 0);
  for (int k = 0; k < 4; ++k)
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        double sum = 0;
        for (int v = 0; v < 8; ++v)
          for (int u = 0; u < 8; ++u) {
            const double cu = u ? 1 : std::sqrt(0.5), cv = v ? 1 : std::sqrt(0.5);
            sum += cu * cv * 2 * luma[k][v * 8 + u] * std::cos((2 * x + 1) * u * M_PI / 16) *
                   std::cos((2 * y + 1) * v * M_PI / 16);
          }
        const int32_t exact = Clamp(static_cast<int32_t>(std::lround(sum / 4)) + 128);
        const uint32_t px = (k & 1) * 8 + x, py = (k >> 1) * 8 + y;
        const int32_t got = Pixel(table.slots[0], px, py) & 31;
        EXPECT_LE(std::abs(got - (exact >> 3)), 1) << k << " " << x << "," << y;
        EXPECT_EQ(Pixel(table.slots[0], px, py), got << 10 | got << 5 | got);
      }
}

// Coded data that goes on past its colour part holds the alpha runs at the
// alpha offset; runs that stop short leave the rest of the plane 0.
TEST_F(DctTest, AlphaRunsFillThePlane) {
  DctTestImage image;
  image.width = 5;
  image.height = 3;
  for (int k = 0; k < 6; ++k) image.blocks.push_back(Flat(0));
  image.withAlpha = true;
  image.alpha = {{255, 4}, {0, 0}, {128, 6}, {7, 1}};
  std::vector<uint8_t> coded = DctTestEncode(image);
  AnimBitmap bitmap = Bitmap(2, coded);
  ASSERT_EQ(AnimBitmap_Decode(&player, &bitmap), 0);
  const uint8_t* alpha = table.slots[0].alpha;
  ASSERT_NE(alpha, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(alpha, alpha + 15),
            (std::vector<uint8_t>{255, 255, 255, 255, 128, 128, 128, 128, 128, 128, 7, 0, 0, 0, 0}));
}

// Three bitmaps drawn in turn: two slots, the one decoded longest ago goes,
// and a bitmap still held is not decoded again.
TEST_F(DctTest, TwoSlotsServeThreeBitmapsInTurn) {
  std::vector<std::vector<uint8_t>> coded;
  std::vector<AnimBitmap> bitmaps;
  for (int32_t n = 0; n < 3; ++n) {
    DctTestImage image;
    for (int k = 0; k < 6; ++k) image.blocks.push_back(Flat(k < 4 ? n * 10 : 0));
    coded.push_back(DctTestEncode(image));
  }
  for (uint32_t n = 0; n < 3; ++n) bitmaps.push_back(Bitmap(100 + n, coded[n]));
  const int32_t expectSlot[] = {0, 1, 0, 1, 0, 1};
  for (int turn = 0; turn < 6; ++turn) {
    AnimBitmap& bitmap = bitmaps[turn % 3];
    ASSERT_EQ(AnimBitmap_Decode(&player, &bitmap), expectSlot[turn]) << turn;
    EXPECT_EQ(table.slots[expectSlot[turn]].key, static_cast<int32_t>(bitmap.header.id));
    EXPECT_EQ(Pixel(table.slots[expectSlot[turn]], 3, 3),
              Pixel(table.slots[expectSlot[turn]], 3, 3));
  }
  // The last decoded (bitmap 102 in slot 1) is found without a decode.
  const uint32_t counter = table.counter;
  EXPECT_EQ(AnimBitmap_Decode(&player, &bitmaps[2]), 1);
  EXPECT_EQ(table.counter, counter);
}

// Damaged data never reads outside its bytes: every cut of a coded image and
// random bytes decode to something or nothing, and sizes past the heap set
// the abort flag with the heap whole.
TEST_F(DctTest, DamagedDataStaysInsideItsBytes) {
  DctTestImage image;
  image.width = 20;
  image.height = 20;
  std::mt19937 random(5);
  for (int k = 0; k < 24; ++k) {
    Block b{};
    for (int at = 0; at < 64; at += 5) b[at] = static_cast<int32_t>(random() % 31) - 15;
    image.blocks.push_back(b);
  }
  const std::vector<uint8_t> whole = DctTestEncode(image);
  for (size_t cut = 0; cut <= whole.size(); ++cut) {
    std::vector<uint8_t> coded(whole.begin(), whole.begin() + static_cast<long>(cut));
    AnimDecodedBitmap slot{-1, 0, 0, 0, nullptr, nullptr, nullptr};
    AnimDct_Decode(&player, coded.data(), static_cast<uint32_t>(coded.size()), &slot);
    EXPECT_EQ(heap.abortFlag, 0u) << cut;
    AnimHeap_Free(&heap, slot.pixels);
    if (slot.alpha) AnimHeap_Free(&heap, slot.alpha);
  }
  std::vector<uint8_t> huge = whole;
  huge[4] = huge[5] = huge[6] = huge[7] = 0xFF;  // 65,535 x 65,535
  AnimBitmap bitmap = Bitmap(9, huge);
  EXPECT_EQ(AnimBitmap_Decode(&player, &bitmap), -1);
  EXPECT_EQ(heap.abortFlag, 1u);
  EXPECT_EQ(table.slots[0].key, -1);
}

}  // namespace
