// The converter table and its fallback, whole-string conversions, charset
// aliases and the detection of a document's encoding.
#include <gtest/gtest.h>

#include <string>

#include "host/platform/lang.h"
#include "kernel/heap.h"
#include "kernel/mem.h"
#include "tests/kernel/lng_support.h"
#include "tests/support/engine_fixture.h"

namespace {

constexpr int32_t kEnglish = 0, kGreek = 18;

class LngConvertTest : public HeapFixture {
 protected:
  void TearDown() override { ShellSetLanguageIndex(kEnglish); }
};

TEST_F(LngConvertTest, AMissingRowFallsBackToTheLanguageDefault) {
  LngDecodeFn decode = nullptr;
  EXPECT_EQ(LngGetDecoder(&decode, Mib::ShiftJis), kLngNoConverter);
  EXPECT_EQ(decode, LngSbcsDecode);

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

}  // namespace
