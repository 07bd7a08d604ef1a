// URL texts: splitting into parts, writing back, reference resolution with
// dot-segment removal, and percent-decoding.
#include "browser/url.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

char* Dup(const char* begin, const char* end, bool* failed) {
  char* s = LibcStrNDup(begin, static_cast<uint32_t>(end - begin));
  if (!s) *failed = true;
  return s;
}

char* DupText(const char* s, bool* failed) {
  if (!s) return nullptr;
  char* copy = LibcStrDup(s);
  if (!copy) *failed = true;
  return copy;
}

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || (c >= 9 && c <= 13); }

// The end of a scheme at the start of text ("http:"), or null.
const char* SchemeEnd(const char* text, const char* end) {
  if (text == end || !IsAlpha(*text)) return nullptr;
  for (const char* p = text + 1; p < end; ++p) {
    if (*p == ':') return p;
    if (!IsAlpha(*p) && !IsDigit(*p) && *p != '+' && *p != '-' && *p != '.') return nullptr;
  }
  return nullptr;
}

const char* FindAny(const char* p, const char* end, const char* stops) {
  for (; p < end; ++p)
    if (LibcStrChr(stops, *p)) return p;
  return end;
}

// The path and its parameters as one text.
char* JoinPath(const UrlParsed* url) {
  const char* path = url->path ? url->path : "";
  uint32_t n = LibcStrLen(path);
  uint32_t m = url->params ? LibcStrLen(url->params) + 1 : 0;
  char* s = static_cast<char*>(MemAlloc(n + m + 1, Use::String, Mod::Url));
  if (!s) return nullptr;
  LibcMemCopy(s, path, n);
  if (url->params) {
    s[n] = ';';
    LibcMemCopy(s + n + 1, url->params, m - 1);
  }
  s[n + m] = 0;
  return s;
}

// Splits a full path into path and the parameters of its last segment.
void SplitPath(UrlParsed* out, const char* begin, const char* end, bool* failed) {
  const char* segment = begin;
  for (const char* p = begin; p < end; ++p)
    if (*p == '/') segment = p + 1;
  const char* semi = FindAny(segment, end, ";");
  out->path = Dup(begin, semi, failed);
  if (semi < end) out->params = Dup(semi + 1, end, failed);
}

// Removes "." and ".." segments in place (the output never outgrows the input).
void RemoveDotSegments(char* path) {
  char* in = path;
  char* out = path;
  while (*in) {
    if (LibcStrNCmp(in, "../", 3) == 0) {
      in += 3;
    } else if (LibcStrNCmp(in, "./", 2) == 0) {
      in += 2;
    } else if (LibcStrNCmp(in, "/./", 3) == 0) {
      in += 2;
    } else if (LibcStrCmp(in, "/.") == 0) {
      in += 1;
      in[0] = '/';  // "/." becomes "/"
    } else if (LibcStrNCmp(in, "/../", 4) == 0 || LibcStrCmp(in, "/..") == 0) {
      if (in[3] == 0) {
        in += 2;
        in[0] = '/';
      } else {
        in += 3;
      }
      while (out > path && *--out != '/') {
      }
    } else if (LibcStrCmp(in, ".") == 0 || LibcStrCmp(in, "..") == 0) {
      break;
    } else {
      // Move the first segment, with its leading '/', to the output.
      do *out++ = *in++;
      while (*in && *in != '/');
    }
  }
  *out = 0;
}

}  // namespace

void UrlFreeParsed(UrlParsed* url) {
  if (!url) return;
  MemFree(&url->scheme);
  MemFree(&url->user);
  MemFree(&url->password);
  MemFree(&url->host);
  MemFree(&url->path);
  MemFree(&url->params);
  MemFree(&url->query);
  MemFree(&url->fragment);
  url->port = 0;
  url->portGiven = 0;
}

