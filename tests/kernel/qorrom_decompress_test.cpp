// The built-in file decoder on hand-made bit streams and its failure cases,
// and the encoder's round trip through it, whole and as a block chain.
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

// Hand-made streams: what each decodes to, or that it fails (empty expect).
struct StreamCase {
  const char* what;
  std::string bits;
  uint32_t room;
  Bytes expect;
};

Bytes As(uint32_t n) { return Bytes(n, 'A'); }

TEST(QorRomDecode, HandMadeStreams) {
  const std::string a = kLiteralA;
  const StreamCase cases[] = {
      // Code 4 value 0 is 0x80; code 1 value 1 is 0x21.
      {"nine-bit then seven-bit literal", "100 000000 001 00001", 16, {0x80, 0x21}},
      {"the top of every code range",
       "000 11111 001 11111 010 11111 011 11111 100 111111 101 111111", 16,
       {0x1F, 0x3F, 0x5F, 0x7F, 0xBF, 0xFF}},
      // 9 + 9 bits in 3 bytes: six bits of padding, fewer than a code.
      {"padding after the last code", "100 000001 100 000010 111111", 8, {0x81, 0x82}},
      // Code 7, flag 1, distance 1, length prefix 0 (3).
      {"near distance one", a + "111 1 000001 0", 8, As(4)},
      // Prefix k ones then 0, then k + 1 bits plus 2^(k+1).
      {"length 4", a + "111 1 000001 10 00", 64, As(5)},
      {"length 21", a + "111 1 000001 1110 0101", 64, As(22)},
      {"eleven ones: a twelve-bit field plus 4096",
       a + "111 1 000001 11111111111 0 000000000101", 8192, As(1 + 4096 + 5)},
      {"twelve ones", a + "111 1 000001 111111111111 0 0000000000000", 8192, {}},
      {"distance zero", a + "111 1 000000 0", 64, {}},
      // Far codes start at 320: never valid after a few bytes.
      {"far distance too soon", a + "110 0000000000000 0", 64, {}},
      // A far copy needs 17 bits; two bytes hold 16.
      {"code past the input", "110 0000000000000", 64, {}},
      {"length prefix past the input", a + "111 1 000001 1111111", 8192, {}},
      {"literal past the room", "100 000001 100 000010", 1, {}},
      {"empty input", "", 64, {}},
  };
  for (const StreamCase& c : cases) {
    const Decoded d = Decode(Bits(c.bits), c.room);
    EXPECT_EQ(d.ok, !c.expect.empty()) << c.what;
    EXPECT_EQ(d.bytes, c.expect) << c.what;
  }
}

// The encoder and a reusable work area.
class QorRomCodec : public ::testing::Test {
 protected:
  Bytes Compress(const Bytes& data) {
    Bytes out(QorRomCompressBound(static_cast<uint32_t>(data.size())));
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

}  // namespace
