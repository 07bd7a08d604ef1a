// The String library. Positions and lengths count UTF-16 units.
#include <cstring>

#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_internal.h"

namespace {

// A growing result text, allocated from module 34.
struct Builder {
  char16_t* p = nullptr;
  uint32_t len = 0, cap = 0;
  bool failed = false;

  void Add(const char16_t* s, uint32_t n) {
    if (failed || !n) return;
    if (len + n + 1 > cap) {
      uint32_t c = cap ? cap : 16;
      while (c < len + n + 1) c *= 2;
      void* q = p ? MemRealloc(p, c * 2, 1, Mod::WmlsExec) : MemAlloc(c * 2, Use::String, Mod::WmlsExec);
      if (!q) {
        p = nullptr;
        failed = true;
        return;
      }
      p = static_cast<char16_t*>(q);
      cap = c;
    }
    std::memcpy(p + len, s, n * 2);
    len += n;
  }
  void Add(char16_t c) { Add(&c, 1); }
  void Repeat(char16_t c, uint32_t n) {
    while (n--) Add(c);
  }
  // Hands the text to the result cell; out of memory stops the script.
  void Finish(WmlsRunContext* ctx) {
    if (failed) {
      ctx->status = WmlsStatus::NoMemory;
      ctx->result = WmlsMakeInvalid();
      return;
    }
    if (!p) {
      if (!WmlsValueSetString(&ctx->result, u"", 0)) ctx->status = WmlsStatus::NoMemory;
      return;
    }
    p[len] = 0;
    ctx->result = {WmlsType::String, reinterpret_cast<uintptr_t>(p), 0};
    p = nullptr;
  }
  ~Builder() { MemFree(&p); }
};

using Text = WmlsTextArg;

// An index or count argument; false when it cannot be converted.
bool Index(WmlsRunContext* ctx, const WmlsValue* v, int32_t* out) {
  const int32_t saved = ctx->status;
  *out = WmlsToInt(ctx, v);
  if (ctx->status != saved) {
    ctx->status = saved;
    return false;
  }
  return true;
}

void Invalid(WmlsRunContext* ctx) { ctx->result = WmlsMakeInvalid(); }
void SetText(WmlsRunContext* ctx, const char16_t* s, uint32_t n) {
  Builder b;
  b.Add(s, n);
  b.Finish(ctx);
}

void Length(WmlsRunContext* ctx, WmlsValue** a) {
  Text s(ctx, a[0]);
  if (!s.ok) return Invalid(ctx);
  ctx->result = WmlsMakeInt(static_cast<int32_t>(s.n));
}

void IsEmpty(WmlsRunContext* ctx, WmlsValue** a) {
  Text s(ctx, a[0]);
  if (!s.ok) return Invalid(ctx);
  ctx->result = WmlsMakeBool(s.n == 0);
}

void CharAt(WmlsRunContext* ctx, WmlsValue** a) {
  Text s(ctx, a[0]);
  int32_t i;
  if (!s.ok || !Index(ctx, a[1], &i)) return Invalid(ctx);
  if (i < 0 || static_cast<uint32_t>(i) >= s.n) return SetText(ctx, u"", 0);
  SetText(ctx, s.s + i, 1);
}

void SubString(WmlsRunContext* ctx, WmlsValue** a) {
  Text s(ctx, a[0]);
  int32_t start, count;
  if (!s.ok || !Index(ctx, a[1], &start) || !Index(ctx, a[2], &count)) return Invalid(ctx);
  if (start < 0) start = 0;
  if (static_cast<uint32_t>(start) > s.n) return SetText(ctx, u"", 0);
  const int64_t avail = static_cast<int64_t>(s.n) - start;
  const int64_t take = count < avail ? count : avail;
  if (take <= 0) return SetText(ctx, u"", 0);
  SetText(ctx, s.s + start, static_cast<uint32_t>(take));
}

// The first occurrence of sub in s at or after `from`, or -1.
int32_t FindIn(const char16_t* s, uint32_t n, const char16_t* sub, uint32_t m, uint32_t from) {
  if (m > n) return -1;
  for (uint32_t i = from; i + m <= n; ++i)
    if (std::memcmp(s + i, sub, m * 2) == 0) return static_cast<int32_t>(i);
  return -1;
}

void Find(WmlsRunContext* ctx, WmlsValue** a) {
  Text s(ctx, a[0]), sub(ctx, a[1]);
  if (!s.ok || !sub.ok) return Invalid(ctx);
  if (s.none || sub.none) return void(ctx->result = WmlsMakeInt(-1));
  if (!sub.n) return Invalid(ctx);
  ctx->result = WmlsMakeInt(FindIn(s.s, s.n, sub.s, sub.n, 0));
}

void Replace(WmlsRunContext* ctx, WmlsValue** a) {
  Text s(ctx, a[0]), old(ctx, a[1]), neu(ctx, a[2]);
  if (!s.ok || !old.ok || !neu.ok || !old.n) return Invalid(ctx);
  Builder b;
  uint32_t at = 0;
  for (;;) {
    const int32_t k = FindIn(s.s, s.n, old.s, old.n, at);
    if (k < 0) break;
    b.Add(s.s + at, static_cast<uint32_t>(k) - at);
    b.Add(neu.s, neu.n);
    at = static_cast<uint32_t>(k) + old.n;
  }
  b.Add(s.s + at, s.n - at);
  b.Finish(ctx);
}

// The elements of s between separator characters c.
struct Elements {
  const char16_t* s;
  uint32_t n;
  char16_t c;
  uint32_t Count() const {
    uint32_t k = 1;
    for (uint32_t i = 0; i < n; ++i) k += s[i] == c;
    return k;
  }
  // Start and end of element i (clamped to the last).
  void Span(int32_t i, uint32_t* start, uint32_t* end, bool* last) const {
    const uint32_t count = Count();
    uint32_t want = i < 0 ? 0 : static_cast<uint32_t>(i);
    if (want >= count) want = count - 1;
    *last = want == count - 1;
    uint32_t at = 0, k = 0;
    while (k < want) {
      if (s[at] == c) ++k;
      ++at;
    }
    uint32_t e = at;
    while (e < n && s[e] != c) ++e;
    *start = at;
    *end = e;
  }
};

void ElementsFn(WmlsRunContext* ctx, WmlsValue** a) {
  Text s(ctx, a[0]), sep(ctx, a[1]);
  if (!s.ok || !sep.ok || !sep.n) return Invalid(ctx);
  ctx->result = WmlsMakeInt(static_cast<int32_t>(Elements{s.s, s.n, sep.s[0]}.Count()));
}

void ElementAt(WmlsRunContext* ctx, WmlsValue** a) {
  Text s(ctx, a[0]), sep(ctx, a[2]);
  int32_t i;
  if (!s.ok || !sep.ok || !Index(ctx, a[1], &i) || !sep.n) return Invalid(ctx);
  if (!s.n) return SetText(ctx, u"", 0);
  uint32_t b, e;
  bool last;
  Elements{s.s, s.n, sep.s[0]}.Span(i, &b, &e, &last);
  SetText(ctx, s.s + b, e - b);
}

void RemoveAt(WmlsRunContext* ctx, WmlsValue** a) {
  int32_t i;
  if (!Index(ctx, a[1], &i)) return Invalid(ctx);
  Text s(ctx, a[0]), sep(ctx, a[2]);
  if (!s.ok || !sep.ok) return Invalid(ctx);
  if (!s.n) return SetText(ctx, u"", 0);
  if (!sep.n) return Invalid(ctx);
  const Elements el{s.s, s.n, sep.s[0]};
  if (el.Count() == 1) return SetText(ctx, u"", 0);
  uint32_t b, e;
  bool last;
  el.Span(i, &b, &e, &last);
  if (last) b -= 1;  // with the separator before it
  else e += 1;       // with the separator after it
  Builder out;
  out.Add(s.s, b);
  out.Add(s.s + e, s.n - e);
  out.Finish(ctx);
}

void ReplaceAt(WmlsRunContext* ctx, WmlsValue** a) {
  Text s(ctx, a[0]), neu(ctx, a[1]), sep(ctx, a[3]);
  int32_t i;
  if (!s.ok || !neu.ok || !sep.ok || !Index(ctx, a[2], &i) || !sep.n) return Invalid(ctx);
  const Elements el{s.s, s.n, sep.s[0]};
  if (el.Count() == 1) return SetText(ctx, neu.s, neu.n);
  uint32_t b, e;
  bool last;
  el.Span(i, &b, &e, &last);
  Builder out;
  out.Add(s.s, b);
  out.Add(neu.s, neu.n);
  out.Add(s.s + e, s.n - e);
  if (last && !out.failed && out.len && out.p[out.len - 1] == sep.s[0]) out.len -= 1;
  out.Finish(ctx);
}

void InsertAt(WmlsRunContext* ctx, WmlsValue** a) {
  Text s(ctx, a[0]), neu(ctx, a[1]), sep(ctx, a[3]);
  int32_t i;
  if (!s.ok || !neu.ok || !sep.ok || !Index(ctx, a[2], &i) || !sep.n || neu.none) return Invalid(ctx);
  if (!s.n) return SetText(ctx, neu.s, neu.n);
  const Elements el{s.s, s.n, sep.s[0]};
  Builder out;
  if (i >= 0 && static_cast<uint32_t>(i) >= el.Count()) {
    out.Add(s.s, s.n);
    out.Add(sep.s[0]);
    out.Add(neu.s, neu.n);
  } else {
    uint32_t b, e;
    bool last;
    el.Span(i, &b, &e, &last);
    out.Add(s.s, b);
    out.Add(neu.s, neu.n);
    out.Add(sep.s[0]);
    out.Add(s.s + b, s.n - b);
  }
  out.Finish(ctx);
}

void Squeeze(WmlsRunContext* ctx, WmlsValue** a) {
  Text s(ctx, a[0]);
  if (!s.ok) return Invalid(ctx);
  if (a[0]->type != WmlsType::String) return SetText(ctx, s.s, s.n);
  Builder out;
  for (uint32_t i = 0; i < s.n;) {
    if (!WmlsIsSpace(s.s[i])) {
      out.Add(s.s[i++]);
      continue;
    }
    while (i + 1 < s.n && WmlsIsSpace(s.s[i + 1])) ++i;
    out.Add(s.s[i++]);
  }
  out.Finish(ctx);
}

void Trim(WmlsRunContext* ctx, WmlsValue** a) {
  Text s(ctx, a[0]);
  if (!s.ok) return Invalid(ctx);
  uint32_t b = 0, e = s.n;
  if (a[0]->type == WmlsType::String) {
    while (b < e && WmlsIsSpace(s.s[b])) ++b;
    while (e > b && WmlsIsSpace(s.s[e - 1])) --e;
  }
  SetText(ctx, s.s + b, e - b);
}

void Compare(WmlsRunContext* ctx, WmlsValue** a) {
  Text x(ctx, a[0]), y(ctx, a[1]);
  if (!x.ok || !y.ok || x.none || y.none) return Invalid(ctx);
  const int c = LibcWStrCmp(x.s, y.s);
  ctx->result = WmlsMakeInt(c < 0 ? -1 : c > 0);
}

void ToString(WmlsRunContext* ctx, WmlsValue** a) {
  const WmlsValue* v = a[0];
  switch (v->type) {
    case WmlsType::Invalid: return SetText(ctx, u"invalid", 7);
    case WmlsType::Integer:
    case WmlsType::Boolean: {
      Text s(ctx, v);
      if (!s.ok) return Invalid(ctx);
      return SetText(ctx, s.s, s.n);
    }
    case WmlsType::String:
      if (!WmlsStr(*v)) return Invalid(ctx);
      return SetText(ctx, WmlsStr(*v), WmlsLen(WmlsStr(*v)));
    default: return Invalid(ctx);
  }
}

// Widths and precisions beyond this are held to it: a script cannot ask for
// gigabytes of padding.
constexpr uint32_t kMaxField = 32767;

// The rest of a format after its conversion: "%%" gives "%", later
// conversion specifications are dropped.
void AddRest(Builder* out, const char16_t* p, const char16_t* end) {
  while (p < end) {
    if (*p != '%') {
      out->Add(*p++);
    } else if (p + 1 < end && p[1] == '%') {
      out->Add(u'%');
      p += 2;
    } else {
      ++p;
      while (p < end && *p != 'd' && *p != 'f' && *p != 's') ++p;
      if (p < end) ++p;
    }
  }
}

void AddPercents(Builder* out, const char16_t* p, const char16_t* end) {
  while (p < end) {
    out->Add(*p);
    p += (*p == '%' && p + 1 < end && p[1] == '%') ? 2 : 1;
  }
}

void Format(WmlsRunContext* ctx, WmlsValue** a) {
  if (a[0]->type != WmlsType::String || !WmlsStr(*a[0])) return Invalid(ctx);
  const char16_t* f = WmlsStr(*a[0]);
  const uint32_t n = WmlsLen(f);
  const char16_t* end = f + n;
  const char16_t* pct = nullptr;
  for (const char16_t* p = f; p < end; ++p) {
    if (*p != '%') continue;
    if (p + 1 < end && p[1] == '%') {
      ++p;
      continue;
    }
    pct = p;
    break;
  }
  Builder out;
  if (!pct) {
    AddPercents(&out, f, end);
    return out.Finish(ctx);
  }
  const char16_t* p = pct + 1;
  uint32_t width = 0, precision = 0;
  bool hasPrecision = false;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) width = width * 10 + (*p - '0') > kMaxField ? kMaxField : width * 10 + (*p - '0');
  if (p < end && *p == '.') {
    hasPrecision = true;
    for (++p; p < end && *p >= '0' && *p <= '9'; ++p)
      precision = precision * 10 + (*p - '0') > kMaxField ? kMaxField : precision * 10 + (*p - '0');
  }
  if (p >= end) return Invalid(ctx);
  const char16_t conv = *p;
  AddPercents(&out, f, pct);
  if (conv == 'd') {
    int32_t v;
    if (!Index(ctx, a[1], &v)) return Invalid(ctx);
    char16_t digits[12];
    uint32_t k = 0;
    uint32_t m = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    while (m) {
      digits[k++] = static_cast<char16_t>('0' + m % 10);
      m /= 10;
    }
    const uint32_t prec = hasPrecision ? precision : 1;
    const uint32_t body = (k > prec ? k : prec) + (v < 0 ? 1 : 0);
    if (width > body) out.Repeat(' ', width - body);
    if (v < 0) out.Add(u'-');
    if (prec > k) out.Repeat('0', prec - k);
    while (k) out.Add(digits[--k]);
  } else if (conv == 'f') {
    out.Add(u"invalid", 7);
  } else if (conv == 's') {
    Text s(ctx, a[1]);
    if (!s.ok) return Invalid(ctx);
    const uint32_t take = hasPrecision && precision < s.n ? precision : s.n;
    if ((!hasPrecision || precision >= width) && width > take) out.Repeat(' ', width - take);
    out.Add(s.s, take);
  } else {
    return Invalid(ctx);
  }
  AddRest(&out, p + 1, end);
  out.Finish(ctx);
}

}  // namespace

const WmlsLibFunction kWmlsStringFunctions[] = {
    {Length, 1},   {IsEmpty, 1}, {CharAt, 2},    {SubString, 3}, {Find, 2},     {Replace, 3},
    {ElementsFn, 2}, {ElementAt, 3}, {RemoveAt, 3}, {ReplaceAt, 4}, {InsertAt, 4}, {Squeeze, 1},
    {Trim, 1},     {Compare, 2}, {ToString, 1},  {Format, 2},    {nullptr, -1},
};
