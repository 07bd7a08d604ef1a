// The application port and the segment of a received short message, read
// from either of the codings a message may arrive in; the SMS service hands
// pushes to the engine's routing in one form by what is read here.
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
// Whether a message so addressed is a push: to the WAP push port.
bool SmsAddressingIsPush(const SmsAddressing& addressing);
