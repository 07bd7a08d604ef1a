// log.ini is edited by hand: any bytes must load, and what the log writes
// back must load again to the same entries. The harness works in a private
// folder and the log's own files all go to /dev/null: the input names files
// that loading would otherwise empty anywhere the process may write.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/private_folder.h"
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

std::FILE* OpenNowhere(const char*, const char* mode) { return std::fopen("/dev/null", mode); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = FuzzPrivateFolder("log-fuzz", false) + "/log.ini";
  static std::FILE* const console = std::fopen("/dev/null", "w");
  LogSetFileOpener(OpenNowhere);
  LogSetConsole(console, 1);
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  LogLoadFile(path.c_str());
  std::vector<LogEntry> first = LogEntries();
  LogPrint(1, "%s", "line");
  LogPrintW(1, u"%s", u"line");
  LogPrint(-1, "%d", 2);
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
