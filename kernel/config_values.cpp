// The settings store's values: typed reads and writes at a handle's current
// level, folders entered and left, free-standing handles, slot search.
#include <bit>

#include "kernel/config.h"
#include "kernel/config_internal.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/ubstore.h"

// UTF-16 values are kept little-endian, as the handset kept them, and handed
// out in place.
static_assert(std::endian::native == std::endian::little);

namespace {

Result FromStore(Result r) {
  if (r == kStoreNoMemory) return kConfigNoMemory;
  if (r == kStoreNotFound) return kConfigNotFound;
  return r;
}

uint32_t LengthOf(const char* name, uint32_t length) {
  return length ? length : (name ? LibcStrLen(name) : 0);
}

bool HoldsZeroByte(const uint8_t* bytes, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i)
    if (bytes[i] == 0) return true;
  return false;
}

bool HoldsZeroUnit(const uint8_t* bytes, uint32_t length) {
  for (uint32_t i = 0; i + 1 < length; i += 2)
    if (bytes[i] == 0 && bytes[i + 1] == 0) return true;
  return false;
}

Result ReadEntry(ConfigHandle* handle, const char* name, uint32_t length, StoreEntry* entry) {
  StoreSection* top = ConfigTop(handle);
  if (!top || !name) return kConfigNotFound;
  return FromStore(StoreReadValue(top, name, LengthOf(name, length), entry));
}

}  // namespace

StoreSection* ConfigTop(ConfigHandle* handle) {
  if (!handle) return nullptr;
  StoreStackRecord* top = StoreTop(&handle->stack);
  return top ? top->section : nullptr;
}

Result ConfigEnterLevel(ConfigHandle* handle, const char* name, uint32_t length, bool create) {
  length = LengthOf(name, length);
  StoreSection* top = ConfigTop(handle);
  if (!top) return kConfigNotFound;
  if (length == 0 || length > kStoreMaxName) return kStoreBadArg;
  StoreEntry entry;
  Result r;
  if (StoreReadValue(top, name, length, &entry) == kOk) {
    if (entry.kind != StoreKind::Folder) return kConfigNotFound;
    r = StoreOpenSection(&handle->stack, name, length, entry.value, entry.valueLength,
                         handle->writable);
    // A damaged folder is entered as an empty one.
    return r == kStoreMalformed ? kOk : FromStore(r);
  }
  if (!create || !handle->writable) return kConfigNotFound;
  static constexpr uint8_t kEmptySection[kStoreEndBytes] = {};
  r = StoreWriteValue(top, name, length, kEmptySection, sizeof kEmptySection, StoreKind::Folder);
  if (r == kOk)
    r = StoreOpenSection(&handle->stack, name, length, kEmptySection, sizeof kEmptySection, true);
  return FromStore(r);
}

Result ConfigReadInt(const StoreSection* section, const char* name, uint32_t length,
                     int32_t* value) {
  *value = 0;
  StoreEntry entry;
  if (!section || StoreReadValue(section, name, length, &entry) != kOk ||
      entry.kind != StoreKind::Int)
    return kConfigNotFound;
  uint32_t v = 0;
  for (uint32_t i = 0; i < entry.valueLength; ++i) v = v << 8 | entry.value[i];
  *value = static_cast<int32_t>(v);
  return kOk;
}

void ConfigHandleFree(ConfigHandle** handle) {
  ConfigHandle* h = *handle;
  if (!h) return;
  StoreReleaseAll(&h->stack);
  if (h->storageBuffer) UbstoreFreeBuffer(h->storageUser, &h->storageBuffer);
  MemFree(&h->saveBuffer);
  MemFree(handle);
}

Result ConfigCreate(ConfigHandle** out) {
  auto* handle = static_cast<ConfigHandle*>(
      MemAllocZero(sizeof(ConfigHandle), ConfigUse::Handle, Mod::Config));
  *out = nullptr;
  if (!handle) return kConfigNoMemory;
  StoreStackInit(&handle->stack);
  handle->writable = true;
  handle->state = ConfigState::Open;
  if (StoreOpenSection(&handle->stack, "", 0, nullptr, 0, true) != kOk) {
    MemFree(&handle);
    return kConfigNoMemory;
  }
  *out = handle;
  return kOk;
}

