// The URL module: its context and work buffer, the URL tasks (module 13)
// with their sessions and requests, the load records and the load step.
#include "browser/cache.h"
#include "browser/url.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

UrlModuleContext* gModule;
BenBrowser* gBrowser;

// A post to a task that is gone is dropped: never a broadcast.
bool PostTo(const TskmanRef& to, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  if (!TskmanRefAlive(to)) return false;
  TskmanPost(to.task, message, arg1, arg2);
  return true;
}

Result ModuleStart() {
  if (gModule) {
    ++gModule->users;
    return kOk;
  }
  gModule = static_cast<UrlModuleContext*>(
      MemAllocZero(sizeof(UrlModuleContext), Use::Context, Mod::Url));
  if (!gModule) return kUrlNoMemory;
  gModule->users = 1;
  gModule->browser = gBrowser;
  CacheInit();
  UrlWorkBufferTake(gModule);
  for (uint32_t i = 0; const UrlSchemeRow* row = UrlSchemeRowAt(i); ++i)
    if (row->moduleInit) row->moduleInit(gModule);
  return kOk;
}

void ModuleStop() {
  if (!gModule || --gModule->users > 0) return;
  for (uint32_t i = 0; const UrlSchemeRow* row = UrlSchemeRowAt(i); ++i)
    if (row->moduleTerm) row->moduleTerm(gModule);
  CacheClear();
  MemFree(&gModule->workBuffer);
  MemFree(&gModule);
}

void CloseLoad(UrlRequestRec* request, UrlLoad* load) {
  if (load->closed) return;
  load->closed = 1;
  if (load->schemeRow && load->schemeRow->close) load->schemeRow->close(request, load);
  if (load->contentRow && load->contentRow->release) load->contentRow->release(gModule, load);
  UtilDataChunkFreeQueue(&load->input);
}

// Frees a load nobody holds any more.
void DropIfUnheld(UrlLoad* load) {
  if (load->users == 0 && load->locks == 0 && !load->inCache) UrlLoadFree(load);
}

bool OwnsRequest(const UrlTaskContext* ctx, const UrlRequestRec* request) {
  for (ListNode* s = ListFirst(const_cast<ListHead*>(&ctx->sessions)); s; s = ListNext(s)) {
    auto* session = reinterpret_cast<UrlSession*>(s);
    for (ListNode* r = ListFirst(&session->requests); r; r = ListNext(r))
      if (reinterpret_cast<UrlRequestRec*>(r) == request) return true;
  }
  return false;
}

void Fail(UrlLoad* load, Result code) {
  load->result = code;
  load->events |= UrlEvent::Error;
}

// The data the scheme delivered goes on: to the content row's process, or
// as it came to the output list.
void Feed(UrlLoad* load) {
  const UrlContentTypeRow* row = load->contentRow;
  if ((load->flags & UrlFlag::RawData) || !row || !row->process) {
    while (QueueNode* block = QueuePopFront(&load->input)) UrlLoadAddOutput(load, block);
    if (load->endOfData) load->events |= UrlEvent::Complete;
    return;
  }
  if (load->events & UrlEvent::Complete) return;
  if (!load->input.head && !load->endOfData) return;
  if (Result r = row->process(gModule, load); r != kOk) {
    Fail(load, r);
    return;
  }
  // The handler says when the body is complete (it may hold data of its
  // own past the input queue's end); until then it is called again.
}

// Tells the requester what the step changed.
void Report(UrlRequestRec* request) {
  UrlLoad* load = request->load;
  const auto arg = reinterpret_cast<uintptr_t>(request);
  const uint32_t fresh = load->events & ~request->reported;
  if (fresh & UrlEvent::StatusKnown) PostTo(request->requester, UrlMsg::StatusKnown, arg, load->status);
  if (fresh & UrlEvent::ClassKnown)
    PostTo(request->requester, UrlMsg::ClassKnown, arg, load->contentClass);
  bool added = false;
  if (request->fromCache) {
    added = !request->outputSeen && load->output.head;
    request->outputSeen = 1;
  } else {
    added = (load->events & UrlEvent::OutputAdded) != 0;
    load->events &= ~UrlEvent::OutputAdded;
  }
  request->reported |= load->events & (UrlEvent::StatusKnown | UrlEvent::ClassKnown);
  const bool ended = (load->events & (UrlEvent::Error | UrlEvent::Complete)) != 0;
  if (request->watcher.task && (added || ended)) PostTo(request->watcher, UrlMsg::Watch, request->watchArg, arg);
  if (load->events & UrlEvent::Error)
    PostTo(request->requester, UrlMsg::Failed, arg, load->result);
  else if (load->events & UrlEvent::Complete)
    PostTo(request->requester, UrlMsg::Complete, arg, 0);
}

