// The modem driver: settings from modem.ini, the AT dial and hang-up
// dialogue as a state machine stepped by the main loop, and the line events.
#include "host/modem.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host/ini.h"
#include "host/platform/shell.h"
#include "host/serial.h"
#include "kernel/tskman.h"

namespace {

constexpr size_t kValueSize = 256;  // each value at most 255 characters

struct ModemSettings {
  char port[kValueSize], speed[kValueSize], call[kValueSize], calld[kValueSize],
      callOk[kValueSize], hangup[kValueSize], hangupOk[kValueSize], error[4][kValueSize],
      ras[kValueSize], cable[kValueSize], timeout[kValueSize], guardTime[kValueSize],
      dtrHup[kValueSize], init[kValueSize], initOk[kValueSize], calldOk[kValueSize],
      close[kValueSize];
};

struct SettingRow {
  const char* key;
  const char* fallback;
  char* (*field)(ModemSettings&);
};

#define MODEM_FIELD(member) [](ModemSettings& s) -> char* { return s.member; }
const SettingRow kSettingRows[] = {
    {"port", "COM1", MODEM_FIELD(port)},
    {"speed", "115200", MODEM_FIELD(speed)},
    {"call", "ATD", MODEM_FIELD(call)},
    {"calld", "ATD", MODEM_FIELD(calld)},
    {"call_ok", "CONNECT", MODEM_FIELD(callOk)},
    {"hangup", "ATH", MODEM_FIELD(hangup)},
    {"hangup_ok", "OK", MODEM_FIELD(hangupOk)},
    {"error1", "NO CARRIER", MODEM_FIELD(error[0])},
    {"error2", "BUSY", MODEM_FIELD(error[1])},
    {"error3", "NO DIALTONE", MODEM_FIELD(error[2])},
    {"error4", "ERROR", MODEM_FIELD(error[3])},
    {"ras", "0", MODEM_FIELD(ras)},
    {"cable", "0", MODEM_FIELD(cable)},
    {"timeout", "40", MODEM_FIELD(timeout)},
    {"guardtime", "2", MODEM_FIELD(guardTime)},
    {"dtrhup", "1", MODEM_FIELD(dtrHup)},
    {"init", "AT", MODEM_FIELD(init)},
    {"init_ok", "OK", MODEM_FIELD(initOk)},
    {"calld_ok", "CONNECT", MODEM_FIELD(calldOk)},
    {"close", "0", MODEM_FIELD(close)},
};
#undef MODEM_FIELD

namespace Line {
constexpr uint32_t Connected = 1, DialFailed = 2;
}

}  // namespace

struct ModemState {
  SerialPort* port;
  int32_t step;
  uint32_t lines;
  uint32_t reported;
  uint32_t failure;
  int64_t answerDeadline;  // 0: none
  int64_t guardDeadline;
  bool hungUp, hangingUp, dataNotified, writeDone;
  TskmanTask* eventTask;
  uint32_t eventTaskId;
  ModemSettings settings;
};

