#include "services/notify.h"

#include <cstddef>

#include "browser/cache.h"
#include "browser/url.h"
#include "kernel/mem.h"
#include "kernel/tskservice.h"

namespace {

struct NotifyContext {
  TskmanTask* starter;
  bool stopping;
};

Result NotifyTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t);

// The stop answers the task that started it.
constexpr TskService kNotify{.module = Mod::Notify,
                             .handler = NotifyTaskHandler,
                             .contextBytes = sizeof(NotifyContext),
                             .starterAt = offsetof(NotifyContext, starter),
                             .started = NotifyMsg::Started,
                             .ownError = true,
                             .stop = NotifyMsg::Stop,
                             .stopped = NotifyMsg::Stopped};

// Until pushes are routed, each is dropped: its object leaves the cache and
// goes as soon as no request holds it.
void DropPush(char* url) {
  UrlParsed parsed;
  if (UrlParse(&parsed, url, 0) == kOk) {
    if (UrlLoad* load = CacheFindByName(&parsed); load && (load->flags & UrlFlag::Kept)) {
      CacheRemove(load);
      UrlLoadClearFlags(load, UrlFlag::Kept);
    }
    UrlFreeParsed(&parsed);
  }
  MemFree(&url);
}

Result NotifyTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t) {
  auto* ctx = static_cast<NotifyContext*>(context);
  switch (message) {
    case TskMsg::Start:
      TskServiceAnswerStarted(kNotify, ctx);
      return kOk;
    case NotifyMsg::Push:
      DropPush(reinterpret_cast<char*>(arg1));
      return kOk;
    case NotifyMsg::Stop:
      if (!ctx->stopping) return kOk;
      TskServiceEnd(kNotify, ctx->starter);
      return kOk;
    default:
      return kOk;
  }
}

}  // namespace

Result NotifyStartTask(TskmanTask* requester) { return TskServiceStart(kNotify, requester); }

void NotifyStopTask() {
  TskmanTask* task = TskmanFind(Mod::Notify);
  if (!task) return;
  static_cast<NotifyContext*>(task->context)->stopping = true;
  TskServiceStop(kNotify, nullptr);
}
