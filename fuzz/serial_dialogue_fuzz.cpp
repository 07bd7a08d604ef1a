// What a modem or a phone answers on the serial line drives the host's two
// AT dialogues: the modem's dial and hang-up state machine with the answer
// patterns of modem.ini, and the phone's PDU-mode set-up, "+CMT:" deliveries
// and "+CMGS" send results. Over a pseudo-terminal of the harness's own, any
// settings and any answers, interleaved with dials, hang-ups, sends, carrier
// changes and time, must keep both dialogues whole and free every record.
//
// Input: a flags byte (bit 0: the phone, else the modem), the modem.ini text
// ended by a 0 byte (its port is always the harness's terminal), then
// operations: 0 answer (a length byte, then that many bytes), 1-2 a main-loop
// pass, 3 time passes (a byte of seconds), 4 dial or send, 5 hang up, 6 the
// carrier turns, 7 data both ways.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/private_folder.h"
#include "host/ini.h"
#include "host/modem.h"
#include "host/platform/platform.h"
#include "host/serial.h"
#include "host/sms.h"
#include "kernel/heap.h"
#include "kernel/tskman.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Terminal {
  int master = -1;
  int slave = -1;  // held open so the line's settings and queues outlive each port
  std::string path;
  std::string ini;
};

Terminal OpenTerminal() {
  Terminal t;
  t.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (t.master < 0 || ::grantpt(t.master) != 0 || ::unlockpt(t.master) != 0) std::abort();
  t.path = ::ptsname(t.master);
  t.slave = ::open(t.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (t.slave < 0) std::abort();
  termios raw{};
  ::tcgetattr(t.slave, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(t.slave, TCSANOW, &raw);
  t.ini = FuzzPrivateFolder("serial-fuzz", false) + "/modem.ini";
  return t;
}

int64_t gNow = 1000;
bool gCarrier = true;

int Carrier(void*, int) { return gCarrier ? 1 : 0; }
void SetDtr(void*, int, bool) {}
const SerialLineOps kLines{nullptr, Carrier, SetDtr};

int64_t Now(void*) { return gNow; }

void Drain(const Terminal& t) {
  char sink[4096];
  while (::read(t.master, sink, sizeof sink) > 0) {
  }
}

void Pump() {
  for (int steps = 0; TskmanPendingCount() > 0; ++steps) {
    Check(steps < 100000);
    TskmanStep();
  }
}

Result Receiver(void*, uint32_t message, uintptr_t arg1, uintptr_t) {
  if (message == SmsMsg::Received) SmsRelease(nullptr, reinterpret_cast<SmsReceived*>(arg1), 0);
  return kOk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Terminal term = OpenTerminal();
  static std::vector<uint64_t> arena((1u << 20) / 8);
  if (size < 1 || size > 4096) return 0;
  const bool phone = data[0] & 1;
  const char* section = phone ? "sms" : "modem";

  size_t at = 1;
  IniFile ini;
  {
    const size_t start = at;
    while (at < size && data[at]) ++at;
    ini.LoadBytes(data + start, at - start);
    ++at;
  }
  // The port is always ours: the settings may name any device at all.
  ini.RemoveKey(section, "port");
  if (!ini.Set(section, "port", term.path) || ini.Get(section, "port") != term.path) return 0;
  if (!ini.Save(term.ini)) return 0;

  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  if (TskmanInit() != kOk) return 0;
  PlatformOps ops = Platform();
  ops.now = Now;
  const PlatformOps* oldOps = PlatformInstall(&ops);
  SerialSetLineOps(&kLines);
  SerialSetSleep([](uint32_t) {});
  SmsSetConsoleTrace(false);
  gNow = 1000;
  gCarrier = true;
  ::tcflush(term.slave, TCIOFLUSH);
  Drain(term);

  TskmanTask* engine = nullptr;
  TskmanCreateTask(&engine, phone ? Mod::Sms : 97u, Receiver, nullptr);
  Pump();
  ModemState* modem = nullptr;
  SmsPort* sms = nullptr;
  bool open = false;
  if (phone) {
    open = SmsComOpenIni(&sms, engine, term.ini) == 0;
  } else if (ModemOpenIni(term.ini) == 0) {
    open = ModemAttach(&modem, engine) == kOk;
  }

  auto pass = [&] {
    if (phone) {
      SmsComPoll();
    } else {
      ModemDialPoll();
      ModemPostEvents();
    }
    Pump();
    Drain(term);
  };
  uint8_t buffer[600];
  while (open && at < size) {
    const uint8_t op = data[at++];
    switch (op % 8) {
      case 0: {
        const size_t n = at < size ? 1 + data[at++] % 128 : 0;
        const size_t take = n < size - at ? n : size - at;
        // A full terminal drops what does not fit, as a line would.
        if (take) (void)!::write(term.master, data + at, take);
        at += take;
        break;
      }
      case 1:
      case 2:
        pass();
        break;
      case 3:
        gNow += at < size ? data[at++] : 1;
        break;
      case 4:
        if (phone) {
          SmsOutgoing message{};
          std::snprintf(message.destination, sizeof message.destination, "+44%u", op);
          message.kind = op & 8 ? SmsKind::Port : 0;
          message.type = SmsType::Message;
          message.validity = op & 16 ? 3600 : 0;
          const uint8_t port[6] = {5, 4, 0x0B, 0x84, 0x23, 0xF0};
          SmsComSend(&message, op & 32 ? "+447" : nullptr, 0, 0, 0, 0, port);
        } else {
          ModemDial(modem, op & 8 ? "5551234" : "0", (op >> 4) & 1);
        }
        break;
      case 5:
        if (!phone) ModemHangUp(modem);
        pass();
        break;
      case 6:
        gCarrier = !gCarrier;
        break;
      case 7:
        if (!phone) {
          Check(ModemRead(modem, buffer, sizeof buffer) <= sizeof buffer);
          ModemAvailable(modem);
          if (ModemWriteRoom(modem) > 4) ModemWrite(modem, "data", 4);
        }
        break;
    }
    const int32_t step = phone ? SmsComState() : ModemCurrentStep();
    Check(step >= 0 && step <= 202);
  }
  if (phone) {
    SmsComClose();
  } else {
    ModemClose();
  }
  Pump();
  Drain(term);
  TskmanDestroyTask(engine);
  TskmanShutdown();
  SerialSetSleep(nullptr);
  SerialSetLineOps(nullptr);
  PlatformInstall(oldOps);
  Check(HeapValidate() == nullptr);
  const HeapStats stats = HeapGetStats();
  Check(stats.freeBytes == stats.arenaBytes);
  return 0;
}