void PostStep(UrlRequestRec* request) {
  request->stepPending = 1;
  TskmanPost(request->session->urlTask->task, UrlMsg::Step, reinterpret_cast<uintptr_t>(request), 0);
}

void RunStep(UrlRequestRec* request) {
  request->stepPending = 0;
  if (request->finished) return;
  UrlLoad* load = request->load;
  if (!request->fromCache && !(load->events & (UrlEvent::Error | UrlEvent::Complete))) {
    if (!load->endOfData) {
      if (Result r = load->schemeRow->step(request, load); r != kOk) Fail(load, r);
    }
    if (!(load->events & UrlEvent::Error)) Feed(load);
  }
  Report(request);
  if (!(load->events & (UrlEvent::Error | UrlEvent::Complete))) {
    // A handler that waits with all its data is woken by its answer; a step
    // on every turn meanwhile would only keep the engine from sleeping.
    if (!(load->waiting && load->endOfData)) PostStep(request);
    return;
  }
  request->finished = 1;
  if (request->fromCache) return;
  CloseLoad(request, load);
  if (!(load->events & UrlEvent::Error) && (load->schemeRow->flags & UrlSchemeFlag::Cached))
    CacheAdd(load);
}

void FreeRequest(UrlRequestRec* request) {
  UrlTaskContext* ctx = request->session->urlTask;
  if (ctx->task) TskmanPurgeEvents(ctx->task, UrlMsg::Step, reinterpret_cast<uintptr_t>(request), -1);
  ListRemove(&request->link);
  UrlLoad* load = request->load;
  if (!load->closed && !request->fromCache) CloseLoad(request, load);
  --load->users;
  DropIfUnheld(load);
  MemFree(&request);
}

void FreeSession(UrlSession* session) {
  while (ListNode* r = ListFirst(&session->requests)) FreeRequest(reinterpret_cast<UrlRequestRec*>(r));
  ListRemove(&session->link);
  PostTo(session->requester, UrlMsg::Closed, reinterpret_cast<uintptr_t>(session), 0);
  MemFree(&session);
}

void EndTask(UrlTaskContext* ctx) {
  while (ListNode* s = ListFirst(&ctx->sessions)) FreeSession(reinterpret_cast<UrlSession*>(s));
  TskmanTask* task = ctx->task;
  const TskmanRef owner = ctx->owner;
  ctx->task = nullptr;
  TskmanDestroyTask(task);
  MemFree(&ctx);
  ModuleStop();
  PostTo(owner, UrlMsg::Closed, 0, 0);
}

}  // namespace

UrlModuleContext* UrlGetModule() { return gModule; }

void UrlModuleForget() { gModule = nullptr; }

void UrlSetBrowser(BenBrowser* browser) {
  gBrowser = browser;
  if (gModule) gModule->browser = browser;
}

// --- Loads -------------------------------------------------------------------

UrlLoad* UrlLoadCreate(const UrlParsed* url) {
  auto* load = static_cast<UrlLoad*>(MemAllocZero(sizeof(UrlLoad), Use::Data, Mod::Url));
  if (!load) return nullptr;
  load->lookAhead = -1;
  if (UrlCopyParsed(&load->url, url) != kOk || UrlToString(&load->name, url, kUrlNoFragment) != kOk) {
    UrlFreeParsed(&load->url);
    MemFree(&load);
    return nullptr;
  }
  return load;
}

void UrlLoadClose(UrlLoad* load) {
  if (load) CloseLoad(nullptr, load);
}

void UrlLoadFree(UrlLoad* load) {
  if (!load) return;
  CloseLoad(nullptr, load);
  if (load->inCache) CacheRemove(load);
  if (CacheFreeHook hook = load->freeHook) {
    load->freeHook = nullptr;
    hook(load);
  }
  while (QueueNode* object = QueuePopFront(&load->output)) {
    if (load->outputFree)
      load->outputFree(load, object);
    else
      MemFreeRaw(object);
  }
  while (UrlHeader* h = load->headers) {
    load->headers = h->next;
    MemFree(&h->name);
    MemFree(&h->value);
    MemFree(&h);
  }
  UrlFreeParsed(&load->url);
  MemFree(&load->name);
  MemFree(&load);
}

Result UrlLoadDeliver(UrlLoad* load, const uint8_t* bytes, uint32_t count) {
  if (count == 0) return kOk;
  if (UtilDataChunkAppend(&load->input, bytes, count, Mod::Url) != kOk) return kUrlNoMemory;
  load->delivered += count;
  return kOk;
}

