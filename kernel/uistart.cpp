// The start-up task: the service phase, the browser phase, and both stop
// chains. The modules are one table, walked forward to start and backward to
// stop; each row waits for the answer of the module it started. A module that
// cannot start makes the task post itself the answer after which the stop
// walk stops the module before, so exactly what runs is stopped.
#include "kernel/uistart.h"

#include <iterator>

#include "browser/cache.h"
#include "browser/status.h"
#include "browser/url.h"
#include "browser/ui.h"
#include "browser/uitask.h"
#include "browser/userpref.h"
#include "content/content_rows.h"
#include "content/handover_rows.h"
#include "host/platform/hoststate.h"
#include "kernel/config.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "kernel/uisplash.h"
#include "layout/animeng.h"
#include "layout/render_sink.h"
#include "markup/varparse.h"
#include "net/auth.h"
#include "net/cookies.h"
#include "net/dns.h"
#include "net/netsock.h"
#include "security/ecapi.h"
#include "services/channels/rep.h"
#include "services/push/lc.h"
#include "services/push/notify.h"
#include "services/push/notify_store.h"
#include "services/wmlscript/wmls_script_task.h"
#include "services/provisioning/prov.h"
#include "services/service_rows.h"
#include "widgets/pwl.h"

namespace {

constexpr uint32_t kSplashMs = 100;
constexpr uint32_t kWtaiStop = TskMsg::Stop2;
constexpr uint32_t kNoAnswer = UINT32_MAX;

struct UiStartContext {
  TskmanTask* task;
  char* homeUrl;  // the start-up copy, until the browser window has it
  void* host;
  HostState state;
  Result status;
  UiSplash* splash;
};

UiStartContext* FindContext() {
  TskmanTask* task = TskmanFind(Mod::UiStart);
  return task ? static_cast<UiStartContext*>(task->context) : nullptr;
}

void Post(UiStartContext* ctx, uint32_t message) { TskmanPost(ctx->task, message, 0, 0); }

enum class Phase : uint8_t { Services, Browser };

// One module of the chain. Its answers are messages of its own module id.
struct ModuleRow {
  // Not kOk: the module will not answer, the chain unwinds at once.
  Result (*start)(TskmanTask* self);
  uint32_t started;
  uint32_t failed = kNoAnswer;  // its answer that it could not start
  uint8_t errorArg = 0;         // the argument of `failed` that holds the error
  void (*stop)(TskmanTask* self);
  uint32_t stopped;
  Phase phase;
  bool stopUnanswered = false;  // the stop sends no answer: the module before stops at once
};

// A phase: the messages that begin it, end its start and begin its stop,
// with what the task does on each and when its first module has stopped.
struct PhaseRow {
  uint32_t begin;  // then the first module starts
  uint32_t up;     // posted to itself once the last module runs
  uint32_t stop;   // then the last module stops
  void (*onBegin)(UiStartContext* ctx);
  void (*onUp)(UiStartContext* ctx);
  void (*onStop)(UiStartContext* ctx);
  void (*onEnd)(UiStartContext* ctx);
};

// A module that answers whether or not it could start: its call's result is
// not looked at.
template <auto Start>
Result Answers(TskmanTask* self) {
  Start(self);
  return kOk;
}

Result StartSettings(TskmanTask* self) {
  return ConfigStart(self) == kOk ? kOk : ResultError(Mod::Config, Err::NoMemory);
}
void StopSettings(TskmanTask*) { ConfigStop(); }
Result StartSockets(TskmanTask* self) { return NetStartup(self, 0); }
void StopSockets(TskmanTask* self) { NetCleanup(self, 0); }

// The WTAI tasks stop themselves on 262; each present one is told once,
// before the resolver stops.
void StopResolver(TskmanTask* self) {
  if (TskmanTask* t32 = TskmanFind(Mod::WtlWtai2)) TskmanSend(t32, kWtaiStop, 0, 0);
  for (TskmanTask* t = TskmanNextTask(nullptr); t;) {
    TskmanTask* next = TskmanNextTask(t);
    if (t->id == Mod::WtlWtai) TskmanSend(t, kWtaiStop, 0, 0);
    t = next;
  }
  DnsStopTask(self);
}

// Push reception answers its stop only when it runs. One whose start
// failed has already ended, its failure still on the way: that failure
// answers the stop too.
bool IsPushFailure(void* found, uint32_t message, uintptr_t*, uintptr_t*) {
  if (message == NotifyMsg::StartFailed) *static_cast<bool*>(found) = true;
  return false;
}
void StopPush(TskmanTask* self) {
  if (TskmanFind(Mod::Notify)) {
    NotifyStopTask();
    return;
  }
  bool failing = false;
  TskmanSiftEvents(self, IsPushFailure, &failing);
  if (!failing) TskmanPost(self, NotifyMsg::Stopped, 0, 0);
}

// The kept inbox comes back at push reception's start, before the
// browser's phase: it takes none of the room that phase needs.
Result StartPush(TskmanTask* self) {
  NotifyStoreLeaveForStart(kUiStartBrowserPhaseBytes);
  return NotifyStartTask(self);
}

// The modules in the order they start; they stop in reverse.
constexpr ModuleRow kModules[] = {
    {.start = StartSettings, .started = ConfigMsg::Started, .stop = StopSettings,
     .stopped = ConfigMsg::Stopped, .phase = Phase::Services},
    {.start = Answers<UserPrefStartTask>, .started = UserPrefMsg::Started,
     .failed = UserPrefMsg::Failed, .errorArg = 1, .stop = UserPrefStopTask,
     .stopped = UserPrefMsg::Stopped, .phase = Phase::Services},
    // The status indicator's stop answers nothing; its stop message stands in
    // for the answer when it could not start.
    {.start = StatusCreateTask, .started = StatusMsg::Started, .stop = StatusStopTask,
     .stopped = StatusMsg::Stop, .phase = Phase::Services, .stopUnanswered = true},
    {.start = EcapiStartSeedTask, .started = EcapiMsg::Started, .stop = EcapiStopSeedTask,
     .stopped = EcapiMsg::Stopped, .phase = Phase::Services},
    {.start = StartSockets, .started = NetMsg::Started, .failed = NetMsg::StartFailed,
     .errorArg = 2, .stop = StopSockets, .stopped = NetMsg::Stopped, .phase = Phase::Services},
    {.start = Answers<DnsStartTask>, .started = DnsMsg::Started, .failed = DnsMsg::StartFailed,
     .errorArg = 2, .stop = StopResolver, .stopped = DnsMsg::Stopped, .phase = Phase::Services},
    {.start = Answers<LcStartTask>, .started = LcMsg::Started, .stop = LcStopTask,
     .stopped = LcMsg::Stopped, .phase = Phase::Services},
    {.start = StartPush, .started = NotifyMsg::Started, .failed = NotifyMsg::StartFailed,
     .errorArg = 1, .stop = StopPush, .stopped = NotifyMsg::Stopped, .phase = Phase::Services},
    {.start = Answers<AuthStartTask>, .started = AuthMsg::Started, .stop = AuthStopTask,
     .stopped = AuthMsg::Stopped, .phase = Phase::Browser},
    {.start = Answers<CookiesStartTask>, .started = CookiesMsg::Started, .stop = CookiesStopTask,
     .stopped = CookiesMsg::Stopped, .phase = Phase::Browser},
    {.start = Answers<VarParseStartTask>, .started = VarParseMsg::Ready, .stop = VarParseStopTask,
     .stopped = VarParseMsg::Stopped, .phase = Phase::Browser},
};
constexpr size_t kModuleCount = std::size(kModules);

// A pushed connectivity document goes to provisioning on its way to the inbox.
Result ProvisionPushed(uintptr_t, UrlLoad* message) { return ProvProvisionPushed(message->name); }

void BeginServices(UiStartContext* ctx) {
  // The content handlers and services sit above the fetch layer and the
  // document model: hand them their rows and hooks before anything fetches.
  ContentRowsInstall();
  // Script links reach a script task the browser starts through this.
  BenSetScriptStarter(WmlsScriptTaskStartForBrowser);
  ServiceRowsInstall();
  NotifySetConnectivityHook(ProvisionPushed);
  // A finished download goes to provisioning, which frees it through the row.
  NdwnSetProvisioningHook(&kProvDownloadRow);
  ProvSetHeldItemRelease(NdwnHeldItemFree);
  RenderSetChannelClose(RepStartFetchTask);
  ctx->state = HostState::ServicesStarting;
}
void ReportServicesUp(UiStartContext* ctx) {
  HostStateChanged(ctx->host, HostState::ServicesUp, 0);
}

void BeginServiceStop(UiStartContext* ctx) {
  // The closing picture stays on the screen while the services stop.
  UiSplashShow(&ctx->splash, ctx->task, 0, kSplashMs);
  UiSplashEnd(&ctx->splash);
  UiSplashClose(&ctx->splash);
  ctx->state = HostState::ServicesStopping;
  ctx->status = kOk;
}

void EndServices(UiStartContext* ctx) { Post(ctx, UiStartMsg::ServicesStopped); }

void BeginBrowser(UiStartContext* ctx) { ctx->state = HostState::BrowserModulesStarting; }

void CreateBrowserWindow(UiStartContext* ctx) {
  UiResetKeyLocks();
  Result r = UiCreate(ctx->homeUrl ? ctx->homeUrl : "");
  MemFree(&ctx->homeUrl);
  if (r != kOk) {
    ctx->status = r;
    Post(ctx, UiMsg::BrowserEnded);
    return;
  }
  HostStateChanged(ctx->host, HostState::BrowserRunning, 0);
  ctx->state = HostState::BrowserWindowOpen;
  ctx->status = kOk;
}

void EndBrowser(UiStartContext* ctx) {
  // A pushed document's question goes with the popups, and one still to be
  // asked, or pushed from now on, can no longer be: each is let go, and said.
  ProvEndUnanswered();
  AnimEngTaskDelete();
  PwlShutdown();
  CachePurgeExpired();
  HostStateChanged(ctx->host, ctx->state, ctx->status);
}

// Indexed by Phase. The browser window ends its phase itself (the end key),
// so its stop begins with the window's answer.
constexpr PhaseRow kPhases[] = {
    {TskMsg::Start, UiStartMsg::ServicesUp, UiStartMsg::StopServices, BeginServices,
     ReportServicesUp, BeginServiceStop, EndServices},
    {UiStartMsg::SplashDone, UiStartMsg::CreateBrowser, UiMsg::BrowserEnded, BeginBrowser,
     CreateBrowserWindow, nullptr, EndBrowser},
};

const PhaseRow& PhaseOf(size_t module) {
  return kPhases[static_cast<size_t>(kModules[module].phase)];
}

constexpr bool FirstOfPhase(size_t i) {
  return i == 0 || kModules[i - 1].phase != kModules[i].phase;
}
constexpr bool LastOfPhase(size_t i) {
  return i + 1 == kModuleCount || kModules[i + 1].phase != kModules[i].phase;
}

// Every message the task acts on means one thing, and each phase's modules
// stand together.
consteval bool TableIsWhole() {
  uint32_t seen[3 * kModuleCount + 3 * std::size(kPhases) + 5] = {};
  size_t n = 0;
  for (const ModuleRow& m : kModules) {
    seen[n++] = m.started;
    if (m.failed != kNoAnswer) seen[n++] = m.failed;
    seen[n++] = m.stopped;
    if ((m.failed == kNoAnswer) != (m.errorArg == 0) || m.errorArg > 2) return false;
  }
  for (const PhaseRow& p : kPhases) {
    seen[n++] = p.begin;
    seen[n++] = p.up;
    seen[n++] = p.stop;
  }
  seen[n++] = TskMsg::Timer;
  seen[n++] = UiStartMsg::ShowSplash;
  seen[n++] = UiStartMsg::ServicesStopped;
  seen[n++] = UiMsg::HomePageNoMemory;
  seen[n++] = UiMsg::HistoryNoMemory;
  for (size_t i = 0; i < n; ++i)
    for (size_t j = i + 1; j < n; ++j)
      if (seen[i] == seen[j]) return false;
  for (size_t i = 1; i < kModuleCount; ++i)
    if (kModules[i].phase < kModules[i - 1].phase) return false;
  return true;
}
static_assert(TableIsWhole());

size_t FirstModule(const PhaseRow& phase) {
  size_t i = 0;
  while (&PhaseOf(i) != &phase) ++i;
  return i;
}
size_t LastModule(const PhaseRow& phase) {
  size_t i = FirstModule(phase);
  while (!LastOfPhase(i)) ++i;
  return i;
}

// Module `i` cannot start: what runs before it stops, or the phase ends at
// once when nothing does.
void Unwind(UiStartContext* ctx, size_t i, Result error) {
  ctx->status = error;
  if (FirstOfPhase(i))
    PhaseOf(i).onEnd(ctx);
  else
    Post(ctx, kModules[i].stopped);
}

void StartModule(UiStartContext* ctx, size_t i) {
  if (Result r = kModules[i].start(ctx->task); r != kOk) Unwind(ctx, i, r);
}

void StopModule(UiStartContext* ctx, size_t i) {
  for (;;) {
    kModules[i].stop(ctx->task);
    if (!kModules[i].stopUnanswered) return;
    if (FirstOfPhase(i)) {
      PhaseOf(i).onEnd(ctx);
      return;
    }
    --i;
  }
}

// Module `i` answered: the next one starts, or the stop goes one further back.
bool OnModuleAnswer(UiStartContext* ctx, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  for (size_t i = 0; i < kModuleCount; ++i) {
    const ModuleRow& m = kModules[i];
    if (message == m.started) {
      if (LastOfPhase(i))
        Post(ctx, PhaseOf(i).up);
      else
        StartModule(ctx, i + 1);
    } else if (m.failed != kNoAnswer && message == m.failed) {
      Unwind(ctx, i, static_cast<Result>(m.errorArg == 1 ? arg1 : arg2));
    } else if (message == m.stopped) {
      if (FirstOfPhase(i))
        PhaseOf(i).onEnd(ctx);
      else
        StopModule(ctx, i - 1);
    } else {
      continue;
    }
    return true;
  }
  return false;
}

bool OnPhaseMessage(UiStartContext* ctx, uint32_t message) {
  for (const PhaseRow& p : kPhases) {
    if (message == p.begin) {
      p.onBegin(ctx);
      StartModule(ctx, FirstModule(p));
    } else if (message == p.up) {
      p.onUp(ctx);
    } else if (message == p.stop) {
      if (p.onStop) p.onStop(ctx);
      StopModule(ctx, LastModule(p));
    } else {
      continue;
    }
    return true;
  }
  return false;
}

// The splash stays its minimum time; its done message begins the browser
// phase.
void ShowSplash(UiStartContext* ctx) {
  UiSplashShow(&ctx->splash, ctx->task, UiStartMsg::SplashDone, kSplashMs);
  // Without a splash record there is nothing to wait for.
  if (!ctx->splash) Post(ctx, UiStartMsg::SplashDone);
  UiSplashEnd(&ctx->splash);
}

Result Finish(UiStartContext* ctx) {
  HostStateChanged(ctx->host, ctx->state, ctx->status);
  UiSplashClose(&ctx->splash);
  MemFree(&ctx->homeUrl);
  TskmanDestroyTask(ctx->task);
  MemFree(&ctx);
  return kUiStartFinished;
}

Result UiStartTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* ctx = static_cast<UiStartContext*>(context);
  if (message == TskMsg::Start) ctx->task = reinterpret_cast<TskmanTask*>(arg1);
  if (message == TskMsg::Timer) {
    UiSplashTimer(&ctx->splash, arg2, true);
    return kOk;
  }
  if (message == UiStartMsg::ShowSplash) {
    ShowSplash(ctx);
    return kOk;
  }
  if (message == UiStartMsg::ServicesStopped) return Finish(ctx);
  if (message == UiMsg::HomePageNoMemory || message == UiMsg::HistoryNoMemory) {
    HostStateChanged(ctx->host,
                     message == UiMsg::HomePageNoMemory ? HostState::HomePageNoMemory
                                                        : HostState::HistoryNoMemory,
                     0);
    return kOk;
  }
  // Messages meant for others (settings notices, broadcasts) pass.
  if (!OnPhaseMessage(ctx, message)) OnModuleAnswer(ctx, message, arg1, arg2);
  return kOk;
}

}  // namespace

Result HostStartEngine(void* host) {
  CacheInit();
  ProvBeginAsking();
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
  // The download held for provisioning lives in this engine's memory: the
  // next engine must not find it.
  NdwnHeldItemFree();
  ProvSayRefusedCount();
  TskmanShutdown();
  CacheClear();
  UrlModuleForget();
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
    if (r == kOk) ProvBeginAsking();
    if (r == kOk) {
      r = AnimEngTaskCreate();
      if (r != kOk) PwlShutdown();
    }
  }
  if (r != kOk) {
    MemFree(&ctx->homeUrl);
    HostStateChanged(ctx->host, HostState::BrowserModulesStarting, r);
    return r;
  }
  Post(ctx, UiStartMsg::ShowSplash);
  return kOk;
}
