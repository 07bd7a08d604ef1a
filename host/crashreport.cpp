#include "host/crashreport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

extern char** environ;

namespace {

bool CrashHex(std::string_view s, uintptr_t* out) {
  if (s.empty() || s.size() > sizeof(uintptr_t) * 2) return false;
  uintptr_t v = 0;
  for (char c : s) {
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : -1;
    if (d < 0) return false;
    v = v << 4 | static_cast<uintptr_t>(d);
  }
  *out = v;
  return true;
}

// The next blank-separated field of a maps line.
std::string_view CrashField(std::string_view* rest) {
  size_t b = rest->find_first_not_of(' ');
  if (b == std::string_view::npos) {
    *rest = {};
    return {};
  }
  *rest = rest->substr(b);
  size_t e = rest->find(' ');
  std::string_view field = rest->substr(0, e);
  *rest = e == std::string_view::npos ? std::string_view() : rest->substr(e);
  return field;
}

// Executables at a fixed address count their symbols by the address itself;
// position-independent ones from their load address.
bool CrashFixedAddress(const std::string& module) {
  unsigned char header[18] = {};
  std::ifstream in(module, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return false;
  if (header[0] != 0x7F || header[1] != 'E' || header[2] != 'L' || header[3] != 'F') return false;
  unsigned type = header[5] == 2 ? header[16] << 8 | header[17] : header[17] << 8 | header[16];
  return type == 2;  // ET_EXEC
}

void CrashSplitLocation(const std::string& location, CrashFrame* frame) {
  std::string where = location.substr(0, location.find(" (discriminator"));
  size_t colon = where.rfind(':');
  if (colon == std::string::npos) return;
  std::string file = where.substr(0, colon);
  if (file != "??") frame->file = file;
  uint64_t line = 0;
  for (size_t i = colon + 1; i < where.size() && where[i] >= '0' && where[i] <= '9'; ++i)
    if ((line = line * 10 + static_cast<uint64_t>(where[i] - '0')) > UINT32_MAX) return;
  frame->line = static_cast<uint32_t>(line);
}

// Little-endian fields of an ELF file, read at their offsets; a read past
// the end of the file fails.
struct CrashElf {
  std::ifstream in;
  bool wide = false;  // 64-bit

  bool Read(uint64_t at, void* out, size_t n) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(at));
    return static_cast<bool>(in.read(static_cast<char*>(out), static_cast<std::streamsize>(n)));
  }
  static uint64_t Field(const unsigned char* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = n; i-- > 0;) v = v << 8 | p[i];
    return v;
  }
};

}  // namespace

std::vector<std::optional<uintptr_t>> CrashElfSymbolStarts(const std::string& module,
                                                           const std::vector<uintptr_t>& addresses) {
  std::vector<std::optional<uintptr_t>> starts(addresses.size());
  CrashElf elf;
  elf.in.open(module, std::ios::binary);
  unsigned char header[64] = {};
  if (!elf.in || !elf.Read(0, header, 52)) return starts;
  if (header[0] != 0x7F || header[1] != 'E' || header[2] != 'L' || header[3] != 'F' ||
      header[5] != 1 || (header[4] != 1 && header[4] != 2))
    return starts;
  elf.wide = header[4] == 2;
  if (elf.wide && !elf.Read(0, header, 64)) return starts;
  const uint64_t shoff = elf.wide ? CrashElf::Field(header + 0x28, 8) : CrashElf::Field(header + 0x20, 4);
  const uint64_t shentsize = CrashElf::Field(header + (elf.wide ? 0x3A : 0x2E), 2);
  const uint64_t shnum = CrashElf::Field(header + (elf.wide ? 0x3C : 0x30), 2);
  const size_t symSize = elf.wide ? 24 : 16;
  if (shentsize < (elf.wide ? 64u : 40u)) return starts;
  // One pass over the symbol tables answers every address.
  for (uint64_t i = 0; i < shnum; ++i) {
    unsigned char sh[64];
    if (!elf.Read(shoff + i * shentsize, sh, elf.wide ? 64 : 40)) break;
    const uint64_t type = CrashElf::Field(sh + 4, 4);
    if (type != 2 && type != 11) continue;  // the symbol table, the dynamic symbols
    const uint64_t offset = elf.wide ? CrashElf::Field(sh + 0x18, 8) : CrashElf::Field(sh + 0x10, 4);
    const uint64_t size = elf.wide ? CrashElf::Field(sh + 0x20, 8) : CrashElf::Field(sh + 0x14, 4);
    std::vector<unsigned char> chunk(symSize * 4096);
    for (uint64_t at = 0; at + symSize <= size;) {
      const uint64_t n = std::min<uint64_t>(chunk.size(), (size - at) / symSize * symSize);
      if (!elf.Read(offset + at, chunk.data(), n)) break;
      for (uint64_t k = 0; k < n; k += symSize) {
        const unsigned char* s = chunk.data() + k;
        const unsigned info = elf.wide ? s[4] : s[12];
        const uint64_t value = elf.wide ? CrashElf::Field(s + 8, 8) : CrashElf::Field(s + 4, 4);
        const uint64_t length = elf.wide ? CrashElf::Field(s + 16, 8) : CrashElf::Field(s + 8, 4);
        if ((info & 0xF) != 2 || length == 0) continue;  // functions only
        for (size_t a = 0; a < addresses.size(); ++a)
          if (addresses[a] >= value && addresses[a] - value < length &&
              (!starts[a] || value > *starts[a]))
            starts[a] = static_cast<uintptr_t>(value);
      }
      at += n;
    }
  }
  return starts;
}

