// The start-up task: the service phase, the browser phase, and both stop
// chains. Each row waits for the answer of the module it started; a module
// that cannot start makes the task post itself the answer that the stop
// chain expects from the module before it, so exactly what runs is stopped.
#include "kernel/uistart.h"

#include "browser/cache.h"
#include "browser/status.h"
#include "browser/ui.h"
#include "browser/uitask.h"
#include "browser/userpref.h"
#include "host/platform/shell.h"
#include "kernel/config.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "kernel/uisplash.h"
#include "layout/animeng.h"
#include "markup/varparse.h"
#include "net/auth.h"
#include "net/cookies.h"
#include "net/dns.h"
#include "net/netsock.h"
#include "security/ecapi.h"
#include "services/lc.h"
#include "services/notify.h"
#include "widgets/pwl.h"

namespace {

constexpr uint32_t kSplashMs = 100;
constexpr uint32_t kWtaiStop = TskMsg::Stop2;

struct UiStartContext {
  TskmanTask* task;
  char* homeUrl;  // the start-up copy, until the browser window has it
  void* host;
  int32_t state;
  Result status;
  UiSplash* splash;
};

UiStartContext* FindContext() {
  TskmanTask* task = TskmanFind(Mod::UiStart);
  return task ? static_cast<UiStartContext*>(task->context) : nullptr;
}

void Post(UiStartContext* ctx, uint32_t message) { TskmanPost(ctx->task, message, 0, 0); }

// The WTAI tasks stop themselves on 262; each present one is told once.
void StopWtaiTasks() {
  if (TskmanTask* t32 = TskmanFind(Mod::WtlWtai2)) TskmanSend(t32, kWtaiStop, 0, 0);
  for (TskmanTask* t = TskmanNextTask(nullptr); t;) {
    TskmanTask* next = TskmanNextTask(t);
    if (t->id == Mod::WtlWtai) TskmanSend(t, kWtaiStop, 0, 0);
    t = next;
  }
}

bool ServicePhase(UiStartContext* ctx, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  TskmanTask* self = ctx->task;
  switch (message) {
    case TskMsg::Start:
      ctx->state = UiStartState::ServicesStarting;
      if (ConfigStart(self) != kOk) {
        // Nothing runs yet: end at once.
        ctx->status = ResultError(Mod::Config, Err::NoMemory);
        Post(ctx, UiStartMsg::ServicesStopped);
      }
      return true;
    case ConfigMsg::Started: UserPrefStartTask(self); return true;
    case UserPrefMsg::Started:
      if (Result r = StatusCreateTask(self); r != kOk) {
        ctx->status = r;
        Post(ctx, StatusMsg::Stop);
      }
      return true;
    case StatusMsg::Started:
      if (Result r = EcapiStartSeedTask(self); r != kOk) {
        ctx->status = r;
        Post(ctx, EcapiMsg::Stopped);
      }
      return true;
    case EcapiMsg::Started:
      if (Result r = NetStartup(self, 0); r != kOk) {
        ctx->status = r;
        Post(ctx, NetMsg::Stopped);
      }
      return true;
    case NetMsg::Started: DnsStartTask(self); return true;
    case DnsMsg::Started: LcStartTask(self); return true;
    case LcMsg::Started:
      if (Result r = NotifyStartTask(self); r != kOk) {
        ctx->status = r;
        Post(ctx, NotifyMsg::Stopped);
      }
      return true;
    case NotifyMsg::Started: Post(ctx, UiStartMsg::ServicesUp); return true;
    case UiStartMsg::ServicesUp: HostStateChanged(ctx->host, 0, 0); return true;
    // Failure answers join the stop chain where it expects them.
    case UserPrefMsg::Failed:
      ctx->status = static_cast<Result>(arg1);
      Post(ctx, UserPrefMsg::Stopped);
      return true;
    case NetMsg::StartFailed:
      ctx->status = static_cast<Result>(arg2);
      Post(ctx, NetMsg::Stopped);
      return true;
    case DnsMsg::StartFailed:
      ctx->status = static_cast<Result>(arg2);
      Post(ctx, DnsMsg::Stopped);
      return true;
    default: return false;
  }
}

bool BrowserPhase(UiStartContext* ctx, uint32_t message) {
  TskmanTask* self = ctx->task;
  switch (message) {
    case UiStartMsg::ShowSplash:
      UiSplashShow(&ctx->splash, self, UiStartMsg::SplashDone, kSplashMs);
      // Without a splash record there is nothing to wait for.
      if (!ctx->splash) Post(ctx, UiStartMsg::SplashDone);
      UiSplashEnd(&ctx->splash);
      return true;
    case UiStartMsg::SplashDone:
      ctx->state = UiStartState::BrowserStarting;
      AuthStartTask(self);
      return true;
    case AuthMsg::Started: CookiesStartTask(self); return true;
    case CookiesMsg::Started: VarParseStartTask(self); return true;
    case VarParseMsg::Ready: Post(ctx, UiStartMsg::CreateBrowser); return true;
    case UiStartMsg::CreateBrowser: {
      UiResetKeyLocks();
      Result r = UiCreate(ctx->homeUrl ? ctx->homeUrl : "");
      MemFree(&ctx->homeUrl);
      if (r != kOk) {
        ctx->status = r;
        Post(ctx, UiMsg::BrowserEnded);
        return true;
      }
      HostStateChanged(ctx->host, 3, 0);
      ctx->state = UiStartState::BrowserRunning;
      ctx->status = kOk;
      return true;
    }
    // The browser phase ends in reverse order.
    case UiMsg::BrowserEnded: VarParseStopTask(self); return true;
    case VarParseMsg::Stopped: CookiesStopTask(self); return true;
    case CookiesMsg::Stopped: AuthStopTask(self); return true;
    case AuthMsg::Stopped:
      AnimEngTaskDelete();
      PwlShutdown();
      CachePurgeExpired();
      HostStateChanged(ctx->host, ctx->state, ctx->status);
      return true;
    default: return false;
  }
}

bool StopChain(UiStartContext* ctx, uint32_t message) {
  TskmanTask* self = ctx->task;
  switch (message) {
    case UiStartMsg::StopServices:
      // The closing picture stays on the screen while the services stop.
      UiSplashShow(&ctx->splash, self, 0, kSplashMs);
      UiSplashEnd(&ctx->splash);
      UiSplashClose(&ctx->splash);
      ctx->state = UiStartState::Stopping;
      ctx->status = kOk;
      if (TskmanFind(Mod::Notify))
        NotifyStopTask();
      else
        Post(ctx, NotifyMsg::Stopped);
      return true;
    case NotifyMsg::Stopped: LcStopTask(self); return true;
    case LcMsg::Stopped:
      StopWtaiTasks();
      DnsStopTask(self);
      return true;
    case DnsMsg::Stopped: NetCleanup(self, 0); return true;
    case NetMsg::Stopped: EcapiStopSeedTask(self); return true;
    case EcapiMsg::Stopped:
      StatusStopTask(self);
      UserPrefStopTask(self);
      return true;
    case StatusMsg::Stop: UserPrefStopTask(self); return true;
    case UserPrefMsg::Stopped: ConfigStop(); return true;
    case ConfigMsg::Stopped: Post(ctx, UiStartMsg::ServicesStopped); return true;
    default: return false;
  }
}

Result UiStartTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* ctx = static_cast<UiStartContext*>(context);
  if (message == TskMsg::Start) ctx->task = reinterpret_cast<TskmanTask*>(arg1);
  if (message == TskMsg::Timer) {
    UiSplashTimer(&ctx->splash, arg2, true);
    return kOk;
  }
  if (message == UiStartMsg::ServicesStopped) {
    HostStateChanged(ctx->host, ctx->state, ctx->status);
    UiSplashClose(&ctx->splash);
    MemFree(&ctx->homeUrl);
    TskmanDestroyTask(ctx->task);
    MemFree(&ctx);
    return kUiStartFinished;
  }
  // Messages meant for others (settings notices, broadcasts) pass.
  if (!ServicePhase(ctx, message, arg1, arg2) && !BrowserPhase(ctx, message)) StopChain(ctx, message);
  return kOk;
}

}  // namespace

