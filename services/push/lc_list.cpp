// The local content store's name lists and entries, and their stored forms.
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/push/lc.h"

namespace {

constexpr uint32_t kModule = Mod::LocalContent;
constexpr uint32_t kHeaderStep = 512, kDataStep = 4096;
constexpr uint32_t kNone = 0xFFFFFFFF;

uint32_t Get(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
void Put(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t Round4(uint32_t n) { return (n + 3) & ~3u; }

// The item at an offset: its size word and text.
const char* TextAt(const uint8_t* list, uint32_t offset) {
  return reinterpret_cast<const char*>(list + kLcListHead + offset + 4);
}

uint32_t FindText(const uint8_t* list, const char* text) {
  const uint32_t used = Get(list + 4);
  for (uint32_t at = 0; at < used; at += Get(list + kLcListHead + at))
    if (LibcStrCmp(TextAt(list, at), text) == 0) return at;
  return kNone;
}

// Appends an item without touching the slots: its offset, or kNone when it
// does not fit.
uint32_t AddItem(uint8_t* list, const char* text) {
  const uint32_t used = Get(list + 4);
  const uint32_t size = Round4(4 + LibcStrLen(text) + 1);
  if (size > Get(list) - used) return kNone;
  uint8_t* item = list + kLcListHead + used;
  LibcMemSet(item, 0, size);
  Put(item, size);
  LibcStrCopy(reinterpret_cast<char*>(item + 4), text);
  Put(list + 4, used + size);
  return used;
}

}  // namespace

LcList* LcListCreate(uint32_t capacity) {
  auto* list = static_cast<uint8_t*>(MemAllocZero(kLcListHead + capacity, Use::Data, kModule));
  if (!list) return nullptr;
  Put(list, capacity);
  Put(list + 8, kNone);
  Put(list + 12, kNone);
  return list;
}

uint32_t LcListCapacity(const LcList* list) { return Get(list); }
uint32_t LcListUsed(const LcList* list) { return Get(list + 4); }

uint32_t LcListAdd(LcList* list, const char* text, bool marked) {
  if (*text && FindText(list, text) != kNone) return 0;
  const uint32_t at = AddItem(list, text);
  if (at == kNone) return 1;
  if (marked) {
    if (Get(list + 8) == kNone) Put(list + 8, at);
  } else {
    if (Get(list + 12) == kNone) Put(list + 12, at);
    Put(list + 16, Get(list + 16) + 1);
  }
  return 0;
}

LcList* LcListGrow(LcList* list, uint32_t more) {
  const uint32_t capacity = Get(list) + more;
  auto* bigger = static_cast<uint8_t*>(MemReallocZero(list, kLcListHead + capacity, 0, kModule));
  if (bigger) Put(bigger, capacity);
  return bigger;
}

const char* LcListMarked(const LcList* list) {
  const uint32_t at = Get(list + 8);
  return at == kNone ? nullptr : TextAt(list, at);
}

const char* LcListNext(const LcList* list, int32_t* offset) {
  const uint32_t used = Get(list + 4);
  uint32_t at = *offset < 0 ? 0 : static_cast<uint32_t>(*offset) + Get(list + kLcListHead + *offset);
  for (; at < used; at += Get(list + kLcListHead + at))
    if (*TextAt(list, at)) {
      *offset = static_cast<int32_t>(at);
      return TextAt(list, at);
    }
  return nullptr;
}

bool LcListBlank(LcList* list, const char* text) {
  const uint32_t at = FindText(list, text);
  if (at == kNone) return false;
  LibcMemSet(list + kLcListHead + at + 4, 0, Get(list + kLcListHead + at) - 4);
  return true;
}

bool LcListValid(const uint8_t* bytes, uint32_t length) {
  if (length < kLcListHead) return false;
  const uint32_t capacity = Get(bytes), used = Get(bytes + 4);
  if (capacity > length - kLcListHead || used > capacity) return false;
  bool marked = false, unmarked = false;
  for (uint32_t at = 0; at < used;) {
    if (used - at < 8) return false;
    const uint32_t size = Get(bytes + kLcListHead + at);
    if (size < 8 || size % 4 || size > used - at) return false;
    if (bytes[kLcListHead + at + size - 1] != 0) return false;  // the text ends inside
    marked |= Get(bytes + 8) == at;
    unmarked |= Get(bytes + 12) == at;
    at += size;
  }
  return (Get(bytes + 8) == kNone || marked) && (Get(bytes + 12) == kNone || unmarked);
}

uint8_t* LcListPack(const LcList* list, uint32_t* length) {
  const uint32_t capacity = Round4(Get(list + 4));
  *length = capacity + 24;
  auto* packed = static_cast<uint8_t*>(MemAllocZero(*length, Use::Data, kModule));
  if (!packed) return nullptr;
  LibcMemCopy(packed, list, kLcListHead + Get(list + 4));
  Put(packed, capacity);
  return packed;
}

// --- Entries ---------------------------------------------------------------------

LcEntry* LcEntryCreate() {
  auto* entry = static_cast<LcEntry*>(MemAllocZero(sizeof(LcEntry), Use::Data, kModule));
  if (!entry) return nullptr;
  entry->header = LcListCreate(kHeaderStep);
  entry->data = static_cast<uint8_t*>(MemAlloc(kDataStep, Use::Data, kModule));
  entry->dataCapacity = kDataStep;
  if (!entry->header || !entry->data) {
    LcEntryFree(&entry);
    return nullptr;
  }
  Put(entry->header + 16, kNone);  // the encoding's slot, not a count here
  return entry;
}

void LcEntryFree(LcEntry** entry) {
  if (!*entry) return;
  MemFree(&(*entry)->header);
  MemFree(&(*entry)->data);
  MemFree(entry);
}

bool LcEntrySetHeader(LcEntry* entry, uint32_t kind, const char* value) {
  uint8_t* slot = entry->header + 8 + kind * 4;
  if (Get(slot) != kNone) return true;  // the first value of a kind stays
  uint32_t at = FindText(entry->header, value);
  while (at == kNone) {
    at = AddItem(entry->header, value);
    if (at != kNone) break;
    uint8_t* bigger = LcListGrow(entry->header, kHeaderStep);
    if (!bigger) return false;
    entry->header = bigger;
    slot = entry->header + 8 + kind * 4;
  }
  Put(slot, at);
  return true;
}

const char* LcEntryHeader(const LcEntry* entry, uint32_t kind) {
  const uint32_t at = Get(entry->header + 8 + kind * 4);
  return at == kNone ? nullptr : TextAt(entry->header, at);
}

bool LcEntryAppend(LcEntry* entry, const uint8_t* bytes, uint32_t length) {
  // One byte stays for the NUL that ends the data.
  while (entry->dataCapacity - entry->dataUsed <= length) {
    if (entry->dataCapacity > UINT32_MAX - kDataStep) return false;
    void* bigger = MemRealloc(entry->data, entry->dataCapacity + kDataStep, 0, kModule);
    if (!bigger) return false;
    entry->data = static_cast<uint8_t*>(bigger);
    entry->dataCapacity += kDataStep;
  }
  LibcMemCopy(entry->data + entry->dataUsed, bytes, length);
  entry->dataUsed += length;
  entry->data[entry->dataUsed] = 0;
  return true;
}

uint8_t* LcEntryPack(const LcEntry* entry, uint32_t* length) {
  // Both blocks are cut to what they hold: a part stored with the room it
  // had while it was filled would spend the section's quota on zeros.
  const uint32_t headerCapacity = Round4(Get(entry->header + 4));
  const uint32_t dataCapacity = Round4(entry->dataUsed + 1);
  const uint32_t total = headerCapacity + dataCapacity + 36;
  *length = total + 20;
  auto* bytes = static_cast<uint8_t*>(MemAllocZero(*length, Use::Data, kModule));
  if (!bytes) return nullptr;
  const uint32_t dataOffset = headerCapacity + 24;
  Put(bytes, total);
  Put(bytes + 4, dataOffset);
  LibcMemCopy(bytes + 16, entry->header, kLcListHead + Get(entry->header + 4));
  Put(bytes + 16, headerCapacity);
  uint8_t* data = bytes + 16 + dataOffset;
  Put(data, dataCapacity);
  Put(data + 4, entry->dataUsed);
  LibcMemCopy(data + 8, entry->data, entry->dataUsed);
  return bytes;
}

LcEntry* LcEntryUnpack(const uint8_t* bytes, uint32_t length, Result* error) {
  *error = kLcBadArg;
  if (length < 16 + kLcListHead + 8) return nullptr;
  const uint32_t total = Get(bytes), dataOffset = Get(bytes + 4);
  if (total > UINT32_MAX - 20 || total + 20 != length || dataOffset > length - 16 - 8 ||
      dataOffset < kLcListHead)
    return nullptr;
  const uint8_t* header = bytes + 16;
  if (!LcListValid(header, dataOffset) || Get(header) + kLcListHead > dataOffset) return nullptr;
  for (uint32_t k = 0; k < 3; ++k) {
    const uint32_t at = Get(header + 8 + k * 4);
    if (at == kNone) continue;
    // A slot must name an item's start.
    uint32_t item = 0;
    while (item < Get(header + 4) && item != at) item += Get(header + kLcListHead + item);
    if (item != at || at >= Get(header + 4)) return nullptr;
  }
  const uint8_t* data = bytes + 16 + dataOffset;
  const uint32_t room = length - 16 - dataOffset - 8;
  const uint32_t capacity = Get(data), used = Get(data + 4);
  if (capacity > room || used >= capacity) return nullptr;
  *error = kLcNoMemory;
  auto* entry = static_cast<LcEntry*>(MemAllocZero(sizeof(LcEntry), Use::Data, kModule));
  if (!entry) return nullptr;
  entry->header = static_cast<uint8_t*>(MemAlloc(kLcListHead + Get(header), Use::Data, kModule));
  entry->data = static_cast<uint8_t*>(MemAlloc(capacity, Use::Data, kModule));
  if (!entry->header || !entry->data) {
    LcEntryFree(&entry);
    return nullptr;
  }
  LibcMemCopy(entry->header, header, kLcListHead + Get(header));
  LibcMemCopy(entry->data, data + 8, used);
  entry->data[used] = 0;
  entry->dataCapacity = capacity;
  entry->dataUsed = used;
  *error = kOk;
  return entry;
}
