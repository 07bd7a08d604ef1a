// The local content task: stores entries and document indexes in the
// settings section "homepage", reads and deletes entries by name, and saves
// the section when something changed.
#include "browser/status.h"
#include "host/platform/files.h"
#include "kernel/config.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/sstore.h"
#include "kernel/ubstore.h"
#include "services/push/lc.h"
#include "services/push/lc_internal.h"

namespace {

constexpr uint32_t kModule = Mod::LocalContent;
constexpr char kSection[] = "homepage";
constexpr char kCurrent[] = "current";
constexpr char kCidPrefix[] = "cid:";
constexpr char kListSuffix[] = ".list";
constexpr uint32_t kStoredDocument = 13;

struct LcTaskCtx {
  TskmanTask* task;
  TskmanTask* requester;
  ConfigHandle* handle;
  Result error;
  uint32_t openPending;
  uint32_t savePending;
  uint32_t dirty;
  uint32_t reportOnSave;  // a stored document is told once the save succeeded
  uint32_t storedBytes;   // what the entries stored since the last save take
  uint32_t shortOfMemory;  // a part or the index could not be stored for want of memory
  uint32_t refusedBytes;   // what the parts the section could not carry take
  uint32_t pageBytes;      // what the parts of the page being stored take
  // One document is stored at a time: the last item of the one whose parts
  // are being written, and whether its end (the removal of what it refused
  // or replaced, and the commit that saves it) is still to run. Another
  // document waits until then.
  const LcQueued* storing;
  uint32_t ending;  // until the commit that ends it has run
  LcReplaced* replaced;  // what its parts took the place of, newest first
};

// The second word of the commit that ends a document.
constexpr uintptr_t kEndsDocument = 1;

bool ForWantOfMemory(Result r) { return r != kOk && ResultCodeOf(r) == Err::NoMemory; }

// A pushed document the section could not keep is said, as a file that
// could not be saved is: over the class file's quota, past what the one
// section of the file holds (kStoreBadArg: a value the format cannot
// carry), its file unreadable, or short of memory.
void SayNotKept(Result why, uint32_t bytes) {
  char what[64] = "the pushed page";
  if (why == kUbstoreOverQuota || why == kStoreBadArg) {
    char number[12];
    LibcItoA(static_cast<int32_t>(bytes), number, 10);
    LibcStrCat(what, " of ");
    LibcStrCat(what, number);
    LibcStrCat(what, bytes == 1 ? " byte" : " bytes");
    LibcStrCat(what, why == kStoreBadArg ? " did not fit its file" : " did not fit its quota");
  } else {
    LibcStrCat(LibcStrCat(what, ": "), ConfigWhyText(why));
  }
  UbstoreSayNotKept(ConfigClassOf(kSection), what);
}

}  // namespace

void LcSayPushLost() {
  PlatformSayLost("a pushed page: not enough memory");
}

