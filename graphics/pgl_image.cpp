// One surface from a decoded image: its bands stacked from the top.
#include "graphics/image.h"
#include "graphics/pgl.h"
#include "graphics/pgl_internal.h"
#include "kernel/mem.h"

Result PglSurfaceFromImage(PglViewport* viewport, const ContentImage* image, int animated) {
  uint32_t count;
  PglSurface* const* bands;
  if (animated) {
    const ContentImageFrame* frame = image->firstFrame;
    if (!frame) return PglErr::NoMemory;
    count = frame->bandCount;
    bands = frame->bands;
  } else {
    count = image->bandCount;
    bands = image->bands;
  }
  // The format and pitch come from the first band actually present.
  const PglSurface* first = nullptr;
  for (uint32_t i = 0; i < count && !first; ++i) first = bands[i];
  if (!first) return PglErr::NoMemory;

  const uint32_t w = image->width, h = image->height;
  PglSurface shape;
  PglInitSurface(&shape, w, h, PglFormatOf(first), 0, 0);
  // A band pitch wider than the rows (the WBMP decoder pads them) is kept,
  // and the buffer is sized by it so that the last row fits.
  const uint32_t pitch = first->pitch > shape.pitch ? first->pitch : shape.pitch;
  const uint64_t pitchBytes = PglFormatOf(first) == kPglRgb565 ? uint64_t{pitch} * 2 : pitch;
  const uint64_t bytes = pitchBytes * h;
  if (bytes == 0 || bytes > UINT32_MAX) return PglErr::NoMemory;

  auto* surface = static_cast<PglSurface*>(MemAllocZero(sizeof(PglSurface), kPglUse, Mod::Pgl));
  if (!surface) return PglErr::NoMemory;
  surface->pixels =
      static_cast<uint8_t*>(MemAllocZero(static_cast<uint32_t>(bytes), kPglUse, Mod::Pgl));
  if (!surface->pixels) {
    MemFree(&surface);
    return PglErr::NoMemory;
  }
  surface->width = w;
  surface->height = h;
  surface->rowBytes = shape.rowBytes;
  surface->pitch = pitch;
  surface->flags = first->flags & ~(PglFlag::Inline | PglFlag::Screen);
  *viewport = {surface, 0, 0, w, h, 0};

  int64_t right = int64_t{w} - 1;  // a narrower band narrows every later one
  int64_t y = 0;
  for (uint32_t i = 0; i < count && y < h; ++i) {
    const PglSurface* band = bands[i];
    if (!band) continue;
    surface->key = band->key;
    if (int64_t{band->width} - 1 < right) right = int64_t{band->width} - 1;
    const int64_t rows = band->height < h - y ? band->height : h - y;
    const PglDrawArgs args{const_cast<PglSurface*>(band),
                           0,
                           0,
                           static_cast<int32_t>(right),
                           static_cast<int32_t>(rows - 1),
                           0,
                           static_cast<int32_t>(y),
                           0,
                           0,
                           0};
    if (PglViewportBlit(viewport, &args, 0xFFFF, 0xFFFF) != kOk) break;
    y += band->height;
  }
  return kOk;
}