void UrlLoadAddOutput(UrlLoad* load, QueueNode* object) {
  object->next = nullptr;
  QueueAppend(&load->output, object);
  load->events |= UrlEvent::OutputAdded;
}

void UrlLoadSetFlags(UrlLoad* load, uint32_t bits) {
  if (!load) return;
  load->flags |= bits;
  ++load->locks;
}

void UrlLoadClearFlags(UrlLoad* load, uint32_t bits) {
  if (!load) return;
  load->flags &= ~bits;
  if (load->locks) --load->locks;
  DropIfUnheld(load);
}

void UrlLoadWake(UrlLoad* load) {
  if (!load) return;
  load->waiting = 0;
  for (TskmanTask* t = TskmanNextTask(nullptr); t; t = TskmanNextTask(t)) {
    if (t->id != Mod::Url || t->handler != UrlTaskHandler || !t->context) continue;
    auto* ctx = static_cast<UrlTaskContext*>(t->context);
    for (ListNode* s = ListFirst(&ctx->sessions); s; s = ListNext(s)) {
      auto* session = reinterpret_cast<UrlSession*>(s);
      for (ListNode* r = ListFirst(&session->requests); r; r = ListNext(r)) {
        auto* request = reinterpret_cast<UrlRequestRec*>(r);
        if (request->load == load && !request->fromCache && !request->finished &&
            !request->stepPending)
          PostStep(request);
      }
    }
  }
}

// --- The URL task ------------------------------------------------------------

Result UrlTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t) {
  auto* ctx = static_cast<UrlTaskContext*>(context);
  if (!ctx) return kOk;
  switch (message) {
    case UrlMsg::Step: {
      auto* request = reinterpret_cast<UrlRequestRec*>(arg1);
      if (OwnsRequest(ctx, request)) RunStep(request);
      return kOk;
    }
    case TskMsg::Stop2:
      if (ctx->closing) EndTask(ctx);
      return kOk;
    default:
      // Settings notices and messages meant for other tasks.
      return kOk;
  }
}

Result UrlStartTask(UrlTaskContext** out, TskmanTask* owner) {
  *out = nullptr;
  if (Result r = ModuleStart(); r != kOk) return r;
  auto* ctx = static_cast<UrlTaskContext*>(MemAllocZero(sizeof(UrlTaskContext), Use::Context, Mod::Url));
  if (!ctx) {
    ModuleStop();
    return kUrlNoMemory;
  }
  ListInit(&ctx->sessions);
  ctx->owner = TskmanRefOf(owner);
  if (TskmanCreateTask(&ctx->task, Mod::Url, UrlTaskHandler, ctx) != kOk) {
    MemFree(&ctx);
    ModuleStop();
    return kUrlNoMemory;
  }
  *out = ctx;
  return kOk;
}

void UrlStopTask(UrlTaskContext* urlTask) {
  if (!urlTask || urlTask->closing) return;
  urlTask->closing = 1;
  TskmanPost(urlTask->task, TskMsg::Stop2, 0, 0);
}

Result UrlSessionCreate(UrlSession** out, TskmanTask* requester) {
  return UrlSessionCreateWith(out, requester, requester);
}

Result UrlSessionCreateWith(UrlSession** out, TskmanTask* requester, TskmanTask* urlOwner) {
  *out = nullptr;
  // The URL task of that owner when it has one, else the first that stands.
  UrlTaskContext* chosen = nullptr;
  const TskmanRef wanted = TskmanRefOf(urlOwner);
  for (TskmanTask* t = TskmanNextTask(nullptr); t; t = TskmanNextTask(t)) {
    if (t->id != Mod::Url || t->handler != UrlTaskHandler) continue;
    auto* ctx = static_cast<UrlTaskContext*>(t->context);
    if (!ctx || ctx->closing) continue;
    if (ctx->owner == wanted) {
      chosen = ctx;
      break;
    }
    if (!chosen) chosen = ctx;
  }
  if (!chosen) return kUrlNoMemory;
  auto* session = static_cast<UrlSession*>(MemAllocZero(sizeof(UrlSession), Use::Data, Mod::Url));
  if (!session) return kUrlNoMemory;
  session->urlTask = chosen;
  session->requester = TskmanRefOf(requester);
  ListInit(&session->requests);
  ListAppend(&chosen->sessions, &session->link);
  *out = session;
  return kOk;
}

bool UrlRequestIsLive(const UrlRequestRec* request) {
  if (!request) return false;
  for (TskmanTask* t = TskmanNextTask(nullptr); t; t = TskmanNextTask(t)) {
    if (t->id != Mod::Url || t->handler != UrlTaskHandler || !t->context) continue;
    if (OwnsRequest(static_cast<const UrlTaskContext*>(t->context), request)) return true;
  }
  return false;
}

