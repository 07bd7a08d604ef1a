#include "browser/benpage.h"

uint32_t BenScrollMark = 0;

uint32_t BenPageGetContentHeight(const BenPage* page) { return page->contentHeight; }
void BenPageSetContentWidth(BenPage* page, uint32_t width) { page->contentWidth = width; }
void BenPageSetContentHeight(BenPage* page, uint32_t height) { page->contentHeight = height; }
DDriverStore* BenPageGetDocument(const BenPage* page) { return page->store; }
uint32_t BenPageGetFlags(const BenPage* page) { return page->flags; }
uintptr_t BenPageGetField20(const BenPage* page) { return page->imageItem; }
BenPage* BenPageFromHandle(uintptr_t handle) { return reinterpret_cast<BenPage*>(handle); }
void BenObjSetField32(BenPage* object, uintptr_t value) { object->sizedObject = value; }
void BenObjSetField36(BenPage* object, uintptr_t value) { object->sizeRecord = value; }
uintptr_t BenObjGetText36(const BenPage* object) { return object->sizeRecord; }

void BenPageMarkDirty(BenPage* page) { page->flags |= BenPageFlag::Dirty; }

void BenPageClearDirty(BenPage* page) {
  if (!(page->flags & BenPageFlag::Dirty)) return;
  page->flags &= ~BenPageFlag::Dirty;
  if (page->parent && page->parent->pending) --page->parent->pending;
}

