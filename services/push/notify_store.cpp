#include "services/push/notify_store.h"

#include "browser/cache.h"
#include "browser/url.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/push/notify.h"
#include "services/push/notify_store_doc.h"
#include "services/push/sisl.h"

namespace {

constexpr uint32_t kModule = Mod::Notify;
constexpr char kCount[] = "count";
constexpr char kSerial[] = "serial";  // the last push serial given when the inbox was written
constexpr uint32_t kPushClass = 8;
constexpr uint32_t kKeptFlags = UrlFlag::Presented | UrlFlag::Viewed;

void Put(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// "m<n>" holds a message, "d<n>" the document kept with it. A reader that
// knows only the messages passes the documents by.
void KeyOf(char* key, char kind, uint32_t n) {
  key[0] = kind;
  LibcItoA(static_cast<int32_t>(n), key + 1, 10);
}

// flags, type id, name length, name, record length, record. A message
// without a push record (a connectivity document, a pushed page) is kept
// with a record length of 0: the inbox lists it by its address and kind,
// and a connectivity document's bytes go under a key of their own.
Result WriteOne(ConfigHandle* handle, uint32_t n, const UrlLoad* message) {
  const PushRecord* record = PushRecordOf(message);
  const uint32_t nameLength = LibcStrLen(message->name);
  const uint32_t recordLength = record ? PushRecordStore(record, nullptr) : 0;
  const uint32_t length = 16 + nameLength + recordLength;
  auto* bytes = static_cast<uint8_t*>(MemAlloc(length, Use::Data, kModule));
  if (!bytes) return kNotifyNoMemory;
  Put(bytes, message->flags & kKeptFlags);
  Put(bytes + 4, message->typeId);
  Put(bytes + 8, nameLength);
  LibcMemCopy(bytes + 12, message->name, nameLength);
  Put(bytes + 12 + nameLength, recordLength);
  if (record) PushRecordStore(record, bytes + 16 + nameLength);
  char key[16];
  KeyOf(key, 'm', n);
  const Result r = ConfigSetRaw(handle, key, 0, bytes, length, ConfigKind::Raw);
  MemFree(&bytes);
  return r;
}

// The stored name of the message, checked; null when it does not read.
char* NameOf(const uint8_t* bytes, uint32_t length) {
  if (length < 16) return nullptr;
  const uint32_t nameLength = Get(bytes + 8);
  if (nameLength == 0 || nameLength > length - 16) return nullptr;
  if (Get(bytes + 12 + nameLength) != length - 16 - nameLength) return nullptr;
  char* name = LibcStrNDup(reinterpret_cast<const char*>(bytes + 12), nameLength);
  if (name && LibcStrLen(name) != nameLength) MemFree(&name);
  return name;
}

// A push name of this run may have been given before the inbox came back
// (a push that arrived at start-up): the kept message then takes a new one.
bool ParseFree(UrlParsed* parsed, char** name) {
  for (int tries = 0; tries < 2; ++tries) {
    if (UrlParse(parsed, *name, 0) != kOk) return false;
    if (!parsed->scheme || LibcStrCmp(parsed->scheme, "push") != 0) {
      UrlFreeParsed(parsed);
      return false;
    }
    if (!CacheFindByName(parsed)) return true;
    UrlFreeParsed(parsed);
    char* renamed = NotifyRenamePush(*name, kModule);
    MemFree(name);
    *name = renamed;
    if (!renamed) return false;
  }
  return false;
}

void RestoreOne(const uint8_t* bytes, uint32_t length, const uint8_t* doc, uint32_t docLength) {
  char* name = NameOf(bytes, length);
  if (!name) return;
  const uint32_t flags = Get(bytes), typeId = Get(bytes + 4), nameLength = Get(bytes + 8);
  const uint32_t recordLength = length - 16 - nameLength;
  UrlParsed parsed{};
  const bool parsedOk = ParseFree(&parsed, &name);
  MemFree(&name);
  if (!parsedOk) return;
  UrlLoad* load = UrlLoadCreate(&parsed);
  UrlFreeParsed(&parsed);
  if (!load) return;
  UrlSetContentTypeId(load, typeId);
  // Push messages come back with their record; others have none.
  if (load->contentClass == kPushClass) {
    PushRecord* record = PushRecordLoad(bytes + 16 + nameLength, recordLength);
    if (!record) {
      UrlLoadFree(load);
      return;
    }
    SiSlAttachRecord(load, record);
  } else if (load->contentClass == 0 || recordLength != 0 ||
             NotifyStoreDocRestore(load, reinterpret_cast<const char*>(bytes + 12), nameLength,
                                   doc, docLength) == NotifyStoreDocRead::NoMemory) {
    UrlLoadFree(load);
    return;
  }
  load->schemeRow = UrlFindScheme("push");
  load->status = 200;
  load->endOfData = 1;
  load->closed = 1;
  load->events |= UrlEvent::StatusKnown | UrlEvent::Complete;
  load->flags |= UrlFlag::Listed | (flags & kKeptFlags);
  // A viewed message stays in the inbox without holding its place in the cache.
  if (flags & UrlFlag::Viewed)
    load->flags |= UrlFlag::Kept;
  else
    UrlLoadSetFlags(load, UrlFlag::Kept);
  CacheAdd(load);
  NotifyKeepMessage(load);
}

bool Stored(ConfigHandle* handle, char prefix, uint32_t n, const uint8_t** data, uint32_t* length) {
  char key[16];
  KeyOf(key, prefix, n);
  ConfigKind kind{};
  return ConfigGetRaw(handle, key, 0, data, length, &kind) == kOk && kind == ConfigKind::Raw;
}

// The number of values the open section holds.
int32_t Held(ConfigHandle* handle) {
  uintptr_t cursor = 0;
  const char* name = nullptr;
  const uint8_t* value = nullptr;
  uint32_t nameLength = 0, valueLength = 0;
  ConfigKind kind{};
  int32_t n = 0;
  while (n < 0x7FFFFFFF &&
         ConfigEnum(handle, &cursor, &name, &nameLength, &value, &valueLength, &kind) == kOk)
    ++n;
  return n;
}

}  // namespace

Result NotifyStoreWrite(ConfigHandle* handle, UrlLoad* const* messages, uint32_t count,
                        bool documents, uint32_t* documentBytes) {
  ConfigDeleteTree(handle);
  uint32_t n = 0;
  *documentBytes = 0;
  for (uint32_t i = 0; i < count; ++i) {
    // A push message without its record cannot be listed again.
    if (messages[i]->contentClass == kPushClass && !PushRecordOf(messages[i])) continue;
    if (messages[i]->contentClass == 0) continue;
    if (Result r = WriteOne(handle, n, messages[i]); r != kOk) return r;
    // A document over the limits stays out: its message is kept by name.
    const uint32_t size = documents ? NotifyStoreDocSize(messages[i]) : 0;
    if (size && size <= kNotifyStoreDocLimit && size <= kNotifyStoreDocBudget - *documentBytes) {
      char key[16];
      KeyOf(key, 'd', n);
      if (Result r = NotifyStoreDocWrite(handle, key, messages[i], size); r != kOk) return r;
      *documentBytes += size;
    }
    ++n;
  }
  if (Result r = ConfigSetInt(handle, kSerial, static_cast<int32_t>(NotifyPushSerial())); r != kOk)
    return r;
  return ConfigSetInt(handle, kCount, static_cast<int32_t>(n));
}

void NotifyStoreRestore(ConfigHandle* handle) {
  int32_t count = 0;
  if (ConfigGetInt(handle, kCount, 0, &count) != kOk || count < 0) return;
  // A damaged count says more than the section can hold.
  if (const int32_t held = Held(handle); count > held) count = held;
  // New names go on after every kept one (an inbox written before the
  // serial was kept has only its names to say so).
  int32_t serial = 0;
  if (ConfigGetInt(handle, kSerial, 0, &serial) == kOk && serial > 0)
    NotifyPushSerialAtLeast(static_cast<uint32_t>(serial));
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    if (!Stored(handle, 'm', static_cast<uint32_t>(i), &data, &length)) continue;
    if (char* name = NameOf(data, length)) {
      NotifyPushSerialAtLeast(NotifyPushSerialOf(name));
      MemFree(&name);
    }
  }
  // Last first: each goes before the others of its level, so the list
  // comes back in its order.
  for (int32_t i = count - 1; i >= 0; --i) {
    const uint8_t *data = nullptr, *doc = nullptr;
    uint32_t length = 0, docLength = 0;
    if (!Stored(handle, 'm', static_cast<uint32_t>(i), &data, &length)) continue;
    if (!Stored(handle, 'd', static_cast<uint32_t>(i), &doc, &docLength)) doc = nullptr;
    RestoreOne(data, length, doc, docLength);
  }
}
