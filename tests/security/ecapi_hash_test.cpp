// HMAC-SHA1 through the provider's handle operations, against values made by
// the openssl command line, and the errors of wrong handles, wrong order and
// wrong parameters.
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
      // printf '' | openssl dgst -sha1 -hmac key
      {"key", "", "f42bb0eeb018ebbd4597ae7213711ec60760843f"},
      // printf 'what do ya want for nothing?' | openssl dgst -sha1 -hmac Jefe
      {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      // K=$(printf 'x%.0s' $(seq 100)); printf 'Test Using Larger Than Block-Size Key' |
      //   openssl dgst -sha1 -hmac "$K"
      {Repeat('x', 100), "Test Using Larger Than Block-Size Key",
       "7c41a2ef322ad0bbd1cc4483aa05e932f4feb537"},
      // printf '1234' | openssl dgst -sha1 -mac HMAC -macopt hexkey:00ff10203040
      {std::string("\x00\xff\x10\x20\x30\x40", 6), "1234", "7b01db638f6000f468ab18a9f1dfca5e4d1cbe27"},
      // printf 'abc' | openssl dgst -sha1 -hmac ''
      {"", "abc", "9b4a918f398d74d3e367970aba3cbe54e4d2b5d9"},
      // head -c 1000 /dev/zero | tr '\0' 'a' | openssl dgst -sha1 -hmac 12345678
      {"12345678", Repeat('a', 1000), "5ee38e9af10bee4dd28cdc0f69d7a00ea2bbf2f5"},
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

TEST_F(EcapiHashTest, TheKeyMayGoBeforeTheHashIsDoneAndTheValueReadsAgain) {
  const HmacCase& c = Cases()[2];
  EcapiHandle context = 0, k = 0, hash = 0;
  ASSERT_EQ(EcapiOpenContext(&context), kOk);
  ASSERT_EQ(EcapiImportKey(context, Bytes(c.key), Size(c.key), &k), kOk);
  ASSERT_EQ(EcapiCreateHash(context, EcapiAlg::Hmac, k, &hash), kOk);
  ASSERT_EQ(EcapiDestroyKey(k), kOk);
  ASSERT_EQ(EcapiSetHashParam(hash, EcapiParam::HmacInfo, &kSha1Info), kOk);
  ASSERT_EQ(EcapiHashData(hash, Bytes(c.data), Size(c.data)), kOk);
  uint8_t value[20];
  for (int i = 0; i < 2; ++i) {
    uint32_t length = sizeof value;
    ASSERT_EQ(EcapiGetHashParam(hash, EcapiParam::HashValue, value, &length), kOk);
    EXPECT_EQ(Hex(value, length), c.hex);
  }
  EXPECT_EQ(EcapiDestroyHash(hash), kOk);
  EXPECT_EQ(EcapiCloseContext(context), kOk);
}

TEST_F(EcapiHashTest, WrongHandlesAreRefused) {
  EcapiHandle context = 0, other = 0, k = 0, otherKey = 0, hash = 0, out = 0;
  ASSERT_EQ(EcapiOpenContext(&context), kOk);
  ASSERT_EQ(EcapiOpenContext(&other), kOk);
  ASSERT_EQ(EcapiImportKey(context, Bytes("k"), 1, &k), kOk);
  ASSERT_EQ(EcapiImportKey(other, Bytes("k"), 1, &otherKey), kOk);
  ASSERT_EQ(EcapiCreateHash(context, EcapiAlg::Hmac, k, &hash), kOk);

  struct Wrong {
    const char* what;
    Result result;
  };
  const Wrong wrongs[] = {
      {"no handle", EcapiCreateHash(0, EcapiAlg::Hmac, k, &out)},
      {"a key as context", EcapiCreateHash(k, EcapiAlg::Hmac, k, &out)},
      {"a hash as key", EcapiCreateHash(context, EcapiAlg::Hmac, hash, &out)},
      {"another context's key", EcapiCreateHash(context, EcapiAlg::Hmac, otherKey, &out)},
      {"a made-up handle", EcapiHashData(0x12345678, Bytes("x"), 1)},
      {"a context as hash", EcapiSetHashParam(context, EcapiParam::HmacInfo, &kSha1Info)},
      {"a key as hash", EcapiDestroyHash(k)},
      {"a hash as key to destroy", EcapiDestroyKey(hash)},
      {"a hash as context to close", EcapiCloseContext(hash)},
      {"a key as context to import into", EcapiImportKey(k, Bytes("k"), 1, &out)},
  };
  for (const Wrong& w : wrongs) EXPECT_EQ(w.result, kEcapiBadHandle) << w.what;

  // A handle stays wrong once its record is gone, even when its slot is
  // taken again.
  ASSERT_EQ(EcapiDestroyHash(hash), kOk);
  EXPECT_EQ(EcapiDestroyHash(hash), kEcapiBadHandle);
  EcapiHandle again = 0;
  ASSERT_EQ(EcapiCreateHash(context, EcapiAlg::Hmac, k, &again), kOk);
  EXPECT_NE(again, hash);
  EXPECT_EQ(EcapiHashData(hash, Bytes("x"), 1), kEcapiBadHandle);

  // Closing a context ends its keys and hashes with it.
  ASSERT_EQ(EcapiCloseContext(context), kOk);
  EXPECT_EQ(EcapiDestroyHash(again), kEcapiBadHandle);
  EXPECT_EQ(EcapiDestroyKey(k), kEcapiBadHandle);
  EXPECT_EQ(EcapiCloseContext(context), kEcapiBadHandle);
  EXPECT_EQ(EcapiDestroyKey(otherKey), kOk);
  EXPECT_EQ(EcapiCloseContext(other), kOk);
}

TEST_F(EcapiHashTest, CallsOutOfOrderAndWrongParametersAreRefused) {
  EcapiHandle context = 0, k = 0, hash = 0, out = 0;
  ASSERT_EQ(EcapiOpenContext(&context), kOk);
  ASSERT_EQ(EcapiImportKey(context, Bytes("key"), 3, &k), kOk);
  EXPECT_EQ(EcapiCreateHash(context, EcapiAlg::Sha1, k, &out), kEcapiBadAlgorithm);
  EXPECT_EQ(out, 0u);
  ASSERT_EQ(EcapiCreateHash(context, EcapiAlg::Hmac, k, &hash), kOk);

  uint8_t value[20];
  uint32_t length = sizeof value;
  // Before the HMAC information: no data, no value.
  EXPECT_EQ(EcapiHashData(hash, Bytes("x"), 1), kEcapiBadOrder);
  EXPECT_EQ(EcapiGetHashParam(hash, EcapiParam::HashValue, value, &length), kEcapiBadOrder);

  const EcapiHmacInfo md5{0x8003, nullptr, 0, nullptr, 0};
  const uint8_t pad[4] = {1, 2, 3, 4};
  const EcapiHmacInfo ownPad{EcapiAlg::Sha1, pad, 4, nullptr, 0};
  EXPECT_EQ(EcapiSetHashParam(hash, EcapiParam::HmacInfo, &md5), kEcapiBadAlgorithm);
  EXPECT_EQ(EcapiSetHashParam(hash, EcapiParam::HmacInfo, &ownPad), kEcapiBadParameter);
  EXPECT_EQ(EcapiSetHashParam(hash, EcapiParam::HashValue, &kSha1Info), kEcapiBadParameter);
  EXPECT_EQ(EcapiSetHashParam(hash, EcapiParam::HmacInfo, nullptr), kEcapiBadArgument);
  ASSERT_EQ(EcapiSetHashParam(hash, EcapiParam::HmacInfo, &kSha1Info), kOk);
  EXPECT_EQ(EcapiSetHashParam(hash, EcapiParam::HmacInfo, &kSha1Info), kEcapiBadOrder);

  // Missing places for the answer and bytes that are not there.
  EXPECT_EQ(EcapiOpenContext(nullptr), kEcapiBadArgument);
  EXPECT_EQ(EcapiImportKey(context, Bytes("k"), 1, nullptr), kEcapiBadArgument);
  EXPECT_EQ(EcapiImportKey(context, nullptr, 1, &out), kEcapiBadArgument);
  EXPECT_EQ(EcapiCreateHash(context, EcapiAlg::Hmac, k, nullptr), kEcapiBadArgument);
  EXPECT_EQ(EcapiHashData(hash, nullptr, 1), kEcapiBadArgument);
  EXPECT_EQ(EcapiHashData(hash, nullptr, 0), kOk);  // nothing to add
  ASSERT_EQ(EcapiHashData(hash, Bytes("data"), 4), kOk);
  EXPECT_EQ(EcapiHashData(hash, Bytes("x"), 0), kOk);
  EXPECT_EQ(EcapiGetHashParam(hash, EcapiParam::HmacInfo, value, &length), kEcapiBadParameter);
  EXPECT_EQ(EcapiGetHashParam(hash, EcapiParam::HashValue, value, nullptr), kEcapiBadArgument);
  length = 19;
  EXPECT_EQ(EcapiGetHashParam(hash, EcapiParam::HashValue, value, &length), kEcapiMoreData);
  EXPECT_EQ(length, 20u);
  // Too little room does not end the data.
  ASSERT_EQ(EcapiHashData(hash, Bytes("more"), 4), kOk);
  length = sizeof value;
  ASSERT_EQ(EcapiGetHashParam(hash, EcapiParam::HashValue, value, &length), kOk);
  // printf 'datamore' | openssl dgst -sha1 -hmac key
  EXPECT_EQ(Hex(value, length), "f03e5c7daa51b29e0a15dfb73167c36741772b91");
  // After the value: no more data.
  EXPECT_EQ(EcapiHashData(hash, Bytes("x"), 1), kEcapiBadOrder);

  EXPECT_EQ(EcapiDestroyHash(hash), kOk);
  EXPECT_EQ(EcapiDestroyKey(k), kOk);
  EXPECT_EQ(EcapiCloseContext(context), kOk);
}

TEST_F(EcapiHashTest, TheHandleTableRunsFullAndRecovers) {
  std::vector<EcapiHandle> contexts;
  EcapiHandle h = 0;
  while (EcapiOpenContext(&h) == kOk) contexts.push_back(h);
  EXPECT_EQ(contexts.size(), kEcapiMaxHandles);
  EXPECT_EQ(h, 0u);
  for (EcapiHandle c : contexts) EXPECT_EQ(EcapiCloseContext(c), kOk);
  ASSERT_EQ(EcapiOpenContext(&h), kOk);
  EXPECT_EQ(EcapiCloseContext(h), kOk);
}

}  // namespace
