// The section store: sections in memory, their byte blocks, and the stack of
// open folders of a settings handle.
#include "kernel/sstore.h"

#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

// A value node of an editable section. Names and values live in the
// section's data area and are kept as offsets, so growing the area never
// leaves a node pointing at the old one.
struct StoreNode {
  QueueNode link;
  uint32_t nameLength;
  uint32_t nameOffset;
  uint32_t valueLength;
  uint32_t kind;
  uint32_t valueOffset;
};

}  // namespace

struct StoreSection {
  Queue nodes;  // editable: StoreNode, in stored order
  bool editable;
  bool dirty;
  const uint8_t* raw;  // read-only: the checked block, searched in place
  uint32_t rawLength;  // bytes of entries before the end marker
  uint8_t* data;       // editable: names and values
  uint32_t used;
  uint32_t capacity;
};

namespace {

constexpr uint32_t kStoreGrowMin = 64;
// No section the storage classes could hold comes near this.
constexpr uint32_t kStoreAreaLimit = 1u << 26;

uint32_t PaddedEntrySize(uint32_t nameLength, uint32_t valueLength) {
  return (5 + valueLength + nameLength + 1) & ~1u;
}

enum class Decode { Entry, End, Damaged };

// Reads the entry at `offset`. Only an entry whose value or name would run
// past the block is damage: a block that ends where its end marker (or part
// of it) would be ends there, and the byte after a name is not looked at.
// On Entry, *next is the offset of the following entry, which may lie past
// the block when its last entry's terminator or pad is missing.
Decode DecodeEntry(const uint8_t* block, uint32_t length, uint32_t offset, StoreEntry* entry,
                   uint32_t* next) {
  if (offset >= length || length - offset < 2) return Decode::End;
  const uint8_t* p = block + offset;
  const uint32_t nameLength = p[1];
  if (nameLength == 0) return Decode::End;
  if (length - offset < 4) return Decode::Damaged;
  const uint32_t valueLength = uint32_t{p[2]} << 8 | p[3];
  if (4 + valueLength + nameLength > length - offset) return Decode::Damaged;
  entry->kind = p[0];
  entry->valueLength = valueLength;
  entry->value = p + 4;
  entry->nameLength = nameLength;
  entry->name = p + 4 + valueLength;
  *next = offset + PaddedEntrySize(nameLength, valueLength);
  return Decode::Entry;
}

// Walks the whole block: the length of its entries (where the end marker
// starts, or the block's end), or -1 when damaged. *terminated tells whether
// every name is followed by its 0 inside the block, so that the block can
// be read in place with names as 0-terminated text.
int64_t CheckBlock(const uint8_t* block, uint32_t length, bool* terminated) {
  uint32_t offset = 0;
  *terminated = true;
  for (;;) {
    StoreEntry entry;
    uint32_t next;
    switch (DecodeEntry(block, length, offset, &entry, &next)) {
      case Decode::End:
        return offset < length ? offset : length;
      case Decode::Damaged:
        return -1;
      case Decode::Entry: {
        const uint32_t nameEnd = static_cast<uint32_t>(entry.name - block) + entry.nameLength;
        if (nameEnd >= length || block[nameEnd] != 0) *terminated = false;
        offset = next;
        break;
      }
    }
  }
}

uint32_t NameLengthOf(const char* name, uint32_t nameLength) {
  return nameLength ? nameLength : (name ? LibcStrLen(name) : 0);
}

bool NameMatches(const StoreEntry& entry, const char* name, uint32_t nameLength) {
  return entry.nameLength == nameLength && LibcMemCompare(entry.name, name, nameLength) == 0;
}

StoreNode* NodeOf(QueueNode* link) { return reinterpret_cast<StoreNode*>(link); }

void EntryOfNode(const StoreSection* section, const StoreNode* node, StoreEntry* entry) {
  entry->kind = node->kind;
  entry->name = section->data + node->nameOffset;
  entry->nameLength = node->nameLength;
  entry->value = section->data + node->valueOffset;
  entry->valueLength = node->valueLength;
}

void FreeNodes(StoreSection* section) {
  while (QueueNode* link = QueuePopFront(&section->nodes)) MemFreeRaw(link);
}

// Makes room for `extra` more bytes after an even offset.
Result Reserve(StoreSection* section, uint32_t extra) {
  const uint32_t start = (section->used + 1) & ~1u;
  if (extra > kStoreAreaLimit - start) return kStoreNoMemory;
  const uint32_t needed = start + extra;
  if (needed <= section->capacity) return kOk;
  uint32_t capacity = section->capacity * 2;
  if (capacity < needed) capacity = needed;
  if (capacity < kStoreGrowMin) capacity = kStoreGrowMin;
  if (capacity > kStoreAreaLimit) capacity = kStoreAreaLimit;
  void* grown = section->data ? MemRealloc(section->data, capacity, 0, Mod::SStore)
                              : MemAlloc(capacity, Use::Data, Mod::SStore);
  if (!grown) return kStoreNoMemory;
  section->data = static_cast<uint8_t*>(grown);
  section->capacity = capacity;
  return kOk;
}

// Appends bytes (and a 0 when asked) at an even offset; room must be reserved.
uint32_t AppendBytes(StoreSection* section, const void* bytes, uint32_t length, bool terminate) {
  uint32_t offset = (section->used + 1) & ~1u;
  if (length) LibcMemMove(section->data + offset, bytes, length);
  section->used = offset + length;
  if (terminate) section->data[section->used++] = 0;
  return offset;
}

StoreNode* FindNode(const StoreSection* section, const char* name, uint32_t nameLength,
                    StoreNode** previous) {
  StoreNode* prev = nullptr;
  for (QueueNode* link = section->nodes.head; link; link = link->next) {
    StoreNode* node = NodeOf(link);
    if (node->nameLength == nameLength &&
        LibcMemCompare(section->data + node->nameOffset, name, nameLength) == 0) {
      if (previous) *previous = prev;
      return node;
    }
    prev = node;
  }
  return nullptr;
}

bool InsideArea(const StoreSection* section, const void* p) {
  auto at = reinterpret_cast<uintptr_t>(p);
  auto base = reinterpret_cast<uintptr_t>(section->data);
  return section->data && at >= base && at < base + section->capacity;
}

StoreStackRecord* RecordOf(ListNode* node) { return reinterpret_cast<StoreStackRecord*>(node); }

void FreeRecord(StoreStackRecord* record) {
  ListRemove(&record->link);
  StoreFreeSection(&record->section);
  MemFree(&record);
}

}  // namespace

