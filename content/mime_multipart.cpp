// The multipart/related parser.
#include "content/mime_multipart.h"

#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

constexpr uint32_t kMod = MimeMod::Multipart;

bool IsBlank(char c) { return c == ' ' || (c >= 9 && c <= 13); }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsNoCase(const char* text, uint32_t length, const char* prefix) {
  uint32_t i = 0;
  for (; prefix[i]; ++i)
    if (i >= length || Lower(text[i]) != Lower(prefix[i])) return false;
  return true;
}

bool EqualsNoCase(const char* text, uint32_t length, const char* word) {
  uint32_t n = 0;
  while (word[n]) ++n;
  return n == length && StartsNoCase(text, length, word);
}

void StringFree(MimeString* s) {
  MemFree(&s->text);
  s->length = 0;
}

// Appends `length` bytes; false without memory (the string is unchanged).
bool StringAppend(MimeString* s, const char* bytes, uint32_t length) {
  if (length == 0 && s->text) return true;
  const uint64_t size = uint64_t{s->length} + length + 1;
  if (size > 0x7FFFFFFF) return false;
  auto* grown = static_cast<char*>(
      s->text ? MemRealloc(s->text, static_cast<uint32_t>(size), 0, kMod)
              : MemAlloc(static_cast<uint32_t>(size), Use::Data, kMod));
  if (!grown) return false;
  for (uint32_t i = 0; i < length; ++i) grown[s->length + i] = bytes[i];
  s->text = grown;
  s->length += length;
  s->text[s->length] = 0;
  return true;
}

// Sets a field that keeps the first value it receives.
bool SetOnce(MimeString* field, const char* value, uint32_t length) {
  if (field->text) return true;
  return StringAppend(field, value, length);
}

bool SetOnceTaken(MimeString* field, char* text, uint32_t length) {
  if (!text) return false;
  if (field->text) {
    MemFree(&text);
    return true;
  }
  field->text = text;
  field->length = length;
  return true;
}

bool Contains(const char* text, uint32_t length, const char* word) {
  for (uint32_t i = 0; i < length; ++i) {
    uint32_t j = 0;
    while (word[j] && i + j < length && text[i + j] == word[j]) ++j;
    if (!word[j]) return true;
  }
  return false;
}

void FreePart(MimeMultipartParser* p) {
  StringFree(&p->location);
  StringFree(&p->contentId);
  StringFree(&p->contentType);
  StringFree(&p->encoding);
  StringFree(&p->header);
  p->unknownEncoding = 0;
}

bool SetEncoding(MimeMultipartParser* p, const char* v, uint32_t n) {
  if (p->encoding.text) return true;
  // Identity encodings pass through; the decoder of a stored part copies
  // anything it does not know, so an unknown one is kept and marked.
  if (!EqualsNoCase(v, n, "base64") && !EqualsNoCase(v, n, "quoted-printable") &&
      !EqualsNoCase(v, n, "7bit") && !EqualsNoCase(v, n, "8bit") &&
      !EqualsNoCase(v, n, "binary"))
    p->unknownEncoding = 1;
  return StringAppend(&p->encoding, v, n);
}

bool SetContentId(MimeMultipartParser* p, const char* v, uint32_t n) {
  uint32_t from = 0;
  while (from < n && v[from] != '<') ++from;
  if (from == n) return SetOnce(&p->contentId, v, n);
  ++from;
  uint32_t to = n;
  while (to > from && v[to - 1] != '>') --to;
  if (to == from) to = n + 1;  // no closing ">": the rest
  return SetOnce(&p->contentId, v + from, to - 1 - from);
}

bool SetLocation(MimeMultipartParser* p, const char* v, uint32_t n) {
  if (p->location.text) return true;
  uint32_t decodedLength = 0;
  char* decoded = MimeDecodeWord(v, n, &decodedLength);
  if (!decoded) return false;
  if (Contains(decoded, decodedLength, "://") || !p->base.text) {
    return SetOnceTaken(&p->location, decoded, decodedLength);
  }
  MimeString joined{};
  const bool ok = StringAppend(&joined, p->base.text, p->base.length) &&
                  StringAppend(&joined, decoded, decodedLength);
  MemFree(&decoded);
  if (!ok) {
    StringFree(&joined);
    return false;
  }
  p->location = joined;
  return true;
}

