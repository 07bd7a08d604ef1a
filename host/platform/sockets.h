// The host's sockets as the engine's socket layer uses them: non-blocking
// descriptors, polled without waiting. The default operations are POSIX;
// tests install their own to make any call fail.
#pragma once
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

constexpr int kSocketReceiveBuffer = 4 << 20;

// Answers of receive and send besides a byte count.
constexpr long kSocketWouldBlock = -1;  // nothing to read, or no room to write
constexpr long kSocketFailed = -2;

// One descriptor of a poll: what the layer waits for, and what is ready.
struct SocketPollEntry {
  int fd;
  bool wantRead, wantWrite;
  bool readable, writable;
};

struct PlatformSocketOps {
  void* ctx;
  // A non-blocking stream or datagram socket, dual-stack IPv6 where the host
  // has it (then *family is AF_INET6), IPv4 otherwise; -1 when none opens.
  // A datagram socket asks for a receive buffer of kSocketReceiveBuffer
  // bytes (a burst waits there while the engine is busy) and takes what the
  // system grants, and has the system count the datagrams it drops.
  int (*open)(void* ctx, bool stream, int* family);
  // 0, or -1 when the address cannot be bound.
  int (*bind)(void* ctx, int fd, const sockaddr* address, socklen_t length);
  // One datagram; *dropped, when given, is set to the count of datagrams the
  // system has dropped at this socket so far (its receive buffer full), as
  // far as this answer tells, and left as it was when it tells nothing.
  long (*receiveFrom)(void* ctx, int fd, void* buffer, size_t size, sockaddr* from,
                      socklen_t* fromLength, uint32_t* dropped);
  long (*sendTo)(void* ctx, int fd, const void* data, size_t size, const sockaddr* to,
                 socklen_t toLength);
  void (*close)(void* ctx, int fd);
  // Marks the ready ones without waiting; on failure marks none.
  void (*poll)(void* ctx, SocketPollEntry* entries, uint32_t count);
};

// Installs a set of operations (null restores POSIX); returns the old one.
const PlatformSocketOps* PlatformSocketsInstall(const PlatformSocketOps* ops);
const PlatformSocketOps& PlatformSockets();
