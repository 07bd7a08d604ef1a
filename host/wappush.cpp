// The WSP push PDU reader and the placing of pushed objects in the cache.
#include "host/wappush.h"

#include <cstdio>

#include "browser/cache.h"
#include "browser/url.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "services/push/notify.h"

namespace {

// Well-known content types, by their number.
constexpr const char* kContentTypes[] = {
    "*/*", "text/*", "text/html", "text/plain", "text/x-hdml", "text/x-ttml",
    "text/x-vCalendar", "text/x-vCard", "text/vnd.wap.wml", "text/vnd.wap.wmlscript",
    "text/vnd.wap.wta-event", "multipart/*", "multipart/mixed", "multipart/form-data",
    "multipart/byterantes", "multipart/alternative", "application/*", "application/java-vm",
    "application/x-www-form-urlencoded", "application/x-hdmlc", "application/vnd.wap.wmlc",
    "application/vnd.wap.wmlscriptc", "application/vnd.wap.wta-eventc",
    "application/vnd.wap.uaprof", "application/vnd.wap.wtls-ca-certificate",
    "application/vnd.wap.wtls-user-certificate", "application/x-x509-ca-cert",
    "application/x-x509-user-cert", "image/*", "image/gif", "image/jpeg", "image/tiff",
    "image/png", "image/vnd.wap.wbmp", "application/vnd.wap.multipart.*",
    "application/vnd.wap.multipart.mixed", "application/vnd.wap.multipart.form-data",
    "application/vnd.wap.multipart.byteranges", "application/vnd.wap.multipart.alternative",
    "application/xml", "text/xml", "application/vnd.wap.wbxml",
    "application/x-x968-cross-cert", "application/x-x968-ca-cert",
    "application/x-x968-user-cert", "text/vnd.wap.si", "application/vnd.wap.sic",
    "text/vnd.wap.sl", "application/vnd.wap.slc", "text/vnd.wap.co", "application/vnd.wap.coc",
    "application/vnd.wap.multipart.related", "application/vnd.wap.sia",
    "text/vnd.wap.connectivity-xml", "application/vnd.wap.connectivity-wbxml",
    "application/pkcs7-mime", "application/vnd.wap.hashed-certificate",
    "application/vnd.wap.signed-certificate", "application/vnd.wap.cert-response",
    "application/xhtml+xml", "application/wml+xml", "text/css",
    "application/vnd.wap.mms-message", "application/vnd.wap.rollover-certificate",
    "application/vnd.wap.locc+wbxml", "application/vnd.wap.loc+xml",
    "application/vnd.syncml.dm+wbxml", "application/vnd.syncml.dm+xml",
    "application/vnd.syncml.notification", "application/vnd.wap.xhtml+xml",
    "application/vnd.wv.csp.cir", "application/vnd.oma.dd+xml",
    "application/vnd.oma.drm.message", "application/vnd.oma.drm.content",
    "application/vnd.oma.drm.rights+xml", "application/vnd.oma.drm.rights+wbxml",
};

// Well-known header fields of code page 1, by their number.
constexpr const char* kHeaders[] = {
    "Accept", "Accept-Charset", "Accept-Encoding", "Accept-Language", "Accept-Ranges", "Age",
    "Allow", "Authorization", "Cache-Control", "Connection", "Content-Base",
    "Content-Encoding", "Content-Language", "Content-Length", "Content-Location",
    "Content-MD5", "Content-Range", "Content-Type", "Date", "Etag", "Expires", "From", "Host",
    "If-Modified-Since", "If-Match", "If-None-Match", "If-Range", "If-Unmodified-Since",
    "Location", "Last-Modified", "Max-Forwards", "Pragma", "Proxy-Authenticate",
    "Proxy-Authorization", "Public", "Range", "Referer", "Retry-After", "Server",
    "Transfer-Encoding", "Upgrade", "User-Agent", "Vary", "Via", "Warning", "WWW-Authenticate",
    "Content-Disposition", "X-Wap-Application-Id", "X-Wap-Content-URI", "X-Wap-Initiator-URI",
    "Accept-Application", "Bearer-Indication", "Push-Flag", "Profile", "Profile-Diff",
    "Profile-Warning", "Expect", "TE", "Trailer", "Accept-Charset", "Accept-Encoding",
    "Cache-Control", "Content-Range", "X-Wap-Tod", "Content-ID", "Set-Cookie", "Cookie",
    "Encoding-Version", "Profile-Warning", "Content-Disposition", "X-WAP-Security",
    "Cache-Control",
};

// How a typed parameter's value is coded; every other form reads as a
// general value (below).
enum class ParamForm : uint8_t { General, Q, Charset, Version, NoValue };

struct ParamRow {
  const char* name;
  ParamForm form;
};

// Well-known parameters, by their number.
constexpr ParamRow kParams[] = {
    {"q", ParamForm::Q},          {"charset", ParamForm::Charset},
    {"level", ParamForm::Version}, {"type", ParamForm::General},
    {nullptr, ParamForm::General}, {"name", ParamForm::General},
    {"filename", ParamForm::General}, {"differences", ParamForm::General},
    {"padding", ParamForm::General}, {"type", ParamForm::General},
    {"start", ParamForm::General}, {"start-info", ParamForm::General},
    {"comment", ParamForm::General}, {"domain", ParamForm::General},
    {"max-age", ParamForm::General}, {"path", ParamForm::General},
    {"secure", ParamForm::NoValue}, {"sec", ParamForm::General},
    {"mac", ParamForm::General},  {"creation-date", ParamForm::General},
    {"modification-date", ParamForm::General}, {"read-date", ParamForm::General},
    {"size", ParamForm::General}, {"name", ParamForm::General},
    {"filename", ParamForm::General}, {"start", ParamForm::General},
    {"start-info", ParamForm::General}, {"comment", ParamForm::General},
    {"domain", ParamForm::General}, {"path", ParamForm::General},
};

template <typename T, uint32_t N>
constexpr uint32_t Count(const T (&)[N]) {
  return N;
}

constexpr uint8_t kLengthQuote = 31;
constexpr uint8_t kTextQuote = 0x7F;  // also the shift delimiter among field names
constexpr uint8_t kStringQuote = 0x22;

// A bounded reader: every read past the end marks it bad and gives zeros.
struct Reader {
  const uint8_t* bytes;
  uint32_t end;
  uint32_t at;
  bool bad;

