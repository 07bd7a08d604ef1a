// The rep: scheme (resources read back from the repository, and rep:/// the
// page of user-accessible channels), the "rep" variable source that page
// lists them through, and the chan: scheme that starts a channel fetch.
#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/channels/rep.h"

namespace {

constexpr uint32_t kModule = Mod::WtlReplib;
constexpr uint32_t kBlock = 240;
constexpr uint32_t kUtf16 = 32766;

enum class Kind : uint32_t { Resource = 1, UserPage = 2 };

// Kept in the load's scheme record word: the content row has the handler
// state to itself.
struct SchemeState {
  Kind kind;
  ReplibResult* result;
  uintptr_t reserved;
  VarParseJob* job;
  uint32_t fed;
};

SchemeState* StateOf(UrlLoad* load) { return reinterpret_cast<SchemeState*>(load->schemeRecord); }

void FreeState(UrlLoad* load) {
  SchemeState* s = StateOf(load);
  if (!s) return;
  if (s->job) VarParseClose(&s->job);
  if (s->result && !s->result->done)
    s->result->status = ReplibCode::NoData;  // given up: the repository frees it
  else
    ReplibFreeResult(&s->result);
  MemFree(&s);
  load->schemeRecord = 0;
}

Result Fail(UrlLoad* load, Result status) {
  FreeState(load);
  return 0x803F0000u | status;
}

// The extension of a URL's path, or null.
const char* Extension(const char* path) {
  if (!path) return nullptr;
  const char* dot = LibcStrRChr(path, '.');
  const char* slash = LibcStrRChr(path, '/');
  return dot && (!slash || dot > slash) ? dot + 1 : nullptr;
}

Result DeliverResource(UrlLoad* load, SchemeState* s) {
  ReplibResult* result = s->result;
  for (uint32_t at = 0; at < result->length; at += kBlock) {
    const uint32_t n = result->length - at < kBlock ? result->length - at : kBlock;
    if (UrlLoadDeliver(load, result->data + at, n) != kOk) return Fail(load, Err::NoMemory);
  }
  MemFree(&result->data);
  if (result->url) {
    UrlParsed url{};
    if (UrlParse(&url, result->url, 0) == kOk) {
      UrlFreeParsed(&load->url);
      load->url = url;
    }
  }
  if (result->typeId) {
    UrlSetContentTypeId(load, result->typeId);
  } else {
    UrlParsed named{};
    const char* ext = nullptr;
    if (result->url && UrlParse(&named, result->url, 0) == kOk) ext = Extension(named.path);
    if (!ext) ext = Extension(load->url.path);
    if (ext) UrlSetContentTypeByExt(load, ext);
    UrlFreeParsed(&named);
  }
  load->endOfData = 1;
  FreeState(load);
  return kOk;
}

Result DeliverPage(UrlLoad* load, SchemeState* s) {
  ReplibResult* result = s->result;
  if (!s->fed) {
    UtilDataChunk* page = UtilDataChunkNew(result->data, result->length, kModule);
    MemFree(&result->data);
    if (!page) return Fail(load, Err::NoMemory);
    UrlSetContentTypeId(load, result->typeId);
    VarParseFeed(s->job, page);
    s->fed = 1;
    return kOk;
  }
  if (!VarParseIsDrained(s->job)) return kOk;
  VarParseClose(&s->job);
  load->endOfData = 1;
  FreeState(load);
  return kOk;
}

// --- The "rep" source ---------------------------------------------------------

void* SourceOpen(const char* name, void** holder, VarParseJob*, uint32_t*, uint32_t* pending) {
  TskmanTask* replib = ReplibGetTask();
  char* copy = LibcStrDup(name ? name : "");
  int32_t* cell = nullptr;
  if (holder) {
    cell = static_cast<int32_t*>(MemAlloc(sizeof(int32_t), Use::Data, kModule));
    if (cell) *cell = 0;
    *holder = cell;
  }
  if (!replib || !copy || (holder && !cell)) {
    MemFree(&copy);
    if (holder) {
      MemFree(&cell);
      *holder = nullptr;
    }
    return nullptr;
  }
  TskmanPost(replib, ReplibMsg::SourceOpen, reinterpret_cast<uintptr_t>(copy),
             reinterpret_cast<uintptr_t>(cell));
  *pending = 1;
  return nullptr;
}

void* SourceNext(void* cell, uint32_t* pending) {
  TskmanTask* replib = ReplibGetTask();
  if (!replib) return nullptr;
  TskmanPost(replib, ReplibMsg::SourceNext, reinterpret_cast<uintptr_t>(cell), 0);
  *pending = 1;
  return nullptr;
}

void SourceClose(void* cell) {
  if (TskmanTask* replib = ReplibGetTask())
    TskmanPost(replib, ReplibMsg::SourceClose, reinterpret_cast<uintptr_t>(cell), 0);
  else
    MemFree(&cell);
}

void* SourceGet(void* cell, const char* name, uint32_t* pending) {
  TskmanTask* replib = ReplibGetTask();
  char* copy = LibcStrDup(name ? name : "");
  if (!replib || !copy) {
    MemFree(&copy);
    return nullptr;
  }
  TskmanPost(replib, ReplibMsg::SourceGet, reinterpret_cast<uintptr_t>(cell),
             reinterpret_cast<uintptr_t>(copy));
  *pending = 1;
  return nullptr;
}

}  // namespace

