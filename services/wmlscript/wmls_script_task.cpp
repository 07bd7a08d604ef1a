// The script task. The unit arrives as raw data blocks (the wmlscriptc row
// has no operations) and is parsed here once the load completes, so a unit
// from the cache is parsed the same way as a fresh one.
#include "services/wmlscript/wmls_script_task.h"

#include <cstring>

#include "browser/bentask.h"
#include "browser/url.h"
#include "kernel/datachunk.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_task.h"

struct WmlsScriptTask {
  WmlsTaskContext lib;  // what the libraries read
  TskmanTask* self;
  TskmanTask* owner;
  UrlSession* session;
  UrlRequestRec* request;      // the unit's, kept while the run lasts
  UrlRequestRec* fetch;        // URL.loadString's, while under way
  uint32_t fetchType;          // the type id it expects
  uint32_t fetchStatus;
  uint32_t contentClass;
  uint32_t status;
  char* referrer8;
  char16_t* referrer16;
  char16_t* scriptUrl16;
  char16_t* call16;
  char* unitUrl;
  WmlsUnit* unit;
  WmlsRunContext* run;
  uint32_t ownsSession;        // made by the task, destroyed with it
  // Counts runs: a 0x2201 of an ended run carries an older number and is
  // dropped, so it cannot resume a run that is gone.
  uint32_t generation;
};