Result ConfigOpenPath(ConfigHandle* handle, const char* path, uint32_t length, bool create) {
  if (!ConfigTop(handle) || !path) return kConfigNotFound;
  length = LengthOf(path, length);
  const uint32_t start = StoreDepth(&handle->stack);
  uint32_t at = 0;
  while (at < length) {
    uint32_t end = at;
    while (end < length && path[end] != '/') ++end;
    if (end > at) {
      Result r = ConfigEnterLevel(handle, path + at, end - at, create);
      if (r != kOk) {
        while (StoreDepth(&handle->stack) > start) StoreReleaseSection(&handle->stack);
        return r;
      }
      StoreTop(&handle->stack)->baseLevel = start;
    }
    at = end + 1;
  }
  return kOk;
}

Result ConfigClose(ConfigHandle* handle, bool commit) {
  if (!handle) return kConfigNotFound;
  uint32_t depth = StoreDepth(&handle->stack);
  const uint32_t sectionDepth = 1 + handle->levels;
  if (depth <= sectionDepth) return kOk;
  uint32_t base = StoreTop(&handle->stack)->baseLevel;
  if (base < sectionDepth) base = sectionDepth;
  Result result = kOk;
  for (; depth > base; --depth) {
    if (commit && result == kOk)
      result = StoreCommitLevel(&handle->stack, nullptr, 0);
    else
      StoreReleaseSection(&handle->stack);
  }
  return FromStore(result);
}

Result ConfigGetRaw(ConfigHandle* handle, const char* name, uint32_t length, const uint8_t** data,
                    uint32_t* dataLength, ConfigKind* kind) {
  StoreEntry entry;
  Result r = ReadEntry(handle, name, length, &entry);
  if (r != kOk) return r;
  *data = entry.value;
  *dataLength = entry.valueLength;
  *kind = static_cast<ConfigKind>(entry.kind);
  return kOk;
}

Result ConfigGetInt(ConfigHandle* handle, const char* name, uint32_t length, int32_t* value) {
  *value = 0;
  if (!name) return kConfigNotFound;
  return ConfigReadInt(ConfigTop(handle), name, LengthOf(name, length), value);
}

Result ConfigGetString(ConfigHandle* handle, const char* name, uint32_t length,
                       const char** value) {
  *value = nullptr;
  StoreEntry entry;
  Result r = ReadEntry(handle, name, length, &entry);
  if (r != kOk) return r;
  if (entry.kind != StoreKind::String) return kConfigNotFound;
  // The text must end inside the value, or a reader would run past it.
  if (!HoldsZeroByte(entry.value, entry.valueLength)) return kStoreMalformed;
  *value = reinterpret_cast<const char*>(entry.value);
  return kOk;
}

Result ConfigGetWString(ConfigHandle* handle, const char* name, uint32_t length,
                        const char16_t** value) {
  *value = nullptr;
  StoreEntry entry;
  Result r = ReadEntry(handle, name, length, &entry);
  if (r != kOk) return r;
  if (entry.kind != StoreKind::WString) return kConfigNotFound;
  if (reinterpret_cast<uintptr_t>(entry.value) % alignof(char16_t) != 0 ||
      !HoldsZeroUnit(entry.value, entry.valueLength))
    return kStoreMalformed;
  *value = reinterpret_cast<const char16_t*>(entry.value);
  return kOk;
}

Result ConfigSetRaw(ConfigHandle* handle, const char* name, uint32_t length, const void* data,
                    uint32_t dataLength, ConfigKind kind) {
  StoreSection* top = ConfigTop(handle);
  if (!top || !name) return kConfigNotFound;
  return FromStore(StoreWriteValue(top, name, LengthOf(name, length), data, dataLength,
                                   static_cast<uint32_t>(kind)));
}

