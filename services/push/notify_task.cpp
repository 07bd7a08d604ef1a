// The push reception task: one routing pass per push (the "PPG" section
// opened around it), the push applications, and the kept list.
#include "services/push/notify.h"

#include "browser/cache.h"
#include "browser/url.h"
#include "browser/userpref.h"
#include "host/platform/files.h"
#include "kernel/config.h"
#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/list.h"
#include "kernel/mem.h"
#include "kernel/sstore.h"
#include "kernel/ubstore.h"
#include "services/push/inbox.h"
#include "services/push/lc.h"
#include "services/push/lc_internal.h"
#include "services/push/notify_store.h"
#include "services/push/notify_store_doc.h"
#include "services/push/sisl.h"

namespace {

constexpr uint32_t kModule = Mod::Notify;
constexpr char kPushScheme[] = "push";

struct UrlNode {
  UrlNode* next;
  char* url;
};

struct NotifyPushEntry {
  NotifyPushEntry* next;
  UrlRequestRec* request;
  UrlLoad* message;
  uint32_t appClass;
  uint32_t row;
  QueueNode* cursor;  // the last data block handed to a class-1 application
  uintptr_t cookie;
};

struct KeptNode {
  KeptNode* next;
  uint32_t level;
  uint32_t code;
  UrlLoad* message;
  uint32_t dead;
  uint32_t stored;  // the class file held it when the run began
};

struct NotifyTask {
  TskmanTask* task;
  TskmanTask* requester;
  Queue routed;
  ConfigHandle* ppg;
  uint32_t busy;
  uint32_t routedCount;
  uint32_t closesPending;
  uint32_t stopping;
  Queue incoming;
  UrlSession* session;
  UrlTaskContext* urlTask;
  KeptNode* kept;
  uint32_t cursors;
  uint32_t keepLimit;   // the most messages the save under way writes
  Result cutBy;         // what made the save under way write fewer: the quota or the section's size
  NotifyStoreWritten written;  // what the save under way wrote
  uint8_t ppgPending;   // the next section answer is the "PPG" one
  uint8_t storeStep;    // StoreStep: the "inbox" section being read or written
  uint8_t savingOwn;    // within ConfigSave of the "inbox" section: its keys are new
  uint8_t restoring;    // the messages kept now come back from the file
  Result startError;    // not kOk: the start failed and the task is ending
  NotifyStoreMissed missed;  // what the start could not put back, kept by the save
  uint8_t changed;      // the inbox is no longer what the file holds
  uint32_t deletes;     // messages the file holds that left the inbox in this run
  uint32_t shed;        // messages let go in this run past what the section holds
  uint32_t shedNew;     // of those, the ones the file does not hold
  uint8_t shedding;     // those leave now: none of them is a delete
};

namespace StoreStep {
// SaveBare: the inbox again without documents, after the storage class
// could not take them.
constexpr uint8_t None = 0, Restore = 1, Save = 2, SaveBare = 3;
}

NotifyMessageFn gConnectivityHook;

Result ConnectivityToInbox(uintptr_t reserved, UrlLoad* message) {
  if (gConnectivityHook) gConnectivityHook(reserved, message);
  return NotifyOnInboxPush(reserved, message);
}

constexpr NotifyAppRow kClass1[] = {
    {"32768", LcPushOpen, LcPushData, nullptr},
    {"x-wap-application.localcontent.ua", LcPushOpen, LcPushData, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};
constexpr NotifyAppRow kClass2[] = {{"0", nullptr, nullptr, ConnectivityToInbox},
                                    {nullptr, nullptr, nullptr, nullptr}};
constexpr NotifyAppRow kClass3[] = {{"0", nullptr, nullptr, NotifyOnInboxPush},
                                    {nullptr, nullptr, nullptr, nullptr}};
constexpr const NotifyAppRow* kClasses[] = {nullptr, kClass1, kClass2, kClass3};

struct TypeRoute {
  uint8_t typeId, appClass, row;
};
constexpr TypeRoute kTypeRoutes[] = {{UrlType::ConnectivityWbxml, 2, 0}, {0, 0, 0}};

Result NotifyTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);

// The running task's context; null when none runs, or another stands in.
NotifyTask* Context() {
  TskmanTask* task = TskmanFind(kModule);
  return task && task->handler == NotifyTaskHandler ? static_cast<NotifyTask*>(task->context)
                                                    : nullptr;
}

void StartPass(NotifyTask* ctx) {
  ctx->busy = 1;
  TskmanPost(ctx->task, NotifyMsg::OpenPpg, 0, 0);
}

// --- Acceptance and the choice of application ---------------------------------

bool FlagPasses(const char* flag) {
  uint32_t bits = 0;
  if (flag[0] == '1')
    for (const char* p = flag; *p; ++p) bits = bits << 1 | (*p == '1' ? 1u : 0u);
  else
    bits = static_cast<uint8_t>(flag[0]);
  return (bits & 3) == 3;
}

bool NotifyAcceptPush(NotifyTask* ctx, const UrlLoad* load) {
  if (UserPrefGetFlag(UserPrefFlag::Tp)) {
    const char* flag = nullptr;
    if (UrlGetHeader(load, "push-flag", &flag) != kOk || !FlagPasses(flag)) return false;
  }
  if (!ctx->ppg) return true;
  const char* path = load->url.path;
  const char* dot = path ? LibcStrRChr(path, '.') : nullptr;
  if (!dot) return false;
  const auto n = static_cast<uint32_t>(dot - path);
  uintptr_t cursor = 0;
  const char* name = nullptr;
  uint32_t nameLength = 0, valueLength = 0;
  const uint8_t* value = nullptr;
  ConfigKind kind{};
  bool any = false;
  while (ConfigEnum(ctx->ppg, &cursor, &name, &nameLength, &value, &valueLength, &kind) == kOk) {
    any = true;
    if (LibcStrNCmp(name, path, n) == 0 || LibcStrCmp(name, "*") == 0) return true;
  }
  return !any;
}

bool Select(const UrlLoad* load, uint32_t* appClass, uint32_t* row) {
  *appClass = 3;
  *row = 0;
  for (const TypeRoute* t = kTypeRoutes; t->typeId; ++t)
    if (t->typeId == load->typeId) {
      *appClass = t->appClass;
      *row = t->row;
      return true;
    }
  const char* id = nullptr;
  if (UrlGetHeader(load, "X-Wap-Application-Id", &id) != kOk) return true;
  // Class 3 first: "0" always reaches the inbox as a whole message.
  for (uint32_t c = 3; c >= 1; --c)
    for (uint32_t r = 0; kClasses[c][r].id; ++r)
      if (LibcStrICmp(id, kClasses[c][r].id) == 0) {
        *appClass = c;
        *row = r;
        return true;
      }
  return false;
}

// --- Ending a push ---------------------------------------------------------------

bool ForWantOfMemory(Result r) { return r != kOk && ResultCodeOf(r) == Err::NoMemory; }

// A push lost for want of memory on its way to the store or the inbox is
// said, once, as a file that could not be saved is; the texts are fixed, so
// saying it needs no memory.
void SayPushLost(uint32_t appClass) {
  if (appClass == 1)
    LcSayPushLost();
  else
    NotifySayLost(true);
}

// Delivery locked the object for push reception; that lock goes now. An
// object the inbox does not hold leaves the cache with it.
void LetGo(UrlLoad* message, bool listed) {
  if (!(message->flags & UrlFlag::Kept) && !listed && message->inCache) CacheRemove(message);
  UrlLoadClearFlags(message, 0);
}

// The body of a pushed object waits on its output list as delivery placed
// it; the content row (the SI and SL rows) makes its records now.
bool ProcessPushed(UrlLoad* load) {
  const UrlContentTypeRow* row = load->contentRow;
  if (!row || !row->process || load->outputFree) return false;
  while (QueueNode* block = QueuePopFront(&load->output)) QueueAppend(&load->input, block);
  load->events &= ~UrlEvent::Complete;
  load->endOfData = 1;
  UrlModuleContext* module = UrlGetModule();
  // Every byte is there: a row finishes within a few calls.
  bool shortOfMemory = false;
  for (int i = 0; i < 4 && !(load->events & UrlEvent::Complete); ++i)
    if (const Result r = row->process(module, load); r != kOk) {
      shortOfMemory = ForWantOfMemory(r);
      break;
    }
  if (row->release) row->release(module, load);
  UtilDataChunkFreeQueue(&load->input);
  load->events |= UrlEvent::Complete;
  return shortOfMemory;
}

NotifyPushEntry* FindEntry(NotifyTask* ctx, uintptr_t key, bool byEntry) {
  for (QueueNode* n = ctx->routed.head; n; n = n->next) {
    auto* e = reinterpret_cast<NotifyPushEntry*>(n);
    if ((byEntry ? reinterpret_cast<uintptr_t>(e) : reinterpret_cast<uintptr_t>(e->request)) == key)
      return e;
  }
  return nullptr;
}

NotifyPushEntry* NotifyFindEntryByRequest(NotifyTask* ctx, uintptr_t request) {
  return FindEntry(ctx, request, false);
}

void NotifyDeliverParts(NotifyPushEntry* entry) {
  const NotifyAppRow& app = kClass1[entry->row];
  QueueNode* n = entry->cursor ? entry->cursor->next : entry->message->output.head;
  for (; n; n = n->next) {
    const UtilDataChunk* chunk = UtilDataChunkOf(n);
    // An empty block would read as the end of the push, and the real end
    // would then reach an application that has let go of it.
    if (chunk->remaining)
      app.data(UtilDataChunkData(chunk) + chunk->offset, chunk->remaining, entry->cookie);
    entry->cursor = n;
  }
}

void FreeEntry(NotifyTask* ctx, NotifyPushEntry* entry) {
  QueueRemove(&ctx->routed, reinterpret_cast<QueueNode*>(entry));
  --ctx->routedCount;
  MemFree(&entry);
}


void NotifyRequestDone(NotifyTask* ctx, uintptr_t request, bool success) {
  NotifyPushEntry* entry = NotifyFindEntryByRequest(ctx, request);
  if (!entry) return;
  UrlLoad* message = entry->message;
  bool kept = false;
  if (entry->appClass == 1) {
    if (success) NotifyDeliverParts(entry);
    kClass1[entry->row].data(nullptr, 0, entry->cookie);
  } else if (success) {
    const bool shortOfMemory = ProcessPushed(message);
    kept = kClasses[entry->appClass][entry->row].handler(0, message) == kOk;
    if (!kept && shortOfMemory) SayPushLost(entry->appClass);
  }
  UrlRequestDone(ctx->session, entry->request);
  if (kept && !NotifyKeepMessage(message)) {
    // The inbox took it but has no room to list it: it goes, with a word.
    SayPushLost(entry->appClass);
    NotifyRemoveMessage(message);
    kept = false;
  }
  FreeEntry(ctx, entry);
  LetGo(message, kept);
  if (ctx->stopping && ctx->routedCount == 0) TskmanPost(ctx->task, NotifyMsg::Stop, 0, 0);
}

// --- Routing one push --------------------------------------------------------------

Result Start(NotifyTask* ctx, NotifyPushEntry* entry, const char* url) {
  const uint32_t flags = entry->appClass == 1 ? 0 : 3;
  if (entry->appClass == 1) entry->message->flags |= UrlFlag::RawData;
  if (Result r = UrlRequest(ctx->session, url, flags, nullptr, &entry->request, 0, ctx->task, 0);
      r != kOk)
    return r;
  if (entry->appClass == 1) {
    UrlRequestWatch(entry->request, ctx->task, reinterpret_cast<uintptr_t>(entry));
    // A push the application cannot take is dropped with what it made.
    if (Result r = kClass1[entry->row].start(url, &entry->cookie); r != kOk) {
      UrlRequestDone(ctx->session, entry->request);
      return r;
    }
  } else {
    // The inbox offers only what push reception asked for.
    entry->message->flags |= UrlFlag::Listed;
  }
  QueueAppend(&ctx->routed, reinterpret_cast<QueueNode*>(entry));
  ++ctx->routedCount;
  return kOk;
}

// The object delivery placed under the URL and locked for push reception,
// or null; the lock is push reception's from here on. Delivery names its
// objects as their URLs are written out, so they are found without memory
// and a push can always be let go; another spelling is parsed.
UrlLoad* TakePlaced(const char* url) {
  UrlLoad* load = CacheFindByText(url);
  UrlParsed parsed;
  if (!load && UrlParse(&parsed, url, 0) == kOk) {
    load = CacheFindByName(&parsed);
    UrlFreeParsed(&parsed);
  }
  if (!load || !(load->flags & UrlFlag::Kept)) return nullptr;
  load->flags &= ~UrlFlag::Kept;
  return load;
}

// A push that could not be queued for want of memory goes whole: its text,
// and its object with the lock delivery put on it (else it would stay in
// the cache until the cache is cleared); it is said when it would have been
// routed.
void DropLostPush(NotifyTask* ctx, char** url) {
  if (UrlLoad* load = TakePlaced(*url)) {
    uint32_t appClass = 0, row = 0;
    if (NotifyAcceptPush(ctx, load) && Select(load, &appClass, &row)) SayPushLost(appClass);
    LetGo(load, false);
  }
  MemFree(url);
}

void NotifyRoutePush(NotifyTask* ctx, char* url) {
  UrlLoad* load = TakePlaced(url);
  if (!load) {
    MemFree(&url);
    return;
  }
  uint32_t appClass = 0, row = 0;
  NotifyPushEntry* entry = nullptr;
  const bool accepted = NotifyAcceptPush(ctx, load) && Select(load, &appClass, &row);
  if (accepted)
    entry = static_cast<NotifyPushEntry*>(MemAllocZero(sizeof(NotifyPushEntry), Use::Data, kModule));
  if (!entry) {
    if (accepted) SayPushLost(appClass);
    LetGo(load, false);
  } else if (appClass == 2) {
    const Result r = kClasses[2][row].handler(0, load);
    (void)r;  // listed whatever the application says
    load->flags |= UrlFlag::Listed;
    // Listed, it is held as every listed message is (as the start holds
    // one from the file): the first allocation the heap refuses must not
    // free a document the user has yet to open and apply.
    if (!(load->flags & UrlFlag::Kept)) UrlLoadSetFlags(load, UrlFlag::Kept);
    const bool listed = NotifyKeepMessage(load);
    if (!listed) {
      // No room to list it: it goes, with a word.
      SayPushLost(appClass);
      NotifyRemoveMessage(load);
    }
    MemFree(&entry);
    LetGo(load, listed);
  } else {
    entry->message = load;
    entry->appClass = appClass;
    entry->row = row;
    if (const Result r = Start(ctx, entry, url); r != kOk) {
      if (ForWantOfMemory(r)) SayPushLost(appClass);
      MemFree(&entry);
      LetGo(load, false);
    }
  }
  MemFree(&url);
}

// A push that comes once the stop's save has begun is not in it: it goes as
// a push that could not be queued does, and one that would have been
// routed is said, as one the emulator stopped before taking.
void DropLatePush(NotifyTask* ctx, char** url) {
  if (UrlLoad* load = TakePlaced(*url)) {
    uint32_t appClass = 0, row = 0;
    if (NotifyAcceptPush(ctx, load) && Select(load, &appClass, &row)) NotifySayStoppedFirst();
    LetGo(load, false);
  }
  MemFree(url);
}

void FreeIncoming(NotifyTask* ctx) {
  while (auto* node = reinterpret_cast<UrlNode*>(QueuePopFront(&ctx->incoming))) {
    DropLatePush(ctx, &node->url);
    MemFree(&node);
  }
}

// Pushes are taken until the stop's save begins: a stop routes every one
// that came before it, and those that come while it waits.
bool TakesPushes(const NotifyTask* ctx) {
  return ctx->session && ctx->storeStep != StoreStep::Save &&
         ctx->storeStep != StoreStep::SaveBare;
}

// A routing pass has ended: the next push, or the stop that waited for it.
void PassEnded(NotifyTask* ctx) {
  ctx->busy = 0;
  if (ctx->incoming.head)
    StartPass(ctx);
  else if (ctx->stopping)
    TskmanPost(ctx->task, NotifyMsg::Stop, 0, 0);
}

// --- Stopping -----------------------------------------------------------------------

// A message leaves the inbox: one the file holds is a delete the save
// carries, unless the stop's own save lets it go.
void NoteLeft(NotifyTask* ctx, const KeptNode* node) {
  // One the start gives back to the file as it reads it was never away.
  if (node->dead || ctx->restoring) return;
  ctx->changed = 1;
  if (node->stored && ctx->storeStep == StoreStep::None && !ctx->shedding) ++ctx->deletes;
}

void NotifyUnlinkMessage(NotifyTask* ctx, KeptNode* node) {
  for (KeptNode** at = &ctx->kept; *at; at = &(*at)->next)
    if (*at == node) {
      *at = node->next;
      MemFree(&node);
      return;
    }
}

void BeginStop(NotifyTask* ctx) {
  while (KeptNode* node = ctx->kept) {
    ctx->kept = node->next;
    CacheSetFreeHook(node->message, nullptr);
    MemFree(&node);
  }
  TskmanPost(ctx->task, NotifyMsg::DropIncoming, 0, 0);
  ConfigRelease(&ctx->ppg);
  while (auto* entry = reinterpret_cast<NotifyPushEntry*>(ctx->routed.head)) {
    if (entry->appClass == 1) kClass1[entry->row].data(nullptr, 0, entry->cookie);
    UrlLoad* message = entry->message;
    UrlRequestDone(ctx->session, entry->request);
    FreeEntry(ctx, entry);
    LetGo(message, false);
  }
  UrlSessionDestroy(ctx->session);
  ctx->session = nullptr;
  ctx->closesPending = 1;
  UrlStopTask(ctx->urlTask);
}

// "<lost> of the inbox's <of> messages", or "the inbox's <of> messages"
// when every one is lost and `counted` is false.
void CountText(char* what, uint32_t lost, uint32_t of, bool counted) {
  char number[12];
  if (counted || lost < of) {
    LibcItoA(static_cast<int32_t>(lost), number, 10);
    LibcStrCat(what, number);
    LibcStrCat(what, " of ");
  }
  LibcStrCat(what, "the inbox's ");
  LibcItoA(static_cast<int32_t>(of), number, 10);
  LibcStrCat(what, number);
  LibcStrCat(what, of == 1 ? " message" : " messages");
}

// The deletes of this run that a save which was not made leaves in the
// file: "; <n> messages deleted in this run come back".
void DeletesText(char* what, uint32_t deletes) {
  if (deletes == 0) return;
  char number[12];
  LibcItoA(static_cast<int32_t>(deletes), number, 10);
  LibcStrCat(what, "; ");
  LibcStrCat(what, number);
  LibcStrCat(what, deletes == 1 ? " message deleted in this run comes back"
                                : " messages deleted in this run come back");
}

// What the stop could not keep is said, as a file that could not be saved
// is: `lost` of `of` messages over the quota or past what one section of
// the file holds (`why`), or, when the save could not be made for want of
// memory or of a class file it could read, those that only memory held and
// the deletes the file still holds. Nothing lost, nothing said.
void SayNotKept(uint32_t lost, uint32_t of, Result why, uint32_t deletes = 0) {
  if (lost == 0 && deletes == 0) return;
  if (of < lost) of = lost;
  char what[160] = "";
  const bool quota = why == kUbstoreOverQuota || why == kStoreBadArg;
  if (lost)
    CountText(what, lost, of, quota);
  else
    LibcStrCat(what, "the inbox");
  if (why == kStoreBadArg)
    LibcStrCat(what, " did not fit its file");
  else if (quota)
    LibcStrCat(what, " did not fit its quota");
  else
    LibcStrCat(LibcStrCat(what, ": "), ConfigWhyText(why));
  DeletesText(what, deletes);
  UbstoreSayNotKept(ConfigClassOf(kNotifyStoreSection), what);
}

// The messages only memory holds, which a stop that writes nothing loses:
// those that came in this run (those the stop let go too), and those the
// start missed whose documents the file gave up since. The file keeps every
// other one.
uint32_t MemoryOnly(const NotifyTask* ctx) {
  uint32_t n = NotifyStoreHeldCount(&ctx->missed) + ctx->shedNew;
  for (const KeptNode* node = ctx->kept; node; node = node->next)
    n += !node->dead && !node->stored ? 1 : 0;
  return n;
}

// The messages of the inbox: the listed ones, those the stop let go and
// those the start missed.
uint32_t InboxCount(const NotifyTask* ctx) {
  return NotifyKeptCount() + ctx->shed + NotifyStoreMissedCount(&ctx->missed);
}

// The save could not be made: what only memory held is said, and the
// deletes that come back.
void SayUnsaved(const NotifyTask* ctx, Result why) {
  SayNotKept(MemoryOnly(ctx), InboxCount(ctx), why, ctx->deletes);
}

// Not even an inbox without messages fits what the file leaves it (the
// rest of the file passes the quota): the file keeps the inbox of its last
// save, and what this run changed (new messages, deletes) is lost.
void SayRefused(const NotifyTask* ctx, Result why) {
  char what[224] = "";
  if (const uint32_t lost = MemoryOnly(ctx))
    CountText(what, lost, InboxCount(ctx), true);
  else
    LibcStrCat(what, "the inbox");
  LibcStrCat(what, why == kStoreBadArg ? " did not fit its file" : " did not fit its quota");
  LibcStrCat(what, ": the file keeps the inbox of its last save, without this run's changes");
  DeletesText(what, ctx->deletes);
  UbstoreSayNotKept(ConfigClassOf(kNotifyStoreSection), what);
}

// Whether anything of the inbox is not in the file as it stands: a new
// message, a delete, a mark, a document only memory holds or that another
// section's save dropped, or a record the rules met that may reach a message
// the start missed.
bool Changed(const NotifyTask* ctx) {
  return ctx->changed || NotifyStoreHeldCount(&ctx->missed) || ctx->missed.ruled;
}

// An inbox bigger than its section can ever hold loses its oldest messages
// whatever the save finds: they go as soon as a new message passes the
// section, in the list's order (newest first within a level), so that the
// inbox never holds, walks or spends memory on what no save could keep.
// They are counted, and the stop says them with what its save could not
// keep. Also after a start that missed messages, whose levels memory does
// not know: the listed ones alone are what the section must take here, and
// the save puts the missed ones where the inbox lists them, keeping what
// fits; once a listed one goes, the missed ones the inbox lists after it
// (of its level, older, or of a lower one) are past the section as they
// would be after a whole start (counted, and said, by the save).
// The documents of provisioning messages, which the inbox holds until the
// user opens them and the file keeps only a few of, are bounded likewise:
// past what one section holds of them, an older one goes (never the
// newest), so that a flood of them cannot fill the heap.
void ShedPastSection(NotifyTask* ctx) {
  ctx->shedding = 1;
  uint32_t used = NotifyStoreFixedBytes(), n = 0, docs = 0;
  bool full = false;
  for (KeptNode *node = ctx->kept, *next = nullptr; node; node = next) {
    next = node->next;
    if (node->dead) continue;
    const uint32_t bytes = NotifyStoreMessageBytes(node->message, n);
    if (bytes == 0) continue;
    const bool fits = !full && bytes <= kStoreMaxValue - used;
    const uint32_t doc = NotifyStoreDocSize(node->message);
    if (fits && (doc == 0 || docs == 0 || (docs < kStoreMaxValue && doc <= kStoreMaxValue - docs))) {
      used += bytes;
      docs += doc;
      ++n;
      continue;
    }
    if (!fits && !full && (ctx->missed.all || ctx->missed.bits) && !ctx->missed.pastBelow) {
      ctx->missed.pastBelow = node->level + 1;
      NotifyStoreRuledClear(&ctx->missed.ruled);
    }
    full = full || !fits;
    ++ctx->shed;
    if (!node->stored) ++ctx->shedNew;
    NotifyRemoveMessage(node->message);
  }
  ctx->shedding = 0;
}

void EndSave(NotifyTask* ctx) {
  ctx->storeStep = StoreStep::None;
  BeginStop(ctx);
}

// Opens the "inbox" section again for the next try of the stop's save.
void SaveAgain(NotifyTask* ctx) { ConfigOpen(ctx->task, kNotifyStoreSection, true); }

// How many messages a save short of memory goes again with, while that
// loses less than no save would (the file keeping its last save loses what
// only memory holds, and brings the run's deletes back; any save loses
// those left out and those the inbox let go past its section, stored ones
// too): half of them, or as many as still lose less. False when no such
// save is left.
bool FewerToSave(const NotifyTask* ctx, uint32_t* fewer) {
  const NotifyStoreWritten& w = ctx->written;
  const uint32_t unsaved = MemoryOnly(ctx) + ctx->deletes;
  const uint32_t saving = w.wanted + ctx->shed;
  const uint32_t least = unsaved > saving ? 0 : saving - unsaved + 1;
  *fewer = w.planned / 2 > least ? w.planned / 2 : least;
  return *fewer < w.planned;
}

bool SaveFewer(NotifyTask* ctx) {
  uint32_t fewer = 0;
  if (!FewerToSave(ctx, &fewer)) return false;
  ctx->keepLimit = fewer;
  ctx->cutBy = kNotifyNoMemory;
  SaveAgain(ctx);
  return true;
}

// Whether a save of the inbox that was not kept is made again: lighter
// when the class file's quota, or the one section of the file that holds
// the inbox (kStoreBadArg: a value the format cannot carry), could not take
// it, or with fewer messages when memory ran short.
bool SavesAgain(const NotifyTask* ctx, Result status) {
  uint32_t fewer = 0;
  if (ForWantOfMemory(status)) return FewerToSave(ctx, &fewer);
  if (status != kUbstoreOverQuota && status != kStoreBadArg) return false;
  return (ctx->storeStep == StoreStep::Save && ctx->written.documentBytes) ||
         ctx->written.messages > 0;
}

// The store's answer to a save of the inbox that was not kept, in the
// inbox's words: a save made again says nothing yet.
void InboxNotKept(TskmanTask* task, Result status) {
  const auto* ctx = static_cast<const NotifyTask*>(task->context);
  if (!ctx || SavesAgain(ctx, status)) return;
  if (status == kUbstoreOverQuota || status == kStoreBadArg)
    SayRefused(ctx, status);
  else
    SayUnsaved(ctx, status);
}

// The kept list goes into the "inbox" section before the task stops.
void SaveKept(NotifyTask* ctx, ConfigHandle* handle) {
  uint32_t n = 0;
  for (KeptNode* node = ctx->kept; node; node = node->next) n += node->dead ? 0 : 1;
  auto** messages = static_cast<UrlLoad**>(MemAlloc(n * sizeof(UrlLoad*) + 1, Use::Data, kModule));
  Result r = kNotifyNoMemory;
  ctx->written.planned = 0;
  if (messages) {
    // Each is held again until the write is done, so that the cache never
    // frees one the write still reads, whatever wants memory meanwhile.
    n = 0;
    for (KeptNode* node = ctx->kept; node; node = node->next)
      if (!node->dead) {
        messages[n++] = node->message;
        UrlLoadSetFlags(node->message, 0);
      }
    r = NotifyStoreWrite(handle, messages, n, ctx->storeStep == StoreStep::Save, &ctx->missed,
                         ctx->keepLimit, &ctx->written);
    for (uint32_t i = 0; i < n; ++i) UrlLoadClearFlags(messages[i], 0);
    MemFree(&messages);
  }
  bool refused = false;
  if (r == kOk) {
    // The section's documents the store drops now are numbered as written
    // here; those of any other section's save, as the file has them.
    ctx->savingOwn = 1;
    r = ConfigSave(handle, InboxNotKept);
    ctx->savingOwn = 0;
    refused = r != kOk;  // a refusal is said in the inbox's words
  }
  // The marks serve the save's own numbering only, done by now.
  MemFree(&ctx->written.missed);
  if (r == kOk) return;  // the answer goes on with the stop
  ConfigRelease(&handle);
  if (ForWantOfMemory(r) && SaveFewer(ctx)) return;
  if (!refused) SayUnsaved(ctx, kNotifyNoMemory);
  EndSave(ctx);
}

// The answer to a save of the inbox: done, or again lighter when the class
// file's quota, or the one section of the file that holds the inbox, could
// not take it, or memory ran short. The messages were chosen by their sizes
// to fit, so a refusal is rare: the next try halves them. What a save not
// made again lost was said at the answer (InboxNotKept).
void KeptSaved(NotifyTask* ctx, Result status) {
  const NotifyStoreWritten written = ctx->written;
  if (ForWantOfMemory(status)) {
    if (SaveFewer(ctx)) return;
  } else if (SavesAgain(ctx, status)) {
    ctx->cutBy = status;
    if (ctx->storeStep == StoreStep::Save && written.documentBytes) {
      // The documents cost the class file its quota: the messages are
      // worth more, so they go again without them.
      ctx->storeStep = StoreStep::SaveBare;
    } else {
      // The oldest give way to the newer ones.
      ctx->keepLimit = written.messages / 2;
    }
    SaveAgain(ctx);
    return;
  } else if (status == kOk || status == kStoreMalformed) {
    // kStoreMalformed: written over a damaged file, whose bytes were kept.
    // What the start missed is in the file again, under new numbers.
    NotifyStoreMissedClear(&ctx->missed);
    // Those the stop let go did not fit the section.
    const Result why = written.cutBy == kNotifyNoMemory ? ctx->cutBy
                       : written.cutBy != kOk            ? written.cutBy
                       : ctx->shed                       ? kStoreBadArg
                                                         : ctx->cutBy;
    SayNotKept(written.wanted - written.messages + ctx->shed, written.wanted + ctx->shed, why);
  }
  EndSave(ctx);
}

void SectionOpened(NotifyTask* ctx, Result status, ConfigHandle* handle) {
  if (ctx->ppgPending) {
    ctx->ppgPending = 0;
    ctx->ppg = status == kOk ? handle : nullptr;
    TskmanPost(ctx->task, NotifyMsg::RouteNext, 0, 0);
    return;
  }
  if (ctx->storeStep == StoreStep::Restore) {
    if (status == kOk) {
      ctx->restoring = 1;
      NotifyStoreRestore(handle, &ctx->missed);
      ctx->restoring = 0;
      ConfigRelease(&handle);
      // What memory could not put back stays in the file for the next
      // start; the run goes on without it, and says so.
      if (ctx->missed.all || ctx->missed.bits)
        PlatformFileNotRead(ConfigClassOf(kNotifyStoreSection));
    } else if (status != kConfigNotFound) {
      // The section is there but could not be read: the save keeps it.
      ctx->missed.all = 1;
    }
    ctx->storeStep = StoreStep::None;
    PassEnded(ctx);
    return;
  }
  if (ctx->storeStep == StoreStep::Save || ctx->storeStep == StoreStep::SaveBare) {
    if (status == kOk) return SaveKept(ctx, handle);
    SayUnsaved(ctx, status);
    EndSave(ctx);
  }
}

// A push still queued for the ending task goes as one that came too late.
void DropQueued(void* ctx, uint32_t message, uintptr_t arg1, uintptr_t) {
  if (message != NotifyMsg::Push) return;
  char* url = reinterpret_cast<char*>(arg1);
  DropLatePush(static_cast<NotifyTask*>(ctx), &url);
}

void EndTask(NotifyTask* ctx) {
  TskmanTask* requester = ctx->requester;
  const Result startError = ctx->startError;
  FreeIncoming(ctx);
  TskmanTakeEvents(ctx->task, DropQueued, ctx);
  NotifySayLostCount();
  NotifyStoreMissedClear(&ctx->missed);
  TskmanDestroyTask(ctx->task);
  MemFree(&ctx);
  if (startError != kOk)
    TskmanPost(requester, NotifyMsg::StartFailed, static_cast<uintptr_t>(startError), 0);
  else
    TskmanPost(requester, NotifyMsg::Stopped, 0, 0);
}

// Without its URL task or session the task can do nothing: it ends, after
// the URL task it did start, and its end answers the start. A stop that
// arrives meanwhile finds no session and waits for that same answer.
Result FailStart(NotifyTask* ctx) {
  ctx->startError = kNotifyNoMemory;
  ctx->stopping = 1;  // pushes that come now are dropped
  if (ctx->urlTask) {
    ctx->closesPending = 0;
    UrlStopTask(ctx->urlTask);
  } else {
    EndTask(ctx);
  }
  return kNotifyNoMemory;
}

Result NotifyTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* ctx = static_cast<NotifyTask*>(context);
  switch (message) {
    case TskMsg::Start:
      ctx->task = reinterpret_cast<TskmanTask*>(arg1);
      if (UrlStartTask(&ctx->urlTask, ctx->task) != kOk) return FailStart(ctx);
      if (UrlSessionCreate(&ctx->session, ctx->task) != kOk) return FailStart(ctx);
      TskmanPost(ctx->requester, NotifyMsg::Started, 0, 0);
      // The messages kept before the last stop come back first; pushes wait.
      ctx->storeStep = StoreStep::Restore;
      ctx->busy = 1;
      ConfigOpen(ctx->task, kNotifyStoreSection, false);
      return kOk;
    case NotifyMsg::Push: {
      char* url = reinterpret_cast<char*>(arg1);
      if (!TakesPushes(ctx)) {
        DropLatePush(ctx, &url);
        return kOk;
      }
      auto* node = static_cast<UrlNode*>(MemAllocZero(sizeof(UrlNode), Use::Data, kModule));
      if (!node) {
        DropLostPush(ctx, &url);
        return kOk;
      }
      node->url = url;
      QueueAppend(&ctx->incoming, reinterpret_cast<QueueNode*>(node));
      if (!ctx->busy) StartPass(ctx);
      return kOk;
    }
    case NotifyMsg::OpenPpg:
      if (!TakesPushes(ctx)) return kOk;
      ctx->ppgPending = 1;
      ConfigOpen(ctx->task, "PPG", false);
      return kOk;
    case ConfigMsg::Opened:
      SectionOpened(ctx, static_cast<Result>(arg1), reinterpret_cast<ConfigHandle*>(arg2));
      return kOk;
    case ConfigMsg::Saved:
      if (ctx->storeStep == StoreStep::Save || ctx->storeStep == StoreStep::SaveBare)
        KeptSaved(ctx, static_cast<Result>(arg1));
      return kOk;
    case NotifyMsg::RouteNext:
      if (auto* node = reinterpret_cast<UrlNode*>(QueuePopFront(&ctx->incoming))) {
        NotifyRoutePush(ctx, node->url);
        MemFree(&node);
      }
      if (ctx->ppg)
        TskmanPost(ctx->task, NotifyMsg::ReleasePpg, 0, 0);
      else
        PassEnded(ctx);
      return kOk;
    case NotifyMsg::ReleasePpg:
      ConfigRelease(&ctx->ppg);
      PassEnded(ctx);
      return kOk;
    case NotifyMsg::DropIncoming:
      FreeIncoming(ctx);
      return kOk;
    case NotifyMsg::Stop:
      if (!ctx->stopping || !ctx->session || ctx->storeStep != StoreStep::None) return kOk;
      // What came before the stop is routed and in the inbox before it is
      // saved: the stop waits for the routing pass under way (which holds
      // "PPG", which the "inbox" open below would wait behind), for the
      // pushes still queued and for the requests of those routed; each of
      // them asks for the stop again when it is done.
      if (ctx->busy || ctx->incoming.head || ctx->routedCount) return kOk;
      ConfigRelease(&ctx->ppg);
      // An inbox the file holds as it is needs no save, and nothing is said.
      if (!Changed(ctx)) {
        BeginStop(ctx);
        return kOk;
      }
      ctx->storeStep = StoreStep::Save;
      ctx->keepLimit = UINT32_MAX;
      ctx->cutBy = kUbstoreOverQuota;
      ctx->written = NotifyStoreWritten{};
      ShedPastSection(ctx);
      SaveAgain(ctx);
      return kOk;
    case UrlMsg::Complete:
      NotifyRequestDone(ctx, arg1, true);
      return kOk;
    case UrlMsg::Failed:
      NotifyRequestDone(ctx, arg1, false);
      return kOk;
    case UrlMsg::Watch:
      if (NotifyPushEntry* entry = FindEntry(ctx, arg1, true); entry && entry->appClass == 1)
        NotifyDeliverParts(entry);
      return kOk;
    case UrlMsg::Closed:
      if (ctx->closesPending == 0)
        EndTask(ctx);
      else
        --ctx->closesPending;
      return kOk;
    default:
      return kOk;
  }
}

