// The operation families: single-byte, UTF-8 and the double-byte code page,
// and every reader against its whole-buffer decoder under random chunk splits.
#include <gtest/gtest.h>

#include "kernel/lng_tables.h"
#include "tests/kernel/lng_support.h"
#include "tests/support/engine_fixture.h"

namespace {

class LngFamilyTest : public HeapFixture {};

TEST_F(LngFamilyTest, SingleByteEncodesWhatItHasAndQuestionMarksTheRest) {
  // U+0100: present page without the unit; U+4E00: empty slot; U+FF21: past the pages.
  EXPECT_EQ(EncodeAll(LngSbcsEncode, u"\u20AC\u0100\u4E00\uFF21\u2122\u0081"),
            B({0x80, '?', '?', '?', 0x99, 0x81}));
}

// A lone surrogate is written as U+FFFD, as the decoder reads its encoded
// form, so encoding and decoding again gives what a reader will see.
TEST_F(LngFamilyTest, Utf8WritesLoneSurrogatesAsTheReplacement) {
  struct Case {
    Units text;
    Bytes bytes;
    Units decoded;
  };
  const Units r(1, u'\xFFFD');
  const Case cases[] = {
      {Units(1, u'\xD800') + u"x", B({0xEF, 0xBF, 0xBD, 'x'}), r + u"x"},
      {Units(1, u'\xDC00'), B({0xEF, 0xBF, 0xBD}), r},
      {Units(u"a") + u'\xDBFF' + u"b", B({'a', 0xEF, 0xBF, 0xBD, 'b'}), u"a" + r + u"b"},
      // A low half first, then a high half not followed by a low one, then a pair.
      {Units(1, u'\xDE00') + u'\xD83D' + u'\xD83D' + u'\xDE00',
       B({0xEF, 0xBF, 0xBD, 0xEF, 0xBF, 0xBD, 0xF0, 0x9F, 0x98, 0x80}), r + r + u"\U0001F600"},
  };
  for (const Case& c : cases) {
    const Bytes bytes = EncodeAll(LngUtf8Encode, c.text);
    EXPECT_EQ(bytes, c.bytes);
    uint32_t units = 0;
    EXPECT_EQ(LngUtf8WideLength(&units, c.text.c_str()), bytes.size());
    EXPECT_EQ(DecodeAll(LngUtf8Decode, bytes), c.decoded);
  }
}

TEST_F(LngFamilyTest, Utf8IllFormedBytesBecomeOneReplacementEach) {
  const Units r(1, u'\xFFFD');
  // Overlong, encoded surrogate, past U+10FFFF, bad continuation.
  EXPECT_EQ(DecodeAll(LngUtf8Decode, B({0xC0, 0xAF})), r + r);
  EXPECT_EQ(DecodeAll(LngUtf8Decode, B({0xED, 0xA0, 0x80})), r + r + r);
  EXPECT_EQ(DecodeAll(LngUtf8Decode, B({0xF4, 0x90, 0x80, 0x80})), r + r + r + r);
  // A broken sequence never swallows the markup after it.
  EXPECT_EQ(DecodeAll(LngUtf8Decode, B({0xE2, 0x82, '<', 'p'})), r + r + u"<p");
}

TEST_F(LngFamilyTest, Utf8LengthAgreesWithDecodeOnIllFormedText) {
  const char* text = "a\xC3\xA9\xE2\x82<\xF0\x9F\x98\x80\xC3";
  uint32_t bytes = 0;
  const uint32_t units = LngUtf8ByteLength(&bytes, text);
  EXPECT_EQ(bytes, 11u);
  const Bytes raw(text, text + bytes + 1);
  uint32_t consumed = 0;
  const Units decoded = DecodeAll(LngUtf8Decode, raw, &consumed);
  EXPECT_EQ(consumed, bytes + 1);
  ASSERT_EQ(decoded.size(), units + 1);  // and the terminator
  EXPECT_EQ(decoded, Units(u"a\u00E9\uFFFD\uFFFD<\U0001F600\uFFFD") + u'\0');
}

// The half still due belongs to its queue: readers of two documents taking
// turns each get both halves of every character, each exactly once.
TEST_F(LngFamilyTest, Utf8ReadersOfTwoQueuesInTurnGetEachHalfOnce) {
  TestQueue a({B({0xF0, 0x9F, 0x98, 0x80, 0xF0, 0x9F}), B({0x98, 0x81})});
  TestQueue b({B({0xF4, 0x8F, 0xBF, 0xBF, 'q'})});
  Units fromA, fromB;
  for (int turn = 0; turn < 4; ++turn) {
    Result result = kOk;
    char16_t unit = LngUtf8ReadChar(&result, &a.queue);
    if (result == kOk) fromA += unit;
    result = kOk;
    unit = LngUtf8ReadChar(&result, &b.queue);
    if (result == kOk) fromB += unit;
  }
  EXPECT_EQ(fromA, Units(u"\U0001F600\U0001F601"));
  EXPECT_EQ(fromB, Units(u"\U0010FFFFq"));
  EXPECT_EQ(a.Chunks(), 0);
  EXPECT_EQ(b.Chunks(), 0);
}

TEST_F(LngFamilyTest, DoubleByteNeverTakesTheTerminatorAsATrailByte) {
  uint32_t bytes = 0;
  EXPECT_EQ(LngDbcsByteLength(&bytes, "a\xB0"), 2u);  // the lone lead counts as one
  EXPECT_EQ(bytes, 2u);
  uint32_t consumed = 0;
  EXPECT_EQ(DecodeAll(LngDbcsDecode, B({'a', 0xB0, 0}), &consumed), Units(u"a\uFFFD") + u'\0');
  EXPECT_EQ(consumed, 3u);
}

struct Family {
  const char* name;
  LngReadCharFn read;
  LngDecodeFn decode;
};

Bytes Mixed(std::mt19937& rng, size_t n) {
  // Pieces that are valid and broken in each family, mixed at random.
  static const std::vector<Bytes> kPieces = {
      B({'a'}), B({'<'}), B({0}), B({0xC3, 0xA9}), B({0xEA, 0xB0, 0x80}),
      B({0xF0, 0x9F, 0x98, 0x80}), B({0xB0, 0xA1}), B({0x81, 0x20}), B({0xFF}), B({0x80}),
      B({0xED, 0xA0, 0x80}), B({0xE2, 0x82}), B({0xA2, 0xE6}), B({0xC9, 0xA1})};
  Bytes out;
  std::uniform_int_distribution<size_t> pick(0, kPieces.size() - 1);
  while (out.size() < n) {
    const Bytes& p = kPieces[pick(rng)];
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

TEST_F(LngFamilyTest, EveryReaderMatchesItsDecoderUnderRandomChunkSplits) {
  const Family families[] = {{"sbcs", LngSbcsReadChar, LngSbcsDecode},
                             {"utf8", LngUtf8ReadChar, LngUtf8Decode},
                             {"dbcs", LngDbcsReadChar, LngDbcsDecode}};
  std::mt19937 rng(20240601);
  for (const Family& f : families) {
    for (int round = 0; round < 200; ++round) {
      const Bytes bytes = Mixed(rng, 1 + round % 60);
      uint32_t consumed = 0;
      const Units whole = DecodeAll(f.decode, bytes, &consumed);
      TestQueue q(RandomSplit(bytes, rng, 1 + round % 7));
      const Units read = ReadAll(f.read, &q.queue);
      ASSERT_EQ(read, whole) << f.name << " round " << round;
      // What the decoder left (a cut sequence) is what the reader left.
      ASSERT_EQ(q.Unread(), bytes.size() - consumed) << f.name << " round " << round;
    }
  }
}

}  // namespace
