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
  TskmanRef ui;  // the UI task as the fetch began; a later one is not told
  QueueNode* next;   // the main load's next channel record
  uint32_t stopping;  // the session is closing: answers are no longer read
  // Checks the repository still holds point into their channels: a failed
  // channel waits here (linked through its first word) until they are back,
  // and the task does not end before that.
  uint32_t checksOut;
  RepChannel* retired;
  uint32_t closed;  // the session has closed: the task ends with the last check
  // Each channel made current gets a new serial; a failure this task posts
  // itself is for the channel of that serial only.
  uint32_t serial;
  uint32_t failPosted;
};

Result Error(Result code) { return code ? (0x803E0000u | code) : kOk; }

void Show(FetchState* s, uint32_t message, char* text) {
  if (text && TskmanRefAlive(s->ui))
    TskmanPost(s->ui.task, message, reinterpret_cast<uintptr_t>(text), 0);
  else
    MemFree(&text);
}

void Stop(FetchState* s) {
  if (s->stopping) return;
  s->stopping = 1;
  TskmanPost(s->self, TskMsg::Stop2, 0, 0);
}

// 0xD04 to itself for the current channel; one is enough.
void PostFail(FetchState* s, Result code) {
  if (s->failPosted == s->serial) return;
  s->failPosted = s->serial;
  TskmanPost(s->self, UrlMsg::Failed, 0, code);
}

void MakeCurrent(FetchState* s, RepChannel* c) {
  s->channel = c;
  ++s->serial;
}

// The next channel of the document (copied), or null.
RepChannel* TakeNextChannel(FetchState* s) {
  QueueNode* n = s->next;
  if (!n) return nullptr;
  s->next = n->next;
  return RepChannelCopy(reinterpret_cast<RepChannel*>(n));
}

void FreeRetired(FetchState* s) {
  while (RepChannel* c = s->retired) {
    s->retired = reinterpret_cast<RepChannel*>(c->link.next);
    RepChannelFree(&c);
  }
}

void End(FetchState* s) {
  TskmanTask* self = s->self;
  RepChannelFree(&s->channel);
  FreeRetired(s);
  MemFree(&s->url);
  MemFree(&s);
  TskmanSetContext(self, nullptr);
  TskmanDestroyTask(self);
}

void RepStoreChannel(FetchState* s);