Result HostStartEngine(void* host) {
  CacheInit();
  if (Result r = TskmanInit(); r != kOk) {
    CacheClear();
    return r;
  }
  auto* ctx = static_cast<UiStartContext*>(
      MemAllocZero(sizeof(UiStartContext), Use::Context, Mod::UiStart));
  Result r = ctx ? kOk : kUiStartNoMemory;
  if (ctx) {
    ctx->host = host;
    TskmanTask* task = nullptr;
    r = TskmanCreateTask(&task, Mod::UiStart, UiStartTaskHandler, ctx);
  }
  if (r != kOk) {
    MemFree(&ctx);
    TskmanShutdown();
    CacheClear();
  }
  return r;
}

void HostStopEngine() {
  TskmanShutdown();
  CacheClear();
}

void UiStopServices() {
  if (TskmanTask* task = TskmanFind(Mod::UiStart))
    TskmanPost(task, UiStartMsg::StopServices, 0, 0);
}

void UiSendEndKey() { UiCommand(UiCmd::End, 0); }

Result UiStartBrowser(const char* homeUrl) {
  UiStartContext* ctx = FindContext();
  if (!ctx) return ResultError(Mod::UiStart, Err::NotFound);
  CachePurgeExpired();
  Result r = kOk;
  if (homeUrl && *homeUrl) {
    ctx->homeUrl = LibcStrDup(homeUrl);
    if (!ctx->homeUrl) r = kUiStartNoMemory;
  }
  if (r == kOk) {
    ConfigResetOpen();
    r = PwlInit();
    if (r == kOk) {
      r = AnimEngTaskCreate();
      if (r != kOk) PwlShutdown();
    }
  }
  if (r != kOk) {
    MemFree(&ctx->homeUrl);
    HostStateChanged(ctx->host, UiStartState::BrowserStarting, r);
    return r;
  }
  Post(ctx, UiStartMsg::ShowSplash);
  return kOk;
}
