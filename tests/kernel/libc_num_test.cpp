// Number parsing and formatting, base64 quads and the pointer-array release.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

TEST(LibcParse, BlanksSignAndDigits) {
  EXPECT_EQ(LibcAtoI(" \t-12x"), -12);
  EXPECT_EQ(LibcAtoI("+"), 0);
  EXPECT_EQ(LibcAtoI(""), 0);
  EXPECT_EQ(LibcAtoI("\n\v\f\r+42"), 42);
  EXPECT_EQ(LibcAtoI("--1"), 0);  // one sign only
  EXPECT_EQ(LibcAtoI("- 1"), 0);  // no blanks after the sign
  EXPECT_EQ(LibcAtoI("x12"), 0);
  EXPECT_EQ(LibcAtoI("007"), 7);
  EXPECT_EQ(LibcWtoI(u" \t-12x"), -12);
  EXPECT_EQ(LibcWtoI(u"+"), 0);
  EXPECT_EQ(LibcWtoI(u"\u00A0" u"5"), 0);  // only ASCII blanks are skipped
  EXPECT_EQ(LibcWtoI(u"\uFF11"), 0);       // nor are full-width digits read
}

TEST(LibcParse, OverlongNumbersWrapToThirtyTwoBits) {
  EXPECT_EQ(LibcAtoI("2147483647"), INT32_MAX);
  EXPECT_EQ(LibcAtoI("-2147483648"), INT32_MIN);
  EXPECT_EQ(LibcAtoI("2147483648"), INT32_MIN);
  EXPECT_EQ(LibcAtoI("4294967297"), 1);
  EXPECT_EQ(LibcAtoI("-4294967295"), 1);
  EXPECT_EQ(LibcAtoI("99999999999999999999"), 1661992959);  // (10^20 - 1) mod 2^32
  EXPECT_EQ(LibcWtoI(u"4294967297"), 1);
}

TEST(LibcFormat, RadixAndSign) {
  char buf[40];
  EXPECT_STREQ(LibcItoA(-5, buf, 10), "-5");
  EXPECT_STREQ(LibcItoA(-1, buf, 16), "FFFFFFFF");
  EXPECT_STREQ(LibcItoA(255, buf, 2), "11111111");
  EXPECT_STREQ(LibcItoA(0, buf, 10), "0");
  EXPECT_STREQ(LibcItoA(INT32_MIN, buf, 10), "-2147483648");
  EXPECT_STREQ(LibcItoA(INT32_MAX, buf, 10), "2147483647");
  EXPECT_STREQ(LibcItoA(-1, buf, 2), std::string(32, '1').c_str());
  EXPECT_STREQ(LibcItoA(-8, buf, 8), "37777777770");  // no sign outside radix 10
  EXPECT_STREQ(LibcItoA(35, buf, 36), "Z");
  EXPECT_STREQ(LibcItoA(36, buf, 36), "10");
}

TEST(LibcFormat, RadixOutsideRangeGivesEmptyText) {
  char buf[40] = "junk";
  for (int radix : {-10, 0, 1, 37, 100}) {
    EXPECT_EQ(LibcItoA(123, buf, radix), buf);
    EXPECT_STREQ(buf, "");
  }
  char16_t wbuf[40] = u"junk";
  EXPECT_EQ(std::u16string_view(LibcIntToWStr(5, wbuf, 1)), u"");
}

TEST(LibcFormat, WideMatchesEightBitAndParsesBack) {
  char buf[40];
  char16_t wbuf[40];
  for (int32_t v : {0, 7, -7, 1000, -32768, 123456789, INT32_MIN, INT32_MAX}) {
    for (int radix : {2, 8, 10, 16, 36}) {
      LibcItoA(v, buf, radix);
      LibcIntToWStr(v, wbuf, radix);
      std::u16string expect(buf, buf + LibcStrLen(buf));
      EXPECT_EQ(std::u16string_view(wbuf), expect) << v << " radix " << radix;
    }
    EXPECT_EQ(LibcAtoI(LibcItoA(v, buf, 10)), v);
    EXPECT_EQ(LibcWtoI(LibcIntToWStr(v, wbuf, 10)), v);
  }
}

std::vector<uint8_t> Decode(std::string_view text) {
  std::vector<uint8_t> out(3 * text.size() / 4 + 1, 0xEE);
  uint32_t count = 12345;
  EXPECT_EQ(LibcBase64DecodeQuads(out.data(), &count, text.data(), static_cast<uint32_t>(text.size())), 1);
  EXPECT_LE(count, 3 * text.size() / 4);
  EXPECT_EQ(out[count], 0xEE) << "wrote past the reported count";
  out.resize(count);
  return out;
}

std::string DecodeText(std::string_view text) {
  const auto bytes = Decode(text);
  return {bytes.begin(), bytes.end()};
}

TEST(LibcBase64, PadsInEachPlace) {
  EXPECT_EQ(DecodeText("TWFu"), "Man");
  EXPECT_EQ(DecodeText("TWE="), "Ma");   // fourth place: two bytes
  EXPECT_EQ(DecodeText("TQ=="), "M");    // third place: one byte
  EXPECT_EQ(DecodeText("TQ=A"), "M");    // a pad in the third place decides
  EXPECT_EQ(DecodeText("T=AATWFu"), "");  // second place ends decoding
  EXPECT_EQ(DecodeText("=AAATWFu"), "");  // so does the first
  EXPECT_EQ(DecodeText("TWFu=AAATWFu"), "Man");
  EXPECT_EQ(DecodeText("TQ==TWFu"), "MMan");  // decoding goes on after a padded quad
}

