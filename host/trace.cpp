// The trace log's entries, its log.ini and its lines.
#include "host/trace.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string_view>

#include "host/ini.h"
#include "host/platform/say.h"
#include "kernel/modules.h"

namespace {

constexpr size_t kLineSize = 512;
constexpr size_t kWideFormatMax = 79;  // longer UTF-16 formats take the 8-bit path
constexpr int32_t kDayMs = 24 * 60 * 60 * 1000;
constexpr char kSection[] = "Modules";

struct LogState {
  std::vector<LogEntry> entries;
  std::string path = "log.ini";
  int32_t previousMs = 0;  // time of day of the previous 8-bit line
  void (*clock)(LogClockTime*) = nullptr;
  std::FILE* console = nullptr;
  int colours = -1;
  std::FILE* (*open)(const char* path, const char* mode) = nullptr;
};

// The lock and the state live as long as the program, so that a line logged
// while the program ends never meets a destroyed lock.
std::mutex& LogLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
LogState& Log() {
  static auto* state = new LogState;
  return *state;
}

void LogSystemClock(LogClockTime* out) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::tm local{};
  ::localtime_r(&now.tv_sec, &local);
  *out = LogClockTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min, local.tm_sec, static_cast<int32_t>(now.tv_nsec / 1000000)};
}

LogClockTime LogNow() {
  LogClockTime t{};
  (Log().clock ? Log().clock : LogSystemClock)(&t);
  return t;
}

const LogEntry* LogFind(int32_t id) {
  for (const LogEntry& e : Log().entries)
    if (e.id == id) return &e;
  return nullptr;
}
LogEntry* LogFindMutable(int32_t id) { return const_cast<LogEntry*>(LogFind(id)); }

// What one line needs of the log, copied under the lock.
struct LogLine {
  bool found = false;
  int32_t id = 0;
  std::string name;
  uint8_t flags = 0;
  std::string file;
  uint16_t colour = 0;
  LogClockTime now{};
  int32_t elapsedMs = 0;
};

LogLine LogBegin(int32_t id, bool measure) {
  LogLine line;
  std::lock_guard<std::mutex> hold(LogLock());
  const LogEntry* entry = LogFind(id);
  if (!entry) entry = LogFind(kLogDefaultId);
  if (!entry) return line;
  line.found = true;
  line.id = entry->id;
  line.name = entry->name;
  line.flags = entry->flags;
  line.colour = entry->colour;
  line.file = entry->file;
  if (line.file.empty())
    if (const LogEntry* all = LogFind(kLogDefaultId)) line.file = all->file;
  if (line.flags & LogFlag::Time) {
    line.now = LogNow();
    if (measure) {
      int32_t ms = ((line.now.hour * 60 + line.now.minute) * 60 + line.now.second) * 1000 +
                   line.now.millisecond;
      // Midnight between two lines does not make the time run backwards.
      line.elapsedMs = ms - Log().previousMs;
      if (line.elapsedMs < 0) line.elapsedMs += kDayMs;
      Log().previousMs = ms;
    }
  }
  return line;
}

// Opens a log file through the opener in force; the caller holds the lock.
std::FILE* LogOpenLocked(const std::string& path, const char* mode) {
  return Log().open ? Log().open(path.c_str(), mode) : std::fopen(path.c_str(), mode);
}

void LogOut(const LogLine& line, const std::string& text, bool replaceBell) {
  if ((line.flags & LogFlag::File) && !line.file.empty()) {
    std::FILE* f;
    {
      std::lock_guard<std::mutex> hold(LogLock());
      f = LogOpenLocked(line.file, "a");
    }
    if (f) {
      std::fputs(text.c_str(), f);
      std::fclose(f);
    }
  }
  if (line.flags & LogFlag::Console) {
    std::string shown = text;
    if (replaceBell)
      for (char& c : shown)
        if (c == '\a') c = ' ';
    std::FILE* out;
    int colours;
    {
      std::lock_guard<std::mutex> hold(LogLock());
      out = Log().console;
      colours = Log().colours;
    }
    if (colours < 0) colours = ::isatty(out ? ::fileno(out) : STDERR_FILENO) ? 1 : 0;
    if (colours) shown = LogAnsiColour(line.colour) + shown + "\x1b[0m";
    if (!out) {
      PlatformSayBytes(shown.data(), shown.size());
      return;
    }
    std::fputs(shown.c_str(), out);
    std::fflush(out);
  }
}

// Appends with snprintf, never past the line's last byte.
void LogAppend(char* buf, size_t* used, const char* format, ...) __attribute__((format(printf, 3, 4)));
void LogAppend(char* buf, size_t* used, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buf + *used, kLineSize - *used, format, args);
  va_end(args);
  if (n > 0) *used = std::min(kLineSize - 1, *used + static_cast<size_t>(n));
}