namespace {

ModemState gModem;
std::string gOpenFailure;  // of the last open

struct FailureRow {
  const char* word;
  uint32_t code;
};
const FailureRow kFailureRows[] = {{"BUSY", 0x8001}, {"DELAYED", 0x8001}};

int64_t Now() { return ShellNow(); }
int32_t Seconds(const char* value) { return std::atoi(value); }
bool DtrHangUp() { return Seconds(gModem.settings.dtrHup) != 0; }

// An empty answer pattern matches nothing (it would match every line).
bool Contains(const char* line, const char* pattern) {
  return pattern[0] && std::strstr(line, pattern);
}
bool HasError(const char* line) {
  for (const char* error : gModem.settings.error)
    if (Contains(line, error)) return true;
  return false;
}

void Send(const void* bytes, uint32_t length) {
  if (gModem.port) SerialWrite(gModem.port, bytes, length);
}
void SendText(const char* text) { Send(text, static_cast<uint32_t>(std::strlen(text))); }
void SendCommand(const char* command) {
  SendText(command);
  SendText("\r\n");
}

void Post(uint32_t message, uintptr_t arg1) {
  if (!TskmanNullTask()) return;  // no engine running
  TskmanTask* target = gModem.eventTask;
  if (target && TskmanFind(gModem.eventTaskId) != target) target = nullptr;
  TskmanPost(target, message, arg1, 0);
}

void EndHangUp() {
  gModem.step = ModemStep::Idle;
  gModem.hungUp = true;
  gModem.lines &= ~Line::Connected;
  gModem.answerDeadline = 0;
}

void StartHangUp() {
  int64_t now = Now();
  int32_t guard = Seconds(gModem.settings.guardTime);
  gModem.guardDeadline = now + guard;
  gModem.hangingUp = true;
  if (gModem.port) SerialFlushInput(gModem.port);
  gModem.step = ModemStep::HangUpStarted;
  gModem.dataNotified = false;
  gModem.answerDeadline = now + 5 * static_cast<int64_t>(guard);
}

void DialFailed(const char* line) {
  gModem.failure = ModemFailureCode(line);
  gModem.lines |= Line::DialFailed;
  gModem.answerDeadline = 0;
  gModem.step = ModemStep::Idle;
}

void ReadSettings(const std::string& iniPath) {
  IniFile ini;
  ini.Load(iniPath);
  for (const SettingRow& row : kSettingRows)
    ini.GetString("modem", row.key, row.fallback, row.field(gModem.settings), kValueSize);
}

SerialPort* OpenPort() {
  return SerialOpen(gModem.settings.port, static_cast<uint32_t>(std::atoi(gModem.settings.speed)));
}

// A line while an answer is awaited.
void OnLine(const char* line) {
  const ModemSettings& s = gModem.settings;
  switch (gModem.step) {
    case ModemStep::Dialling:
      if (Contains(line, s.callOk)) {
        gModem.lines |= Line::Connected;
        gModem.answerDeadline = 0;
        gModem.step = ModemStep::Connected;
      } else if (HasError(line)) {
        DialFailed(line);
      }
      break;
    case ModemStep::EscapeSent:
      if (std::strcmp(line, "OK") == 0) {
        SendCommand(s.hangup);
        gModem.step = ModemStep::HangUpSent;
      } else if (HasError(line)) {
        EndHangUp();
      } else {
        StartHangUp();
      }
      break;
    case ModemStep::HangUpSent:
      if (std::strcmp(line, s.hangupOk) == 0 || HasError(line)) EndHangUp();
      break;
    default:
      break;  // idle and hang-up started: dropped
  }
}

void OnAnswerTimeout(const char* partial) {
  switch (gModem.step) {
    case ModemStep::Dialling:
      DialFailed(partial);
      break;
    case ModemStep::EscapeSent:
      SendCommand(gModem.settings.hangup);
      gModem.step = ModemStep::HangUpSent;
      gModem.answerDeadline = Now() + Seconds(gModem.settings.timeout);
      break;
    case ModemStep::HangUpSent:
      EndHangUp();
      break;
    default:
      break;
  }
}

}  // namespace

uint32_t ModemFailureCode(const char* line) {
  uint32_t code = 0x8000;
  if (line && line[0])
    for (const FailureRow& row : kFailureRows)
      if (std::strstr(row.word, line)) code = row.code;
  return code;
}

int ModemOpenIni(const std::string& iniPath) {
  ModemClose();
  gModem = ModemState{};
  ReadSettings(iniPath);
  errno = 0;
  gModem.port = OpenPort();
  const int error = errno;
  gOpenFailure.clear();
  if (!gModem.port) {
    char path[256];
    if (!SerialDevicePath(gModem.settings.port, path, sizeof path))
      gOpenFailure = std::string("\"") + gModem.settings.port + "\" (from " + iniPath +
                     "): names no serial device";
    else
      gOpenFailure = std::string(path) + " (from " + iniPath + "): " +
                     (error ? std::strerror(error) : "not a serial port");
  }
  return gModem.port ? 0 : -1;
}

const char* ModemOpenFailure() { return gOpenFailure.c_str(); }

int ModemOpen() { return ModemOpenIni("modem.ini"); }

void ModemClose() {
  SerialClose(gModem.port);
  gModem.port = nullptr;
}

int32_t ModemCurrentStep() { return gModem.step; }

void ModemDialPoll() {
  if (!gModem.port) return;
  SerialPoll(gModem.port);
  const ModemSettings& s = gModem.settings;
  const int64_t now = Now();
  if (gModem.step == ModemStep::Connected) {
    // Received data stays for ModemRead; only the carrier is watched.
    if (s.cable[0] != '0' && !SerialCarrier(gModem.port)) {
      gModem.lines &= ~Line::Connected;
      gModem.step = ModemStep::Idle;
      SerialFlushInput(gModem.port);
    }
    return;
  }
  if ((gModem.step == ModemStep::HangUpStarted || gModem.step == ModemStep::EscapeSent) &&
      now > gModem.guardDeadline) {
    gModem.guardDeadline = now + Seconds(s.guardTime);
    if (!DtrHangUp()) {
      gModem.step = ModemStep::EscapeSent;
      SendText("+++");
    } else {
      SerialSetDtr(gModem.port, 1);
      SendCommand("ATH");
      gModem.step = ModemStep::HangUpSent;
    }
    return;
  }
  char line[kSerialLineSize];
  if (SerialReadLine(gModem.port, line)) {
    OnLine(line);
  } else if (gModem.answerDeadline != 0 && now > gModem.answerDeadline) {
    OnAnswerTimeout(line);  // the partial line waiting, if any
  }
}

