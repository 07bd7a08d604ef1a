// Handles of the cryptographic provider: a small table of slots, each holding
// an engine record of a context, key or hash. A handle is the slot number
// plus one in its low byte and the slot's use count above it, so a handle
// stays wrong after its record is gone even when the slot is reused.
#include "security/ecapi_hash.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

enum class Kind : uint32_t { Context = 1, Key, Hash };

enum class HashState : uint32_t { Created, Keyed, Finished };

struct Record {
  Kind kind;
  EcapiHandle context;  // the owning context (keys and hashes)
  uint8_t* key;         // key bytes (keys, and the hash's copy)
  uint32_t keyLength;
  HashState state;
  EVP_MAC_CTX* mac;  // the crypto library's, once keyed
  uint8_t value[kEcapiSha1Bytes];
};

struct Slot {
  Record* record;
  uint32_t uses;
};

Slot gSlots[kEcapiMaxHandles];

EcapiHandle HandleOf(uint32_t slot) { return (gSlots[slot].uses & 0xFFFFFF) << 8 | (slot + 1); }

Record* Find(EcapiHandle handle, Kind kind) {
  uint32_t slot = (handle & 0xFF) - 1;
  if (slot >= kEcapiMaxHandles || !gSlots[slot].record || HandleOf(slot) != handle) return nullptr;
  Record* r = gSlots[slot].record;
  return r->kind == kind ? r : nullptr;
}

Result Add(Record* record, EcapiHandle* out) {
  for (uint32_t slot = 0; slot < kEcapiMaxHandles; ++slot) {
    if (gSlots[slot].record) continue;
    gSlots[slot].record = record;
    ++gSlots[slot].uses;
    *out = HandleOf(slot);
    return kOk;
  }
  return kEcapiHashNoMemory;
}

void FreeRecord(Record* record) {
  if (record->key) {
    LibcMemSet(record->key, 0, record->keyLength);  // key bytes do not linger in the heap
    MemFree(&record->key);
  }
  EVP_MAC_CTX_free(record->mac);
  MemFree(&record);
}

Result Remove(EcapiHandle handle, Kind kind) {
  Record* record = Find(handle, kind);
  if (!record) return kEcapiBadHandle;
  gSlots[(handle & 0xFF) - 1].record = nullptr;
  FreeRecord(record);
  return kOk;
}

Record* NewRecord(Kind kind, EcapiHandle context) {
  auto* r = static_cast<Record*>(MemAllocZero(sizeof(Record), Use::Context, Mod::Ecapi));
  if (r) {
    r->kind = kind;
    r->context = context;
  }
  return r;
}

// A copy of bytes in engine memory; a zero length still gets a block, so that
// an empty key is told apart from a missing one.
uint8_t* CopyBytes(const uint8_t* bytes, uint32_t length) {
  auto* copy = static_cast<uint8_t*>(MemAlloc(length ? length : 1, Use::Data, Mod::Ecapi));
  if (copy && length) LibcMemCopy(copy, bytes, length);
  return copy;
}

}  // namespace

Result EcapiOpenContext(EcapiHandle* context) {
  if (!context) return kEcapiBadArgument;
  *context = 0;
  Record* r = NewRecord(Kind::Context, 0);
  if (!r) return kEcapiHashNoMemory;
  Result result = Add(r, context);
  if (result != kOk) FreeRecord(r);
  return result;
}

Result EcapiCloseContext(EcapiHandle context) {
  if (!Find(context, Kind::Context)) return kEcapiBadHandle;
  for (uint32_t slot = 0; slot < kEcapiMaxHandles; ++slot) {
    Record* r = gSlots[slot].record;
    if (r && r->kind != Kind::Context && r->context == context) {
      gSlots[slot].record = nullptr;
      FreeRecord(r);
    }
  }
  return Remove(context, Kind::Context);
}

Result EcapiImportKey(EcapiHandle context, const uint8_t* bytes, uint32_t length, EcapiHandle* key) {
  if (!key) return kEcapiBadArgument;
  *key = 0;
  if (!Find(context, Kind::Context)) return kEcapiBadHandle;
  if (!bytes && length) return kEcapiBadArgument;
  Record* r = NewRecord(Kind::Key, context);
  if (!r) return kEcapiHashNoMemory;
  r->key = CopyBytes(bytes, length);
  r->keyLength = length;
  Result result = r->key ? Add(r, key) : kEcapiHashNoMemory;
  if (result != kOk) FreeRecord(r);
  return result;
}

