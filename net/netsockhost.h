// Inside the socket layer: the translation between the engine's address
// layout and the host's socket addresses.
#pragma once
#include <netinet/in.h>
#include <sys/socket.h>

#include "net/netsock.h"

// False when the address cannot be expressed in the host family (a family
// other than 23, or a true IPv6 address on an IPv4-only host).
bool NetToHost(const NetSockAddr& in, int hostFamily, sockaddr_storage* out, socklen_t* outLength);
// False for a host family other than IPv4 and IPv6.
bool NetFromHost(const sockaddr_storage& in, NetSockAddr* out);
