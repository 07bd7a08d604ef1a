// The settings store's task: the open and save protocol, the section table,
// the path of a section through slots and profiles, and change notices.
#include "kernel/config.h"

#include "kernel/config_internal.h"
#include "host/platform/files.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "kernel/ubstore.h"

// The store's context is its task's: it goes when the task goes, so an
// engine that stopped without stopping the store leaves nothing stale.
ConfigContext* ConfigCurrent() {
  TskmanTask* task = TskmanFind(Mod::Config);
  return task ? static_cast<ConfigContext*>(task->context) : nullptr;
}

namespace {

constexpr uint8_t kNotifyUser[] = {Mod::UserPref};
constexpr uint8_t kNotifyMail[] = {Mod::WtlMail, Mod::WtlMailto};
constexpr uint8_t kNotifyBen[] = {Mod::Ben};
constexpr uint8_t kNotifyWap[] = {Mod::WtlWsp, Mod::Wap};
constexpr uint8_t kNotifyHttp[] = {Mod::WtlHttp};
constexpr uint8_t kNotifyIsp[] = {Mod::Net, Mod::Dns, Mod::Wap};
constexpr uint8_t kNotifyWapIsp[] = {Mod::Wap};
constexpr uint8_t kNotifyAuth[] = {Mod::Authentication};
constexpr uint8_t kNotifyCookies[] = {Mod::Cookies};

constexpr ConfigNotifyList kListUser{kNotifyUser, 1};
constexpr ConfigNotifyList kListEveryone{nullptr, 0};
constexpr ConfigNotifyList kListMail{kNotifyMail, 2};
constexpr ConfigNotifyList kListBen{kNotifyBen, 1};
constexpr ConfigNotifyList kListWap{kNotifyWap, 2};
constexpr ConfigNotifyList kListHttp{kNotifyHttp, 1};
constexpr ConfigNotifyList kListIsp{kNotifyIsp, 3};
constexpr ConfigNotifyList kListWapIsp{kNotifyWapIsp, 1};
constexpr ConfigNotifyList kListAuth{kNotifyAuth, 1};
constexpr ConfigNotifyList kListCookies{kNotifyCookies, 1};

constexpr ConfigSection kSections[] = {
    {"home", "page", 0, nullptr},
    {"fave", "page", 0, nullptr},
    {"initurl", "page", 0, nullptr},
    {"initfav", "page", 0, nullptr},
    {"rcurl", "page", 0, nullptr},
    {"user", "page", 0, &kListUser},
    {"//access", "access", 0, &kListEveryone},
    {"email", "access", 1, &kListMail},
    {"webmail", "persistent", 0, &kListBen},
    {"service", "access", 1, nullptr},
    {"wap", "access", 1, &kListWap},
    {"http", "access", 1, &kListHttp},
    {"isp", "access", 3, &kListIsp},
    {"wapisp", "access", 0x15, &kListWapIsp},
    {"misp", "access", 5, &kListIsp},
    {"email/pop3", "access", 1, nullptr},
    {"email/smtp", "access", 1, nullptr},
    {"slot", "access", 9, nullptr},
    {"PPG", "access", 0, nullptr},
    {"security", "persistent", 0, &kListBen},
    {"securitykeys", "persistent", 0, nullptr},
    {"passwords", "persistent", 0, &kListAuth},
    {"cookies", "persistent", 0, &kListCookies},
    {"repository", "repository", 0, nullptr},
    {"homepage", "repository", 0, nullptr},
    {"inbox", "repository", 0, nullptr},
};

}  // namespace

const ConfigSection* ConfigFindSection(const char* name) {
  if (!name) return nullptr;
  for (const ConfigSection& row : kSections)
    if (LibcStrCmp(row.name, name) == 0) return &row;
  return nullptr;
}

const char* ConfigClassOf(const char* section) {
  const ConfigSection* row = ConfigFindSection(section);
  return row ? row->className : nullptr;
}

