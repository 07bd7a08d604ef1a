// The built-in file decoder on hand-made bit streams, its failure cases, the
// block-chain input, and the encoder's round trip through it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kernel/qorrom.h"
#include "kernel/qorrom_compress.h"
#include "tests/support/random_data.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A bit stream from text of '0' and '1' (anything else is ignored), padded
// with zero bits to whole bytes.
Bytes Bits(const std::string& text) {
  Bytes out;
  int n = 0;
  for (char c : text) {
    if (c != '0' && c != '1') continue;
    if (n % 8 == 0) out.push_back(0);
    if (c == '1') out.back() |= static_cast<uint8_t>(0x80 >> (n % 8));
    ++n;
  }
  return out;
}

// Decodes into a buffer of `room` bytes; nullopt-like: ok false on failure.
struct Decoded {
  bool ok;
  Bytes bytes;
};

Decoded Decode(const Bytes& input, uint32_t room) {
  Bytes out(room + 1, 0xEE);
  uint32_t capacity = room;
  const QorRomInBlock block{nullptr, input.data(), static_cast<uint32_t>(input.size()), 0};
  const int ok = QorRomDecodeStream(&block, out.data(), &capacity);
  EXPECT_EQ(out[room], 0xEE) << "wrote past the room";
  if (!ok) return {false, {}};
  EXPECT_LE(capacity, room);
  out.resize(capacity);
  return {true, out};
}

// "A" as an 8-bit literal: code 2, value 1.
const char kLiteralA[] = "010 00001 ";

TEST(QorRomDecodeLiteral, NineBitLiteralThenSevenBitOne) {
  // Code 4 value 0 is 0x80; code 1 value 1 is 0x21.
  const Decoded d = Decode(Bits("100 000000 001 00001"), 16);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.bytes, (Bytes{0x80, 0x21}));
}

TEST(QorRomDecodeLiteral, EveryCodeRange) {
  // 0x1F, 0x3F, 0x5F, 0x7F, 0xBF, 0xFF: the top of each range.
  const Decoded d =
      Decode(Bits("000 11111 001 11111 010 11111 011 11111 100 111111 101 111111"), 16);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.bytes, (Bytes{0x1F, 0x3F, 0x5F, 0x7F, 0xBF, 0xFF}));
}

TEST(QorRomDecodeLiteral, UntouchedLastByteIsOutputAsItStands) {
  // After one 8-bit literal the stream is aligned; the last byte, 0xFF,
  // would not decode as a code at all.
  Bytes input = Bits(kLiteralA);
  input.push_back(0xFF);
  const Decoded d = Decode(input, 8);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.bytes, (Bytes{'A', 0xFF}));
}

TEST(QorRomDecodeLiteral, PaddingBitsAfterTheLastCodeAreIgnored) {
  // 9 + 9 bits in 3 bytes: six bits of padding, fewer than a code.
  const Decoded d = Decode(Bits("100 000001 100 000010 111111"), 8);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.bytes, (Bytes{0x81, 0x82}));
}

TEST(QorRomDecodeCopy, NearDistanceOneRepeatsTheLastByte) {
  // Code 7, flag 1, distance 1, length prefix 0 (3): a run of four.
  const Decoded d = Decode(Bits(std::string(kLiteralA) + "111 1 000001 0"), 8);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.bytes, (Bytes{'A', 'A', 'A', 'A'}));
}

TEST(QorRomDecodeCopy, LengthFieldsOfEachPrefix) {
  // Prefix k ones then 0, then k + 1 bits plus 2^(k+1).
  struct Case {
    std::string prefix;
    uint32_t length;
  } cases[] = {{"10 00", 4}, {"10 11", 7}, {"110 000", 8}, {"110 111", 15},
               {"1110 0101", 21}};
  for (const Case& c : cases) {
    const Decoded d = Decode(Bits(std::string(kLiteralA) + "111 1 000001 " + c.prefix), 64);
    ASSERT_TRUE(d.ok) << c.prefix;
    EXPECT_EQ(d.bytes, Bytes(1 + c.length, 'A')) << c.prefix;
  }
}

TEST(QorRomDecodeCopy, ElevenOnesTakeATwelveBitFieldPlus4096) {
  const Decoded d =
      Decode(Bits(std::string(kLiteralA) + "111 1 000001 11111111111 0 000000000101"), 8192);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.bytes, Bytes(1 + 4096 + 5, 'A'));
}

TEST(QorRomDecodeCopy, TwelveOnesFail) {
  EXPECT_FALSE(
      Decode(Bits(std::string(kLiteralA) + "111 1 000001 111111111111 0 0000000000000"), 8192)
          .ok);
}

