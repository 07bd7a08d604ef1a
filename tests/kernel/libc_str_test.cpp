// Memory fill, compares, and a bounded duplicate.
#include <gtest/gtest.h>

#include <cstring>

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
