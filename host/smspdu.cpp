// The PDU coding of short messages (GSM 03.40): SMS-DELIVER in, SMS-SUBMIT
// out, as the phone's AT interface carries them in PDU mode.
#include <cstring>

#include "host/platform/files.h"
#include "host/platform/say.h"
#include "host/sms.h"
#include "kernel/libc.h"
#include "net/netbuf.h"

namespace {

constexpr uint32_t kAddressSpace = 32;
constexpr uint32_t kDataSpace = 448;
constexpr uint32_t kMaxAnnounced = 255;
constexpr uint32_t kMaxNumberDigits = 20;
constexpr uint32_t kMaxUserData = 140;
constexpr char kSemiOctets[] = "0123456789*#abcX";

// The serial record: one zeroed block holding the record and its text.
struct SmsSerialBlock {
  SmsReceived record;
  char address[kAddressSpace];
  uint8_t data[kDataSpace];
};

// Reads the octets of a hexadecimal text one by one, refusing to run past
// the octets it holds.
struct OctetReader {
  const char* hex;
  uint32_t count;  // octets in the text
  uint32_t at;
  bool bad;

  uint8_t Next() {
    if (at >= count) {
      bad = true;
      return 0;
    }
    int high = LibcHexDigit(hex[2 * at]), low = LibcHexDigit(hex[2 * at + 1]);
    ++at;
    if (high < 0 || low < 0) {
      bad = true;
      return 0;
    }
    return static_cast<uint8_t>(high << 4 | low);
  }
  void Skip(uint32_t n) {
    for (uint32_t i = 0; i < n && !bad; ++i) Next();
  }
  uint32_t Left() const { return count - at; }
};

// `digits` semi-octet digits, low nibble first; a high nibble of 0xF ends
// the number wherever it comes (the octets of the field are still read). At
// most `room` - 1 characters are kept and the text is terminated.
void ReadDigits(OctetReader& in, uint32_t digits, char* out, uint32_t room, uint32_t* length) {
  uint32_t n = *length;
  bool ended = false;
  for (uint32_t i = 0; i < (digits + 1) / 2; ++i) {
    uint8_t octet = in.Next();
    if (ended) continue;
    uint8_t low = octet & 0xF, high = octet >> 4;
    if (n + 1 < room) out[n++] = kSemiOctets[low];
    if (high == 0xF) ended = true;
    else if (2 * i + 1 < digits && n + 1 < room) out[n++] = kSemiOctets[high];
  }
  out[n] = 0;
  *length = n;
}

}  // namespace

SmsReceived* SmsDecodePdu(const char* hex, uint32_t announced) {
  if (!hex || announced > kMaxAnnounced) return nullptr;
  const size_t textLength = std::strlen(hex);
  OctetReader in{hex, static_cast<uint32_t>(textLength / 2), 0, false};
  const uint32_t sc = in.Next();
  if (in.bad || sc >= 32 || textLength != (announced + 1 + sc) * 2) return nullptr;

  // The service centre, for the console only.
  char centre[kAddressSpace + 1];
  uint32_t centreLength = 0;
  if (sc > 0) {
    if (in.Next() == 0x91) centre[centreLength++] = '+';
    ReadDigits(in, (sc - 1) * 2, centre, sizeof centre, &centreLength);
  } else {
    centre[0] = 0;
  }
  if (SmsConsoleTraceOn()) PlatformSayOut("SC: %s\n", centre);

  auto* block = static_cast<SmsSerialBlock*>(PlatformAlloc(sizeof(SmsSerialBlock)));
  if (!block) return nullptr;
  std::memset(block, 0, sizeof *block);
  SmsReceived* record = &block->record;
  record->kind = 2;
  record->origin = SmsOrigin::Serial;
  record->address = block->address;
  record->data = block->data;

  const uint8_t first = in.Next();
  const uint32_t digits = in.Next();
  if (digits >= 32) in.bad = true;
  uint32_t addressLength = 0;
  if (!in.bad && in.Next() == 0x91) block->address[addressLength++] = '+';
  if (!in.bad) ReadDigits(in, digits, block->address, kAddressSpace, &addressLength);
  record->addressLength = static_cast<uint8_t>(addressLength);

  in.Skip(1);  // protocol identifier
  const uint8_t coding = in.Next();
  in.Skip(7);  // time stamp
  const uint32_t userLength = in.Next();
  const bool septets = coding < 0xF4;
  // The octets the user data needs must all be there.
  const uint32_t needed = septets ? (userLength * 7 + 7) / 8 : userLength;
  if (in.bad || userLength > 160 || needed > in.Left()) {
    PlatformFree(block);
    return nullptr;
  }
  record->dataLength = static_cast<uint8_t>(userLength);
  const uint32_t dataStart = in.at;
  if (first & 0x40) {
    // The header's length octet is the first octet of the user data; the
    // header must lie inside it.
    uint32_t header = needed > 0 ? in.Next() + 1u : 0u;
    in.at = dataStart;
    if (header == 0 || header > needed) {
      PlatformFree(block);
      return nullptr;
    }
    record->headerLength = static_cast<uint8_t>(header);
  }

  if (septets) {
    uint32_t n = 0;
    uint8_t previous = 0;
    for (uint32_t i = 0; n < userLength; ++i) {
      uint8_t octet = in.Next();
      uint32_t k = i % 7;
      block->data[n++] = static_cast<uint8_t>(((octet << k) | (previous >> (8 - k))) & 0x7F);
      if (k == 6 && n < userLength) block->data[n++] = octet >> 1;
      previous = octet;
    }
  } else {
    for (uint32_t i = 0; i < userLength; ++i) block->data[i] = in.Next();
  }
  // A character that is no hexadecimal digit spoils the PDU, wherever it is.
  if (in.bad) {
    PlatformFree(block);
    return nullptr;
  }
  return record;
}

