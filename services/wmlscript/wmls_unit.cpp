// Compiled units: the loader of the binary format, the collector the
// content-type row drives, and the access check of a unit's pragmas.
#include <cstring>

#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_internal.h"

namespace {

constexpr uint32_t kMod = Mod::WtlWmlsPrsr;

struct Reader {
  const uint8_t* p;
  uint32_t size;
  uint32_t at = 0;
  int32_t error = 0;  // first failure: -1002 refused, -1003 out of memory

  bool Fail(int32_t e = WmlsParse::Refused) {
    if (!error) error = e;
    return false;
  }
  bool U8(uint32_t* out) {
    if (at >= size) return Fail();
    *out = p[at++];
    return true;
  }
  bool Fixed(uint32_t bytes, uint32_t* out) {
    if (size - at < bytes) return Fail();
    uint32_t v = 0;
    for (uint32_t i = 0; i < bytes; ++i) v = v << 8 | p[at++];
    *out = v;
    return true;
  }
  // mb_u_int of at most maxBytes bytes; refused when longer or when its
  // value does not fit the width.
  bool MbUInt(uint32_t maxBytes, uint64_t limit, uint32_t* out) {
    uint64_t v = 0;
    for (uint32_t i = 0; i < maxBytes; ++i) {
      if (at >= size) return Fail();
      const uint8_t b = p[at++];
      v = v << 7 | (b & 0x7F);
      if (!(b & 0x80)) {
        if (v > limit) return Fail();
        *out = static_cast<uint32_t>(v);
        return true;
      }
    }
    return Fail();
  }
};

char16_t* DecodeUtf8(const uint8_t* bytes, uint32_t count, uint32_t* units) {
  auto* s = static_cast<char16_t*>(MemAlloc((count + 1) * 2, Use::String, kMod));
  if (!s) return nullptr;
  uint32_t cap = count;
  LngUtf8Decode(bytes, count, s, &cap);
  s[cap] = 0;
  if (units) *units = cap;
  return s;
}

bool ReadConstant(Reader& r, uint16_t charset, WmlsValue* c) {
  uint32_t type, v;
  if (!r.U8(&type)) return false;
  switch (type) {
    case 0:
      if (!r.Fixed(1, &v)) return false;
      *c = WmlsMakeInt(static_cast<int8_t>(v));
      return true;
    case 1:
      if (!r.Fixed(2, &v)) return false;
      *c = WmlsMakeInt(static_cast<int16_t>(v));
      return true;
    case 2:
      if (!r.Fixed(4, &v)) return false;
      *c = WmlsMakeInt(static_cast<int32_t>(v));
      return true;
    case 3:
      // No floating point: the constant loads as invalid.
      if (!r.Fixed(4, &v)) return false;
      *c = WmlsMakeInvalid();
      return true;
    case 4: {
      uint32_t len;
      if (!r.MbUInt(5, 0xFFFFFFFFu, &len)) return false;
      // A length the unit does not hold refuses it before the length's own
      // limit is read as want of memory. One byte of the unit must follow.
      if (r.size - r.at <= len) return r.Fail();
      if (len >= 0x7FFFFFFEu) return r.Fail(WmlsParse::NoMemory);
      char16_t* s = DecodeUtf8(r.p + r.at, len, nullptr);
      if (!s) return r.Fail(WmlsParse::NoMemory);
      r.at += len;
      *c = {WmlsType::String, reinterpret_cast<uintptr_t>(s), 0};
      return true;
    }
    case 5: {
      auto* s = static_cast<char16_t*>(MemAllocZero(2, Use::String, kMod));
      if (!s) return r.Fail(WmlsParse::NoMemory);
      *c = {WmlsType::String, reinterpret_cast<uintptr_t>(s), 0};
      return true;
    }
    case 6: {
      uint32_t len;
      if (!r.MbUInt(5, 0xFFFFFFFFu, &len)) return false;
      if (r.size - r.at < 2 || r.size - r.at - 2 < len) return r.Fail();  // as type 4, two bytes
      if (len >= 0x7FFFFFFDu) return r.Fail(WmlsParse::NoMemory);
      const uint8_t* bytes = r.p + r.at;
      r.at += len;
      LngDecodeFn decode = nullptr;
      const bool converted = (charset >= 3 && charset <= 12) || charset == 106;
      if (converted && LngGetDecoder(&decode, charset) == kOk && decode) {
        auto* s = static_cast<char16_t*>(MemAlloc((len + 1) * 2, Use::String, kMod));
        if (!s) return r.Fail(WmlsParse::NoMemory);
        uint32_t cap = len;
        decode(bytes, len, s, &cap);
        s[cap] = 0;
        *c = {WmlsType::String, reinterpret_cast<uintptr_t>(s), 0};
      } else if (charset == 17 || charset == 1000) {
        // Taken without conversion: one unit per byte.
        auto* s = static_cast<char16_t*>(MemAlloc((len + 1) * 2, Use::String, kMod));
        if (!s) return r.Fail(WmlsParse::NoMemory);
        for (uint32_t i = 0; i < len; ++i) s[i] = bytes[i];
        s[len] = 0;
        *c = {WmlsType::String, reinterpret_cast<uintptr_t>(s), 0};
      } else {
        *c = {};
      }
      return true;
    }
    default: return r.Fail();
  }
}

int32_t Parse(Reader& r, WmlsUnit* u) {
  uint32_t v, codeSize;
  if (!r.U8(&v) || v != 1) return WmlsParse::Refused;
  u->version = 1;
  if (!r.MbUInt(5, 0xFFFFFFFFu, &codeSize)) return r.error;
  if (codeSize > r.size - r.at) return WmlsParse::Refused;
  r.size = r.at + codeSize;

  uint32_t count, charset;
  if (!r.MbUInt(3, 0xFFFF, &count) || !r.MbUInt(3, 0xFFFF, &charset)) return r.error;
  u->charset = static_cast<uint16_t>(charset);
  if (count > r.size - r.at) return WmlsParse::Refused;  // every constant takes a byte
  if (count) {
    u->constants = static_cast<WmlsValue*>(MemAllocZero(count * sizeof(WmlsValue), Use::Data, kMod));
    if (!u->constants) return WmlsParse::NoMemory;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (!ReadConstant(r, u->charset, &u->constants[i])) return r.error;
    u->constantCount = i + 1;
  }

  uint32_t pragmas;
  if (!r.MbUInt(3, 0xFFFF, &pragmas)) return r.error;
  if (pragmas > r.size - r.at) return WmlsParse::Refused;
  if (pragmas) {
    u->pragmas = static_cast<WmlsPragma*>(MemAllocZero(pragmas * sizeof(WmlsPragma), Use::Data, kMod));
    if (!u->pragmas) return WmlsParse::NoMemory;
  }
  for (uint32_t i = 0; i < pragmas; ++i) {
    uint32_t type;
    if (!r.U8(&type)) return r.error;
    if (type > 3) return WmlsParse::Refused;
    WmlsPragma& p = u->pragmas[i];
    p.type = type;
    const uint32_t n = type < 2 ? 1 : type == 2 ? 2 : 3;
    for (uint32_t k = 0; k < n; ++k) {
      uint32_t index;
      if (!r.MbUInt(3, 0xFFFF, &index)) return r.error;
      if (index >= u->constantCount || u->constants[index].type != WmlsType::String) return WmlsParse::Refused;
      p.index[k] = static_cast<uint16_t>(index);
    }
    u->pragmaCount = i + 1;
  }

  WmlsFunctionTable& t = u->functions;
  uint32_t functions, names;
  if (!r.U8(&functions) || !r.U8(&names)) return r.error;
  if (names > functions) return WmlsParse::Refused;
  // Each name takes at least its index and size bytes: a table claiming more
  // than the unit holds is bad bytes, never a want of memory.
  const uint32_t left = r.size - r.at;
  if (names * 2 > left) return WmlsParse::Refused;
  if (names) {
    t.names = static_cast<WmlsNameEntry*>(MemAllocZero(names * sizeof(WmlsNameEntry), Use::Data, kMod));
    // Each name decodes to at most one unit per byte, plus its terminator:
    // never more units than the unit has bytes left.
    const uint32_t units = names * 256 < left ? names * 256 : left;
    t.nameText = static_cast<char16_t*>(MemAlloc(units * 2, Use::String, kMod));
    if (!t.names || !t.nameText) return WmlsParse::NoMemory;
  }
  uint32_t textAt = 0;
  for (uint32_t i = 0; i < names; ++i) {
    uint32_t index, size;
    if (!r.U8(&index) || !r.U8(&size)) return r.error;
    if (index >= functions || size > r.size - r.at) return WmlsParse::Refused;
    uint32_t cap = size;
    LngUtf8Decode(r.p + r.at, size, t.nameText + textAt, &cap);
    r.at += size;
    t.names[i] = {static_cast<uint8_t>(index), textAt};
    t.nameText[textAt + cap] = 0;
    textAt += cap + 1;
    t.nameCount = static_cast<uint8_t>(i + 1);
  }

  // First pass: the headers and the code's total size.
  const uint32_t poolStart = r.at;
  uint64_t total = 0;
  for (uint32_t i = 0; i < functions; ++i) {
    uint32_t args, locals, size;
    if (!r.U8(&args) || !r.U8(&locals) || !r.MbUInt(5, 0xFFFFFFFFu, &size)) return r.error;
    if (size > r.size - r.at) return WmlsParse::Refused;
    r.at += size;
    total += size + 1;
  }
  if (functions) {
    t.functions = static_cast<WmlsFunctionDesc*>(MemAllocZero(functions * sizeof(WmlsFunctionDesc), Use::Data, kMod));
    t.code = static_cast<uint8_t*>(MemAlloc(static_cast<uint32_t>(total), Use::Data, kMod));
    if (!t.functions || !t.code) return WmlsParse::NoMemory;
  }
  t.codeBytes = static_cast<uint32_t>(total);
  // Second pass: the code, each function's followed by a 0 byte.
  r.at = poolStart;
  uint32_t codeAt = 0;
  for (uint32_t i = 0; i < functions; ++i) {
    uint32_t args = 0, locals = 0, size = 0;
    r.U8(&args);
    r.U8(&locals);
    r.MbUInt(5, 0xFFFFFFFFu, &size);
    std::memcpy(t.code + codeAt, r.p + r.at, size);
    t.code[codeAt + size] = 0;
    r.at += size;
    t.functions[i] = {static_cast<uint8_t>(args), static_cast<uint8_t>(locals), size, nullptr, codeAt};
    codeAt += size + 1;
  }
  t.functionCount = static_cast<uint8_t>(functions);
  return WmlsParse::Ok;
}

}  // namespace

