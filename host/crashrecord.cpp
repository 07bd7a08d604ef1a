#include "host/crashrecord.h"

namespace {

// Appends into a fixed buffer; what does not fit is dropped.
struct CrashWriter {
  char* out;
  size_t size;
  size_t used = 0;

  void Char(char c) {
    if (used + 1 < size) out[used++] = c;
  }
  void Text(const char* s) {
    while (*s) Char(*s++);
  }
  void Escaped(const char* s) {
    for (size_t n = 0; s[n] && n < kCrashTextMax; ++n) {
      char c = s[n];
      if (c == '\\') {
        Text("\\\\");
      } else if (c == '\n') {
        Text("\\n");
      } else if (c == '\r') {
        Text("\\r");
      } else {
        Char(c);
      }
    }
  }
  void Unsigned(uint64_t v, unsigned base, int width = 0) {
    char digits[24];
    int n = 0;
    do {
      digits[n++] = "0123456789abcdef"[v % base];
      v /= base;
    } while (v);
    for (int i = n; i < width; ++i) Char(' ');
    while (n) Char(digits[--n]);
  }
  size_t End() {
    if (size) out[used < size ? used : size - 1] = '\0';
    return used;
  }
};

bool CrashParseDecimal(std::string_view s, uint64_t limit, uint64_t* out) {
  if (s.empty() || s.size() > 20) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (limit - d) / 10) return false;
    v = v * 10 + d;
  }
  *out = v;
  return true;
}

bool CrashParseHex(std::string_view s, uintptr_t* out) {
  if (s.empty() || s.size() > sizeof(uintptr_t) * 2) return false;
  uintptr_t v = 0;
  for (char c : s) {
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (d < 0) return false;
    v = v << 4 | static_cast<uintptr_t>(d);
  }
  *out = v;
  return true;
}

bool CrashUnescape(std::string_view s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out->push_back(s[i]);
      continue;
    }
    if (++i == s.size()) return false;
    switch (s[i]) {
      case '\\': out->push_back('\\'); break;
      case 'n': out->push_back('\n'); break;
      case 'r': out->push_back('\r'); break;
      default: return false;
    }
  }
  return true;
}

bool CrashParseFlag(std::string_view s, bool* out) {
  if (s != "0" && s != "1") return false;
  *out = s == "1";
  return true;
}

}  // namespace

size_t CrashFormatRecord(char* out, size_t size, const CrashRecordFields& fields) {
  CrashWriter w{out, size};
  w.Text("qor-crash 1\npid ");
  w.Unsigned(static_cast<uint64_t>(fields.pid < 0 ? 0 : fields.pid), 10);
  w.Text("\ntext ");
  w.Escaped(fields.text);
  w.Text("\nfile ");
  w.Escaped(fields.file);
  w.Text("\nline ");
  w.Unsigned(fields.line, 10);
  w.Text(fields.skipFirst ? "\nskip 1" : "\nskip 0");
  w.Text(fields.firstExact ? "\nexact 1\n" : "\nexact 0\n");
  for (int i = 0; i < fields.frameCount && i < kCrashMaxFrames; ++i) {
    w.Text("frame ");
    w.Unsigned(reinterpret_cast<uintptr_t>(fields.frames[i]), 16);
    w.Char('\n');
  }
  w.Text("end\n");
  return w.End();
}

size_t CrashFormatFallback(char* out, size_t size, const CrashRecordFields& fields) {
  CrashWriter w{out, size};
  w.Text("Assertion: ");
  w.Text(fields.text);
  w.Text("\n\nFile: ");
  w.Text(fields.file);
  w.Text("\nLine: ");
  w.Unsigned(fields.line, 10);
  w.Text("\n\nCallstack:\n");
  int first = fields.skipFirst ? 1 : 0;
  if (fields.frameCount <= first) w.Text("Callstack Not Available.\n");
  for (int i = first; i < fields.frameCount && i < kCrashMaxFrames; ++i) {
    w.Unsigned(static_cast<uint64_t>(i), 10, 3);
    w.Text(": 0x");
    w.Unsigned(reinterpret_cast<uintptr_t>(fields.frames[i]), 16);
    w.Char('\n');
  }
  return w.End();
}

bool CrashParseRecord(std::string_view input, CrashRecord* out) {
  *out = CrashRecord{};
  bool first = true, pid = false, text = false, file = false, line = false;
  while (!input.empty()) {
    size_t end = input.find('\n');
    if (end == std::string_view::npos) break;  // a line cut short is not read
    std::string_view row = input.substr(0, end);
    input = input.substr(end + 1);
    if (first) {
      if (row != "qor-crash 1") return false;
      first = false;
      continue;
    }
    if (row == "end") break;
    size_t space = row.find(' ');
    std::string_view key = row.substr(0, space);
    std::string_view value = space == std::string_view::npos ? "" : row.substr(space + 1);
    uint64_t number = 0;
    if (key == "pid") {
      if (!CrashParseDecimal(value, INT64_MAX, &number)) return false;
      out->pid = static_cast<int64_t>(number);
      pid = true;
    } else if (key == "text") {
      if (!CrashUnescape(value, &out->text)) return false;
      if (out->text.size() > kCrashTextMax) out->text.resize(kCrashTextMax);
      text = true;
    } else if (key == "file") {
      if (!CrashUnescape(value, &out->file)) return false;
      if (out->file.size() > kCrashTextMax) out->file.resize(kCrashTextMax);
      file = true;
    } else if (key == "line") {
      if (!CrashParseDecimal(value, UINT32_MAX, &number)) return false;
      out->line = static_cast<uint32_t>(number);
      line = true;
    } else if (key == "skip") {
      if (!CrashParseFlag(value, &out->skipFirst)) return false;
    } else if (key == "exact") {
      if (!CrashParseFlag(value, &out->firstExact)) return false;
    } else if (key == "frame") {
      uintptr_t pc = 0;
      if (!CrashParseHex(value, &pc)) return false;
      if (out->frames.size() < kCrashMaxFrames) out->frames.push_back(pc);
    }
    // Other keys are left for later versions of the record.
  }
  return !first && pid && text && file && line;
}
