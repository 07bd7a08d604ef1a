// The modem on the serial port: opened at start, polled on every pass of the
// main loop, closed at the end. Its dial and hang-up dialogue is a state
// machine stepped once per pass; line changes become events of the Modem
// module for the task that attached to it.
#pragma once
#include <cstdint>
#include <string>

#include "kernel/modules.h"

struct TskmanTask;

// Events to the attached task (message, arg1, arg2 = 0).
namespace ModemMsg {
constexpr uint32_t Data = Msg(Mod::Modem, 0x00), WriteRoom = Msg(Mod::Modem, 0x01), Dropped = Msg(Mod::Modem, 0x02), Connected = Msg(Mod::Modem, 0x03),
                   DialFailed = Msg(Mod::Modem, 0x04), HungUp = Msg(Mod::Modem, 0x05);
}
constexpr Result kModemDropped = ResultError(Mod::Modem, 0x8002);
// The dial failure codes: 0x80340000 | 0x8000 for any failure, | 0x8001 for
// a busy or delayed line.
constexpr Result kModemNoAnswer = ResultError(Mod::Modem, 0x8000);
constexpr Result kModemBusy = ResultError(Mod::Modem, 0x8001);

namespace ModemStep {
constexpr int32_t Idle = 0, Dialling = 100, Connected = 150, HangUpStarted = 200,
                  EscapeSent = 201, HangUpSent = 202;
}

// 0, or -1 when the port cannot be opened. Reads section "modem" of
// modem.ini in the working folder.
int ModemOpen();
// The same with the settings file named.
int ModemOpenIni(const std::string& iniPath);
// Why the last open failed: the device path tried and the system's reason
// ("" after an open that worked).
const char* ModemOpenFailure();
// One step of the dialling state machine.
void ModemDialPoll();
// Turns line changes into engine events.
void ModemPostEvents();
void ModemClose();

// The engine's driver interface.
struct ModemState;
Result ModemAttach(ModemState** handle, TskmanTask* eventTask);
void ModemDial(ModemState* handle, const char* number, int kind);
void ModemHangUp(ModemState* handle);
void ModemWrite(ModemState* handle, const void* bytes, uint32_t length);
uint32_t ModemWriteRoom(ModemState* handle);
uint32_t ModemRead(ModemState* handle, void* buffer, uint32_t size);
uint32_t ModemAvailable(ModemState* handle);
void ModemIoctl(ModemState* handle);
void ModemFlush(ModemState* handle);

// The dialogue's state, for the host's tests and diagnostics.
int32_t ModemCurrentStep();
// The failure code of an answer line: "BUSY" and "DELAYED" (and the non-empty
// parts of them) give 0x8001, anything else 0x8000.
uint32_t ModemFailureCode(const char* line);

// The device-identity service: "12345678" (8 characters, no terminator) into
// the buffer, then 0x4700 (0, 8) to the task.
// The answer to the asking task, {0, 8}: module 71's first message (0x4700).
constexpr uint32_t kShellDeviceIdMessage = Msg(71, 0);
Result HostGetDeviceId(TskmanTask* task, char* buffer);
// The smart-card platform interface: not supported.
constexpr Result kPalScardNotSupported = ResultError(Mod::PalScard, 0x8004);
Result PalScardOpen();
Result PalScardClose();
Result PalScardTransmit();
