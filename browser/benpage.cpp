#include "browser/benpage.h"

#include "widgets/pwl.h"

uint32_t BenScrollMark = 0;

uint32_t BenPageGetContentHeight(const BenPage* page) { return page->contentHeight; }
void BenPageSetContentWidth(BenPage* page, uint32_t width) { page->contentWidth = width; }
void BenPageSetContentHeight(BenPage* page, uint32_t height) { page->contentHeight = height; }
DDriverStore* BenPageGetDocument(const BenPage* page) { return page->store; }
uint32_t BenPageGetFlags(const BenPage* page) { return page->flags; }
uintptr_t BenPageGetField20(const BenPage* page) { return page->field20; }
BenPage* BenPageFromHandle(uintptr_t handle) { return reinterpret_cast<BenPage*>(handle); }
void BenObjSetField32(BenPage* object, uintptr_t value) { object->field32 = value; }
void BenObjSetField36(BenPage* object, uintptr_t value) { object->field36 = value; }
uintptr_t BenObjGetText36(const BenPage* object) { return object->field36; }

void BenPageMarkDirty(BenPage* page) { page->flags |= BenPageFlag::Dirty; }

void BenPageClearDirty(BenPage* page) {
  if (!(page->flags & BenPageFlag::Dirty)) return;
  page->flags &= ~BenPageFlag::Dirty;
  if (page->parent && page->parent->pending) --page->parent->pending;
}

namespace {

// The page and its view window move together: the window's origin is the
// page's scroll top.
void ScrollTo(BenPage* page, uint32_t top) {
  page->scrollTop = top;
  if (page->view) {
    PwlOrigin origin{};
    PwlGetOrigin(page->view, &origin);
    origin.y = top;
    PwlSetOrigin(page->view, &origin);
  }
}

bool AtBottom(const BenPage* page, uint32_t margin) {
  return uint64_t{page->scrollTop} + margin + 1 >= page->contentHeight;
}

}  // namespace

Result BenPageScrollToEdge(BenPage* page, uint32_t direction, uint32_t margin) {
  if (direction == 1) {
    if (page->scrollTop == 0) return kBenPageAtEdge;
    const uint32_t mark = BenScrollMark;
    BenScrollMark = 1;
    ScrollTo(page, 0);
    BenScrollMark = mark;
    return kOk;
  }
  return BenPageScrollToBottom(page, margin);
}

Result BenPageScrollToBottom(BenPage* page, uint32_t margin) {
  if (AtBottom(page, margin)) return kBenPageAtEdge;
  ScrollTo(page, page->contentHeight - margin - 1);
  return kOk;
}