namespace {

ConfigHandle* HandleOf(uintptr_t arg) { return reinterpret_cast<ConfigHandle*>(arg); }

void Answer(TskmanTask* task, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  if (task) TskmanPost(task, message, arg1, arg2);
}

void SlotText(uint32_t n, char* out) {
  char digits[34];
  LibcItoA(static_cast<int32_t>(n), digits, 10);
  LibcStrNCopy(out, digits, 2);
  out[2] = '\0';
}

// --- the open and save protocol -------------------------------------------

void FailOpen(ConfigHandle* handle, Result status) {
  TskmanTask* reply = handle->reply;
  ConfigHandleFree(&handle);
  Answer(reply, ConfigMsg::Opened, status, 0);
}

void StartOpen(ConfigContext* ctx, ConfigHandle* handle) {
  if (!handle->row) {
    FailOpen(handle, kConfigNotFound);
    return;
  }
  ctx->busy = true;
  ctx->current = handle;
  handle->state = ConfigState::Reading;
  UbstoreRead(&handle->storageBuffer, &handle->storageLength, &handle->storageUser, ctx->task,
              handle->className, reinterpret_cast<uintptr_t>(handle));
}

// The store is free: the oldest waiting request goes next.
void ServeWaiting(ConfigContext* ctx) {
  ctx->busy = false;
  ctx->current = nullptr;
  while (!ctx->busy) {
    QueueNode* next = QueuePopFront(&ctx->waiting);
    if (!next) return;
    StartOpen(ctx, reinterpret_cast<ConfigHandle*>(next));
  }
}

// A storage class's bit in the notices said once a run; 0 for no class.
uint8_t ClassBit(int32_t index) { return static_cast<uint8_t>(index >= 0 ? 1u << index : 0u); }

// A reader memory kept from its class file goes on without what the file
// holds, and the file stays as it is: said once a run for each class. A
// writer's open is a save, which says itself as not kept.
void SayUnread(ConfigContext* ctx, const char* className, bool writable, Result status) {
  if (writable || !ResultNoMemory(status)) return;
  const uint8_t bit = ClassBit(UbstoreClassIndex(className));
  if (!bit || (ctx->saidUnread & bit)) return;
  ctx->saidUnread |= bit;
  PlatformFileNotRead(className);
}

void OnRead(ConfigContext* ctx, Result status, ConfigHandle* handle) {
  if (handle != ctx->current || handle->state != ConfigState::Reading) return;
  if (status == kOk) {
    // A damaged class file opens as empty, so its sections can be rebuilt;
    // a save keeps the damaged bytes aside before it replaces them.
    // A root without its end marker was cut short, maybe where an entry
    // began: what it still holds is not all there was, so it is damage too.
    if (StoreBlockEnded(handle->storageBuffer, handle->storageLength)) {
      status = StoreOpenSection(&handle->stack, "", 0, handle->storageBuffer,
                                handle->storageLength, handle->writable);
    } else {
      status = StoreOpenSection(&handle->stack, "", 0, nullptr, 0, handle->writable);
      if (status == kOk) status = kStoreMalformed;
    }
    if (status == kStoreMalformed) {
      handle->damaged = true;
      status = kOk;
      // Said once a run, at the first section that finds it: the user is
      // not left wondering where everything went.
      const uint8_t bit = ClassBit(UbstoreClassIndex(handle->className));
      if (bit && !(ctx->saidDamaged & bit)) {
        ctx->saidDamaged |= bit;
        UbstoreSayDamaged(handle->className, handle->storageBuffer, handle->storageLength);
      }
    }
  }
  // A file over its quota (the quota was lowered since it was written)
  // reads as it is, but no save leaves it over: said once a run too, at the
  // start, before a stop finds its saves refused.
  if (status == kOk && !handle->damaged) {
    const int32_t index = UbstoreClassIndex(handle->className);
    const uint8_t bit = ClassBit(index);
    if (bit && !(ctx->saidOverQuota & bit) &&
        handle->storageLength > static_cast<uint32_t>(UbstoreGetQuota(index))) {
      ctx->saidOverQuota |= bit;
      UbstoreSayOverQuota(handle->className, handle->storageLength);
    }
  }
  SayUnread(ctx, handle->className, handle->writable, status);
  if (handle->look) {
    ConfigHandleFree(&handle);
    ServeWaiting(ctx);
    return;
  }
  if (status == kOk) {
    status = ConfigEnterSection(ctx, handle);
    SayUnread(ctx, handle->className, handle->writable, status);
  }
  if (status != kOk) {
    FailOpen(handle, status);
    ServeWaiting(ctx);
    return;
  }
  handle->levels = StoreDepth(&handle->stack) - 1;
  handle->state = ConfigState::Open;
  Answer(handle->reply, ConfigMsg::Opened, kOk, reinterpret_cast<uintptr_t>(handle));
}

// A save not kept is said: in its owner's words while the owner stands,
// else under the section's name.
void SayNotKept(const ConfigHandle* handle, Result status) {
  TskmanTask* owner = handle->notKept ? TskmanRefTask(handle->owner) : nullptr;
  if (owner) {
    handle->notKept(owner, status);
    return;
  }
  char what[96] = "the \"";
  LibcStrCat(what, handle->row->name);  // the table's names are short
  LibcStrCat(what, "\" section: ");
  LibcStrCat(what, ConfigWhyText(status));
  UbstoreSayNotKept(handle->className, what);
}

void OnWritten(ConfigContext* ctx, Result status, ConfigHandle* handle) {
  if (handle != ctx->current || handle->state != ConfigState::Saving) return;
  TskmanTask* reply = handle->reply;
  // The file was replaced, but what it held before was not read: the writer
  // hears of it (the old bytes are in "<class>.damaged").
  if (status == kOk && handle->damaged) status = kStoreMalformed;
  if (status != kOk && status != kStoreMalformed) SayNotKept(handle, status);
  ConfigNotifyChange(reply, handle->row->notify);
  ConfigHandleFree(&handle);
  Answer(reply, ConfigMsg::Saved, status, 0);
  ServeWaiting(ctx);
}

void OnStop(ConfigContext* ctx) {
  TskmanDestroyTask(ctx->task);
  while (QueueNode* waiting = QueuePopFront(&ctx->waiting)) {
    auto* handle = reinterpret_cast<ConfigHandle*>(waiting);
    ConfigHandleFree(&handle);
  }
  if (ConfigHandle* current = ctx->current) {
    // A read or write answer will never come; an open handle stays its
    // owner's, cut loose from the store.
    if (current->state == ConfigState::Open)
      current->config = nullptr;
    else
      ConfigHandleFree(&current);
  }
  Answer(ctx->reply, ConfigMsg::Stopped, 0, 0);
  MemFree(&ctx);
}

// A new request to open the section, posted to the store's task; null when
// there is no memory for it.
ConfigHandle* PostOpen(ConfigContext* ctx, TskmanTask* reply, const char* section, bool writable,
                       bool useSlotCode, bool look) {
  auto* handle = static_cast<ConfigHandle*>(
      MemAllocZero(sizeof(ConfigHandle), ConfigUse::Handle, Mod::Config));
  if (!handle) return nullptr;
  StoreStackInit(&handle->stack);
  handle->config = ctx;
  handle->reply = reply;
  handle->writable = writable;
  handle->useSlotCode = useSlotCode;
  handle->look = look;
  handle->state = ConfigState::Requested;
  handle->row = ConfigFindSection(section);
  if (handle->row) handle->className = handle->row->className;
  handle->owner = TskmanRefOf(reply);
  TskmanPost(ctx->task, ConfigMsg::OpenRequest, reinterpret_cast<uintptr_t>(handle), 0);
  return handle;
}

// Every class file but "access" is read at the start by a module that opens
// one of its sections; "access" waits for the first provisioning push. It is
// read here too, so that its damage is said at the start like the others'
// (once a run, as any open would). The read answers nobody and changes
// nothing: only a save writes.
void LookAtStart(ConfigContext* ctx) { PostOpen(ctx, nullptr, "//access", false, false, true); }

Result ConfigHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* ctx = static_cast<ConfigContext*>(context);
  switch (message) {
    case TskMsg::Start:
      Answer(ctx->reply, ConfigMsg::Started, 0, 0);
      LookAtStart(ctx);
      break;
    case ConfigMsg::OpenRequest:
      if (ctx->busy)
        QueueAppend(&ctx->waiting, &HandleOf(arg1)->waitLink);
      else
        StartOpen(ctx, HandleOf(arg1));
      break;
    case UbstoreMsg::Read:
      OnRead(ctx, static_cast<Result>(arg1), HandleOf(arg2));
      break;
    case UbstoreMsg::Written:
      OnWritten(ctx, static_cast<Result>(arg1), HandleOf(arg2));
      break;
    case TskMsg::Stop:
    case TskMsg::Stop2:
      OnStop(ctx);
      break;
    default:
      break;
  }
  return kOk;
}

}  // namespace