  bool AtEnd() const { return at >= end; }
  uint8_t Peek() const { return at < end ? bytes[at] : 0; }
  uint8_t Byte() {
    if (at >= end) {
      bad = true;
      return 0;
    }
    return bytes[at++];
  }
  // A variable-length unsigned integer: 7 bits a byte, at most 32 bits.
  uint32_t Uintvar() {
    uint32_t value = 0;
    for (int i = 0; i < 5; ++i) {
      const uint8_t b = Byte();
      if (bad) return 0;
      if (value > (0xFFFFFFFFu >> 7)) break;
      value = value << 7 | (b & 0x7F);
      if (!(b & 0x80)) return value;
    }
    bad = true;
    return 0;
  }
  // Value-length: a short length, or the length quote and a uintvar. The
  // bytes it counts must lie inside the reader.
  uint32_t ValueLength() {
    const uint8_t b = Byte();
    uint32_t length = b;
    if (b == kLengthQuote)
      length = Uintvar();
    else if (b > kLengthQuote)
      bad = true;
    if (!bad && length > end - at) bad = true;
    return bad ? 0 : length;
  }
  // A NUL-terminated text from here; null (and bad) when it has no end.
  const char* Text() {
    const uint32_t from = at;
    while (at < end && bytes[at] != 0) ++at;
    if (at >= end) {
      bad = true;
      return nullptr;
    }
    ++at;  // the NUL
    return reinterpret_cast<const char*>(bytes + from);
  }
};

// A value as text: either a text inside the PDU or a number written here.
struct Value {
  const char* text;  // null: no value to keep
  char number[24];

