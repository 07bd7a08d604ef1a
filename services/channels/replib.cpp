// The repository task: the one writer of "repository". Created on demand, it
// opens the section, carries out its queued requests one at a time, saves
// the section when something changed and ends itself.
#include <initializer_list>

#include "browser/bentask.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "kernel/qorrom.h"
#include "kernel/sstore.h"
#include "kernel/tskman.h"
#include "services/channels/replib_internal.h"

namespace {

constexpr uint32_t kModule = Mod::WtlReplib;
enum class Section : uint32_t { Open = 0, Opening = 1, Closing = 2 };

struct Request {
  Request* next;
  uint32_t message;
  uintptr_t arg1, arg2;
};

// A channel stored or removed since the section was last saved, named as
// the line that says its save was not kept names it. A channel changed
// again before the save is one change, its last, with what the file held
// before the first.
struct Change {
  Change* next;
  bool removed;
  bool held;      // the section held the channel before its first change
  uint32_t name;  // where the name begins in `text`
  char text[1];   // the channel id, then the title (UTF-8) or else the id again
};

struct Replib {
  TskmanTask* task;
  Section state;
  Queue queue;
  ConfigHandle* handle;
  uint32_t dirty, keepOpen;
  uint32_t runPosted;
  uint32_t saving;  // the section is being written: requests wait for the answer
  uint32_t ending;  // closed and idle: the task ends unless a request comes first
  Change* changes;  // of the next save, newest first
  Change* saved;    // of the save under way
  // Changes whose names found no memory, stored and removed; then those of
  // the save under way.
  uint32_t unnamed[2], unnamedSaved[2];
};

constexpr Result kReplibNoMemory = ResultError(Mod::WtlReplib, Err::NoMemory);
// Why a request the task's stop finds queued is not carried out.
constexpr char kStoppedFirst[] = "the repository stopped before it was carried out";

// The task's own: end now unless something came in meanwhile.
constexpr uint32_t kEndCheck = Msg(Mod::WtlReplib, 0x0C);

void ShowUrl(char* url) {
  TskmanTask* ui = TskmanFind(Mod::Ui);
  if (ui && url)
    TskmanPost(ui, BenMsg::UiShowUrl, reinterpret_cast<uintptr_t>(url), 0);
  else
    MemFree(&url);
}

// The channel's own page joined to its base, else the built-in one.
void ShowOutcome(const RepChannel* c, const char* own, const char* builtIn) {
  ShowUrl(own && *own ? RepJoinUrl(c->base, own) : LibcStrDup(builtIn));
}

// "channel <name>: <why>; it is not kept" (or "its removal is not kept").
void SayChannelNotKept(const char* name, bool removed, const char* why) {
  if (!name || !*name) name = "(its name found no memory)";
  char what[200] = "channel ";
  const uint32_t at = LibcStrLen(what);
  const uint32_t length = LibcStrLen(name);
  const uint32_t n = length < 100 ? length : 100;
  LibcMemCopy(what + at, name, n);
  what[at + n] = 0;
  LibcStrCat(LibcStrCat(what, ": "), why);
  LibcStrCat(what, removed ? "; its removal is not kept" : "; it is not kept");
  ConfigSayNotKept("repository", what);
}

// The channel's name in the lines: its title, or its id when it has none.
char* ChannelName(const RepChannel* c) {
  char* title = nullptr;
  if (c->identity.title && *c->identity.title &&
      LngWideToCharset(&title, c->identity.title, 106) == kOk && title && *title)
    return title;
  MemFree(&title);
  return LibcStrDup(c->identity.channelId ? c->identity.channelId : "");
}

// The channel goes into the section with the next save; `held`: the
// section held it before this change.
void NoteChange(Replib* ctx, const RepChannel* c, bool removed, bool held) {
  const char* id = c->identity.channelId ? c->identity.channelId : "";
  if (*id)
    for (Change** at = &ctx->changes; *at; at = &(*at)->next)
      if (LibcStrCmp((*at)->text, id) == 0) {
        Change* earlier = *at;
        held = earlier->held;
        *at = earlier->next;
        MemFree(&earlier);
        break;
      }
  char* name = ChannelName(c);
  const uint32_t idLength = LibcStrLen(id), length = name ? LibcStrLen(name) : 0;
  auto* change = name ? static_cast<Change*>(MemAlloc(sizeof(Change) + idLength + 1 + length,
                                                      Use::Data, kModule))
                      : nullptr;
  if (!change) {
    ++ctx->unnamed[removed];
  } else {
    change->removed = removed;
    change->held = held;
    change->name = idLength + 1;
    LibcMemCopy(change->text, id, idLength + 1);
    LibcMemCopy(change->text + change->name, name, length + 1);
    change->next = ctx->changes;
    ctx->changes = change;
  }
  MemFree(&name);
}

void FreeChanges(Change** list) {
  while (Change* c = *list) {
    *list = c->next;
    MemFree(&c);
  }
}

BenEventBinding* NewBinding(uint32_t event, char* url, const char* channelId) {
  auto* b = static_cast<BenEventBinding*>(MemAllocZero(sizeof(BenEventBinding), Use::Data, kModule));
  if (!b) {
    MemFree(&url);
    return nullptr;
  }
  b->event = event;
  b->url = url;
  b->channelId = channelId ? LibcStrDup(channelId) : nullptr;
  return b;
}

void StoreChannel(Replib* ctx, RepChannel* c) {
  ConfigHandle* h = ctx->handle;
  ctx->keepOpen = 0;
  Result r = kOk;
  c->resourceCount = 0;
  for (RepResource* res = c->resources; res && r == kOk; res = res->next) {
    r = ReplibStoreResource(h, res, c->base);
    if (r == kOk) ++c->resourceCount;
  }
  const bool resourcesStored = r == kOk;
  int32_t replaced[2] = {-1, -1};
  if (r == kOk) {
    replaced[0] = ReplibFindChannel(h, &c->identity, 0);
    if (replaced[0] >= 0) replaced[1] = ReplibFindChannel(h, &c->identity, replaced[0] + 1);
    r = ReplibWriteChannel(h, c);
  }
  ctx->dirty = 1;
  if (r != kOk) {
    ReplibReleaseStored(h, c);
    // A resource that could not be stored shows only the channel's own page.
    if (!resourcesStored) {
      if (c->failure && *c->failure) ShowUrl(RepJoinUrl(c->base, c->failure));
    } else {
      ShowOutcome(c, c->failure, "info://SHOW/reposit/ChanFail.html");
    }
    RepChannelFree(&c);
    return;
  }
  for (int32_t n : replaced)
    if (n >= 0) ReplibDeleteChannel(h, n);
  const int32_t first = c->resources ? c->resources->number : 0;
  char* url = static_cast<char*>(MemAlloc(20, Use::String, kModule));
  if (url) {
    LibcStrCopy(url, "rep://");
    LibcItoA(first, url + 6, 10);
  }
  BenEventBinding* binding = NewBinding(c->identity.event, url, nullptr);
  char* id = c->identity.channelId ? LibcStrDup(c->identity.channelId) : nullptr;
  if (TskmanTask* browser = TskmanFind(Mod::Ben)) {
    TskmanPost(browser, BenMsg::Binding, reinterpret_cast<uintptr_t>(binding),
               reinterpret_cast<uintptr_t>(id));
  } else {
    BenFreeBindings(&binding);
    MemFree(&id);
  }
  // The page comes now, as the channel is stored; the section is saved
  // once nothing holds it open any longer, and a save not kept is said then.
  ShowOutcome(c, c->success, "info://SHOW/reposit/ChanSucc.html");
  NoteChange(ctx, c, false, replaced[0] >= 0);
  RepChannelFree(&c);
}

void RemoveChannels(Replib* ctx, RepChannel* c) {
  ConfigHandle* h = ctx->handle;
  int32_t from = 0;
  bool noted = false;
  for (int i = 0; i < 2; ++i) {
    const int32_t n = ReplibFindChannel(h, &c->identity, from);
    if (n < 0) break;
    from = n + 1;
    if (ReplibDeleteChannel(h, n) != kOk) continue;
    if (!noted) NoteChange(ctx, c, true, true);
    noted = true;
    ctx->dirty = 1;
    char* id = c->identity.channelId ? LibcStrDup(c->identity.channelId) : nullptr;
    if (TskmanTask* browser = TskmanFind(Mod::Ben))
      TskmanPost(browser, BenMsg::Unbind, c->identity.event, reinterpret_cast<uintptr_t>(id));
    else
      MemFree(&id);
  }
  ShowOutcome(c, c->success, "info://SHOW/reposit/DelSucc.html");
  RepChannelFree(&c);
}

void SendBindings(Replib* ctx) {
  ConfigHandle* h = ctx->handle;
  if (ReplibCleanup(h, LibcTime(nullptr))) ctx->dirty = 1;
  BenEventBinding* list = nullptr;
  if (ConfigOpenPath(h, "Channel", 0, false) == kOk) {
    const int32_t freechan = ReplibInt(h, "freechan", 0);
    ConfigClose(h, false);
    for (int32_t n = 0; n < freechan; ++n) {
      if (ReplibOpen(h, "Channel", n, false) != kOk) continue;
      const int32_t event = ReplibInt(h, "event", 0);
      const char* chanid = nullptr;
      char* id = ConfigGetString(h, "chanid", 0, &chanid) == kOk ? LibcStrDup(chanid) : nullptr;
      ConfigClose(h, false);
      char* url = event ? ReplibFirstResourceUrl(h, n) : nullptr;
      if (url)
        if (BenEventBinding* b = NewBinding(static_cast<uint32_t>(event), url, id)) {
          b->next = list;
          list = b;
        }
      MemFree(&id);
    }
  }
  if (TskmanTask* browser = TskmanFind(Mod::Ben))
    TskmanPost(browser, BenMsg::Bindings, reinterpret_cast<uintptr_t>(list), 0);
  else
    BenFreeBindings(&list);
}

// A stored resource is fetched again when nothing tells that it is the same.
bool Unchanged(ConfigHandle* h, const RepResource* res) {
  int32_t mod = 0;
  const bool hasMod = ConfigGetInt(h, "mod", 0, &mod) == kOk;
  const char* etag = nullptr;
  const char* md5 = nullptr;
  const bool hasEtag = ConfigGetString(h, "etag", 0, &etag) == kOk;
  const bool hasMd5 = ConfigGetString(h, "md5", 0, &md5) == kOk;
  if (!hasMod && !hasEtag && !hasMd5) return false;
  if (mod != 0 && res->lastmod != 0 && mod < res->lastmod) return false;
  if ((mod == 0 || hasEtag) && res->etag && (!hasEtag || LibcStrCmp(etag, res->etag) != 0))
    return false;
  if (hasMd5 && res->md5 && LibcStrCmp(md5, res->md5) != 0) return false;
  return true;
}

// Answers the fetch task that asked; the check is its own.
void Answer(RepCheck* check) {
  if (check && TskmanRefAlive(check->asker))
    TskmanPost(check->asker.task, RepMsg::Checked, reinterpret_cast<uintptr_t>(check), 0);
}

void CheckResource(Replib* ctx, const char* base, RepCheck* check) {
  ConfigHandle* h = ctx->handle;
  RepResource* res = check->resource;
  char* url = ReplibRepUrl(base, res->href);
  if (url && ConfigOpenPath(h, "Resource", 0, false) == kOk) {
    const int32_t numres = ReplibInt(h, "numres", 0), freeres = ReplibInt(h, "freeres", 0);
    for (int32_t m = 0; numres >= 1 && m < freeres; ++m) {
      char name[12];
      LibcItoA(m, name, 10);
      if (ConfigOpenPath(h, name, 0, false) != kOk) continue;
      const char* stored = nullptr;
      const bool same = ConfigGetString(h, "url", 0, &stored) == kOk && LibcStrCmp(stored, url) == 0;
      if (same) {
        res->number = m;
        if (Unchanged(h, res)) res->state = RepState::Unchanged;
      }
      ConfigClose(h, false);
      if (same) break;
    }
    ConfigClose(h, false);
  }
  MemFree(&url);
  Answer(check);
  ctx->keepOpen = 1;
}

bool AllDigits(const char* t) {
  if (!t || !*t) return false;
  for (; *t; ++t)
    if (*t < '0' || *t > '9') return false;
  return true;
}

bool SameText(const char* a, const char* b) {
  if (!a || !b) return (!a || !*a) && (!b || !*b);
  return LibcStrICmp(a, b) == 0;
}

// The entry whose stored URL has the requested scheme, host and path; -1.
int32_t FindByUrl(ConfigHandle* h, const UrlParsed* wanted) {
  const int32_t freeres = ReplibInt(h, "freeres", 0);
  for (int32_t m = 0; m < freeres; ++m) {
    char name[12];
    LibcItoA(m, name, 10);
    if (ConfigOpenPath(h, name, 0, false) != kOk) continue;
    const char* stored = nullptr;
    bool same = false;
    if (ConfigGetString(h, "url", 0, &stored) == kOk) {
      UrlParsed u{};
      if (UrlParse(&u, stored, 0) == kOk)
        same = SameText(u.scheme, wanted->scheme) && SameText(u.host, wanted->host) &&
               SameText(u.path, wanted->path);
      UrlFreeParsed(&u);
    }
    ConfigClose(h, false);
    if (same) return m;
  }
  return -1;
}

void FreeResult(ReplibResult** result) {
  if (!*result) return;
  MemFree(&(*result)->data);
  MemFree(&(*result)->url);
  MemFree(&(*result)->asked);
  MemFree(result);
}

void Resolve(Replib* ctx, ReplibResult* result) {
  if (result->status) {  // the load has given up
    FreeResult(&result);
    return;
  }
  ConfigHandle* h = ctx->handle;
  UrlParsed wanted{};
  if (UrlParse(&wanted, result->asked, 0) != kOk) {
    result->status = ReplibCode::NoMemory;
    result->done = 1;
    return;
  }
  Result status = kOk;
  if (ConfigOpenPath(h, "Resource", 0, false) != kOk) {
    status = ReplibCode::NoFolder;
  } else {
    const bool byNumber = AllDigits(wanted.host);
    const int32_t m = byNumber ? LibcAtoI(wanted.host) : FindByUrl(h, &wanted);
    if (m < 0) {
      status = ReplibCode::NotFound;
    } else {
      char name[12];
      LibcItoA(m, name, 10);
      if (ConfigOpenPath(h, name, 0, false) != kOk) {
        status = ReplibCode::NoFolder;
      } else {
        const char* stored = nullptr;
        if (byNumber && ConfigGetString(h, "url", 0, &stored) == kOk) result->url = LibcStrDup(stored);
        result->typeId = static_cast<uint32_t>(ReplibInt(h, "content", 0));
        const uint8_t* data = nullptr;
        uint32_t length = 0;
        ConfigKind kind{};
        if (ConfigGetRaw(h, "data", 0, &data, &length, &kind) == kOk &&
            (result->data = static_cast<uint8_t*>(MemAlloc(length ? length : 1, Use::Data, kModule)))) {
          LibcMemCopy(result->data, data, length);
          result->length = length;
        } else {
          status = ReplibCode::NoData;
        }
        ConfigClose(h, false);
      }
    }
    ConfigClose(h, false);
  }
  UrlFreeParsed(&wanted);
  result->status = status;
  result->done = 1;
}

void UserPage(ReplibResult* result) {
  if (result->status) {
    FreeResult(&result);
    return;
  }
  uint32_t size = 0;
  const uint8_t* file = QorRomOpen("reposit/UserAcc.html", &size);
  if (file && (result->data = static_cast<uint8_t*>(MemAlloc(size ? size : 1, Use::Data, kModule)))) {
    LibcMemCopy(result->data, file, size);
    result->length = size;
    result->typeId = UrlType::Html;
  } else {
    result->status = ReplibCode::NoData;
  }
  if (file) QorRomRelease(file);
  result->done = 1;
}

// --- The "rep" source's side ---------------------------------------------------

void SourceOpen(Replib* ctx, char* name, int32_t* cell) {
  const bool user = name && LibcStrICmp(name, "user") == 0;
  if (!cell) {  // a single value: the name itself when there is a channel to list
    if (!user || ReplibNextUserChannel(ctx->handle, -1) < 0) MemFree(&name);
    VarParseValueReady(nullptr, name);
    return;
  }
  MemFree(&name);
  ctx->keepOpen = 1;
  *cell = user ? ReplibNextUserChannel(ctx->handle, -1) : -1;
  if (*cell < 0)
    VarParseSourceDone(cell);
  else
    VarParseValueReady(cell, nullptr);
}

void SourceNext(Replib* ctx, int32_t* cell) {
  ctx->keepOpen = 1;
  *cell = ReplibNextUserChannel(ctx->handle, *cell);
  if (*cell < 0)
    VarParseSourceDone(cell);
  else
    VarParseValueReady(cell, nullptr);
}

void SourceGet(Replib* ctx, int32_t* cell, char* name) {
  ctx->keepOpen = 1;
  char* value = nullptr;
  ConfigHandle* h = ctx->handle;
  const bool url = name && LibcStrICmp(name, "user.url") == 0;
  const bool text = name && LibcStrICmp(name, "user.text") == 0;
  if (url) {
    value = ReplibFirstResourceUrl(h, *cell);
  } else if (text && ReplibOpen(h, "Channel", *cell, false) == kOk) {
    const char16_t* title = nullptr;
    if (ConfigGetWString(h, "title", 0, &title) == kOk) LngWideToCharset(&value, title, 106);
    ConfigClose(h, false);
  }
  MemFree(&name);
  // The page copies the value; it stays ours.
  VarParseValueReady(cell, value);
  MemFree(&value);
}

// --- Requests and the section ----------------------------------------------------


void Run(Replib* ctx, const Request& q) {
  switch (q.message) {
    case ReplibMsg::Store:
      StoreChannel(ctx, reinterpret_cast<RepChannel*>(q.arg1));
      break;
    case ReplibMsg::Remove:
      RemoveChannels(ctx, reinterpret_cast<RepChannel*>(q.arg1));
      break;
    case ReplibMsg::Bindings:
      SendBindings(ctx);
      break;
    case ReplibMsg::UserPage:
      UserPage(reinterpret_cast<ReplibResult*>(q.arg1));
      break;
    case ReplibMsg::Resolve:
      Resolve(ctx, reinterpret_cast<ReplibResult*>(q.arg2));
      break;
    case ReplibMsg::Check:
      CheckResource(ctx, reinterpret_cast<const char*>(q.arg1), reinterpret_cast<RepCheck*>(q.arg2));
      break;
    case ReplibMsg::FetchFailed:
      ctx->keepOpen = 0;
      break;
    case ReplibMsg::SourceOpen:
      SourceOpen(ctx, reinterpret_cast<char*>(q.arg1), reinterpret_cast<int32_t*>(q.arg2));
      break;
    case ReplibMsg::SourceNext:
      SourceNext(ctx, reinterpret_cast<int32_t*>(q.arg1));
      break;
    case ReplibMsg::SourceClose: {
      auto* cell = reinterpret_cast<int32_t*>(q.arg1);
      MemFree(&cell);
      ctx->keepOpen = 0;
      break;
    }
    case ReplibMsg::SourceGet:
      SourceGet(ctx, reinterpret_cast<int32_t*>(q.arg1), reinterpret_cast<char*>(q.arg2));
      break;
    default:
      break;
  }
}

// A request that will not run (`why`): what it carries is given back, and
// a channel that will not be stored, or not removed, is said.
void Drop(const Request& q, const char* why) {
  switch (q.message) {
    case ReplibMsg::Store:
    case ReplibMsg::Remove: {
      auto* c = reinterpret_cast<RepChannel*>(q.arg1);
      char* name = ChannelName(c);
      SayChannelNotKept(name, q.message == ReplibMsg::Remove, why);
      MemFree(&name);
      RepChannelFree(&c);
      break;
    }
    case ReplibMsg::UserPage:
    case ReplibMsg::Resolve: {
      auto* result = reinterpret_cast<ReplibResult*>(q.message == ReplibMsg::Resolve ? q.arg2 : q.arg1);
      if (result->status) {
        FreeResult(&result);
      } else {
        result->status = ReplibCode::NoFolder;
        result->done = 1;
      }
      break;
    }
    case ReplibMsg::Check:
      Answer(reinterpret_cast<RepCheck*>(q.arg2));
      break;
    case ReplibMsg::SourceOpen: {
      auto* name = reinterpret_cast<char*>(q.arg1);
      MemFree(&name);
      if (q.arg2)
        VarParseSourceDone(reinterpret_cast<void*>(q.arg2));
      else
        VarParseValueReady(nullptr, nullptr);
      break;
    }
    case ReplibMsg::SourceNext:
      VarParseSourceDone(reinterpret_cast<void*>(q.arg1));
      break;
    case ReplibMsg::SourceClose: {
      auto* cell = reinterpret_cast<int32_t*>(q.arg1);
      MemFree(&cell);
      break;
    }
    case ReplibMsg::SourceGet: {
      auto* name = reinterpret_cast<char*>(q.arg2);
      MemFree(&name);
      VarParseValueReady(reinterpret_cast<void*>(q.arg1), nullptr);
      break;
    }
    default:
      break;
  }
}

struct Requeue {
  TskmanTask* task;
  uint32_t count;
};

// Queued again behind what is on its way now; a second end check is one too
// many.
void PostAgain(void* user, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  if (message == kEndCheck) return;
  auto* requeue = static_cast<Requeue*>(user);
  ++requeue->count;
  TskmanPost(requeue->task, message, arg1, arg2);
}

void DropQueue(Replib* ctx, const char* why) {
  while (auto* q = reinterpret_cast<Request*>(QueuePopFront(&ctx->queue))) {
    Drop(*q, why);
    MemFree(&q);
  }
}

void End(Replib* ctx) {
  TskmanTask* task = ctx->task;
  DropQueue(ctx, kStoppedFirst);
  if (ctx->handle) ConfigRelease(&ctx->handle);
  FreeChanges(&ctx->changes);
  FreeChanges(&ctx->saved);
  MemFree(&ctx);
  TskmanSetContext(task, nullptr);
  TskmanDestroyTask(task);
}

void OpenSection(Replib* ctx) {
  ctx->ending = 0;
  ctx->state = Section::Opening;
  ConfigOpen(ctx->task, "repository", true);
}

void PostRun(Replib* ctx) {
  if (ctx->runPosted) return;
  ctx->runPosted = 1;
  TskmanPost(ctx->task, ReplibMsg::RunNext, 0, 0);
}

// The store's answer to a save of the section that was not kept: each
// channel stored or removed since the last save is said.
void ChannelsNotKept(TskmanTask* task, Result status) {
  const auto* ctx = static_cast<const Replib*>(task->context);
  if (!ctx) return;
  // A channel stored and removed again leaves the file as it was.
  for (const Change* c = ctx->saved; c; c = c->next)
    if (!c->removed || c->held) SayChannelNotKept(c->text + c->name, c->removed, ConfigWhyText(status));
  for (const bool removed : {false, true})
    for (uint32_t i = 0; i < ctx->unnamedSaved[removed]; ++i)
      SayChannelNotKept(nullptr, removed, ConfigWhyText(status));
}

// The section is closed: open it again for what came meanwhile, or end once
// the messages already on their way have come in.
void Closed(Replib* ctx) {
  if (ctx->queue.head) {
    OpenSection(ctx);
    return;
  }
  ctx->ending = 1;
  TskmanPost(ctx->task, kEndCheck, 0, 0);
}

// Nothing is queued: the section stays open for more, or is saved or let go.
void Finish(Replib* ctx) {
  if (ctx->keepOpen) {
    ctx->state = Section::Open;
    return;
  }
  ctx->state = Section::Closing;
  if (ctx->handle && ctx->dirty) {
    ctx->dirty = 0;
    ctx->saving = 1;
    FreeChanges(&ctx->saved);
    ctx->saved = ctx->changes;
    ctx->changes = nullptr;
    for (const bool removed : {false, true}) {
      ctx->unnamedSaved[removed] = ctx->unnamed[removed];
      ctx->unnamed[removed] = 0;
    }
    if (ConfigSave(ctx->handle, ChannelsNotKept) == kOk) {  // goes on at 0x202, which ends the handle
      ctx->handle = nullptr;
      return;
    }
    ctx->saving = 0;  // refused at once (and said): the handle is still ours to let go
    FreeChanges(&ctx->saved);
  }
  if (ctx->handle) ConfigRelease(&ctx->handle);
  Closed(ctx);
}

void RunNext(Replib* ctx) {
  ctx->runPosted = 0;
  if (ctx->state != Section::Open || !ctx->handle) return;
  auto* q = reinterpret_cast<Request*>(QueuePopFront(&ctx->queue));
  if (!q) {
    Finish(ctx);
    return;
  }
  Run(ctx, *q);
  MemFree(&q);
  PostRun(ctx);
}

// Nothing asked of a task just made (its asker failed before sending, or
// the request could not be kept): it ends unless a request comes first, as
// it does once its queue runs dry.
void EndIfIdle(Replib* ctx) {
  if (ctx->state != Section::Open || ctx->handle || ctx->queue.head || ctx->ending) return;
  ctx->ending = 1;
  TskmanPost(ctx->task, kEndCheck, 0, 0);
}

bool IsRequest(uint32_t message) {
  return message >= ReplibMsg::Store && message <= ReplibMsg::SourceGet;
}

// Whether a request waits for the task in the ring.
bool RequestOnItsWay(TskmanTask* task) {
  bool found = false;
  TskmanSiftEvents(
      task,
      [](void* user, uint32_t message, uintptr_t*, uintptr_t*) {
        *static_cast<bool*>(user) = *static_cast<bool*>(user) || IsRequest(message);
        return false;
      },
      &found);
  return found;
}

// Queues the request; false (and it is dropped) without the memory.
bool Append(Replib* ctx, uint32_t message, uintptr_t a1, uintptr_t a2) {
  auto* q = static_cast<Request*>(MemAllocZero(sizeof(Request), Use::Data, kModule));
  if (!q) {
    Drop(Request{nullptr, message, a1, a2}, ConfigWhyText(kReplibNoMemory));
    return false;
  }
  q->message = message;
  q->arg1 = a1;
  q->arg2 = a2;
  QueueAppend(&ctx->queue, reinterpret_cast<QueueNode*>(q));
  return true;
}

void Enqueue(Replib* ctx, uint32_t message, uintptr_t a1, uintptr_t a2) {
  if (!Append(ctx, message, a1, a2)) {
    EndIfIdle(ctx);
    return;
  }
  if (ctx->state == Section::Opening || ctx->saving) return;
  if (!ctx->handle)
    OpenSection(ctx);
  else
    PostRun(ctx);
}

}  // namespace