Result ConfigStart(TskmanTask* reply) {
  if (ConfigCurrent()) return kConfigBadArg;
  auto* ctx =
      static_cast<ConfigContext*>(MemAllocZero(sizeof(ConfigContext), Use::Context, Mod::Config));
  if (!ctx) return kConfigNoMemory;
  ctx->reply = reply;
  LibcStrCopy(ctx->activeSlot, "0");
  LibcStrCopy(ctx->access.slot, "0");
  LibcStrCopy(ctx->wap.slot, "0");
  if (TskmanCreateTask(&ctx->task, Mod::Config, ConfigHandler, ctx) != kOk) {
    MemFree(&ctx);
    return kConfigNoMemory;
  }
  return kOk;
}

void ConfigStop() {
  if (ConfigContext* ctx = ConfigCurrent()) TskmanPost(ctx->task, TskMsg::Stop, 0, 0);
}

void ConfigResetOpen() {
  if (ConfigContext* ctx = ConfigCurrent()) ctx->slotRead = false;
}

void ConfigOpen(TskmanTask* reply, const char* section, bool writable) {
  ConfigOpenEx(reply, section, writable, false);
}

void ConfigOpenEx(TskmanTask* reply, const char* section, bool writable, bool useSlotCode) {
  ConfigContext* ctx = ConfigCurrent();
  if (!ctx) {
    Answer(reply, ConfigMsg::Opened, kConfigNotFound, 0);
    return;
  }
  if (!PostOpen(ctx, reply, section, writable, useSlotCode, false)) {
    SayUnread(ctx, ConfigClassOf(section), writable, kConfigNoMemory);
    Answer(reply, ConfigMsg::Opened, kConfigNoMemory, 0);
  }
}

