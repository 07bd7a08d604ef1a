#include "host/smsconcat.h"

#include "host/sms.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

struct SmsConcat {
  SmsConcat* next;
  char sender[kSmsNumberSize];
  uint16_t reference;
  uint8_t total;
  uint8_t received;
  int32_t lifetime;
  // total entries each: the segment's payload (null until it came) and its length
  uint8_t** parts;
  uint32_t* lengths;
};

namespace {

void FreeRecord(SmsConcat* c) {
  for (uint32_t i = 0; i < c->total; ++i) MemFree(&c->parts[i]);
  MemFree(&c->parts);
  MemFree(&c->lengths);
  MemFree(&c);
}

void Unlink(SmsConcat** list, SmsConcat* c) {
  for (SmsConcat** p = list; *p; p = &(*p)->next)
    if (*p == c) {
      *p = c->next;
      return;
    }
}

SmsConcat* Find(SmsConcat* list, const char* sender, uint16_t reference) {
  for (SmsConcat* c = list; c; c = c->next)
    if (c->reference == reference && LibcStrNICmp(c->sender, sender, kSmsNumberSize - 1) == 0) return c;
  return nullptr;
}

SmsConcat* Create(const char* sender, uint16_t reference, uint8_t total) {
  auto* c = static_cast<SmsConcat*>(MemAllocZero(sizeof(SmsConcat), Use::Data, Mod::Sms));
  if (!c) return nullptr;
  c->parts = static_cast<uint8_t**>(MemAllocZero(total * sizeof(uint8_t*), Use::Data, Mod::Sms));
  c->lengths = static_cast<uint32_t*>(MemAllocZero(total * sizeof(uint32_t), Use::Data, Mod::Sms));
  if (!c->parts || !c->lengths) {
    MemFree(&c->parts);
    MemFree(&c->lengths);
    MemFree(&c);
    return nullptr;
  }
  LibcStrNCopy(c->sender, sender, kSmsNumberSize - 1);
  c->sender[kSmsNumberSize - 1] = 0;
  c->reference = reference;
  c->total = total;
  return c;
}

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

Result SmsConcatAdd(SmsConcat** list, const char* sender, uint16_t reference, uint8_t total,
                    uint8_t sequence, const uint8_t* payload, uint32_t length, uint8_t** whole,
                    uint32_t* wholeLength) {
  *whole = nullptr;
  *wholeLength = 0;
  if (!sender) sender = "";
  if (total < 2 || sequence < 1 || sequence > total) return ResultError(Mod::Sms, Err::BadArg);
  SmsConcat* c = Find(*list, sender, reference);
  if (c && c->total != total) return ResultError(Mod::Sms, Err::BadArg);
  if (!c) {
    c = Create(sender, reference, total);
    if (!c) return ResultError(Mod::Sms, Err::NoMemory);
    c->next = *list;
    *list = c;
  }
  c->lifetime = kSmsConcatLifetime;
  const uint32_t slot = sequence - 1u;
  if (c->parts[slot]) return kOk;  // a repeat
  c->parts[slot] = static_cast<uint8_t*>(MemAlloc(length ? length : 1, Use::Data, Mod::Sms));
  if (!c->parts[slot]) return ResultError(Mod::Sms, Err::NoMemory);
  LibcMemCopy(c->parts[slot], payload, length);
  c->lengths[slot] = length;
  if (++c->received < c->total) return kOk;

  uint32_t sum = 0;
  for (uint32_t i = 0; i < c->total; ++i) sum += c->lengths[i];
  auto* out = static_cast<uint8_t*>(MemAlloc(sum ? sum : 1, Use::Data, Mod::Sms));
  if (!out) return ResultError(Mod::Sms, Err::NoMemory);  // kept: the next try may fit
  uint32_t at = 0;
  for (uint32_t i = 0; i < c->total; ++i) {
    LibcMemCopy(out + at, c->parts[i], c->lengths[i]);
    at += c->lengths[i];
  }
  Unlink(list, c);
  FreeRecord(c);
  *whole = out;
  *wholeLength = sum;
  return kOk;
}

uint32_t SmsConcatAge(SmsConcat** list) {
  uint32_t left = 0;
  for (SmsConcat** p = list; *p;) {
    SmsConcat* c = *p;
    if (--c->lifetime <= 0) {
      *p = c->next;
      FreeRecord(c);
    } else {
      ++left;
      p = &c->next;
    }
  }
  return left;
}

uint32_t SmsConcatCount(const SmsConcat* list) {
  uint32_t n = 0;
  for (; list; list = list->next) ++n;
  return n;
}

void SmsConcatFreeAll(SmsConcat** list) {
  while (SmsConcat* c = *list) {
    *list = c->next;
    FreeRecord(c);
  }
}