TEST(LibcBase64, JunkIsSkippedAndLeftoversDropped) {
  EXPECT_EQ(DecodeText("T W\r\nF-u!"), "Man");
  EXPECT_EQ(DecodeText("\xC3T\x80WFu\xFF"), "Man");
  EXPECT_EQ(DecodeText(std::string_view("TW\0Fu", 5)), "Man");
  EXPECT_EQ(DecodeText("TWFuTW"), "Man");
  EXPECT_EQ(DecodeText("TWF"), "");
  EXPECT_EQ(DecodeText(""), "");
  uint8_t out[8];
  uint32_t count = 0;
  LibcBase64DecodeQuads(out, &count, "TWFuTWFu", 4);  // the length bounds the text
  EXPECT_EQ(count, 3u);
}

TEST(LibcBase64, EveryByteValueRoundTrips) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<uint8_t> data;
  for (int i = 0; i < 256; ++i) data.push_back(static_cast<uint8_t>(i * 7 + 3));
  for (size_t tail = 0; tail < 3; ++tail) {
    std::vector<uint8_t> in(data.begin(), data.end() - static_cast<std::ptrdiff_t>(tail));
    std::string text;
    for (size_t i = 0; i < in.size(); i += 3) {
      uint32_t bits = in[i] << 16;
      if (i + 1 < in.size()) bits |= in[i + 1] << 8;
      if (i + 2 < in.size()) bits |= in[i + 2];
      for (size_t k = 0; k < 4; ++k) {
        const bool present = k < 2 || i + k - 1 < in.size();  // symbol k needs byte k - 1
        text += present ? kAlphabet[(bits >> (18 - 6 * k)) & 63] : '=';
      }
      if (i % 57 == 54) text += "\r\n";
    }
    EXPECT_EQ(Decode(text), in) << "tail " << tail;
  }
}

class LibcPtrArray : public ::testing::Test {
 protected:
  void SetUp() override {
    HeapArenaInit(block_, sizeof block_);
    MemSetEvictor(nullptr);
  }
  alignas(16) static inline uint8_t block_[1 << 16];
};

TEST_F(LibcPtrArray, FreesEverySlotAndTheArray) {
  const uint32_t before = HeapGetStats().freeBytes;
  auto** slots = static_cast<char**>(MemAllocZero(kLibcPtrArraySlots * sizeof(char*), Use::Data, 0));
  ASSERT_NE(slots, nullptr);
  slots[0] = LibcStrDup("first");
  slots[3] = LibcStrDup("middle");
  slots[kLibcPtrArraySlots - 1] = LibcStrDup("last");
  LibcFreePtrArray(&slots);
  EXPECT_EQ(slots, nullptr);
  EXPECT_EQ(HeapGetStats().freeBytes, before);
  EXPECT_EQ(HeapValidate(), nullptr);

  LibcFreePtrArray(&slots);  // a null handle is left alone
  EXPECT_EQ(slots, nullptr);
}

}  // namespace

// RFC 4648's vectors, with line breaks and an unpadded tail.
TEST(LibcBase64, DecodesStandardBase64AsWrittenInMessages) {
  const struct {
    const char* text;
    const char* bytes;
  } kRows[] = {
      {"", ""},           {"Zg==", "f"},          {"Zm8=", "fo"},     {"Zm9v", "foo"},
      {"Zm9vYg==", "foob"}, {"Zm9vYmE=", "fooba"}, {"Zm9vYmFy", "foobar"},
      {"Zm9v\r\nYmFy\r\n", "foobar"}, {"Zm9vYg", "foob"}, {"Zm9vYmE", "fooba"},
      {"Zg==Zm9v", "f"},  // decoding ends at the pad
      {"Z", ""},
  };
  for (const auto& row : kRows) {
    const uint32_t length = static_cast<uint32_t>(strlen(row.text));
    std::vector<uint8_t> out(3 * length / 4 + 1, 0xEE);
    uint32_t count = 99;
    const uint32_t n = LibcBase64Decode(row.text, length, out.data(), &count);
    EXPECT_EQ(n, count) << row.text;
    EXPECT_EQ(std::string(out.begin(), out.begin() + n), row.bytes) << row.text;
    EXPECT_LE(n, 3 * length / 4) << row.text;
  }
}

TEST(LibcQp, DecodesEscapesSoftBreaksAndTrailingBlanks) {
  const struct {
    const char* text;
    const char* bytes;
  } kRows[] = {
      {"plain", "plain"},
      {"caf=C3=A9", "caf\xC3\xA9"},
      {"caf=c3=a9", "caf\xC3\xA9"},
      {"soft=\r\nbreak", "softbreak"},
      {"soft=\nbreak", "softbreak"},
      {"trailing  \r\nline", "trailing\r\nline"},
      {"inner blanks stay", "inner blanks stay"},
      {"end blanks \t", "end blanks"},
      {"=4", "=4"},
      {"=ZZ", "=ZZ"},
      {"100=", "100"},
  };
  for (const auto& row : kRows) {
    const uint32_t length = static_cast<uint32_t>(strlen(row.text));
    std::vector<uint8_t> out(length + 1, 0xEE);
    const uint32_t n = LibcQpDecode(row.text, length, out.data());
    EXPECT_EQ(std::string(out.begin(), out.begin() + n), row.bytes) << row.text;
    EXPECT_EQ(out[length], 0xEE) << row.text;
  }
}