namespace {

struct Spare {
  const ConfigSection* row;
  ConfigSpareFn take;
  ConfigSpareDropFn dropped;
} gSpare;

// Drops spare values from the class root while the root would pass the
// quota, the highest ranked first, and no more than it takes. Anything that
// stands in the way (no such section, no memory to open it) leaves the root
// as it is: the write then answers for its size.
void DropSpare(ConfigHandle* handle) {
  const Spare spare = gSpare;
  if (!spare.take || !handle->writable || LibcStrCmp(spare.row->className, handle->className) != 0)
    return;
  uint32_t size = 0;
  const auto quota = static_cast<uint32_t>(UbstoreGetQuota(UbstoreClassIndex(handle->className)));
  if (StoreSerialize(&StoreTop(&handle->stack)->section, nullptr, &size, false) != kOk ||
      size <= quota)
    return;
  if (ConfigEnterLevel(handle, spare.row->name, 0, false) != kOk) return;
  StoreSection* section = ConfigTop(handle);
  // The section's own block shrinks by what a value took in it, and the
  // root's by the same (both count in even sizes).
  uint32_t held = 0;
  StoreSerialize(&section, nullptr, &held, false);
  for (uint32_t over = size - quota; over > 0;) {
    uintptr_t cursor = 0;
    StoreEntry entry;
    StoreEntry chosen{};
    uint32_t best = 0;
    for (Result r = StoreFirst(section, &cursor, &entry); r == kOk;
         r = StoreNext(section, &cursor, &entry))
      if (const uint32_t rank = spare.take(reinterpret_cast<const char*>(entry.name),
                                           entry.nameLength);
          rank > best) {
        best = rank;
        chosen = entry;
      }
    if (best == 0) break;
    char name[kStoreMaxName + 1];
    LibcMemCopy(name, chosen.name, chosen.nameLength);
    if (spare.dropped) spare.dropped(name, chosen.nameLength, chosen.value, chosen.valueLength);
    if (StoreDeleteKey(section, name, chosen.nameLength) != kOk) break;
    uint32_t left = 0;
    StoreSerialize(&section, nullptr, &left, false);
    const uint32_t freed = held - left;
    held = left;
    over = freed < over ? over - freed : 0;
  }
  StoreCommitLevel(&handle->stack, nullptr, 0);
}

}  // namespace

