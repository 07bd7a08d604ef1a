#include "host/platform/textinput.h"

namespace {
bool DefaultOpen(void*, const TiwWindowSpec*) { return false; }
void DefaultClose(void*) {}
uint32_t DefaultTextLength(void*) { return 0; }
uint32_t DefaultCopyText(void*, char16_t* dest, uint32_t size) {
  if (size) dest[0] = 0;
  return 0;
}
int32_t DefaultCurrentItem(void*) { return -1; }
uint32_t DefaultSelectedCount(void*) { return 0; }
uint32_t DefaultSelectedItems(void*, uint32_t*, uint32_t) { return 0; }

constexpr TiwOps kDefaults = {nullptr,           DefaultOpen,          DefaultClose,
                              DefaultTextLength, DefaultCopyText,      DefaultCurrentItem,
                              DefaultSelectedCount, DefaultSelectedItems};
const TiwOps* gOps = &kDefaults;

void* gSession = nullptr;
int32_t gType = TiwType::Line;

// Marks the session open and shows the window; a window that cannot be made
// leaves nothing open.
void* Show(void* session, const TiwWindowSpec& spec) {
  if (gSession || !session) return nullptr;
  gSession = session;
  gType = spec.type;
  if (!gOps->open(gOps->ctx, &spec)) {
    gSession = nullptr;
    return nullptr;
  }
  return session;
}
}  // namespace

const TiwOps* TiwInstall(const TiwOps* ops) {
  const TiwOps* old = gOps;
  gOps = ops ? ops : &kDefaults;
  return old == &kDefaults ? nullptr : old;
}

int32_t TiwTypeForMode(uint32_t mode) {
  if (mode & (TiwMode::Password | TiwMode::PasswordToo)) return TiwType::Password;
  if ((mode & TiwMode::MultiLine) && !(mode & (TiwMode::Line | TiwMode::Plain)))
    return TiwType::MultiLine;
  return TiwType::Line;
}

void* TiwOpen(void* session, const TiwPlace* owner, const char16_t* title, const char16_t* text,
              const char16_t*, uint32_t mode, uint32_t maxLength) {
  TiwPlace place{};
  if (owner) {
    place.x = owner->x + kTiwBorder;
    place.y = owner->y + kTiwBorder;
    place.width = owner->width > kTiwBorder ? owner->width - kTiwBorder : 0;
    place.height = owner->height;
  }
  const TiwWindowSpec spec{TiwTypeForMode(mode), title, text, maxLength,
                           owner ? &place : nullptr, nullptr, 0};
  return Show(session, spec);
}

void* TiwOpenList(void* session, const char16_t* title, const TiwItem* items, uint32_t mode,
                  uint32_t count) {
  int32_t type = TiwType::Line;
  if (mode & TiwMode::Single)
    type = TiwType::Single;
  else if (mode & TiwMode::Multiple)
    type = TiwType::Multiple;
  const TiwWindowSpec spec{type, title, nullptr, 0, nullptr, items, items ? count : 0};
  return Show(session, spec);
}

void TiwClose(void*) {
  if (!gSession) return;
  gSession = nullptr;
  gOps->close(gOps->ctx);
}

void* TiwOpenSession() { return gSession; }
int32_t TiwOpenType() { return gType; }

uint32_t TiwTextLength() { return gSession ? gOps->textLength(gOps->ctx) : 0; }

uint32_t TiwCopyText(char16_t* dest, uint32_t size) {
  if (!dest || !size) return 0;
  if (!gSession) {
    dest[0] = 0;
    return 0;
  }
  return gOps->copyText(gOps->ctx, dest, size);
}

int32_t TiwCurrentItem() { return gSession ? gOps->currentItem(gOps->ctx) : -1; }
uint32_t TiwSelectedCount() { return gSession ? gOps->selectedCount(gOps->ctx) : 0; }
uint32_t TiwSelectedItems(uint32_t* dest, uint32_t capacity) {
  return gSession && dest ? gOps->selectedItems(gOps->ctx, dest, capacity) : 0;
}
