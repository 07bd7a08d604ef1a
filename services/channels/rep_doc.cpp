// Compiled channel documents: the content row decodes them into a notice
// record for the push inbox and one compact channel record per "channel"
// element, with its resources, on the load's output list.
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "markup/wbxml.h"
#include "services/channels/rep.h"

namespace {

constexpr uint32_t kModule = Mod::WtlRepository;
constexpr uint32_t kChannel = 0x05, kTitle = 0x06, kAbstract = 0x07, kResource = 0x08;

struct AttributeRow {
  uint32_t token;
  const char* name;
  const char* prefix;
};

constexpr AttributeRow kAttributes[] = {
    {0x05, "maxspace", ""},      {0x06, "base", ""},           {0x07, "href", ""},
    {0x08, "href", "http://"},   {0x09, "href", "https://"},   {0x0A, "lastmod", ""},
    {0x0B, "etag", ""},          {0x0C, "md5", ""},            {0x0D, "success", ""},
    {0x0E, "success", "http://"}, {0x0F, "success", "https://"}, {0x10, "failure", ""},
    {0x11, "failure", "http://"}, {0x12, "failure", "https://"}, {0x13, "eventid", ""},
    {0x14, "eventid", "wtaev-"}, {0x15, "channelid", ""},      {0x16, "useraccessible", ""},
    {0, "UNKNOWN", ""},
};

struct EventRow {
  uint32_t number;
  const char* name;
};
constexpr EventRow kEvents[] = {
    {1, "wtaev-cc/ic"}, {2, "wtaev-cc/cl"}, {3, "wtaev-cc/co"},   {4, "wtaev-cc/oc"},
    {5, "wtaev-cc/cc"}, {6, "wtaev-cc/dtmf"}, {7, "wtaev-nt/it"}, {8, "wtaev-nt/st"},
    {12, "wtaev-ms/ns"},
};

struct DocState {
  WbxmlHandler handler;  // first: the callbacks find the state
  WbxmlDecoder* decoder;
  RepChannel* building;  // its parts allocated one by one
  uint32_t element;
  RepResource* resource;
  UrlLoad* load;
  uint32_t firstChannel;
};

DocState* Of(WbxmlHandler* h) { return reinterpret_cast<DocState*>(h); }

void FreeResource(RepResource* r) {
  MemFree(&r->href);
  MemFree(&r->etag);
  MemFree(&r->md5);
  MemFree(&r->data);
  MemFree(&r);
}

// A channel being built, with its separately allocated parts.
void FreeBuilding(RepChannel** cp) {
  RepChannel* c = *cp;
  if (!c) return;
  MemFree(&c->base);
  MemFree(&c->success);
  MemFree(&c->failure);
  MemFree(&c->identity.channelId);
  MemFree(&c->identity.title);
  for (RepResource* r = c->resources; r;) {
    RepResource* next = r->next;
    FreeResource(r);
    r = next;
  }
  MemFree(cp);
}

Result Utf8(char** slot, const char16_t* value) {
  char* text = nullptr;
  if (!value || !*value)
    text = LibcStrDup("");
  else if (LngWideToCharset(&text, value, 106) != kOk)
    text = nullptr;
  if (!text) return RepCode::NoMemory;
  MemFree(slot);
  *slot = text;
  return kOk;
}

const AttributeRow* RowOf(uint32_t token) {
  for (const AttributeRow& row : kAttributes)
    if (row.token == token) return &row;
  return nullptr;
}

Result ChannelAttribute(RepChannel* c, uint32_t token, const char16_t* value) {
  switch (token) {
    case 0x05:
      c->maxspace = LibcWtoI(value);
      return kOk;
    case 0x06:
      return Utf8(&c->base, value);
    case 0x0D: case 0x0E: case 0x0F:
      return Utf8(&c->success, value);
    case 0x10: case 0x11: case 0x12:
      return Utf8(&c->failure, value);
    case 0x13:
    case 0x14: {
      char* name = nullptr;
      if (Utf8(&name, value) != kOk) return RepCode::NoMemory;
      c->identity.event = RepEventNumber(name);
      MemFree(&name);
      return kOk;
    }
    case 0x15:
      return Utf8(&c->identity.channelId, value);
    case 0x16:
      c->identity.userAccessible = LngCompareNarrowWideNoCase("true", value) == 0 ? 1 : 0;
      return kOk;
    default:
      return kOk;
  }
}

Result ResourceAttribute(RepResource* r, uint32_t token, const char16_t* value) {
  switch (token) {
    case 0x07: case 0x08: case 0x09:
      return Utf8(&r->href, value);
    case 0x0A:
      r->lastmod = LibcWtoI(value);
      return kOk;
    case 0x0B:
      return Utf8(&r->etag, value);
    case 0x0C:
      return Utf8(&r->md5, value);
    default:
      return kOk;
  }
}

// "YYYY-MM-DDThh:mm:ssZ" of the time.
void FormatDate(int32_t time, char16_t* out) {
  LibcTm tm{};
  LibcGmTime(&tm, &time);
  const int32_t fields[6] = {tm.year + 1900, tm.mon + 1, tm.mday, tm.hour, tm.min, tm.sec};
  static constexpr char kSeparators[6] = {'-', '-', 'T', ':', ':', 'Z'};
  uint32_t n = 0;
  for (int i = 0; i < 6; ++i) {
    const int digits = i == 0 ? 4 : 2;
    int32_t v = fields[i];
    for (int d = digits - 1; d >= 0; --d) {
      out[n + static_cast<uint32_t>(d)] = static_cast<char16_t>(u'0' + v % 10);
      v /= 10;
    }
    n += static_cast<uint32_t>(digits);
    out[n++] = static_cast<char16_t>(kSeparators[i]);
  }
  out[n] = 0;
}

// "chan://?" and the document's URL rebuilt from scheme, host and path.
Result NoticeHref(const UrlLoad* load, char16_t** out) {
  const UrlParsed& u = load->url;
  const uint32_t length = 8 + LibcStrLen(u.scheme ? u.scheme : "") + 3 +
                          LibcStrLen(u.host ? u.host : "") + LibcStrLen(u.path ? u.path : "");
  auto* text = static_cast<char*>(MemAlloc(length + 1, Use::String, kModule));
  if (!text) return RepCode::NoMemory;
  LibcStrCopy(text, "chan://?");
  LibcStrCat(text, u.scheme ? u.scheme : "");
  LibcStrCat(text, "://");
  LibcStrCat(text, u.host ? u.host : "");
  LibcStrCat(text, u.path ? u.path : "");
  const Result r = LngCharsetToWide(out, text, 106) == kOk ? kOk : RepCode::NoMemory;
  MemFree(&text);
  return r;
}

Result AddNotice(DocState* s, const RepChannel* c) {
  char16_t* href = nullptr;
  if (NoticeHref(s->load, &href) != kOk) return RepCode::NoMemory;
  // An empty id converts to an empty text, not to none.
  char16_t* id = nullptr;
  if (*c->identity.channelId)
    LngCharsetToWide(&id, c->identity.channelId, 106);
  else
    id = LibcWStrDup(u"");
  if (!id) {
    MemFree(&href);
    return RepCode::NoMemory;
  }
  char16_t date[21];
  FormatDate(s->load->expiry, date);
  const char16_t* title = c->identity.title;
  const uint32_t titleUnits = title ? LibcWStrLen(title) + 1 : 0;
  const uint32_t idUnits = LibcWStrLen(id) + 1, hrefUnits = LibcWStrLen(href) + 1;
  const uint32_t units = titleUnits + idUnits + 21 + 1 + hrefUnits;
  auto* n = static_cast<RepNotice*>(
      MemAllocZero(sizeof(RepNotice) + units * sizeof(char16_t), Use::Data, kModule));
  Result r = RepCode::NoMemory;
  if (n) {
    auto* area = reinterpret_cast<char16_t*>(n + 1);
    n->action = 2;
    n->type = 2;
    n->created = kRepAbsent;
    n->text = title ? 0 : kRepAbsent;
    if (title) LibcWStrCopy(area, title);
    n->siId = static_cast<uint16_t>(titleUnits);
    LibcWStrCopy(area + n->siId, id);
    n->siExpires = static_cast<uint16_t>(titleUnits + idUnits);
    LibcWStrCopy(area + n->siExpires, date);
    n->href = static_cast<uint16_t>(n->siExpires + 21 + 1);
    LibcWStrCopy(area + n->href, href);
    UrlLoadAddOutput(s->load, &n->link);
    r = kOk;
  }
  MemFree(&href);
  MemFree(&id);
  return r;
}

// The channel being built is done: its compact copy goes on the output.
Result FinishChannel(DocState* s) {
  RepChannel* c = s->building;
  s->building = nullptr;
  s->resource = nullptr;
  s->element = 0;
  if (!c) return kOk;
  if (!c->identity.channelId) {
    FreeBuilding(&c);
    return 2;
  }
  Result r = kOk;
  if (s->firstChannel) {
    s->firstChannel = 0;
    r = AddNotice(s, c);
  }
  if (r == kOk) {
    RepChannel* copy = RepChannelCopy(c);
    if (copy)
      UrlLoadAddOutput(s->load, &copy->link);
    else
      r = RepCode::NoMemory;
  }
  FreeBuilding(&c);
  return r;
}

Result OnBegin(WbxmlHandler* h, uint32_t token) {
  DocState* s = Of(h);
  switch (token) {
    case kChannel: {
      if (s->building)
        if (Result r = FinishChannel(s); r != kOk) return 0x803E0000u | (r & 0xFFFF);
      s->building = static_cast<RepChannel*>(MemAllocZero(sizeof(RepChannel), Use::Data, kModule));
      if (!s->building) return RepCode::NoMemory;
      s->element = kChannel;
      return kOk;
    }
    case kTitle:
    case kAbstract:
      if (!s->building) return RepCode::BadArg;
      s->element = token;
      return kOk;
    case kResource: {
      if (!s->building) return RepCode::BadArg;
      auto* r = static_cast<RepResource*>(MemAllocZero(sizeof(RepResource), Use::Data, kModule));
      if (!r) return RepCode::NoMemory;
      RepResource** tail = &s->building->resources;
      while (*tail) tail = &(*tail)->next;
      *tail = r;
      ++s->building->resourceCount;
      s->resource = r;
      s->element = kResource;
      return kOk;
    }
    default:
      return kOk;
  }
}

Result OnAttribute(WbxmlHandler* h, uint32_t token, const char16_t* value, uint32_t) {
  DocState* s = Of(h);
  if (s->element == kChannel && s->building) return ChannelAttribute(s->building, token, value);
  if (s->element == kResource && s->resource) return ResourceAttribute(s->resource, token, value);
  return kOk;
}

// Title text; a title the decoder hands over in several pieces is joined.
Result OnText(WbxmlHandler* h, const char16_t* text, uint32_t length) {
  DocState* s = Of(h);
  if (s->element != kTitle || !s->building) return kOk;
  char16_t*& title = s->building->identity.title;
  const uint32_t old = title ? LibcWStrLen(title) : 0;
  auto* joined = static_cast<char16_t*>(
      MemAlloc((old + length + 1) * sizeof(char16_t), Use::String, kModule));
  if (!joined) return RepCode::NoMemory;
  if (old) LibcMemCopy(joined, title, old * sizeof(char16_t));
  LibcMemCopy(joined + old, text, length * sizeof(char16_t));
  joined[old + length] = 0;
  MemFree(&title);
  title = joined;
  return kOk;
}

const char* OnAttributeText(WbxmlHandler*, uint32_t token) {
  const AttributeRow* row = RowOf(token);
  return row ? row->prefix : nullptr;
}

void FreeState(DocState** sp) {
  DocState* s = *sp;
  if (!s) return;
  WbxmlDecoderFree(s->decoder);
  FreeBuilding(&s->building);
  MemFree(sp);
}

// Sizes of the compact copy's parts, each rounded to pointer alignment.
uint32_t Room(uint32_t bytes) {
  return (bytes + alignof(RepResource) - 1) & ~static_cast<uint32_t>(alignof(RepResource) - 1);
}
uint32_t TextRoom(const char* t) { return t ? Room(LibcStrLen(t) + 1) : 0; }

char* PutText(uint8_t** at, const char* t) {
  if (!t) return nullptr;
  auto* out = reinterpret_cast<char*>(*at);
  LibcStrCopy(out, t);
  *at += TextRoom(t);
  return out;
}

}  // namespace

