// Straight lines and single pixels drawn directly on a surface in its format.
#include "graphics/pgl.h"
#include "graphics/pgl_internal.h"

namespace {

// The RGB565 value the vertical line (and so a single pixel) leaves alone.
constexpr uint16_t kVLineClear = 0xF81F;

bool IsLineFormat(uint32_t f) {
  return f == kPglMono || f == kPglGrey || f == kPglCube || f == kPglRgb565;
}

bool OnSurface(const PglSurface* s, const PglLine* l) {
  return static_cast<uint32_t>(l->x0) < s->width && static_cast<uint32_t>(l->x1) < s->width &&
         static_cast<uint32_t>(l->y0) < s->height && static_cast<uint32_t>(l->y1) < s->height;
}

inline void Put(uint8_t* row, uint32_t format, uint32_t x, uint16_t colour) {
  switch (format) {
    case kPglMono: {
      const uint32_t bit = x & 7;
      row[x >> 3] = static_cast<uint8_t>((row[x >> 3] & ~(1u << bit)) | (colour & 1u) << bit);
      break;
    }
    case kPglGrey: {
      const uint32_t shift = 2 * (x & 3);
      row[x >> 2] = static_cast<uint8_t>((row[x >> 2] & ~(3u << shift)) | (colour & 3u) << shift);
      break;
    }
    case kPglCube: row[x] = static_cast<uint8_t>(colour); break;
    default: reinterpret_cast<uint16_t*>(row)[x] = colour; break;
  }
}

// The checks every line primitive starts with; kOk with *draw false means
// "nothing to do".
Result Check(const PglSurface* s, const PglLine* line, uint8_t** pixels, bool* draw) {
  *draw = false;
  *pixels = PglPixels(s);
  if (!*pixels) return PglErr::NoPixels;
  if (!IsLineFormat(PglFormatOf(s))) return kOk;
  // The primitives are public, so they keep the dispatcher's bounds too.
  if (!OnSurface(s, line)) return PglErr::BadRect;
  *draw = true;
  return kOk;
}

}  // namespace

Result PglDrawLine(PglSurface* surface, const PglLine* line, uint16_t colour) {
  if (!OnSurface(surface, line)) return PglErr::BadRect;
  if (line->x0 == line->x1) return PglDrawVLine(surface, line, colour);
  if (line->y0 == line->y1) return PglDrawHLine(surface, line, colour);
  return PglDrawBresenham(surface, line, colour);
}

Result PglDrawVLine(PglSurface* surface, const PglLine* line, uint16_t colour) {
  uint8_t* pixels;
  bool draw;
  if (Result r = Check(surface, line, &pixels, &draw); !draw) return r;
  const uint32_t format = PglFormatOf(surface);
  if (format == kPglRgb565 && colour == kVLineClear) return kOk;
  const int32_t top = line->y0 < line->y1 ? line->y0 : line->y1;
  const int32_t bottom = line->y0 < line->y1 ? line->y1 : line->y0;
  const auto x = static_cast<uint32_t>(line->x0);
  const uint32_t pitch = PglPitchBytes(surface);
  uint8_t* row = PglRow(surface, pixels, static_cast<uint32_t>(top));
  for (int32_t y = top; y <= bottom; ++y, row += pitch) Put(row, format, x, colour);
  PglInvalidate(surface, line->x0, top, line->x0, bottom);
  return kOk;
}

Result PglDrawHLine(PglSurface* surface, const PglLine* line, uint16_t colour) {
  uint8_t* pixels;
  bool draw;
  if (Result r = Check(surface, line, &pixels, &draw); !draw) return r;
  const uint32_t format = PglFormatOf(surface);
  const auto left = static_cast<uint32_t>(line->x0 < line->x1 ? line->x0 : line->x1);
  const auto right = static_cast<uint32_t>(line->x0 < line->x1 ? line->x1 : line->x0);
  uint8_t* row = PglRow(surface, pixels, static_cast<uint32_t>(line->y0));
  const uint32_t n = right - left + 1;
  if (format == kPglRgb565) {
    uint16_t* p = reinterpret_cast<uint16_t*>(row) + left;
    for (uint32_t i = 0; i < n; ++i) p[i] = colour;
  } else if (format == kPglCube) {
    for (uint32_t i = 0; i < n; ++i) row[left + i] = static_cast<uint8_t>(colour);
  } else {
    uint32_t shift, per;  // bits per pixel as a shift, pixels per byte as a shift
    uint8_t fill;
    if (format == kPglMono) {
      shift = 0;
      per = 3;
      fill = colour & 1 ? 0xFF : 0x00;
    } else {
      shift = 1;
      per = 2;
      const uint8_t c = colour & 3;
      fill = static_cast<uint8_t>(c | c << 2 | c << 4 | c << 6);
    }
    const uint32_t mask = (1u << per) - 1;
    const auto leftMask = static_cast<uint8_t>(0xFF << ((left & mask) << shift));
    const auto rightMask = static_cast<uint8_t>(0xFF >> ((mask - (right & mask)) << shift));
    const uint32_t first = left >> per, last = right >> per;
    if (first == last) {
      const uint8_t m = leftMask & rightMask;
      row[first] = static_cast<uint8_t>((row[first] & ~m) | (fill & m));
    } else {
      row[first] = static_cast<uint8_t>((row[first] & ~leftMask) | (fill & leftMask));
      for (uint32_t i = first + 1; i < last; ++i) row[i] = fill;
      row[last] = static_cast<uint8_t>((row[last] & ~rightMask) | (fill & rightMask));
    }
  }
  PglInvalidate(surface, static_cast<int32_t>(left), line->y0, static_cast<int32_t>(right),
                line->y0);
  return kOk;
}

Result PglDrawBresenham(PglSurface* surface, const PglLine* line, uint16_t colour) {
  uint8_t* pixels;
  bool draw;
  if (Result r = Check(surface, line, &pixels, &draw); !draw) return r;
  const uint32_t format = PglFormatOf(surface);
  PglWalkBresenham(line->x0, line->y0, line->x1, line->y1, [&](int64_t x, int64_t y) {
    Put(PglRow(surface, pixels, static_cast<uint32_t>(y)), format, static_cast<uint32_t>(x),
        colour);
  });
  PglInvalidate(surface, line->x0 < line->x1 ? line->x0 : line->x1,
                line->y0 < line->y1 ? line->y0 : line->y1,
                line->x0 < line->x1 ? line->x1 : line->x0,
                line->y0 < line->y1 ? line->y1 : line->y0);
  return kOk;
}

Result PglSetPixel(PglSurface* surface, const PglPoint* point, uint16_t colour) {
  const PglLine dot{point->x, point->y, point->x, point->y};
  return PglDrawLine(surface, &dot, colour);
}

Result PglDrawFrame(PglSurface* surface, const PglRect* rect, uint16_t colour) {
  const PglLine top{rect->left, rect->top, rect->right, rect->top};
  const PglLine bottom{rect->left, rect->bottom, rect->right, rect->bottom};
  const PglLine left{rect->left, rect->top, rect->left, rect->bottom};
  const PglLine right{rect->right, rect->top, rect->right, rect->bottom};
  PglDrawHLine(surface, &top, colour);
  PglDrawHLine(surface, &bottom, colour);
  PglDrawVLine(surface, &left, colour);
  return PglDrawVLine(surface, &right, colour);
}