TEST(QorRomDecodeCopy, MiddleAndFarDistances) {
  // 400 distinct-ish bytes, then copies from 64 + 6 and 320 + 10 back.
  std::string bits;
  Bytes expect;
  for (int i = 0; i < 400; ++i) {
    const uint8_t b = static_cast<uint8_t>(i % 128);
    expect.push_back(b);
    for (int k = 7; k >= 0; --k) bits += (b >> k & 1) ? '1' : '0';
  }
  bits += "111 0 00000110 0";        // distance 70, length 3
  bits += "110 0000000001010 10 01";  // distance 330, length 5
  for (int i = 0; i < 3; ++i) expect.push_back(expect[expect.size() - 70]);
  for (int i = 0; i < 5; ++i) expect.push_back(expect[expect.size() - 330]);
  const Decoded d = Decode(Bits(bits), 1024);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.bytes, expect);
}

TEST(QorRomDecodeFailure, DistanceZero) {
  EXPECT_FALSE(Decode(Bits(std::string(kLiteralA) + "111 1 000000 0"), 64).ok);
}

TEST(QorRomDecodeFailure, DistanceBeyondWhatWasWritten) {
  EXPECT_FALSE(Decode(Bits(std::string(kLiteralA) + "111 1 000010 0"), 64).ok);
  // Far codes start at 320: never valid after a few bytes.
  EXPECT_FALSE(Decode(Bits(std::string(kLiteralA) + "110 0000000000000 0"), 64).ok);
}

TEST(QorRomDecodeFailure, CodeRunsPastTheInput) {
  // A far copy needs 17 bits; two bytes hold 16.
  EXPECT_FALSE(Decode(Bits("110 0000000000000"), 64).ok);
  // The length prefix never ends inside the input.
  EXPECT_FALSE(Decode(Bits(std::string(kLiteralA) + "111 1 000001 1111111"), 8192).ok);
}

TEST(QorRomDecodeFailure, EmptyInput) {
  EXPECT_FALSE(Decode(Bytes{}, 64).ok);
  uint32_t capacity = 64;
  uint8_t out[64];
  EXPECT_EQ(QorRomDecodeStream(nullptr, out, &capacity), 0);
}

TEST(QorRomDecodeFailure, OutputPastTheRoom) {
  EXPECT_FALSE(Decode(Bits("100 000001 100 000010"), 1).ok);
  EXPECT_FALSE(Decode(Bits(std::string(kLiteralA) + "111 1 000001 0"), 3).ok);
  // The untouched last byte needs room too.
  EXPECT_FALSE(Decode(Bytes{0x41, 0xFF}, 1).ok);
}

TEST(QorRomDecompress, OutputGoesBehindTheHeaderWord) {
  const Bytes input = Bits(std::string(kLiteralA) + "111 1 000001 0");
  uint8_t image[4 + 4] = {1, 2, 3, 4};
  uint32_t capacity = 4;
  ASSERT_EQ(QorRomDecompress(input.data(), static_cast<uint32_t>(input.size()), image, &capacity),
            1);
  EXPECT_EQ(capacity, 4u);
  EXPECT_EQ(Bytes(image, image + 8), (Bytes{1, 2, 3, 4, 'A', 'A', 'A', 'A'}));
}

TEST(QorRomDecompress, FailsWhenTheSizeDiffersFromTheRecordedOne) {
  const Bytes input = Bits(std::string(kLiteralA) + "111 1 000001 0");
  uint8_t image[4 + 16];
  uint32_t capacity = 16;
  EXPECT_EQ(QorRomDecompress(input.data(), static_cast<uint32_t>(input.size()), image, &capacity),
            0);
  EXPECT_EQ(capacity, 4u);
  capacity = 3;
  EXPECT_EQ(QorRomDecompress(input.data(), static_cast<uint32_t>(input.size()), image, &capacity),
            0);
}