int32_t WmlsUnitParse(const uint8_t* bytes, uint32_t size, WmlsUnit** out) {
  *out = nullptr;
  // A unit shorter than its header says, or of another version, is refused
  // before any memory is asked for: bad bytes are never want of memory.
  Reader head{bytes, bytes ? size : 0};
  uint32_t version, codeSize;
  if (!head.U8(&version) || version != 1 || !head.MbUInt(5, 0xFFFFFFFFu, &codeSize) ||
      codeSize > head.size - head.at)
    return WmlsParse::Refused;
  auto* u = static_cast<WmlsUnit*>(MemAllocZero(sizeof(WmlsUnit), Use::Data, kMod));
  if (!u) return WmlsParse::NoMemory;
  Reader r{bytes, bytes ? size : 0};
  const int32_t result = Parse(r, u);
  if (result != WmlsParse::Ok) {
    WmlsUnitFree(&u);
    return result;
  }
  *out = u;
  return WmlsParse::Ok;
}

void WmlsUnitFree(WmlsUnit** unit) {
  WmlsUnit* u = *unit;
  if (!u) return;
  for (uint32_t i = 0; i < u->constantCount; ++i) WmlsValueRelease(&u->constants[i]);
  MemFree(&u->constants);
  MemFree(&u->pragmas);
  MemFree(&u->functions.names);
  MemFree(&u->functions.functions);
  MemFree(&u->functions.code);
  MemFree(&u->functions.nameText);
  MemFree(unit);
}

