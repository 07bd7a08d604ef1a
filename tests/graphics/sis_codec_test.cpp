// The adaptive unpacker against the test packer, and the inflate against
// zlib's streams: fed piece by piece, with preset tables cut out of a dynamic
// block, and refusing bad streams.
#include <gtest/gtest.h>

#include <random>

#include "graphics/sis_codec.h"
#include "tests/graphics/sis_deflate_split.h"
#include "tests/graphics/sis_encoders.h"
#include "tests/support/random_data.h"

namespace {

uint8_t gModel[kSisModelBytes];

// Drives the unpacker over a block as the stream decoder does, answering its
// window requests. Returns the status that ended it.
int32_t Unpack(const std::vector<uint8_t>& block, std::vector<uint8_t>* out, uint32_t room) {
  SisSetModelBuffer(gModel, sizeof gModel);
  SisDecodeAdaptiveReset();
  out->assign(room, 0xEE);
  SisAdaptiveResult r{};
  uint32_t count = 0, length = 0;
  const uint8_t* window = nullptr;
  for (int n = 0; n < 1000000; ++n) {
    SisDecodeAdaptive(window, length, out->data(), room, &count, &r);
    if (r.status == SisAdaptive::Window) {
      window = block.data() + r.offset;
      length = r.offset < block.size()
                   ? static_cast<uint32_t>(std::min<size_t>(r.size, block.size() - r.offset)) : 0;
    } else if (r.status != SisAdaptive::Again) {
      break;
    }
  }
  out->resize(count);
  return r.status;
}

TEST(SisUnpackTest, RoundTripsRandomDataAndRuns) {
  std::mt19937 rng(11);
  // Runs with flag 0, a run using nibble 15 and one unchecked byte, and data
  // spanning several windows.
  std::vector<std::vector<uint8_t>> cases{{}, {7, 7, 7, 7, 7, 9, 1}, std::vector<uint8_t>(126, 4),
                                          std::vector<uint8_t>(3000, 9), RandomBytes(rng, 20000)};
  for (uint32_t seed = 0; seed < 40; ++seed)  // runs of many lengths over many alphabets
    cases.push_back(RandomRepeats(seed, rng() % 6000, 1 + seed % 4, 1 + rng() % 256, 2 + seed % 5));
  for (size_t i = 0; i < cases.size(); ++i) {
    std::vector<uint8_t> out;
    ASSERT_EQ(Unpack(SisPackAdaptive(cases[i]), &out, static_cast<uint32_t>(cases[i].size()) + 16),
              SisAdaptive::Done) << i;
    EXPECT_EQ(out, cases[i]) << i;
  }
}

TEST(SisUnpackTest, RefusesAFullOutput) {
  std::vector<uint8_t> out;
  EXPECT_EQ(Unpack(SisPackAdaptive(std::vector<uint8_t>(100, 1)), &out, 50), SisAdaptive::Bad);
  EXPECT_LE(out.size(), 50u);
}

TEST(SisInflateTest, StoredAndFixedStreamsInAnyPieces) {
  const auto data = RandomRepeats(9, 5000, 8, 40);
  for (int level : {0, 6})
    for (uint32_t piece : {1u, 7u, 1024u}) {
      std::vector<uint8_t> out;
      ASSERT_EQ(SisInflatePieces(SisZlib(data, level), &out, 5000, piece), SisInflate::End)
          << level << " " << piece << " " << SisInflateMessage();
      EXPECT_EQ(out, data);
    }
}

TEST(SisInflateTest, RefusesBadStreams) {
  const auto data = RandomRepeats(2, 300, 8, 40);
  const auto good = SisZlib(data, 6);
  auto check = good;
  check.back() ^= 1;
  // A fixed block whose first symbol is a match: length 3, distance 1.
  const std::vector<uint8_t> farBack{0x78, 0x9C, 0x03, 0x02, 0, 0, 0, 0};
  const struct {
    std::vector<uint8_t> z;
    uint32_t room;
    const char* message;
  } rows[] = {
      {check, 300, "incorrect data check"},
      {good, 299, nullptr},
      {{0x78, 0x9C, 0x07, 0, 0, 0, 0}, 10, "invalid block type"},
      {farBack, 64, nullptr},
  };
  for (const auto& row : rows) {
    std::vector<uint8_t> out;
    EXPECT_EQ(SisInflatePieces(row.z, &out, row.room, 1024), SisInflate::Data) << row.room;
    EXPECT_STREQ(row.message ? SisInflateMessage() : "", row.message ? row.message : "");
  }
  const uint8_t tooMany[] = {0x1F, 0, 0, 0};  // HLIT 31
  EXPECT_EQ(SisInflateAll(tooMany, sizeof tooMany), SisInflate::Data);
  EXPECT_STREQ(SisInflateMessage(), "too many length or distance symbols");
}

TEST(SisPresetTest, TablesCutFromADynamicBlockDecodeItsDataUntilReset) {
  for (uint32_t seed = 1; seed <= 12; seed += 4) {
    const auto data = RandomRepeats(seed, 200 + seed * 2500, 16, 2 + seed * 37 % 199, 4);
    SisSplitStream split;
    ASSERT_TRUE(SisSplitDynamic(data, &split)) << seed;
    std::vector<uint8_t> out;
    SisInflateResetTables();
    EXPECT_EQ(SisInflatePieces(split.stream, &out, 65536, 4096), SisInflate::Data);
    EXPECT_STREQ(SisInflateMessage(), "no preset tables");
    for (size_t n = 0; n + 1 < split.tables.size(); ++n)
      ASSERT_EQ(SisInflateAll(split.tables.data(), static_cast<uint16_t>(n)), SisInflate::Short) << n;
    ASSERT_EQ(SisInflateAll(split.tables.data(), static_cast<uint16_t>(split.tables.size())), 0) << seed;
    // A stored stream between two uses leaves the tables alone.
    ASSERT_EQ(SisInflatePieces(SisZlib(data, 0), &out, static_cast<uint32_t>(data.size()), 999),
              SisInflate::End);
    for (uint32_t piece : {1u, 65536u}) {
      ASSERT_EQ(SisInflatePieces(split.stream, &out, static_cast<uint32_t>(data.size()), piece),
                SisInflate::End) << seed << " " << piece << " " << SisInflateMessage();
      EXPECT_EQ(out, data) << seed << " " << piece;
    }
  }
  // A code-length code that is over-subscribed: every one of 19 lengths 1.
  std::vector<uint8_t> bad{0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x24, 0x49, 0x92, 0x24,
                           0x49, 0x92, 0x24, 0x49, 0x92, 0x24, 0x49, 0x92, 0xFF};
  EXPECT_EQ(SisInflateAll(bad.data(), static_cast<uint16_t>(bad.size())), SisInflate::Data);
}

}  // namespace
