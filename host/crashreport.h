// The report program's work, apart from its dialog: the failing process's
// memory map, the addresses resolved to functions, files and lines with
// addr2line (binutils), and the report's text.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/crashrecord.h"

// One file-backed mapping of /proc/<pid>/maps.
struct CrashMapping {
  uintptr_t start = 0;
  uintptr_t end = 0;
  uintptr_t offset = 0;
  std::string path;
};
// Lines that are not file-backed mappings are skipped.
std::vector<CrashMapping> CrashParseMaps(std::string_view text);
// False when the process's map cannot be read.
bool CrashReadMaps(int64_t pid, std::string* text);

struct CrashFrame {
  uintptr_t pc = 0;
  std::string module;      // the file the address lies in; empty when none
  uintptr_t address = 0;   // the address as the module's symbols count it
  std::string function;    // empty when unknown
  std::string file;        // empty when unknown
  uint32_t line = 0;       // 0 when unknown
  uint32_t lineOffset = 0;    // bytes from the start of the line's code
  uint32_t symbolOffset = 0;  // bytes from the start of the function
};

// Resolves addresses of one module to {function, "file:line"} pairs, "??"
// standing for what is unknown; fewer answers than addresses leave the rest
// unknown.
using CrashSymbolizer = std::function<std::vector<std::pair<std::string, std::string>>(
    const std::string& module, const std::vector<uintptr_t>& addresses)>;
// Runs addr2line; no answers when it cannot be run.
std::vector<std::pair<std::string, std::string>> CrashAddr2Line(
    const std::string& module, const std::vector<uintptr_t>& addresses);

// For each address (as the module's symbols count it), the start of the
// function symbol of the module's symbol tables that holds it; none when
// there is no such symbol or the module cannot be read as ELF.
using CrashSymbolStarts = std::function<std::vector<std::optional<uintptr_t>>(
    const std::string& module, const std::vector<uintptr_t>& addresses)>;
std::vector<std::optional<uintptr_t>> CrashElfSymbolStarts(const std::string& module,
                                                           const std::vector<uintptr_t>& addresses);

// How far back from an address the start of its line is looked for.
constexpr uint32_t kCrashLineSearch = 128;

// The record's frames (frame 0 left out when the record says so), each placed
// in its module and resolved. A return address is looked up one byte back, so
// that it names the line of the call. The offset into the function comes from
// the symbol table; the offset into the line from the nearest address before
// it (at most kCrashLineSearch bytes back, not before the function) that the
// symbolizer places on another line.
std::vector<CrashFrame> CrashResolve(const CrashRecord& record,
                                     const std::vector<CrashMapping>& maps,
                                     const CrashSymbolizer& symbolize,
                                     const CrashSymbolStarts& symbolStarts = CrashElfSymbolStarts);

// One line per frame, numbered as the record numbers them:
//   "  1: Function(int) line 12 + 4 bytes\r\n"   a function and its line
//   "  2: Function + 26 bytes\r\n"              a function only
//   "  3: !!Unknown!!\r\n"
// or "Callstack Not Available.\n" when there is nothing to list.
std::string CrashFormatStack(const CrashRecord& record, const std::vector<CrashFrame>& frames);
// "Assertion: " text, "File: " file, "Line: " line, "Callstack:" and the
// stack, each line ended by CR LF.
std::string CrashFormatReport(const CrashRecord& record, const std::string& stack);
// The report's file in the working folder.
std::string CrashReportFileName(int64_t pid);
