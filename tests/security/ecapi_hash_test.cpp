// HMAC-SHA1 through the provider's handle operations, against values made by
// the openssl command line, and the errors of wrong handles.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kernel/heap.h"
#include "security/ecapi_hash.h"
#include "tests/support/engine_fixture.h"

namespace {

struct HmacCase {
  std::string key;
  std::string data;
  const char* hex;
};

std::string Repeat(char c, size_t n) { return std::string(n, c); }

// Each expected value is the output of the command beside it.
const std::vector<HmacCase>& Cases() {
  static const std::vector<HmacCase> cases = {
      // printf 'The quick brown fox jumps over the lazy dog' | openssl dgst -sha1 -hmac key
      {"key", "The quick brown fox jumps over the lazy dog",
       "de7c9b85b8b78aa6bc8a7a36f70a90701c9db4d9"},
      // printf 'what do ya want for nothing?' | openssl dgst -sha1 -hmac Jefe
      {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      // K=$(printf 'x%.0s' $(seq 100)); printf 'Test Using Larger Than Block-Size Key' |
      //   openssl dgst -sha1 -hmac "$K"
      {Repeat('x', 100), "Test Using Larger Than Block-Size Key",
       "7c41a2ef322ad0bbd1cc4483aa05e932f4feb537"},
      // printf '1234' | openssl dgst -sha1 -mac HMAC -macopt hexkey:00ff10203040
      {std::string("\x00\xff\x10\x20\x30\x40", 6), "1234", "7b01db638f6000f468ab18a9f1dfca5e4d1cbe27"},
  };
  return cases;
}

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }
uint32_t Size(const std::string& s) { return static_cast<uint32_t>(s.size()); }

std::string Hex(const uint8_t* bytes, uint32_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (uint32_t i = 0; i < n; ++i) {
    s += kDigits[bytes[i] >> 4];
    s += kDigits[bytes[i] & 15];
  }
  return s;
}

const EcapiHmacInfo kSha1Info{EcapiAlg::Sha1, nullptr, 0, nullptr, 0};

class EcapiHashTest : public HeapFixture {
 protected:
  void SetUp() override {
    HeapFixture::SetUp();
    start_ = HeapGetStats().freeBytes;
  }
  void TearDown() override { EXPECT_EQ(HeapGetStats().freeBytes, start_); }

  // The provisioning order: context, key, hash, info, data in pieces of
  // `piece` bytes, value, then everything destroyed.
  std::string Hmac(const std::string& key, const std::string& data, size_t piece) {
    EcapiHandle context = 0, k = 0, hash = 0;
    EXPECT_EQ(EcapiOpenContext(&context), kOk);
    EXPECT_EQ(EcapiImportKey(context, Bytes(key), Size(key), &k), kOk);
    EXPECT_EQ(EcapiCreateHash(context, EcapiAlg::Hmac, k, &hash), kOk);
    EXPECT_EQ(EcapiSetHashParam(hash, EcapiParam::HmacInfo, &kSha1Info), kOk);
    for (size_t at = 0; at < data.size(); at += piece) {
      size_t n = std::min(piece, data.size() - at);
      EXPECT_EQ(EcapiHashData(hash, Bytes(data) + at, static_cast<uint32_t>(n)), kOk);
    }
    uint32_t length = 0;
    EXPECT_EQ(EcapiGetHashParam(hash, EcapiParam::HashValue, nullptr, &length), kOk);
    EXPECT_EQ(length, kEcapiSha1Bytes);
    uint8_t value[32] = {};
    length = sizeof value;
    EXPECT_EQ(EcapiGetHashParam(hash, EcapiParam::HashValue, value, &length), kOk);
    EXPECT_EQ(length, kEcapiSha1Bytes);
    EXPECT_EQ(EcapiDestroyHash(hash), kOk);
    EXPECT_EQ(EcapiDestroyKey(k), kOk);
    EXPECT_EQ(EcapiCloseContext(context), kOk);
    return Hex(value, length);
  }

  uint32_t start_ = 0;
};

TEST_F(EcapiHashTest, HmacSha1EqualsTheOpensslCommandLine) {
  for (const HmacCase& c : Cases()) {
    for (size_t piece : {size_t{1}, size_t{7}, size_t{64}, size_t{100000}})
      EXPECT_EQ(Hmac(c.key, c.data, piece), c.hex) << "key " << c.key.size() << " bytes, piece "
                                                    << piece;
  }
}

TEST_F(EcapiHashTest, WrongHandlesAreRefused) {
  EcapiHandle context = 0, other = 0, k = 0, otherKey = 0, hash = 0, out = 0;
  ASSERT_EQ(EcapiOpenContext(&context), kOk);
  ASSERT_EQ(EcapiOpenContext(&other), kOk);
  ASSERT_EQ(EcapiImportKey(context, Bytes("k"), 1, &k), kOk);
  ASSERT_EQ(EcapiImportKey(other, Bytes("k"), 1, &otherKey), kOk);
  ASSERT_EQ(EcapiCreateHash(context, EcapiAlg::Hmac, k, &hash), kOk);

  EXPECT_EQ(EcapiCreateHash(context, EcapiAlg::Hmac, otherKey, &out), kEcapiBadHandle);
  EXPECT_EQ(EcapiHashData(0x12345678, Bytes("x"), 1), kEcapiBadHandle);
  EXPECT_EQ(EcapiDestroyHash(k), kEcapiBadHandle);
  EXPECT_EQ(EcapiCloseContext(hash), kEcapiBadHandle);

  // A handle stays wrong once its record is gone, even when its slot is
  // taken again.
  ASSERT_EQ(EcapiDestroyHash(hash), kOk);
  EXPECT_EQ(EcapiDestroyHash(hash), kEcapiBadHandle);
  EcapiHandle again = 0;
  ASSERT_EQ(EcapiCreateHash(context, EcapiAlg::Hmac, k, &again), kOk);
  EXPECT_NE(again, hash);
  EXPECT_EQ(EcapiHashData(hash, Bytes("x"), 1), kEcapiBadHandle);
  ASSERT_EQ(EcapiCloseContext(context), kOk);
  EXPECT_EQ(EcapiDestroyKey(otherKey), kOk);
  EXPECT_EQ(EcapiCloseContext(other), kOk);
}

}  // namespace