Result ConfigSetInt(ConfigHandle* handle, const char* name, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  const uint8_t bytes[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                            static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  return ConfigSetRaw(handle, name, 0, bytes, sizeof bytes, ConfigKind::Int);
}

Result ConfigSetString(ConfigHandle* handle, const char* name, const char* value) {
  if (!value) return kConfigBadArg;
  return ConfigSetRaw(handle, name, 0, value, LibcStrLen(value) + 1, ConfigKind::String);
}

Result ConfigSetWString(ConfigHandle* handle, const char* name, const char16_t* value) {
  if (!value) return kConfigBadArg;
  return ConfigSetRaw(handle, name, 0, value, 2 * LibcWStrLen(value) + 2, ConfigKind::WString);
}

Result ConfigEnum(ConfigHandle* handle, uintptr_t* cursor, const char** name,
                  uint32_t* nameLength, const uint8_t** value, uint32_t* valueLength,
                  ConfigKind* kind) {
  StoreSection* top = ConfigTop(handle);
  if (!top) return kStoreNotFound;
  StoreEntry entry;
  Result r = *cursor == 0 ? StoreFirst(top, cursor, &entry) : StoreNext(top, cursor, &entry);
  if (r != kOk) return r;
  *name = reinterpret_cast<const char*>(entry.name);
  *nameLength = entry.nameLength;
  *value = entry.value;
  *valueLength = entry.valueLength;
  *kind = static_cast<ConfigKind>(entry.kind);
  return kOk;
}

Result ConfigDelete(ConfigHandle* handle, const char* name, uint32_t length) {
  StoreSection* top = ConfigTop(handle);
  if (!top || !name) return kConfigNotFound;
  return FromStore(StoreDeleteKey(top, name, LengthOf(name, length)));
}

Result ConfigDeleteTree(ConfigHandle* handle) {
  StoreSection* top = ConfigTop(handle);
  if (!top) return kConfigNotFound;
  return FromStore(StoreDeleteAll(top));
}

Result ConfigFindSlot(uint32_t* slot, ConfigHandle* handle, const char* url, int32_t mode) {
  *slot = 0;
  if (mode == 1) return kOk;
  if (!handle) return kConfigNotFound;
  ListNode* first = ListFirst(&handle->stack);
  if (!first) return kConfigNotFound;
  const StoreSection* root = reinterpret_cast<StoreStackRecord*>(first)->section;
  uint32_t used = 0;
  uintptr_t cursor;
  StoreEntry entry;
  for (Result r = StoreFirst(root, &cursor, &entry); r == kOk;
       r = StoreNext(root, &cursor, &entry)) {
    if (entry.kind != StoreKind::Folder || entry.name[0] < '0' || entry.name[0] > '9') continue;
    uint32_t n = 0;
    for (uint32_t i = 0; i < entry.nameLength && entry.name[i] >= '0' && entry.name[i] <= '9'; ++i)
      n = (n * 10 + (entry.name[i] - '0')) % kConfigSlots;
    used |= 1u << n;
    if (!url) continue;
    StoreSection* folder = nullptr;
    StoreParseSection(&folder, entry.value, entry.valueLength, nullptr, false);
    StoreEntry text;
    const bool match = folder && StoreReadValue(folder, "url", 3, &text) == kOk &&
                       text.kind == StoreKind::String &&
                       HoldsZeroByte(text.value, text.valueLength) &&
                       LibcStrCmp(reinterpret_cast<const char*>(text.value), url) == 0;
    StoreFreeSection(&folder);
    if (match) {
      *slot = n;
      return kOk;
    }
  }
  uint32_t n = 0;
  while (n < kConfigSlots && (used & (1u << n))) ++n;
  if (n == kConfigSlots) return kConfigNoFreeSlot;
  int32_t allowed = 0;
  if (ConfigReadInt(root, "AllowedServices", 0, &allowed) == kOk &&
      static_cast<int64_t>(n) > allowed)
    return kConfigNoFreeSlot;
  *slot = n;
  return kOk;
}