void NotifyOnMessageFreed(UrlLoad* message) {
  NotifyTask* ctx = Context();
  if (!ctx) return;
  for (KeptNode* node = ctx->kept; node; node = node->next)
    if (node->message == message) {
      NoteLeft(ctx, node);
      if (ctx->cursors)
        node->dead = 1;
      else
        NotifyUnlinkMessage(ctx, node);
      return;
    }
}

KeptNode* NodeOf(NotifyTask* ctx, const UrlLoad* message) {
  for (KeptNode* node = ctx->kept; node; node = node->next)
    if (node->message == message && !node->dead) return node;
  return nullptr;
}

}  // namespace

struct NotifyInboxCursor {
  NotifyTask* ctx;
  KeptNode* current;
  uint32_t atEnd;
};

Result NotifyStartTask(TskmanTask* requester) {
  NotifyPushSerialReset();
  auto* ctx = static_cast<NotifyTask*>(MemAllocZero(sizeof(NotifyTask), Use::Context, kModule));
  if (!ctx) return kNotifyNoMemory;
  ctx->requester = requester;
  TskmanTask* task = nullptr;
  if (TskmanCreateTask(&task, kModule, NotifyTaskHandler, ctx) != kOk) {
    MemFree(&ctx);
    return kNotifyNoMemory;
  }
  return kOk;
}

