#include "services/push/notify_store.h"

#include "browser/cache.h"
#include "browser/url.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/push/notify.h"
#include "services/push/sisl.h"

namespace {

constexpr uint32_t kModule = Mod::Notify;
constexpr char kCount[] = "count";
constexpr uint32_t kKeptFlags = UrlFlag::Presented | UrlFlag::Viewed;

void Put(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void KeyOf(char* key, uint32_t n) {
  key[0] = 'm';
  LibcItoA(static_cast<int32_t>(n), key + 1, 10);
}

// flags, type id, name length, name, record length, record.
Result WriteOne(ConfigHandle* handle, uint32_t n, const UrlLoad* message) {
  const PushRecord* record = PushRecordOf(message);
  const uint32_t nameLength = LibcStrLen(message->name);
  const uint32_t recordLength = PushRecordStore(record, nullptr);
  const uint32_t length = 16 + nameLength + recordLength;
  auto* bytes = static_cast<uint8_t*>(MemAlloc(length, Use::Data, kModule));
  if (!bytes) return kNotifyNoMemory;
  Put(bytes, message->flags & kKeptFlags);
  Put(bytes + 4, message->typeId);
  Put(bytes + 8, nameLength);
  LibcMemCopy(bytes + 12, message->name, nameLength);
  Put(bytes + 12 + nameLength, recordLength);
  PushRecordStore(record, bytes + 16 + nameLength);
  char key[16];
  KeyOf(key, n);
  const Result r = ConfigSetRaw(handle, key, 0, bytes, length, ConfigKind::Raw);
  MemFree(&bytes);
  return r;
}

void RestoreOne(const uint8_t* bytes, uint32_t length) {
  if (length < 16) return;
  const uint32_t flags = Get(bytes), typeId = Get(bytes + 4), nameLength = Get(bytes + 8);
  if (nameLength == 0 || nameLength > length - 16) return;
  const uint32_t recordLength = Get(bytes + 12 + nameLength);
  if (recordLength != length - 16 - nameLength) return;
  char* name = LibcStrNDup(reinterpret_cast<const char*>(bytes + 12), nameLength);
  UrlParsed parsed{};
  const bool parsedOk = name && LibcStrLen(name) == nameLength && UrlParse(&parsed, name, 0) == kOk;
  MemFree(&name);
  if (!parsedOk) return;
  UrlLoad* load = nullptr;
  if (parsed.scheme && LibcStrCmp(parsed.scheme, "push") == 0 && !CacheFindByName(&parsed))
    load = UrlLoadCreate(&parsed);
  UrlFreeParsed(&parsed);
  if (!load) return;
  UrlSetContentTypeId(load, typeId);
  PushRecord* record = load->contentClass == 8
                           ? PushRecordLoad(bytes + 16 + nameLength, recordLength)
                           : nullptr;
  if (!record) {
    UrlLoadFree(load);
    return;
  }
  SiSlAttachRecord(load, record);
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

}  // namespace

Result NotifyStoreWrite(ConfigHandle* handle, UrlLoad* const* messages, uint32_t count) {
  ConfigDeleteTree(handle);
  uint32_t n = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (!PushRecordOf(messages[i])) continue;
    if (Result r = WriteOne(handle, n, messages[i]); r != kOk) return r;
    ++n;
  }
  return ConfigSetInt(handle, kCount, static_cast<int32_t>(n));
}

void NotifyStoreRestore(ConfigHandle* handle) {
  int32_t count = 0;
  if (ConfigGetInt(handle, kCount, 0, &count) != kOk || count < 0) return;
  // Last first: each goes before the others of its level, so the list
  // comes back in its order.
  for (int32_t i = count - 1; i >= 0; --i) {
    char key[16];
    KeyOf(key, static_cast<uint32_t>(i));
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    ConfigKind kind{};
    if (ConfigGetRaw(handle, key, 0, &data, &length, &kind) == kOk && kind == ConfigKind::Raw)
      RestoreOne(data, length);
  }
}
