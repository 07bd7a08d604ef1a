// The channel fetch task: loads a channel document, asks the repository which
// resources it already holds unchanged, fetches the others, and hands each
// complete channel to the repository, one channel at a time; the browser
// window shows the outcome.
#include "browser/bentask.h"
#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "services/channels/rep.h"

namespace {

constexpr uint32_t kModule = Mod::WtlRepository;
constexpr char kFailPage[] = "info://SHOW/reposit/ChanFail.html";

struct FetchState {
  char* url;
  RepChannel* channel;  // the current one, a copy owned here until the repository takes it
  UrlRequestRec* main;
  UrlSession* session;
  TskmanTask* browser;
  uint32_t mainClass;
  TskmanTask* self;
  TskmanTask* ui;
  QueueNode* next;   // the main load's next channel record
  uint32_t stopping;  // the session is closing: answers are no longer read
};

Result Error(Result code) { return code ? (0x803E0000u | code) : kOk; }

void Show(FetchState* s, uint32_t message, char* text) {
  if (text && s->ui && TskmanIsAlive(s->ui))
    TskmanPost(s->ui, message, reinterpret_cast<uintptr_t>(text), 0);
  else
    MemFree(&text);
}

void Stop(FetchState* s) {
  if (s->stopping) return;
  s->stopping = 1;
  TskmanPost(s->self, TskMsg::Stop2, 0, 0);
}

void PostFail(FetchState* s, Result code) { TskmanPost(s->self, UrlMsg::Failed, 0, code); }

// The next channel of the document (copied), or null.
RepChannel* TakeNextChannel(FetchState* s) {
  QueueNode* n = s->next;
  if (!n) return nullptr;
  s->next = n->next;
  return RepChannelCopy(reinterpret_cast<RepChannel*>(n));
}

void StoreChannel(FetchState* s);

void StartResources(FetchState* s) {
  RepChannel* c = s->channel;
  if (!c->resources) {
    StoreChannel(s);
    return;
  }
  if (c->maxspace < 1 || c->maxspace > kRepMaxSpaceLimit) {
    PostFail(s, RepCode::BadArg);
    return;
  }
  TskmanTask* replib = ReplibGetTask();
  if (!replib) {
    PostFail(s, RepCode::NoMemory);
    return;
  }
  c->resourceCount = 0;
  for (RepResource* r = c->resources; r; r = r->next) {
    r->number = -1;
    ++c->resourceCount;
    TskmanPost(replib, ReplibMsg::Check, reinterpret_cast<uintptr_t>(c->base),
               reinterpret_cast<uintptr_t>(r));
  }
}

// Moves on to the document's next channel, or ends.
void NextChannel(FetchState* s) {
  s->channel = TakeNextChannel(s);
  if (s->channel)
    StartResources(s);
  else
    Stop(s);
}

void StoreChannel(FetchState* s) {
  TskmanTask* replib = ReplibGetTask();
  if (!replib) {
    PostFail(s, RepCode::NoMemory);
    return;
  }
  RepChannel* c = s->channel;
  s->channel = nullptr;
  TskmanPost(replib, c->resources ? ReplibMsg::Store : ReplibMsg::Remove,
             reinterpret_cast<uintptr_t>(c), 0);
  NextChannel(s);
}

// The request URL of a resource: http and https go as wsp and wsps, a URL
// without a scheme goes over wsp, other schemes as they are.
char* ResourceUrl(const RepChannel* c, const RepResource* r) {
  char* joined = RepJoinUrl(c->base, r->href);
  if (!joined) return nullptr;
  const char* sep = LibcStrStr(joined, "://");
  if (!sep) {
    char* out = static_cast<char*>(MemAlloc(LibcStrLen(joined) + 7, Use::String, kModule));
    if (out) {
      LibcStrCopy(out, "wsp://");
      LibcStrCat(out, joined);
    }
    MemFree(&joined);
    return out;
  }
  const char* http = nullptr;
  for (const char* p = joined; p + 4 <= sep; ++p)
    if (LibcStrNICmp(p, "http", 4) == 0) {
      http = p;
      break;
    }
  if (!http) return joined;
  char* out = static_cast<char*>(MemAlloc(LibcStrLen(http) + 1, Use::String, kModule));
  if (out) {
    LibcStrCopy(out, "wsp");
    LibcStrCat(out, http + 4);
  }
  MemFree(&joined);
  return out;
}

void FetchResource(FetchState* s, RepResource* r) {
  RepChannel* c = s->channel;
  if (!c) return;
  if (r->state == RepState::Unchanged) {
    if (--c->resourceCount == 0) StoreChannel(s);
    return;
  }
  char* url = ResourceUrl(c, r);
  if (!url) {
    PostFail(s, RepCode::NoMemory);
    return;
  }
  // The bytes are kept as they came, whatever their type.
  const Result result = UrlRequest(s->session, url, UrlFlag::RawData, nullptr, &r->request, 0,
                                   s->self, 0);
  MemFree(&url);
  if (result == kOk)
    r->state = RepState::Requested;
  else
    PostFail(s, result);
}

// Every block of the resource's load in one buffer.
Result ReadResource(RepResource* r) {
  void* object = nullptr;
  while (UrlLoadNextChunk(r->request, &object) == kOk) {
    auto* block = static_cast<UtilDataChunk*>(object);
    const uint32_t add = block->remaining;
    const uint32_t size = r->dataLength + add + 1;
    auto* grown = static_cast<uint8_t*>(r->data ? MemRealloc(r->data, size, 0, kModule)
                                                : MemAlloc(size, Use::Data, kModule));
    if (!grown) return RepCode::NoMemory;
    r->data = grown;
    LibcMemCopy(r->data + r->dataLength, UtilDataChunkData(block) + block->offset, add);
    r->dataLength += add;
  }
  return kOk;
}

// The current channel's resource whose request it is, or null.
RepResource* ResourceOf(FetchState* s, const UrlRequestRec* request) {
  if (!s->channel || !request) return nullptr;
  for (RepResource* r = s->channel->resources; r; r = r->next)
    if (r->request == request) return r;
  return nullptr;
}

// An answer about a request this task still waits for (or its own post).
bool Ours(FetchState* s, const UrlRequestRec* request) {
  return !request || request == s->main || ResourceOf(s, request);
}

void ResourceDone(FetchState* s, UrlRequestRec* request) {
  RepChannel* c = s->channel;
  RepResource* r = ResourceOf(s, request);
  if (!r) return;  // a request already finished with a failed channel
  --c->resourceCount;
  r->state = RepState::Fetched;
  r->typeId = UrlLoadTypeId(request);
  const Result read = ReadResource(r);
  UrlRequestDone(s->session, request);
  r->request = nullptr;
  if (read != kOk) {
    r->state = RepState::Failed;
    PostFail(s, read);
    return;
  }
  if (c->resourceCount == 0) StoreChannel(s);
}

void MainDone(FetchState* s) {
  UrlLoad* load = UrlRequestLoad(s->main);
  QueueNode* notice = (s->mainClass == kRepChannelClass && load) ? load->output.head : nullptr;
  s->next = notice ? notice->next : nullptr;
  s->channel = TakeNextChannel(s);
  if (!s->channel) {
    PostFail(s, RepCode::BadArg);
    return;
  }
  s->channel->expiry = UrlLoadExpiry(s->main);
  StartResources(s);
}

void FinishRequests(FetchState* s, RepChannel* c) {
  for (RepResource* r = c->resources; r; r = r->next)
    if (r->request) {
      UrlRequestDone(s->session, r->request);
      r->request = nullptr;
    }
}

void Failed(FetchState* s) {
  if (s->stopping) return;
  if (RepChannel* c = s->channel) {
    if (c->resources)
      if (TskmanTask* replib = TskmanFind(Mod::WtlReplib))
        TskmanPost(replib, ReplibMsg::FetchFailed, 0, 0);
    if (c->failure && *c->failure)
      Show(s, BenMsg::UiShowUrl, RepJoinUrl(c->base, c->failure));
    else
      Show(s, BenMsg::UiNavigate, LibcStrDup(kFailPage));
    FinishRequests(s, c);
  } else {
    Show(s, BenMsg::UiNavigate, LibcStrDup(kFailPage));
  }
  if (s->mainClass != kRepChannelClass || !s->main) {
    Stop(s);
    return;
  }
  RepChannelFree(&s->channel);
  NextChannel(s);
}

void RequestDone(FetchState* s, UrlRequestRec* request) {
  if (s->stopping) return;
  if (!s->channel && request == s->main) {
    MainDone(s);
    return;
  }
  if (s->channel) ResourceDone(s, request);
}

Result Start(TskmanTask* self, char* url) {
  auto* s = static_cast<FetchState*>(MemAllocZero(sizeof(FetchState), Use::Context, kModule));
  if (!s) {
    MemFree(&url);
    TskmanDestroyTask(self);
    return Error(Err::NoMemory);
  }
  s->url = url;
  s->self = self;
  s->ui = TskmanFind(Mod::Ui);
  s->browser = TskmanFind(Mod::Ben);
  TskmanSetContext(self, s);
  if (UrlSessionCreate(&s->session, self) != kOk) {
    s->session = nullptr;
    Show(s, BenMsg::UiNavigate, LibcStrDup(kFailPage));
    s->stopping = 1;
    TskmanPost(self, UrlMsg::Closed, 0, 0);
    return kOk;
  }
  if (UrlRequest(s->session, url, 3, nullptr, &s->main, 0, self, 0) != kOk) {
    s->main = nullptr;
    Failed(s);
  }
  return kOk;
}

}  // namespace

