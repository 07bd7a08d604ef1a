// Memory fill, compares, substring searches, wide copies and appends, and
// a bounded duplicate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

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

TEST(LibcSearch, Substrings) {
  // The offset of the match, or -1 for none.
  const struct {
    const char* s;
    const char* t;
    int strStr, iStr;
  } rows[] = {
      {"abc", "", 0, -1},  // an empty needle: at the start, and no match ignoring case
      {"", "a", -1, -1},
      {"aababc", "abc", 3, 3},  // a false start first
      {"aababc", "abcd", -1, -1},
      {"text/HTML; x", "html", -1, 5},
      {"ab", "abc", -1, -1},
  };
  for (const auto& r : rows) {
    const char* found = LibcStrStr(r.s, r.t);
    EXPECT_EQ(found ? found - r.s : -1, r.strStr) << r.s << " / " << r.t;
    found = LibcStrIStr(r.s, r.t);
    EXPECT_EQ(found ? found - r.s : -1, r.iStr) << r.s << " / " << r.t;
  }
  const char16_t* w = u"aababc";
  EXPECT_EQ(LibcWStrStr(w, u""), w);
  EXPECT_EQ(LibcWStrStr(w, u"abc"), w + 3);
  EXPECT_EQ(LibcWStrStr(w, u"abd"), nullptr);
}

TEST(LibcCopy, WideBoundedCopyZeroFillsOrLeavesNoTerminatorAndAppendEnds) {
  const struct {
    const char16_t* source;
    uint32_t n;
    std::u16string_view want;  // all six units after the copy
  } rows[] = {
      {u"ab", 4, std::u16string_view(u"ab\0\0xx", 6)},
      {u"abc", 2, std::u16string_view(u"abxxxx", 6)},
      {u"abc", 0, std::u16string_view(u"xxxxxx", 6)},
  };
  for (const auto& r : rows) {
    char16_t buf[6];
    std::fill(std::begin(buf), std::end(buf), u'x');
    EXPECT_EQ(LibcWStrNCopy(buf, r.source, r.n), buf);
    EXPECT_EQ(std::u16string_view(buf, 6), r.want) << r.n;
  }
  char16_t buf[16];
  std::fill(std::begin(buf), std::end(buf), u'x');
  EXPECT_EQ(LibcWStrCat(LibcWStrCopy(buf, u"ab"), u"\u00E9d"), buf);
  EXPECT_EQ(std::u16string_view(buf), u"ab\u00E9d");
  EXPECT_EQ(LibcWStrCat(buf, u""), buf);
  EXPECT_EQ(LibcWStrLen(buf), 4u);
}

class LibcDup : public ::testing::Test {
 protected:
  void SetUp() override {
    HeapArenaInit(block_, sizeof block_);
    MemSetEvictor(nullptr);
  }
  void TearDown() override { EXPECT_EQ(HeapValidate(), nullptr); }
  alignas(16) static inline uint8_t block_[1 << 16];
};

TEST_F(LibcDup, BoundedDupOfTheLargestCountFailsInsteadOfWrapping) {
  EXPECT_EQ(LibcStrNDup("x", UINT32_MAX), nullptr);
}

}  // namespace
