// The record the failing process hands to the report program: one line per
// field, "key value", texts with backslash, CR and LF escaped, frames as hex
// program counters.
//
//   qor-crash 1
//   pid 4242
//   text The thread tried to divide an integer value by ...
//   file EXCEPTION
//   line 0
//   skip 0          (1: frame 0 is the assertion reporter's own)
//   exact 1         (1: frame 0 is the failing instruction, not a return address)
//   frame 55d0c0a0b123
//   end
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr int kCrashMaxFrames = 100;
constexpr size_t kCrashRecordMax = 16384;
constexpr size_t kCrashTextMax = 2048;  // longer texts are cut

struct CrashRecordFields {
  int64_t pid;
  const char* text;
  const char* file;
  uint32_t line;
  bool skipFirst;
  bool firstExact;
  void* const* frames;
  int frameCount;
};

// Both format into `out` without allocating (they run inside fault
// handlers), cut to size - 1 bytes and NUL-terminated; they return the length.
size_t CrashFormatRecord(char* out, size_t size, const CrashRecordFields& fields);
// The report as it reads without the report program: unresolved addresses.
size_t CrashFormatFallback(char* out, size_t size, const CrashRecordFields& fields);

struct CrashRecord {
  int64_t pid = 0;
  std::string text;
  std::string file;
  uint32_t line = 0;
  bool skipFirst = false;
  bool firstExact = false;
  std::vector<uintptr_t> frames;  // at most kCrashMaxFrames
};

// False for input that is not a record: a wrong first line, a bad number, or
// a missing pid, text, file or line. A last line without its line end is
// left unread.
bool CrashParseRecord(std::string_view input, CrashRecord* out);
