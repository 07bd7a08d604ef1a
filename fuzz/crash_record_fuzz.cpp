// The report program reads a crash record from a failing process and that
// process's /proc maps: any bytes as either parse without a fault, a record
// that parses keeps its limits, and resolving and formatting its frames over
// the parsed maps gives a report. What the record formatter writes parses
// back to the same fields.
//
// Input: a selector byte (bit 0: the bytes are a maps file, else a record),
// then the bytes; a record is also placed over a maps file made from its
// own frames, and a maps file gets a record of frames inside its mappings.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "host/crashrecord.h"
#include "host/crashreport.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Answers from the input's own words, sometimes fewer than asked for.
std::vector<std::pair<std::string, std::string>> Symbols(const std::string& module,
                                                         const std::vector<uintptr_t>& addresses) {
  std::vector<std::pair<std::string, std::string>> out;
  for (size_t i = 0; i + (module.size() & 1) < addresses.size(); ++i)
    out.push_back(i % 3 == 0   ? std::pair<std::string, std::string>{"??", "??:0"}
                  : i % 3 == 1 ? std::pair<std::string, std::string>{"f(int)", module + ":12"}
                               : std::pair<std::string, std::string>{module, "x:y:"});
  return out;
}

void Report(const CrashRecord& record, const std::vector<CrashMapping>& maps) {
  const std::vector<CrashFrame> frames = CrashResolve(record, maps, Symbols);
  Check(frames.size() <= record.frames.size());
  const std::string stack = CrashFormatStack(record, frames);
  Check(!stack.empty());
  CrashFormatReport(record, stack);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kCrashRecordMax) return 0;
  // An exact copy without a terminator, so a read past the input is caught.
  std::vector<char> bytes(data + 1, data + size);
  const std::string_view text(bytes.data(), bytes.size());

  if (data[0] & 1) {
    const std::vector<CrashMapping> maps = CrashParseMaps(text);
    CrashRecord record;
    record.text = "t";
    record.file = "f";
    for (const CrashMapping& m : maps) {
      Check(!m.path.empty());
      if (record.frames.size() + 3 > kCrashMaxFrames) break;
      record.frames.push_back(m.start);
      record.frames.push_back(m.end);
      record.frames.push_back(m.start + (m.end - m.start) / 2);
    }
    record.skipFirst = data[0] & 2;
    record.firstExact = data[0] & 4;
    Report(record, maps);
    return 0;
  }

  CrashRecord record;
  if (!CrashParseRecord(text, &record)) return 0;
  Check(record.frames.size() <= static_cast<size_t>(kCrashMaxFrames));
  Check(record.text.size() <= kCrashTextMax);
  std::string maps;
  for (size_t i = 0; i < record.frames.size(); ++i) {
    char line[160];
    std::snprintf(line, sizeof line, "%zx-%zx r-xp %zx 08:01 1 /lib/m%zu.so\n",
                  static_cast<size_t>(record.frames[i] & ~uintptr_t{0xFFF}),
                  static_cast<size_t>((record.frames[i] | 0xFFF) + (i & 1)), i * 0x1000, i % 3);
    maps += line;
  }
  Report(record, CrashParseMaps(maps));

  // Written by the failing side, read by the report side: the same fields.
  std::vector<void*> frames;
  for (uintptr_t pc : record.frames) frames.push_back(reinterpret_cast<void*>(pc));
  const CrashRecordFields fields{record.pid,       record.text.c_str(), record.file.c_str(),
                                 record.line,      record.skipFirst,    record.firstExact,
                                 frames.data(),    static_cast<int>(frames.size())};
  std::vector<char> out(kCrashRecordMax);
  const size_t n = CrashFormatRecord(out.data(), out.size(), fields);
  Check(n < out.size() && out[n] == 0);
  std::vector<char> fallback(512);
  const size_t m = CrashFormatFallback(fallback.data(), fallback.size(), fields);
  Check(m < fallback.size() && fallback[m] == 0);
  CrashRecord again;
  if (n + 1 < out.size() && CrashParseRecord(std::string_view(out.data(), n), &again)) {
    // The failing side has C strings: a parsed name holding a 0 byte ends there.
    Check(again.pid == record.pid && again.line == record.line &&
          again.file == std::string(record.file.c_str()) &&
          again.frames == record.frames && again.skipFirst == record.skipFirst &&
          again.firstExact == record.firstExact);
  }
  return 0;
}
