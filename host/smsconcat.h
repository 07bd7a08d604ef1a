// The application port and the segment of a received short message, and the
// least reassembly of segmented messages that push delivery needs (the
// engine's SMS routing keeps its own for the messages it routes).
//
// Two codings are read:
// - The bridge's port form (kind 2, first header byte 0): header byte 1 the
//   number of segments, byte 2 the segment's number less one; the datagram's
//   port is the message's reference when it has segments. The destination
//   port is header bytes 3-4 (big-endian) when the header holds them and
//   they are not zero (the bridge's own sends leave them zero), else the
//   datagram's port.
// - A standard user-data header (its first byte its own length): element 0
//   (8-bit reference) or 8 (16-bit reference) for segments, element 5
//   (16-bit ports) or 4 (8-bit ports) for the destination port.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct SmsReceived;

struct SmsAddressing {
  uint8_t hasPort;
  uint16_t port;       // destination application port
  uint16_t reference;  // of a segmented message
  uint8_t total;       // segments; 0 or 1: a message of its own
  uint8_t sequence;    // from 1
};

void SmsReadAddressing(const SmsReceived* message, SmsAddressing* out);

// Messages being reassembled, one record per sender and reference.
struct SmsConcat;

constexpr int32_t kSmsConcatLifetime = 60;  // ageing passes a message waits for its rest

// Keeps one segment's payload (the data after the user-data header). When it
// completes its message, *whole gets the payloads in order (engine memory,
// module 3, for the caller to free) and *wholeLength their length, and the
// record goes. A repeated segment is dropped; every segment renews its
// message's lifetime. kOk; ResultError(Sms, BadArg) for a sequence outside
// 1..total; ResultError(Sms, NoMemory) (the segment dropped).
Result SmsConcatAdd(SmsConcat** list, const char* sender, uint16_t reference, uint8_t total,
                    uint8_t sequence, const uint8_t* payload, uint32_t length, uint8_t** whole,
                    uint32_t* wholeLength);
// One ageing pass: every message's lifetime drops by one, and those that
// reach 0 are dropped. The number of messages left.
uint32_t SmsConcatAge(SmsConcat** list);
uint32_t SmsConcatCount(const SmsConcat* list);
void SmsConcatFreeAll(SmsConcat** list);
