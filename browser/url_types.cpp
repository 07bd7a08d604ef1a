// The scheme table and the content-type table, the lookups over them, the
// content type of a load, its headers, and the built-in files' scheme.
#include "browser/url.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "kernel/qorrom.h"

namespace {

// --- The built-in files: file:///path reads the built-in tree -------------
struct RomFileState {
  const uint8_t* bytes;
  uint32_t size;
  uint32_t sent;
};

// The step hands over at most this many bytes at a time, so a large file
// does not hold the URL task for long.
constexpr uint32_t kRomBlock = 4096;

Result RomStart(UrlRequestRec*, UrlLoad* load) {
  load->flags &= ~UrlFlag::Listed;
  // "/folder/file" names a file of the tree; "/file" one of the current
  // language's folder.
  const char* path = load->url.path ? load->url.path : "";
  if (path[0] == '/' && !LibcStrChr(path + 1, '/')) ++path;
  char* local = LibcStrDup(path);
  if (!local) return kUrlNoMemory;
  UrlUnescapeInPlace(local);
  auto* state = static_cast<RomFileState*>(MemAllocZero(sizeof(RomFileState), Use::Data, Mod::Url));
  if (!state) {
    MemFree(&local);
    return kUrlNoMemory;
  }
  Result why = kOk;
  state->bytes = QorRomOpen(local, &state->size, &why);
  load->schemeRecord = reinterpret_cast<uintptr_t>(state);
  if (why == kQorRomNoMemory) {
    MemFree(&local);
    return kUrlNoMemory;
  }
  if (!state->bytes) {
    MemFree(&local);
    load->status = 404;
    load->events |= UrlEvent::StatusKnown;
    return kUrlNotFound;
  }
  load->status = 200;
  load->events |= UrlEvent::StatusKnown;
  load->announcedLength = state->size;
  if (const char* dot = LibcStrRChr(local, '.'); dot && !LibcStrChr(dot, '/'))
    UrlSetContentTypeByExt(load, dot + 1);
  MemFree(&local);
  return kOk;
}

Result RomStep(UrlRequestRec*, UrlLoad* load) {
  auto* state = reinterpret_cast<RomFileState*>(load->schemeRecord);
  if (!state || !state->bytes) return kUrlNotFound;
  uint32_t n = state->size - state->sent;
  if (n > kRomBlock) n = kRomBlock;
  if (Result r = UrlLoadDeliver(load, state->bytes + state->sent, n); r != kOk) return r;
  state->sent += n;
  if (state->sent == state->size) load->endOfData = 1;
  return kOk;
}

Result RomClose(UrlRequestRec*, UrlLoad* load) {
  auto* state = reinterpret_cast<RomFileState*>(load->schemeRecord);
  if (state) {
    if (state->bytes) QorRomRelease(state->bytes);
    MemFree(&state);
  }
  load->schemeRecord = 0;
  return kOk;
}

const UrlSchemeRow* gExtraSchemes;
uint32_t gExtraSchemeCount;
const UrlContentTypeRow* gExtraTypes;
uint32_t gExtraTypeCount;
const UrlContentTypeRow* gHandlerTypes;
uint32_t gHandlerTypeCount;
const UrlSchemeRow* gHandlerSchemes;
uint32_t gHandlerSchemeCount;
const UrlContentTypeRow* gServiceTypes;
uint32_t gServiceTypeCount;
const UrlSchemeRow* gServiceSchemes;
uint32_t gServiceSchemeCount;

// True when the item (n bytes) is one of the ';'-separated list's entries,
// ASCII case ignored.
bool InList(const char* list, const char* item, uint32_t n) {
  if (!list) return false;
  const char* p = list;
  while (true) {
    const char* end = LibcStrChr(p, ';');
    uint32_t len = end ? static_cast<uint32_t>(end - p) : LibcStrLen(p);
    if (len == n && LibcStrNICmp(p, item, n) == 0) return true;
    if (!end) return false;
    p = end + 1;
  }
}

// Every content row: the handlers', the services', the product's, then the
// extra ones.
template <class F>
const UrlContentTypeRow* FindType(F match) {
  for (uint32_t i = 0; i < gHandlerTypeCount; ++i)
    if (match(gHandlerTypes[i])) return &gHandlerTypes[i];
  for (uint32_t i = 0; i < gServiceTypeCount; ++i)
    if (match(gServiceTypes[i])) return &gServiceTypes[i];
  for (uint32_t i = 0; i < kUrlContentTypeCount; ++i)
    if (match(kUrlContentTypes[i])) return &kUrlContentTypes[i];
  for (uint32_t i = 0; i < gExtraTypeCount; ++i)
    if (match(gExtraTypes[i])) return &gExtraTypes[i];
  return nullptr;
}

// Sets type and class from the row; the row is the load's handler only
// when it has a process operation.
void TakeRow(UrlLoad* load, const UrlContentTypeRow* row, uint32_t typeId) {
  load->typeId = typeId;
  load->contentClass = row ? row->contentClass : 0;
  load->contentRow = row && row->process ? row : nullptr;
  if (typeId != UrlType::Wbxml) load->events |= UrlEvent::ClassKnown;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// --- Pushed objects: push:sender.serial ------------------------------------
// A pushed object exists only as the cached load push delivery placed; a
// request that misses the cache finds nothing behind the URL.
Result PushStep(UrlRequestRec*, UrlLoad* load) {
  load->status = 404;
  load->events |= UrlEvent::StatusKnown;
  return kUrlNotFound;
}

}  // namespace

// Rows of later handlers go into these tables, in the order lookups try them.
const UrlContentTypeRow kUrlContentTypes[] = {
    {nullptr, nullptr, "html;htm", UrlType::Html, "text", "html", 2},
    {nullptr, nullptr, "wml", UrlType::Wml, "text", "vnd.wap.wml;x-wap.wml", 3},
    {nullptr, nullptr, "wmlc", UrlType::Wmlc, "application", "vnd.wap.wmlc;x-wap.wmlc", 3},
    // Compiled scripts are parsed by the services' row of this type, handed
    // down at start-up; without it the load carries its bytes unparsed.
    {nullptr, nullptr, "wmlsc", UrlType::WmlScriptc, "application",
     "vnd.wap.wmlscriptc;x-wap.wmlscriptc", 7},
    {nullptr, nullptr, "wbmp", UrlType::Wbmp, "image", "vnd.wap.wbmp;x-wap.wbmp", 5},
    {nullptr, nullptr, "wbxml", UrlType::Wbxml, "application", "vnd.wap.wbxml", 0},
    {nullptr, nullptr, "png", UrlType::Png, "image", "png", 5},
    {nullptr, nullptr, "jpg;jpeg", UrlType::Jpeg, "image", "jpeg", 5},
    {nullptr, nullptr, "sic", UrlType::Sic, "application", "vnd.wap.sic", 8},
    {nullptr, nullptr, "slc", UrlType::Slc, "application", "vnd.wap.slc", 8},
    {nullptr, nullptr, "provc", UrlType::ConnectivityWbxml, "application",
     "vnd.wap.connectivity-wbxml", 2},
    // The text types a script may load as a string: each must carry its own
    // id, or URL.loadString would take it for another type.
    {nullptr, nullptr, "txt", UrlType::Text, "text", "plain", 2},
    {nullptr, nullptr, "hdml", 4, "text", "x-hdml", 2},
    {nullptr, nullptr, nullptr, 5, "text", "x-ttml", 2},
    {nullptr, nullptr, nullptr, 6, "text", "x-vcalendar", 2},
    {nullptr, nullptr, nullptr, 7, "text", "x-vcard", 2},
    {nullptr, nullptr, "wmls", 9, "text", "vnd.wap.wmlscript", 0},
    {nullptr, nullptr, nullptr, 10, "text", "vnd.wap.channel", 0},
    {nullptr, nullptr, "xml", 40, "text", "xml", 0},
    {nullptr, nullptr, "si", 45, "text", "vnd.wap.si", 0},
    {nullptr, nullptr, "sl", 47, "text", "vnd.wap.sl", 0},
    {nullptr, nullptr, nullptr, 49, "text", "vnd.wap.co", 0},
    {nullptr, nullptr, nullptr, 53, "text", "vnd.wap.connectivity-wbxml", 0},
};
const uint32_t kUrlContentTypeCount = sizeof kUrlContentTypes / sizeof kUrlContentTypes[0];

const UrlSchemeRow kUrlSchemes[] = {
    {RomStep, RomClose, "file", nullptr, nullptr, RomStart, UrlSchemeFlag::Cached},
    {PushStep, nullptr, "push", nullptr, nullptr, nullptr, 0},
};
const uint32_t kUrlSchemeCount = sizeof kUrlSchemes / sizeof kUrlSchemes[0];

void UrlSetExtraRows(const UrlSchemeRow* schemes, uint32_t schemeCount,
                     const UrlContentTypeRow* types, uint32_t typeCount) {
  gExtraSchemes = schemes;
  gExtraSchemeCount = schemes ? schemeCount : 0;
  gExtraTypes = types;
  gExtraTypeCount = types ? typeCount : 0;
}

void UrlSetHandlerRows(const UrlContentTypeRow* types, uint32_t typeCount,
                       const UrlSchemeRow* schemes, uint32_t schemeCount) {
  gHandlerTypes = types;
  gHandlerTypeCount = types ? typeCount : 0;
  gHandlerSchemes = schemes;
  gHandlerSchemeCount = schemes ? schemeCount : 0;
}

void UrlSetServiceRows(const UrlContentTypeRow* types, uint32_t typeCount,
                       const UrlSchemeRow* schemes, uint32_t schemeCount) {
  gServiceTypes = types;
  gServiceTypeCount = types ? typeCount : 0;
  gServiceSchemes = schemes;
  gServiceSchemeCount = schemes ? schemeCount : 0;
}

const UrlSchemeRow* UrlFindScheme(const char* scheme) {
  if (!scheme) return nullptr;
  uint32_t n = LibcStrLen(scheme);
  for (uint32_t i = 0; i < kUrlSchemeCount; ++i)
    if (InList(kUrlSchemes[i].schemes, scheme, n)) return &kUrlSchemes[i];
  for (uint32_t i = 0; i < gHandlerSchemeCount; ++i)
    if (InList(gHandlerSchemes[i].schemes, scheme, n)) return &gHandlerSchemes[i];
  for (uint32_t i = 0; i < gServiceSchemeCount; ++i)
    if (InList(gServiceSchemes[i].schemes, scheme, n)) return &gServiceSchemes[i];
  for (uint32_t i = 0; i < gExtraSchemeCount; ++i)
    if (InList(gExtraSchemes[i].schemes, scheme, n)) return &gExtraSchemes[i];
  return nullptr;
}

// Every scheme row, the product's first; for module init and term.
const UrlSchemeRow* UrlSchemeRowAt(uint32_t index) {
  if (index < kUrlSchemeCount) return &kUrlSchemes[index];
  index -= kUrlSchemeCount;
  if (index < gHandlerSchemeCount) return &gHandlerSchemes[index];
  index -= gHandlerSchemeCount;
  if (index < gServiceSchemeCount) return &gServiceSchemes[index];
  index -= gServiceSchemeCount;
  return index < gExtraSchemeCount ? &gExtraSchemes[index] : nullptr;
}

const UrlContentTypeRow* UrlFindContentTypeById(uint32_t typeId) {
  return FindType([typeId](const UrlContentTypeRow& row) { return row.typeId == typeId; });
}

Result UrlSetContentTypeId(UrlLoad* load, uint32_t typeId) {
  if (load->events & UrlEvent::ClassKnown) return kOk;
  TakeRow(load, UrlFindContentTypeById(typeId), typeId);
  return kOk;
}

Result UrlSetContentTypeMime(UrlLoad* load, const char* mime) {
  if (load->events & UrlEvent::ClassKnown) return kOk;
  if (!mime) return ResultError(Mod::Url, Err::BadArg);
  while (IsBlank(*mime)) ++mime;
  const char* slash = LibcStrChr(mime, '/');
  const char* end = mime;
  while (*end && *end != ';') ++end;
  while (end > mime && IsBlank(end[-1])) --end;
  if (!slash || slash >= end) {
    TakeRow(load, nullptr, 0);
    return kOk;
  }
  const char* minor = slash + 1;
  uint32_t majorLen = static_cast<uint32_t>(slash - mime);
  uint32_t minorLen = static_cast<uint32_t>(end - minor);
  const UrlContentTypeRow* row = FindType([&](const UrlContentTypeRow& r) {
    return InList(r.major, mime, majorLen) && InList(r.minor, minor, minorLen);
  });
  TakeRow(load, row, row ? row->typeId : 0);
  return kOk;
}

Result UrlSetContentTypeByExt(UrlLoad* load, const char* extension) {
  if (load->events & UrlEvent::ClassKnown) return kOk;
  if (!extension) return ResultError(Mod::Url, Err::BadArg);
  uint32_t n = LibcStrLen(extension);
  const UrlContentTypeRow* row =
      FindType([&](const UrlContentTypeRow& r) { return InList(r.extensions, extension, n); });
  TakeRow(load, row, row ? row->typeId : 0);
  return kOk;
}

Result UrlLoadSetHandlerById(UrlLoad* load, uint32_t typeId) {
  const UrlContentTypeRow* row = UrlFindContentTypeById(typeId);
  if (!row || (!row->process && !row->release)) return ResultError(Mod::Url, Err::NotFound);
  load->contentRow = row;
  return kOk;
}

Result UtilParseContentParams(UrlLoad* load, const char* params) {
  if (!params) return kOk;
  const char* p = params;
  while (*p) {
    while (*p && *p != ';') ++p;
    if (!*p) break;
    ++p;
    while (IsBlank(*p)) ++p;
    const char* name = p;
    while (*p && *p != '=' && *p != ';' && !IsBlank(*p)) ++p;
    uint32_t nameLen = static_cast<uint32_t>(p - name);
    while (IsBlank(*p)) ++p;
    if (*p != '=') continue;
    ++p;
    while (IsBlank(*p)) ++p;
    const char* value = p;
    const char* valueEnd;
    if (*p == '"') {
      value = ++p;
      while (*p && *p != '"') ++p;
      valueEnd = p;
      if (*p) ++p;
    } else {
      while (*p && *p != ';' && !IsBlank(*p)) ++p;
      valueEnd = p;
    }
    if (nameLen == 7 && LibcStrNICmp(name, "charset", 7) == 0) {
      uint32_t mib = 0;
      if (LngFindCharset(&mib, value, static_cast<uint32_t>(valueEnd - value)) == kOk)
        load->charset = mib;
    }
  }
  return kOk;
}

Result UrlAddHeader(UrlLoad* load, const char* name, const char* value) {
  auto* header = static_cast<UrlHeader*>(MemAllocZero(sizeof(UrlHeader), Use::Data, Mod::Url));
  if (!header) return kUrlNoMemory;
  header->name = LibcStrDup(name ? name : "");
  header->value = LibcStrDup(value ? value : "");
  if (!header->name || !header->value) {
    MemFree(&header->name);
    MemFree(&header->value);
    MemFree(&header);
    return kUrlNoMemory;
  }
  UrlHeader** tail = &load->headers;
  while (*tail) tail = &(*tail)->next;
  *tail = header;
  return kOk;
}

Result UrlGetHeader(const UrlLoad* load, const char* name, const char** value) {
  *value = nullptr;
  if (!load || !name) return kUrlNotFound;
  for (const UrlHeader* h = load->headers; h; h = h->next)
    if (LibcStrICmp(h->name, name) == 0) {
      *value = h->value;
      return kOk;
    }
  return kUrlNotFound;
}