void UrlSessionDestroy(UrlSession* session) {
  if (session) FreeSession(session);
}

Result UrlRequest(UrlSession* session, const char* url, uint32_t flags, UrlRequestRec* referrer,
                  UrlRequestRec** out, uintptr_t, TskmanTask* requester, uintptr_t) {
  *out = nullptr;
  if (!session || !url) return ResultError(Mod::Url, Err::BadArg);
  if (session->urlTask->closing) return kUrlClosing;
  UrlParsed parsed;
  Result r = referrer && referrer->load ? UrlResolve(&parsed, &referrer->load->url, url)
                                        : UrlParse(&parsed, url, 0);
  if (r != kOk) return r;
  const UrlSchemeRow* scheme = UrlFindScheme(parsed.scheme);
  if (!scheme || !scheme->step) {
    const Result missing = parsed.scheme ? kUrlNoScheme : kUrlBadUrl;
    UrlFreeParsed(&parsed);
    return missing;
  }

  // The record first: room made for it may free cached loads, so none is
  // looked up before it stands.
  auto* request = static_cast<UrlRequestRec*>(MemAllocZero(sizeof(UrlRequestRec), Use::Data, Mod::Url));
  if (!request) {
    UrlFreeParsed(&parsed);
    return kUrlNoMemory;
  }
  UrlLoad* load = CacheFindByName(&parsed);
  // A load a content row processed holds its parsed objects, not the bytes a
  // raw-data request reads (and the reverse): such a load is not shared.
  const UrlContentTypeRow* row = load ? load->contentRow : nullptr;
  const bool otherKind = row && row->process && ((load->flags ^ flags) & UrlFlag::RawData);
  if (otherKind) {
    load = nullptr;
  } else if (load && (CacheIsExpired(load) || !(load->events & UrlEvent::Complete))) {
    CacheRemove(load);
    DropIfUnheld(load);
    load = nullptr;
  }
  const bool fromCache = load != nullptr;
  if (!load) {
    load = UrlLoadCreate(&parsed);
    if (!load) {
      UrlFreeParsed(&parsed);
      MemFree(&request);
      return kUrlNoMemory;
    }
    load->flags = flags;
    load->schemeRow = scheme;
  }
  UrlFreeParsed(&parsed);

  request->browser = gModule ? gModule->browser : nullptr;
  request->session = session;
  request->load = load;
  request->requester = requester ? TskmanRefOf(requester) : session->requester;
  request->fromCache = fromCache;
  ++load->users;
  ListAppend(&session->requests, &request->link);
  if (fromCache) {
    CacheTouch(load);
  } else if (scheme->start) {
    // A start that fails is reported like any failure, on the first step.
    if (Result s = scheme->start(request, load); s != kOk) Fail(load, s);
  }
  PostStep(request);
  *out = request;
  return kOk;
}

void UrlRequestDone(UrlSession* session, UrlRequestRec* request) {
  if (!request) return;
  (void)session;
  FreeRequest(request);
}

UrlLoad* UrlRequestLoad(UrlRequestRec* request) { return request ? request->load : nullptr; }

bool UrlFailedForMemory(const UrlRequestRec* request, Result code) {
  const UrlLoad* load = request ? request->load : nullptr;
  if (load && load->failure != UrlFailure::ByCode) return load->failure == UrlFailure::NoMemory;
  return ResultNoMemory(code);
}

void UrlRequestWatch(UrlRequestRec* request, TskmanTask* task, uintptr_t argument) {
  if (!request) return;
  request->watcher = TskmanRefOf(task);
  request->watchArg = argument;
}

Result UrlOfRequest(char** out, const UrlRequestRec* request) {
  *out = nullptr;
  if (!request || !request->load) return ResultError(Mod::Url, Err::BadArg);
  return UrlToString(out, &request->load->url, 0);
}

uint32_t UrlLoadContentClass(const UrlRequestRec* request) {
  return request ? request->load->contentClass : 0;
}
uint32_t UrlLoadTypeId(const UrlRequestRec* request) { return request ? request->load->typeId : 0; }
uint32_t UrlLoadStatus(const UrlRequestRec* request) { return request ? request->load->status : 0; }
int32_t UrlLoadExpiry(const UrlRequestRec* request) { return request ? request->load->expiry : 0; }

Result UrlLoadNextChunk(UrlRequestRec* request, void** out) {
  *out = nullptr;
  if (!request) return kUrlNotFound;
  QueueNode* next = request->cursor ? request->cursor->next : request->load->output.head;
  if (!next) return kUrlNotFound;
  request->cursor = next;
  *out = next;
  return kOk;
}