Result UrlParse(UrlParsed* out, const char* text, uint32_t /*flags: none defined*/) {
  LibcMemSet(out, 0, sizeof *out);
  if (!text) return kUrlBadUrl;
  const char* p = text;
  const char* end = text + LibcStrLen(text);
  while (p < end && IsBlank(*p)) ++p;
  while (end > p && IsBlank(end[-1])) --end;
  bool failed = false;

  if (const char* colon = SchemeEnd(p, end)) {
    out->scheme = Dup(p, colon, &failed);
    if (out->scheme)
      for (char* c = out->scheme; *c; ++c)
        if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c + 32);
    p = colon + 1;
  }
  const char* fragment = FindAny(p, end, "#");
  if (fragment < end) out->fragment = Dup(fragment + 1, end, &failed);
  const char* query = FindAny(p, fragment, "?");
  if (query < fragment) out->query = Dup(query + 1, fragment, &failed);

  if (query - p >= 2 && p[0] == '/' && p[1] == '/') {
    p += 2;
    const char* authEnd = FindAny(p, query, "/");
    const char* at = nullptr;
    for (const char* c = p; c < authEnd; ++c)
      if (*c == '@') at = c;
    if (at) {
      const char* colon = FindAny(p, at, ":");
      out->user = Dup(p, colon, &failed);
      if (colon < at) out->password = Dup(colon + 1, at, &failed);
      p = at + 1;
    }
    const char* hostEnd = p;
    if (hostEnd < authEnd && *hostEnd == '[') {
      hostEnd = FindAny(hostEnd, authEnd, "]");
      if (hostEnd == authEnd) {
        UrlFreeParsed(out);
        return kUrlBadUrl;
      }
      ++hostEnd;
    }
    hostEnd = FindAny(hostEnd, authEnd, ":");
    out->host = Dup(p, hostEnd, &failed);
    if (hostEnd < authEnd) {
      uint32_t port = 0;
      for (const char* c = hostEnd + 1; c < authEnd; ++c) {
        if (!IsDigit(*c) || (port = port * 10 + static_cast<uint32_t>(*c - '0')) > 65535) {
          UrlFreeParsed(out);
          return kUrlBadUrl;
        }
      }
      // "host:" with no digits names no port.
      if (authEnd - hostEnd > 1) {
        out->port = static_cast<uint16_t>(port);
        out->portGiven = 1;
      }
    }
    p = authEnd;
  }
  SplitPath(out, p, query, &failed);
  if (failed) {
    UrlFreeParsed(out);
    return kUrlNoMemory;
  }
  return kOk;
}

Result UrlCopyParsed(UrlParsed* out, const UrlParsed* url) {
  bool failed = false;
  out->scheme = DupText(url->scheme, &failed);
  out->user = DupText(url->user, &failed);
  out->password = DupText(url->password, &failed);
  out->host = DupText(url->host, &failed);
  out->port = url->port;
  out->portGiven = url->portGiven;
  out->path = DupText(url->path, &failed);
  out->params = DupText(url->params, &failed);
  out->query = DupText(url->query, &failed);
  out->fragment = DupText(url->fragment, &failed);
  if (failed) {
    UrlFreeParsed(out);
    return kUrlNoMemory;
  }
  return kOk;
}

Result UrlToString(char** out, const UrlParsed* url, uint32_t flags) {
  *out = nullptr;
  auto len = [](const char* s) { return s ? LibcStrLen(s) : 0u; };
  const bool fragment = url->fragment && !(flags & kUrlNoFragment);
  // Every byte may become a three-byte escape.
  uint32_t size = 3 * (len(url->scheme) + len(url->user) + len(url->password) + len(url->host) +
                       len(url->path) + len(url->params) + len(url->query) +
                       (fragment ? len(url->fragment) : 0)) +
                  32;
  char* s = static_cast<char*>(MemAlloc(size, Use::String, Mod::Url));
  if (!s) return kUrlNoMemory;
  char* p = s;
  auto put = [&p](const char* text) {
    while (*text) *p++ = *text++;
  };
  // Blanks and control bytes are escaped: they are not URL characters, and
  // a parse would drop those at either end.
  auto part = [&p](const char* text) {
    static const char kHex[] = "0123456789ABCDEF";
    for (; *text; ++text) {
      const auto byte = static_cast<uint8_t>(*text);
      if (byte <= 0x20 || byte == 0x7F) {
        *p++ = '%';
        *p++ = kHex[byte >> 4];
        *p++ = kHex[byte & 15];
      } else {
        *p++ = *text;
      }
    }
  };
  if (url->scheme) {
    part(url->scheme);
    put(":");
  }
  if (url->host) {
    put("//");
    if (url->user) {
      part(url->user);
      if (url->password) {
        put(":");
        part(url->password);
      }
      put("@");
    }
    part(url->host);
    if (url->portGiven) {
      char digits[12];
      put(":");
      put(LibcItoA(url->port, digits, 10));
    }
  }
  if (url->path) {
    // A path that would read as an authority or a scheme is written so that
    // it reads back as the same path.
    if (!url->host && url->path[0] == '/' && url->path[1] == '/') {
      put("/.");
    } else if (!url->scheme && !url->host) {
      const char* colon = LibcStrChr(url->path, ':');
      const char* slash = LibcStrChr(url->path, '/');
      if (colon && (!slash || colon < slash)) put("./");
    }
    part(url->path);
  }
  if (url->params) {
    put(";");
    part(url->params);
  }
  if (url->query) {
    put("?");
    part(url->query);
  }
  if (fragment) {
    put("#");
    part(url->fragment);
  }
  *p = 0;
  *out = s;
  return kOk;
}

