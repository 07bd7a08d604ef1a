// Serialised sections: arbitrary bytes as a whole storage-class file and as
// a folder nested inside one. Nothing reads past the bytes, a parse either
// succeeds or answers kStoreMalformed, and whatever parsed serialises to a
// block that parses to the same entries.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "kernel/config.h"
#include "kernel/heap.h"
#include "kernel/sstore.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

using Entries = std::vector<std::string>;

Entries List(const StoreSection* s) {
  Entries out;
  uintptr_t cursor;
  StoreEntry e;
  for (Result r = StoreFirst(s, &cursor, &e); r == kOk; r = StoreNext(s, &cursor, &e))
    out.push_back(std::to_string(e.kind) + ":" +
                  std::string(reinterpret_cast<const char*>(e.name), e.nameLength) + "=" +
                  std::string(reinterpret_cast<const char*>(e.value), e.valueLength));
  return out;
}

std::vector<uint8_t> Serialize(StoreSection* s) {
  uint32_t size = 0;
  Check(StoreSerialize(&s, nullptr, &size, false) == kOk);
  std::vector<uint8_t> out(size);
  Check(StoreSerialize(&s, out.data(), &size, false) == kOk);
  return out;
}

// Opens every folder below the top of the stack, a few levels deep.
void Descend(ListHead* stack, int depth) {
  if (depth > 6) return;
  uintptr_t cursor;
  StoreEntry e;
  const StoreSection* top = StoreTop(stack)->section;
  for (Result r = StoreFirst(top, &cursor, &e); r == kOk; r = StoreNext(top, &cursor, &e)) {
    if (e.kind != StoreKind::Folder) continue;
    const Result opened = StoreOpenSection(stack, reinterpret_cast<const char*>(e.name),
                                          e.nameLength, e.value, e.valueLength, false);
    Check(opened == kOk || opened == kStoreMalformed);
    Descend(stack, depth + 1);
    StoreReleaseSection(stack);
  }
}

void AsClassFile(const uint8_t* data, uint32_t size) {
  StoreSection* ro = nullptr;
  StoreSection* ed = nullptr;
  const Result r1 = StoreParseSection(&ro, data, size, nullptr, false);
  const Result r2 = StoreParseSection(&ed, data, size, nullptr, true);
  Check(r1 == r2 && (r1 == kOk || r1 == kStoreMalformed));
  Check(List(ro) == List(ed));

  ListHead stack;
  StoreStackInit(&stack);
  Check(StoreOpenSection(&stack, "", 0, data, size, false) == r1);
  Descend(&stack, 0);
  StoreReleaseAll(&stack);

  // Edits, then the round trip.
  StoreWriteValue(ed, "fz", 0, "value", 6, StoreKind::String);
  uintptr_t cursor;
  StoreEntry e;
  if (StoreFirst(ro, &cursor, &e) == kOk)
    StoreDeleteKey(ed, reinterpret_cast<const char*>(e.name), e.nameLength);
  const std::vector<uint8_t> block = Serialize(ed);
  StoreSection* back = nullptr;
  Check(StoreParseSection(&back, block.data(), static_cast<uint32_t>(block.size()), nullptr,
                          false) == kOk);
  Check(List(back) == List(ed));
  StoreFreeSection(&back);
  StoreFreeSection(&ed);
  StoreFreeSection(&ro);
}

// The bytes as the folder "f" of a free-standing settings handle, read
// through the settings store's typed readers.
void AsNestedSection(const uint8_t* data, uint32_t size) {
  if (size > kStoreMaxValue) return;
  ConfigHandle* h = nullptr;
  if (ConfigCreate(&h) != kOk) return;
  Check(ConfigSetRaw(h, "f", 0, data, size, ConfigKind::Folder) == kOk);
  uint32_t slot = 0;
  const Result found = ConfigFindSlot(&slot, h, "url", 0);
  Check(found == kOk || found == kConfigNoFreeSlot);
  Check(ConfigOpenPath(h, "f", 0, false) == kOk);
  uintptr_t cursor = 0;
  const char* name;
  uint32_t nameLength, valueLength;
  const uint8_t* value;
  ConfigKind kind;
  while (ConfigEnum(h, &cursor, &name, &nameLength, &value, &valueLength, &kind) == kOk) {
    Check(name[nameLength] == '\0');
    const char* text;
    const char16_t* wide;
    int32_t number;
    if (ConfigGetString(h, name, nameLength, &text) == kOk) Check(text != nullptr);
    if (ConfigGetWString(h, name, nameLength, &wide) == kOk) Check(wide != nullptr);
    ConfigGetInt(h, name, nameLength, &number);
  }
  ConfigSetInt(h, "n", 1);
  const Result closed = ConfigClose(h, true);
  Check(closed == kOk || closed == kStoreBadArg);
  ConfigFreeHandle(&h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 100000) return 0;
  static std::vector<uint64_t> arena(4u << 20 >> 3);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  AsClassFile(data, static_cast<uint32_t>(size));
  AsNestedSection(data, static_cast<uint32_t>(size));
  Check(HeapValidate() == nullptr);
  const HeapStats stats = HeapGetStats();
  Check(stats.freeBytes == stats.arenaBytes);  // nothing leaked
  return 0;
}
