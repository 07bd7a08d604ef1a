#include "tools/modemsim.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>

ModemSim::~ModemSim() { Stop(); }

bool ModemSim::Start() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return false;
  char name[128];
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name, sizeof name) != 0) {
    Stop();
    return false;
  }
  path_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0 || ::pipe2(wake_, O_CLOEXEC) != 0) {
    Stop();
    return false;
  }
  // Bytes pass unchanged until the emulator sets the line up itself.
  termios line{};
  ::tcgetattr(slave_, &line);
  cfmakeraw(&line);
  ::tcsetattr(slave_, TCSANOW, &line);
  running_ = true;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void ModemSim::Stop() {
  if (running_) {
    running_ = false;
    char byte = 0;
    [[maybe_unused]] ssize_t n = ::write(wake_[1], &byte, 1);
    thread_.join();
  }
  for (int* fd : {&master_, &slave_, &wake_[0], &wake_[1]})
    if (*fd >= 0) {
      ::close(*fd);
      *fd = -1;
    }
}

void ModemSim::Run() {
  char buffer[512];
  while (running_) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents) break;
    if (fds[0].revents & POLLIN) {
      ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n > 0) OnBytes(buffer, static_cast<size_t>(n));
    }
  }
}

void ModemSim::Write(const std::string& bytes) {
  std::lock_guard<std::mutex> lock(writeMutex_);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
}

void ModemSim::Reply(const std::string& text) { Write("\r\n" + text + "\r\n"); }

void ModemSim::OnBytes(const char* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const char c = bytes[i];
    // The LF of a command's CR LF belongs to the command, even when the
    // command switched to data mode.
    const bool lineEndTail = lastWasCr_ && c == '\n';
    lastWasCr_ = !dataMode_ && !inPdu_ && c == '\r';
    if (lineEndTail) continue;
    if (dataMode_) {
      // The escape: "+++" in data mode returns to commands (guard times are
      // the emulator's business; the simulator does not time them).
      if (c == '+') {
        plus_ += c;
        if (plus_ == "+++") {
          plus_.clear();
          dataMode_ = false;
          Reply("OK");
        }
        continue;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      data_ += plus_;
      data_ += c;
      plus_.clear();
      continue;
    }
    if (inPdu_) {
      if (c == 0x1A) {
        bool ok;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          sentPdus_.push_back(pdu_);
          ok = sendOk_;
          changed_.notify_all();
        }
        inPdu_ = false;
        pdu_.clear();
        if (ok)
          Reply("+CMGS: " + std::to_string(++messageRef_) + "\r\n\r\nOK");
        else
          Reply("ERROR");
      } else if (c == 0x1B) {
        inPdu_ = false;
        pdu_.clear();
      } else if (std::isxdigit(static_cast<unsigned char>(c))) {
        pdu_ += c;
      }
      continue;
    }
    if (c == '\r' || c == '\n') {
      if (!line_.empty()) OnCommand(line_);
      line_.clear();
    } else if (c != 0x1B) {
      line_ += c;
      if (line_ == "client") {  // a dial-up server on a direct cable
        line_.clear();
        carrier_ = true;
        dataMode_ = true;
        Write("CLIENTSERVER");
      }
    }
  }
}

void ModemSim::OnCommand(const std::string& line) {
  std::string upper = line;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.push_back(line);
    answer = dialAnswer_;
    changed_.notify_all();
  }
  if (upper.rfind("ATD", 0) == 0) {
    if (answer.empty()) return;  // nobody picks up
    if (answer.rfind("CONNECT", 0) == 0) {
      carrier_ = true;
      dataMode_ = true;
    }
    Reply(answer);
  } else if (upper == "ATH" || upper == "ATH0") {
    carrier_ = false;
    Reply("OK");
  } else if (upper == "AT+CSMS=0") {
    Reply("+CSMS: 1,1,1");
    Reply("OK");
  } else if (upper.rfind("AT+CMGS=", 0) == 0) {
    inPdu_ = true;
    pdu_.clear();
    Write("\r\n> ");
  } else if (upper == "AT" || upper.rfind("AT&", 0) == 0 || upper.rfind("AT+CMGF", 0) == 0 ||
             upper.rfind("AT+CNMI", 0) == 0 || upper.rfind("ATZ", 0) == 0 ||
             upper.rfind("ATE", 0) == 0) {
    Reply("OK");
  } else {
    Reply("ERROR");
  }
}

void ModemSim::SetDialAnswer(const std::string& answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  dialAnswer_ = answer;
}

void ModemSim::SetSendSucceeds(bool ok) {
  std::lock_guard<std::mutex> lock(mutex_);
  sendOk_ = ok;
}

void ModemSim::DropCarrier() {
  carrier_ = false;
  dataMode_ = false;
}

void ModemSim::SendRaw(const std::string& bytes) { Write(bytes); }

void ModemSim::DeliverSms(const std::string& pduHex, int length) {
  Write("\r\n+CMT: ," + std::to_string(length) + "\r\n" + pduHex + "\r\n");
}

std::vector<std::string> ModemSim::Commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

std::vector<std::string> ModemSim::SentPdus() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sentPdus_;
}

std::string ModemSim::Data() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return data_;
}

bool ModemSim::WaitForCommands(size_t count, int ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms),
                           [&] { return commands_.size() >= count; });
}

int ModemSim::CarrierOf(void* ctx, int) { return static_cast<ModemSim*>(ctx)->carrier_ ? 1 : 0; }

void ModemSim::SetDtrOf(void* ctx, int, bool raise) {
  auto* self = static_cast<ModemSim*>(ctx);
  self->dtr_ = raise;
  // AT&D2: losing DTR hangs up and returns to commands, without a word.
  if (!raise) self->DropCarrier();
}

const SerialLineOps* ModemSim::LineOps() {
  ops_ = SerialLineOps{this, CarrierOf, SetDtrOf};
  return &ops_;
}
