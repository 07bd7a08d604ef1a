// The Korean double-byte code page: one byte for ASCII and the bytes that
// cannot lead, two for the rest.
#include "kernel/lng.h"
#include "kernel/lng_tables.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

uint32_t Limit(const uint32_t* capacity) {
  return capacity && *capacity ? *capacity : UINT32_MAX;
}

bool IsLead(uint8_t b) { return b >= kLngDbcsLeadLow && b <= kLngDbcsLeadHigh; }

// The unit of a lead byte and the byte after it. A trail byte out of range
// gives U+FFFD.
char16_t Pair(uint8_t lead, uint8_t trail) {
  if (trail < kLngDbcsTrailLow || trail > kLngDbcsTrailHigh) return kReplacement;
  return kLngCp949Decode[(lead - kLngDbcsLeadLow) * kLngDbcsColumns + (trail - kLngDbcsTrailLow)];
}

uint16_t Entry(const uint16_t* const* pages, char16_t unit) {
  const uint16_t* page = pages[unit >> 8];
  return page ? page[unit & 0xFF] : '?';
}

}  // namespace

char16_t LngDbcsReadChar(Result* result, Queue* queue) {
  uint8_t b[2];
  const uint32_t got = LngChainPeek(queue, b, 2);
  if (got == 0 || (got == 1 && IsLead(b[0]))) {
    if (result) *result = kLngEndOfData;
    return 0;
  }
  char16_t unit = b[0];
  uint32_t used = 1;
  if (IsLead(b[0])) {
    unit = Pair(b[0], b[1]);
    // A zero after a lead byte ends the text: it is not taken as a trail.
    if (b[1] == 0) unit = kReplacement;
    else used = 2;
  }
  LngChainSkip(queue, used);
  if (unit == 0 && result) *result = kOk;
  return unit;
}

uint32_t LngDbcsMeasureWide(uint32_t* units, const char16_t* string,
                            const uint16_t* const* pages) {
  uint32_t bytes = 0, n = 0;
  for (; string[n]; ++n) bytes += Entry(pages, string[n]) > 0xFF ? 2 : 1;
  if (units) *units = n;
  return bytes;
}

uint32_t LngDbcsTableEncode(const uint16_t* const* pages, const char16_t* units, uint32_t count,
                            uint8_t* dest, uint32_t* capacity) {
  const uint32_t limit = Limit(capacity);
  uint32_t i = 0, out = 0;
  for (; i < count; ++i) {
    const uint16_t entry = Entry(pages, units[i]);
    if (entry > 0xFF) {
      if (limit - out < 2) break;
      dest[out++] = static_cast<uint8_t>(entry >> 8);
      dest[out++] = static_cast<uint8_t>(entry);
    } else {
      if (limit - out < 1) break;
      dest[out++] = static_cast<uint8_t>(entry);
    }
  }
  if (capacity) *capacity = out;
  return i;
}

uint32_t LngDbcsMeasureBytes(uint32_t* bytes, const char* text, uint8_t leadLow,
                             uint8_t leadHigh) {
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  uint32_t i = 0, characters = 0;
  while (p[i]) {
    i += p[i] >= leadLow && p[i] <= leadHigh && p[i + 1] ? 2 : 1;
    ++characters;
  }
  if (bytes) *bytes = i;
  return characters;
}

uint32_t LngDbcsWideLength(uint32_t* units, const char16_t* string) {
  return LngDbcsMeasureWide(units, string, kLngCp949EncodePages);
}

uint32_t LngDbcsEncode(const char16_t* units, uint32_t count, uint8_t* dest, uint32_t* capacity) {
  return LngDbcsTableEncode(kLngCp949EncodePages, units, count, dest, capacity);
}

uint32_t LngDbcsByteLength(uint32_t* bytes, const char* text) {
  return LngDbcsMeasureBytes(bytes, text, kLngDbcsLeadLow, kLngDbcsLeadHigh);
}

uint32_t LngDbcsDecode(const uint8_t* bytes, uint32_t count, char16_t* dest, uint32_t* capacity) {
  const uint32_t limit = Limit(capacity);
  uint32_t i = 0, out = 0;
  while (i < count && out < limit) {
    const uint8_t b = bytes[i];
    if (!IsLead(b)) {
      dest[out++] = b;
      i += 1;
    } else if (i + 1 == count) {
      break;  // its trail byte may come with the next buffer
    } else if (bytes[i + 1] == 0) {
      dest[out++] = kReplacement;  // the terminator is not a trail byte
      i += 1;
    } else {
      dest[out++] = Pair(b, bytes[i + 1]);
      i += 2;
    }
  }
  if (capacity) *capacity = out;
  return i;
}