void LogPrintV(int32_t id, const char* format, va_list args) {
  LogLine line = LogBegin(id, true);
  if (!line.found) return;
  char buf[kLineSize];
  buf[0] = '\0';
  size_t used = 0;
  if (line.flags & LogFlag::Id)
    LogAppend(buf, &used, "%d%c", line.id, '#');
  else if (line.flags & LogFlag::Name)
    LogAppend(buf, &used, "%s%c", line.name.c_str(), '#');
  if (line.flags & LogFlag::Time) {
    char time[32];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d.%04d", line.now.hour, line.now.minute,
                  line.now.second, line.now.millisecond);
    if (line.elapsedMs != 0)
      LogAppend(buf, &used, "\n###+%dms elapsed\n\n%s(+%dms)%c", line.elapsedMs, time,
                line.elapsedMs, '#');
    else
      LogAppend(buf, &used, "%s(+%dms)%c", time, 0, '#');
  }
  va_list copy;
  va_copy(copy, args);
  std::vsnprintf(buf + used, kLineSize - used, format, copy);
  va_end(copy);
  LogOut(line, buf, true);
}

std::string LogTrim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t\r\v\f");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\v\f");
  return std::string(s.substr(b, e - b + 1));
}

bool LogSameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return true;
}

// The key names of the first [Modules] section, in file order, each once.
std::vector<std::string> LogSectionKeys(const std::string& text) {
  std::vector<std::string> keys;
  bool inside = false, seen = false;
  size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string row = LogTrim(std::string_view(text).substr(pos, end - pos));
    pos = end + 1;
    if (row.empty() || row[0] == ';' || row[0] == '#') continue;
    if (row[0] == '[') {
      size_t close = row.find(']');
      bool modules = close != std::string::npos && LogSameName(LogTrim(row.substr(1, close - 1)), kSection);
      if (inside || (modules && seen)) break;
      inside = modules;
      seen |= modules;
      continue;
    }
    size_t eq = row.find('=');
    if (!inside || eq == std::string::npos) continue;
    std::string key = LogTrim(std::string_view(row).substr(0, eq));
    bool again = false;
    for (const std::string& k : keys) again |= LogSameName(k, key);
    if (!key.empty() && !again) keys.push_back(key);
  }
  return keys;
}

// "%x, %x, %s": flags, colour, and the file name up to the first blank.
void LogParseValue(const std::string& value, LogEntry* entry) {
  size_t i = 0;
  auto blanks = [&] {
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  };
  auto hex = [&](uint32_t* out) {
    blanks();
    if (value.compare(i, 2, "0x") == 0 || value.compare(i, 2, "0X") == 0) i += 2;
    size_t start = i;
    uint32_t v = 0;
    for (; i < value.size() && std::isxdigit(static_cast<unsigned char>(value[i])); ++i)
      v = v << 4 | static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(value[i]))
                                             ? value[i] - '0'
                                             : (value[i] | 0x20) - 'a' + 10);
    *out = v;
    return i > start;
  };
  auto comma = [&] {
    blanks();
    if (i < value.size() && value[i] == ',') return ++i, true;
    return false;
  };
  uint32_t flags = 0, colour = 0;
  if (hex(&flags)) {
    entry->flags = static_cast<uint8_t>(flags);
    if (comma() && hex(&colour)) {
      entry->colour = static_cast<uint16_t>(colour);
      if (comma()) {
        blanks();
        size_t end = value.find_first_of(" \t", i);
        entry->file = value.substr(i, end == std::string::npos ? std::string::npos : end - i);
      }
    }
  }
}

}  // namespace

bool LogFindModule(const std::string& name, int32_t* id) {
  if (LogSameName(name, "All")) {
    *id = kLogDefaultId;
    return true;
  }
  for (uint32_t m = 0; m < 256; ++m) {
    const char* known = ModuleName(m);
    if (known && LogSameName(name, known)) {
      *id = static_cast<int32_t>(m);
      return true;
    }
  }
  return false;
}

int LogLoad() { return LogLoadFile("log.ini"); }

int LogLoadFile(const char* path) {
  IniFile ini;
  ini.Load(path);
  std::vector<LogEntry> entries;
  for (const std::string& key : LogSectionKeys(ini.Text())) {
    LogEntry entry{0, "", 0, "", 0};
    // A key naming no module is kept as the entry of id 0, "Default".
    if (!LogFindModule(key, &entry.id))
      entry.name = kLogUnnamedEntry;
    else
      entry.name = entry.id == kLogDefaultId ? "All" : ModuleName(static_cast<uint32_t>(entry.id));
    LogParseValue(ini.Get(kSection, key).value_or(""), &entry);
    entries.push_back(std::move(entry));
  }
  int result = LogStart(entries.data(), static_cast<uint32_t>(entries.size()));
  std::lock_guard<std::mutex> hold(LogLock());
  Log().path = path;
  return result;
}

