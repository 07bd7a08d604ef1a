// The converter table and its fallback, whole-string conversions, the
// compares, charset aliases, the byte readers of a data queue and the
// detection of a document's encoding.
#include <gtest/gtest.h>

#include <string>

#include "host/platform/lang.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "tests/kernel/lng_support.h"
#include "tests/support/engine_fixture.h"

namespace {

constexpr int32_t kEnglish = 0, kGreek = 18, kKorean = 20;

class LngConvertTest : public HeapFixture {
 protected:
  void TearDown() override { ShellSetLanguageIndex(kEnglish); }
};

TEST_F(LngConvertTest, ARowGivesItsOwnOperations) {
  LngDecodeFn decode = nullptr;
  EXPECT_EQ(LngGetDecoder(&decode, Mib::Utf8), kOk);
  EXPECT_EQ(decode, LngUtf8Decode);
  LngReadCharFn read = nullptr;
  EXPECT_EQ(LngGetCharReader(&read, Mib::EucKr), kOk);
  EXPECT_EQ(read, LngDbcsReadChar);
  LngEncodeFn encode = nullptr;
  EXPECT_EQ(LngGetEncoder(&encode, Mib::Utf16Be), kOk);
  EXPECT_EQ(encode, LngUtf8Encode);  // UTF-16 text is written out as UTF-8
}

TEST_F(LngConvertTest, AMissingRowFallsBackToTheLanguageDefault) {
  LngDecodeFn decode = nullptr;
  EXPECT_EQ(LngGetDecoder(&decode, Mib::ShiftJis), kLngNoConverter);
  EXPECT_EQ(decode, LngSbcsDecode);

  ShellSetLanguageIndex(kKorean);  // default 36, which has a row
  LngByteLengthFn length = nullptr;
  EXPECT_EQ(LngGetByteLength(&length, Mib::ShiftJis), kLngNoConverter);
  EXPECT_EQ(length, LngDbcsByteLength);

  ShellSetLanguageIndex(kGreek);  // default 10, without a row: the end row
  EXPECT_EQ(LngFindConverter(10)->mib, Mib::End);
  LngWideLengthFn wide = nullptr;
  EXPECT_EQ(LngGetWideLength(&wide, 10), kLngNoConverter);
  EXPECT_EQ(wide, LngSbcsWideLength);
}

TEST_F(LngConvertTest, CharsetToWideEndsTheStringWhereTheTextIsCutOrAnswers) {
  char16_t* out = nullptr;
  ASSERT_EQ(LngCharsetToWide(&out, "ab\xB0", Mib::EucKr), kOk);
  EXPECT_EQ(Units(out), Units(u"ab\uFFFD"));
  MemFree(&out);
  ASSERT_EQ(LngCharsetToWide(&out, "ab\xE2\x82", Mib::Utf8), kOk);
  EXPECT_EQ(Units(out), Units(u"ab\uFFFD\uFFFD"));
  MemFree(&out);
  // A row without a decoder answers instead of calling it.
  EXPECT_EQ(LngCharsetToWide(&out, "\x41\x00", Mib::Utf16Le), kLngNoConverter);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(LngCharsetToWide(&out, "\x00\x41", Mib::Utf16Be), kLngNoConverter);
}

TEST_F(LngConvertTest, AnEmptyTextGivesNullWithoutAllocating) {
  const uint32_t before = HeapGetStats().freeBytes;
  char16_t* wide = reinterpret_cast<char16_t*>(1);
  EXPECT_EQ(LngCharsetToWide(&wide, "", Mib::Utf8), kOk);
  EXPECT_EQ(wide, nullptr);
  char* narrow = reinterpret_cast<char*>(1);
  EXPECT_EQ(LngWideToCharset(&narrow, u"", Mib::Utf8), kOk);
  EXPECT_EQ(narrow, nullptr);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
}

TEST_F(LngConvertTest, NativeUtf16TextConvertsWhole) {
  const char16_t text[] = u"\uAC00bc";
  char16_t* out = nullptr;
  ASSERT_EQ(LngCharsetToWide(&out, reinterpret_cast<const char*>(text), Mib::Utf16Native), kOk);
  EXPECT_EQ(Units(out), Units(text));
  MemFree(&out);
}

TEST_F(LngConvertTest, WideToCharsetEncodesAndTerminates) {
  char* out = nullptr;
  ASSERT_EQ(LngWideToCharset(&out, u"\uAC00a\u00E9", Mib::Ksc5601), kOk);
  EXPECT_EQ(std::string(out), "\xB0\xA1" "a?");
  MemFree(&out);
  ASSERT_EQ(LngWideToCharset(&out, u"\u20AC\u4E00", Mib::Windows1252), kOk);
  EXPECT_EQ(std::string(out), "\x80?");
  MemFree(&out);
  ASSERT_EQ(LngWideToCharset(&out, u"\u00E9", Mib::Utf16Le), kOk);
  EXPECT_EQ(std::string(out), "\xC3\xA9");
  MemFree(&out);
}

TEST_F(LngConvertTest, AHighSurrogateAtTheEndLeavesNoUnwrittenBytes) {
  char* out = nullptr;
  const Units text = Units(u"ab") + u'\xD83D';
  ASSERT_EQ(LngWideToCharset(&out, text.c_str(), Mib::Utf8), kOk);
  EXPECT_EQ(std::string(out), "ab");
  MemFree(&out);
}

class LngTinyHeapTest : public HeapFixture {
 protected:
  LngTinyHeapTest() : HeapFixture(256) {}
};

TEST_F(LngTinyHeapTest, OutOfMemoryStoresNull) {
  std::string big(400, 'x');
  char16_t* wide = reinterpret_cast<char16_t*>(1);
  EXPECT_EQ(LngCharsetToWide(&wide, big.c_str(), Mib::Latin1), kLngNoMemory);
  EXPECT_EQ(wide, nullptr);
  Units wbig(400, u'x');
  char* narrow = reinterpret_cast<char*>(1);
  EXPECT_EQ(LngWideToCharset(&narrow, wbig.c_str(), Mib::Latin1), kLngNoMemory);
  EXPECT_EQ(narrow, nullptr);
}

TEST_F(LngConvertTest, NarrowInPlaceKeepsTheLowBytes) {
  char16_t text[] = u"Ab\u0141";
  EXPECT_EQ(LngNarrowInPlace(text), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(text)), "Ab\x41");
  EXPECT_EQ(LngNarrowInPlace(nullptr), 0u);
}

