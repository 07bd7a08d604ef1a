#include "tests/support/udp_ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// An IPv6 socket that takes IPv4 too, bound to `port`; -1 on failure.
int DualStackBound(uint16_t port) {
  int fd = ::socket(AF_INET6, SOCK_DGRAM, 0);
  if (fd < 0) return -1;
  int off = 0;
  ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = htons(port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

}  // namespace

std::vector<uint16_t> FreeUdpPorts(int count) {
  std::vector<uint16_t> ports;
  std::vector<int> held;  // open until all are chosen, so no port comes twice
  for (int i = 0; i < count; ++i) {
    int fd = DualStackBound(0);
    if (fd < 0) break;
    held.push_back(fd);
    sockaddr_in6 a{};
    socklen_t length = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) break;
    ports.push_back(ntohs(a.sin6_port));
  }
  for (int fd : held) ::close(fd);
  if (static_cast<int>(ports.size()) != count) ports.clear();
  return ports;
}

int LoopbackUdpSocket(uint16_t port, int waitMs) {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = Loopback(port);
  if (fd < 0 || (port && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  timeval wait{waitMs / 1000, (waitMs % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  return fd;
}

void SendToLoopback(int fd, uint16_t port, const std::string& bytes) {
  sockaddr_in a = Loopback(port);
  ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
}

std::string ReceiveDatagram(int fd) {
  char buffer[2048];
  const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

int HoldUdpPort(uint16_t port) { return DualStackBound(port); }
