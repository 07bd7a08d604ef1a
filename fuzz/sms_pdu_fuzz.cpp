// PDU lines come from whatever phone hangs on the port: any text must decode
// to a record inside its block, or be refused.
//
// Input: one flag byte, then octets. Flag bit 0 announces the length that
// makes the line's size right (so the decoder goes past its first check);
// otherwise the second byte is the announced length. The octets are sent as
// hexadecimal, in lower case when flag bit 1 is set.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/sms.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  SmsSetConsoleTrace(false);
  const uint8_t flag = data[0];
  const uint8_t* octets = data + 1;
  size_t count = size - 1;
  uint32_t announced = 0;
  if (flag & 1) {
    uint32_t sc = octets[0];
    announced = count > sc + 1 ? static_cast<uint32_t>(count - 1 - sc) : 0;
  } else {
    announced = octets[0];
  }
  static const char kUpper[] = "0123456789ABCDEF", kLower[] = "0123456789abcdef";
  const char* digits = (flag & 2) ? kLower : kUpper;
  std::string hex;
  for (size_t i = 0; i < count; ++i) {
    hex += digits[octets[i] >> 4];
    hex += digits[octets[i] & 0xF];
  }
  SmsReceived* r = SmsDecodePdu(hex.c_str(), announced);
  if (r) {
    if (std::strlen(r->address) != r->addressLength || r->addressLength > 31) std::abort();
    if (r->headerLength > r->dataLength + 1u && r->dataLength > 0) std::abort();
    volatile uint8_t sum = 0;
    for (uint32_t i = 0; i < r->dataLength; ++i) sum = sum + r->data[i];
    SmsRelease(nullptr, r, 0);
  }
  return 0;
}
