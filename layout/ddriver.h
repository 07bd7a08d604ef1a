// The display store (module 37): the display items a laid-out page is drawn
// from, kept in one pool per page. Layout appends items through the store's
// single writing cursor; the controls read the items they were made for.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct FontInstance;
struct ContentImage;
struct AnimEngPlayer;
struct BenPage;

namespace DDriverKind {
constexpr uint8_t Image = 3, SharedText = 4, OwnText = 5;
}

namespace DDriverFlag {
constexpr uint32_t Loaded = 0x4;  // an image item's picture has arrived
}

// The image object of an image item.
struct DDriverImageObject {
  uint32_t shownWidth, shownHeight;
  uint32_t naturalWidth, naturalHeight;
  uint32_t hspace, vspace;
  uint32_t fixedSize;
  ContentImage* image;
};

struct DDriverItem {
  uint32_t number;  // 1-based place in its store
  uint16_t left;
  int32_t top;
  uint16_t width;
  uint32_t height;
  uint8_t kind;  // DDriverKind
  uint8_t style;
  uint32_t flags;
  const void* source;  // the document node
  const char16_t* chunk;  // kind 4: the shared text; kind 5: the item's own
  uint32_t offset, length;
  FontInstance* font;
  uint16_t foreground, background, focusForeground, focusBackground;  // 0: none
  DDriverImageObject* object;
  AnimEngPlayer* player;
  BenPage* page;
};

struct DDriverStore {
  DDriverItem* items;
  uint32_t capacity;
  uint32_t count;
  uintptr_t cursor;  // the holder of the writing cursor, 0 when free
};

constexpr Result kDDriverNoMemory = ResultError(Mod::DDriver, Err::NoMemory);
constexpr Result kDDriverBadArg = ResultError(Mod::DDriver, Err::BadArg);
constexpr Result kDDriverNotFound = ResultError(Mod::DDriver, Err::NotFound);

// A store with room for `capacity` items.
Result DDriverCreateStore(DDriverStore** out, uint32_t capacity);
void DDriverDestroyStore(DDriverStore** store);
// The one writing cursor: kDDriverBadArg while another holder has it.
Result DDriverCursorBegin(DDriverStore* store, uintptr_t cursor);
Result DDriverCursorEnd(DDriverStore* store, uintptr_t cursor);
// Appends a zeroed item of that height; null (and kDDriverNoMemory in
// *result) when the pool is exhausted or the cursor is not held.
DDriverItem* DDriverAddItem(DDriverStore* store, uintptr_t cursor, uint32_t flags, uint32_t height,
                            BenPage* page, DDriverItem** out, Result* result);
// The item when it belongs to the store, else null with kDDriverNotFound.
DDriverItem* DDriverCheckItem(const DDriverStore* store, uintptr_t cursor, const DDriverItem* item,
                              Result* result);
