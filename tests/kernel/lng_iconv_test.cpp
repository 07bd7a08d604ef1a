// The generated character-set tables against the system's iconv, whole.
#include <gtest/gtest.h>
#include <iconv.h>

#include <optional>

#include "kernel/lng_tables.h"
#include "tests/kernel/lng_support.h"
#include "tests/support/engine_fixture.h"

namespace {

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // The whole input converted, or nothing when iconv refuses any of it.
  std::optional<Bytes> Convert(const Bytes& in) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    Bytes out(in.size() * 4 + 16);
    char* src = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
    char* dst = reinterpret_cast<char*>(out.data());
    size_t srcLeft = in.size(), dstLeft = out.size();
    if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1) || srcLeft)
      return std::nullopt;
    out.resize(out.size() - dstLeft);
    return out;
  }

 private:
  iconv_t cd_;
};

std::optional<char16_t> OneUnit(const std::optional<Bytes>& le) {
  if (!le || le->size() != 2) return std::nullopt;
  return static_cast<char16_t>((*le)[0] | (*le)[1] << 8);
}

class LngIconvTest : public HeapFixture {};

TEST_F(LngIconvTest, Windows1252DecodeTableMatchesIconv) {
  Iconv decode("UTF-16LE", "CP1252");
  ASSERT_TRUE(decode.ok());
  for (int b = 0; b < 256; ++b) {
    const std::optional<char16_t> expected = OneUnit(decode.Convert(B({b})));
    // The code page's holes decode to their own value here; iconv refuses them.
    const char16_t want = expected ? *expected : static_cast<char16_t>(b);
    if (!expected) {
      EXPECT_TRUE(b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D);
    }
    EXPECT_EQ(kLngCp1252Decode[b], want) << "byte " << b;
  }
}

TEST_F(LngIconvTest, DoubleByteDecodeTableMatchesIconvCp949) {
  Iconv decode("UTF-16LE", "CP949");
  ASSERT_TRUE(decode.ok());
  int defined = 0;
  for (int lead = kLngDbcsLeadLow; lead <= kLngDbcsLeadHigh; ++lead) {
    for (int trail = kLngDbcsTrailLow; trail <= kLngDbcsTrailHigh; ++trail) {
      const char16_t ours = kLngCp949Decode[(lead - 0x81) * 190 + (trail - 0x41)];
      std::optional<char16_t> expected = OneUnit(decode.Convert(B({lead, trail})));
      // Two late additions of the code page stay unmapped.
      if (lead == 0xA2 && (trail == 0xE6 || trail == 0xE7)) expected.reset();
      if (expected) ++defined;
      ASSERT_EQ(ours, expected ? *expected : u'?') << std::hex << lead << " " << trail;
    }
  }
  EXPECT_GT(defined, 17000);  // Hangul syllables and Hanja are all there
}

}  // namespace
