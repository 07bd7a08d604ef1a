#include "host/cookiefile.h"

#include <cstring>
#include <vector>

#include "host/platform/files.h"
#include "kernel/mem.h"

namespace {

constexpr uint32_t kCookieUse = 49;

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

bool HostCookieFileSave() {
  CookieJar* jar = CookiesGetJar();
  if (!jar) return false;
  std::vector<uint8_t> bytes;
  for (CookieRecord* r = jar->first; r; r = r->next) {
    if (r->size < kCookieHeaderSize || !CookieRecordIsLasting(r)) continue;
    const uint32_t body = static_cast<uint32_t>(r->size - kCookieHeaderSize);
    if (bytes.size() + 4 + body >= kCookieFileMax) break;
    PutU32(bytes, body);
    const auto* start = reinterpret_cast<const uint8_t*>(r) + kCookieHeaderSize;
    bytes.insert(bytes.end(), start, start + body);
  }
  return PlatformFileReplace(kCookieFile, bytes.data(), static_cast<uint32_t>(bytes.size())) ==
         FileStatus::Ok;
}

bool HostCookieFileLoad() {
  CookieJar* jar = CookiesGetJar();
  uint32_t size = 0;
  if (!jar || PlatformFileSize(kCookieFile, &size) != FileStatus::Ok || size >= kCookieFileMax)
    return false;
  std::vector<uint8_t> bytes(size);
  if (size && PlatformFileRead(kCookieFile, bytes.data(), size) != FileStatus::Ok) return false;

  struct Body {
    uint32_t offset, length;
  };
  std::vector<Body> bodies;
  for (uint32_t at = 0; at < size;) {
    if (size - at < 4) return false;
    const uint32_t n = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                       static_cast<uint32_t>(bytes[at + 3]) << 24;
    at += 4;
    if (n == 0 || n > size - at) return false;
    bodies.push_back({at, n});
    at += n;
  }

  std::vector<CookieRecord*> records;
  for (const Body& b : bodies) {
    auto* r = static_cast<CookieRecord*>(
        MemAllocZero(kCookieHeaderSize + b.length, kCookieUse, Mod::Cookies));
    if (!r) {
      for (CookieRecord* done : records) MemFree(&done);
      return false;
    }
    r->size = kCookieHeaderSize + b.length;
    std::memcpy(reinterpret_cast<uint8_t*>(r) + kCookieHeaderSize, &bytes[b.offset], b.length);
    records.push_back(r);
  }
  for (CookieRecord* r : records) CookieJarPush(jar, r);
  return true;
}