Result UrlResolve(UrlParsed* out, const UrlParsed* base, const char* embedded) {
  LibcMemSet(out, 0, sizeof *out);
  UrlParsed ref;
  if (Result r = UrlParse(&ref, embedded, 0); r != kOk) return r;
  bool failed = false;
  char* path = nullptr;  // the target's full path, dot segments still in
  bool basePathKept = false;
  const UrlParsed* authority = &ref;
  const char* query = ref.query;
  if (ref.scheme) {
    out->scheme = DupText(ref.scheme, &failed);
    path = JoinPath(&ref);
  } else {
    out->scheme = DupText(base->scheme, &failed);
    if (ref.host) {
      path = JoinPath(&ref);
    } else {
      authority = base;
      char* refPath = JoinPath(&ref);
      if (!refPath) {
        failed = true;
      } else if (!refPath[0]) {
        path = JoinPath(base);
        basePathKept = true;
        if (!ref.query) query = base->query;
      } else if (refPath[0] == '/') {
        path = refPath;
        refPath = nullptr;
      } else {
        // Merge: the base path up to its last '/', or "/" under an empty
        // base path with an authority.
        char* basePath = JoinPath(base);
        if (basePath) {
          const char* slash = LibcStrRChr(basePath, '/');
          uint32_t keep = slash ? static_cast<uint32_t>(slash - basePath) + 1 : 0;
          const bool root = base->host && !basePath[0];
          uint32_t n = LibcStrLen(refPath);
          path = static_cast<char*>(MemAlloc(keep + root + n + 1, Use::String, Mod::Url));
          if (path) {
            LibcMemCopy(path, basePath, keep);
            if (root) path[keep] = '/';
            LibcMemCopy(path + keep + root, refPath, n + 1);
          }
          MemFree(&basePath);
        }
      }
      MemFree(&refPath);
    }
  }
  if (!path) failed = true;
  if (!failed) {
    if (!basePathKept) RemoveDotSegments(path);
    out->user = DupText(authority->user, &failed);
    out->password = DupText(authority->password, &failed);
    out->host = DupText(authority->host, &failed);
    out->port = authority->port;
    out->portGiven = authority->portGiven;
    SplitPath(out, path, path + LibcStrLen(path), &failed);
    out->query = DupText(query, &failed);
    out->fragment = DupText(ref.fragment, &failed);
  }
  MemFree(&path);
  UrlFreeParsed(&ref);
  if (failed) {
    UrlFreeParsed(out);
    return kUrlNoMemory;
  }
  return kOk;
}

void UrlUnescapeInPlace(char* text) {
  if (!text) return;
  char* out = text;
  for (const char* in = text; *in;) {
    int hi, lo;
    if (in[0] == '%' && (hi = LibcHexDigit(in[1])) >= 0 && (lo = LibcHexDigit(in[2])) >= 0) {
      *out++ = static_cast<char>(hi << 4 | lo);
      in += 3;
    } else {
      *out++ = *in++;
    }
  }
  *out = 0;
}

Result UrlPercentDecode(const char* text, char** out, int plus) {
  *out = nullptr;
  if (!text) text = "";
  char* copy = LibcStrDup(text);
  if (!copy) return kUrlNoMemory;
  if (plus)
    for (char* c = copy; *c; ++c)
      if (*c == '+') *c = ' ';
  UrlUnescapeInPlace(copy);
  *out = copy;
  return kOk;
}