void ConfigSetSpare(const char* section, ConfigSpareFn spare, ConfigSpareDropFn dropped) {
  const ConfigSection* row = ConfigFindSection(section);
  gSpare = row && spare ? Spare{row, spare, dropped} : Spare{};
}

Result ConfigSave(ConfigHandle* handle, ConfigNotKeptFn notKept) {
  if (!handle || !handle->config || handle->state != ConfigState::Open) {
    // A section of the store that can no longer be saved (the store has
    // stopped) loses what it holds all the same.
    if (handle && handle->row && handle->state == ConfigState::Open) {
      handle->notKept = notKept;
      SayNotKept(handle, kConfigBadArg);
    }
    return kConfigBadArg;
  }
  handle->notKept = notKept;
  ConfigContext* ctx = handle->config;
  handle->state = ConfigState::Saving;
  Result status = kOk;
  while (StoreDepth(&handle->stack) > 1) {
    Result r = StoreCommitLevel(&handle->stack, nullptr, 0);
    if (status == kOk) status = r;
  }
  if (status == kOk) DropSpare(handle);
  uint32_t size = 0;
  if (status == kOk) {
    StoreStackRecord* root = StoreTop(&handle->stack);
    StoreSerialize(&root->section, nullptr, &size, false);
    handle->saveBuffer = static_cast<uint8_t*>(MemAlloc(size, Use::Data, Mod::Config));
    status = handle->saveBuffer ? StoreSerialize(&root->section, handle->saveBuffer, &size, false)
                                : kConfigNoMemory;
  }
  // A damaged file is never replaced before its bytes are safe elsewhere.
  if (status == kOk && handle->damaged)
    status = UbstoreKeepDamaged(handle->className, handle->storageBuffer, handle->storageLength);
  // The root may read the file's bytes in place: it goes before them.
  StoreReleaseAll(&handle->stack);
  UbstoreFreeBuffer(handle->storageUser, &handle->storageBuffer);
  if (status != kOk)
    TskmanPost(ctx->task, UbstoreMsg::Written, status, reinterpret_cast<uintptr_t>(handle));
  else
    UbstoreWrite(ctx->task, handle->className, handle->saveBuffer, size,
                 reinterpret_cast<uintptr_t>(handle));
  return kOk;
}

Result ConfigRoom(ConfigHandle* handle, uint32_t* bytes) {
  *bytes = 0;
  if (!handle || handle->state != ConfigState::Open) return kConfigBadArg;
  ListNode* node = ListFirst(&handle->stack);
  if (!node) return kConfigBadArg;
  const int32_t quota = UbstoreGetQuota(UbstoreClassIndex(handle->className));
  uint64_t room = quota >= 0 ? static_cast<uint64_t>(quota) : UINT32_MAX;
  // Each level above the root is a folder value of the level below: what
  // the level below leaves it, with its name and entry head, and no more
  // than a value holds.
  for (ListNode* up = ListNext(node); up; node = up, up = ListNext(up)) {
    const auto* below = reinterpret_cast<StoreStackRecord*>(node);
    const auto* level = reinterpret_cast<StoreStackRecord*>(up);
    StoreSection* section = below->section;
    uint32_t size = 0;
    if (StoreSerialize(&section, nullptr, &size, false) != kOk) return kConfigBadArg;
    StoreEntry old{};
    const char* name = reinterpret_cast<const char*>(level->name);
    if (StoreReadValue(below->section, name, level->nameLength, &old) == kOk)
      size -= StoreEntryBytes(level->nameLength, old.valueLength);
    // The longest value whose padded entry fits what is left.
    const uint64_t left = room > size ? room - size : 0;
    room = left > 5u + level->nameLength ? left - 5 - level->nameLength : 0;
    if (room > kStoreMaxValue)
      room = kStoreMaxValue;
    else if (room && StoreEntryBytes(level->nameLength, static_cast<uint32_t>(room)) > left)
      --room;
  }
  *bytes = static_cast<uint32_t>(room < UINT32_MAX ? room : UINT32_MAX);
  return kOk;
}