  void SetNumber(uint64_t n) {
    std::snprintf(number, sizeof number, "%llu", static_cast<unsigned long long>(n));
    text = number;
  }
};

// A multi-octet integer of `length` bytes, big-endian; false when it does
// not fit 64 bits.
bool ReadLongInteger(Reader& r, uint32_t length, uint64_t* out) {
  uint64_t value = 0;
  for (uint32_t i = 0; i < length; ++i) value = value << 8 | r.Byte();
  *out = value;
  return length <= 8 && !r.bad;
}

// A text whose first byte is a quote: the quote is not part of it.
const char* Unquoted(const char* text) {
  if (text && (static_cast<uint8_t>(*text) == kTextQuote || *text == kStringQuote)) return text + 1;
  return text;
}

// The general value forms: a short integer, No-value, a length and that
// many bytes (a long integer when it fits), or a text.
void ReadGeneral(Reader& r, Value* v) {
  v->text = nullptr;
  const uint8_t b = r.Peek();
  if (r.AtEnd()) {
    r.bad = true;
  } else if (b & 0x80) {
    v->SetNumber(r.Byte() & 0x7F);
  } else if (b == 0) {
    r.Byte();
    v->text = "";
  } else if (b <= kLengthQuote) {
    const uint32_t length = r.ValueLength();
    uint64_t n = 0;
    if (r.bad) return;
    // Only plain integers become text; other compound values are passed by.
    if (b < kLengthQuote && length <= 8 && ReadLongInteger(r, length, &n))
      v->SetNumber(n);
    else
      r.at += length;
  } else {
    v->text = Unquoted(r.Text());
  }
}

// Integer-value: a short integer or a long one of at most 30 bytes.
bool ReadInteger(Reader& r, uint64_t* out) {
  const uint8_t b = r.Byte();
  if (b & 0x80) {
    *out = b & 0x7F;
    return !r.bad;
  }
  if (b == 0 || b >= kLengthQuote || b > r.end - r.at) {
    r.bad = true;
    return false;
  }
  return ReadLongInteger(r, b, out);
}

void ReadTyped(Reader& r, ParamForm form, Value* v, UrlLoad* load) {
  switch (form) {
    case ParamForm::Q: {
      // 1-100: two decimals (value - 1), 101-1099: three (value - 100).
      const uint32_t q = r.Uintvar();
      if (r.bad || q == 0 || q > 1099) {
        r.bad = true;
        return;
      }
      if (q <= 100)
        std::snprintf(v->number, sizeof v->number, "0.%02u", q - 1);
      else
        std::snprintf(v->number, sizeof v->number, "0.%03u", q - 100);
      v->text = v->number;
      return;
    }
    case ParamForm::Charset: {
      if (r.Peek() == 0x80) {  // any character set
        r.Byte();
        v->text = "*";
        return;
      }
      uint64_t mib = 0;
      if (!ReadInteger(r, &mib)) return;
      if (mib <= 0xFFFFFFFFu) load->charset = static_cast<uint32_t>(mib);
      v->SetNumber(mib);
      return;
    }
    case ParamForm::Version: {
      const uint8_t b = r.Peek();
      if (!(b & 0x80)) {
        ReadGeneral(r, v);
        return;
      }
      r.Byte();
      const uint32_t major = (b >> 4) & 0x07, minor = b & 0x0F;
      if (minor == 0x0F)
        std::snprintf(v->number, sizeof v->number, "%u", major);
      else
        std::snprintf(v->number, sizeof v->number, "%u.%u", major, minor);
      v->text = v->number;
      return;
    }
    case ParamForm::NoValue:
      if (r.Byte() != 0) r.bad = true;
      v->text = "";
      return;
    case ParamForm::General:
      ReadGeneral(r, v);
      return;
  }
}

Result Keep(UrlLoad* load, const char* name, const Value& v) {
  if (!name || !v.text) return kOk;
  return UrlAddHeader(load, name, v.text) == kOk ? kOk : kWapPushNoMemory;
}

// The content type's parameters, up to the end of the reader.
Result ReadParameters(Reader& r, UrlLoad* load) {
  while (!r.AtEnd()) {
    const uint8_t b = r.Peek();
    Value v{};
    const char* name = nullptr;
    if (b >= 0x80 || (b > 0 && b < kLengthQuote)) {
      uint64_t code = 0;
      if (!ReadInteger(r, &code)) return kWapPushMalformed;
      const ParamRow* row = code < Count(kParams) ? &kParams[code] : nullptr;
      ReadTyped(r, row ? row->form : ParamForm::General, &v, load);
      name = row ? row->name : nullptr;
    } else if (b > ' ' && b < kTextQuote) {
      name = r.Text();  // an untyped parameter: its name, then an integer or a text
      ReadGeneral(r, &v);
    } else {
      return kWapPushMalformed;
    }
    if (r.bad) return kWapPushMalformed;
    if (Result k = Keep(load, name, v); k != kOk) return k;
  }
  return kOk;
}

Result SetType(UrlLoad* load, uint64_t code, const char* text) {
  if (text) {
    UrlSetContentTypeMime(load, text);
    return UrlAddHeader(load, "Content-Type", text) == kOk ? kOk : kWapPushNoMemory;
  }
  UrlSetContentTypeId(load, static_cast<uint32_t>(code));
  if (const char* name = WspContentTypeName(static_cast<uint32_t>(code)))
    return UrlAddHeader(load, "Content-Type", name) == kOk ? kOk : kWapPushNoMemory;
  return kOk;
}

// Content-type-value: a short integer or a text alone, or a length and the
// media type (an integer or a text) with its parameters.
Result ReadContentType(Reader& r, UrlLoad* load) {
  const uint8_t b = r.Peek();
  if (r.AtEnd()) return kWapPushMalformed;
  if (b & 0x80) return SetType(load, r.Byte() & 0x7F, nullptr);
  if (b > kLengthQuote) {
    const char* text = Unquoted(r.Text());
    if (r.bad) return kWapPushMalformed;
    return SetType(load, 0, text);
  }
  const uint32_t length = r.ValueLength();
  if (r.bad || length == 0) return kWapPushMalformed;
  Reader inner{r.bytes, r.at + length, r.at, false};
  r.at += length;
  const uint8_t m = inner.Peek();
  Result k = kOk;
  if (m >= 0x80 || (m > 0 && m < kLengthQuote)) {
    uint64_t code = 0;
    if (!ReadInteger(inner, &code) || code > 0xFFFFFFFFu) return kWapPushMalformed;
    k = SetType(load, code, nullptr);
  } else if (m > kLengthQuote) {
    const char* text = Unquoted(inner.Text());
    if (inner.bad) return kWapPushMalformed;
    k = SetType(load, 0, text);
  } else {
    return kWapPushMalformed;
  }
  if (k != kOk) return k;
  return ReadParameters(inner, load);
}

// The headers after the content type: well-known fields of code page 1 by
// number, application fields by name. Fields of other code pages are passed by.
Result ReadHeaders(Reader& r, UrlLoad* load) {
  uint32_t page = 1;
  while (!r.AtEnd()) {
    const uint8_t b = r.Byte();
    Value v{};
    const char* name = nullptr;
    if (b == kTextQuote) {
      page = r.Byte();  // shift delimiter and the page
      if (r.bad) return kWapPushMalformed;
      continue;
    }
    if (b > 0 && b < ' ') {
      page = b;  // short-cut shift
      continue;
    }
    if (b & 0x80) {
      const uint32_t code = b & 0x7F;
      ReadGeneral(r, &v);
      if (page == 1 && code < Count(kHeaders)) name = kHeaders[code];
    } else if (b > ' ') {
      --r.at;
      name = r.Text();
      ReadGeneral(r, &v);
    } else {
      return kWapPushMalformed;
    }
    if (r.bad) return kWapPushMalformed;
    if (Result k = Keep(load, name, v); k != kOk) return k;
  }
  return kOk;
}

}  // namespace