bool SetDecoded(MimeString* field, const char* v, uint32_t n) {
  if (field->text) return true;
  uint32_t length = 0;
  char* decoded = MimeDecodeWord(v, n, &length);
  return decoded && SetOnceTaken(field, decoded, length);
}

// The document's own content type: "multipart/related; name=value; ...".
bool DocumentType(MimeMultipartParser* p, const char* line, uint32_t n) {
  uint32_t at = 0;
  while (at < n && line[at] != ';') ++at;
  while (at < n) {
    ++at;  // past ";"
    uint32_t end = at;
    bool quoted = false;
    while (end < n && (quoted || line[end] != ';')) {
      if (line[end] == '"') quoted = !quoted;
      ++end;
    }
    uint32_t nameFrom = at;
    while (nameFrom < end && IsBlank(line[nameFrom])) ++nameFrom;
    uint32_t eq = nameFrom;
    while (eq < end && line[eq] != '=') ++eq;
    if (eq < end) {
      uint32_t nameTo = eq;
      while (nameTo > nameFrom && IsBlank(line[nameTo - 1])) --nameTo;
      uint32_t vFrom = eq + 1, vTo = end;
      while (vFrom < vTo && IsBlank(line[vFrom])) ++vFrom;
      while (vTo > vFrom && IsBlank(line[vTo - 1])) --vTo;
      if (vTo - vFrom >= 2 && line[vFrom] == '"' && line[vTo - 1] == '"') {
        ++vFrom;
        --vTo;
      }
      const char* name = line + nameFrom;
      const uint32_t nameLength = nameTo - nameFrom;
      const char* value = line + vFrom;
      const uint32_t valueLength = vTo - vFrom;
      bool ok = true;
      if (EqualsNoCase(name, nameLength, "start"))
        ok = SetDecoded(&p->start, value, valueLength);
      else if (EqualsNoCase(name, nameLength, "type"))
        ok = SetOnce(&p->type, value, valueLength);
      else if (EqualsNoCase(name, nameLength, "boundary"))
        ok = SetOnce(&p->boundary, value, valueLength);
      if (!ok) return false;
    }
    at = end;
  }
  return true;
}

// A complete (unfolded) header line.
bool HeaderLine(MimeMultipartParser* p, const char* line, uint32_t n) {
  if (StartsNoCase(line, n, "multipart")) return DocumentType(p, line, n);
  uint32_t colon = 0;
  while (colon < n && line[colon] != ':') ++colon;
  if (colon == n) return true;
  uint32_t v = colon + 1;
  while (v < n && IsBlank(line[v])) ++v;
  const char* value = line + v;
  const uint32_t length = n - v;
  auto is = [&](const char* name) {
    uint32_t i = 0;
    for (; name[i]; ++i)
      if (i >= colon || line[i] != name[i]) return false;
    return i == colon;
  };
  if (is("Content-Type")) {
    // The document's own type may come as a whole header line too.
    if (p->state == MimeState::DocumentHeaders && StartsNoCase(value, length, "multipart"))
      return DocumentType(p, value, length);
    return SetOnce(&p->contentType, value, length);
  }
  if (is("Content-Transfer-Encoding")) return SetEncoding(p, value, length);
  if (is("Content-Location")) return SetLocation(p, value, length);
  if (is("Content-Base")) return SetDecoded(&p->base, value, length);
  if (is("Content-ID")) return SetContentId(p, value, length);
  return true;
}

bool IsRoot(MimeMultipartParser* p) {
  const MimeString& s = p->start;
  if (s.text) {
    if (p->location.text && s.length == p->location.length &&
        LibcMemCompare(s.text, p->location.text, s.length) == 0)
      return true;
    if (p->contentId.text) {
      const char* id = nullptr;
      uint32_t idLength = 0;
      if (StartsNoCase(s.text, s.length, "cid:")) {
        id = s.text + 4;
        idLength = s.length - 4;
      } else if (s.length >= 2 && s.text[0] == '<' && s.text[s.length - 1] == '>') {
        // RFC 2387 writes the start as a Content-ID in angle brackets.
        id = s.text + 1;
        idLength = s.length - 2;
      }
      if (id && idLength == p->contentId.length &&
          LibcMemCompare(id, p->contentId.text, idLength) == 0)
        return true;
    }
  }
  if (p->type.text && p->contentType.text && p->type.length <= p->contentType.length &&
      LibcMemCompare(p->type.text, p->contentType.text, p->type.length) == 0) {
    StringFree(&p->type);  // one part at most is root by type
    return true;
  }
  return false;
}

