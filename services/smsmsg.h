// The short-message records and messages shared by the engine's Sms module
// (id 3), the SMS service task that carries messages to and from the network
// side (the task of module 3), and the senders of text messages.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct NetBufChain;

constexpr uint32_t kSmsAddressSize = 20;  // 19 characters and the NUL

// A delivered message, or an outgoing text message (zeroed, module 3).
struct SmsMessage {
  char sender[kSmsAddressSize];  // outgoing: the destination address
  uint32_t kind;                 // 0 a text message; 2 the user-data header kept
  uint32_t cls;
  uint32_t source;
  uint8_t headerLength;  // 0 once the header has been cut off
  NetBufChain* data;     // the message bytes, the user-data header first
};

// A send request handed to the SMS service, which takes it over with its
// text and its message.
struct SmsSendRequestRec {
  char16_t* reference;  // owned; handed on to the requester with its answer
  uint32_t value;       // what a cancel names
  SmsMessage* message;
};

namespace SmsServiceMsg {
constexpr uint32_t Sent = Msg(Mod::Sms, 0x03);         // to the requester: {reference text}
constexpr uint32_t RequestOver = Msg(Mod::Sms, 0x04);  // to the requester: {}
constexpr uint32_t Delivered = Msg(Mod::Sms, 0x07);    // to an application: {SmsMessage*, 0}
constexpr uint32_t NotSent = Msg(Mod::Sms, 0x83);      // to the requester: {reference text, code}
constexpr uint32_t Send = Msg(Mod::Sms, 0x84);         // to the service: {requester, request}
constexpr uint32_t Cancel = Msg(Mod::Sms, 0x85);       // to the service: {requester, value}
}  // namespace SmsServiceMsg

constexpr Result kSmsRequestNoMemory = ResultError(Mod::Sms, Err::NoMemory);
constexpr Result kSmsRequestNoMessage = ResultError(Mod::Sms, Err::BadArg);
// The service stopped before the message could go.
constexpr Result kSmsServiceStopped = ResultError(Mod::Sms, 0x10);