Result WmlsCollect(WmlsCollector** state, Queue* input, int endOfData, WmlsUnit** unit,
                   bool* noMemory) {
  *unit = nullptr;
  if (noMemory) *noMemory = false;
  if (!*state) {
    *state = static_cast<WmlsCollector*>(MemAllocZero(sizeof(WmlsCollector), Use::Data, kMod));
    if (!*state) {
      if (noMemory) *noMemory = true;
      return WmlsErr::Failed;
    }
    (*state)->firstBlock = 1;
  }
  WmlsCollector* c = *state;
  bool failed = false;
  if (c->firstBlock && input && input->head) {
    // The body's size comes from the header: the version byte, then the
    // size of the rest in at most five bytes, read across blocks.
    uint8_t head[6];
    uint32_t have = 0;
    uint64_t held = 0;
    for (QueueNode* node = input->head; node; node = node->next) {
      const UtilDataChunk* chunk = UtilDataChunkOf(node);
      held += chunk->remaining;
      for (uint32_t i = 0; i < chunk->remaining && have < 6; ++i)
        head[have++] = UtilDataChunkData(chunk)[chunk->offset + i];
    }
    uint64_t size = 0;
    bool ended = false;
    uint32_t headSize = 1;
    for (; headSize < have && !ended; ++headSize) {
      size = size << 7 | (head[headSize] & 0x7F);
      ended = !(head[headSize] & 0x80);
    }
    if (!ended && have < 6 && !endOfData) return kOk;  // the header is still coming
    // A body already whole that is shorter than its header claims, or of a
    // version no unit has, is refused here, as the parser would, without a
    // buffer of the claim: never for want of memory.
    if (!ended || size == 0 || size > 0xFFFFFFFFu - headSize || head[0] != 1 ||
        (endOfData && held < size + headSize)) {
      failed = true;
    } else {
      c->size = static_cast<uint32_t>(size) + headSize;
      // A claim no heap could hold is not asked for: it would only evict
      // the cache and fail.
      if (MemCouldHold(c->size))
        c->buffer = static_cast<uint8_t*>(MemAlloc(c->size, Use::Data, kMod));
      c->firstBlock = 0;
    }
  }
  // Without a buffer the blocks are counted and dropped: only at the end
  // does the count tell a unit memory could not hold (all of it came) from
  // one that claims more than it holds.
  while (!failed && input && input->head) {
    UtilDataChunk* chunk = UtilDataChunkHead(input);
    const uint32_t room = c->size - c->collected;
    const uint32_t n = chunk->remaining < room ? chunk->remaining : room;
    if (c->buffer)
      std::memcpy(c->buffer + c->collected, UtilDataChunkData(chunk) + chunk->offset, n);
    c->collected += n;
    QueuePopFront(input);
    MemFree(&chunk);
  }
  if (!failed && !endOfData) return kOk;
  WmlsUnit* u = nullptr;
  bool memory = false;
  if (!failed && c->buffer)
    memory = WmlsUnitParse(c->buffer, c->collected, &u) == WmlsParse::NoMemory;
  else if (!failed && !c->firstBlock)
    memory = c->collected == c->size;
  WmlsCollectorRelease(state);
  if (noMemory) *noMemory = memory;
  if (!u) return WmlsErr::Failed;
  *unit = u;
  return kOk;
}