uint32_t RepEventNumber(const char* name) {
  for (const EventRow& row : kEvents)
    if (name && LibcStrCmp(row.name, name) == 0) return row.number;
  return 0;
}

RepChannel* RepChannelCopy(const RepChannel* c) {
  uint32_t size = Room(sizeof(RepChannel)) + TextRoom(c->base) + TextRoom(c->success) +
                  TextRoom(c->failure) + TextRoom(c->identity.channelId);
  if (c->identity.title) size += Room((LibcWStrLen(c->identity.title) + 1) * sizeof(char16_t));
  for (const RepResource* r = c->resources; r; r = r->next)
    size += Room(sizeof(RepResource)) + TextRoom(r->href) + TextRoom(r->etag) + TextRoom(r->md5);
  auto* copy = static_cast<RepChannel*>(MemAllocZero(size, Use::Data, kModule));
  if (!copy) return nullptr;
  *copy = *c;
  copy->link.next = nullptr;
  uint8_t* at = reinterpret_cast<uint8_t*>(copy) + Room(sizeof(RepChannel));
  copy->base = PutText(&at, c->base);
  copy->success = PutText(&at, c->success);
  copy->failure = PutText(&at, c->failure);
  copy->identity.channelId = PutText(&at, c->identity.channelId);
  if (c->identity.title) {
    copy->identity.title = reinterpret_cast<char16_t*>(at);
    LibcWStrCopy(copy->identity.title, c->identity.title);
    at += Room((LibcWStrLen(c->identity.title) + 1) * sizeof(char16_t));
  }
  RepResource** tail = &copy->resources;
  for (const RepResource* r = c->resources; r; r = r->next) {
    auto* out = reinterpret_cast<RepResource*>(at);
    at += Room(sizeof(RepResource));
    *out = *r;
    out->data = nullptr;
    out->dataLength = 0;
    out->next = nullptr;
    out->href = PutText(&at, r->href);
    out->etag = PutText(&at, r->etag);
    out->md5 = PutText(&at, r->md5);
    *tail = out;
    tail = &out->next;
  }
  return copy;
}