namespace {

constexpr Result kFailed = 0x80220001u;
constexpr uint32_t kScriptClass = 7;

uint32_t Completion(int32_t result) {
  switch (result) {
    case WmlsResult::Ok:
    case WmlsResult::Aborted: return WmlsEnd::Ok;
    case WmlsResult::NoMemory: return WmlsEnd::NoMemory;
    case WmlsResult::ArgCount: return WmlsEnd::ArgCount;
    default: return WmlsEnd::Failed;
  }
}

void FreeRun(WmlsScriptTask* t) {
  if (t->fetch) {
    UrlRequestDone(t->session, t->fetch);
    t->fetch = nullptr;
  }
  if (t->request) {
    UrlRequestDone(t->session, t->request);
    t->request = nullptr;
  }
  if (t->run) {
    WmlsRunEnd(t->run);
    MemFree(&t->run);
  }
  WmlsUnitFree(&t->unit);
  MemFree(&t->referrer8);
  MemFree(&t->referrer16);
  MemFree(&t->scriptUrl16);
  MemFree(&t->call16);
  MemFree(&t->unitUrl);
  t->lib.referrer = nullptr;
  t->lib.scriptUrl = nullptr;
  t->lib.referringClass = 0;
  t->contentClass = 0;
  t->status = 0;
  ++t->generation;
}

void Finish(WmlsScriptTask* t, uint32_t code) {
  FreeRun(t);
  TskmanPost(t->owner, WmlsMsg::End, code, 0);
}

void Slice(WmlsScriptTask* t) {
  const int32_t r = WmlsRunSlice(t->run, kWmlsSliceSteps);
  if (r == WmlsResult::Suspended) return;  // the answer resumes it
  if (r == 0 && t->run->status == 0 && t->run->frame) {
    TskmanPost(t->self, WmlsMsg::Resume, t->generation, 0);
    return;
  }
  Finish(t, Completion(r));
}

Result Run(WmlsScriptTask* t, char* text, UrlRequestRec* referring) {
  // A script still fetching or running ends first, and its owner hears so.
  if (t->request || t->run) Finish(t, WmlsEnd::Ok);
  const char* hash = text ? std::strchr(text, '#') : nullptr;
  if (!hash || !std::strchr(hash, '(')) {
    MemFree(&text);
    return kFailed;
  }
  const uint32_t urlLength = static_cast<uint32_t>(hash - text);
  t->call16 = WmlsFromUtf8(hash + 1, static_cast<uint32_t>(std::strlen(hash + 1)));
  t->scriptUrl16 = WmlsFromUtf8(text, urlLength);
  text[urlLength] = 0;
  if (!t->call16 || !t->scriptUrl16) {
    MemFree(&text);
    FreeRun(t);
    return kFailed;
  }
  t->lib.scriptUrl = t->scriptUrl16;
  const Result r = UrlRequest(t->session, text, UrlFlag::RawData, referring, &t->request, 0, t->self, 0);
  MemFree(&text);
  if (r != kOk) {
    t->request = nullptr;
    Finish(t, WmlsEnd::Failed);
    return kOk;
  }
  if (referring) {
    UrlOfRequest(&t->referrer8, referring);
    if (t->referrer8) {
      t->referrer16 = WmlsFromUtf8(t->referrer8, static_cast<uint32_t>(std::strlen(t->referrer8)));
      t->lib.referrer = t->referrer16;
    }
    t->lib.referringClass = UrlLoadContentClass(referring);
  }
  return kOk;
}

int32_t StartFetch(WmlsTaskContext* lib, const char* url, uint32_t typeId) {
  auto* t = reinterpret_cast<WmlsScriptTask*>(lib);
  if (t->fetch) return -1;
  if (UrlRequest(t->session, url, UrlFlag::RawData, t->request, &t->fetch, 0, t->self, 0) != kOk) {
    t->fetch = nullptr;
    return -1;
  }
  t->fetchType = typeId;
  t->fetchStatus = 0;
  return 0;
}

// The fetched text (or the status as text) in place of the cell the waiting
// call left; invalid when the load failed.
void EndFetch(WmlsScriptTask* t, bool complete) {
  UrlRequestRec* fetch = t->fetch;
  WmlsValue answer = WmlsMakeInvalid();
  char16_t* text = nullptr;
  bool memory = false;
  if (t->fetchStatus >= 400 && t->fetchStatus <= 599) {
    char digits[4] = {static_cast<char>('0' + t->fetchStatus / 100),
                      static_cast<char>('0' + t->fetchStatus / 10 % 10),
                      static_cast<char>('0' + t->fetchStatus % 10), 0};
    text = WmlsFromUtf8(digits, 3);
    memory = !text;
  } else if (complete && t->fetchType >= 2 && UrlLoadTypeId(fetch) != t->fetchType) {
    text = WmlsFromUtf8("414", 3);
    memory = !text;
  } else if (complete) {
    uint32_t total = 0;
    for (QueueNode* n = UrlRequestLoad(fetch)->output.head; n; n = n->next)
      total += UtilDataChunkOf(n)->remaining;
    char* bytes = static_cast<char*>(MemAlloc(total + 1, Use::Data, Mod::WmlsExec));
    if (bytes) {
      uint32_t at = 0;
      void* object = nullptr;
      while (UrlLoadNextChunk(fetch, &object) == kOk) {
        UtilDataChunk* chunk = static_cast<UtilDataChunk*>(object);
        const uint32_t n = chunk->remaining <= total - at ? chunk->remaining : total - at;
        std::memcpy(bytes + at, UtilDataChunkData(chunk) + chunk->offset, n);
        at += n;
      }
      text = WmlsFromUtf8(bytes, at);
      MemFree(&bytes);
    }
    memory = !text;
  }
  if (text) answer = {WmlsType::String, reinterpret_cast<uintptr_t>(text), 0};
  UrlRequestDone(t->session, fetch);
  t->fetch = nullptr;
  WmlsRunContext* run = t->run;
  if (!run || !run->suspended || run->top < 0) {
    WmlsValueRelease(&answer);
    return;
  }
  WmlsValueRelease(&run->stack[run->top]);
  run->stack[run->top] = answer;
  run->suspended = 0;
  run->resumeKind = 0;
  if (memory) run->status = WmlsStatus::NoMemory;
  Slice(t);
}

// The load's blocks joined and parsed; null when they do not form a unit.
WmlsUnit* CollectUnit(WmlsScriptTask* t) {
  uint32_t total = 0;
  void* object = nullptr;
  UrlRequestRec* request = t->request;
  for (QueueNode* n = UrlRequestLoad(request)->output.head; n; n = n->next)
    total += UtilDataChunkOf(n)->remaining;
  if (!total) return nullptr;
  uint8_t* bytes = static_cast<uint8_t*>(MemAlloc(total, Use::Data, Mod::WmlsExec));
  if (!bytes) return nullptr;
  uint32_t at = 0;
  while (UrlLoadNextChunk(request, &object) == kOk) {
    UtilDataChunk* chunk = static_cast<UtilDataChunk*>(object);
    const uint32_t n = chunk->remaining <= total - at ? chunk->remaining : total - at;
    std::memcpy(bytes + at, UtilDataChunkData(chunk) + chunk->offset, n);
    at += n;
  }
  WmlsUnit* unit = nullptr;
  WmlsUnitParse(bytes, at, &unit);
  MemFree(&bytes);
  return unit;
}

void Complete(WmlsScriptTask* t) {
  if (t->contentClass != kScriptClass || (t->status >= 400 && t->status <= 599)) {
    return Finish(t, WmlsEnd::Failed);
  }
  t->unit = CollectUnit(t);
  UrlOfRequest(&t->unitUrl, t->request);
  if (!t->unit) return Finish(t, WmlsEnd::Failed);
  t->run = static_cast<WmlsRunContext*>(MemAllocZero(sizeof(WmlsRunContext), Use::Context, Mod::WmlsExec));
  if (!t->run) return Finish(t, WmlsEnd::NoMemory);
  const int32_t r = WmlsRunCall(t->run, t->unit, t->call16, t->referrer8, t->unitUrl, &t->lib);
  if (r != 0) return Finish(t, Completion(r));
  Slice(t);
}

Result Handler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* t = static_cast<WmlsScriptTask*>(context);
  switch (message) {
    case WmlsMsg::Run:
      return Run(t, reinterpret_cast<char*>(arg1), reinterpret_cast<UrlRequestRec*>(arg2));
    case WmlsMsg::Resume:
      if (t->run && arg1 == t->generation) Slice(t);
      return kOk;
    case WmlsMsg::Abort:
      Finish(t, WmlsEnd::Ok);
      return kOk;
    case WmlsMsg::Stop:
    case TskMsg::Stop2: {
      // Ends silently and deletes the task with its record.
      FreeRun(t);
      if (t->ownsSession) UrlSessionDestroy(t->session);
      TskmanDestroyTask(t->self);
      MemFree(&t);
      return kOk;
    }
    case UrlMsg::ClassKnown:
      if (t->request && reinterpret_cast<UrlRequestRec*>(arg1) == t->request) t->contentClass = static_cast<uint32_t>(arg2);
      return kOk;
    case UrlMsg::StatusKnown:
      if (t->fetch && reinterpret_cast<UrlRequestRec*>(arg1) == t->fetch) t->fetchStatus = static_cast<uint32_t>(arg2);
      if (t->request && reinterpret_cast<UrlRequestRec*>(arg1) == t->request) t->status = static_cast<uint32_t>(arg2);
      return kOk;
    case UrlMsg::Complete:
      if (t->fetch && reinterpret_cast<UrlRequestRec*>(arg1) == t->fetch) {
        EndFetch(t, true);
        return kOk;
      }
      if (t->run) return kOk;
      if (t->request && reinterpret_cast<UrlRequestRec*>(arg1) == t->request) Complete(t);
      return kOk;
    case UrlMsg::Failed:
      if (t->fetch && reinterpret_cast<UrlRequestRec*>(arg1) == t->fetch) {
        EndFetch(t, false);
        return kOk;
      }
      if (t->run) return kOk;
      if (t->request && reinterpret_cast<UrlRequestRec*>(arg1) == t->request) Finish(t, WmlsEnd::Failed);
      return kOk;
    default: return kOk;
  }
}

}  // namespace