const VarParseSource kRepSources[] = {
    {"rep", SourceOpen, SourceNext, SourceClose, SourceGet},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

Result RepSchemeStart(UrlRequestRec*, UrlLoad* load) {
  TskmanTask* replib = ReplibGetTask();
  if (!replib) return ReplibCode::NoMemory;
  auto* s = static_cast<SchemeState*>(MemAllocZero(sizeof(SchemeState), Use::Context, kModule));
  auto* result = static_cast<ReplibResult*>(MemAllocZero(sizeof(ReplibResult), Use::Data, kModule));
  if (!s || !result) {
    MemFree(&s);
    MemFree(&result);
    return ReplibCode::NoMemory;
  }
  s->result = result;
  load->schemeRecord = reinterpret_cast<uintptr_t>(s);
  load->flags &= ~UrlFlag::Listed;
  load->status = kUrlStatusKeptOut;
  load->events |= UrlEvent::StatusKnown;
  const UrlParsed& u = load->url;
  const bool page = u.scheme && LibcStrICmp(u.scheme, "rep") == 0 && (!u.host || !*u.host) &&
                    u.path && LibcStrCmp(u.path, "/") == 0;
  s->kind = page ? Kind::UserPage : Kind::Resource;
  if (s->kind == Kind::Resource) {
    if (!(result->asked = LibcStrDup(load->name ? load->name : ""))) {
      ReplibFreeResult(&s->result);  // never sent: the repository will not free it
      return Fail(load, Err::NoMemory);
    }
    TskmanPost(replib, ReplibMsg::Resolve, 0, reinterpret_cast<uintptr_t>(result));
    return kOk;
  }
  if (VarParseCreate(&s->job, 1, load) != kOk) {
    ReplibFreeResult(&s->result);
    return Fail(load, Err::NoMemory);
  }
  VarParseSetSources(s->job, kRepSources);
  load->charset = kUtf16;
  VarParseSetSink(s->job, &load->input);
  TskmanPost(replib, ReplibMsg::UserPage, reinterpret_cast<uintptr_t>(result), 0);
  return kOk;
}

Result RepSchemeStep(UrlRequestRec*, UrlLoad* load) {
  SchemeState* s = StateOf(load);
  if (!s) return kOk;
  if (s->result->done && s->result->status) return Fail(load, s->result->status);
  if (!s->result->done) return kOk;
  return s->kind == Kind::Resource ? DeliverResource(load, s) : DeliverPage(load, s);
}

Result RepSchemeClose(UrlRequestRec*, UrlLoad* load) {
  FreeState(load);
  return kOk;
}

Result ChanSchemeStart(UrlRequestRec*, UrlLoad* load) {
  const char* document = load->url.query;
  if (!document || RepStartFetchTask(document) != kOk) return 0x801F0001;
  load->status = kUrlStatusKeptOut;
  load->events |= UrlEvent::StatusKnown | UrlEvent::Outside;
  return kOk;
}

Result ChanSchemeStep(UrlRequestRec*, UrlLoad* load) {
  load->completion = 1;
  load->flags &= ~UrlFlag::Kept;
  load->endOfData = 1;
  return kOk;
}