void ConfigSayNotKept(const char* section, const char* what) {
  const char* className = ConfigClassOf(section);
  UbstoreSayNotKept(className ? className : section, what);
}

const char* ConfigWhyText(Result status) {
  switch (status) {
    case kUbstoreOverQuota:
      return "did not fit its quota";
    case kStoreBadArg:
      return "did not fit its file";
    case kUbstoreReadFailed:
      return "its file could not be read";
    case kUbstoreWriteFailed:
      return "its file could not be written";
    case kConfigBadArg:
      return "the settings store had stopped";
    case kConfigNotFound:
      return "its section is unknown";
    default:
      return ResultCodeOf(status) == Err::NoMemory ? "not enough memory" : "the settings store failed";
  }
}

void ConfigRelease(ConfigHandle** handle) {
  ConfigHandle* h = *handle;
  // A handle being saved is ended by the save's answer.
  if (!h || h->state == ConfigState::Saving) return;
  ConfigContext* ctx = h->config;
  const bool wasCurrent = ctx && ctx->current == h;
  ConfigHandleFree(handle);
  if (wasCurrent) ServeWaiting(ctx);
}

void ConfigFreeHandle(ConfigHandle** handle) {
  ConfigHandle* h = *handle;
  if (h && h->config && h->config->current == h)
    ConfigRelease(handle);
  else if (!h || h->state != ConfigState::Saving)
    ConfigHandleFree(handle);
}

void ConfigNotifyChange(TskmanTask* writer, const ConfigNotifyList* list) {
  if (!list) return;
  if (list->count == 0) {
    TskmanBroadcast(ConfigMsg::ChangedAll, 0, 0);
    return;
  }
  for (uint32_t i = 0; i < list->count; ++i) {
    TskmanTask* task = TskmanFind(list->ids[i]);
    if (task && task != writer) TskmanPost(task, ConfigMsg::Changed, 0, 0);
  }
}

void ConfigSetActiveSlot(uint32_t n) {
  ConfigContext* ctx = ConfigCurrent();
  if (!ctx) return;
  ctx->slotRead = true;
  if (n >= kConfigSlots) return;
  char text[3];
  SlotText(n, text);
  if (LibcStrCmp(text, ctx->activeSlot) == 0) return;
  LibcStrCopy(ctx->activeSlot, text);
  ConfigProfile* profiles[] = {&ctx->access, &ctx->wap};
  for (ConfigProfile* profile : profiles)
    if (LibcStrCmp(profile->slot, text) != 0) profile->name[0] = '\0';
  TskmanBroadcast(ConfigMsg::ChangedAll, 0, 0);
}

void ConfigSetAccessName(const char* name) {
  if (ConfigContext* ctx = ConfigCurrent()) ConfigSetProfileName(ctx, &ctx->access, name, true);
}

void ConfigSetWapProfileName(const char* name) {
  if (ConfigContext* ctx = ConfigCurrent()) ConfigSetProfileName(ctx, &ctx->wap, name, true);
}

void ConfigSelectFromPath(const char* text) {
  if (!text) return;
  const char* slash = LibcStrChr(text, '/');
  if (!slash || slash[1] == '\0') return;
  ConfigSetActiveSlot(static_cast<uint32_t>(LibcAtoI(text)));
  ConfigSetAccessName(slash + 1);
}

void ConfigGetActiveNames(const char** slot, const char** accessName) {
  ConfigContext* ctx = ConfigCurrent();
  *slot = ctx ? ctx->activeSlot : "0";
  *accessName = ctx ? ctx->access.name : "";
}

void ConfigGetWapProfile(const char** slot, const char** name) {
  ConfigContext* ctx = ConfigCurrent();
  *slot = ctx ? ctx->wap.slot : "0";
  *name = ctx ? ctx->wap.name : "";
}

void ConfigSetUseSlot(const char* code) {
  ConfigContext* ctx = ConfigCurrent();
  if (!ctx || !code) return;
  LibcStrNCopy(ctx->slotCode, code, 2);
  ctx->slotCode[2] = '\0';
}

const char* ConfigGetUseSlot() {
  ConfigContext* ctx = ConfigCurrent();
  return ctx ? ctx->slotCode : "";
}
