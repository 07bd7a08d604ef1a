#include "tests/support/udp_ports.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

std::vector<uint16_t> FreeUdpPorts(int count) {
  std::vector<uint16_t> ports;
  std::vector<int> held;  // open until all are chosen, so no port comes twice
  for (int i = 0; i < count; ++i) {
    int fd = ::socket(AF_INET6, SOCK_DGRAM, 0);
    if (fd < 0) break;
    held.push_back(fd);
    int off = 0;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    socklen_t length = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0)
      break;
    ports.push_back(ntohs(a.sin6_port));
  }
  for (int fd : held) ::close(fd);
  if (static_cast<int>(ports.size()) != count) ports.clear();
  return ports;
}
