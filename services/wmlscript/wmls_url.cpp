// The URL library. URLs are parsed, resolved and rendered by the fetch
// layer; the script sees them as UTF-16, the fetch layer as UTF-8.
#include <cstring>

#include "browser/bentask.h"
#include "browser/url.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_internal.h"
#include "services/wmlscript/wmls_task.h"

char* WmlsWideToNarrow(const char16_t* text, uint32_t count) {
  const uint32_t room = count * 3 + 1;
  char* out = static_cast<char*>(MemAlloc(room, Use::String, Mod::WmlsExec));
  if (!out) return nullptr;
  uint32_t written = room - 1;
  const uint32_t used = LngUtf8Encode(text, count, reinterpret_cast<uint8_t*>(out), &written);
  // A lone high surrogate at the end has no UTF-8 form; it is left out.
  (void)used;
  out[written] = 0;
  return out;
}

char16_t* WmlsFromUtf8(const char* text, uint32_t count) {
  char16_t* out = static_cast<char16_t*>(MemAlloc((count + 1) * 2, Use::String, Mod::WmlsExec));
  if (!out) return nullptr;
  uint32_t written = count;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text);
  uint32_t used = LngUtf8Decode(bytes, count, out, &written);
  // A sequence cut short at the end decodes as one replacement per byte.
  while (used < count && written < count) {
    out[written++] = 0xFFFD;
    ++used;
  }
  out[written] = 0;
  return out;
}

namespace {

char* Dup8(const char* s, uint32_t n) {
  char* out = static_cast<char*>(MemAlloc(n + 1, Use::String, Mod::WmlsExec));
  if (!out) return nullptr;
  std::memcpy(out, s, n);
  out[n] = 0;
  return out;
}

bool SameText(const char* a, const char* b) {
  if (!a || !b) return a == b;
  return std::strcmp(a, b) == 0;
}

}  // namespace

char* WmlsRelativeUrl(const char* target, const char* base) {
  const uint32_t targetLength = static_cast<uint32_t>(std::strlen(target));
  if (!base) return Dup8(target, targetLength);
  UrlParsed t{}, b{};
  if (UrlParse(&t, target, 0) != 0 || UrlParse(&b, base, 0) != 0 || !t.scheme || !b.scheme ||
      !SameText(t.scheme, b.scheme) || !SameText(t.host, b.host) || t.port != b.port ||
      t.portGiven != b.portGiven) {
    UrlFreeParsed(&t);
    UrlFreeParsed(&b);
    return Dup8(target, targetLength);
  }
  const char* tp = t.path ? t.path : "/";
  const char* bp = b.path ? b.path : "/";
  // The common leading directories (whole segments up to a "/").
  uint32_t common = 0;
  for (uint32_t i = 0; tp[i] && tp[i] == bp[i]; ++i) {
    if (tp[i] == '/') common = i + 1;
  }
  uint32_t ups = 0;
  for (const char* p = bp + common; *p; ++p) {
    if (*p == '/') ++ups;
  }
  const char* rest = tp + common;
  const uint32_t restLength = static_cast<uint32_t>(std::strlen(rest));
  const uint32_t paramsLength = t.params ? static_cast<uint32_t>(std::strlen(t.params)) + 1 : 0;
  const uint32_t queryLength = t.query ? static_cast<uint32_t>(std::strlen(t.query)) + 1 : 0;
  const uint32_t fragmentLength = t.fragment ? static_cast<uint32_t>(std::strlen(t.fragment)) + 1 : 0;
  const uint32_t total = ups * 3 + restLength + paramsLength + queryLength + fragmentLength;
  char* out = static_cast<char*>(MemAlloc(total + 2, Use::String, Mod::WmlsExec));
  if (out) {
    char* w = out;
    for (uint32_t i = 0; i < ups; ++i, w += 3) std::memcpy(w, "../", 3);
    std::memcpy(w, rest, restLength);
    w += restLength;
    // The same document: "./" keeps a bare parameter or query a path.
    if (w == out && (t.params || t.query)) *w++ = '.';
    if (t.params) {
      *w++ = ';';
      std::memcpy(w, t.params, paramsLength - 1);
      w += paramsLength - 1;
    }
    if (t.query) {
      *w++ = '?';
      std::memcpy(w, t.query, queryLength - 1);
      w += queryLength - 1;
    }
    if (t.fragment) {
      *w++ = '#';
      std::memcpy(w, t.fragment, fragmentLength - 1);
      w += fragmentLength - 1;
    }
    *w = 0;
  }
  UrlFreeParsed(&t);
  UrlFreeParsed(&b);
  return out;
}

