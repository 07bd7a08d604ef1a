// Business cards and calendars into their built-in pages.
#include "content/vcalca.h"

#include <cstdarg>

#include "content/body_collect.h"
#include "kernel/config.h"
#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "kernel/uistring.h"
#include "markup/template_page.h"

namespace {

constexpr uint32_t kUtf16 = Mib::Utf16Native;
constexpr uint32_t kMaxParams = 16;
constexpr uint32_t kBodyRoom = 1u << 20;  // a card or calendar is text; more is refused

// A small formatter for paths and numbers: %s, %u, %d and %lld, cut to room.
void FormatTo(char* out, uint32_t room, const char* format, ...) {
  va_list args;
  va_start(args, format);
  uint32_t n = 0;
  auto put = [&](char c) {
    if (n + 1 < room) out[n++] = c;
  };
  auto number = [&](uint64_t v, bool negative) {
    char digits[24];
    int k = 0;
    do {
      digits[k++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v);
    if (negative) put('-');
    while (k) put(digits[--k]);
  };
  for (const char* f = format; *f; ++f) {
    if (*f != '%') {
      put(*f);
      continue;
    }
    ++f;
    if (*f == 's') {
      for (const char* t = va_arg(args, const char*); *t; ++t) put(*t);
    } else if (*f == 'u') {
      number(va_arg(args, unsigned), false);
    } else if (*f == 'd') {
      const int v = va_arg(args, int);
      number(v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v), v < 0);
    } else if (f[0] == 'l' && f[1] == 'l' && f[2] == 'd') {
      f += 2;
      const long long v = va_arg(args, long long);
      number(v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v),
             v < 0);
    }
  }
  out[n] = 0;
  va_end(args);
}

Result NoMemoryOf(uint32_t module) { return 0x80000001u | (module << 16); }

uint32_t WLen(const char16_t* s) { return s ? LibcWStrLen(s) : 0; }

char16_t Upper(char16_t c) { return (c >= 'a' && c <= 'z') ? static_cast<char16_t>(c - 32) : c; }

// The ASCII word occurs in the text (exact case).
bool Contains(const char16_t* text, const char* word) {
  const uint32_t w = LibcStrLen(word);
  for (const char16_t* p = text; *p; ++p) {
    uint32_t i = 0;
    while (i < w && p[i] && p[i] == static_cast<unsigned char>(word[i])) ++i;
    if (i == w) return true;
  }
  return false;
}

// The text begins with the ASCII word, ASCII case ignored.
bool StartsNoCase(const char16_t* text, const char* word) {
  return LibcStrWStrNICmp(word, text, LibcStrLen(word)) == 0;
}

bool EqualsNoCase(const char16_t* text, const char* word) {
  return StartsNoCase(text, word) && text[LibcStrLen(word)] == 0;
}

char16_t* WDupN(const char16_t* s, uint32_t n, uint32_t module) {
  auto* out = static_cast<char16_t*>(MemAlloc((n + 1) * 2, Use::String, module));
  if (!out) return nullptr;
  for (uint32_t i = 0; i < n; ++i) out[i] = s[i];
  out[n] = 0;
  return out;
}

char16_t* WDupAscii(const char* s, uint32_t module) {
  const uint32_t n = LibcStrLen(s);
  auto* out = static_cast<char16_t*>(MemAlloc((n + 1) * 2, Use::String, module));
  if (!out) return nullptr;
  for (uint32_t i = 0; i <= n; ++i) out[i] = static_cast<unsigned char>(s[i]);
  return out;
}

// --- Tree writing: each value by its full path ---------------------------------
Result TreeSetW(ConfigHandle* tree, const char* folder, const char* leaf, const char16_t* value,
                Result noMemory) {
  if (ConfigOpenPath(tree, folder, 0, true) != kOk) return noMemory;
  const char16_t empty[1] = {0};
  Result r = ConfigSetWString(tree, leaf, value ? value : empty);
  if (ConfigClose(tree, true) != kOk) r = noMemory;
  return r == kOk ? kOk : noMemory;
}

Result TreeFlag(ConfigHandle* tree, const char* folder, const char* leaf, Result noMemory) {
  if (ConfigOpenPath(tree, folder, 0, true) != kOk) return noMemory;
  Result r = ConfigSetInt(tree, leaf, 1);
  if (ConfigClose(tree, true) != kOk) r = noMemory;
  return r == kOk ? kOk : noMemory;
}

void TreeDelete(ConfigHandle* tree, const char* folder, const char* leaf) {
  if (ConfigOpenPath(tree, folder, 0, false) != kOk) return;
  ConfigDelete(tree, leaf, 0);
  ConfigClose(tree, true);
}

}  // namespace

// --- Field routines --------------------------------------------------------------