const char* WspContentTypeName(uint32_t code) {
  return code < Count(kContentTypes) ? kContentTypes[code] : nullptr;
}
const char* WspHeaderName(uint32_t code) {
  return code < Count(kHeaders) ? kHeaders[code] : nullptr;
}
const char* WspParameterName(uint32_t code) {
  return code < Count(kParams) ? kParams[code].name : nullptr;
}

Result WapPushParse(const uint8_t* pdu, uint32_t length, UrlLoad* load, WapPushInfo* info) {
  *info = WapPushInfo{};
  Reader r{pdu, pdu ? length : 0, 0, false};
  info->transactionId = r.Byte();
  const uint8_t type = r.Byte();
  if (r.bad) return kWapPushMalformed;
  if (type != kWspPushPdu) return kWapPushNotPush;
  const uint32_t headersLength = r.Uintvar();
  if (r.bad || headersLength > r.end - r.at) return kWapPushMalformed;
  Reader headers{pdu, r.at + headersLength, r.at, false};
  if (Result k = ReadContentType(headers, load); k != kOk) return k;
  if (headers.bad) return kWapPushMalformed;
  if (Result k = ReadHeaders(headers, load); k != kOk) return k;
  info->bodyOffset = headers.end;
  info->bodyLength = length - headers.end;
  return kOk;
}

