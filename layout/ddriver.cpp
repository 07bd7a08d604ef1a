#include "layout/ddriver.h"

#include "kernel/mem.h"

Result DDriverCreateStore(DDriverStore** out, uint32_t capacity) {
  *out = nullptr;
  if (capacity == 0 || capacity > 0xFFFFFF / sizeof(DDriverItem)) return kDDriverBadArg;
  auto* store = static_cast<DDriverStore*>(MemAllocZero(sizeof(DDriverStore), Use::Data,
                                                        Mod::DDriver));
  if (!store) return kDDriverNoMemory;
  store->items = static_cast<DDriverItem*>(
      MemAllocZero(capacity * static_cast<uint32_t>(sizeof(DDriverItem)), Use::Data, Mod::DDriver));
  if (!store->items) {
    MemFree(&store);
    return kDDriverNoMemory;
  }
  store->capacity = capacity;
  *out = store;
  return kOk;
}

void DDriverDestroyStore(DDriverStore** store) {
  if (!*store) return;
  MemFree(&(*store)->items);
  MemFree(store);
}

Result DDriverCursorBegin(DDriverStore* store, uintptr_t cursor) {
  if (!store || !cursor || (store->cursor && store->cursor != cursor)) return kDDriverBadArg;
  store->cursor = cursor;
  return kOk;
}

Result DDriverCursorEnd(DDriverStore* store, uintptr_t cursor) {
  if (!store || store->cursor != cursor) return kDDriverBadArg;
  store->cursor = 0;
  return kOk;
}

DDriverItem* DDriverAddItem(DDriverStore* store, uintptr_t cursor, uint32_t flags,
                            uint32_t height, BenPage* page, DDriverItem** out, Result* result) {
  DDriverItem* item = nullptr;
  Result r = kDDriverNoMemory;
  if (store && cursor && store->cursor == cursor && store->count < store->capacity) {
    item = &store->items[store->count++];
    *item = DDriverItem{};
    item->number = store->count;
    item->flags = flags;
    item->height = height;
    item->page = page;
    r = kOk;
  }
  if (out) *out = item;
  if (result) *result = r;
  return item;
}

DDriverItem* DDriverCheckItem(const DDriverStore* store, uintptr_t, const DDriverItem* item,
                              Result* result) {
  const bool inside = store && item && item >= store->items &&
                      item < store->items + store->count;
  if (result) *result = inside ? kOk : kDDriverNotFound;
  return inside ? const_cast<DDriverItem*>(item) : nullptr;
}