bool NotifyTakesPushes() {
  TskmanTask* task = TskmanFind(kModule);
  if (!task) return false;
  // A task of another handler under this module's id stands in for it.
  return task->handler != NotifyTaskHandler ||
         TakesPushes(static_cast<NotifyTask*>(task->context));
}

void NotifyStopTask() {
  TskmanTask* task = TskmanFind(kModule);
  if (!task) return;
  static_cast<NotifyTask*>(task->context)->stopping = 1;
  TskmanPost(task, NotifyMsg::Stop, 0, 0);
}

void NotifySetConnectivityHook(NotifyMessageFn hook) { gConnectivityHook = hook; }

bool NotifyPushFlagPasses(const char* flag) { return flag && FlagPasses(flag); }

bool NotifySelectApp(const UrlLoad* load, uint32_t* appClass, uint32_t* row) {
  return Select(load, appClass, row);
}

bool NotifyKeepMessage(UrlLoad* message) {
  NotifyTask* ctx = Context();
  if (!ctx) return false;
  if (NodeOf(ctx, message)) return true;
  auto* node = static_cast<KeptNode*>(MemAllocZero(sizeof(KeptNode), Use::Data, kModule));
  if (!node) return false;
  CacheSetFreeHook(message, NotifyOnMessageFreed);
  node->message = message;
  node->stored = ctx->restoring;
  if (!ctx->restoring) ctx->changed = 1;
  NotifyGetIndicator(message, &node->code, &node->level);
  // Grouped by level: a new message goes before the others of its level,
  // levels above the first one met go to the front.
  uint32_t highest = 0;
  KeptNode** at = &ctx->kept;
  for (; *at; at = &(*at)->next) {
    if ((*at)->level == node->level) break;
    if ((*at)->level > highest) highest = (*at)->level;
  }
  if (!*at && ctx->kept && highest < node->level) at = &ctx->kept;
  node->next = *at;
  *at = node;
  // What the file held comes back as it was; a new message may push the
  // oldest past what the section holds (itself, when it is the oldest).
  if (!ctx->restoring) ShedPastSection(ctx);
  return true;
}