Result StoreParseSection(StoreSection** out, const uint8_t* block, uint32_t length, uint32_t* used,
                         bool editable) {
  *out = nullptr;
  if (used) *used = 0;
  auto* section =
      static_cast<StoreSection*>(MemAllocZero(sizeof(StoreSection), Use::Data, Mod::SStore));
  if (!section) return kStoreNoMemory;
  section->editable = editable;
  if (length == 0 || !block) {
    *out = section;
    return kOk;
  }
  bool terminated = true;
  const int64_t end = CheckBlock(block, length, &terminated);
  if (end < 0) {
    *out = section;
    return kStoreMalformed;
  }
  const auto entriesLength = static_cast<uint32_t>(end);
  if (!editable && terminated) {
    section->raw = block;
    section->rawLength = entriesLength;
  } else if (entriesLength > 0) {
    // A copy of our own, with every name given its 0 (the byte after a name
    // may be anything, or past the block); one spare byte for the last one.
    if (Reserve(section, entriesLength + 1) != kOk) {
      StoreFreeSection(&section);
      return kStoreNoMemory;
    }
    AppendBytes(section, block, entriesLength, false);
    section->data[section->used++] = 0;
    uint32_t offset = 0;
    StoreEntry entry;
    uint32_t next;
    while (DecodeEntry(section->data, entriesLength, offset, &entry, &next) == Decode::Entry) {
      const uint32_t nameOffset = offset + 4 + entry.valueLength;
      section->data[nameOffset + entry.nameLength] = 0;
      offset = next;
      if (!editable) continue;
      auto* node = static_cast<StoreNode*>(MemAlloc(sizeof(StoreNode), Use::Data, Mod::SStore));
      if (!node) {
        StoreFreeSection(&section);
        return kStoreNoMemory;
      }
      node->link.next = nullptr;
      node->kind = entry.kind;
      node->nameLength = entry.nameLength;
      node->nameOffset = nameOffset;
      node->valueLength = entry.valueLength;
      node->valueOffset = nameOffset - entry.valueLength;
      QueueAppend(&section->nodes, &node->link);
    }
    if (!editable) {
      section->raw = section->data;
      section->rawLength = entriesLength;
    }
  }
  if (used) *used = length - entriesLength < kStoreEndBytes ? length : entriesLength + kStoreEndBytes;
  *out = section;
  return kOk;
}

bool StoreBlockEnded(const uint8_t* block, uint32_t length) {
  if (length == 0) return true;
  if (!block) return false;
  bool terminated = true;
  const int64_t end = CheckBlock(block, length, &terminated);
  if (end < 0) return false;
  const auto entriesLength = static_cast<uint32_t>(end);
  if (length - entriesLength < kStoreEndBytes) return false;
  for (uint32_t i = 0; i < kStoreEndBytes; ++i)
    if (block[entriesLength + i] != 0) return false;
  return true;
}

