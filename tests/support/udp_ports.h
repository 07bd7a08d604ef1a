// UDP sockets for tests that need real ones: ports are whatever the system
// hands out as free at the time, so that a test never depends on a fixed port
// (an emulator running beside the tests holds the usual ones).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// `count` distinct ports free for UDP over IPv4 and IPv6 alike; an empty list
// when the system gives none.
std::vector<uint16_t> FreeUdpPorts(int count);

// A socket on IPv4 loopback bound to `port` (0: any) whose receives give up
// after `waitMs`; -1 when the port cannot be bound.
int LoopbackUdpSocket(uint16_t port, int waitMs = 1);
// Sends `bytes` from `fd` to `port` on IPv4 loopback.
void SendToLoopback(int fd, uint16_t port, const std::string& bytes);
// One datagram, or an empty text when none came within the socket's wait.
std::string ReceiveDatagram(int fd);
// Holds `port` for IPv4 and IPv6 alike, as the SMS bridge binds it; -1 when
// that fails. The caller closes it.
int HoldUdpPort(uint16_t port);