namespace {

void Invalid(WmlsRunContext* ctx) { ctx->result = WmlsMakeInvalid(); }
void NoMemory(WmlsRunContext* ctx) {
  ctx->status = WmlsStatus::NoMemory;
  ctx->result = WmlsMakeInvalid();
}
// Hands an owned text to the result cell; null stops the run for memory.
void TakeText(WmlsRunContext* ctx, char16_t* text) {
  if (!text) return NoMemory(ctx);
  ctx->result = {WmlsType::String, reinterpret_cast<uintptr_t>(text), 0};
}
void SetEmpty(WmlsRunContext* ctx) {
  if (!WmlsValueSetString(&ctx->result, u"", 0)) ctx->status = WmlsStatus::NoMemory;
}
void TakeUtf8(WmlsRunContext* ctx, char* text) {
  if (!text) return NoMemory(ctx);
  char16_t* wide = WmlsFromUtf8(text, static_cast<uint32_t>(std::strlen(text)));
  MemFree(&text);
  TakeText(ctx, wide);
}

WmlsTaskContext* Task(WmlsRunContext* ctx) { return static_cast<WmlsTaskContext*>(ctx->scriptTask); }

bool Alnum(uint32_t c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

bool ValidUrl(const char16_t* s, uint32_t n) {
  if (!s || !n) return false;
  for (uint32_t i = 0; i < n; ++i) {
    const char16_t c = s[i];
    if (Alnum(c)) continue;
    if (c == '%') {
      if (i + 2 >= n || WmlsHexDigit(s[i + 1]) < 0 || WmlsHexDigit(s[i + 2]) < 0) return false;
      i += 2;
      continue;
    }
    if (c == ':') {
      if (i + 1 >= n || !(s[i + 1] == '/' || (s[i + 1] >= '0' && s[i + 1] <= '9'))) return false;
      continue;
    }
    if (c < 0x80 && c && std::strchr("*@-_+./\\;?=&#(),", static_cast<char>(c))) continue;
    return false;
  }
  return true;
}

using Text = WmlsTextArg;

void IsValid(WmlsRunContext* ctx, WmlsValue** a) {
  if (a[0]->type == WmlsType::Invalid) return Invalid(ctx);
  if (a[0]->type != WmlsType::String) {
    ctx->result = WmlsMakeBool(false);
    return;
  }
  const char16_t* s = WmlsStr(*a[0]);
  ctx->result = WmlsMakeBool(ValidUrl(s, WmlsLen(s)));
}

enum class Part { Scheme, Host, Port, Path, Params, Query, Fragment };

void Component(WmlsRunContext* ctx, const WmlsValue* v, Part part) {
  if (v->type != WmlsType::String) return Invalid(ctx);
  const char16_t* s = WmlsStr(*v);
  const uint32_t n = WmlsLen(s);
  if (!ValidUrl(s, n)) return Invalid(ctx);
  char* text = WmlsWideToNarrow(s, n);
  if (!text) return NoMemory(ctx);
  UrlParsed url{};
  const Result parsed = UrlParse(&url, text, 0);
  MemFree(&text);
  if (parsed != 0) {
    UrlFreeParsed(&url);
    if (parsed == kUrlNoMemory) return NoMemory(ctx);
    // Text that looks like a URL and is none (a port past 65535): the
    // script is at fault, and it stops as an invalid script does.
    ctx->status = WmlsResult::NoMemory;
    ctx->result = WmlsMakeInvalid();
    return;
  }
  char port[8];
  const char* found = nullptr;
  switch (part) {
    case Part::Scheme: found = url.scheme; break;
    case Part::Host: found = url.host; break;
    case Part::Port: {
      if (!url.portGiven) break;
      char digits[8];
      uint32_t k = 0, p = url.port;
      do {
        digits[k++] = static_cast<char>('0' + p % 10);
        p /= 10;
      } while (p);
      for (uint32_t i = 0; i < k; ++i) port[i] = digits[k - 1 - i];
      port[k] = 0;
      found = port;
      break;
    }
    case Part::Path: found = url.path; break;
    case Part::Params: found = url.params; break;
    case Part::Query: found = url.query; break;
    case Part::Fragment: found = url.fragment; break;
  }
  if (!found) found = "";
  TakeText(ctx, WmlsFromUtf8(found, static_cast<uint32_t>(std::strlen(found))));
  UrlFreeParsed(&url);
}

void GetScheme(WmlsRunContext* ctx, WmlsValue** a) { Component(ctx, a[0], Part::Scheme); }
void GetHost(WmlsRunContext* ctx, WmlsValue** a) { Component(ctx, a[0], Part::Host); }
void GetPort(WmlsRunContext* ctx, WmlsValue** a) { Component(ctx, a[0], Part::Port); }
void GetPath(WmlsRunContext* ctx, WmlsValue** a) { Component(ctx, a[0], Part::Path); }
void GetParameters(WmlsRunContext* ctx, WmlsValue** a) { Component(ctx, a[0], Part::Params); }
void GetQuery(WmlsRunContext* ctx, WmlsValue** a) { Component(ctx, a[0], Part::Query); }
void GetFragment(WmlsRunContext* ctx, WmlsValue** a) { Component(ctx, a[0], Part::Fragment); }

// Resolves embedded against base (both UTF-8) into a new UTF-8 text; null
// when the base does not parse or memory runs out (*memory then set).
char* ResolveUtf8(const char* base, const char* embedded, uint32_t flags, bool* memory) {
  UrlParsed b{}, r{};
  char* out = nullptr;
  const Result pb = UrlParse(&b, base, 0);
  if (pb == 0) {
    const Result pr = UrlResolve(&r, &b, embedded);
    if (pr == 0) {
      if (UrlToString(&out, &r, flags) != 0 || !out) *memory = true;
    } else if (pr == kUrlNoMemory) {
      *memory = true;
    }
  } else if (pb == kUrlNoMemory) {
    *memory = true;
  }
  UrlFreeParsed(&b);
  UrlFreeParsed(&r);
  return out;
}

// The absolute URL of the unit: the script's URL resolved against the
// referring URL (a "wsp" scheme taken as "http").
void GetBase(WmlsRunContext* ctx, WmlsValue**) {
  const WmlsTaskContext* task = Task(ctx);
  if (!task || !task->referrer || !task->scriptUrl) return SetEmpty(ctx);
  const char16_t* ref = task->referrer;
  const uint32_t refLength = WmlsLen(ref);
  bool slash = false;
  for (uint32_t i = 0; i < refLength; ++i) slash = slash || ref[i] == '/';
  if (!slash) return SetEmpty(ctx);
  char* base = WmlsWideToNarrow(ref, refLength);
  char* script = WmlsWideToNarrow(task->scriptUrl, WmlsLen(task->scriptUrl));
  bool memory = !base || !script;
  char* fixed = nullptr;
  if (!memory && (base[0] | 0x20) == 'w' && (base[1] | 0x20) == 's' && (base[2] | 0x20) == 'p') {
    const uint32_t length = static_cast<uint32_t>(std::strlen(base));
    fixed = static_cast<char*>(MemAlloc(length + 2, Use::String, Mod::WmlsExec));
    if (fixed) {
      std::memcpy(fixed, "http", 4);
      std::memcpy(fixed + 4, base + 3, length - 3 + 1);
    } else {
      memory = true;
    }
  }
  char* resolved = memory ? nullptr : ResolveUtf8(fixed ? fixed : base, script, kUrlNoFragment, &memory);
  MemFree(&base);
  MemFree(&script);
  MemFree(&fixed);
  if (memory) return NoMemory(ctx);
  if (!resolved) return SetEmpty(ctx);
  TakeUtf8(ctx, resolved);
}

void GetReferer(WmlsRunContext* ctx, WmlsValue**) {
  const WmlsTaskContext* task = Task(ctx);
  if (!task) return SetEmpty(ctx);
  if (task->outerUnitUrl) return TakeUtf8(ctx, WmlsRelativeUrl(task->outerUnitUrl, ctx->unitUrl));
  if (!task->referrer) return SetEmpty(ctx);
  char* ref = WmlsWideToNarrow(task->referrer, WmlsLen(task->referrer));
  if (!ref) return NoMemory(ctx);
  char* relative = WmlsRelativeUrl(ref, ctx->unitUrl);
  MemFree(&ref);
  if (!relative) return NoMemory(ctx);
  char* card = nullptr;
  if (task->browser) BenTaskFirstUrl(task->browser, &card);
  const uint32_t r = static_cast<uint32_t>(std::strlen(relative));
  const uint32_t c = card ? static_cast<uint32_t>(std::strlen(card)) : 0;
  char16_t* out = static_cast<char16_t*>(MemAlloc((r + 1 + c + 1) * 2, Use::String, Mod::WmlsExec));
  if (out) {
    uint32_t w = 0;
    for (uint32_t i = 0; i < r; ++i) out[w++] = static_cast<uint8_t>(relative[i]);
    if (card) {
      out[w++] = '#';
      // The card's address byte by byte, as the browser keeps it.
      for (uint32_t i = 0; i < c; ++i) out[w++] = static_cast<uint8_t>(card[i]);
    }
    out[w] = 0;
  }
  MemFree(&relative);
  MemFree(&card);
  TakeText(ctx, out);
}

void Resolve(WmlsRunContext* ctx, WmlsValue** a) {
  Text base(ctx, a[0]), embedded(ctx, a[1]);
  if (!base.ok || !embedded.ok) return Invalid(ctx);
  char* b = WmlsWideToNarrow(base.s, base.n);
  char* e = WmlsWideToNarrow(embedded.s, embedded.n);
  bool memory = !b || !e;
  char* resolved = memory ? nullptr : ResolveUtf8(b, e, 0, &memory);
  MemFree(&b);
  MemFree(&e);
  if (memory) return NoMemory(ctx);
  if (!resolved) return Invalid(ctx);
  char16_t* wide = WmlsFromUtf8(resolved, static_cast<uint32_t>(std::strlen(resolved)));
  MemFree(&resolved);
  if (!wide) return NoMemory(ctx);
  if (!ValidUrl(wide, WmlsLen(wide))) {
    MemFree(&wide);
    return Invalid(ctx);
  }
  TakeText(ctx, wide);
}

void EscapeString(WmlsRunContext* ctx, WmlsValue** a) {
  Text s(ctx, a[0]);
  if (!s.ok) return Invalid(ctx);
  char* bytes = WmlsWideToNarrow(s.s, s.n);
  if (!bytes) return NoMemory(ctx);
  const uint32_t n = static_cast<uint32_t>(std::strlen(bytes));
  char16_t* out = static_cast<char16_t*>(MemAlloc((n * 3 + 1) * 2, Use::String, Mod::WmlsExec));
  if (out) {
    static const char kHex[] = "0123456789ABCDEF";
    uint32_t w = 0;
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t c = static_cast<uint8_t>(bytes[i]);
      if (Alnum(c) || (c && std::strchr("!()*-._~", c))) {
        out[w++] = c;
      } else {
        out[w++] = '%';
        out[w++] = static_cast<char16_t>(kHex[c >> 4]);
        out[w++] = static_cast<char16_t>(kHex[c & 15]);
      }
    }
    out[w] = 0;
  }
  MemFree(&bytes);
  TakeText(ctx, out);
}

void UnescapeString(WmlsRunContext* ctx, WmlsValue** a) {
  Text s(ctx, a[0]);
  if (!s.ok) return Invalid(ctx);
  char* bytes = WmlsWideToNarrow(s.s, s.n);
  if (!bytes) return NoMemory(ctx);
  uint32_t w = 0;
  for (uint32_t i = 0; bytes[i]; ++i) {
    int high, low;
    if (bytes[i] == '%' && (high = LibcHexDigit(bytes[i + 1])) >= 0 &&
        (low = LibcHexDigit(bytes[i + 2])) >= 0) {
      bytes[w++] = static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      bytes[w++] = bytes[i];
    }
  }
  char16_t* out = WmlsFromUtf8(bytes, w);
  MemFree(&bytes);
  TakeText(ctx, out);
}

struct TextType {
  const char* name;
  uint32_t id;
};
const TextType kTextTypes[] = {
    {"*", 1}, {"html", 2}, {"plain", 3}, {"x-hdml", 4}, {"x-ttml", 5}, {"x-vcalendar", 6},
    {"x-vcard", 7}, {"vnd.wap.wml", 8}, {"vnd.wap.wmlscript", 9}, {"vnd.wap.channel", 10},
    {"xml", 40}, {"vnd.wap.si", 45}, {"vnd.wap.sl", 47}, {"vnd.wap.co", 49},
    {"vnd.wap.connectivity-wbxml", 53},
};

bool SameIgnoringCase(const char16_t* s, uint32_t n, const char* name) {
  uint32_t i = 0;
  for (; i < n && name[i]; ++i) {
    char16_t c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char16_t>(c | 0x20);
    if (c != static_cast<uint8_t>(name[i])) return false;
  }
  return i == n && !name[i];
}

}  // namespace

