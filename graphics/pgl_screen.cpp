// Saving and restoring screen rectangles around popups, menus and splashes.
#include "graphics/pgl.h"
#include "graphics/pgl_internal.h"
#include "kernel/mem.h"

namespace {
uint32_t gBottomBand = 0;
}

void PglSetBottomBand(uint32_t rows) { gBottomBand = rows; }

Result PglSaveScreenRect(PglViewport* viewport, const PglRect* rect) {
  PglSurface screen;
  PglGetScreenSurface(&screen);
  if (!screen.pixels) return PglErr::NoPixels;
  // A rectangle reaching past the screen is cut to it rather than read
  // beyond the frame buffer.
  const int32_t left = rect->left < 0 ? 0 : rect->left;
  const int32_t top = rect->top < 0 ? 0 : rect->top;
  const int32_t lastX = static_cast<int32_t>(screen.width) - 1;
  const int32_t lastY = static_cast<int32_t>(screen.height) - 1;
  const int32_t right = rect->right > lastX ? lastX : rect->right;
  const int32_t bottom = rect->bottom > lastY ? lastY : rect->bottom;
  if (left > right || top > bottom) return PglErr::BadRect;
  const uint32_t w = static_cast<uint32_t>(right - left + 1);
  const uint32_t h = static_cast<uint32_t>(bottom - top + 1);

  auto* copy = static_cast<PglSurface*>(MemAllocZero(sizeof(PglSurface), kPglUse, Mod::Pgl));
  if (!copy) return PglErr::NoMemory;
  copy->pixels = static_cast<uint8_t*>(MemAllocZero(w * h * 2, kPglUse, Mod::Pgl));
  if (!copy->pixels) {
    MemFree(&copy);
    return PglErr::NoMemory;
  }
  copy->width = w;
  copy->height = h;
  copy->rowBytes = w * 2;
  copy->pitch = w;
  // Without the screen mark: drawing into the copy must not repaint the window.
  copy->flags = screen.flags & ~PglFlag::Screen;

  const PglBlitJob job{&screen,
                       copy,
                       static_cast<uint32_t>(left),
                       static_cast<uint32_t>(top),
                       static_cast<uint32_t>(right),
                       static_cast<uint32_t>(bottom),
                       0,
                       0,
                       0};
  PglBlit(&job, 0, 0);
  *viewport = {copy, left, top, w, h, 0};
  return kOk;
}

Result PglRestoreScreenRect(const PglViewport* viewport, const PglRect* rect) {
  const PglSurface* copy = viewport->surface;
  if (!copy) return kPglRestoreRefused;
  int64_t left = rect->left, top = rect->top, right = rect->right, bottom = rect->bottom;
  if (left > right || top > bottom || left < 0 || top < 0 || right > int64_t{copy->width} - 1 ||
      bottom > int64_t{copy->height} - 1)
    return kPglRestoreRefused;

  int64_t x = viewport->x, y = viewport->y;
  if (x < 0) {
    left -= x;
    x = 0;
  }
  if (y < 0) {
    top -= y;
    y = 0;
  }
  PglSurface screen;
  PglGetScreenSurface(&screen);
  const int64_t usable = int64_t{screen.height} - gBottomBand;
  if (x + (right - left + 1) - 1 > int64_t{screen.width} - 1)
    right = left + (int64_t{screen.width} - x) - 1;
  if (y + (bottom - top + 1) - 1 > usable - 1) bottom = top + (usable - y) - 1;
  if (left > right || top > bottom) return kPglRestoreRefused;
  if (!screen.pixels) return PglErr::NoPixels;

  const PglBlitJob job{copy,
                       &screen,
                       static_cast<uint32_t>(left),
                       static_cast<uint32_t>(top),
                       static_cast<uint32_t>(right),
                       static_cast<uint32_t>(bottom),
                       static_cast<uint32_t>(x),
                       static_cast<uint32_t>(y),
                       0};
  return PglBlit(&job, 0, 0);
}

Result PglRestoreScreen(const PglViewport* viewport) {
  if (!viewport->surface) return kPglRestoreRefused;
  const PglRect whole{0, 0, static_cast<int32_t>(viewport->surface->width) - 1,
                      static_cast<int32_t>(viewport->surface->height) - 1};
  return PglRestoreScreenRect(viewport, &whole);
}
