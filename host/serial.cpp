#include "host/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "host/platform/files.h"

namespace {

int IoctlCarrier(void*, int fd) {
  int lines = 0;
  if (::ioctl(fd, TIOCMGET, &lines) != 0) return 0;
  return (lines & TIOCM_CAR) ? 1 : 0;
}

void IoctlSetDtr(void*, int fd, bool raise) {
  int dtr = TIOCM_DTR;
  ::ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &dtr);  // a pseudo-terminal refuses; nothing to do
}

const SerialLineOps kIoctlLines{nullptr, IoctlCarrier, IoctlSetDtr};
const SerialLineOps* gLines = &kIoctlLines;

void RealSleep(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
SerialSleepFn gSleep = RealSleep;

speed_t SpeedCode(uint32_t speed) {
  switch (speed) {
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
  }
}

// Bytes whose value as a signed character is below 32 end lines.
bool IsSeparator(uint8_t byte) { return static_cast<int8_t>(byte) < 32; }

// One non-blocking read into the ring; 0 when nothing came.
uint32_t SerialReadStep(SerialPort* port, uint32_t at, uint32_t length) {
  ssize_t n = ::read(port->fd, port->ring + at, length);
  return n > 0 ? static_cast<uint32_t>(n) : 0;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

const SerialLineOps* SerialSetLineOps(const SerialLineOps* ops) {
  const SerialLineOps* old = gLines;
  gLines = ops ? ops : &kIoctlLines;
  return old;
}

SerialSleepFn SerialSetSleep(SerialSleepFn sleep) {
  SerialSleepFn old = gSleep;
  gSleep = sleep ? sleep : RealSleep;
  return old;
}

void SerialSleep(uint32_t milliseconds) { gSleep(milliseconds); }

uint32_t SerialLineSpeed(uint32_t requested) {
  switch (requested) {
    case 9600:
    case 19200:
    case 38400:
    case 57600:
    case 115200: return requested;
    default: return 9600;
  }
}

bool SerialDevicePath(const char* name, char* out, uint32_t outSize) {
  if (!name || outSize == 0) return false;
  if (name[0] == '/') {
    if (std::strlen(name) >= outSize) return false;
    std::strcpy(out, name);
    return true;
  }
  if (std::strncmp(name, "COM", 3) != 0 || name[3] < '1' || name[3] > '9') return false;
  uint32_t n = 0;
  for (const char* p = name + 3; *p; ++p) {
    if (*p < '0' || *p > '9' || n > 9999) return false;
    n = n * 10 + (*p - '0');
  }
  int written = std::snprintf(out, outSize, "/dev/ttyS%u", n - 1);
  return written > 0 && static_cast<uint32_t>(written) < outSize;
}

SerialPort* SerialOpen(const char* name, uint32_t speed) {
  char path[256];
  if (!SerialDevicePath(name, path, sizeof path)) return nullptr;
  int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  termios line{};
  // Not shared: a second opener of ours is refused.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::tcgetattr(fd, &line) != 0) {
    ::close(fd);
    return nullptr;
  }
  auto* port = static_cast<SerialPort*>(PlatformAlloc(sizeof(SerialPort)));
  if (!port) {
    ::close(fd);
    return nullptr;
  }
  // Raw 8-bit bytes without parity and without software flow control; CTS
  // paces our output; the carrier is watched by hand, not by the driver.
  // The stop bits stay as they were.
  cfmakeraw(&line);
  line.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
  line.c_cflag &= ~(PARENB | CSIZE);
  line.c_cflag |= CS8 | CREAD | CLOCAL | CRTSCTS;
  line.c_cc[VMIN] = 0;
  line.c_cc[VTIME] = 0;
  speed_t code = SpeedCode(SerialLineSpeed(speed));
  cfsetispeed(&line, code);
  cfsetospeed(&line, code);
  ::tcsetattr(fd, TCSANOW, &line);
  std::memset(port, 0, sizeof *port);
  port->fd = fd;
  gLines->setDtr(gLines->ctx, fd, true);
  return port;
}

void SerialClose(SerialPort* port) {
  if (!port) return;
  // As the driver does on the last close: a modem sees DTR fall and hangs up.
  gLines->setDtr(gLines->ctx, port->fd, false);
  ::close(port->fd);
  PlatformFree(port);
}

int SerialWrite(SerialPort* port, const void* bytes, uint32_t length) {
  // As long as the driver could need at the line's slowest: 10 ms a byte
  // and 100 ms more. A port that takes nothing for that long loses the rest.
  const int64_t deadline = NowMs() + 100 + 10 * static_cast<int64_t>(length);
  auto* p = static_cast<const uint8_t*>(bytes);
  while (length > 0) {
    ssize_t n = ::write(port->fd, p, length);
    if (n > 0) {
      p += n;
      length -= static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
    int64_t left = deadline - NowMs();
    if (left <= 0) break;
    pollfd waiting{port->fd, POLLOUT, 0};
    ::poll(&waiting, 1, static_cast<int>(left));
  }
  return 0;
}

int SerialWriteHex(SerialPort* port, const void* bytes, uint32_t length) {
  static const char kDigits[] = "0123456789ABCDEF";
  auto* p = static_cast<const uint8_t*>(bytes);
  char text[32];
  uint32_t used = 0;
  for (uint32_t i = 0; i < length; ++i) {
    text[used++] = kDigits[p[i] >> 4];
    text[used++] = kDigits[p[i] & 0xF];
    if (used == sizeof text) {
      SerialWrite(port, text, used);
      used = 0;
    }
  }
  if (used > 0) SerialWrite(port, text, used);
  return 0;
}

uint32_t SerialPoll(SerialPort* port) {
  if (port->writeCount - port->readCount >= kSerialRingSize) return 0;
  const uint32_t w = port->writeCount % kSerialRingSize;
  const uint32_t r = port->readCount % kSerialRingSize;
  uint32_t got = 0;
  if (r == 0) {
    got = SerialReadStep(port, w, kSerialRingSize - w);
  } else if (w == 0) {
    got = SerialReadStep(port, 0, r);
  } else if (w < r) {
    got = SerialReadStep(port, w, r - w);
  } else {
    got = SerialReadStep(port, w, kSerialRingSize - w);
    // Wrapped to the start: the room before the read position follows.
    if ((port->writeCount + got) % kSerialRingSize == 0) {
      port->writeCount += got;
      uint32_t more = SerialReadStep(port, 0, r);
      port->writeCount += more;
      return got + more;
    }
  }
  port->writeCount += got;
  return got;
}

uint32_t SerialRead(SerialPort* port, void* buffer, uint32_t size) {
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t n = 0;
  while (n < size && port->readCount != port->writeCount)
    out[n++] = port->ring[port->readCount++ % kSerialRingSize];
  return n;
}

char* SerialReadLine(SerialPort* port, char* buffer) {
  const uint32_t end = port->writeCount;
  uint32_t pos = port->readCount;
  if (end - pos > kSerialRingSize) pos = end - kSerialRingSize;  // never past the ring
  auto at = [port](uint32_t count) { return port->ring[count % kSerialRingSize]; };
  // Separators before the text carry nothing: they go at once, so a ring of
  // them cannot stall the port.
  while (pos != end && IsSeparator(at(pos))) ++pos;
  port->readCount = pos;
  char* out = buffer;
  while (pos != end) {
    uint8_t byte = at(pos++);
    if (!IsSeparator(byte)) {
      *out++ = static_cast<char>(byte);
      continue;
    }
    // The line's ending goes with it, CR and LF alike.
    while (pos != end && IsSeparator(at(pos))) ++pos;
    port->readCount = pos;
    *out = 0;
    return out;
  }
  *out = 0;
  // Prompts that come without an ending, and a full ring that will never
  // see one, are handed over as they are.
  bool full = end - port->readCount == kSerialRingSize;
  if (std::strcmp(buffer, "> ") == 0 || std::strstr(buffer, "SERVER") || full) {
    port->readCount = end;
    return out;
  }
  return nullptr;
}

uint32_t SerialAvailable(const SerialPort* port) { return port->writeCount - port->readCount; }

void SerialFlushInput(SerialPort* port) { port->readCount = port->writeCount; }

int SerialCarrier(SerialPort* port) { return gLines->carrier(gLines->ctx, port->fd); }

void SerialSetDtr(SerialPort* port, int mode) {
  if (mode == 1) gLines->setDtr(gLines->ctx, port->fd, true);
  if (mode == 2) gLines->setDtr(gLines->ctx, port->fd, false);
}
