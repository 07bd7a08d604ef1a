// The single-byte family: windows-1252 through its decode table and paged
// encode table. Every row of a single-byte character set uses it.
#include "kernel/lng.h"
#include "kernel/lng_tables.h"

namespace {

// A capacity of null or 0 is no limit.
uint32_t Limit(const uint32_t* capacity) {
  return capacity && *capacity ? *capacity : UINT32_MAX;
}

}  // namespace

uint32_t LngTableEncode(const LngSbcsEncodeTable* table, const char16_t* units, uint32_t count,
                        uint8_t* dest, uint32_t* capacity) {
  const uint32_t n = count < Limit(capacity) ? count : Limit(capacity);
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t page = units[i] >> 8;
    const uint8_t* bytes = page < table->pageCount ? table->pages[page] : nullptr;
    dest[i] = bytes ? bytes[units[i] & 0xFF] : '?';
  }
  if (capacity) *capacity = n;
  return n;
}

uint32_t LngTableDecode(const char16_t* table, const uint8_t* bytes, uint32_t count,
                        char16_t* dest, uint32_t* capacity) {
  const uint32_t n = count < Limit(capacity) ? count : Limit(capacity);
  for (uint32_t i = 0; i < n; ++i) dest[i] = table[bytes[i]];
  if (capacity) *capacity = n;
  return n;
}

char16_t LngSbcsReadChar(Result* result, Queue* queue) {
  uint8_t byte;
  if (LngChainGetByte(queue, &byte) != kOk) {
    if (result) *result = kLngEndOfData;
    return 0;
  }
  const char16_t unit = kLngCp1252Decode[byte];
  if (unit == 0 && result) *result = kOk;
  return unit;
}

uint32_t LngSbcsWideLength(uint32_t* units, const char16_t* string) {
  uint32_t n = 0;
  while (string[n]) ++n;
  if (units) *units = n;
  return n;
}

uint32_t LngSbcsEncode(const char16_t* units, uint32_t count, uint8_t* dest, uint32_t* capacity) {
  return LngTableEncode(&kLngCp1252Encode, units, count, dest, capacity);
}

uint32_t LngSbcsByteLength(uint32_t* bytes, const char* text) {
  uint32_t n = 0;
  while (text[n]) ++n;
  if (bytes) *bytes = n;
  return n;
}

uint32_t LngSbcsDecode(const uint8_t* bytes, uint32_t count, char16_t* dest, uint32_t* capacity) {
  return LngTableDecode(kLngCp1252Decode, bytes, count, dest, capacity);
}
