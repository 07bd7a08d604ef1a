#include "host/platform/sockets.h"

#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

namespace {

int Open(void*, bool stream, int* family) {
  const int kind = (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
  int fd = ::socket(AF_INET6, kind, 0);
  if (fd >= 0) {
    // IPv4 peers arrive as mapped addresses on the same socket.
    int off = 0;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    *family = AF_INET6;
    return fd;
  }
  *family = AF_INET;
  return ::socket(AF_INET, kind, 0);
}

int Bind(void*, int fd, const sockaddr* address, socklen_t length) {
  return ::bind(fd, address, length) == 0 ? 0 : -1;
}

long Answer(ssize_t n) {
  if (n >= 0) return static_cast<long>(n);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? kSocketWouldBlock
                                                                   : kSocketFailed;
}

long ReceiveFrom(void*, int fd, void* buffer, size_t size, sockaddr* from, socklen_t* fromLength) {
  return Answer(::recvfrom(fd, buffer, size, 0, from, fromLength));
}

long SendTo(void*, int fd, const void* data, size_t size, const sockaddr* to, socklen_t toLength) {
  return Answer(::sendto(fd, data, size, 0, to, toLength));
}

void Close(void*, int fd) { ::close(fd); }

void Poll(void*, SocketPollEntry* entries, uint32_t count) {
  constexpr uint32_t kBatch = 64;
  for (uint32_t first = 0; first < count; first += kBatch) {
    pollfd fds[kBatch];
    const uint32_t n = count - first < kBatch ? count - first : kBatch;
    for (uint32_t i = 0; i < n; ++i) {
      const SocketPollEntry& e = entries[first + i];
      fds[i] = {e.fd, static_cast<short>((e.wantRead ? POLLIN : 0) | (e.wantWrite ? POLLOUT : 0)),
                0};
    }
    const bool ok = ::poll(fds, n, 0) >= 0;
    for (uint32_t i = 0; i < n; ++i) {
      SocketPollEntry& e = entries[first + i];
      // An error or hang-up is "ready": the call itself then tells what failed.
      const short bad = ok ? fds[i].revents & (POLLERR | POLLHUP | POLLNVAL) : 0;
      e.readable = ok && e.wantRead && ((fds[i].revents & POLLIN) || bad);
      e.writable = ok && e.wantWrite && ((fds[i].revents & POLLOUT) || bad);
    }
  }
}

constexpr PlatformSocketOps kPosix = {nullptr, Open, Bind, ReceiveFrom, SendTo, Close, Poll};
const PlatformSocketOps* gOps = &kPosix;

}  // namespace

const PlatformSocketOps* PlatformSocketsInstall(const PlatformSocketOps* ops) {
  const PlatformSocketOps* old = gOps;
  gOps = ops ? ops : &kPosix;
  return old;
}

const PlatformSocketOps& PlatformSockets() { return *gOps; }
