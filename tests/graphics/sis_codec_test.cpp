// The adaptive unpacker and the preset-table inflate: round trips over
// random data, the run layer's rules, window requests, refusals, and zlib's
// streams decoded piece by piece.
#include <gtest/gtest.h>

#include <random>

#include "graphics/sis_codec.h"
#include "tests/graphics/sis_encoders.h"
#include "tests/support/random_data.h"

namespace {

uint8_t gModel[kSisModelBytes];

// Drives the unpacker over a block as the stream decoder does; the number
// of steps goes to *steps. Returns the status that ended it.
int32_t Unpack(const std::vector<uint8_t>& block, std::vector<uint8_t>* out, uint32_t room,
               uint32_t* steps = nullptr) {
  SisSetModelBuffer(gModel, sizeof gModel);
  SisDecodeAdaptiveReset();
  out->assign(room, 0xEE);
  SisAdaptiveResult r{};
  uint32_t count = 0, offset = 0, n = 0;
  const uint8_t* window = nullptr;
  uint32_t length = 0;
  for (; n < 1000000; ++n) {
    SisDecodeAdaptive(window, length, out->data(), room, &count, &r);
    if (r.status == SisAdaptive::Window) {
      offset = r.offset;
      window = block.data() + offset;
      length = offset < block.size() ? static_cast<uint32_t>(std::min<size_t>(r.size, block.size() - offset)) : 0;
    } else if (r.status != SisAdaptive::Again) {
      break;
    }
  }
  out->resize(count);
  if (steps) *steps = n + 1;  // calls, the last one included
  return r.status;
}

TEST(SisUnpackTest, RoundTripsRandomDataOfManySizes) {
  std::mt19937 rng(11);
  for (int round = 0; round < 60; ++round) {
    const size_t n = rng() % 6000;
    std::vector<uint8_t> data(n);
    const uint32_t alphabet = 1 + rng() % 256;
    for (size_t i = 0; i < n; ++i) {
      // Runs of many lengths between random stretches.
      if (i && rng() % 4 == 0) {
        const size_t run = rng() % 300;
        for (size_t k = 0; k < run && i < n; ++k, ++i) data[i] = data[i - 1];
        if (i >= n) break;
      }
      data[i] = static_cast<uint8_t>(rng() % alphabet);
    }
    std::vector<uint8_t> out;
    ASSERT_EQ(Unpack(SisPackAdaptive(data), &out, static_cast<uint32_t>(n) + 16), SisAdaptive::Done)
        << "round " << round;
    EXPECT_EQ(out, data) << "round " << round;
  }
}

TEST(SisUnpackTest, EmptyBlockEndsInItsFirstDecodingStep) {
  std::vector<uint8_t> out;
  uint32_t steps = 0;
  EXPECT_EQ(Unpack(SisPackAdaptive({}), &out, 16, &steps), SisAdaptive::Done);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(steps, 3u);  // the first window, the header, then the decoding step
}

TEST(SisUnpackTest, RunRulesRepeatAndContinue) {
  // Three equal bytes with flag 0, then more equal bytes and a different one;
  // a run of 123 + 3 bytes uses nibble 15 and then one unchecked byte.
  for (const auto& data : {std::vector<uint8_t>{7, 7, 7, 7, 7, 9, 1},
                           std::vector<uint8_t>(126, 4), std::vector<uint8_t>(200, 0)}) {
    std::vector<uint8_t> out;
    ASSERT_EQ(Unpack(SisPackAdaptive(data), &out, 400), SisAdaptive::Done);
    EXPECT_EQ(out, data);
  }
}

TEST(SisUnpackTest, AsksForWindowsAtTheAdvancedOffset) {
  std::mt19937 rng(3);
  std::vector<uint8_t> data(20000);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  const std::vector<uint8_t> block = SisPackAdaptive(data);
  ASSERT_GT(block.size(), 4 * kSisWindow);
  std::vector<uint8_t> out;
  EXPECT_EQ(Unpack(block, &out, 20000), SisAdaptive::Done);
  EXPECT_EQ(out, data);
}

TEST(SisUnpackTest, RefusesASmallModelBufferAndAFullOutput) {
  EXPECT_EQ(SisSetModelBuffer(gModel, kSisModelBytes - 1), 1);
  SisAdaptiveResult r{};
  uint32_t count = 9;
  SisDecodeAdaptive(nullptr, 0, nullptr, 0, &count, &r);
  EXPECT_EQ(r.status, SisAdaptive::NoModel);
  EXPECT_EQ(count, 0u);
  std::vector<uint8_t> out;
  EXPECT_EQ(Unpack(SisPackAdaptive(std::vector<uint8_t>(100, 1)), &out, 50), SisAdaptive::Bad);
  EXPECT_LE(out.size(), 50u);
}

TEST(SisInflateTest, StoredAndFixedStreamsInAnyPieces) {
  for (int level : {0, 6})
    for (uint32_t piece : {1u, 7u, 1024u}) {
      const auto data = RandomRepeats(9, 5000, 8, 40);
      std::vector<uint8_t> out;
      ASSERT_EQ(SisInflatePieces(SisZlib(data, level), &out, 5000, piece), SisInflate::End)
          << level << " " << piece << " " << SisInflateMessage();
      EXPECT_EQ(out, data);
    }
}

TEST(SisInflateTest, FailsTheAdlerCheckAndBadHeaders) {
  const auto data = RandomRepeats(2, 300, 8, 40);
  auto z = SisZlib(data, 6);
  std::vector<uint8_t> out;
  z.back() ^= 1;
  EXPECT_EQ(SisInflatePieces(z, &out, 300, 1024), SisInflate::Data);
  EXPECT_STREQ(SisInflateMessage(), "incorrect data check");
  z = SisZlib(data, 6);
  z[1] ^= 1;
  EXPECT_EQ(SisInflatePieces(z, &out, 300, 1024), SisInflate::Data);
  EXPECT_STREQ(SisInflateMessage(), "incorrect header check");
}

TEST(SisInflateTest, RefusesOutputBeyondItsRoomAndBlockTypeThree) {
  const auto data = RandomRepeats(4, 300, 8, 40);
  std::vector<uint8_t> out;
  EXPECT_EQ(SisInflatePieces(SisZlib(data, 6), &out, 299, 1024), SisInflate::Data);
  EXPECT_EQ(SisInflatePieces({0x78, 0x9C, 0x07, 0, 0, 0, 0}, &out, 10, 1024), SisInflate::Data);
  EXPECT_STREQ(SisInflateMessage(), "invalid block type");
}

TEST(SisInflateTest, RefusesADistanceBeyondWhatItHasWritten) {
  // A fixed block whose first symbol is a match: length 3 (257), distance 1.
  std::vector<uint8_t> z{0x78, 0x9C};
  uint32_t acc = 0, n = 0;
  auto put = [&](uint32_t v, uint32_t bits) { acc |= v << n, n += bits; };
  put(1, 1);
  put(1, 2);      // final, fixed
  put(0x40, 7);   // 257 is "0000001": its first bit goes lowest
  put(0, 5);      // distance code 0
  while (n >= 8 || n > 0) {
    z.push_back(static_cast<uint8_t>(acc));
    acc >>= 8;
    n = n >= 8 ? n - 8 : 0;
  }
  z.resize(z.size() + 4, 0);
  std::vector<uint8_t> out;
  EXPECT_EQ(SisInflatePieces(z, &out, 64, 1024), SisInflate::Data);
}

TEST(SisInflateTest, RefusesBadTableDefinitions) {
  // HLIT 31 would be refused.
  const uint8_t tooMany[] = {0x1F, 0, 0, 0};
  EXPECT_EQ(SisInflateAll(tooMany, sizeof tooMany), SisInflate::Data);
  EXPECT_STREQ(SisInflateMessage(), "too many length or distance symbols");
  const uint8_t shortDef[] = {0x00};
  EXPECT_EQ(SisInflateAll(shortDef, sizeof shortDef), SisInflate::Short);
}

}  // namespace
