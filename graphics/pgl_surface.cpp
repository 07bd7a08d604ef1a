// Surface headers, their sizes, the screen surface and the viewport records
// that own created surfaces.
#include "graphics/pgl.h"
#include "graphics/pgl_internal.h"
#include "host/platform/shell.h"
#include "kernel/mem.h"

namespace {

uint64_t RowBytesOf(uint32_t width, uint32_t format) {
  switch (format) {
    case kPglMono: return (uint64_t{width} + 7) / 8;
    case kPglGrey: return (uint64_t{width} + 3) / 4;
    case kPglCube: return width;
    case kPglRgb565: return uint64_t{width} * 2;
    default: return 0;  // format 3 and strangers are not sized
  }
}

}  // namespace

uint8_t* PglPixels(const PglSurface* surface) {
  if (surface->flags & PglFlag::Inline)
    return const_cast<uint8_t*>(reinterpret_cast<const uint8_t*>(surface + 1));
  return surface->pixels;
}

void PglInvalidate(const PglSurface* s, int32_t left, int32_t top, int32_t right,
                   int32_t bottom) {
  if (s->flags & PglFlag::Screen) ShellInvalidateScreen(left, top, right, bottom);
}

// A size that does not fit 32 bits would wrap to a small block that the
// caller then writes the whole image into; it is reported as 0 bytes instead.
Result PglSurfaceSize(uint32_t* size, uint32_t width, uint32_t height, uint32_t format,
                      uint32_t /*ignored*/, uint32_t flags) {
  uint64_t bytes = RowBytesOf(width, format) * height;
  if (flags & PglFlag::Inline) bytes += sizeof(PglSurface);
  if (bytes > UINT32_MAX) {
    *size = 0;
    return PglErr::NoMemory;
  }
  *size = static_cast<uint32_t>(bytes);
  return kOk;
}

void PglInitSurface(PglSurface* surface, uint32_t width, uint32_t height, uint32_t format,
                    uint32_t extraFlags, uint32_t inlineFlags) {
  format &= PglFlag::Format;
  surface->width = width;
  surface->height = height;
  surface->pixels = nullptr;
  surface->flags = format | (extraFlags & PglFlag::Kept) | (inlineFlags & 0x70);
  surface->rowBytes = static_cast<uint32_t>(RowBytesOf(width, format));
  surface->pitch = format == kPglRgb565 ? surface->rowBytes / 2 : surface->rowBytes;
}

void PglFreeSurfacePixels(PglSurface* surface) {
  if (surface->pixels && !(surface->flags & (PglFlag::Inline | PglFlag::Screen)))
    MemFree(&surface->pixels);
  surface->width = surface->height = surface->rowBytes = surface->pitch = 0;
  surface->flags = 0;
}

void PglGetScreenSurface(PglSurface* surface) {
  const ShellScreen& screen = ShellGetScreen();
  surface->pixels = reinterpret_cast<uint8_t*>(screen.pixels);
  surface->width = static_cast<uint32_t>(screen.width);
  surface->height = static_cast<uint32_t>(screen.height);
  surface->rowBytes = surface->width * 2;
  surface->pitch = static_cast<uint32_t>(screen.pitch);
  surface->flags = kPglRgb565 | PglFlag::Screen | 0x80;
  surface->key = 0;
}

Result PglAllocViewport(PglViewport** out) {
  *out = static_cast<PglViewport*>(MemAllocZero(sizeof(PglViewport), kPglUse, Mod::Pgl));
  return *out ? kOk : PglErr::NoMemory;
}

void PglFreeSurface(PglViewport** viewport) {
  PglViewport* vp = *viewport;
  if (!vp) return;
  if (vp->surface) {
    // The screen's header may be the caller's own; only created copies go.
    if (!(vp->surface->flags & PglFlag::Screen)) {
      PglFreeSurfacePixels(vp->surface);
      MemFree(&vp->surface);
    }
  }
  MemFree(viewport);
}

Result PglClearSurface(PglSurface* surface, uint16_t colour) {
  uint8_t* pixels = PglPixels(surface);
  if (!pixels) return PglErr::NoPixels;
  if (PglFormatOf(surface) != kPglRgb565) return PglErr::BadFormat;
  if (!surface->width || !surface->height) return kOk;
  for (uint32_t y = 0; y < surface->height; ++y) {
    auto* row = reinterpret_cast<uint16_t*>(PglRow(surface, pixels, y));
    for (uint32_t x = 0; x < surface->width; ++x) row[x] = colour;
  }
  PglInvalidate(surface, 0, 0, static_cast<int32_t>(surface->width) - 1,
                static_cast<int32_t>(surface->height) - 1);
  return kOk;
}