uint32_t SmsEncodeNumber(const char* number, uint8_t* out, uint32_t* digits) {
  *digits = 0;
  if (!number) return 0;
  const char* p = number;
  const uint8_t type = *p == '+' ? 0x91 : 0x81;
  if (*p == '+') ++p;
  uint32_t written = 1;
  uint32_t n = 0;
  for (; *p && n < kMaxNumberDigits; ++p) {
    if (*p < '0' || *p > '9') continue;
    uint8_t digit = static_cast<uint8_t>(*p - '0');
    if (n % 2 == 0) {
      out[written] = static_cast<uint8_t>(0xF0 | digit);  // filler until a second digit comes
    } else {
      out[written] = static_cast<uint8_t>((out[written] & 0x0F) | digit << 4);
      ++written;
    }
    ++n;
  }
  if (n == 0) return 0;
  if (n % 2) ++written;
  out[0] = type;
  *digits = n;
  return written;
}

uint32_t SmsEncodeSubmit(const SmsOutgoing* message, const char* centre, uint32_t dataOffset,
                         uint32_t dataLength, uint32_t headerOffset, uint32_t headerLength,
                         const uint8_t* portElement, uint8_t* pdu, uint32_t* scLength) {
  const uint32_t portBytes = portElement ? 6 : 0;
  const uint32_t userLength = dataLength + headerLength + portBytes;
  if (userLength > kMaxUserData || (headerLength > 0 && headerLength - 1 + portBytes > 255))
    return 0;
  uint32_t at = 0;
  uint32_t digits = 0;
  uint32_t centreOctets = centre ? SmsEncodeNumber(centre, pdu + 1, &digits) : 0;
  pdu[at++] = static_cast<uint8_t>(centreOctets);
  at += centreOctets;
  *scLength = at;

  uint8_t first = 0x01;
  if (message->headerPresent) first |= 0x40;
  if (message->validity) first |= 0x10;
  pdu[at++] = first;
  pdu[at++] = 0;  // message reference
  uint32_t destinationOctets = SmsEncodeNumber(message->destination, pdu + at + 1, &digits);
  pdu[at++] = static_cast<uint8_t>(digits);
  if (destinationOctets == 0) pdu[at++] = 0x81;  // no digits: the type alone
  at += destinationOctets;
  pdu[at++] = 0;     // protocol identifier
  pdu[at++] = 0xF7;  // 8-bit data
  if (message->validity) {
    uint32_t v = message->validity / 300;
    pdu[at++] = static_cast<uint8_t>(v < 145 ? (v == 0 ? 0 : v - 1) : 0xA7);
  }
  pdu[at++] = static_cast<uint8_t>(userLength);
  if (headerLength > 0) {
    if (NetBufRead(message->data, pdu + at, headerOffset, headerLength) != headerLength) return 0;
    pdu[at] = static_cast<uint8_t>(headerLength - 1 + portBytes);
    at += headerLength;
  }
  if (portElement) {
    std::memcpy(pdu + at, portElement, 6);
    at += 6;
  }
  if (NetBufRead(message->data, pdu + at, dataOffset, dataLength) != dataLength) return 0;
  return at + dataLength;
}
