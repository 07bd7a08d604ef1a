// Address text and the translation between the engine's address layout and
// the host's.
#include "net/netsockhost.h"

#include <cstring>

#include "kernel/libc.h"

Result NetAddrFromText(const char* text, uint32_t family, NetSockAddr* address, uint32_t length) {
  if (!text || !address || length < kNetSockAddrSize) return kNetBadArg;
  if (family != kNetFamily) return kNetBadFamily;
  // Exactly four decimal parts of at most three digits and at most 255.
  uint8_t parts[4];
  const char* p = text;
  for (int i = 0; i < 4; ++i) {
    if (i > 0 && *p++ != '.') return kNetBadText;
    uint32_t value = 0;
    int digits = 0;
    for (; *p >= '0' && *p <= '9' && digits < 4; ++p, ++digits) value = value * 10 + (*p - '0');
    if (digits == 0 || digits > 3 || value > 255) return kNetBadText;
    parts[i] = static_cast<uint8_t>(value);
  }
  if (*p) return kNetBadText;
  address->family = kNetFamily;
  LibcMemSet(address->address, 0, 10);
  address->address[10] = 0xFF;
  address->address[11] = 0xFF;
  LibcMemCopy(address->address + 12, parts, 4);
  return kOk;
}

namespace {
bool IsMapped(const uint8_t* a) {
  static const uint8_t kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  return std::memcmp(a, kPrefix, 12) == 0;
}
bool IsAny(const uint8_t* a) {
  static const uint8_t kZero[16] = {};
  return std::memcmp(a, kZero, 16) == 0;
}
}  // namespace

bool NetToHost(const NetSockAddr& in, int hostFamily, sockaddr_storage* out, socklen_t* outLength) {
  std::memset(out, 0, sizeof *out);
  if (in.family != kNetFamily) return false;
  if (hostFamily == AF_INET6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(out);
    a->sin6_family = AF_INET6;
    a->sin6_port = in.port;  // both in network order
    a->sin6_flowinfo = in.flowInfo;
    std::memcpy(&a->sin6_addr, in.address, 16);
    a->sin6_scope_id = in.scopeId;
    *outLength = sizeof(sockaddr_in6);
    return true;
  }
  // An IPv4-only host takes mapped addresses and the any address.
  if (!IsMapped(in.address) && !IsAny(in.address)) return false;
  auto* a = reinterpret_cast<sockaddr_in*>(out);
  a->sin_family = AF_INET;
  a->sin_port = in.port;
  std::memcpy(&a->sin_addr, in.address + 12, 4);
  *outLength = sizeof(sockaddr_in);
  return true;
}

bool NetFromHost(const sockaddr_storage& in, NetSockAddr* out) {
  std::memset(out, 0, sizeof *out);
  out->family = kNetFamily;
  if (in.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&in);
    out->port = a->sin6_port;
    out->flowInfo = a->sin6_flowinfo;
    std::memcpy(out->address, &a->sin6_addr, 16);
    out->scopeId = a->sin6_scope_id;
    return true;
  }
  if (in.ss_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(&in);
    out->port = a->sin_port;
    out->address[10] = out->address[11] = 0xFF;
    std::memcpy(out->address + 12, &a->sin_addr, 4);
    return true;
  }
  return false;
}