void WmlsCollectorRelease(WmlsCollector** state) {
  if (!*state) return;
  MemFree(&(*state)->buffer);
  MemFree(state);
}

namespace {

// The host and path of a URL as the access check reads them.
// The host (without user and port) and the path (without its leading "/",
// parameters, query and fragment) of a URL. The host is the authority
// after the scheme's "://", so a URL inside the query cannot stand in.
void SplitUrl(const char* url, const char** host, uint32_t* hostLen, const char** path, uint32_t* pathLen) {
  const char* sep = std::strstr(url, "://");
  const char* slash0 = std::strchr(url, '/');
  const char* h = sep && (!slash0 || sep < slash0) ? sep + 3 : url;
  const char* hostEnd = h + std::strcspn(h, "/?#");
  for (const char* q = h; q < hostEnd; ++q)
    if (*q == '@') h = q + 1;
  const char* colon = static_cast<const char*>(std::memchr(h, ':', static_cast<size_t>(hostEnd - h)));
  *host = h;
  *hostLen = static_cast<uint32_t>((colon ? colon : hostEnd) - h);
  *path = *hostEnd == '/' ? hostEnd + 1 : hostEnd;
  *pathLen = static_cast<uint32_t>(std::strcspn(*path, ";?#"));
}

// The domain matches whole labels at the end of the host.
bool DomainMatches(const char16_t* host, uint32_t n, const char16_t* domain, uint32_t m) {
  if (!m || m > n || std::memcmp(host + n - m, domain, m * 2) != 0) return false;
  return m == n || host[n - m - 1] == '.';
}

// The pragma's path matches whole segments at the start of the path.
bool PathMatches(const char16_t* path, uint32_t n, const char16_t* prefix, uint32_t m) {
  if (m > n || std::memcmp(path, prefix, m * 2) != 0) return false;
  return m == 0 || m == n || path[m] == '/' || prefix[m - 1] == '/';
}

// Narrow text widened into a buffer from module 35.
char16_t* Widen(const char* s, uint32_t n) {
  auto* w = static_cast<char16_t*>(MemAlloc((n + 1) * 2, Use::String, kMod));
  if (!w) return nullptr;
  for (uint32_t i = 0; i < n; ++i) w[i] = static_cast<uint8_t>(s[i]);
  w[n] = 0;
  return w;
}

// A path beginning with "." taken against the directory of the unit's path,
// "." and ".." steps resolved.
char16_t* Resolve(const char* unitUrl, const char16_t* rel, uint32_t relLen, uint32_t* outLen) {
  const char *h, *p;
  uint32_t hl, pl;
  SplitUrl(unitUrl ? unitUrl : "", &h, &hl, &p, &pl);
  uint32_t dir = pl;
  while (dir && p[dir - 1] != '/') --dir;
  auto* w = static_cast<char16_t*>(MemAlloc((dir + relLen + 2) * 2, Use::String, kMod));
  if (!w) return nullptr;
  uint32_t n = 0;
  for (uint32_t i = 0; i < dir; ++i) w[n++] = static_cast<uint8_t>(p[i]);
  const char16_t* q = rel;
  const char16_t* end = rel + relLen;
  while (q < end) {
    const char16_t* e = q;
    while (e < end && *e != '/') ++e;
    const uint32_t len = static_cast<uint32_t>(e - q);
    if (len == 1 && q[0] == '.') {
    } else if (len == 2 && q[0] == '.' && q[1] == '.') {
      if (n) --n;  // the trailing "/"
      while (n && w[n - 1] != '/') --n;
    } else {
      for (uint32_t i = 0; i < len; ++i) w[n++] = q[i];
      if (e < end) w[n++] = '/';
    }
    q = e < end ? e + 1 : e;
  }
  while (n && w[n - 1] == '/') --n;
  w[n] = 0;
  *outLen = n;
  return w;
}

}  // namespace

