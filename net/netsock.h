// The socket layer (module 23): non-blocking datagram and stream sockets of
// the host, driven by requests that answer with events of this module.
//
// Engine records carry addresses in one 28-byte layout of family 23 (the
// IPv6 layout, IPv4 held as ::ffff:a.b.c.d); the layer translates it to the
// host's IPv6 family at the system call, or to IPv4 where the host has no
// IPv6. Queued requests are served by a zero-timeout select run from an
// engine timer every 50 ms while any request waits.
#pragma once
#include <cstdint>

#include "kernel/modules.h"
#include "net/netbuf.h"

struct TskmanTask;

constexpr uint16_t kNetFamily = 23;
constexpr uint32_t kNetSockAddrSize = 28;
constexpr uint32_t kNetStream = 1, kNetDatagram = 2;
constexpr uint32_t kNetTcp = 6, kNetUdp = 17;

// Stored field by field; port in network order.
struct NetSockAddr {
  uint16_t family;
  uint16_t port;
  uint32_t flowInfo;
  uint8_t address[16];
  uint32_t scopeId;
};
static_assert(sizeof(NetSockAddr) == kNetSockAddrSize);

// Answer events; the failure form adds kMsgFailed and carries the error in
// arg2. Every socket event carries the caller's cookie in arg1.
namespace NetMsg {
constexpr uint32_t Started = Msg(Mod::Net, 0x00), StartFailed = Msg(Mod::Net, 0x80), Stopped = Msg(Mod::Net, 0x01), Cancelled = Msg(Mod::Net, 0x02), Created = Msg(Mod::Net, 0x03),
                   Closed = Msg(Mod::Net, 0x04), Bound = Msg(Mod::Net, 0x05), Sent = Msg(Mod::Net, 0x0A), Received = Msg(Mod::Net, 0x0C);
// (cookie, count): the system dropped that many more datagrams at the
// socket, its receive buffer full; posted to the receive being served,
// before its own answer.
constexpr uint32_t Dropped = Msg(Mod::Net, 0x0D);
}

constexpr Result kNetNoMemory = ResultError(Mod::Net, Err::NoMemory);
constexpr Result kNetBadArg = ResultError(Mod::Net, Err::BadArg);
constexpr Result kNetBadFamily = ResultError(Mod::Net, 0x8000);
constexpr Result kNetCancelled = ResultError(Mod::Net, 0x8001);  // a request removed by NetCancelSocket or a close
constexpr Result kNetNoSocket = ResultError(Mod::Net, 0x8002);   // no open socket of that handle
constexpr Result kNetSystem = ResultError(Mod::Net, 0x8003);     // the host's socket call failed
constexpr Result kNetNotStarted = ResultError(Mod::Net, 0x8004);
constexpr Result kNetBadText = ResultError(Mod::Net, 0x8005);
constexpr Result kNetTooMany = ResultError(Mod::Net, 0x8006);    // every socket slot is in use
constexpr Result kNetEmpty = ResultError(Mod::Net, 0x8007);      // no datagram waits (kNetRecvNoWait)

// Starts the layer (its task, module 23) and posts Started to the requester;
// when it already runs, only posts. A non-zero result means no answer comes.
Result NetStartup(TskmanTask* requester, uintptr_t unused);
// Closes every socket (their requests are dropped without answers), stops
// the layer and posts Stopped to the requester.
void NetCleanup(TskmanTask* requester, uintptr_t unused);

// Posts Created (cookie, socket handle) or its failure (cookie, error).
Result NetSocketCreate(TskmanTask* caller, uintptr_t cookie, uint32_t family, uint32_t type,
                       uint32_t protocol);
// Posts Bound (cookie) or its failure (cookie, error).
Result NetBind(TskmanTask* caller, uintptr_t cookie, uintptr_t socket, const NetSockAddr* address,
               uint32_t addressLength);
// Queues one datagram receive. On arrival the datagram becomes a new chain
// stored through *chain, the sender is written to *from (at least 28 bytes,
// *fromLength set to 28) and Received (cookie, byte count) is posted.
// With kNetRecvNoWait in flags the receive is served at once, ahead of any
// queued one, and asks nothing of the heap: with the datagram that waits,
// its failure kNetNoMemory when the heap cannot hold it (the datagram is
// gone), or kNetEmpty when none waits.
Result NetRecvFrom(TskmanTask* caller, uintptr_t cookie, uintptr_t socket, NetBufChain** chain,
                   uint32_t flags, NetSockAddr* from, uint32_t* fromLength);
constexpr uint32_t kNetRecvNoWait = 1;
// Queues one datagram to the address; the chain is consumed whatever happens.
// Posts Sent (cookie) or its failure (cookie, error); 0 when queued.
Result NetSendTo(TskmanTask* caller, uintptr_t cookie, uintptr_t socket, NetBufChain* chain,
                 const NetSockAddr* address, uint32_t addressLength);
// Removes every queued request of the socket, each posting its failure event
// with kNetCancelled, then posts Cancelled (cookie).
Result NetCancelSocket(TskmanTask* caller, uintptr_t cookie, uintptr_t socket);
// Queues the close; posts Closed (cookie, datagrams that waited unread and
// went with the socket) when closed, its failure otherwise; the system's
// drops not yet told of come first as Dropped.
Result NetClose(TskmanTask* caller, uintptr_t cookie, uintptr_t socket);

// Dotted IPv4 text to an IPv4-mapped address of family 23; the port is left
// as it was.
Result NetAddrFromText(const char* text, uint32_t family, NetSockAddr* address, uint32_t length);
constexpr uint16_t NetSwap16(uint16_t value) {
  return static_cast<uint16_t>(value << 8 | value >> 8);
}
