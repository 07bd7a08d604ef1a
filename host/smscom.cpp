// Short messages through a phone on a serial port (AT commands in PDU mode),
// and the dispatch that picks the phone or the datagram bridge per message.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/ini.h"
#include "host/platform/files.h"
#include "host/platform/say.h"
#include "host/serial.h"
#include "host/sms.h"
#include "host/smsbridge.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"

struct SmsPort {
  SerialPort* port;
  TskmanTask* engineTask;
  int32_t step;
  uint32_t pendingLength;  // octets announced by "+CMT:"; 0: none
  uint8_t pdu[kSmsPduSize];
  uint32_t pduLength;
};

namespace {

SmsPort gSms;
bool gConsole = true;

void Write(const char* text) {
  SerialWrite(gSms.port, text, static_cast<uint32_t>(std::strlen(text)));
}

void DeliverPdu(const char* line) {
  SmsReceived* record = SmsDecodePdu(line, gSms.pendingLength);
  gSms.pendingLength = 0;
  if (record) SmsDeliver(record);
}

void OnLine(const char* line) {
  if (LibcStrNICmp(line, "+CMT:", 5) == 0) {
    const char* comma = std::strchr(line, ',');
    gSms.pendingLength = comma ? static_cast<uint32_t>(LibcAtoI(comma + 1)) : 0;
    if (gConsole) PlatformSayOut("Got SMS Len %d\n", static_cast<int>(gSms.pendingLength));
    char next[kSerialLineSize];
    if (gSms.pendingLength && SerialReadLine(gSms.port, next)) DeliverPdu(next);
    return;
  }
  if (gSms.pendingLength) {
    DeliverPdu(line);
    return;
  }
  switch (gSms.step) {
    case SmsComStep::AwaitPduMode:
      if (std::strcmp(line, "OK") == 0) {
        Write("AT+CSMS=0\r");
        gSms.step = SmsComStep::AwaitService;
      }
      break;
    case SmsComStep::AwaitService:
      if (std::strcmp(line, "OK") == 0) {
        Write("AT+CNMI=2,2\r");
        gSms.step = SmsComStep::AwaitIndication;
      }
      break;
    case SmsComStep::AwaitIndication:
      gSms.step = SmsComStep::Ready;
      break;
    case SmsComStep::AwaitPrompt:
      if (line[0] == '>') {
        SerialWriteHex(gSms.port, gSms.pdu, gSms.pduLength);
        SerialWrite(gSms.port, "\x1A", 1);
        SerialSleep(200);
        Write("\r");
        gSms.step = SmsComStep::AwaitSendResult;
      }
      break;
    case SmsComStep::AwaitSendResult:
      if (std::strstr(line, "ERROR")) {
        SmsPostSendResult(1);
        gSms.step = SmsComStep::Ready;
      } else if (std::strncmp(line, "+CMGS", 5) == 0) {
        SmsPostSendResult(0);
        gSms.step = SmsComStep::Ready;
      }
      break;
    default:
      break;
  }
}

}  // namespace

void SmsDeliver(SmsReceived* record) {
  if (TskmanTask* sms = TskmanFind(Mod::Sms)) {
    TskmanPost(sms, SmsMsg::Received, reinterpret_cast<uintptr_t>(record), 0);
    return;
  }
  // Nobody would ever free it.
  SmsRelease(&gSms, record, 0);
}

void SmsPostSendResult(uintptr_t result) {
  // A null target would reach every task.
  if (TskmanTask* sms = TskmanFind(Mod::Sms)) TskmanPost(sms, SmsMsg::SendResult, result, 0);
}

Result SmsPortOpen(SmsPort** handle, TskmanTask* engineTask) {
  // The datagram side needs nothing; the phone is optional.
  SmsComOpen(handle, engineTask);
  return kOk;
}

void SmsPortClose(SmsPort*) {}

int SmsComOpen(SmsPort** handle, TskmanTask* engineTask) {
  return SmsComOpenIni(handle, engineTask, "modem.ini");
}

int SmsComOpenIni(SmsPort** handle, TskmanTask* engineTask, const std::string& iniPath) {
  SmsComClose();
  gSms = SmsPort{};
  gSms.engineTask = engineTask;
  *handle = &gSms;
  IniFile ini;
  ini.Load(iniPath);
  char name[256], speed[256];
  ini.GetString("sms", "port", "COM2", name, sizeof name);
  ini.GetString("sms", "speed", "115200", speed, sizeof speed);
  if (LibcStrICmp(name, "IP") == 0) return 0;
  gSms.port = SerialOpen(name, static_cast<uint32_t>(std::atoi(speed)));
  if (!gSms.port) return -1;
  SerialWrite(gSms.port, "\x1B\x1B\r\n", 4);
  SerialSleep(100);
  Write("AT+CMGF=0\r");  // PDU mode
  gSms.step = SmsComStep::AwaitPduMode;
  return 0;
}

void SmsComClose() {
  SerialClose(gSms.port);
  gSms.port = nullptr;
  gSms.step = SmsComStep::Ready;
  gSms.pendingLength = 0;
}

void SmsSetConsoleTrace(bool on) { gConsole = on; }
bool SmsConsoleTraceOn() { return gConsole; }

void SmsComPoll() {
  if (!gSms.port) return;
  SerialPoll(gSms.port);
  char line[kSerialLineSize];
  if (!SerialReadLine(gSms.port, line)) return;
  if (gConsole)
    PlatformSayOut("Com: <%s>\n %d...%d \n", line, static_cast<int>(gSms.port->readCount),
                   static_cast<int>(gSms.port->writeCount));
  OnLine(line);
}

int32_t SmsComState() { return gSms.step; }

bool SmsIsIpAddress(const char* text) {
  if (!text || !text[0]) return false;
  int dots = 0;
  for (const char* p = text + 1; *p; ++p) dots += *p == '.';
  return dots > 2;
}

void SmsSend(SmsPort* handle, const SmsOutgoing* message, const char* centre, uint32_t dataOffset,
             uint32_t dataLength, uint32_t headerOffset, uint32_t headerLength,
             const uint8_t* portElement) {
  if (centre && SmsIsIpAddress(centre))
    SmsBridgeSend(handle, message, centre, dataOffset, dataLength, headerOffset, headerLength,
                  portElement);
  else
    SmsComSend(message, centre, dataOffset, dataLength, headerOffset, headerLength, portElement);
}

void SmsComSend(const SmsOutgoing* message, const char* centre, uint32_t dataOffset,
                uint32_t dataLength, uint32_t headerOffset, uint32_t headerLength,
                const uint8_t* portElement) {
  if (!gSms.port || !message) return;
  uint32_t scLength = 0;
  uint32_t length = SmsEncodeSubmit(message, centre, dataOffset, dataLength, headerOffset,
                                    headerLength, portElement, gSms.pdu, &scLength);
  if (length == 0) {
    // Too long for one message: refused, and said so.
    SmsPostSendResult(ResultError(Mod::Sms, Err::BadArg));
    return;
  }
  gSms.pduLength = length;
  char command[24];
  std::snprintf(command, sizeof command, "AT+CMGS=%03u\r", length - scLength);
  Write(command);
  gSms.step = SmsComStep::AwaitPrompt;
}

void SmsRelease(SmsPort*, SmsReceived* record, uintptr_t) {
  if (!record) return;
  if (record->origin == SmsOrigin::Bridge) {
    MemFree(&record->address);
    MemFree(&record->data);
    MemFree(&record);
  } else if (record->origin == SmsOrigin::Serial) {
    PlatformFree(record);  // the record opens its block
  }
}