std::vector<CrashMapping> CrashParseMaps(std::string_view text) {
  std::vector<CrashMapping> maps;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view rest = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    std::string_view range = CrashField(&rest);
    CrashField(&rest);  // permissions
    std::string_view offset = CrashField(&rest);
    CrashField(&rest);  // device
    CrashField(&rest);  // inode
    size_t b = rest.find_first_not_of(' ');
    if (b == std::string_view::npos || rest[b] != '/') continue;
    CrashMapping m;
    size_t dash = range.find('-');
    if (dash == std::string_view::npos || !CrashHex(range.substr(0, dash), &m.start) ||
        !CrashHex(range.substr(dash + 1), &m.end) || !CrashHex(offset, &m.offset) ||
        m.end <= m.start)
      continue;
    m.path = std::string(rest.substr(b));
    maps.push_back(std::move(m));
  }
  return maps;
}

bool CrashReadMaps(int64_t pid, std::string* text) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  *text = all.str();
  return !text->empty();
}

std::vector<std::pair<std::string, std::string>> CrashAddr2Line(
    const std::string& module, const std::vector<uintptr_t>& addresses) {
  std::vector<std::pair<std::string, std::string>> answers;
  std::vector<std::string> args = {"addr2line", "-C", "-f", "-e", module};
  for (uintptr_t a : addresses) {
    char hex[2 + sizeof(uintptr_t) * 2 + 1];
    std::snprintf(hex, sizeof hex, "0x%jx", static_cast<uintmax_t>(a));
    args.emplace_back(hex);
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return answers;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, "addr2line", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  std::string out;
  if (spawned == 0) {
    char buf[4096];
    for (;;) {
      ssize_t n = ::read(fds[0], buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  ::close(fds[0]);
  std::istringstream lines(out);
  std::string function, location;
  while (answers.size() < addresses.size() && std::getline(lines, function) &&
         std::getline(lines, location))
    answers.emplace_back(function, location);
  return answers;
}

std::vector<CrashFrame> CrashResolve(const CrashRecord& record,
                                     const std::vector<CrashMapping>& maps,
                                     const CrashSymbolizer& symbolize,
                                     const CrashSymbolStarts& symbolStarts) {
  std::vector<CrashFrame> frames;
  std::map<std::string, std::vector<size_t>> byModule;
  std::map<std::string, bool> fixed;
  for (size_t i = record.skipFirst ? 1 : 0; i < record.frames.size(); ++i) {
    CrashFrame frame;
    frame.pc = record.frames[i];
    uintptr_t lookup = frame.pc - (i == 0 && record.firstExact ? 0 : 1);
    const CrashMapping* found = nullptr;
    for (const CrashMapping& m : maps)
      if (lookup >= m.start && lookup < m.end) found = &m;
    if (found) {
      frame.module = found->path;
      uintptr_t base = found->start - found->offset;
      for (const CrashMapping& m : maps)
        if (m.path == found->path && m.offset == 0) base = m.start;
      if (!fixed.count(frame.module)) fixed[frame.module] = CrashFixedAddress(frame.module);
      frame.address = fixed[frame.module] ? lookup : lookup - base;
      byModule[frame.module].push_back(frames.size());
    }
    frames.push_back(std::move(frame));
  }
  if (!symbolize) return frames;
  for (const auto& [module, indices] : byModule) {
    std::vector<uintptr_t> addresses;
    for (size_t i : indices) addresses.push_back(frames[i].address);
    std::vector<std::pair<std::string, std::string>> answers = symbolize(module, addresses);
    for (size_t k = 0; k < indices.size() && k < answers.size(); ++k) {
      CrashFrame& frame = frames[indices[k]];
      if (answers[k].first != "??") frame.function = answers[k].first;
      CrashSplitLocation(answers[k].second, &frame);
    }
  }
  // Where each function starts, and which addresses before a frame's own
  // belong to its line: one more question per module.
  std::vector<uintptr_t> lowest(frames.size());
  for (const auto& [module, indices] : byModule) {
    std::vector<uintptr_t> own;
    for (size_t i : indices) own.push_back(frames[i].address);
    std::vector<std::optional<uintptr_t>> starts;
    if (symbolStarts) starts = symbolStarts(module, own);
    std::vector<uintptr_t> before;
    for (size_t k = 0; k < indices.size(); ++k) {
      CrashFrame& frame = frames[indices[k]];
      const size_t i = indices[k];
      const bool known = !frame.function.empty() && k < starts.size() && starts[k] &&
                         *starts[k] <= frame.address;
      const uintptr_t begin = known ? *starts[k] : 0;
      if (known) frame.symbolOffset = static_cast<uint32_t>(
          std::min<uintptr_t>(frame.address - begin, UINT32_MAX));
      if (frame.line == 0) continue;
      uintptr_t floor = frame.address > kCrashLineSearch ? frame.address - kCrashLineSearch : 0;
      if (known && begin > floor) floor = begin;
      lowest[i] = floor;
      for (uintptr_t a = frame.address; a-- > floor;) before.push_back(a);
    }
    if (before.empty()) continue;
    std::vector<std::pair<std::string, std::string>> answers = symbolize(module, before);
    size_t k = 0;
    for (size_t i : indices) {
      CrashFrame& frame = frames[i];
      if (frame.line == 0) continue;
      uintptr_t first = frame.address;
      bool same = true;
      for (uintptr_t a = frame.address; a-- > lowest[i]; ++k) {
        if (!same) continue;
        CrashFrame there;
        if (k < answers.size()) CrashSplitLocation(answers[k].second, &there);
        same = there.line == frame.line && there.file == frame.file;
        if (same) first = a;
      }
      frame.lineOffset = static_cast<uint32_t>(frame.address - first);
    }
  }
  return frames;
}

std::string CrashFormatStack(const CrashRecord& record, const std::vector<CrashFrame>& frames) {
  if (frames.empty()) return "Callstack Not Available.\n";
  std::string stack;
  int n = record.skipFirst ? 1 : 0;
  for (const CrashFrame& frame : frames) {
    char head[16];
    std::snprintf(head, sizeof head, "%3d: ", n++);
    stack += head;
    if (frame.function.empty()) {
      stack += "!!Unknown!!\r\n";
      continue;
    }
    char tail[64];
    if (frame.line != 0)
      std::snprintf(tail, sizeof tail, " line %u + %u bytes\r\n", frame.line, frame.lineOffset);
    else
      std::snprintf(tail, sizeof tail, " + %u bytes\r\n", frame.symbolOffset);
    stack += frame.function + tail;
  }
  return stack;
}

std::string CrashFormatReport(const CrashRecord& record, const std::string& stack) {
  return "Assertion: " + record.text + "\r\n\r\nFile: " + record.file +
         "\r\nLine: " + std::to_string(record.line) + "\r\n\r\nCallstack:\r\n" + stack;
}

std::string CrashReportFileName(int64_t pid) { return "crash-" + std::to_string(pid) + ".txt"; }
