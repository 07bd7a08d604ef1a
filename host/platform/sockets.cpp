#include "host/platform/sockets.h"

#include <errno.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Either is only asked for: a system that refuses keeps its default buffer,
// and one that does not count leaves the count at 0. The system caps the
// buffer at what it allows (net.core.rmem_max on Linux).
void AskForDatagramRoom(int fd) {
  int bytes = kSocketReceiveBuffer;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
}

int Open(void*, bool stream, int* family) {
  const int kind = (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
  int fd = ::socket(AF_INET6, kind, 0);
  if (fd >= 0) {
    // IPv4 peers arrive as mapped addresses on the same socket.
    int off = 0;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    *family = AF_INET6;
  } else {
    *family = AF_INET;
    fd = ::socket(AF_INET, kind, 0);
  }
  if (fd >= 0 && !stream) AskForDatagramRoom(fd);
  return fd;
}

int Bind(void*, int fd, const sockaddr* address, socklen_t length) {
  return ::bind(fd, address, length) == 0 ? 0 : -1;
}

long Answer(ssize_t n) {
  if (n >= 0) return static_cast<long>(n);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? kSocketWouldBlock
                                                                   : kSocketFailed;
}

// The socket's line in the system's tables of UDP sockets, found by its
// inode: its last column is the count of datagrams dropped.
bool DroppedInTable(const char* table, unsigned long inode, uint32_t* dropped) {
  FILE* f = std::fopen(table, "re");
  if (!f) return false;
  char line[512];
  bool found = false;
  while (!found && std::fgets(line, sizeof line, f)) {
    unsigned long fields[13] = {};
    int n = 0;
    for (char* at = line; *at && n < 13;) {
      while (*at == ' ') ++at;
      if (!*at || *at == '\n') break;
      char* end = at;
      fields[n++] = std::strtoul(at, &end, 10);
      while (*end && *end != ' ' && *end != '\n') ++end;
      at = end;
    }
    if (n == 13 && fields[9] == inode) {
      *dropped = static_cast<uint32_t>(fields[12]);
      found = true;
    }
  }
  std::fclose(f);
  return found;
}

// The count the system keeps for the socket now. A datagram carries the
// count as it was when the datagram was queued, so the drops after the last
// one queued are learnt here, once the socket is found empty: from the
// system's table (the socket option that also tells it reads 0 on some
// kernels), or else from that option.
void DroppedNow(int fd, uint32_t* dropped) {
  struct stat self {};
  if (::fstat(fd, &self) == 0 && (DroppedInTable("/proc/net/udp6", self.st_ino, dropped) ||
                                  DroppedInTable("/proc/net/udp", self.st_ino, dropped)))
    return;
  uint32_t memory[SK_MEMINFO_VARS] = {};
  socklen_t length = sizeof memory;
  if (::getsockopt(fd, SOL_SOCKET, SO_MEMINFO, memory, &length) == 0 &&
      length > SK_MEMINFO_DROPS * sizeof(uint32_t))
    *dropped = memory[SK_MEMINFO_DROPS];
}

long ReceiveFrom(void*, int fd, void* buffer, size_t size, sockaddr* from, socklen_t* fromLength,
                 uint32_t* dropped) {
  iovec part{buffer, size};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(uint32_t))];
  msghdr message{};
  message.msg_name = from;
  message.msg_namelen = fromLength ? *fromLength : 0;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t n = ::recvmsg(fd, &message, 0);
  const long answer = Answer(n);
  if (n >= 0) {
    if (fromLength) *fromLength = message.msg_namelen;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c && dropped; c = CMSG_NXTHDR(&message, c))
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL &&
          c->cmsg_len >= CMSG_LEN(sizeof(uint32_t)))  // a cut-short one tells nothing
        std::memcpy(dropped, CMSG_DATA(c), sizeof(uint32_t));
  } else if (answer == kSocketWouldBlock && dropped) {
    DroppedNow(fd, dropped);
  }
  return answer;
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