Result EcapiDestroyKey(EcapiHandle key) { return Remove(key, Kind::Key); }

Result EcapiCreateHash(EcapiHandle context, uint32_t algorithm, EcapiHandle key, EcapiHandle* hash) {
  if (!hash) return kEcapiBadArgument;
  *hash = 0;
  if (!Find(context, Kind::Context)) return kEcapiBadHandle;
  if (algorithm != EcapiAlg::Hmac) return kEcapiBadAlgorithm;
  Record* k = Find(key, Kind::Key);
  if (!k || k->context != context) return kEcapiBadHandle;
  Record* r = NewRecord(Kind::Hash, context);
  if (!r) return kEcapiHashNoMemory;
  r->key = CopyBytes(k->key, k->keyLength);
  r->keyLength = k->keyLength;
  Result result = r->key ? Add(r, hash) : kEcapiHashNoMemory;
  if (result != kOk) FreeRecord(r);
  return result;
}

Result EcapiSetHashParam(EcapiHandle hash, uint32_t parameter, const void* value) {
  Record* r = Find(hash, Kind::Hash);
  if (!r) return kEcapiBadHandle;
  if (parameter != EcapiParam::HmacInfo) return kEcapiBadParameter;
  if (!value) return kEcapiBadArgument;
  if (r->state != HashState::Created) return kEcapiBadOrder;
  const auto* info = static_cast<const EcapiHmacInfo*>(value);
  if (info->hashAlgorithm != EcapiAlg::Sha1) return kEcapiBadAlgorithm;
  if ((info->innerString && info->innerLength) || (info->outerString && info->outerLength))
    return kEcapiBadParameter;

  EVP_MAC* hmac = EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_HMAC, nullptr);
  EVP_MAC_CTX* mac = hmac ? EVP_MAC_CTX_new(hmac) : nullptr;
  EVP_MAC_free(hmac);  // the context keeps its own reference
  if (!mac) return kEcapiFailed;
  char digest[] = OSSL_DIGEST_NAME_SHA1;
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
      OSSL_PARAM_construct_end(),
  };
  // The library takes an empty key only as a non-null pointer of length 0.
  static const uint8_t kNoKey = 0;
  const uint8_t* keyBytes = r->keyLength ? r->key : &kNoKey;
  if (!EVP_MAC_init(mac, keyBytes, r->keyLength, params)) {
    EVP_MAC_CTX_free(mac);
    return kEcapiFailed;
  }
  r->mac = mac;
  r->state = HashState::Keyed;
  return kOk;
}

Result EcapiHashData(EcapiHandle hash, const uint8_t* data, uint32_t length) {
  Record* r = Find(hash, Kind::Hash);
  if (!r) return kEcapiBadHandle;
  if (r->state != HashState::Keyed) return kEcapiBadOrder;
  if (!data && length) return kEcapiBadArgument;
  if (length && !EVP_MAC_update(r->mac, data, length)) return kEcapiFailed;
  return kOk;
}

Result EcapiGetHashParam(EcapiHandle hash, uint32_t parameter, uint8_t* value, uint32_t* length) {
  Record* r = Find(hash, Kind::Hash);
  if (!r) return kEcapiBadHandle;
  if (parameter != EcapiParam::HashValue) return kEcapiBadParameter;
  if (!length) return kEcapiBadArgument;
  if (r->state == HashState::Created) return kEcapiBadOrder;
  const uint32_t room = *length;
  *length = kEcapiSha1Bytes;
  if (!value) return kOk;
  if (room < kEcapiSha1Bytes) return kEcapiMoreData;
  if (r->state == HashState::Keyed) {
    size_t produced = 0;
    if (!EVP_MAC_final(r->mac, r->value, &produced, sizeof r->value) ||
        produced != kEcapiSha1Bytes)
      return kEcapiFailed;
    EVP_MAC_CTX_free(r->mac);
    r->mac = nullptr;
    r->state = HashState::Finished;
  }
  LibcMemCopy(value, r->value, kEcapiSha1Bytes);
  return kOk;
}

Result EcapiDestroyHash(EcapiHandle hash) { return Remove(hash, Kind::Hash); }