int LogStart(const LogEntry* entries, uint32_t count) {
  std::lock_guard<std::mutex> hold(LogLock());
  Log().entries.assign(entries, entries + count);
  Log().previousMs = 0;
  const LogEntry* all = LogFind(kLogDefaultId);
  if (!all) return -1;
  if (all->flags & LogFlag::File)
    for (const LogEntry& e : Log().entries)
      if (!e.file.empty())
        if (std::FILE* f = LogOpenLocked(e.file, "w")) std::fclose(f);
  return 0;
}

bool LogSave() {
  std::vector<LogEntry> entries;
  std::string path;
  {
    std::lock_guard<std::mutex> hold(LogLock());
    entries = Log().entries;
    path = Log().path;
  }
  IniFile ini;
  if (ini.Load(path) == IniLoad::Unreadable) return false;
  for (const LogEntry& e : entries) {
    char value[64];
    std::snprintf(value, sizeof value, "0x%02x, 0x%02x", e.flags, e.colour);
    ini.Set(kSection, e.name, e.file.empty() ? std::string(value) : value + (", " + e.file));
  }
  return ini.Save(path);
}

void LogStop() {
  std::lock_guard<std::mutex> hold(LogLock());
  Log().entries.clear();
  Log().previousMs = 0;
  Log().path = "log.ini";
}

void LogPrint(int32_t id, const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogPrintV(id, format, args);
  va_end(args);
}

void LogPrintW(int32_t id, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  size_t units = std::char_traits<char16_t>::length(format);
  if (units > kWideFormatMax) {
    std::string narrow = LogNarrow(format, units);
    LogPrintV(id, narrow.c_str(), args);
    va_end(args);
    return;
  }
  LogLine line = LogBegin(id, false);
  if (!line.found) {
    va_end(args);
    return;
  }
  std::string prefix;
  char head[64];
  if (line.flags & LogFlag::Id) {
    std::snprintf(head, sizeof head, "%d%c", line.id, '*');
    prefix = head;
  } else if (line.flags & LogFlag::Name) {
    prefix = line.name + "*";
  }
  if (line.flags & LogFlag::Time) {
    std::snprintf(head, sizeof head, "%02d:%02d:%02d%c", line.now.hour, line.now.minute,
                  line.now.second, '*');
    prefix += head;
  }
  char16_t text[kLineSize];
  size_t room = prefix.size() < kLineSize - 1 ? kLineSize - prefix.size() : 1;
  size_t n = LogFormatW(text, room, format, args);
  va_end(args);
  LogOut(line, prefix + LogNarrow(text, n), false);
}

uint8_t LogGetFlags(int32_t id) {
  std::lock_guard<std::mutex> hold(LogLock());
  const LogEntry* e = LogFind(id);
  return e ? e->flags : 0xFF;
}

int LogSetFlags(int32_t id, uint8_t flags) {
  std::lock_guard<std::mutex> hold(LogLock());
  LogEntry* e = LogFindMutable(id);
  if (!e) return -1;
  e->flags = flags;
  return 0;
}

int LogSetColour(int32_t id, uint16_t colour) {
  std::lock_guard<std::mutex> hold(LogLock());
  LogEntry* e = LogFindMutable(id);
  if (!e) return -1;
  e->colour = colour;
  return 0;
}

int LogSetFile(int32_t id, const std::string& file) {
  std::lock_guard<std::mutex> hold(LogLock());
  LogEntry* e = LogFindMutable(id);
  if (!e) return -1;
  e->file = file.substr(0, 255);
  return 0;
}

std::vector<LogEntry> LogEntries() {
  std::lock_guard<std::mutex> hold(LogLock());
  return Log().entries;
}

const char* LogTimeStamp() {
  thread_local char stamp[48];
  LogClockTime t;
  {
    std::lock_guard<std::mutex> hold(LogLock());
    t = LogNow();
  }
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%04d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return stamp;
}

int ShellGetCellId(int32_t* status, char* buffer, uint32_t* length, uint32_t size) {
  static const char kCell[] = "234, 10, 0818, 39C3";
  constexpr uint32_t kCellLength = sizeof kCell - 1;
  if (size < kCellLength) return 2;
  std::memcpy(buffer, kCell, kCellLength);
  *length = kCellLength;
  *status = 0;
  return 0;
}

void LogSetClock(void (*now)(LogClockTime* out)) {
  std::lock_guard<std::mutex> hold(LogLock());
  Log().clock = now;
}

void LogSetFileOpener(std::FILE* (*open)(const char* path, const char* mode)) {
  std::lock_guard<std::mutex> hold(LogLock());
  Log().open = open;
}

void LogSetConsole(std::FILE* stream, int colours) {
  std::lock_guard<std::mutex> hold(LogLock());
  Log().console = stream;
  Log().colours = colours;
}