void RepResetResources(RepChannel* c) {
  if (!c) return;
  c->resourceCount = 0;
  for (RepResource* r = c->resources; r; r = r->next) {
    MemFree(&r->data);
    r->dataLength = 0;
    r->state = RepState::Idle;
    r->number = 0;
    r->request = nullptr;
    ++c->resourceCount;
  }
}

void RepChannelFree(RepChannel** c) {
  if (!*c) return;
  RepResetResources(*c);
  MemFree(c);
}

Result RepContentProcess(UrlModuleContext*, UrlLoad* load) {
  auto* s = static_cast<DocState*>(load->handlerState);
  if (!s) {
    s = static_cast<DocState*>(MemAllocZero(sizeof(DocState), Use::Context, kModule));
    if (!s) return RepCode::NoMemory;
    if (Result r = WbxmlDecoderCreate(&s->decoder); r != kOk) {
      MemFree(&s);
      return r;
    }
    s->handler = WbxmlHandler{nullptr, nullptr, OnText, OnBegin, nullptr,
                              OnAttribute, nullptr, OnAttributeText, nullptr};
    s->load = load;
    s->firstChannel = 1;
    load->handlerState = s;
    load->status = kUrlStatusKeptOut;
    load->events |= UrlEvent::StatusKnown;
  }
  if (!load->endOfData) return kOk;
  Result r = WbxmlDecode(s->decoder, &s->handler, &load->input);
  if (r == kOk) r = WbxmlDecodeEnd(s->decoder);
  if (r == kWbxmlFinished) {
    r = FinishChannel(s);
    FreeState(&s);
    load->handlerState = nullptr;
    load->events |= UrlEvent::Complete;
  }
  return r == kOk ? kOk : (0x803E0000u | (r & 0xFFFF));
}

