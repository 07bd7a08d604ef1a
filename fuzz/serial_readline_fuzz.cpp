// Whatever a modem or phone sends lands in the receive ring: from any ring
// contents and any place in it, taking lines must stay inside the ring and
// the line buffer and must drain the ring without stalling. Each line then
// goes where the dialogues send it: the modem's failure code and the phone's
// PDU decoder (with the length a "+CMT:" line before it announced); the
// dialogues themselves are fuzzed whole over a terminal by serial_dialogue.
//
// Input: 2 bytes of read position, 2 bytes of fill level, then ring bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "host/modem.h"
#include "host/serial.h"
#include "host/sms.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  SmsSetConsoleTrace(false);
  SerialPort port;
  std::memset(&port, 0, sizeof port);
  port.fd = -1;
  const uint32_t start = static_cast<uint32_t>(data[0] | data[1] << 8) * 977u;
  const uint32_t fill = static_cast<uint32_t>(data[2] | data[3] << 8) % (kSerialRingSize + 1);
  for (uint32_t i = 0; i < kSerialRingSize; ++i)
    port.ring[i] = 4 + i < size ? data[4 + i] : static_cast<uint8_t>(i);
  port.readCount = start;  // counters wrap freely
  port.writeCount = start + fill;

  char line[kSerialLineSize];
  for (int taken = 0; taken <= static_cast<int>(kSerialRingSize); ++taken) {
    const uint32_t available = SerialAvailable(&port);
    char* end = SerialReadLine(&port, line);
    if (SerialAvailable(&port) > available) std::abort();
    if (!end) break;
    if (end < line || end - line > static_cast<long>(kSerialRingSize) || *end != 0) std::abort();
    if (std::strlen(line) != static_cast<size_t>(end - line)) std::abort();
    const uint32_t code = ModemFailureCode(line);
    if (code != 0x8000 && code != 0x8001) std::abort();
    SmsRelease(nullptr, SmsDecodePdu(line, static_cast<uint32_t>(end - line) / 2 - data[0] % 8), 0);
  }
  // What is left is at most one partial line without an ending.
  if (SerialAvailable(&port) == kSerialRingSize) std::abort();
  uint8_t rest[kSerialRingSize];
  if (SerialRead(&port, rest, sizeof rest) > kSerialRingSize) std::abort();
  if (SerialAvailable(&port) != 0) std::abort();
  return 0;
}