bool VcHexDigit(char16_t c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

uint32_t VcHexValue(char16_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

Result VcLineAppend(char16_t** buffer, uint32_t* capacity, uint32_t* length, char16_t unit,
                    uint32_t module) {
  if (!*buffer || *length + 2 > *capacity) {
    const uint32_t grown = *buffer ? *capacity + 32 : 32;
    auto* fresh = static_cast<char16_t*>(MemAlloc(grown * 2, Use::Data, module));
    if (!fresh) return NoMemoryOf(module);
    for (uint32_t i = 0; *buffer && i < *length; ++i) fresh[i] = (*buffer)[i];
    MemFree(buffer);
    *buffer = fresh;
    *capacity = grown;
  }
  (*buffer)[(*length)++] = unit;
  (*buffer)[*length] = 0;
  return kOk;
}

void VcQuotedPrintable(char16_t* value, uint32_t* count, char16_t** params) {
  uint32_t found = *count;
  for (uint32_t i = 0; i < *count; ++i)
    if (Contains(params[i], "QUOTED-PRINTABLE")) {
      found = i;
      break;
    }
  if (found == *count) return;
  for (uint32_t i = found; i + 1 < *count; ++i) params[i] = params[i + 1];
  --*count;
  char16_t* out = value;
  for (char16_t* p = value; *p;) {
    if (p[0] == '=' && VcHexDigit(p[1]) && VcHexDigit(p[2])) {
      *out++ = static_cast<char16_t>(VcHexValue(p[1]) * 16 + VcHexValue(p[2]));
      p += 3;
    } else {
      *out++ = *p++;
    }
  }
  *out = 0;
}

uint32_t VcPhoneFlags(uint32_t count, char16_t* const* params) {
  if (count == 0) return VcPhone::Voice;
  uint32_t f = 0;
  static const struct {
    const char* word;
    uint32_t bit;
  } kWords[] = {{"PREF", VcPhone::Pref}, {"HOME", VcPhone::Home}, {"WORK", VcPhone::Work},
                {"VOICE", VcPhone::Voice}, {"CELL", VcPhone::Cell}, {"FAX", VcPhone::Fax}};
  for (uint32_t i = 0; i < count; ++i)
    for (const auto& w : kWords)
      if (Contains(params[i], w.word)) f |= w.bit;
  if (!(f & VcPhone::Fax)) f |= VcPhone::Voice;
  return f;
}

uint32_t VcEmailFlags(uint32_t count, char16_t* const* params) {
  uint32_t f = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (Contains(params[i], "PREF")) f |= VcEmail::Pref;
    if (Contains(params[i], "INTERNET")) f |= VcEmail::Internet;
  }
  return f;
}

void VcSplitAddress(char16_t* value, char16_t* parts[7]) {
  for (int i = 0; i < 7; ++i) parts[i] = nullptr;
  char16_t* p = value;
  for (int i = 0; i < 7 && p; ++i) {
    parts[i] = p;
    while (*p && *p != ';') ++p;
    if (*p == ';') {
      *p++ = 0;
    } else {
      p = nullptr;
    }
  }
}

char16_t* VcFormatName(const char16_t* value, uint32_t module) {
  const char16_t* start[5] = {};
  uint32_t len[5] = {};
  const char16_t* p = value;
  for (int i = 0; i < 5 && p; ++i) {
    start[i] = p;
    while (*p && *p != ';') ++p;
    len[i] = static_cast<uint32_t>(p - start[i]);
    p = *p == ';' ? p + 1 : nullptr;
  }
  static const int kOrder[5] = {3, 1, 2, 0, 4};  // prefix given additional family suffix
  uint32_t total = 0;
  for (int i : kOrder) total += len[i] + 1;
  auto* out = static_cast<char16_t*>(MemAlloc((total + 1) * 2, Use::String, module));
  if (!out) return nullptr;
  uint32_t n = 0;
  for (int i : kOrder) {
    if (!len[i]) continue;
    if (n) out[n++] = ' ';
    for (uint32_t k = 0; k < len[i]; ++k) out[n++] = start[i][k];
  }
  out[n] = 0;
  return out;
}

uint32_t VcQueryField(const char** cursor, const char** name, uint32_t* nameLength,
                      char16_t** value, uint32_t module) {
  *value = nullptr;
  const char* p = *cursor;
  if (!p || !*p) return 3;
  const char* end = p;
  while (*end && *end != '&') ++end;
  *cursor = *end ? end + 1 : end;
  const char* eq = p;
  while (eq < end && *eq != '=') ++eq;
  if (eq == end) return 0x8003;
  for (const char* q = eq + 1; q < end; ++q)
    if (*q == '=') return 0x8003;
  *name = p;
  *nameLength = static_cast<uint32_t>(eq - p);
  const uint32_t n = static_cast<uint32_t>(end - eq - 1);
  auto* bytes = static_cast<char*>(MemAlloc(n + 1, Use::String, module));
  if (!bytes) return 1;
  uint32_t k = 0;
  for (const char* q = eq + 1; q < end; ++q) {
    if (*q == '+') {
      bytes[k++] = ' ';
    } else if (*q == '%' && q + 2 < end + 0 && VcHexDigit(static_cast<unsigned char>(q[1])) &&
               VcHexDigit(static_cast<unsigned char>(q[2]))) {
      bytes[k++] = static_cast<char>(VcHexValue(static_cast<unsigned char>(q[1])) * 16 +
                                     VcHexValue(static_cast<unsigned char>(q[2])));
      q += 2;
    } else {
      bytes[k++] = *q;
    }
  }
  bytes[k] = 0;
  char16_t* wide = nullptr;
  const Result r = LngCharsetToWide(&wide, bytes, Mib::Utf8);
  MemFree(&bytes);
  if (r != kOk) {
    MemFree(&wide);
    return 1;
  }
  if (!wide) {
    wide = static_cast<char16_t*>(MemAllocZero(2, Use::String, module));
    if (!wide) return 1;
  }
  *value = wide;
  return 0;
}

// --- The "vc" variable source ---------------------------------------------------

namespace {

constexpr uint32_t kMaxFolder = 73, kMaxLeaf = 19;

struct VcLoop {
  VcLoop* outer;  // the next older loop
  VcClient* client;
  uint32_t index;
  char16_t* value;  // the last value handed out, the source's until the next
  char basePath[kMaxFolder + 1];
  char name[kVarParseMaxName + 1];
};

}  // namespace

struct VcClient {
  ConfigHandle* tree;
  VcLoop* loops;  // newest first
  uint32_t module;
};

VcClient* VcClientNew(ConfigHandle* tree, uint32_t module) {
  auto* c = static_cast<VcClient*>(MemAllocZero(sizeof(VcClient), Use::Context, module));
  if (!c) return nullptr;
  c->tree = tree;
  c->module = module;
  return c;
}

void VcClientFree(VcClient** client) {
  if (!*client) return;
  while (VcLoop* loop = (*client)->loops) {
    (*client)->loops = loop->outer;
    MemFree(&loop->value);
    MemFree(&loop);
  }
  MemFree(client);
}

namespace {

// The innermost loop whose name is the variable's prefix (followed by its end
// or "."); the rest behind it.
VcLoop* LoopOf(VcClient* c, const char* name, const char** rest) {
  for (VcLoop* l = c->loops; l; l = l->outer) {
    const uint32_t n = LibcStrLen(l->name);
    if (LibcMemCompare(l->name, name, n) != 0) continue;
    if (name[n] != 0 && name[n] != '.') continue;
    *rest = name[n] ? name + n + 1 : name + n;
    return l;
  }
  return nullptr;
}

bool FolderExists(ConfigHandle* tree, const char* path) {
  if (ConfigOpenPath(tree, path, 0, false) != kOk) return false;
  ConfigClose(tree, false);
  return true;
}

// The value of a variable name as a new string, null when there is none.
char16_t* Resolve(VcClient* c, const char* name) {
  char path[256];
  const char* rest = name;
  VcLoop* loop = LoopOf(c, name, &rest);
  if (loop) {
    if (!*rest) {
      char num[12];
      FormatTo(num, sizeof num, "%u", loop->index);
      return WDupAscii(num, c->module);
    }
    const char* d = rest;
    while (*d >= '0' && *d <= '9') ++d;
    const bool explicitItem = d > rest && (*d == 0 || *d == '.');
    if (explicitItem)
      FormatTo(path, sizeof path, "%s%s", loop->basePath, rest);
    else
      FormatTo(path, sizeof path, "%s%u/%s", loop->basePath, loop->index, rest);
  } else {
    FormatTo(path, sizeof path, "%s", name);
  }
  const uint32_t baseLength = loop ? LibcStrLen(loop->basePath) : 0;
  for (uint32_t i = baseLength; path[i]; ++i)
    if (path[i] == '.') path[i] = '/';
  char* slash = nullptr;
  for (char* p = path; *p; ++p)
    if (*p == '/') slash = p;
  const char* leaf = slash ? slash + 1 : path;
  const uint32_t folderLength = slash ? static_cast<uint32_t>(slash - path) : 0;
  if (folderLength > kMaxFolder || LibcStrLen(leaf) > kMaxLeaf || !*leaf) return nullptr;
  if (slash) *slash = 0;
  if (folderLength && ConfigOpenPath(c->tree, path, 0, false) != kOk) return nullptr;
  char16_t* out = nullptr;
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  ConfigKind kind{};
  if (ConfigGetRaw(c->tree, leaf, 0, &data, &size, &kind) == kOk) {
    if (kind == ConfigKind::WString) {
      const char16_t* s = nullptr;
      if (ConfigGetWString(c->tree, leaf, 0, &s) == kOk && s) out = WDupN(s, LibcWStrLen(s), c->module);
    } else if (kind == ConfigKind::Int) {
      out = WDupAscii(leaf, c->module);
    } else if (kind == ConfigKind::Folder) {
      if (ConfigOpenPath(c->tree, leaf, 0, false) == kOk) {
        const char16_t* s = nullptr;
        if (ConfigGetWString(c->tree, "=", 0, &s) == kOk && s)
          out = WDupN(s, LibcWStrLen(s), c->module);
        else
          out = WDupAscii(leaf, c->module);
        ConfigClose(c->tree, false);
      }
    }
  }
  if (folderLength) ConfigClose(c->tree, false);
  return out;
}

bool ItemExists(VcLoop* l) {
  char path[96];
  FormatTo(path, sizeof path, "%s%u", l->basePath, l->index);
  return FolderExists(l->client->tree, path);
}

void* VcOpen(const char* name, void** holder, VarParseJob* job, uint32_t* charset,
             uint32_t*) {
  auto* c = static_cast<VcClient*>(VarParseGetOwner(job));
  // The tree holds the texts as they came: the template job escapes them for
  // the page, or percent-encodes them for a link.
  *charset = kUtf16 | kVarParsePlainText;
  if (!c) return nullptr;
  if (!holder) return Resolve(c, name);
  char base[256];
  const char* rest = name;
  VcLoop* outer = LoopOf(c, name, &rest);
  if (outer && *rest)
    FormatTo(base, sizeof base, "%s%u/%s/", outer->basePath, outer->index, rest);
  else
    FormatTo(base, sizeof base, "%s/", name);
  const uint32_t n = LibcStrLen(base);
  if (n >= kMaxFolder || LibcStrLen(name) > kVarParseMaxName) return nullptr;
  const uint32_t from = outer && *rest ? LibcStrLen(outer->basePath) : 0;
  for (uint32_t i = from; i < n; ++i)
    if (base[i] == '.') base[i] = '/';
  auto* l = static_cast<VcLoop*>(MemAllocZero(sizeof(VcLoop), Use::Context, c->module));
  if (!l) return nullptr;
  LibcMemCopy(l->basePath, base, n + 1);
  LibcMemCopy(l->name, name, LibcStrLen(name) + 1);
  l->client = c;
  l->index = 1;
  if (!ItemExists(l)) {
    MemFree(&l);
    return nullptr;
  }
  l->outer = c->loops;
  c->loops = l;
  *holder = l;
  return l;
}

void* VcNext(void* state, uint32_t*) {
  auto* l = static_cast<VcLoop*>(state);
  MemFree(&l->value);
  ++l->index;
  return ItemExists(l) ? l : nullptr;
}

void VcClose(void* state) {
  auto* l = static_cast<VcLoop*>(state);
  VcClient* c = l->client;
  for (VcLoop** p = &c->loops; *p; p = &(*p)->outer)
    if (*p == l) {
      *p = l->outer;
      break;
    }
  MemFree(&l->value);
  MemFree(&l);
}

void* VcProperty(void* state, const char* name, uint32_t*) {
  auto* l = static_cast<VcLoop*>(state);
  MemFree(&l->value);
  l->value = Resolve(l->client, name);
  return l->value;
}

}  // namespace

const VarParseSource kVcSourceRow = {"vc", VcOpen, VcNext, VcClose, VcProperty};
const VarParseSource kVcSources[] = {
    {"vc", VcOpen, VcNext, VcClose, VcProperty},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// --- Line assembly shared by both parsers ------------------------------------------

namespace {

// Lines folded by a leading space or tab continue; a quoted-printable line
// ending in "=" continues on the next line without it. Base64 values end in
// "=" too, so the soft break is taken only on quoted-printable lines.
template <class Process>
Result AssembleLines(const char16_t* text, uint32_t length, uint32_t module, Process process) {
  char16_t* line = nullptr;
  uint32_t capacity = 0, used = 0;
  bool atStart = true, pending = false;
  Result r = kOk;
  auto softBreak = [&]() {
    if (!pending || used == 0 || line[used - 1] != '=') return false;
    uint32_t colon = 0;
    while (colon < used && line[colon] != ':') ++colon;
    char16_t keep = line[colon < used ? colon : used];
    line[colon < used ? colon : used] = 0;
    bool qp = false;
    for (uint32_t i = 0; i < colon; ++i)
      if (StartsNoCase(line + i, "QUOTED-PRINTABLE")) qp = true;
    line[colon < used ? colon : used] = keep;
    return qp;
  };
  for (uint32_t i = 0; i < length && r == kOk; ++i) {
    const char16_t ch = text[i];
    if (atStart) {
      atStart = false;
      if (softBreak()) {
        line[--used] = 0;
      } else if (pending && ch != ' ' && ch != '\t') {
        r = process(line, used);
        used = 0;
        if (line) line[0] = 0;
        pending = false;
        if (r != kOk) break;
      }
    }
    if (ch == '\n') {
      atStart = true;
      continue;
    }
    if (ch == '\r') continue;
    pending = true;
    r = VcLineAppend(&line, &capacity, &used, ch, module);
  }
  if (r == kOk && pending && used) r = process(line, used);
  MemFree(&line);
  return r;
}

// A parameter's escapes: "\x" becomes "x".
void Unescape(char16_t* s) {
  char16_t* o = s;
  for (char16_t* p = s; *p; ++p) {
    if (*p == '\\' && p[1]) ++p;
    *o++ = *p;
  }
  *o = 0;
}

bool IsSpace(char16_t c) { return c == ' ' || (c >= 9 && c <= 13); }

// Bytes decoded from a quoted-printable value are re-read in the value's
// CHARSET (UTF-8 when it names none) when they form that set's text.
void Recode(char16_t* value, uint32_t count, char16_t* const* params) {
  bool high = false;
  for (char16_t* p = value; *p; ++p) {
    if (*p > 0xFF) return;
    if (*p >= 0x80) high = true;
  }
  if (!high) return;
  uint32_t mib = Mib::Utf8;
  for (uint32_t i = 0; i < count; ++i) {
    const char16_t* eq = nullptr;
    if (StartsNoCase(params[i], "CHARSET=")) eq = params[i] + 8;
    if (!eq) continue;
    char name[40];
    uint32_t n = 0;
    while (eq[n] && n + 1 < sizeof name && eq[n] < 0x80) {
      name[n] = static_cast<char>(eq[n]);
      ++n;
    }
    name[n] = 0;
    uint32_t found = 0;
    if (LngFindCharset(&found, name, n) == kOk) mib = found;
  }
  const uint32_t len = WLen(value);
  auto* bytes = static_cast<char*>(MemAlloc(len + 1, Use::Data, Mod::WtlVcard));
  if (!bytes) return;
  for (uint32_t i = 0; i <= len; ++i) bytes[i] = static_cast<char>(value[i]);
  char16_t* wide = nullptr;
  if (LngCharsetToWide(&wide, bytes, mib) == kOk && wide && WLen(wide) <= len) {
    const uint32_t w = WLen(wide);
    for (uint32_t i = 0; i <= w; ++i) value[i] = wide[i];
  }
  MemFree(&wide);
  MemFree(&bytes);
}

// --- vCard ------------------------------------------------------------------------

namespace Seen {
constexpr uint32_t N = 1, Fn = 2, PrefPhone = 4, PrefEmail = 8, Adr = 16, Org = 32, Title = 64,
                   Url = 128, Logo = 256, Photo = 512, Sound = 1024;
}

struct Vcard {
  ConfigHandle* tree;
  uint32_t depth, cardCount;
  bool recording, cardRecorded;
  uint32_t seen;
  uint32_t defaultPhone, phoneCount, emailCount, defaultEmail;
  char card[24];  // "vcard/<n>/"
};

Result Set(Vcard& s, const char* sub, const char* leaf, const char16_t* value) {
  char folder[96];
  FormatTo(folder, sizeof folder, "%s%s", s.card, sub);
  return TreeSetW(s.tree, folder, leaf, value, kVcardNoMemory);
}

Result Flag(Vcard& s, const char* sub, const char* leaf) {
  char folder[96];
  FormatTo(folder, sizeof folder, "%s%s", s.card, sub);
  return TreeFlag(s.tree, folder, leaf, kVcardNoMemory);
}

const char* KindOf(uint32_t f) {
  if (f & VcPhone::Home) return "home";
  if (f & VcPhone::Work) return "work";
  if (f & VcPhone::Cell) return "mobile";
  return "other";
}

Result CardTel(Vcard& s, char16_t* value, uint32_t count, char16_t** params) {
  const uint32_t f = VcPhoneFlags(count, params);
  char16_t* o = value;
  for (char16_t* p = value; *p; ++p)
    if (*p != '(' && *p != ')') *o++ = *p;
  *o = 0;
  const bool voice = (f & VcPhone::Voice) != 0;
  const bool firstPref = (f & VcPhone::Pref) && voice && !(s.seen & Seen::PrefPhone);
  const bool becomesDefault = firstPref || (voice && s.defaultPhone == 0);
  if (s.phoneCount >= 10 && !firstPref) return kOk;
  const uint32_t i = ++s.phoneCount;
  const char* kind = KindOf(f);
  Result r = kOk;
  char entry[16];
  FormatTo(entry, sizeof entry, "phone/%u", i);
  if (becomesDefault) {
    char folder[96];
    FormatTo(folder, sizeof folder, "%sphone", s.card);
    TreeDelete(s.tree, folder, "default");
    if ((r = Set(s, "phone/default", "=", value)) != kOk) return r;
    if ((r = Flag(s, "phone/default", kind)) != kOk) return r;
    if (s.defaultPhone) {
      char prev[96];
      FormatTo(prev, sizeof prev, "%sphone/%u", s.card, s.defaultPhone);
      TreeDelete(s.tree, prev, "default");
    }
    s.defaultPhone = i;
  }
  if (firstPref) s.seen |= Seen::PrefPhone;
  if ((r = Set(s, entry, "=", value)) != kOk) return r;
  if ((r = Flag(s, entry, kind)) != kOk) return r;
  if ((f & VcPhone::Pref) && (r = Flag(s, entry, "pref")) != kOk) return r;
  if (f & VcPhone::Fax)
    r = Flag(s, entry, "fax");
  else if (becomesDefault)
    r = Flag(s, entry, "default");
  if (r != kOk) return r;
  if (voice && kind[0] != 'o') r = Set(s, "phone", kind, value);
  return r;
}

Result CardEmail(Vcard& s, char16_t* value, uint32_t count, char16_t** params) {
  uint32_t f = VcEmailFlags(count, params);
  // An address without any type is an Internet one (the format's default).
  if (count == 0) f |= VcEmail::Internet;
  if (!(f & VcEmail::Internet)) return kOk;
  const bool firstPref = (f & VcEmail::Pref) && !(s.seen & Seen::PrefEmail);
  if (s.emailCount >= 10 && !firstPref) return kOk;
  const bool becomesDefault = s.emailCount == 0 || firstPref;
  const uint32_t i = ++s.emailCount;
  char entry[16];
  FormatTo(entry, sizeof entry, "email/%u", i);
  Result r = kOk;
  if (becomesDefault) {
    if ((r = Set(s, "email", "=", value)) != kOk) return r;
    if (s.defaultEmail) {
      char prev[96];
      FormatTo(prev, sizeof prev, "%semail/%u", s.card, s.defaultEmail);
      TreeDelete(s.tree, prev, "default");
    }
    s.defaultEmail = i;
  }
  if (f & VcEmail::Pref) s.seen |= Seen::PrefEmail;
  if ((r = Set(s, entry, "=", value)) != kOk) return r;
  if ((f & VcEmail::Pref) && (r = Flag(s, entry, "pref")) != kOk) return r;
  if (becomesDefault) r = Flag(s, entry, "default");
  return r;
}

Result CardLine(Vcard& s, char16_t* line, uint32_t length) {
  uint32_t colon = 0;
  while (colon < length && line[colon] != ':') ++colon;
  if (colon == length) return kOk;
  for (uint32_t i = 0; i < colon; ++i) line[i] = Upper(line[i]);
  line[colon] = 0;
  char16_t* value = line + colon + 1;
  while (IsSpace(*value)) ++value;
  if (!*value) return kOk;
  char16_t* params[kMaxParams];
  uint32_t count = 0;
  for (uint32_t i = 0; i < colon; ++i) {
    if (line[i] == ';' && (i == 0 || line[i - 1] != '\\')) {
      line[i] = 0;
      if (count < kMaxParams) params[count++] = line + i + 1;
    }
  }
  for (uint32_t i = 0; i < count; ++i) Unescape(params[i]);
  const char16_t* name = line;
  static const char* const kNames[] = {"BEGIN", "N",     "FN",   "ADR",  "EMAIL",
                                       "TEL",   "ORG",   "TITLE", "URL", "LOGO",
                                       "PHOTO", "SOUND", "END"};
  int which = -1;
  for (int i = 0; i < 13; ++i)
    if (EqualsNoCase(name, kNames[i])) which = i;
  if (which < 0) return kOk;
  const uint32_t before = count;
  VcQuotedPrintable(value, &count, params);
  if (count != before) Recode(value, count, params);
  Result r = kOk;
  switch (which) {
    case 0: {  // BEGIN
      if (!StartsNoCase(value, "vcard")) return kOk;
      if (s.depth > 0 || s.cardCount >= 10) {
        ++s.depth;
        s.recording = false;
        return kOk;
      }
      s.seen = 0;
      s.defaultPhone = s.phoneCount = s.emailCount = s.defaultEmail = 0;
      ++s.cardCount;
      FormatTo(s.card, sizeof s.card, "vcard/%u/", s.cardCount);
      s.recording = s.cardRecorded = true;
      ++s.depth;
      if (s.cardCount == 1) return TreeFlag(s.tree, "vcard/1", "first", kVcardNoMemory);
      char folder[24];
      FormatTo(folder, sizeof folder, "vcard/%u", s.cardCount);
      if (ConfigOpenPath(s.tree, folder, 0, true) != kOk) return kVcardNoMemory;
      return ConfigClose(s.tree, true) == kOk ? kOk : kVcardNoMemory;
    }
    case 12:  // END
      if (s.depth == 0) return kVcardBadStructure;
      if (--s.depth == 0) {
        s.seen = 0;
        s.recording = s.cardRecorded = false;
      } else if (s.depth == 1) {
        s.recording = s.cardRecorded;
      }
      return kOk;
    default:
      break;
  }
  if (!s.recording) return kOk;
  auto once = [&s](uint32_t bit) {
    if (s.seen & bit) return false;
    s.seen |= bit;
    return true;
  };
  switch (which) {
    case 1: {  // N
      if (!once(Seen::N)) return kOk;
      if (s.seen & Seen::Fn) return kOk;
      char16_t* name16 = VcFormatName(value, Mod::WtlVcard);
      if (!name16) return kVcardNoMemory;
      r = Set(s, "", "name", name16);
      MemFree(&name16);
      return r;
    }
    case 2:  // FN
      if (!once(Seen::Fn)) return kOk;
      return Set(s, "", "name", value);
    case 3: {  // ADR
      if (!once(Seen::Adr)) return kOk;
      if ((r = Set(s, "address", "=", value)) != kOk) return r;
      char16_t* parts[7];
      VcSplitAddress(value, parts);
      for (int i = 0; i < 7 && parts[i]; ++i) {
        char leaf[4];
        FormatTo(leaf, sizeof leaf, "%d", i + 1);
        if ((r = Set(s, "address", leaf, parts[i])) != kOk) return r;
      }
      return kOk;
    }
    case 4:
      return CardEmail(s, value, count, params);
    case 5:
      return CardTel(s, value, count, params);
    default: {
      static const struct {
        uint32_t bit;
        const char* key;
      } kFirst[] = {{Seen::Org, "org"},   {Seen::Title, "title"}, {Seen::Url, "url"},
                    {Seen::Logo, "logo"}, {Seen::Photo, "photo"}, {Seen::Sound, "sound"}};
      const auto& row = kFirst[which - 6];
      if (!once(row.bit)) return kOk;
      return Set(s, "", row.key, value);
    }
  }
}

}  // namespace

Result VcardParse(const char16_t* text, uint32_t length, ConfigHandle* tree) {
  Vcard s{};
  s.tree = tree;
  return AssembleLines(text, length, Mod::WtlVcard,
                       [&s](char16_t* line, uint32_t n) { return CardLine(s, line, n); });
}

// --- vCalendar --------------------------------------------------------------------

namespace {

enum class CalKind { Structure, Text, Date, Duration, Time, Person };
enum class Role { Attendee, Organizer, Owner };

struct Vcal {
  ConfigHandle* tree;
  uint32_t level, skip;
  bool recordingCal, inEntity, organizer, owner;
  uint32_t calendarCount, entityCount, attendeeCount;
  char entity[40];  // "vcal/<c>/entity/<e>/"
};

Result CalSet(Vcal& s, const char* sub, const char* leaf, const char16_t* value) {
  char folder[96];
  FormatTo(folder, sizeof folder, "%s%s", s.entity, sub);
  return TreeSetW(s.tree, folder, leaf, value, kVcalNoMemory);
}

Result CalSetAscii(Vcal& s, const char* sub, const char* leaf, const char* value) {
  char16_t* w = WDupAscii(value, Mod::WtlVcal);
  if (!w) return kVcalNoMemory;
  const Result r = CalSet(s, sub, leaf, w);
  MemFree(&w);
  return r;
}

bool Digits(const char16_t* v, uint32_t from, uint32_t n) {
  for (uint32_t i = from; i < from + n; ++i)
    if (v[i] < '0' || v[i] > '9') return false;
  return true;
}

Result CalDate(Vcal& s, const char* key, char16_t* value, uint32_t count, char16_t** params) {
  bool dateTime = true;
  for (uint32_t i = 0; i < count; ++i)
    if (Contains(params[i], "DATE")) dateTime = Contains(params[i], "DATE-TIME");
  const uint32_t need = dateTime ? 15 : 8;
  if (WLen(value) < need || !Digits(value, 0, 8)) return kVcalBadDate;
  if (dateTime && (!Digits(value, 9, 6))) return kVcalBadDate;
  const uint32_t month = (value[4] - '0') * 10 + (value[5] - '0');
  if (month < 1 || month > 12) return kVcalBadDate;
  const char16_t* monthName = UiGetString(11, month - 1);
  const uint32_t nameLength = WLen(monthName);
  if (nameLength > 12) return kVcalNoMemory;
  char16_t text[40];
  uint32_t n = 0;
  text[n++] = value[6];
  text[n++] = value[7];
  text[n++] = ' ';
  for (uint32_t i = 0; i < nameLength; ++i) text[n++] = monthName[i];
  text[n++] = ' ';
  for (uint32_t i = 0; i < 4; ++i) text[n++] = value[i];
  if (dateTime) {
    text[n++] = ' ';
    const uint32_t at[8] = {9, 10, 0, 11, 12, 0, 13, 14};
    for (uint32_t i = 0; i < 8; ++i) text[n++] = at[i] ? value[at[i]] : ':';
  }
  text[n] = 0;
  Result r = CalSet(s, "date", key, text);
  if (r != kOk) return r;
  if (!dateTime) value[8] = 0;
  return CalSet(s, "dateval", key, value);
}

// An ISO 8601 duration ("P1D", "PT1H30M", "-PT15M", "P2W"): display text and
// total seconds. False for a malformed one.
bool ParseDuration(const char16_t* v, char* text, uint32_t room, int64_t* seconds) {
  uint32_t i = 0, n = 0;
  int64_t sign = 1, total = 0;
  text[0] = 0;
  auto add = [&](const char* s) {
    while (*s && n + 1 < room) text[n++] = *s++;
    text[n] = 0;
  };
  if (v[i] == '+' || v[i] == '-') sign = v[i++] == '-' ? -1 : 1;
  if (Upper(v[i]) != 'P') return false;
  ++i;
  if (sign < 0) add("-");
  bool inTime = false, any = false;
  while (v[i]) {
    if (Upper(v[i]) == 'T') {
      if (inTime) return false;
      inTime = true;
      ++i;
      continue;
    }
    int64_t number = 0;
    uint32_t digits = 0;
    while (v[i] >= '0' && v[i] <= '9') {
      if (++digits > 12) return false;
      number = number * 10 + (v[i++] - '0');
    }
    if (!digits) return false;
    int64_t unit = 0;
    const char* label = nullptr;
    switch (Upper(v[i])) {
      case 'W': unit = 604800; label = " w "; if (inTime) return false; break;
      case 'D': unit = 86400; label = " d "; if (inTime) return false; break;
      case 'H': unit = 3600; label = " h "; if (!inTime) return false; break;
      case 'M': unit = 60; label = " m "; if (!inTime) return false; break;
      case 'S': unit = 1; label = " s"; if (!inTime) return false; break;
      default: return false;
    }
    ++i;
    char num[24];
    FormatTo(num, sizeof num, "%lld", static_cast<long long>(number));
    add(num);
    add(label);
    total += number * unit;
    any = true;
  }
  if (!any) return false;
  *seconds = sign * total;
  return true;
}

// A parameter "NAME=value" (case ignored over the name, blanks skipped); the
// value or null.
const char16_t* ParamValue(const char16_t* param, const char* name) {
  while (*param == ' ' || *param == '\t') ++param;
  if (!StartsNoCase(param, name)) return nullptr;
  param += LibcStrLen(name);
  while (*param == ' ' || *param == '\t') ++param;
  return param;
}

Result CalPerson(Vcal& s, Role role, char16_t* value, uint32_t count, char16_t** params) {
  bool delegate = false, rsvp = false;
  const char16_t* cn = nullptr;
  const char16_t* status = nullptr;
  const char16_t* expect = nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    const char16_t* v = nullptr;
    if ((v = ParamValue(params[i], "ROLE=")) != nullptr) {
      if (role == Role::Attendee && StartsNoCase(v, "ORGANIZER") && !s.organizer)
        role = Role::Organizer;
      else if (role == Role::Attendee && StartsNoCase(v, "OWNER") && !s.owner)
        role = Role::Owner;
      else if (StartsNoCase(v, "DELEGATE"))
        delegate = true;
    } else if ((v = ParamValue(params[i], "RSVP=")) != nullptr) {
      rsvp = StartsNoCase(v, "YES") || StartsNoCase(v, "TRUE");
    } else if ((v = ParamValue(params[i], "STATUS=")) != nullptr ||
               (v = ParamValue(params[i], "PARTSTAT=")) != nullptr) {
      status = v;
    } else if ((v = ParamValue(params[i], "EXPECT=")) != nullptr) {
      expect = v;
    } else if ((v = ParamValue(params[i], "CN=")) != nullptr) {
      cn = v;
    }
  }
  if (role == Role::Organizer && s.organizer) role = Role::Attendee;
  if (role == Role::Owner && s.owner) role = Role::Attendee;
  char16_t* name = nullptr;
  if (cn) {
    uint32_t n = WLen(cn);
    if (n >= 2 && cn[0] == '"' && cn[n - 1] == '"') {
      ++cn;
      n -= 2;
    }
    name = WDupN(cn, n, Mod::WtlVcal);
  } else {
    name = WDupN(value, WLen(value), Mod::WtlVcal);
  }
  if (!name) return kVcalNoMemory;
  Result r = kOk;
  char folder[24];
  if (role == Role::Organizer || role == Role::Owner) {
    const char* sub = role == Role::Organizer ? "organizer" : "owner";
    (role == Role::Organizer ? s.organizer : s.owner) = true;
    if ((r = CalSet(s, sub, "=", value)) == kOk) r = CalSet(s, sub, "cn", name);
  } else if (s.attendeeCount < 10) {
    FormatTo(folder, sizeof folder, "attendee/%u", ++s.attendeeCount);
    if ((r = CalSet(s, folder, "=", value)) == kOk) r = CalSet(s, folder, "cn", name);
    char path[96];
    FormatTo(path, sizeof path, "%s%s", s.entity, folder);
    if (r == kOk && delegate) r = TreeFlag(s.tree, path, "delegate", kVcalNoMemory);
    if (r == kOk && rsvp) r = TreeFlag(s.tree, path, "rsvp", kVcalNoMemory);
    if (r == kOk && status) r = CalSet(s, folder, "status", status);
    if (r == kOk && expect) r = CalSet(s, folder, "expect", expect);
  }
  MemFree(&name);
  return r;
}

struct CalProperty {
  const char* name;
  CalKind kind;
  const char* key;
  Role role;
};

const CalProperty kCalProperties[] = {
    {"BEGIN", CalKind::Structure, "", Role::Attendee},
    {"LOCATION", CalKind::Text, "location", Role::Attendee},
    {"SUMMARY", CalKind::Text, "summary", Role::Attendee},
    {"DESCRIPTION", CalKind::Text, "description", Role::Attendee},
    {"CATEGORY", CalKind::Text, "category", Role::Attendee},
    {"COMMENT", CalKind::Text, "comment", Role::Attendee},
    {"STATUS", CalKind::Text, "status", Role::Attendee},
    {"COMPLETED", CalKind::Date, "completed", Role::Attendee},
    {"DTSTART", CalKind::Date, "start", Role::Attendee},
    {"DTEND", CalKind::Date, "end", Role::Attendee},
    {"DUE", CalKind::Date, "due", Role::Attendee},
    {"LAST-MODIFIED", CalKind::Date, "lastmod", Role::Attendee},
    {"DURATION", CalKind::Duration, "duration", Role::Attendee},
    {"TIME", CalKind::Time, "time", Role::Attendee},
    {"ATTENDEE", CalKind::Person, "", Role::Attendee},
    {"ORGANIZER", CalKind::Person, "", Role::Organizer},
    {"OWNER", CalKind::Person, "", Role::Owner},
};

Result CalBegin(Vcal& s, const char16_t* value) {
  if (s.level == 0) {
    if (!StartsNoCase(value, "vcalendar")) return kVcardBadStructure;
    s.level = 1;
    if (s.calendarCount >= 5) return kOk;
    ++s.calendarCount;
    s.entityCount = 0;
    s.recordingCal = true;
    char folder[16];
    FormatTo(folder, sizeof folder, "vcal/%u", s.calendarCount);
    if (ConfigOpenPath(s.tree, folder, 0, true) != kOk) return kVcalNoMemory;
    return ConfigClose(s.tree, true) == kOk ? kOk : kVcalNoMemory;
  }
  const bool todo = StartsNoCase(value, "vtodo"), event = StartsNoCase(value, "vevent");
  if (s.level != 1 || !(todo || event)) {
    // The other components of real calendar files (alarms inside entries,
    // time zones with their parts, journals, free/busy times) are passed
    // over with their properties rather than failing the whole file; any
    // other BEGIN, a nested VCALENDAR too, breaks the structure.
    static const char* const kPassedOver[] = {"valarm", "vtimezone", "vjournal", "vfreebusy"};
    bool known = s.skip > 0;
    for (const char* name : kPassedOver) known = known || StartsNoCase(value, name);
    if (s.level >= 1 && !todo && !event && known) {
      ++s.skip;
      return kOk;
    }
    return kVcardBadStructure;
  }
  s.level = 2;
  if (!s.recordingCal || s.entityCount >= 5) return kOk;
  s.attendeeCount = 0;
  s.inEntity = true;
  ++s.entityCount;
  FormatTo(s.entity, sizeof s.entity, "vcal/%u/entity/%u/", s.calendarCount, s.entityCount);
  char folder[40];
  FormatTo(folder, sizeof folder, "vcal/%u/entity/%u", s.calendarCount, s.entityCount);
  return TreeFlag(s.tree, folder, todo ? "todo" : "event", kVcalNoMemory);
}

Result CalEnd(Vcal& s) {
  if (s.skip) {
    --s.skip;
    return kOk;
  }
  if (s.level == 0) return kVcardBadStructure;
  if (s.level == 2) s.inEntity = s.organizer = s.owner = false;
  if (s.level == 1) s.recordingCal = false;
  --s.level;
  return kOk;
}

Result CalLine(Vcal& s, char16_t* line, uint32_t length) {
  // The name ends at the first ":" or ";" outside double quotes.
  bool quoted = false;
  uint32_t i = 0;
  for (; i < length; ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (!quoted && (line[i] == ':' || line[i] == ';')) break;
  }
  if (i == length) return kOk;
  char16_t* params[kMaxParams];
  uint32_t count = 0;
  uint32_t colon = i;
  if (line[i] == ';') {
    quoted = false;
    uint32_t start = i + 1;
    for (colon = i + 1; colon < length; ++colon) {
      if (line[colon] == '"') quoted = !quoted;
      if (quoted) continue;
      if (line[colon] == ':') break;
      if (line[colon] == ';' && line[colon - 1] != '\\') {
        line[colon] = 0;
        if (count < kMaxParams) params[count++] = line + start;
        start = colon + 1;
      }
    }
    if (colon == length) return kOk;
    if (count < kMaxParams) params[count++] = line + start;
    for (uint32_t k = i + 1; k < colon; ++k) line[k] = Upper(line[k]);
  }
  line[i] = 0;
  line[colon] = 0;
  char16_t* value = line + colon + 1;
  while (IsSpace(*value)) ++value;
  const bool qp = count > 0 && Contains(params[count - 1], "QUOTED-PRINTABLE");
  for (uint32_t k = 0; k < count; ++k) Unescape(params[k]);
  if (!qp) {
    // Value escapes: "\n" and "\N" a line break, "\r" and "\t" likewise,
    // "\x" the character itself; a trailing "\" stays.
    char16_t* o = value;
    for (char16_t* p = value; *p; ++p) {
      if (*p == '\\' && p[1]) {
        ++p;
        const char16_t c = Upper(*p);
        *o++ = c == 'N' ? u'\n' : c == 'R' ? u'\r' : c == 'T' ? u'\t' : *p;
      } else {
        *o++ = *p;
      }
    }
    *o = 0;
  }
  if (!*value) return kOk;
  if (EqualsNoCase(line, "END")) return CalEnd(s);
  const CalProperty* prop = nullptr;
  for (const CalProperty& p : kCalProperties)
    if (EqualsNoCase(line, p.name)) prop = &p;
  if (!prop) return kOk;
  const uint32_t before = count;
  VcQuotedPrintable(value, &count, params);
  if (count != before) Recode(value, count, params);
  if (prop->kind == CalKind::Structure) return CalBegin(s, value);
  if (!s.inEntity || s.skip) return kOk;
  switch (prop->kind) {
    case CalKind::Text:
      return CalSet(s, "", prop->key, value);
    case CalKind::Date:
      return CalDate(s, prop->key, value, count, params);
    case CalKind::Time: {
      if (WLen(value) < 6) return kVcalBadDate;
      char16_t text[9] = {value[0], value[1], ':', value[2], value[3], ':', value[4], value[5], 0};
      return CalSet(s, "", "time", text);
    }
    case CalKind::Duration: {
      char text[64];
      int64_t seconds = 0;
      if (!ParseDuration(value, text, sizeof text, &seconds)) return kVcalBadDate;
      Result r = CalSetAscii(s, "", "duration", text);
      char num[24];
      FormatTo(num, sizeof num, "%lld", static_cast<long long>(seconds));
      if (r == kOk) r = CalSetAscii(s, "", "durationsec", num);
      return r;
    }
    case CalKind::Person:
      return CalPerson(s, prop->role, value, count, params);
    default:
      return kOk;
  }
}

}  // namespace

Result VcalParse(const char16_t* text, uint32_t length, ConfigHandle* tree) {
  Vcal s{};
  s.tree = tree;
  return AssembleLines(text, length, Mod::WtlVcal,
                       [&s](char16_t* line, uint32_t n) { return CalLine(s, line, n); });
}

// --- The rows ---------------------------------------------------------------------

namespace {

// The body's character set from its first bytes: a byte-order mark decides
// (its length stored in *skip); else the load's own character set; else a
// zero byte among the first two, which only UTF-16 text has; else UTF-8.
uint32_t DetectBodyCharset(const uint8_t* bytes, uint32_t size, uint32_t charset, uint32_t* skip,
                           uint32_t module) {
  *skip = 0;
  const uint32_t head = size < 3 ? size : 3;
  uint32_t found = 0;
  if (head) {
    UtilDataChunk* chunk = UtilDataChunkNew(bytes, head, module);
    if (!chunk) return charset ? charset : Mib::Utf8;
    Queue queue{};
    QueueAppend(&queue, &chunk->link);
    LngChainCursor cursor;
    LngChainCursorInit(&cursor, &queue);
    // The whole body is here: a guess still wanting bytes has none to come.
    if (!LngDetectCharset(&found, &cursor)) found = 0;
    *skip = head - UtilDataChunkQueueBytes(&queue);
    UtilDataChunkFreeQueue(&queue);
  }
  if (*skip) return found;
  if (charset) return charset;
  return found ? found : Mib::Utf8;
}

}  // namespace

Result VcDecodeBody(const uint8_t* bytes, uint32_t size, uint32_t charset, char16_t** out,
                    uint32_t* length, uint32_t module) {
  *out = nullptr;
  *length = 0;
  uint32_t skip = 0;
  charset = DetectBodyCharset(bytes, size, charset, &skip, module);
  const bool le = charset == Mib::Utf16Le, be = charset == Mib::Utf16Be;
  if (le || be) {
    const uint32_t n = (size - skip) / 2;
    auto* w = static_cast<char16_t*>(MemAlloc((n + 1) * 2, Use::String, module));
    if (!w) return NoMemoryOf(module);
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t a = bytes[skip + 2 * i], b = bytes[skip + 2 * i + 1];
      w[i] = static_cast<char16_t>(le ? a | (b << 8) : (a << 8) | b);
    }
    w[n] = 0;
    *out = w;
    *length = WLen(w);
    return kOk;
  }
  auto* text = static_cast<char*>(MemAlloc(size - skip + 1, Use::Data, module));
  if (!text) return NoMemoryOf(module);
  LibcMemCopy(text, bytes + skip, size - skip);
  text[size - skip] = 0;
  char16_t* w = nullptr;
  Result r = LngCharsetToWide(&w, text, charset);
  if (r == kLngNoConverter) r = LngCharsetToWide(&w, text, Mib::Latin1);
  MemFree(&text);
  if (r != kOk) {
    MemFree(&w);
    return NoMemoryOf(module);
  }
  *out = w;
  *length = WLen(w);
  return kOk;
}