bool NotifyWalkKept(bool (*visit)(UrlLoad* message, void* user), void* user) {
  NotifyTask* ctx = Context();
  if (!ctx) return false;
  for (KeptNode* node = ctx->kept; node; node = node->next)
    if (!node->dead && visit(node->message, user)) break;
  return true;
}

void NotifyRemoveMessage(UrlLoad* message) {
  if (!message) return;
  if (NotifyTask* ctx = Context()) {
    for (KeptNode* node = ctx->kept; node; node = node->next)
      if (node->message == message) {
        CacheSetFreeHook(message, nullptr);
        NoteLeft(ctx, node);
        if (ctx->cursors)
          node->dead = 1;
        else
          NotifyUnlinkMessage(ctx, node);
        break;
      }
  }
  if (!(message->flags & UrlFlag::Kept)) return;
  // A pushed object is reachable only through the inbox: leaving it, it
  // leaves the cache too, and goes once nothing holds it.
  if (message->schemeRow == UrlFindScheme(kPushScheme) && message->inCache) CacheRemove(message);
  // The last lock may free the message.
  UrlLoadClearFlags(message, UrlFlag::Kept);
}

bool NotifyStoredMissed(uint32_t i) {
  NotifyTask* ctx = Context();
  if (!ctx) return false;
  // The stop's own save numbers the missed ones among the listed ones.
  if (ctx->savingOwn)
    return ctx->written.missed && i < ctx->written.messages && i < kNotifyStoreMostWritten &&
           (ctx->written.missed[i / 8] >> (i % 8) & 1);
  return NotifyStoreIsMissed(&ctx->missed, i);
}

