// Names of pushed objects: "push:" sender "." serial. The inbox keeps
// messages across runs, so the serial goes on after the highest one it
// kept instead of starting again at 1.
#include "browser/cache.h"
#include "browser/url.h"
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

// An object of the cache goes by that name (a kept message, after the
// serials ran out and started again).
bool Taken(const char* url) {
  UrlParsed parsed;
  if (UrlParse(&parsed, url, 0) != kOk) return false;
  const bool taken = CacheFindByName(&parsed) != nullptr;
  UrlFreeParsed(&parsed);
  return taken;
}

uint32_t NextSerial() { return gSerial + 1 > 0x7FFFFFFF ? 1 : gSerial + 1; }

// The sender's name under the next serial no object of the cache holds.
char* Fresh(const char* sender, uint32_t senderLength, bool escape, uint32_t module) {
  // Every object in the cache can hold at most one serial.
  for (uint32_t tries = CacheCount() + 1;; --tries) {
    char* url = Named("push", sender, senderLength, escape, NextSerial(), module);
    if (!url) return nullptr;
    gSerial = NextSerial();
    if (tries == 0 || !Taken(url)) return url;
    MemFree(&url);
  }
}

}  // namespace

char* NotifyNewPushUrl(const char* sender, uint32_t module) {
  return Fresh(sender, sender ? LibcStrLen(sender) : 0, true, module);
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
  return Fresh(colon + 1, static_cast<uint32_t>(dot - colon - 1), false, module);
}

void NotifyPushSerialAtLeast(uint32_t serial) {
  if (serial > gSerial && serial <= 0x7FFFFFFF) gSerial = serial;
}

uint32_t NotifyPushSerial() { return gSerial; }

void NotifyPushSerialReset() { gSerial = 0; }
