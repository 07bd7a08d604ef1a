// The image size sink: the image row of rendering's content-sink table.
#include "widgets/pwl_imagesink.h"

#include "browser/benpage.h"
#include "graphics/image.h"
#include "layout/ddriver.h"
#include "layout/render_request.h"

namespace {

// Sizes come from outside data: an item's 16-bit width and 32-bit height
// saturate rather than wrap.
uint16_t Width16(uint64_t v) { return v > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(v); }
uint32_t Height32(uint64_t v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v); }

BenPage* PageOf(const RenderRequest* request) {
  return BenPageFromHandle(RenderRequestGetPage(request));
}

void FitInline(DDriverItem* item, const ContentImage* image, BenPage* page) {
  DDriverImageObject* obj = item->object;
  if (!obj) return;
  obj->naturalWidth = image->width;
  obj->naturalHeight = image->height;
  if (obj->fixedSize) {
    item->width = Width16(image->width);
    item->height = image->height;
  } else {
    if (obj->shownWidth == 0 || obj->shownWidth > image->width) {
      obj->shownWidth = image->width;
      item->width = Width16(uint64_t{image->width} + 2 * uint64_t{obj->hspace});
      BenPageMarkDirty(page);
    }
    if (obj->shownHeight == 0 || obj->shownHeight > image->height) {
      obj->shownHeight = image->height;
      item->height = Height32(uint64_t{image->height} + 2 * uint64_t{obj->vspace});
      BenPageMarkDirty(page);
    }
  }
  const int64_t bottom = int64_t{item->top} + item->height;
  if (bottom > int64_t{BenPageGetContentHeight(page)})
    BenPageSetContentHeight(page, Height32(static_cast<uint64_t>(bottom)));
}

}  // namespace

Result PwlImageSinkWrite(RenderRequest* request, uintptr_t, const void* data, uint32_t flags) {
  if (flags & PwlSinkFlag::Skip) return kOk;
  if (!request || !request->object) return kOk;
  const auto* image = static_cast<const ContentImage*>(data);
  BenPage* object = request->object;
  const uint32_t pageFlags = BenPageGetFlags(object);
  auto* item = pageFlags & BenPageFlag::ItemIsImage
                   ? reinterpret_cast<DDriverItem*>(BenPageGetField20(object))
                   : nullptr;

  if (pageFlags & BenPageFlag::WaitingForSize) {
    auto* waiting = reinterpret_cast<DDriverImageObject*>(BenPageGetField20(object));
    if (waiting && image && !(waiting->shownWidth && waiting->shownHeight)) {
      BenObjSetField32(object, reinterpret_cast<uintptr_t>(waiting));
      BenObjSetField36(object, reinterpret_cast<uintptr_t>(image));
      waiting->shownWidth = image->width;
      waiting->shownHeight = image->height;
    }
    return kOk;
  }

  BenPage* page = PageOf(request);
  DDriverStore* store = page ? BenPageGetDocument(page) : nullptr;
  if (!store || !image) return kOk;
  BenPageClearDirty(page);
  const auto cursor = reinterpret_cast<uintptr_t>(request);
  if (DDriverCursorBegin(store, cursor) != kOk) return kOk;
  PwlImageSinkPlace(cursor, store, item, image, request);
  DDriverCursorEnd(store, cursor);
  return kOk;
}

void PwlImageSinkPlace(uintptr_t cursor, DDriverStore* store, DDriverItem* item,
                       const ContentImage* image, RenderRequest* request) {
  if (!store || !image || !request) return;
  BenPage* page = PageOf(request);
  BenPage* object = request->object;
  if (!page || !object) return;
  if (object == page) {
    // The image is the whole document: one image item, and the page its size.
    BenObjSetField36(page, reinterpret_cast<uintptr_t>(image));
    if (DDriverItem* added = DDriverAddItem(store, cursor, 0, image->height, page, nullptr, nullptr)) {
      added->kind = DDriverKind::Image;
      added->width = Width16(image->width);
    }
    BenPageSetContentWidth(page, image->width);
    BenPageSetContentHeight(page, image->height);
    return;
  }
  Result r = kOk;
  DDriverItem* found = DDriverCheckItem(store, cursor, item, &r);
  if (!found) return;
  BenObjSetField32(object, reinterpret_cast<uintptr_t>(found->object));
  BenObjSetField36(object, reinterpret_cast<uintptr_t>(image));
  FitInline(found, image, page);
}
