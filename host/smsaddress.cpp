#include "host/smsaddress.h"

#include "host/sms.h"
#include "host/wappush.h"

namespace {

// Reads the elements of a standard user-data header.
void ReadElements(const uint8_t* header, uint32_t length, SmsAddressing* out) {
  for (uint32_t at = 1; at + 2 <= length;) {
    const uint8_t id = header[at], size = header[at + 1];
    const uint8_t* v = header + at + 2;
    if (at + 2 + size > length) return;
    if (id == 0x00 && size == 3) {
      out->reference = v[0];
      out->total = v[1];
      out->sequence = v[2];
    } else if (id == 0x08 && size == 4) {
      out->reference = static_cast<uint16_t>(v[0] << 8 | v[1]);
      out->total = v[2];
      out->sequence = v[3];
    } else if (id == 0x05 && size == 4) {
      out->hasPort = 1;
      out->port = static_cast<uint16_t>(v[0] << 8 | v[1]);
    } else if (id == 0x04 && size == 2) {
      out->hasPort = 1;
      out->port = v[0];
    }
    at += 2u + size;
  }
}

}  // namespace

void SmsReadAddressing(const SmsReceived* m, SmsAddressing* out) {
  *out = SmsAddressing{};
  out->sequence = 1;
  const uint32_t h = m->headerLength < m->dataLength ? m->headerLength : m->dataLength;
  if (h == 0 || !m->data) return;
  const uint8_t* d = m->data;
  if (m->kind == SmsKind::Port && d[0] == 0) {
    out->hasPort = 1;
    out->total = h > 1 ? d[1] : 0;
    out->sequence = static_cast<uint8_t>(h > 2 ? d[2] + 1 : 1);
    out->reference = m->port;
    const uint16_t inHeader = h > 4 ? static_cast<uint16_t>(d[3] << 8 | d[4]) : 0;
    out->port = inHeader ? inHeader : m->port;
    return;
  }
  if (d[0] + 1u == h) ReadElements(d, h, out);
}

bool SmsAddressingIsPush(const SmsAddressing& a) { return a.hasPort && a.port == kWapPushPort; }