Result WmlsScriptTaskCreate(WmlsScriptTask** out, TskmanTask* owner, BenBrowser* browser,
                            UrlSession* session) {
  *out = nullptr;
  auto* t = static_cast<WmlsScriptTask*>(MemAllocZero(sizeof(WmlsScriptTask), Use::Context, Mod::WmlsExec));
  if (!t) return kFailed;
  t->owner = owner;
  t->session = session;
  t->lib.browser = browser;
  t->lib.load = StartFetch;
  if (TskmanCreateTask(&t->self, Mod::WmlsExec, Handler, t) != kOk) {
    MemFree(&t);
    return kFailed;
  }
  *out = t;
  return kOk;
}

TskmanTask* WmlsScriptTaskStartForBrowser() {
  TskmanTask* browser = TskmanFind(Mod::Ben);
  if (!browser || !BenGetBrowser()) return nullptr;
  WmlsScriptTask* t = nullptr;
  if (WmlsScriptTaskCreate(&t, browser, BenGetBrowser(), nullptr) != kOk) return nullptr;
  if (UrlSessionCreate(&t->session, t->self) != kOk) {
    WmlsScriptTaskDestroy(&t);
    return nullptr;
  }
  t->ownsSession = 1;
  return t->self;
}

void WmlsScriptTaskDestroy(WmlsScriptTask** task) {
  if (!*task) return;
  FreeRun(*task);
  if ((*task)->ownsSession) UrlSessionDestroy((*task)->session);
  TskmanDestroyTask((*task)->self);
  MemFree(task);
}

TskmanTask* WmlsScriptTaskOf(WmlsScriptTask* task) { return task->self; }
