// UDP ports for tests that need real sockets: whatever the system hands out
// as free at the time, so that a test never depends on a fixed port (an
// emulator running beside the tests holds the usual ones).
#pragma once
#include <cstdint>
#include <vector>

// `count` distinct ports free for UDP over IPv4 and IPv6 alike; an empty list
// when the system gives none.
std::vector<uint16_t> FreeUdpPorts(int count);
