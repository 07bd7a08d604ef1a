// Number parsing and formatting, base64 and quoted-printable decoding.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "kernel/libc.h"

namespace {

TEST(LibcParse, BlanksSignAndDigits) {
  EXPECT_EQ(LibcAtoI(" \t-12x"), -12);
  EXPECT_EQ(LibcAtoI("+"), 0);
  EXPECT_EQ(LibcAtoI(""), 0);
  EXPECT_EQ(LibcAtoI("\n\v\f\r+42"), 42);
  EXPECT_EQ(LibcAtoI("--1"), 0);  // one sign only
  EXPECT_EQ(LibcAtoI("- 1"), 0);  // no blanks after the sign
  EXPECT_EQ(LibcAtoI("4294967297"), 1);  // wraps to 32 bits
  EXPECT_EQ(LibcWtoI(u"\u00A0" u"5"), 0);  // only ASCII blanks are skipped
  EXPECT_EQ(LibcWtoI(u"\uFF11"), 0);       // nor are full-width digits read
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
  EXPECT_STREQ(LibcItoA(-8, buf, 8), "37777777770");  // no sign outside radix 10
}

std::string DecodeText(std::string_view text) {
  std::vector<uint8_t> out(3 * text.size() / 4 + 1, 0xEE);
  uint32_t count = 12345;
  EXPECT_EQ(LibcBase64DecodeQuads(out.data(), &count, text.data(), static_cast<uint32_t>(text.size())), 1);
  EXPECT_LE(count, 3 * text.size() / 4);
  EXPECT_EQ(out[count], 0xEE) << "wrote past the reported count";
  return std::string(out.begin(), out.begin() + count);
}

TEST(LibcBase64, PadsInEachPlace) {
  EXPECT_EQ(DecodeText("TWFu"), "Man");
  EXPECT_EQ(DecodeText("TWE="), "Ma");   // fourth place: two bytes
  EXPECT_EQ(DecodeText("TQ=="), "M");    // third place: one byte
  EXPECT_EQ(DecodeText("TQ=A"), "M");    // a pad in the third place decides
  EXPECT_EQ(DecodeText("T=AATWFu"), "");  // second place ends decoding
  EXPECT_EQ(DecodeText("TQ==TWFu"), "MMan");  // decoding goes on after a padded quad
}

}  // namespace

// RFC 4648's vectors, with line breaks and an unpadded tail.
TEST(LibcBase64, DecodesStandardBase64AsWrittenInMessages) {
  const struct {
    const char* text;
    const char* bytes;
  } kRows[] = {
      {"", ""},           {"Zg==", "f"},          {"Zm8=", "fo"},     {"Zm9v", "foo"},
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
