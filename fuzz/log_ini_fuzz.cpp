// log.ini is edited by hand: any bytes must load, and what the log writes
// back must load again to the same entries.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/trace.h"

namespace {

void LogFuzzCheck(bool ok) {
  if (!ok) std::abort();
}

// Keys that name no module all become "Default" entries, written back under
// that one name while the keys themselves stay: only the modules' own
// entries round-trip.
std::vector<LogEntry> Named(const std::vector<LogEntry>& entries) {
  std::vector<LogEntry> out;
  for (const LogEntry& e : entries)
    if (e.name != kLogUnnamedEntry) out.push_back(e);
  return out;
}

bool SameEntries(const std::vector<LogEntry>& all, const std::vector<LogEntry>& again) {
  const std::vector<LogEntry> a = Named(all), b = Named(again);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].id != b[i].id || a[i].flags != b[i].flags || a[i].colour != b[i].colour ||
        a[i].file != b[i].file)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/qor-log-fuzz-" + std::to_string(::getpid()) + ".ini";
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  LogLoadFile(path.c_str());
  std::vector<LogEntry> first = LogEntries();
  // Nothing may reach the console or a file while fuzzing.
  for (const LogEntry& e : first) LogSetFlags(e.id, e.flags & ~(LogFlag::File | LogFlag::Console));
  LogPrint(1, "%s", "line");
  LogPrintW(1, u"%s", u"line");
  for (const LogEntry& e : first) LogSetFlags(e.id, e.flags);
  // A file name with characters the file cannot hold is not written back as
  // given; everything else round-trips.
  bool plain = true;
  for (const LogEntry& e : first)
    for (char c : e.file) plain &= static_cast<unsigned char>(c) >= 0x20;
  if (LogSave() && plain) {
    LogLoadFile(path.c_str());
    LogFuzzCheck(SameEntries(first, LogEntries()));
  }
  LogStop();
  std::remove(path.c_str());
  return 0;
}
