// Push delivery: a WAP push that reaches the handset as a short message to
// application port 2948 carries a WSP push PDU (transaction id, PDU type
// 0x06, the length of its headers, the content type with its parameters,
// the headers, then the body). Delivery places the pushed object in the
// object cache under a local URL of its own, as a completed load with its
// headers, locked there until push reception has read it, and announces the
// URL to push reception (module 69) with 0x4500.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct UrlLoad;

constexpr uint16_t kWapPushPort = 2948;
constexpr uint8_t kWspPushPdu = 0x06;

constexpr Result kWapPushNoMemory = ResultError(Mod::Sms, Err::NoMemory);
constexpr Result kWapPushNotPush = ResultError(Mod::Sms, 0x20);     // another PDU type
constexpr Result kWapPushMalformed = ResultError(Mod::Sms, 0x21);   // cut short or badly coded
constexpr Result kWapPushNoReceiver = ResultError(Mod::Sms, 0x22);  // push reception is not running

// The scheme of pushed objects: "push:" sender "." serial number. The part
// before the last "." names the sender, which is what push reception's
// "PPG" keys are compared with.
inline constexpr char kWapPushScheme[] = "push";

struct WapPushInfo {
  uint8_t transactionId;
  uint32_t bodyOffset;  // into the PDU
  uint32_t bodyLength;
};

// Reads a push PDU onto the load: its content type (the load's type id, and
// a "Content-Type" header when the type has a name), every parameter of the
// content type as a header of the parameter's name in lower case ("sec",
// "mac", "charset", ...), then the PDU's headers with their values as text
// (integers in decimal). kWapPushNotPush, kWapPushMalformed, kWapPushNoMemory;
// the load keeps whatever it was given before the failure.
Result WapPushParse(const uint8_t* pdu, uint32_t length, UrlLoad* load, WapPushInfo* info);

// The names of the well-known codes (null for a code without one).
const char* WspContentTypeName(uint32_t code);
const char* WspHeaderName(uint32_t code);
const char* WspParameterName(uint32_t code);

// Places a whole push PDU from the sender and posts its URL to push
// reception. Dropped, with everything freed, when push reception does not
// take pushes (kWapPushNoReceiver: not running, saving at its stop, or ending
// after a failed start) or the PDU does not read.
Result WapPushPlace(const char* sender, const uint8_t* pdu, uint32_t length);
