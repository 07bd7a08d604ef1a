// The cryptographic provider's keyed hashes: HMAC with SHA-1 over contexts,
// keys and hash objects named by opaque handles. The arithmetic is the
// system's crypto library's; the provider keeps the handles and the order of
// the calls.
//
// Use: open a context, import the key bytes, create an HMAC hash with the
// key, set its HMAC information (inner algorithm SHA-1), feed the data, read
// the value, then destroy the hash and the key and close the context.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

using EcapiHandle = uint32_t;

namespace EcapiAlg {
constexpr uint32_t Sha1 = 0x8004, Hmac = 0x8009;
}
namespace EcapiParam {
constexpr uint32_t HashValue = 2, HmacInfo = 5;
}

// Parameter 5. Only the standard pads are offered: both pad strings null (or
// of length 0).
struct EcapiHmacInfo {
  uint32_t hashAlgorithm;  // EcapiAlg::Sha1
  const uint8_t* innerString;
  uint32_t innerLength;
  const uint8_t* outerString;
  uint32_t outerLength;
};

constexpr uint32_t kEcapiSha1Bytes = 20;

// Answers besides 0 (the provider's module, 49).
constexpr Result kEcapiHashNoMemory = 0x80310001;
constexpr Result kEcapiBadArgument = 0x80310002;
constexpr Result kEcapiBadHandle = 0x80310005;  // unknown, stale, of another kind or context
constexpr Result kEcapiBadAlgorithm = 0x80310006;
constexpr Result kEcapiBadParameter = 0x80310007;
constexpr Result kEcapiBadOrder = 0x80310008;  // a call the hash's state does not allow
constexpr Result kEcapiMoreData = 0x80310009;  // the value's room is too small; length stored
constexpr Result kEcapiFailed = 0x8031000A;    // the crypto library refused

// At most this many contexts, keys and hashes live at once.
constexpr uint32_t kEcapiMaxHandles = 32;

Result EcapiOpenContext(EcapiHandle* context);
// Closes the context together with every key and hash still open in it.
Result EcapiCloseContext(EcapiHandle context);
// A key of the given bytes (copied), for HMAC.
Result EcapiImportKey(EcapiHandle context, const uint8_t* bytes, uint32_t length, EcapiHandle* key);
Result EcapiDestroyKey(EcapiHandle key);
// A hash object of `algorithm` (only EcapiAlg::Hmac) keyed with `key`, which
// must belong to the same context; the key may be destroyed afterwards.
Result EcapiCreateHash(EcapiHandle context, uint32_t algorithm, EcapiHandle key, EcapiHandle* hash);
// Parameter 5 (EcapiHmacInfo), once, before any data.
Result EcapiSetHashParam(EcapiHandle hash, uint32_t parameter, const void* value);
// Adds data; only after the HMAC information and before the value is read.
Result EcapiHashData(EcapiHandle hash, const uint8_t* data, uint32_t length);
// Parameter 2: the value. *length gives the room of `value` and takes the
// value's length; a null value only asks for the length. Reading the value
// ends the data; it may be read again.
Result EcapiGetHashParam(EcapiHandle hash, uint32_t parameter, uint8_t* value, uint32_t* length);
Result EcapiDestroyHash(EcapiHandle hash);
