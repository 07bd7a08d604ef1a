// The preset tables of the deflate variant: loaded from the definition of a
// zlib dynamic block cut out of its stream, kept for the next streams, left
// by a fixed block for a type-2 block after it, and forgotten on reset.
#include <gtest/gtest.h>

#include <random>

#include "graphics/sis_codec.h"
#include "tests/graphics/sis_deflate_split.h"
#include "tests/graphics/sis_encoders.h"
#include "tests/support/random_data.h"

namespace {

// Image-like bytes over an alphabet that differs from seed to seed.
std::vector<uint8_t> Picture(size_t n, uint32_t seed) {
  return RandomRepeats(seed, n, 16, 2 + seed * 37 % 199, 4);
}

TEST(SisPresetTest, TablesCutFromADynamicBlockDecodeItsData) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    const auto data = Picture(200 + seed * 2500, seed);
    SisSplitStream split;
    ASSERT_TRUE(SisSplitDynamic(data, &split)) << seed;
    std::vector<uint8_t> out;
    // zlib's own stream is not one this inflate takes: it reads the table
    // definition as codes.
    SisInflateResetTables();
    EXPECT_EQ(SisInflatePieces(split.stream, &out, 65536, 4096), SisInflate::Data);
    EXPECT_STREQ(SisInflateMessage(), "no preset tables");
    ASSERT_EQ(SisInflateAll(split.tables.data(), static_cast<uint16_t>(split.tables.size())), 0) << seed;
    for (uint32_t piece : {1u, 5u, 65536u}) {
      ASSERT_EQ(SisInflatePieces(split.stream, &out, static_cast<uint32_t>(data.size()), piece), SisInflate::End)
          << seed << " " << piece << " " << SisInflateMessage();
      EXPECT_EQ(out, data) << seed << " " << piece;
    }
  }
}

TEST(SisPresetTest, ShortDefinitionsAreRefused) {
  const auto data = Picture(3000, 77);
  SisSplitStream split;
  ASSERT_TRUE(SisSplitDynamic(data, &split));
  for (size_t n = 0; n + 1 < split.tables.size(); ++n)
    EXPECT_EQ(SisInflateAll(split.tables.data(), static_cast<uint16_t>(n)), SisInflate::Short) << n;
  // A code-length code that is over-subscribed: every one of 19 lengths 1.
  std::vector<uint8_t> bad{0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x24, 0x49, 0x92, 0x24,
                           0x49, 0x92, 0x24, 0x49, 0x92, 0x24, 0x49, 0x92, 0xFF};
  EXPECT_EQ(SisInflateAll(bad.data(), static_cast<uint16_t>(bad.size())), SisInflate::Data);
}

TEST(SisPresetTest, TypeTwoAfterAFixedBlockReusesTheFixedTables) {
  SisInflateResetTables();
  const auto data = Picture(4000, 5);
  const auto z = SisFixedThenPreset(data);
  ASSERT_FALSE(z.empty());
  std::vector<uint8_t> out, twice = data;
  twice.insert(twice.end(), data.begin(), data.end());
  for (uint32_t piece : {3u, 65536u}) {
    ASSERT_EQ(SisInflatePieces(z, &out, 8000, piece), SisInflate::End) << piece << " " << SisInflateMessage();
    EXPECT_EQ(out, twice);
  }
}

TEST(SisPresetTest, ResetForgetsTablesAndANewImageStartsWithout) {
  const auto data = Picture(5000, 9);
  SisSplitStream split;
  ASSERT_TRUE(SisSplitDynamic(data, &split));
  ASSERT_EQ(SisInflateAll(split.tables.data(), static_cast<uint16_t>(split.tables.size())), 0);
  std::vector<uint8_t> out;
  // A stored stream between two uses leaves the tables alone.
  ASSERT_EQ(SisInflatePieces(SisZlib(data, 0), &out, 5000, 999), SisInflate::End);
  ASSERT_EQ(SisInflatePieces(split.stream, &out, 5000, 999), SisInflate::End);
  EXPECT_EQ(out, data);
  SisInflateResetTables();
  EXPECT_EQ(SisInflatePieces(split.stream, &out, 5000, 999), SisInflate::Data);
}

}  // namespace