void NotifyStoreSpareDropped(const char* key, uint32_t keyLength, const uint8_t* value,
                             uint32_t valueLength) {
  NotifyTask* ctx = Context();
  uint32_t n = 0;
  // The stop's own save carries what it keeps already; another section's
  // save may come before it, while the file still holds the missed ones.
  if (!ctx || ctx->savingOwn || !NotifyStoreDocNumber(key, keyLength, &n)) return;
  if (!NotifyStoreIsMissed(&ctx->missed, n)) {
    // A listed message's, which memory holds: the file no longer does, and
    // the stop's save writes it back where there is room.
    ctx->changed = 1;
    return;
  }
  NotifyStoreHold(&ctx->missed, n, value, valueLength);
}

void NotifyNoteRuled(const PushRecord* record) {
  if (NotifyTask* ctx = Context()) NotifyStoreNoteRuled(&ctx->missed, record);
}

bool NotifyHoldsMessage(const UrlLoad* message) {
  NotifyTask* ctx = Context();
  return ctx && message && NodeOf(ctx, message);
}

void NotifyMarkMessage(UrlLoad* message, uint32_t flags) {
  if (!message) return;
  const uint32_t before = message->flags;
  if (flags & UrlFlag::Presented) message->flags |= UrlFlag::Presented;
  // A viewed message stays held: the cache freeing it would take it out of
  // the inbox and out of the file at the next save, and holding it costs no
  // more than it cost before it was viewed.
  if (flags & UrlFlag::Viewed) message->flags |= UrlFlag::Viewed;
  // The inbox keeps the marks of its messages.
  if ((before & UrlFlag::Kept) && (before ^ message->flags) & (UrlFlag::Presented | UrlFlag::Viewed))
    if (NotifyTask* ctx = Context()) ctx->changed = 1;
}