// Bytes compare unsigned, so a Latin-1 byte equals its UTF-16 unit; only
// A-Z fold, and the difference is of the unfolded characters.
TEST_F(LngConvertTest, NarrowAgainstWideCompares) {
  const struct {
    const char* narrow;
    const char16_t* wide;
    int exact, noCase;  // the sign, or the value where it is stated
  } rows[] = {
      {"caf\xE9", u"caf\u00E9", 0, 0},
      {"\xE9", u"a", 1, 1},
      {"ab", u"abc", -1, -1},
      {"B", u"b", 'B' - 'b', 0},
      {"Content-Type", u"content-type", -1, 0},
      {"\xC9", u"\u00E9", -1, -1},
      {"Ab", u"aC", -1, 'b' - 'C'},
      {"ab", u"ABC", 1, -1},
  };
  const auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (const auto& r : rows) {
    const int exact = LngCompareNarrowWide(r.narrow, r.wide);
    const int noCase = LngCompareNarrowWideNoCase(r.narrow, r.wide);
    EXPECT_EQ(r.exact == 'B' - 'b' ? exact : sign(exact), r.exact) << r.narrow;
    EXPECT_EQ(r.noCase == 'b' - 'C' ? noCase : sign(noCase), r.noCase) << r.narrow;
  }
}

TEST_F(LngConvertTest, AliasesMatchTheWholeLengthIgnoringCase) {
  uint32_t mib = 99;
  EXPECT_EQ(LngFindCharset(&mib, "Latin1", 6), kOk);
  EXPECT_EQ(mib, 4u);
  EXPECT_EQ(LngFindCharset(&mib, "latin", 5), kLngNoConverter);
  EXPECT_EQ(mib, 0u);
  EXPECT_EQ(LngFindCharset(&mib, "ISO-8859-1;", 10), kOk);
  EXPECT_EQ(mib, 4u);
  EXPECT_EQ(LngFindCharset(&mib, "Shift_JIS", 9), kOk);
  EXPECT_EQ(mib, 17u);
  EXPECT_EQ(LngFindCharset(&mib, "big5", 4), kLngNoConverter);  // no list for b
}

TEST_F(LngConvertTest, GetByteConsumesAndFreesUsedChunks) {
  TestQueue q({B({1, 2}), B({3})});
  uint8_t b = 0;
  EXPECT_EQ(LngChainGetByte(&q.queue, &b), kOk);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(LngChainGetByte(&q.queue, &b), kOk);
  EXPECT_EQ(q.Chunks(), 1);
  EXPECT_EQ(LngChainGetByte(&q.queue, &b), kOk);
  EXPECT_EQ(b, 3);
  EXPECT_EQ(q.queue.head, nullptr);
  EXPECT_EQ(q.queue.tail, nullptr);
  EXPECT_EQ(LngChainGetByte(&q.queue, &b), kLngEndOfData);
}

TEST_F(LngConvertTest, ReadByteSetsTheResultForZeroAndForTheEnd) {
  TestQueue q({B({7, 0})});
  Result result = 0x80005555;
  EXPECT_EQ(LngChainReadByte(&result, &q.queue), 7);
  EXPECT_EQ(result, 0x80005555u);
  EXPECT_EQ(LngChainReadByte(&result, &q.queue), 0);
  EXPECT_EQ(result, kOk);
  EXPECT_EQ(LngChainReadByte(&result, &q.queue), 0);
  EXPECT_EQ(result, kLngEndOfData);
}