namespace {

using ParseFn = Result (*)(const char16_t*, uint32_t, ConfigHandle*);

// The row's state on its load: the body while it comes, then the tree and
// its source while the page is filled.
struct VcRow {
  ContentBody body;
  ConfigHandle* tree;
  VcClient* client;
  bool filling;
};

void RowFree(UrlLoad* load) {
  auto* row = static_cast<VcRow*>(load->handlerState);
  if (!row) return;
  // The job goes first: it closes its loops with the source.
  if (row->filling) UtilTemplatePageCancel(load);
  VcClientFree(&row->client);
  if (row->tree) ConfigFreeHandle(&row->tree);
  ContentBodyFree(&row->body);
  MemFree(&row);
  load->handlerState = nullptr;
}

// The page is whole (or failed): the load carries it on as HTML. A page
// that lost some of itself fails as the row's out of memory.
Result RowEnd(UrlLoad* load, Result r, Result noMemory) {
  RowFree(load);
  if (r == kUtilNoMemory) return noMemory;
  if (r != kOk) return r;
  load->contentRow = UrlFindContentTypeById(2);
  load->typeId = 2;
  while (QueueNode* block = QueuePopFront(&load->input)) UrlLoadAddOutput(load, block);
  load->events |= UrlEvent::Complete;
  return kOk;
}

// Gathers the body; once it is whole, parses it and fills the page, which
// the load then carries as HTML.
Result RowProcess(UrlLoad* load, uint32_t module, ParseFn parse, const char* page) {
  const Result noMemory = NoMemoryOf(module);
  if (!load->handlerState) load->handlerState = MemAllocZero(sizeof(VcRow), Use::Data, module);
  auto* row = static_cast<VcRow*>(load->handlerState);
  if (!row) return noMemory;
  Result r = kOk;
  if (row->filling) return UtilTemplatePagePending(load, &r) ? kOk : RowEnd(load, r, noMemory);
  ContentBodyState state = ContentBodyState::Collecting;
  // A body past the row's room is one the row has no memory for; the
  // structure codes stay for what the text itself gets wrong.
  r = ContentBodyCollect(&row->body, load, kBodyRoom, module, noMemory, noMemory, &state);
  if (r == kOk && state == ContentBodyState::Collecting) return kOk;
  char16_t* text = nullptr;
  uint32_t length = 0;
  if (r == kOk)
    r = VcDecodeBody(row->body.bytes, row->body.size, load->charset, &text, &length, module);
  ContentBodyFree(&row->body);
  if (r == kOk && ConfigCreate(&row->tree) != kOk) r = noMemory;
  if (r == kOk && text) r = parse(text, length, row->tree);
  MemFree(&text);
  if (r == kOk && !(row->client = VcClientNew(row->tree, module))) r = noMemory;
  if (r == kOk) r = UtilLoadTemplatePage(load, row->client, page);
  if (r == kOk && UtilTemplatePagePending(load, &r)) {
    row->filling = true;
    return kOk;
  }
  return RowEnd(load, r, noMemory);
}

Result RowRelease(UrlLoad* load) {
  RowFree(load);
  return kOk;
}

}  // namespace

Result VcardContentProcess(UrlModuleContext*, UrlLoad* load) {
  return RowProcess(load, Mod::WtlVcard, VcardParse, "vcalca/vcard.html");
}
Result VcardContentRelease(UrlModuleContext*, UrlLoad* load) { return RowRelease(load); }
Result VcalContentProcess(UrlModuleContext*, UrlLoad* load) {
  return RowProcess(load, Mod::WtlVcal, VcalParse, "vcalca/vcalendar.html");
}
Result VcalContentRelease(UrlModuleContext*, UrlLoad* load) { return RowRelease(load); }