Result NotifyOpenInboxCursor(NotifyInboxCursor** cursor) {
  *cursor = nullptr;
  NotifyTask* ctx = Context();
  if (!ctx) return kNotifyNoMemory;
  auto* c = static_cast<NotifyInboxCursor*>(MemAllocZero(sizeof(NotifyInboxCursor), Use::Data, kModule));
  if (!c) return kNotifyNoMemory;
  c->ctx = ctx;
  ++ctx->cursors;
  *cursor = c;
  return kOk;
}

UrlLoad* NotifyNextKept(NotifyInboxCursor* cursor, uint32_t* code, uint32_t* level) {
  if (!cursor || cursor->atEnd) return nullptr;
  KeptNode* node = cursor->current ? cursor->current->next : cursor->ctx->kept;
  while (node && (node->dead || !(node->message->flags & UrlFlag::Listed))) node = node->next;
  cursor->current = node;
  if (!node) {
    cursor->atEnd = 1;
    return nullptr;
  }
  *code = node->code;
  *level = node->level;
  return node->message;
}

void NotifyCloseInboxCursor(NotifyInboxCursor** cursor) {
  if (!*cursor) return;
  NotifyTask* ctx = (*cursor)->ctx;
  MemFree(cursor);
  if (--ctx->cursors) return;
  for (KeptNode** at = &ctx->kept; *at;) {
    KeptNode* node = *at;
    if (node->dead) {
      *at = node->next;
      MemFree(&node);
    } else {
      at = &node->next;
    }
  }
}

uint32_t NotifyKeptCount() {
  NotifyTask* ctx = Context();
  uint32_t n = 0;
  if (ctx)
    for (KeptNode* node = ctx->kept; node; node = node->next) n += node->dead ? 0 : 1;
  return n;
}