TEST_F(LngConvertTest, PeekWalksChunksWithoutConsuming) {
  TestQueue q({B({1}), B({2, 3})});
  uint8_t b = 0;
  LngChainGetByte(&q.queue, &b);  // uses up and frees the first chunk
  q.Add(B({4}));
  LngChainCursor cursor;
  LngChainCursorInit(&cursor, &q.queue);
  std::vector<int> seen;
  while (LngChainPeekByte(&b, &cursor, 1) == kOk) seen.push_back(b);
  EXPECT_EQ(seen, (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(q.Unread(), 3u);
  // At the end the cursor stays put and finds data appended later.
  q.Add(B({5}));
  EXPECT_EQ(LngChainPeekByte(&b, &cursor, 0), kOk);
  EXPECT_EQ(b, 5);
  EXPECT_EQ(LngChainPeekByte(&b, &cursor, 0), kOk);  // no advance: the same byte
  EXPECT_EQ(b, 5);
}

TEST_F(LngConvertTest, PeekStartsAtTheHeadsReadOffset) {
  TestQueue q({B({1, 2, 3})});
  uint8_t b = 0;
  LngChainGetByte(&q.queue, &b);
  LngChainCursor cursor;
  LngChainCursorInit(&cursor, &q.queue);
  EXPECT_EQ(LngChainPeekByte(&b, &cursor, 1), kOk);
  EXPECT_EQ(b, 2);
}

struct Detected {
  int decided;
  uint32_t mib;
  Units rest;  // what a windows-1252 reader finds left
};

// Feeds the bytes one chunk at a time, detecting after each.
Detected DetectInChunks(const std::vector<Bytes>& chunks) {
  TestQueue q;
  LngChainCursor cursor;
  LngChainCursorInit(&cursor, &q.queue);
  Detected d{0, 12345, {}};
  for (const Bytes& c : chunks) {
    q.Add(c);
    // Once decided, the rest of the document just arrives.
    if (!d.decided) d.decided = LngDetectCharset(&d.mib, &cursor);
  }
  d.rest = ReadAll(LngSbcsReadChar, &q.queue);
  return d;
}

TEST_F(LngConvertTest, DetectionOfMarksAndZeroBytes) {
  struct Case {
    Bytes data;
    uint32_t mib;
    Units rest;
  };
  const Case cases[] = {
      {B({0xEF, 0xBB, 0xBF, 0x41}), Mib::Utf8, u"A"},
      {B({0xFF, 0xFE, 0x41, 0x00}), Mib::Utf16Le, Units(u"A") + u'\0'},
      {B({0xFE, 0xFF, 0x00, 0x41}), Mib::Utf16Be, Units(1, u'\0') + u"A"},
      {B({0x3C, 0x00}), Mib::Utf16Le, Units(u"<") + u'\0'},
      {B({0x3C, 0x3F}), 0, u"<?"},
      {B({0xEF, 0xBB, 0x41}), 0, u"\u00EF\u00BBA"},
  };
  for (const Case& c : cases) {
    // Whole, then a byte at a time.
    const Detected whole = DetectInChunks({c.data});
    EXPECT_EQ(whole.decided, 1);
    EXPECT_EQ(whole.mib, c.mib);
    EXPECT_EQ(whole.rest, c.rest);
    std::vector<Bytes> bytes;
    for (uint8_t b : c.data) bytes.push_back({b});
    const Detected single = DetectInChunks(bytes);
    EXPECT_EQ(single.mib, c.mib);
    EXPECT_EQ(single.rest, c.rest);
  }
}

TEST_F(LngConvertTest, DetectionWaitsForMoreDataAndResumes) {
  TestQueue q({B({0xEF})});
  LngChainCursor cursor;
  LngChainCursorInit(&cursor, &q.queue);
  uint32_t mib = 777;
  EXPECT_EQ(LngDetectCharset(&mib, &cursor), 0);
  EXPECT_EQ(mib, 777u);
  EXPECT_EQ(q.Unread(), 1u);
  q.Add(B({0xBB, 0xBF}));
  EXPECT_EQ(LngDetectCharset(&mib, &cursor), 1);
  EXPECT_EQ(mib, Mib::Utf8);
  EXPECT_EQ(q.queue.head, nullptr);
}

TEST_F(LngConvertTest, DetectionOfAnEmptyQueueNeedsData) {
  TestQueue q;
  LngChainCursor cursor;
  LngChainCursorInit(&cursor, &q.queue);
  uint32_t mib = 5;
  EXPECT_EQ(LngDetectCharset(&mib, &cursor), 0);
  q.Add(B({0x00}));
  EXPECT_EQ(LngDetectCharset(&mib, &cursor), 1);
  EXPECT_EQ(mib, Mib::Utf16Be);
}

}  // namespace