void RepStartResources(FetchState* s) {
  RepChannel* c = s->channel;
  if (!c->resources) {
    RepStoreChannel(s);
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
  for (RepResource* r = c->resources; r; r = r->next) ++c->resourceCount;
  for (RepResource* r = c->resources; r; r = r->next) {
    r->number = -1;
    auto* check = static_cast<RepCheck*>(MemAlloc(sizeof(RepCheck), Use::Data, kModule));
    if (!check) {
      PostFail(s, RepCode::NoMemory);
      return;
    }
    *check = RepCheck{TskmanRefOf(s->self), c, r};
    ++s->checksOut;
    TskmanPost(replib, ReplibMsg::Check, reinterpret_cast<uintptr_t>(c->base),
               reinterpret_cast<uintptr_t>(check));
  }
}

// Moves on to the document's next channel, or ends.
void NextChannel(FetchState* s) {
  MakeCurrent(s, TakeNextChannel(s));
  if (s->channel)
    RepStartResources(s);
  else
    Stop(s);
}

void RepStoreChannel(FetchState* s) {
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

void RepFetchFailed(FetchState* s);

// The repository's answer about one resource.
void RepFetchResource(FetchState* s, RepCheck* check) {
  RepChannel* c = check->channel;
  RepResource* r = check->resource;
  MemFree(&check);
  --s->checksOut;
  if (c != s->channel || s->stopping) {
    // A failed channel's late answer, or the task is on its way out.
    if (s->checksOut == 0) {
      FreeRetired(s);
      if (s->closed) End(s);
    }
    return;
  }
  if (r->state == RepState::Unchanged) {
    if (--c->resourceCount == 0) RepStoreChannel(s);
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
  if (result == kOk) {
    r->state = RepState::Requested;
  } else {
    r->request = nullptr;
    RepFetchFailed(s);
  }
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

// An answer about a request this task still waits for.
bool Ours(FetchState* s, const UrlRequestRec* request) {
  return request && (request == s->main || ResourceOf(s, request));
}

void ResourceDone(FetchState* s, UrlRequestRec* request) {
  RepChannel* c = s->channel;
  RepResource* r = ResourceOf(s, request);
  if (!r) {  // not one of this channel's: nothing to wait for may still be true
    if (c->resourceCount == 0) RepStoreChannel(s);
    return;
  }
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
  if (c->resourceCount == 0) RepStoreChannel(s);
}

void MainDone(FetchState* s) {
  UrlLoad* load = UrlRequestLoad(s->main);
  QueueNode* notice = (s->mainClass == kRepChannelClass && load) ? load->output.head : nullptr;
  s->next = notice ? notice->next : nullptr;
  MakeCurrent(s, TakeNextChannel(s));
  if (!s->channel) {
    PostFail(s, RepCode::BadArg);
    return;
  }
  s->channel->expiry = UrlLoadExpiry(s->main);
  RepStartResources(s);
}

void FinishRequests(FetchState* s, RepChannel* c) {
  for (RepResource* r = c->resources; r; r = r->next)
    if (r->request) {
      UrlRequestDone(s->session, r->request);
      r->request = nullptr;
    }
}

// The failed channel is set back as it came; it stays until the repository
// has answered every check about it.
void Retire(FetchState* s) {
  RepChannel* c = s->channel;
  s->channel = nullptr;
  if (!c) return;
  RepResetResources(c);
  c->link.next = reinterpret_cast<QueueNode*>(s->retired);
  s->retired = c;
  if (s->checksOut == 0) FreeRetired(s);
}

void RepFetchFailed(FetchState* s) {
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
  Retire(s);
  NextChannel(s);
}

void RepRequestDone(FetchState* s, UrlRequestRec* request) {
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
  s->serial = 1;
  s->ui = TskmanRefOf(TskmanFind(Mod::Ui));
  s->browser = TskmanFind(Mod::Ben);
  TskmanSetContext(self, s);
  if (UrlSessionCreate(&s->session, self) != kOk) {
    s->session = nullptr;
    Show(s, BenMsg::UiNavigate, LibcStrDup(kFailPage));
    s->stopping = 1;
    TskmanPost(self, UrlMsg::Closed, 0, 0);
    return kOk;
  }
  // A document that cannot be asked for ends the task without a page.
  if (UrlRequest(s->session, url, 3, nullptr, &s->main, 0, self, 0) != kOk) {
    s->main = nullptr;
    Stop(s);
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
      if (s->channel) {
        FinishRequests(s, s->channel);
        RepResetResources(s->channel);
      }
      if (s->session) {
        UrlSessionDestroy(s->session);  // answered by 0xD06
        s->session = nullptr;
      } else {
        TskmanPost(self, UrlMsg::Closed, 0, 0);
      }
      return kOk;
    case UrlMsg::Closed:
      s->closed = 1;
      if (s->checksOut == 0) End(s);
      return kOk;
    case RepMsg::Checked:  // counted even on the way out: the channel waits for it
      RepFetchResource(s, reinterpret_cast<RepCheck*>(arg1));
      return kOk;
    default:
      break;
  }
  if (s->stopping) return kOk;
  switch (message) {
    case UrlMsg::Complete:
      RepRequestDone(s, reinterpret_cast<UrlRequestRec*>(arg1));
      break;
    case UrlMsg::ClassKnown:
      if (reinterpret_cast<UrlRequestRec*>(arg1) == s->main) s->mainClass = static_cast<uint32_t>(arg2);
      break;
    case UrlMsg::Failed:
      if (!arg1) {  // its own: for the channel it was posted for only
        if (s->failPosted != s->serial) break;
        s->failPosted = 0;
        RepFetchFailed(s);
      } else if (Ours(s, reinterpret_cast<UrlRequestRec*>(arg1))) {
        RepFetchFailed(s);
      }
      break;
    case UrlMsg::StatusKnown:
      if (arg2 >= 400 && arg2 <= 599 && Ours(s, reinterpret_cast<UrlRequestRec*>(arg1)))
        RepFetchFailed(s);
      break;
    default:
      break;
  }
  return kOk;
}

Result RepStartFetchTask(const char* url) {
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