// The encoder and a reusable work area.
class QorRomCodec : public ::testing::Test {
 protected:
  Bytes Compress(const Bytes& data, uint32_t room = 0) {
    Bytes out(room ? room : QorRomCompressBound(static_cast<uint32_t>(data.size())));
    const uint32_t n = QorRomCompress(work_.get(), data.data(), static_cast<uint32_t>(data.size()),
                                      out.data(), static_cast<uint32_t>(out.size()));
    out.resize(n);
    return out;
  }
  // Decodes through a chain cut at random places, with random offsets.
  Decoded DecodeChain(const Bytes& input, uint32_t room, std::mt19937& rng) {
    std::vector<Bytes> storage;
    std::vector<QorRomInBlock> blocks;
    size_t pos = 0;
    while (pos < input.size()) {
      const size_t take = std::min<size_t>(input.size() - pos, rng() % 12);  // 0 allowed
      const uint32_t offset = rng() % 5;
      Bytes b(offset, 0x5A);
      b.insert(b.end(), input.begin() + static_cast<long>(pos),
               input.begin() + static_cast<long>(pos + take));
      storage.push_back(std::move(b));
      pos += take;
      blocks.push_back({nullptr, nullptr, static_cast<uint32_t>(take), offset});
    }
    for (size_t i = 0; i < blocks.size(); ++i) {
      blocks[i].data = storage[i].data();
      if (i + 1 < blocks.size()) blocks[i].next = &blocks[i + 1];
    }
    Bytes out(room);
    uint32_t capacity = room;
    if (!QorRomDecodeStream(blocks.empty() ? nullptr : blocks.data(), out.data(), &capacity))
      return {false, {}};
    out.resize(capacity);
    return {true, out};
  }

  std::unique_ptr<QorRomEncoder> work_ = std::make_unique<QorRomEncoder>();
};

// Text-like data: words from a small vocabulary.
Bytes Prose(std::mt19937& rng, size_t n) {
  static const char* const kWords[] = {"<p>", "the ", "browser ", "page ", "</a>", "href=\"",
                                       "info://", "\n", "settings ", "\xc3\xa9t\xc3\xa9 "};
  Bytes b;
  while (b.size() < n) {
    const char* w = kWords[rng() % 10];
    b.insert(b.end(), w, w + std::strlen(w));
  }
  b.resize(n);
  return b;
}

TEST_F(QorRomCodec, RoundTripsEveryKindOfData) {
  std::mt19937 rng(7);
  for (uint32_t size : {1u, 2u, 3u, 4u, 5u, 8u, 9u, 17u, 100u, 1000u, 4095u, 8191u, 8192u}) {
    for (int kind = 0; kind < 5; ++kind) {
      Bytes data = kind == 0   ? RandomBytes(rng, size, 256)
                   : kind == 1 ? RandomBytes(rng, size, 4)
                   : kind == 2 ? Bytes(size, static_cast<uint8_t>(rng()))
                   : kind == 3 ? Prose(rng, size)
                               : RandomBytes(rng, size, 128);
      const Bytes packed = Compress(data);
      ASSERT_FALSE(packed.empty()) << size << " " << kind;
      EXPECT_LE(packed.size(), QorRomCompressBound(size));
      const Decoded d = Decode(packed, size);
      ASSERT_TRUE(d.ok) << size << " " << kind;
      EXPECT_EQ(d.bytes, data) << size << " " << kind;
    }
  }
}

TEST_F(QorRomCodec, RoundTripsThroughRandomBlockChains) {
  std::mt19937 rng(11);
  for (int round = 0; round < 40; ++round) {
    const uint32_t size = 1 + rng() % 3000;
    const Bytes data = round % 2 ? Prose(rng, size) : RandomBytes(rng, size, 1 + rng() % 256);
    const Bytes packed = Compress(data);
    const Decoded d = DecodeChain(packed, size, rng);
    ASSERT_TRUE(d.ok) << round;
    EXPECT_EQ(d.bytes, data) << round;
  }
}

TEST_F(QorRomCodec, ChainsAndOneBlockAgreeOnArbitraryInput) {
  std::mt19937 rng(13);
  for (int round = 0; round < 300; ++round) {
    const Bytes input = RandomBytes(rng, rng() % 40, 256);
    const Decoded whole = Decode(input, 512);
    const Decoded chained = DecodeChain(input, 512, rng);
    ASSERT_EQ(whole.ok, chained.ok) << round;
    EXPECT_EQ(whole.bytes, chained.bytes) << round;
  }
}

TEST_F(QorRomCodec, ShrinksTextAndRepeats) {
  std::mt19937 rng(3);
  EXPECT_LT(Compress(Prose(rng, 6000)).size(), 6000u / 3);
  EXPECT_LT(Compress(Bytes(8192, 0)).size(), 16u);
}

TEST_F(QorRomCodec, RefusesWhatItCannotEncode) {
  EXPECT_TRUE(Compress(Bytes{}).empty());
  EXPECT_TRUE(Compress(Bytes(kQorRomMaxExpanded + 1, 'x')).empty());
  std::mt19937 rng(5);
  // Random bytes never fit in fewer bytes than they are.
  const Bytes noise = RandomBytes(rng, 500, 256);
  EXPECT_TRUE(Compress(noise, 499).empty());
}

}  // namespace
