// The SMS datagram bridge (module 56): short messages reach the emulator,
// and leave it, as UDP datagrams exchanged with a peer program. The bridge
// owns one datagram socket bound to port 12345 of the loopback address and
// sends to port 12346 (other ports and another address when the host sets
// them). Loopback by default, since whoever reaches the socket can push
// anything to the handset, provisioning documents included.
//
// Its start is a step of the engine's start-up: it reports host state 6 when
// its socket is bound (the browser phase may start) and 7 when it has
// stopped or could not start (the services phase stops).
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct NetBufChain;
struct SmsOutgoing;
struct SmsPort;
struct SmsReceived;

constexpr uint16_t kSmsBridgePort = 12345;
constexpr uint16_t kSmsPeerPort = 12346;
// The ports the next start binds and the next sends go to (host order); a 0
// keeps the port as it is. Set from qor.ini, so that a second emulator or a
// test can run beside one that holds the usual ports.
void SmsBridgeSetPorts(uint16_t local, uint16_t peer);
uint16_t SmsBridgeLocalPort();
uint16_t SmsBridgePeerPort();
constexpr const char* kSmsBridgeAddress = "127.0.0.1";
// The dotted address the next start binds; false, and the address kept,
// for text that is no dotted address. Null restores the loopback address.
bool SmsBridgeSetAddress(const char* dotted);
const char* SmsBridgeAddress();
// The cookies of the bridge's socket requests.
constexpr uintptr_t kSmsBridgeCookie = 0x3805;
constexpr uintptr_t kSmsBridgeStopCookie = 0x3806;
constexpr uintptr_t kSmsBridgeSendCookie = 0x3807;

// Datagram layout: type (2), kind, address length A, header length H, the
// address (A bytes; a sent one ends in its zero), then the body.
constexpr uint32_t kSmsDatagramHead = 4;

// Starts the bridge task; it reports state 6 to the host when it is up, and
// state 7 with the failure's result when its socket cannot be made or bound.
void SmsBridgeStart(void* host);
// Stops the bridge; it reports state 7 when it has stopped. Nothing when the
// bridge is not running; a second stop is ignored.
void SmsBridgeStop();
Result SmsBridgeHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);

// Queues the message as a datagram to the peer (dotted text; null means
// 127.0.0.1) on port 12346. Only messages of type 2 are sent; the outcome
// reaches the Sms task as 0x3802.
void SmsBridgeSend(SmsPort* handle, const SmsOutgoing* message, const char* peer,
                   uint32_t dataOffset, uint32_t dataLength, uint32_t headerOffset,
                   uint32_t headerLength, const uint8_t* portElement);

// A received datagram as a record of the bridge's kind (engine memory,
// module 56), or null when it is no short message or does not hold what
// its head announces; `noMemory`, when given, is set when the heap could not
// take the record of a datagram that is a short message.
SmsReceived* SmsBridgeDecode(const NetBufChain* datagram, bool* noMemory = nullptr);