namespace {

void Post(LcTaskCtx* ctx, uint32_t message, uintptr_t a1, uintptr_t a2) {
  TskmanPost(ctx->task, message, a1, a2);
}

// The section is opened on the first operation; until the answer the
// operation comes back to the task.
bool WaitsForOpen(LcTaskCtx* ctx, uint32_t message, uintptr_t a1, uintptr_t a2) {
  if (ctx->error || ctx->handle) return false;
  if (!ctx->openPending) {
    ConfigOpen(ctx->task, kSection, true);
    ctx->openPending = 1;
  }
  Post(ctx, message, a1, a2);
  return true;
}

char* Joined(const char* a, const char* b) {
  const uint32_t n = LibcStrLen(a), m = LibcStrLen(b);
  auto* s = static_cast<char*>(MemAlloc(n + m + 1, Use::String, kModule));
  if (!s) return nullptr;
  LibcMemCopy(s, a, n);
  LibcMemCopy(s + n, b, m + 1);
  return s;
}

Result StoreEntry(LcTaskCtx* ctx, const LcEntry* entry) {
  if (ctx->error) return ctx->error;
  const char* id = LcEntryHeader(entry, LcHeader::ContentId);
  if (!id || !*id) return kLcBadArg;
  uint32_t length = 0;
  uint8_t* bytes = LcEntryPack(entry, &length);
  if (!bytes) {
    ctx->shortOfMemory = 1;
    return kLcNoMemory;
  }
  const Result r = ConfigSetRaw(ctx->handle, id, 0, bytes, length, ConfigKind::Raw);
  MemFree(&bytes);
  ctx->dirty = 1;
  ctx->pageBytes += length;
  if (r == kOk) ctx->storedBytes += length;
  if (r == kStoreBadArg) ctx->refusedBytes += length;
  if (ForWantOfMemory(r)) ctx->shortOfMemory = 1;
  return r;
}

Result WriteIndex(LcTaskCtx* ctx, const char* root, const LcList* index) {
  char* key = Joined(root, kListSuffix);
  uint32_t length = 0;
  uint8_t* packed = LcListPack(index, &length);
  Result r = key && packed ? ConfigSetRaw(ctx->handle, key, 0, packed, length, ConfigKind::Raw)
                           : kLcNoMemory;
  MemFree(&key);
  MemFree(&packed);
  return r;
}

// The index of the document "current" names, or null.
LcList* ReadOldIndex(LcTaskCtx* ctx, const char* current) {
  if (!current || LibcStrNCmp(current, kCidPrefix, 4) != 0) return nullptr;
  char* key = Joined(current + 4, kListSuffix);
  if (!key) return nullptr;
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  ConfigKind kind{};
  uint8_t* copy = nullptr;
  if (ConfigGetRaw(ctx->handle, key, 0, &data, &length, &kind) == kOk && kind == ConfigKind::Raw &&
      LcListValid(data, length)) {
    copy = static_cast<uint8_t*>(MemAlloc(length, Use::Data, kModule));
    if (copy) LibcMemCopy(copy, data, length);
  }
  MemFree(&key);
  return copy;
}

void FreeReplaced(LcTaskCtx* ctx) {
  while (LcReplaced* r = ctx->replaced) {
    ctx->replaced = r->next;
    MemFree(&r->name);
    MemFree(&r->value);
    MemFree(&r);
  }
}

// Before a part takes the place of a stored value, that value is copied:
// a document refused in the end puts it back. Without memory for the copy
// the part is not written (false).
bool KeepReplaced(LcTaskCtx* ctx, const LcEntry* entry) {
  const char* id = LcEntryHeader(entry, LcHeader::ContentId);
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  ConfigKind kind{};
  if (ctx->error || !id || ConfigGetRaw(ctx->handle, id, 0, &data, &length, &kind) != kOk)
    return true;
  auto* r = static_cast<LcReplaced*>(MemAllocZero(sizeof(LcReplaced), Use::Data, kModule));
  if (r) {
    r->name = LibcStrDup(id);
    r->value = static_cast<uint8_t*>(MemAlloc(length ? length : 1, Use::Data, kModule));
  }
  if (!r || !r->name || !r->value) {
    if (r) {
      MemFree(&r->name);
      MemFree(&r);
    }
    ctx->shortOfMemory = 1;
    return false;
  }
  LibcMemCopy(r->value, data, length);
  r->length = length;
  r->kind = kind;
  r->next = ctx->replaced;
  ctx->replaced = r;
  return true;
}

// A refused document gives back what its parts replaced, the oldest value
// last, and its index no longer names them, so that its removal spares
// them. False when one could not be put back (the section ran short): the
// section is then let go unsaved, so that the file keeps every value as it
// was before the document, and its removal runs on the file afresh.
bool PutBack(LcTaskCtx* ctx, LcList* index) {
  bool whole = !ctx->replaced || !ctx->error;
  for (LcReplaced* r = ctx->replaced; r && !ctx->error && whole; r = r->next) {
    whole = ConfigSetRaw(ctx->handle, r->name, 0, r->value, r->length, r->kind) == kOk;
    ctx->dirty = 1;
  }
  for (LcReplaced* r = ctx->replaced; r; r = r->next) LcListBlank(index, r->name);
  if (!whole && !ctx->error) {
    ConfigRelease(&ctx->handle);
    ctx->dirty = 0;
  }
  FreeReplaced(ctx);
  return whole;
}

// The document's last step: the next document may start once the commit
// that follows it has run, so that it saves this document alone.
void EndWith(LcTaskCtx* ctx, uint32_t message, LcList* index) {
  ctx->storing = nullptr;
  ctx->ending = 1;
  if (message == LcMsg::DeleteIndex)
    Post(ctx, message, reinterpret_cast<uintptr_t>(index), 1);
  else
    Post(ctx, LcMsg::Commit, 0, kEndsDocument);
}

// The last item of a push: the new document becomes "current", and what
// the old one no longer shares with it goes. A document that lost a part,
// or that has no root while another one is stored, is removed again
// instead: nothing the stored document uses may go for it.
void StoreIndex(LcTaskCtx* ctx, LcList* index, bool partLost) {
  bool memoryShort = ctx->shortOfMemory || ForWantOfMemory(ctx->error);
  const uint32_t refused = ctx->refusedBytes, pageBytes = ctx->pageBytes;
  ctx->shortOfMemory = 0;
  ctx->refusedBytes = 0;
  ctx->pageBytes = 0;
  if (ctx->error) {
    if (memoryShort)
      SayNotKept(kLcNoMemory, 0);
    else if (ctx->error == kUbstoreReadFailed)
      SayNotKept(kUbstoreReadFailed, 0);
    EndWith(ctx, LcMsg::DeleteIndex, index);
    return;
  }
  const char* oldValue = nullptr;
  ConfigGetString(ctx->handle, kCurrent, 0, &oldValue);
  char* old = oldValue ? LibcStrDup(oldValue) : nullptr;
  LcList* oldIndex = ReadOldIndex(ctx, old);
  bool failed = partLost, setCurrent = false;
  Result setFailure = kOk;
  if (const char* root = LcListMarked(index); !failed && root && *root) {
    char* current = Joined(kCidPrefix, root);
    setFailure = current ? ConfigSetString(ctx->handle, kCurrent, current) : kLcNoMemory;
    if (setFailure == kOk) {
      setCurrent = true;
      setFailure = WriteIndex(ctx, root, index);
      if (setFailure != kOk) {
        failed = true;
        if (old)
          ConfigSetString(ctx->handle, kCurrent, old);
        else
          ConfigDelete(ctx->handle, kCurrent, 0);
      }
    } else {
      failed = true;
    }
    MemFree(&current);
    ctx->dirty = 1;
  }
  if (!setCurrent) failed = true;
  if (oldIndex) {
    int32_t at = -1;
    // Names both documents hold stay; the old index keeps only the rest.
    while (const char* name = LcListNext(index, &at)) {
      char* keep = LibcStrDup(name);
      if (keep && LcListBlank(oldIndex, keep)) LcListBlank(index, keep);
      MemFree(&keep);
    }
  }
  if (failed) {
    if (!PutBack(ctx, index)) memoryShort = true;
    if (memoryShort || ForWantOfMemory(setFailure))
      SayNotKept(kLcNoMemory, 0);
    else if (refused)
      SayNotKept(kStoreBadArg, refused);
    else if (setFailure == kStoreBadArg)  // its index, named past what a name holds
      SayNotKept(kStoreBadArg, pageBytes);
    MemFree(&oldIndex);
    EndWith(ctx, LcMsg::DeleteIndex, index);
  } else {
    FreeReplaced(ctx);
    MemFree(&index);
    if (oldIndex)
      EndWith(ctx, LcMsg::DeleteIndex, oldIndex);
    else
      EndWith(ctx, LcMsg::Commit, nullptr);
    ctx->reportOnSave = 1;
  }
  MemFree(&old);
}

// A document without a root cannot take the place of a stored one (its
// index is the last item, `tail`).
bool Refused(LcTaskCtx* ctx, const LcQueued* tail) {
  const char* root = tail && tail->index ? LcListMarked(tail->index) : nullptr;
  if (root && *root) return false;
  const char* current = nullptr;
  return ctx->handle && ConfigGetString(ctx->handle, kCurrent, 0, &current) == kOk;
}

// The parts the document "current" names stay, whichever index is being
// removed: a removal asked while the section could not be read (a kept
// error) may run after that error has gone.
void KeepCurrentParts(LcTaskCtx* ctx, LcList* index) {
  const char* value = nullptr;
  ConfigGetString(ctx->handle, kCurrent, 0, &value);
  char* current = value ? LibcStrDup(value) : nullptr;
  if (LcList* kept = ReadOldIndex(ctx, current)) {
    int32_t at = -1;
    while (const char* name = LcListNext(kept, &at)) LcListBlank(index, name);
    MemFree(&kept);
  }
  MemFree(&current);
}

// `ends`: the removal ends the storing of a document; one refused while the
// section could not be read puts back here what its parts replaced.
void DeleteIndex(LcTaskCtx* ctx, LcList* index, bool ends) {
  if (ends) {
    if (!PutBack(ctx, index)) SayNotKept(ctx->error == kUbstoreReadFailed ? ctx->error : kLcNoMemory, 0);
    if (!ctx->error && !ctx->handle) {  // let go unsaved: the removal waits for the file
      Post(ctx, LcMsg::DeleteIndex, reinterpret_cast<uintptr_t>(index), 1);
      return;
    }
  }
  if (!ctx->error) {
    KeepCurrentParts(ctx, index);
    if (const char* root = LcListMarked(index); root && *root) {
      if (char* key = Joined(root, kListSuffix)) {
        ConfigDelete(ctx->handle, key, 0);
        MemFree(&key);
      }
    }
    int32_t at = -1;
    while (const char* name = LcListNext(index, &at)) ConfigDelete(ctx->handle, name, 0);
    ctx->dirty = 1;
  }
  MemFree(&index);
  Post(ctx, LcMsg::Commit, 0, ends ? kEndsDocument : 0);
}

void Answer(LcRequest* request, Result error) {
  request->error = error;
  request->done = 1;
  if (request->notifyTask)
    TskmanPost(request->notifyTask, request->notifyMessage, reinterpret_cast<uintptr_t>(request), 0);
}

void Read(LcTaskCtx* ctx, LcRequest* request) {
  if (ctx->error) return Answer(request, ctx->error);
  const char* name = request->name ? request->name : "";
  if (LibcStrCmp(name, kCurrent) == 0) {
    const char* current = nullptr;
    if (ConfigGetString(ctx->handle, kCurrent, 0, &current) != kOk || LibcStrLen(current) < 4)
      return Answer(request, kConfigNotFound);
    name = current + 4;
  }
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  ConfigKind kind{};
  if (Result r = ConfigGetRaw(ctx->handle, name, 0, &data, &length, &kind); r != kOk)
    return Answer(request, r);
  if (kind != ConfigKind::Raw) return Answer(request, kLcBadArg);
  Result error = kOk;
  request->entry = LcEntryUnpack(data, length, &error);
  Answer(request, error);
}

void Delete(LcTaskCtx* ctx, LcRequest* request) {
  if (ctx->error) return Answer(request, ctx->error);
  if (!request->name) return Answer(request, kLcBadArg);
  const Result r = ConfigDelete(ctx->handle, request->name, 0);
  ctx->dirty = 1;
  Answer(request, r);
}

// The store's answer to a save of the section that was not kept: the
// pushed page it stored is said lost. A save of removals only loses nothing
// of a page: what they would have removed stays in the file.
void PageNotKept(TskmanTask* task, Result status) {
  const auto* ctx = static_cast<const LcTaskCtx*>(task->context);
  if (ctx && ctx->reportOnSave) SayNotKept(status, ctx->storedBytes);
}

void Commit(LcTaskCtx* ctx, uintptr_t requester, uintptr_t value) {
  // A read or a removal between a document's parts saves nothing: half a
  // document saved, or refused by the quota and so gone from the section,
  // is not what its end finds. That end commits.
  const bool ends = value == kEndsDocument;
  if (!requester && !ends && (ctx->storing || ctx->ending)) return;
  if (ctx->openPending || ctx->savePending) {
    Post(ctx, LcMsg::Commit, requester, value);
    return;
  }
  if (ctx->dirty && ctx->handle) {
    ConfigHandle* handle = ctx->handle;
    ctx->handle = nullptr;
    if (ConfigSave(handle, PageNotKept) == kOk) {
      ctx->savePending = 1;
      Post(ctx, LcMsg::Commit, requester, value);
      return;
    }
    ConfigRelease(&handle);
  }
  ConfigRelease(&ctx->handle);
  ctx->dirty = 0;
  ctx->reportOnSave = 0;
  ctx->storedBytes = 0;
  if (requester) Post(ctx, TskMsg::Stop2, requester, 0);
  ctx->error = kOk;
  if (ends) ctx->ending = 0;
}

Result LcTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* ctx = static_cast<LcTaskCtx*>(context);
  switch (message) {
    case TskMsg::Start:
      ctx->task = reinterpret_cast<TskmanTask*>(arg1);
      TskmanPost(ctx->requester, LcMsg::Started, 0, 0);
      return kOk;
    case LcMsg::StoreEntry:
    case LcMsg::StoreQueue:
    case LcMsg::DeleteIndex:
    case LcMsg::Delete:
    case LcMsg::Read:
      if (WaitsForOpen(ctx, message, arg1, arg2)) return kOk;
      break;
    case LcMsg::Commit:
      Commit(ctx, arg1, arg2);
      return kOk;
    case ConfigMsg::Opened:
      ctx->openPending = 0;
      if (arg1 == 0)
        ctx->handle = reinterpret_cast<ConfigHandle*>(arg2);
      else
        ctx->error = static_cast<Result>(arg1);
      return kOk;
    case ConfigMsg::Saved: {
      ctx->savePending = 0;
      ctx->dirty = 0;
      // What a save not kept held is gone with it (and was said at the
      // answer); what comes after opens the file afresh and stands on its own.
      if (arg1 == kOk && ctx->reportOnSave) {
        if (TskmanTask* indicator = TskmanFind(Mod::Stat))
          TskmanPost(indicator, StatusMsg::Indicator, StatusKind::Push, kStoredDocument);
      }
      ctx->reportOnSave = 0;
      ctx->storedBytes = 0;
      return kOk;
    }
    case TskMsg::Stop2: {
      if (ctx->handle || ctx->dirty || ctx->openPending || ctx->savePending) {
        Post(ctx, LcMsg::Commit, arg1, 0);
        return kOk;
      }
      TskmanTask* task = ctx->task;
      FreeReplaced(ctx);
      MemFree(&ctx);
      TskmanDestroyTask(task);
      TskmanPost(reinterpret_cast<TskmanTask*>(arg1), LcMsg::Stopped, 0, 0);
      return kOk;
    }
    default:
      return kOk;
  }
  switch (message) {
    case LcMsg::StoreEntry: {
      auto* entry = reinterpret_cast<LcEntry*>(arg1);
      StoreEntry(ctx, entry);
      LcEntryFree(&entry);
      if (arg2) Post(ctx, LcMsg::Commit, 0, 0);
      break;
    }
    case LcMsg::StoreQueue: {
      auto* node = reinterpret_cast<LcQueued*>(arg1);
      if (!node) break;
      const auto* tail = reinterpret_cast<const LcQueued*>(arg2);
      if (ctx->ending || (ctx->storing && ctx->storing != tail)) {
        Post(ctx, LcMsg::StoreQueue, arg1, arg2);  // after the document being stored
        break;
      }
      ctx->storing = tail;
      if (node->next) {
        // A document that is going to be removed again stores none of its
        // parts: one of them may carry the name of a part in use.
        if (node->lost || Refused(ctx, tail) || !KeepReplaced(ctx, node->entry) ||
            StoreEntry(ctx, node->entry) != kOk)
          node->next->lost = 1;
        LcEntryFree(&node->entry);
        Post(ctx, LcMsg::StoreQueue, reinterpret_cast<uintptr_t>(node->next), arg2);
      } else {
        StoreIndex(ctx, node->index, node->lost != 0);
      }
      MemFree(&node);
      break;
    }
    case LcMsg::DeleteIndex:
      DeleteIndex(ctx, reinterpret_cast<LcList*>(arg1), arg2 != 0);
      break;
    case LcMsg::Delete:
      Delete(ctx, reinterpret_cast<LcRequest*>(arg1));
      Post(ctx, LcMsg::Commit, 0, 0);
      break;
    case LcMsg::Read:
      Read(ctx, reinterpret_cast<LcRequest*>(arg1));
      Post(ctx, LcMsg::Commit, 0, 0);
      break;
    default:
      break;
  }
  return kOk;
}

}  // namespace

void LcStartTask(TskmanTask* requester) {
  auto* ctx = static_cast<LcTaskCtx*>(MemAllocZero(sizeof(LcTaskCtx), Use::Context, kModule));
  TskmanTask* task = nullptr;
  if (ctx) {
    ctx->requester = requester;
    if (TskmanCreateTask(&task, kModule, LcTaskHandler, ctx) == kOk) return;
    MemFree(&ctx);
  }
  // The store answers whether or not it could start.
  TskmanPost(requester, LcMsg::Started, 0, 0);
}

void LcStopTask(TskmanTask* requester) {
  if (TskmanTask* task = TskmanFind(kModule))
    TskmanPost(task, TskMsg::Stop2, reinterpret_cast<uintptr_t>(requester), 0);
  else
    TskmanPost(requester, LcMsg::Stopped, 0, 0);
}
