// The serial port the modem and the SMS phone hang on: a POSIX terminal in
// raw mode, a 512-byte receive ring that the main loop fills with
// non-blocking reads once per pass, and the modem-control lines.
//
// "COMn" names /dev/ttyS(n-1); any absolute path names that device. Nothing
// here waits for incoming data; writes wait for the driver at most
// 10 ms per byte plus 100 ms.
#pragma once
#include <cstdint>

constexpr uint32_t kSerialRingSize = 512;
// What SerialReadLine needs: a full ring of text and the terminator.
constexpr uint32_t kSerialLineSize = kSerialRingSize + 1;

// Allocated with the platform allocator and owned by whoever opened it.
struct SerialPort {
  int fd;
  uint8_t ring[kSerialRingSize];
  // Free-running counts of bytes taken out of and put into the ring; a
  // byte's place is its count modulo the ring size.
  uint32_t readCount;
  uint32_t writeCount;
};

// The modem-control lines. A pseudo-terminal has none, so the modem
// simulator installs its own; the default set uses the terminal ioctls.
struct SerialLineOps {
  void* ctx;
  int (*carrier)(void* ctx, int fd);            // 1 when carrier detect is on
  void (*setDtr)(void* ctx, int fd, bool raise);
};
// Installs a set (null restores the terminal ioctls); returns the old one.
const SerialLineOps* SerialSetLineOps(const SerialLineOps* ops);

// The blocking waits of the modem and phone dialogues (100 to 500 ms) go
// through here, so tests can run them without waiting.
using SerialSleepFn = void (*)(uint32_t milliseconds);
SerialSleepFn SerialSetSleep(SerialSleepFn sleep);  // null restores the real sleep
void SerialSleep(uint32_t milliseconds);

// 9600, 19200, 38400, 57600 and 115200 are taken; anything else gives 9600.
uint32_t SerialLineSpeed(uint32_t requested);
// The device path of a port name: "COM1" -> "/dev/ttyS0", "/x" -> "/x";
// false for anything else.
bool SerialDevicePath(const char* name, char* out, uint32_t outSize);

// Null, with nothing left open, when the device cannot be opened, is in use
// by another program of ours, or is no terminal.
SerialPort* SerialOpen(const char* name, uint32_t speed);
void SerialClose(SerialPort* port);
int SerialWrite(SerialPort* port, const void* bytes, uint32_t length);
// Upper-case hexadecimal pairs, 32 characters to a write.
int SerialWriteHex(SerialPort* port, const void* bytes, uint32_t length);
// One step of filling the ring; returns the bytes received now.
uint32_t SerialPoll(SerialPort* port);
uint32_t SerialRead(SerialPort* port, void* buffer, uint32_t size);
// Takes one text line out of the ring into buffer (kSerialLineSize bytes);
// returns the end of the text, or null when no whole line is there yet.
char* SerialReadLine(SerialPort* port, char* buffer);
uint32_t SerialAvailable(const SerialPort* port);
void SerialFlushInput(SerialPort* port);
int SerialCarrier(SerialPort* port);
// 1 raises DTR, 2 drops it; other modes do nothing.
void SerialSetDtr(SerialPort* port, int mode);