Result RepContentRelease(UrlModuleContext*, UrlLoad* load) {
  auto* s = static_cast<DocState*>(load->handlerState);
  FreeState(&s);
  load->handlerState = nullptr;
  return kOk;
}

char* RepJoinUrl(const char* base, const char* href) {
  if (!href) href = "";
  if (!base || LibcStrStr(href, "://")) return LibcStrDup(href);
  const uint32_t b = LibcStrLen(base), h = LibcStrLen(href);
  auto* out = static_cast<char*>(MemAlloc(b + h + 2, Use::String, kModule));
  if (!out) return nullptr;
  LibcStrCopy(out, base);
  const bool baseSlash = b && base[b - 1] == '/', hrefSlash = href[0] == '/';
  if (baseSlash && hrefSlash)
    ++href;
  else if (!baseSlash && !hrefSlash)
    LibcStrCat(out, "/");
  LibcStrCat(out, href);
  return out;
}

char* RepSchemeToRep(const char* url) {
  if (!url) return nullptr;
  const char* colon = LibcStrChr(url, ':');
  if (!colon || colon - url < 3) return LibcStrDup(url);
  auto* out = static_cast<char*>(MemAlloc(LibcStrLen(colon) + 4, Use::String, kModule));
  if (!out) return nullptr;
  LibcStrCopy(out, "rep");
  LibcStrCat(out, colon);
  return out;
}