void StoreFreeSection(StoreSection** section) {
  if (!*section) return;
  FreeNodes(*section);
  MemFree(&(*section)->data);
  MemFree(section);
}

bool StoreIsEditable(const StoreSection* section) { return section->editable; }
bool StoreIsDirty(const StoreSection* section) { return section->dirty; }

Result StoreReadValue(const StoreSection* section, const char* name, uint32_t nameLength,
                      StoreEntry* entry) {
  nameLength = NameLengthOf(name, nameLength);
  uintptr_t cursor;
  for (Result r = StoreFirst(section, &cursor, entry); r == kOk;
       r = StoreNext(section, &cursor, entry))
    if (NameMatches(*entry, name, nameLength)) return kOk;
  return kStoreNotFound;
}

Result StoreWriteValue(StoreSection* section, const char* name, uint32_t nameLength,
                       const void* value, uint32_t valueLength, uint32_t kind) {
  nameLength = NameLengthOf(name, nameLength);
  if (!section->editable || nameLength == 0 || nameLength > kStoreMaxName ||
      valueLength > kStoreMaxValue || kind > 0xFF || (valueLength && !value))
    return kStoreBadArg;
  // A value taken from this very section must survive the area moving.
  const bool fromArea = InsideArea(section, value);
  const uint32_t valueAt = fromArea ? static_cast<uint32_t>(static_cast<const uint8_t*>(value) -
                                                            section->data)
                                    : 0;
  StoreNode* node = FindNode(section, name, nameLength, nullptr);
  if (node && valueLength <= node->valueLength) {
    if (valueLength) LibcMemMove(section->data + node->valueOffset, value, valueLength);
  } else if (node) {
    if (Reserve(section, valueLength) != kOk) return kStoreNoMemory;
    const void* source = fromArea ? section->data + valueAt : value;
    node->valueOffset = AppendBytes(section, source, valueLength, false);
  } else {
    auto* fresh = static_cast<StoreNode*>(MemAlloc(sizeof(StoreNode), Use::Data, Mod::SStore));
    if (!fresh) return kStoreNoMemory;
    // The name may come from the area too; keep it as an offset likewise.
    const bool nameFromArea = InsideArea(section, name);
    const uint32_t nameAt = nameFromArea ? static_cast<uint32_t>(
                                               reinterpret_cast<const uint8_t*>(name) -
                                               section->data)
                                         : 0;
    if (Reserve(section, valueLength + 1 + nameLength + 1) != kOk) {
      MemFree(&fresh);
      return kStoreNoMemory;
    }
    const void* source = fromArea ? section->data + valueAt : value;
    fresh->link.next = nullptr;
    fresh->valueOffset = AppendBytes(section, source, valueLength, false);
    const void* nameSource =
        nameFromArea ? static_cast<const void*>(section->data + nameAt) : name;
    fresh->nameOffset = AppendBytes(section, nameSource, nameLength, true);
    fresh->nameLength = nameLength;
    QueueAppend(&section->nodes, &fresh->link);
    node = fresh;
  }
  node->valueLength = valueLength;
  node->kind = kind;
  section->dirty = true;
  return kOk;
}

Result StoreDeleteKey(StoreSection* section, const char* name, uint32_t nameLength) {
  if (!section->editable) return kStoreBadArg;
  nameLength = NameLengthOf(name, nameLength);
  StoreNode* node = FindNode(section, name, nameLength, nullptr);
  if (!node) return kStoreNotFound;
  QueueRemove(&section->nodes, &node->link);
  MemFree(&node);
  section->dirty = true;
  return kOk;
}

Result StoreDeleteAll(StoreSection* section) {
  if (!section->editable) return kStoreBadArg;
  FreeNodes(section);
  section->used = 0;
  section->dirty = true;
  return kOk;
}

Result StoreFirst(const StoreSection* section, uintptr_t* cursor, StoreEntry* entry) {
  *cursor = 0;
  return StoreNext(section, cursor, entry);
}

Result StoreNext(const StoreSection* section, uintptr_t* cursor, StoreEntry* entry) {
  if (section->editable) {
    // The cursor is the node handed out last; 0 before the first.
    QueueNode* link = *cursor ? reinterpret_cast<QueueNode*>(*cursor)->next : section->nodes.head;
    if (!link) return kStoreNotFound;
    EntryOfNode(section, NodeOf(link), entry);
    *cursor = reinterpret_cast<uintptr_t>(link);
    return kOk;
  }
  // The cursor is the offset of the next entry in the checked block.
  if (*cursor >= section->rawLength) return kStoreNotFound;
  uint32_t next;
  if (DecodeEntry(section->raw, section->rawLength, static_cast<uint32_t>(*cursor), entry,
                  &next) != Decode::Entry)
    return kStoreNotFound;
  *cursor = next;
  return kOk;
}