void EndOfHeaders(MimeMultipartParser* p) {
  if (p->state == MimeState::DocumentHeaders || (!p->location.text && !p->contentId.text)) {
    p->state = MimeState::Skipping;
    return;
  }
  const int root = IsRoot(p) ? 1 : 0;
  int go = p->begin ? p->begin(p->context, p->location.text, p->contentId.text, root) : 1;
  const MimeString* fields[] = {&p->contentType, &p->encoding, &p->contentId, &p->location};
  for (uint32_t i = 0; i < 4 && go; ++i)
    if (fields[i]->text && p->onHeader) go = p->onHeader(p->context, i + 1, fields[i]->text);
  p->state = go ? MimeState::PartBody : MimeState::Skipping;
}

// Completes the held header line; false without memory.
bool FlushHeader(MimeMultipartParser* p) {
  if (!p->header.text) return true;
  const bool ok = HeaderLine(p, p->header.text, p->header.length);
  StringFree(&p->header);
  return ok;
}

uint32_t HeaderState(MimeMultipartParser* p, const char* line, uint32_t n) {
  if (n > 0 && IsBlank(line[0])) {
    uint32_t from = 0;
    while (from < n && IsBlank(line[from])) ++from;
    if (!p->header.text) return MimeParse::Ok;  // nothing to continue
    if (!StringAppend(&p->header, " ", 1) ||
        !StringAppend(&p->header, line + from, n - from))
      return MimeParse::NoMemory;
    return MimeParse::Ok;
  }
  if (!FlushHeader(p)) return MimeParse::NoMemory;
  if (n == 0) {
    EndOfHeaders(p);
    return MimeParse::Ok;
  }
  if (!StringAppend(&p->header, line, n)) return MimeParse::NoMemory;
  return MimeParse::Ok;
}

bool IsBoundary(const MimeMultipartParser* p, const char* line, uint32_t n) {
  return p->boundary.text && n >= p->boundary.length + 2 && line[0] == '-' && line[1] == '-' &&
         LibcMemCompare(line + 2, p->boundary.text, p->boundary.length) == 0;
}

void Boundary(MimeMultipartParser* p, const char* line, uint32_t n) {
  const bool inBody = p->state == MimeState::PartBody;
  FreePart(p);
  if (inBody && p->onData) p->onData(p->context, nullptr, 0);
  const uint32_t after = p->boundary.length + 2;
  const bool closing = n >= after + 2 && line[after] == '-' && line[after + 1] == '-';
  p->state = closing ? MimeState::Skipping : MimeState::PartHeaders;
}

// One complete line, its line end included.
uint32_t Line(MimeMultipartParser* p, const char* line, uint32_t n) {
  uint32_t bare = n;
  if (bare && line[bare - 1] == '\n') --bare;
  if (bare && line[bare - 1] == '\r') --bare;
  switch (p->state) {
    case MimeState::DocumentHeaders:
      // A store that feeds the type line straight before the first
      // boundary has no empty line to end the document's headers. The type
      // line may still be held for unfolding, and it names the boundary:
      // any line that does not continue it completes it first.
      if (!(bare > 0 && IsBlank(line[0])) && !FlushHeader(p)) return MimeParse::NoMemory;
      if (IsBoundary(p, line, bare)) {
        Boundary(p, line, bare);
        return MimeParse::Ok;
      }
      return HeaderState(p, line, bare);
    case MimeState::PartHeaders:
      return HeaderState(p, line, bare);
    case MimeState::PartBody:
    case MimeState::Skipping:
      if (IsBoundary(p, line, bare)) {
        Boundary(p, line, bare);
      } else if (p->state == MimeState::PartBody && p->onData &&
                 !p->onData(p->context, reinterpret_cast<const uint8_t*>(line), n)) {
        p->state = MimeState::Skipping;
      }
      return MimeParse::Ok;
    default:
      return MimeParse::Broken;
  }
}

}  // namespace

