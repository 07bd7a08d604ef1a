// Short messages for the engine's Sms module (id 3): the records exchanged
// with it, the PDU coding of the phone's AT interface, and the dispatch that
// sends each message over the serial phone or as a datagram (smsbridge.h).
//
// The Sms task is the SMS service (smsservice.h); without it a send's
// outcome goes nowhere and a received record is freed on the spot.
#pragma once
#include <cstdint>
#include <string>

#include "kernel/modules.h"

struct NetBufChain;
struct TskmanTask;

namespace SmsMsg {
constexpr uint32_t Received = Msg(Mod::SmsBridge, 0x00);    // (SmsReceived*, 0); the receiver owns the record
constexpr uint32_t SendResult = Msg(Mod::SmsBridge, 0x02);  // (0 sent, 1 the phone's "ERROR", else a result code)
constexpr uint32_t BridgeStop = Msg(Mod::SmsBridge, 0x03);
}
constexpr Result kSmsNoMemory = ResultError(Mod::SmsBridge, Err::NoMemory);

// Where a received record was built, so SmsRelease frees it the right way.
namespace SmsOrigin {
constexpr uint8_t Serial = 1, Bridge = 2;
}

struct SmsReceived {
  int32_t time;           // seconds since 1970 (datagrams only; 0 from the phone)
  uint32_t kind;          // 2 from the phone; the datagram's kind byte
  uint8_t addressLength;
  char* address;          // the originator, "+" first for an international number
  uint8_t dataLength;     // characters of 7-bit data, octets of 8-bit data
  uint8_t headerLength;   // the user-data header's length octet + 1, or 0
  uint8_t* data;          // one character or octet per byte
  uint8_t type;
  uint16_t port;          // host order
  uint8_t origin;
};

constexpr uint32_t kSmsNumberSize = 32;
// The Sms module's send record.
struct SmsOutgoing {
  char destination[kSmsNumberSize];
  uint32_t kind;        // 2: addressed to an application port
  uint32_t type;        // 2: a short message
  uint32_t validity;    // seconds; 0: none
  uint8_t headerPresent;
  NetBufChain* data;
};
namespace SmsKind {
constexpr uint32_t Port = 2;
}
namespace SmsType {
constexpr uint32_t Message = 2;
}

// The serial reader's states.
namespace SmsComStep {
constexpr int32_t Ready = 0, AwaitPduMode = 50, AwaitService = 51, AwaitIndication = 52,
                  AwaitPrompt = 100, AwaitSendResult = 101;
}

struct SmsPort;  // the serial phone's state; the handle of the functions below

// Prepares both ways; a serial port that cannot be opened is not reported.
Result SmsPortOpen(SmsPort** handle, TskmanTask* engineTask);
void SmsPortClose(SmsPort* handle);
// Section "sms" of modem.ini in the working folder (or the file named):
// "port" (default "COM2"; "IP" means datagrams only) and "speed".
int SmsComOpen(SmsPort** handle, TskmanTask* engineTask);
int SmsComOpenIni(SmsPort** handle, TskmanTask* engineTask, const std::string& iniPath);
// Closes the phone's port.
void SmsComClose();
// The reader step, meant for every pass of the main loop.
void SmsComPoll();
int32_t SmsComState();
// Prints the phone dialogue to the console (on by default).
void SmsSetConsoleTrace(bool on);
bool SmsConsoleTraceOn();

// Sends over the phone when the centre is absent or no dotted address,
// otherwise as a datagram to the centre. portElement: 6 bytes, or null.
void SmsSend(SmsPort* handle, const SmsOutgoing* message, const char* centre, uint32_t dataOffset,
             uint32_t dataLength, uint32_t headerOffset, uint32_t headerLength,
             const uint8_t* portElement);
void SmsComSend(const SmsOutgoing* message, const char* centre, uint32_t dataOffset,
                uint32_t dataLength, uint32_t headerOffset, uint32_t headerLength,
                const uint8_t* portElement);
// Frees a received record, whichever way it came.
void SmsRelease(SmsPort* handle, SmsReceived* record, uintptr_t unused);
bool SmsIsIpAddress(const char* text);
// Finds the Sms task and hands it a record; frees the record when there is
// no task to take it.
void SmsDeliver(SmsReceived* record);
// 0x3802 to the Sms task (nothing when there is none).
void SmsPostSendResult(uintptr_t result);

// An SMS-DELIVER PDU as hexadecimal text, after a "+CMT:" line announcing
// `announced` octets past the service-centre field: a record of the serial
// kind, or null when the text fails a check.
SmsReceived* SmsDecodePdu(const char* hex, uint32_t announced);
// The largest SMS-SUBMIT PDU kept for sending.
constexpr uint32_t kSmsPduSize = 256;
// An SMS-SUBMIT PDU with the service-centre field first; returns its length,
// or 0 when it does not fit (more than 140 user-data octets). *scLength gets
// the length of the service-centre field.
uint32_t SmsEncodeSubmit(const SmsOutgoing* message, const char* centre, uint32_t dataOffset,
                         uint32_t dataLength, uint32_t headerOffset, uint32_t headerLength,
                         const uint8_t* portElement, uint8_t* pdu, uint32_t* scLength);
// Type octet (0x91 for "+", else 0x81) and semi-octet digits; returns the
// octets written (0 for a number without digits) and the digit count.
uint32_t SmsEncodeNumber(const char* number, uint8_t* out, uint32_t* digits);
