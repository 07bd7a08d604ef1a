// Dotted addresses come from settings and from pages: any text is read as
// exactly four parts of at most 255 or refused with the layer's code, and
// what is read prints back as the same text less leading zeros.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/netsock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  NetSockAddr a{};
  a.port = 0x1234;
  const Result r = NetAddrFromText(text.c_str(), kNetFamily, &a, kNetSockAddrSize);
  if (r != kOk) {
    if (r != kNetBadText) std::abort();
    return 0;
  }
  static const uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (a.family != kNetFamily || a.port != 0x1234 || std::memcmp(a.address, kMapped, 12) != 0)
    std::abort();
  // Read back: the same four numbers, whatever leading zeros the text had.
  unsigned parts[4];
  int used = 0;
  if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%n", &parts[0], &parts[1], &parts[2], &parts[3],
                  &used) != 4 ||
      static_cast<size_t>(used) != std::strlen(text.c_str()))
    std::abort();
  for (int i = 0; i < 4; ++i)
    if (parts[i] != a.address[12 + i]) std::abort();
  return 0;
}