void ModemPostEvents() {
  if (gModem.hungUp) {
    Post(ModemMsg::HungUp, 0);
    gModem.hungUp = false;
    gModem.reported = gModem.lines;
    return;
  }
  const uint32_t flags = gModem.lines;
  if (flags != gModem.reported) {
    bool was = gModem.reported & Line::Connected, is = flags & Line::Connected;
    if (is && !was) Post(ModemMsg::Connected, 1);
    if (was && !is) Post(ModemMsg::Dropped, kModemDropped);
    if (flags & Line::DialFailed) {
      Post(ModemMsg::DialFailed, ResultError(Mod::Modem, gModem.failure));
      gModem.lines &= ~Line::DialFailed;
    }
    // A failed dial is an event, not a line state: it stays out of what was
    // reported, or a second failure right after the first would look the
    // same and never be told.
    gModem.reported = flags & ~Line::DialFailed;
  }
  if ((gModem.lines & Line::Connected) && gModem.port && SerialAvailable(gModem.port) > 0 &&
      !gModem.dataNotified) {
    gModem.dataNotified = true;
    Post(ModemMsg::Data, 0);
  }
  if (gModem.writeDone) {
    Post(ModemMsg::WriteRoom, 0);
    gModem.writeDone = false;
  }
}

Result ModemAttach(ModemState** handle, TskmanTask* eventTask) {
  gModem.eventTask = eventTask;
  gModem.eventTaskId = eventTask ? eventTask->id : 0;
  *handle = &gModem;
  if (DtrHangUp()) {
    // DTR drop hangs up: the modem must be told so.
    SendText("AT&D2\r\n");
    SerialSleep(500);
  }
  return kOk;
}

void ModemDial(ModemState* m, const char* number, int kind) {
  if (m->port) SerialFlushInput(m->port);
  if (DtrHangUp() && m->port) SerialSetDtr(m->port, 1);
  m->hangingUp = false;
  if (std::strcmp(m->settings.ras, "1") == 0) {
    // A direct cable to a dial-up server: it answers "CLIENTSERVER".
    SendText("client");
    SerialSleep(200);
    SendText("client");
  } else {
    SendText(kind == 0 ? m->settings.calld : m->settings.call);
    SendCommand(number);
  }
  m->answerDeadline = Now() + Seconds(m->settings.timeout);
  m->step = ModemStep::Dialling;
}

void ModemHangUp(ModemState* m) {
  if (m->step == ModemStep::Idle) {
    Post(ModemMsg::HungUp, 0);
    return;
  }
  if (!DtrHangUp()) {
    // Closing the port drops DTR for as long as it stays closed.
    ModemClose();
    SerialSleep(500);
    m->port = OpenPort();
    m->step = ModemStep::Idle;
    m->lines = m->reported = 0;
    m->dataNotified = false;
    m->answerDeadline = 0;
    Post(ModemMsg::HungUp, 0);
    return;
  }
  if (m->port) SerialSetDtr(m->port, 2);
  StartHangUp();
}

void ModemWrite(ModemState* m, const void* bytes, uint32_t length) {
  if (!(m->lines & Line::Connected) || m->hangingUp) return;
  Send(bytes, length);
  if (length == 32) m->writeDone = true;
}

uint32_t ModemWriteRoom(ModemState*) { return 32; }

uint32_t ModemRead(ModemState* m, void* buffer, uint32_t size) {
  return m->port ? SerialRead(m->port, buffer, size) : 0;
}

uint32_t ModemAvailable(ModemState* m) {
  m->dataNotified = false;
  return m->port ? SerialAvailable(m->port) : 0;
}

void ModemIoctl(ModemState*) {}
void ModemFlush(ModemState*) {}

Result HostGetDeviceId(TskmanTask* task, char* buffer) {
  std::memcpy(buffer, "12345678", 8);
  TskmanPost(task, kShellDeviceIdMessage, 0, 8);
  return kOk;
}

Result PalScardOpen() { return kPalScardNotSupported; }
Result PalScardClose() { return kPalScardNotSupported; }
Result PalScardTransmit() { return kPalScardNotSupported; }