void ReplibFreeResult(ReplibResult** result) { FreeResult(result); }

TskmanTask* ReplibGetTask() {
  // A task that has set out to end stays for a request that is on its way
  // to it when its end check comes (an asker may still give up).
  if (TskmanTask* t = TskmanFind(Mod::WtlReplib)) return t;
  TskmanTask* task = nullptr;
  if (TskmanCreateTask(&task, Mod::WtlReplib, ReplibTaskHandler, nullptr) != kOk) return nullptr;
  return task;
}

Result ReplibTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* ctx = static_cast<Replib*>(context);
  TskmanTask* self = TskmanGetCurrentTask();
  if (!ctx && message == kEndCheck) {
    // Never had a record. What came in after the check is put back before a
    // new one, to be tried as it would have been; with nothing, the task ends.
    Requeue later{self, 0};
    TskmanTakeEvents(self, PostAgain, &later);
    if (later.count)
      TskmanPost(self, kEndCheck, 0, 0);
    else
      TskmanDestroyTask(self);
    return kOk;
  }
  if (!ctx) {
    ctx = static_cast<Replib*>(MemAllocZero(sizeof(Replib), Use::Context, kModule));
    if (!ctx) {
      if (message != TskMsg::Start) Drop(Request{nullptr, message, arg1, arg2}, ConfigWhyText(kReplibNoMemory));
      // Ends after the messages already on their way, unless one of them
      // finds the memory for the record.
      TskmanPost(self, kEndCheck, 0, 0);
      return ResultError(kModule, Err::NoMemory);
    }
    ctx->task = self;
    ctx->state = Section::Open;
    TskmanSetContext(self, ctx);
  }
  switch (message) {
    case TskMsg::Start:
      EndIfIdle(ctx);
      return kOk;
    case TskMsg::Stop2:
      DropQueue(ctx, kStoppedFirst);
      ctx->keepOpen = 0;
      // The settings task answers an open on its way to this task: ending
      // before it comes would leave it a freed task to answer. The answer
      // finds nothing queued and closes the section.
      if (ctx->state == Section::Opening) return kOk;
      Finish(ctx);
      return kOk;
    case ConfigMsg::Opened:
      if (arg1 == kOk && arg2) {
        ctx->handle = reinterpret_cast<ConfigHandle*>(arg2);
        ctx->state = Section::Open;
        PostRun(ctx);
      } else {
        // What is queued is given back; what is still on its way here is
        // met before the task ends (and tries the section again).
        ctx->state = Section::Closing;
        DropQueue(ctx, ConfigWhyText(arg1 ? static_cast<Result>(arg1) : kReplibNoMemory));
        Closed(ctx);
      }
      return kOk;
    case ConfigMsg::Saved: {
      ctx->saving = 0;
      // A save not kept (said at its answer) leaves the file as it was: the
      // browser's event bindings are made again from it.
      const bool rebind = arg1 != kOk && arg1 != kStoreMalformed &&
                          (ctx->saved || ctx->unnamedSaved[0] || ctx->unnamedSaved[1]);
      FreeChanges(&ctx->saved);
      ctx->unnamedSaved[0] = ctx->unnamedSaved[1] = 0;
      if (rebind) Append(ctx, ReplibMsg::Bindings, 0, 0);
      Closed(ctx);
      return kOk;
    }
    case kEndCheck:
      if (!ctx->ending) return kOk;
      if (ctx->queue.head)
        OpenSection(ctx);
      else if (RequestOnItsWay(ctx->task))
        TskmanPost(ctx->task, kEndCheck, 0, 0);  // the request opens the section again
      else
        End(ctx);
      return kOk;
    case ReplibMsg::RunNext:
      RunNext(ctx);
      return kOk;
    default:
      if (IsRequest(message))
        Enqueue(ctx, message, arg1, arg2);
      return kOk;
  }
}