Result StoreSerialize(StoreSection** section, uint8_t* buffer, uint32_t* size, bool freeAfter) {
  StoreSection* s = *section;
  uint64_t needed = kStoreEndBytes;
  uintptr_t cursor;
  StoreEntry entry;
  for (Result r = StoreFirst(s, &cursor, &entry); r == kOk; r = StoreNext(s, &cursor, &entry))
    needed += PaddedEntrySize(entry.nameLength, entry.valueLength);
  Result result = kOk;
  if (needed > UINT32_MAX) {
    result = kStoreBadArg;
  } else if (!buffer) {
    *size = static_cast<uint32_t>(needed);
  } else if (*size < needed) {
    result = kStoreBadArg;
  } else {
    uint8_t* p = buffer;
    for (Result r = StoreFirst(s, &cursor, &entry); r == kOk; r = StoreNext(s, &cursor, &entry)) {
      p[0] = static_cast<uint8_t>(entry.kind);
      p[1] = static_cast<uint8_t>(entry.nameLength);
      p[2] = static_cast<uint8_t>(entry.valueLength >> 8);
      p[3] = static_cast<uint8_t>(entry.valueLength);
      LibcMemCopy(p + 4, entry.value, entry.valueLength);
      LibcMemCopy(p + 4 + entry.valueLength, entry.name, entry.nameLength);
      const uint32_t tail = 4 + entry.valueLength + entry.nameLength;
      const uint32_t padded = PaddedEntrySize(entry.nameLength, entry.valueLength);
      LibcMemSet(p + tail, 0, padded - tail);
      p += padded;
    }
    LibcMemSet(p, 0, kStoreEndBytes);
    *size = static_cast<uint32_t>(needed);
  }
  if (freeAfter) StoreFreeSection(section);
  return result;
}

uint32_t StoreEntryBytes(uint32_t nameLength, uint32_t valueLength) {
  return PaddedEntrySize(nameLength, valueLength);
}

void StoreStackInit(ListHead* stack) { ListInit(stack); }

StoreStackRecord* StoreTop(ListHead* stack) {
  ListNode* last = ListLast(stack);
  return last ? RecordOf(last) : nullptr;
}

uint32_t StoreDepth(const ListHead* stack) {
  uint32_t depth = 0;
  for (const ListNode* n = stack->first; n->next; n = n->next) ++depth;
  return depth;
}

Result StoreOpenSection(ListHead* stack, const char* name, uint32_t nameLength,
                        const uint8_t* block, uint32_t length, bool editable) {
  nameLength = NameLengthOf(name, nameLength);
  if (nameLength > kStoreMaxName) return kStoreBadArg;
  auto* record = static_cast<StoreStackRecord*>(
      MemAllocZero(sizeof(StoreStackRecord), Use::Data, Mod::SStore));
  if (!record) return kStoreNoMemory;
  Result result = StoreParseSection(&record->section, block, length, nullptr, editable);
  if (!record->section) {
    MemFree(&record);
    return result;
  }
  record->nameLength = nameLength;
  if (nameLength) LibcMemCopy(record->name, name, nameLength);
  record->baseLevel = StoreDepth(stack);
  ListAppend(stack, &record->link);
  return result;
}

Result StoreCommitLevel(ListHead* stack, const char* name, uint32_t nameLength) {
  StoreStackRecord* top = StoreTop(stack);
  if (!top) return kStoreNotFound;
  ListNode* previous = ListPrev(&top->link);
  StoreStackRecord* below = previous ? RecordOf(previous) : nullptr;
  Result result = kOk;
  if (!below) {
    result = kStoreNotFound;
  } else if (StoreIsDirty(top->section)) {
    if (!name) {
      name = reinterpret_cast<const char*>(top->name);
      nameLength = top->nameLength;
    }
    uint32_t size = 0;
    StoreSerialize(&top->section, nullptr, &size, false);
    if (size > kStoreMaxValue) {
      result = kStoreBadArg;
    } else if (auto* bytes = static_cast<uint8_t*>(MemAlloc(size, Use::Data, Mod::SStore))) {
      result = StoreSerialize(&top->section, bytes, &size, true);
      if (result == kOk)
        result = StoreWriteValue(below->section, name, nameLength, bytes, size, StoreKind::Folder);
      MemFree(&bytes);
    } else {
      result = kStoreNoMemory;
    }
  }
  FreeRecord(top);
  return result;
}

void StoreReleaseSection(ListHead* stack) {
  if (StoreStackRecord* top = StoreTop(stack)) FreeRecord(top);
}

void StoreReleaseAll(ListHead* stack) {
  while (StoreStackRecord* top = StoreTop(stack)) FreeRecord(top);
}