int32_t WmlsCheckAccess(WmlsRunContext* ctx) {
  const WmlsUnit* u = ctx->unit;
  if (!u) return WmlsResult::Refused;
  bool any = false;
  for (uint32_t i = 0; i < u->pragmaCount; ++i) any |= u->pragmas[i].type <= WmlsPragmaType::AccessPath;
  if (!any) return 0;
  if (!ctx->referrer) return WmlsResult::Refused;
  const char *h, *p;
  uint32_t hl, pl;
  SplitUrl(ctx->referrer, &h, &hl, &p, &pl);
  char16_t* host = Widen(h, hl);
  char16_t* path = Widen(p, pl);
  int32_t result = host && path ? 0 : WmlsResult::NoMemory;
  for (uint32_t i = 0; i < u->pragmaCount && result == 0; ++i) {
    const WmlsPragma& pr = u->pragmas[i];
    if (pr.type > WmlsPragmaType::AccessPath) continue;
    const char16_t* text = WmlsStr(u->constants[pr.index[0]]);
    if (!text) text = u"";
    uint32_t n = WmlsLen(text);
    if (pr.type == WmlsPragmaType::AccessDomain) {
      if (!DomainMatches(host, hl, text, n)) result = WmlsResult::Refused;
      continue;
    }
    if (n && text[0] == '/') {
      ++text;
      --n;
    }
    if (n && text[0] == '.') {
      uint32_t len = 0;
      char16_t* resolved = Resolve(ctx->unitUrl, text, n, &len);
      if (!resolved) {
        result = WmlsResult::NoMemory;
        break;
      }
      if (!PathMatches(path, pl, resolved, len)) result = WmlsResult::Refused;
      MemFree(&resolved);
    } else if (!PathMatches(path, pl, text, n)) {
      result = WmlsResult::Refused;
    }
  }
  MemFree(&host);
  MemFree(&path);
  return result;
}
