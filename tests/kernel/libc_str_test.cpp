// Memory, 8-bit and UTF-16 string routines, and duplication into the heap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>
#include <vector>

#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

TEST(LibcMemory, SetFillsEveryAlignmentAndLengthWithoutSpilling) {
  alignas(8) uint8_t buf[48];
  for (uint32_t start = 0; start < 8; ++start) {
    for (uint32_t n = 0; n <= 24; ++n) {
      std::memset(buf, 0xEE, sizeof buf);
      EXPECT_EQ(LibcMemSet(buf + start, 0x1A5, n), buf + start);  // only the low byte counts
      for (uint32_t i = 0; i < sizeof buf; ++i) {
        const bool inside = i >= start && i < start + n;
        ASSERT_EQ(buf[i], inside ? 0xA5 : 0xEE) << "start " << start << " n " << n << " at " << i;
      }
    }
  }
}

TEST(LibcMemory, MoveHandlesOverlapBothWays) {
  char buf[] = "0123456789";
  LibcMemMove(buf + 2, buf, 6);  // destination inside the source: backward
  EXPECT_STREQ(buf, "0101234589");
  char buf2[] = "0123456789";
  LibcMemMove(buf2, buf2 + 3, 6);  // destination before the source: forward
  EXPECT_STREQ(buf2, "3456786789");
}

TEST(LibcCompare, EightBitIsSignedAndWideIsUnsigned) {
  EXPECT_GT(LibcStrCmp("a", "\xE0"), 0);
  EXPECT_LT(LibcWStrCmp(u"a", u"\u00E0"), 0);
  EXPECT_LT(LibcStrICmp("ABC", "abd"), 0);
  EXPECT_NE(LibcWStrICmp(u"\u00C0", u"\u00E0"), 0);
  EXPECT_EQ(LibcStrICmp("Hello", "hELLO"), 0);
  EXPECT_EQ(LibcWStrICmp(u"Hello", u"hELLO"), 0);
  EXPECT_EQ(LibcStrCmp("ab", "abc"), -'c');  // difference against the terminator
  EXPECT_EQ(LibcWStrCmp(u"\uFFFF", u"a"), 0xFFFF - 'a');
  // Only A-Z fold: "[" sits between the cases and must not be moved.
  EXPECT_LT(LibcStrICmp("[", "a"), 0);
}

TEST(LibcCompare, EightBitAgainstWide) {
  EXPECT_EQ(LibcStrWStrNICmp("Content", u"CONTENT-Type", 7), 0);
  EXPECT_NE(LibcStrWStrNICmp("Content", u"CONTENT-Type", 8), 0);
  EXPECT_EQ(LibcStrWStrNICmp("caf\xE9", u"CAF\u00E9", 10), 0);  // Latin-1 equals its UTF-16 form
  EXPECT_LT(LibcStrWStrNICmp("ab", u"abc", 5), 0);
  EXPECT_EQ(LibcStrWStrNICmp("a", u"b", 0), 0);
}

TEST(LibcSearch, CharacterAndTerminator) {
  const char* s = "abca";
  EXPECT_EQ(LibcStrChr(s, 'a'), s);
  EXPECT_EQ(LibcStrRChr(s, 'a'), s + 3);
  EXPECT_EQ(LibcStrChr(s, 'z'), nullptr);
  EXPECT_EQ(LibcStrChr("abc", 0), static_cast<const char*>("abc") + 3);
  EXPECT_EQ(LibcStrRChr("abc", 0), nullptr);
  EXPECT_EQ(LibcStrRChr("", 'a'), nullptr);
  EXPECT_EQ(LibcStrChr("a\xE9", 0xE9), static_cast<const char*>("a\xE9") + 1);
  const char16_t* w = u"ab\u00E9";
  EXPECT_EQ(LibcWStrChr(w, u'\u00E9'), w + 2);
  EXPECT_EQ(LibcWStrChr(w, 0), w + 3);
  EXPECT_EQ(LibcWStrChr(w, u'z'), nullptr);
}

TEST(LibcSearch, Substrings) {
  const char* s = "abc";
  EXPECT_EQ(LibcStrIStr(s, ""), nullptr);
  EXPECT_EQ(LibcStrStr(s, ""), s);
  EXPECT_EQ(LibcStrStr("", "a"), nullptr);
  const char* t = "aababc";
  EXPECT_EQ(LibcStrStr(t, "abc"), t + 3);
  EXPECT_EQ(LibcStrStr(t, "abcd"), nullptr);
  EXPECT_EQ(LibcStrIStr("text/HTML; x", "html"), static_cast<const char*>("text/HTML; x") + 5);
  EXPECT_EQ(LibcStrIStr("ab", "abc"), nullptr);
  const char16_t* w = u"aababc";
  EXPECT_EQ(LibcWStrStr(w, u""), w);
  EXPECT_EQ(LibcWStrStr(w, u"abc"), w + 3);
  EXPECT_EQ(LibcWStrStr(w, u"abd"), nullptr);
}

TEST(LibcCopy, BoundedCopyZeroFillsOrLeavesNoTerminator) {
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(LibcStrNCopy(buf, "ab", 5), buf);
  EXPECT_EQ(std::memcmp(buf, "ab\0\0\0xxx", 8), 0);
  std::memset(buf, 'x', sizeof buf);
  LibcStrNCopy(buf, "ab", 2);
  EXPECT_EQ(std::memcmp(buf, "abxxxxxx", 8), 0);

  char16_t wbuf[6];
  std::fill(std::begin(wbuf), std::end(wbuf), u'x');
  LibcWStrNCopy(wbuf, u"ab", 4);
  EXPECT_EQ(std::u16string_view(wbuf, 6), std::u16string_view(u"ab\0\0xx", 6));
  std::fill(std::begin(wbuf), std::end(wbuf), u'x');
  LibcWStrNCopy(wbuf, u"abc", 2);
  EXPECT_EQ(std::u16string_view(wbuf, 6), std::u16string_view(u"abxxxx", 6));
}

class LibcDup : public ::testing::Test {
 protected:
  void SetUp() override {
    HeapArenaInit(block_, sizeof block_);
    MemSetEvictor(nullptr);
  }
  // Takes every byte the heap has left.
  void Exhaust() {
    for (uint32_t size = sizeof block_; size; size /= 2)
      while (void* p = MemAlloc(size, Use::Data, 0)) held_.push_back(p);
  }
  void TearDown() override {
    for (void* p : held_) MemFree(&p);
    EXPECT_EQ(HeapValidate(), nullptr);
  }
  alignas(16) static inline uint8_t block_[1 << 16];
  std::vector<void*> held_;
};

TEST_F(LibcDup, ExhaustedHeapGivesNull) {
  Exhaust();
  EXPECT_EQ(LibcStrDup("x"), nullptr);
  EXPECT_EQ(LibcStrNDup("x", 1), nullptr);
  EXPECT_EQ(LibcWStrDup(u"x"), nullptr);
}

TEST_F(LibcDup, BoundedDupOfTheLargestCountFailsInsteadOfWrapping) {
  EXPECT_EQ(LibcStrNDup("x", UINT32_MAX), nullptr);
}

}  // namespace
