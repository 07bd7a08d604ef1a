// A modem and GSM phone on a pseudo-terminal, for the tests and for running
// the emulator on a machine without a serial port. It answers the AT
// dialogue: dialling (CONNECT, BUSY, NO CARRIER or silence), data mode with
// the "+++" escape, hang-up by "ATH" or by DTR, and the phone's PDU-mode
// short messages (CMGF, CSMS, CNMI, CMGS and unsolicited "+CMT:").
//
// A pseudo-terminal has no modem-control lines: the simulator keeps its own
// carrier and DTR and serves them to the serial driver through
// SerialSetLineOps (see LineOps).
#pragma once
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/serial.h"

class ModemSim {
 public:
  ModemSim() = default;
  ~ModemSim();
  ModemSim(const ModemSim&) = delete;
  ModemSim& operator=(const ModemSim&) = delete;

  // Opens the pseudo-terminal pair and starts answering on a thread.
  bool Start();
  void Stop();
  // The device the emulator opens (the terminal's slave side).
  const std::string& Path() const { return path_; }

  // The answer to the next dials: "CONNECT 115200", "BUSY", "NO CARRIER"...;
  // an empty answer leaves a dial unanswered.
  void SetDialAnswer(const std::string& answer);
  // The answer to AT+CMGS once the PDU has come: "OK" style ("+CMGS: n")
  // when true, "ERROR" when false.
  void SetSendSucceeds(bool ok);
  // Drops the carrier (the call is lost) without a word.
  void DropCarrier();
  // Sends bytes to the emulator as they stand.
  void SendRaw(const std::string& bytes);
  // An unsolicited "+CMT:" delivery of a PDU (hexadecimal) announcing
  // `length` octets; split sends the PDU line in two writes.
  void DeliverSms(const std::string& pduHex, int length);

  bool Carrier() const { return carrier_; }
  bool Dtr() const { return dtr_; }
  bool InDataMode() const { return dataMode_; }
  // Every command line received, in order (without the line end).
  std::vector<std::string> Commands() const;
  // The hexadecimal PDUs sent with AT+CMGS.
  std::vector<std::string> SentPdus() const;
  // Bytes received in data mode.
  std::string Data() const;
  // Waits (at most `ms` milliseconds) until `count` commands have come.
  bool WaitForCommands(size_t count, int ms) const;

  // Line operations for SerialSetLineOps that read and drive this modem.
  const SerialLineOps* LineOps();

 private:
  void Run();
  void OnBytes(const char* bytes, size_t n);
  void OnCommand(const std::string& line);
  void Reply(const std::string& text);
  void Write(const std::string& bytes);
  static int CarrierOf(void* ctx, int fd);
  static void SetDtrOf(void* ctx, int fd, bool raise);

  int master_ = -1;
  int slave_ = -1;  // held open so the master never sees a hang-up
  int wake_[2] = {-1, -1};
  std::string path_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> carrier_{false};
  std::atomic<bool> dtr_{true};
  std::atomic<bool> dataMode_{false};

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string dialAnswer_ = "CONNECT 115200";
  bool sendOk_ = true;
  std::string line_;
  std::string plus_;  // "+" signs seen in a row in data mode
  bool inPdu_ = false;
  bool lastWasCr_ = false;
  std::string pdu_;
  std::vector<std::string> commands_;
  std::vector<std::string> sentPdus_;
  std::string data_;
  int messageRef_ = 0;
  std::mutex writeMutex_;
  SerialLineOps ops_{};
};