Result RepFetchTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  TskmanTask* self = TskmanGetCurrentTask();
  if (message == TskMsg::Start) return Start(self, static_cast<char*>(context));
  auto* s = static_cast<FetchState*>(context);
  if (!s) return kOk;
  switch (message) {
    case TskMsg::Stop2:
      s->stopping = 1;
      if (s->channel) FinishRequests(s, s->channel);
      if (s->session) {
        UrlSessionDestroy(s->session);  // answered by 0xD06
        s->session = nullptr;
      } else {
        TskmanPost(self, UrlMsg::Closed, 0, 0);
      }
      return kOk;
    case UrlMsg::Closed:
      RepChannelFree(&s->channel);
      MemFree(&s->url);
      MemFree(&s);
      TskmanDestroyTask(self);
      return kOk;
    default:
      break;
  }
  if (s->stopping) return kOk;
  switch (message) {
    case UrlMsg::Complete:
      RequestDone(s, reinterpret_cast<UrlRequestRec*>(arg1));
      break;
    case UrlMsg::ClassKnown:
      if (reinterpret_cast<UrlRequestRec*>(arg1) == s->main) s->mainClass = static_cast<uint32_t>(arg2);
      break;
    case UrlMsg::Failed:
      if (Ours(s, reinterpret_cast<UrlRequestRec*>(arg1))) Failed(s);
      break;
    case UrlMsg::StatusKnown:
      if (arg2 >= 400 && arg2 <= 599 && Ours(s, reinterpret_cast<UrlRequestRec*>(arg1))) Failed(s);
      break;
    case RepMsg::Checked:
      FetchResource(s, reinterpret_cast<RepResource*>(arg1));
      break;
    default:
      break;
  }
  return kOk;
}

Result RepStartFetch(const char* url) {
  if (!url) return kOk;
  char* copy = LibcStrDup(url);
  if (!copy) return RepCode::NoMemory;
  TskmanTask* task = nullptr;
  if (TskmanCreateTask(&task, kModule, RepFetchTaskHandler, copy) != kOk) {
    MemFree(&copy);
    return RepCode::NoMemory;
  }
  return kOk;
}