char* MimeDecodeWord(const char* value, uint32_t length, uint32_t* outLength) {
  const char* text = value;
  uint32_t n = length;
  char mode = 0;
  if (length >= 2 && value[0] == '=' && value[1] == '?') {
    uint32_t q = 2;
    while (q < length && value[q] != '?') ++q;  // past the charset
    if (q + 2 < length && value[q + 2] == '?') {
      mode = value[q + 1];
      const uint32_t from = q + 3;
      uint32_t to = from;
      while (to + 1 < length && !(value[to] == '?' && value[to + 1] == '=')) ++to;
      if (to + 1 >= length) to = length;
      text = value + from;
      n = to - from;
    }
  }
  auto* out = static_cast<char*>(MemAlloc(n + 1, Use::Data, kMod));
  if (!out) return nullptr;
  uint32_t written = 0;
  if (mode == 'B' || mode == 'b') {
    // 3 * n / 4 fits in n + 1 bytes.
    written = LibcBase64Decode(text, n, reinterpret_cast<uint8_t*>(out), nullptr);
  } else if (mode == 'Q' || mode == 'q') {
    written = LibcQpDecode(text, n, reinterpret_cast<uint8_t*>(out));
  } else {
    for (uint32_t i = 0; i < n; ++i) out[i] = text[i];
    written = n;
  }
  out[written] = 0;
  if (outLength) *outLength = written;
  return out;
}

uint32_t MimeMultipartCreate(MimeMultipartParser** out, void* context, MimePartBeginFn begin,
                             MimePartHeaderFn onHeader, MimePartDataFn onData) {
  auto* p = static_cast<MimeMultipartParser*>(
      MemAllocZero(sizeof(MimeMultipartParser), Use::Data, kMod));
  *out = p;
  if (!p) return MimeParse::NoMemory;
  p->context = context;
  p->begin = begin;
  p->onHeader = onHeader;
  p->onData = onData;
  return MimeParse::Ok;
}

uint32_t MimeMultipartParse(MimeMultipartParser* p, const uint8_t* bytes, uint32_t length) {
  if (p->state > MimeState::Skipping) return MimeParse::Broken;
  const char* chunk = reinterpret_cast<const char*>(bytes);
  uint32_t at = 0;
  while (at < length) {
    // A line that begins with NUL ends the data, except inside a part's
    // body, where binary parts may hold any byte.
    if (p->held.length == 0 && chunk[at] == 0 && p->state != MimeState::PartBody)
      return MimeParse::Ok;
    uint32_t end = at;
    while (end < length && chunk[end] != '\n') ++end;
    if (end == length) {
      if (!StringAppend(&p->held, chunk + at, length - at)) return MimeParse::NoMemory;
      return MimeParse::Ok;
    }
    ++end;  // the LF belongs to the line
    uint32_t r;
    if (p->held.length) {
      if (!StringAppend(&p->held, chunk + at, end - at)) return MimeParse::NoMemory;
      MimeString line = p->held;
      p->held = MimeString{};
      r = Line(p, line.text, line.length);
      StringFree(&line);
    } else {
      r = Line(p, chunk + at, end - at);
    }
    if (r != MimeParse::Ok) return r;
    at = end;
  }
  return MimeParse::Ok;
}

uint32_t MimeMultipartEnd(MimeMultipartParser* p) {
  if (p->state > MimeState::Skipping) return MimeParse::Broken;
  uint32_t r = MimeParse::Ok;
  if (p->held.length && p->held.text[0] != 0) {
    MimeString line = p->held;
    p->held = MimeString{};
    r = Line(p, line.text, line.length);
    StringFree(&line);
  }
  StringFree(&p->held);
  if (p->state == MimeState::PartBody) {
    FreePart(p);
    if (p->onData) p->onData(p->context, nullptr, 0);
  }
  p->state = MimeState::Skipping;
  return r;
}

void MimeMultipartFree(MimeMultipartParser** parser) {
  MimeMultipartParser* p = *parser;
  if (!p) return;
  FreePart(p);
  StringFree(&p->held);
  StringFree(&p->boundary);
  StringFree(&p->start);
  StringFree(&p->type);
  StringFree(&p->base);
  MemFree(parser);
}