// The expected type id of a loadString content type: 0 when it is not a
// text type the library loads.
uint32_t WmlsLoadStringType(const char16_t* type, uint32_t n) {
  if (n < 5 || !SameIgnoringCase(type, 4, "text")) return 0;
  uint32_t slash = 0;
  while (slash < n && type[slash] != '/') ++slash;
  if (slash + 1 >= n) return 0;
  for (const TextType& t : kTextTypes) {
    if (SameIgnoringCase(type + slash + 1, n - slash - 1, t.name)) return t.id;
  }
  return 0;
}

namespace {

// The fetch is the script task's: the run waits (resume kind 6) and the
// task puts the text in place of the unset cell left here.
void LoadString(WmlsRunContext* ctx, WmlsValue** a) {
  if (a[0]->type != WmlsType::String || a[1]->type != WmlsType::String) return Invalid(ctx);
  const char16_t* type = WmlsStr(*a[1]);
  const uint32_t typeId = type ? WmlsLoadStringType(type, WmlsLen(type)) : 0;
  WmlsTaskContext* task = Task(ctx);
  if (!typeId || !task || !task->load || !WmlsStr(*a[0])) return Invalid(ctx);
  char* url = WmlsWideToNarrow(WmlsStr(*a[0]), WmlsLen(WmlsStr(*a[0])));
  if (!url) return NoMemory(ctx);
  const int32_t r = task->load(task, url, typeId);
  MemFree(&url);
  if (r != 0) return Invalid(ctx);
  ctx->suspended = 1;
  ctx->resumeKind = 6;
}

}  // namespace

const WmlsLibFunction kWmlsUrlFunctions[] = {
    {IsValid, 1},      {GetScheme, 1},      {GetHost, 1},   {GetPort, 1},         {GetPath, 1},
    {GetParameters, 1}, {GetQuery, 1},      {GetFragment, 1}, {GetBase, 0},       {GetReferer, 0},
    {Resolve, 2},      {EscapeString, 1},   {UnescapeString, 1}, {LoadString, 2},
    {nullptr, -1},
};
