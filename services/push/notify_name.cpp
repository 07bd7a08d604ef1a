// Names of pushed objects: "push:" sender "." serial. The inbox keeps
// messages across runs, so the serial goes on after the highest one it
// kept instead of starting again at 1.
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/push/notify.h"

namespace {

uint32_t gSerial;

bool KeepsItsPlace(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         c == '+' || c == '-' || c == '_' || c == '*';
}

char* Named(const char* scheme, const char* sender, uint32_t senderLength, bool escape,
            uint32_t serial, uint32_t module) {
  static const char kHex[] = "0123456789ABCDEF";
  const uint32_t schemeLength = LibcStrLen(scheme);
  const uint32_t size = schemeLength + 1 + senderLength * 3 + 12;
  auto* url = static_cast<char*>(MemAlloc(size, Use::String, module));
  if (!url) return nullptr;
  char* out = url;
  for (const char* s = scheme; *s;) *out++ = *s++;
  *out++ = ':';
  for (uint32_t i = 0; i < senderLength; ++i) {
    const char c = sender[i];
    if (!escape || KeepsItsPlace(c)) {
      *out++ = c;
    } else {
      *out++ = '%';
      *out++ = kHex[static_cast<uint8_t>(c) >> 4];
      *out++ = kHex[static_cast<uint8_t>(c) & 0x0F];
    }
  }
  *out++ = '.';
  LibcItoA(static_cast<int32_t>(serial & 0x7FFFFFFF), out, 10);
  return url;
}

}  // namespace

char* NotifyNewPushUrl(const char* sender, uint32_t module) {
  const uint32_t next = gSerial + 1 > 0x7FFFFFFF ? 1 : gSerial + 1;
  char* url = Named("push", sender, sender ? LibcStrLen(sender) : 0, true, next, module);
  if (url) gSerial = next;
  return url;
}

uint32_t NotifyPushSerialOf(const char* name) {
  const char* dot = name ? LibcStrRChr(name, '.') : nullptr;
  if (!dot || !dot[1]) return 0;
  uint32_t serial = 0;
  for (const char* p = dot + 1; *p; ++p) {
    if (*p < '0' || *p > '9' || serial > 0x7FFFFFFF / 10) return 0;
    serial = serial * 10 + static_cast<uint32_t>(*p - '0');
  }
  return serial <= 0x7FFFFFFF ? serial : 0;
}

char* NotifyRenamePush(const char* name, uint32_t module) {
  const char* colon = name ? LibcStrChr(name, ':') : nullptr;
  const char* dot = name ? LibcStrRChr(name, '.') : nullptr;
  if (!colon || !dot || dot < colon) return nullptr;
  const uint32_t next = gSerial + 1 > 0x7FFFFFFF ? 1 : gSerial + 1;
  char* url = Named("push", colon + 1, static_cast<uint32_t>(dot - colon - 1), false, next, module);
  if (url) gSerial = next;
  return url;
}

void NotifyPushSerialAtLeast(uint32_t serial) {
  if (serial > gSerial && serial <= 0x7FFFFFFF) gSerial = serial;
}

uint32_t NotifyPushSerial() { return gSerial; }

void NotifyPushSerialReset() { gSerial = 0; }