Result WapPushPlace(const char* sender, const uint8_t* pdu, uint32_t length) {
  // A reception that saves at its stop, or ends after a failed start, would
  // only drop it.
  TskmanTask* reception = TskmanFind(Mod::Notify);
  if (!reception || !NotifyTakesPushes()) return kWapPushNoReceiver;
  // Named by push reception, whose inbox keeps names across runs.
  char* url = NotifyNewPushUrl(sender, Mod::Sms);
  if (!url) return kWapPushNoMemory;
  UrlParsed parsed;
  if (Result r = UrlParse(&parsed, url, 0); r != kOk) {
    MemFree(&url);
    return r == kUrlBadUrl ? kWapPushMalformed : kWapPushNoMemory;
  }
  UrlLoad* load = UrlLoadCreate(&parsed);
  UrlFreeParsed(&parsed);
  if (!load) {
    MemFree(&url);
    return kWapPushNoMemory;
  }
  WapPushInfo info;
  Result r = WapPushParse(pdu, length, load, &info);
  if (r == kOk && info.bodyLength &&
      UtilDataChunkAppend(&load->output, pdu + info.bodyOffset, info.bodyLength, Mod::Url) != kOk)
    r = kWapPushNoMemory;
  if (r != kOk) {
    UrlLoadFree(load);
    MemFree(&url);
    return r;
  }
  // A completed load that nothing has to run again: a request finds it in
  // the cache and is served its data as it stands.
  load->schemeRow = UrlFindScheme(kWapPushScheme);
  load->status = 200;
  load->announcedLength = info.bodyLength;
  load->delivered = info.bodyLength;
  load->endOfData = 1;
  load->closed = 1;
  load->events |= UrlEvent::StatusKnown | UrlEvent::Complete;
  UrlLoadSetFlags(load, UrlFlag::Kept);  // push reception releases it
  CacheAdd(load);
  TskmanPost(reception, NotifyMsg::Push, reinterpret_cast<uintptr_t>(url), 0);
  return kOk;
}
