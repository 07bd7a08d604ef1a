// The trace log: per-module lines with a time stamp, the module's id or name,
// to standard error (in the module's colour when it is a terminal) and to a
// file. The settings live in log.ini, section "Modules", one key per module
// name ("All" is the default entry, id -1):
//
//   [Modules]
//   All=0x13, 0x07, all.log
//   Cache=0x32, 0x0c, cache.log
//
// flags (hex), console colour (hex, a console text attribute), file name.
// Lines for a module without an entry of its own follow the default entry.
#pragma once
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace LogFlag {
constexpr uint8_t File = 0x01, Console = 0x02, Time = 0x10, Id = 0x20, Name = 0x40;
}
constexpr int32_t kLogDefaultId = -1;
// The name (id 0) of the entry that a log.ini key naming no module becomes.
constexpr const char* kLogUnnamedEntry = "Default";

struct LogEntry {
  int32_t id;
  std::string name;
  uint8_t flags;
  std::string file;  // empty: the default entry's file
  uint16_t colour;   // console text attribute; 0 reads as 1
};

// LogLoadFile("log.ini").
int LogLoad();
// Reads the [Modules] keys that name modules (others are left alone) and
// starts the log with them; the result is LogStart's. LogSave writes back to
// this file.
int LogLoadFile(const char* path);
// Keeps a copy of the entries: 0, or -1 when there is no default entry (the
// entries are kept all the same). When the default entry logs to file, every
// entry's file is created empty.
int LogStart(const LogEntry* entries, uint32_t count);
// Writes every entry's value back under its name: "0x%02x, 0x%02x, %s".
// False when the file could not be written.
bool LogSave();
// Forgets every entry (and the time of the previous line).
void LogStop();

// One 8-bit line: "<id>#" or "<name>#", with the time flag
// "hh:mm:ss.mmmm(+Nms)#" (a banner first when N is not 0), then the text; at
// most 511 bytes. No line end is added.
void LogPrint(int32_t id, const char* format, ...) __attribute__((format(printf, 2, 3)));
// One UTF-16 line: "%s" takes UTF-16 text, "%S" 8-bit text; prefixes end in
// "*" and the time has no elapsed part. A format of 80 units or more is
// narrowed to UTF-8 and logged as an 8-bit line with the same arguments.
// Written to file and console as UTF-8.
void LogPrintW(int32_t id, const char16_t* format, ...);

// The entry's flags, 0xFF for a module without an entry of its own.
uint8_t LogGetFlags(int32_t id);
// 0, or -1 for a module without an entry of its own.
int LogSetFlags(int32_t id, uint8_t flags);
int LogSetColour(int32_t id, uint16_t colour);
int LogSetFile(int32_t id, const std::string& file);
// A copy of the entries, in order.
std::vector<LogEntry> LogEntries();

// The module of a name as the module table spells it (any case), "All" for
// the default entry; false when no module has that name.
bool LogFindModule(const std::string& name, int32_t* id);
// The local date and time, "YYYY-MM-DD hh:mm:ss.mmmm"; valid until the next
// call on the same thread.
const char* LogTimeStamp();

// The fixed answer to the network-location request: the 19 characters
// "234, 10, 0818, 39C3" (no terminator), length 19 and status 0; 2 and
// nothing written when size is below 19.
int ShellGetCellId(int32_t* status, char* buffer, uint32_t* length, uint32_t size);

// The clock the log reads; the default is the system's local time.
struct LogClockTime {
  int32_t year, month, day;  // month 1-12
  int32_t hour, minute, second, millisecond;
};
void LogSetClock(void (*now)(LogClockTime* out));  // null: the system's
// Where console lines go (null: standard error) and whether they carry
// colours: 1 yes, 0 no, -1 when the stream is a terminal.
void LogSetConsole(std::FILE* stream, int colours);
// How the log opens its files (null: fopen), so a caller that loads log.ini
// from untrusted bytes can keep the log away from the paths they name.
void LogSetFileOpener(std::FILE* (*open)(const char* path, const char* mode));

// The UTF-16 formatter and narrowing behind LogPrintW.
size_t LogFormatW(char16_t* out, size_t size, const char16_t* format, va_list args);
std::string LogNarrow(const char16_t* text, size_t units);
// The escape sequence that shows a console text attribute on a terminal.
std::string LogAnsiColour(uint16_t colour);
