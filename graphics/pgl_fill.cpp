// Filling and inverting a rectangle in the surface's own pixel format.
#include "graphics/pgl.h"
#include "graphics/pgl_internal.h"

namespace {

struct PackedFill {
  uint32_t shift;     // log2 of pixels per byte
  uint8_t fill;       // the byte written between the edges
  uint8_t leftMask;   // bits of pixels from left to the end of its byte
  uint8_t rightMask;  // bits from the start of its byte to right
};

PackedFill PackedOf(uint32_t format, uint32_t left, uint32_t right, uint16_t colour) {
  switch (format) {
    case kPglMono:
      return {3, static_cast<uint8_t>(colour < 0xFFFF ? 0xFF : 0x00),
              static_cast<uint8_t>(0xFF << (left & 7)),
              static_cast<uint8_t>(0xFF >> (7 - (right & 7)))};
    case kPglGrey: {
      const uint8_t c = colour & 3;
      return {2, static_cast<uint8_t>(c | c << 2 | c << 4 | c << 6),
              static_cast<uint8_t>(0xFF << 2 * (left & 3)),
              static_cast<uint8_t>(0xFF >> 2 * (3 - (right & 3)))};
    }
    default:  // nibbles: the caller repeats the nibble in both halves
      return {1, static_cast<uint8_t>(colour), static_cast<uint8_t>(left & 1 ? 0xF0 : 0xFF),
              static_cast<uint8_t>(right & 1 ? 0xFF : 0x0F)};
  }
}

inline uint8_t Masked(uint8_t byte, uint8_t mask, uint8_t fill, bool invert) {
  return invert ? static_cast<uint8_t>(byte ^ mask)
                : static_cast<uint8_t>((byte & ~mask) | (fill & mask));
}

}  // namespace

Result PglFillRect(PglSurface* surface, const PglRect* rect, int invert, uint16_t colour) {
  if (rect->left < 0 || rect->top < 0 || rect->left > rect->right || rect->top > rect->bottom ||
      static_cast<uint32_t>(rect->right) >= surface->width ||
      static_cast<uint32_t>(rect->bottom) >= surface->height)
    return PglErr::BadRect;
  uint8_t* pixels = PglPixels(surface);
  if (!pixels) return PglErr::NoPixels;
  const uint32_t format = PglFormatOf(surface);
  const auto left = static_cast<uint32_t>(rect->left), right = static_cast<uint32_t>(rect->right);
  const auto top = static_cast<uint32_t>(rect->top), bottom = static_cast<uint32_t>(rect->bottom);

  if (format == kPglRgb565) {
    // Counted loops: a bound the compiler can see lets it use wide stores.
    const uint32_t n = right - left + 1;
    for (uint32_t y = top; y <= bottom; ++y) {
      uint16_t* row = reinterpret_cast<uint16_t*>(PglRow(surface, pixels, y)) + left;
      if (invert)
        for (uint32_t i = 0; i < n; ++i) row[i] = static_cast<uint16_t>(~row[i]);
      else
        for (uint32_t i = 0; i < n; ++i) row[i] = colour;
    }
  } else if (format == kPglMono || format == kPglGrey || format == kPglNibble) {
    const PackedFill p = PackedOf(format, left, right, colour);
    const uint32_t first = left >> p.shift, last = right >> p.shift;
    for (uint32_t y = top; y <= bottom; ++y) {
      uint8_t* row = PglRow(surface, pixels, y);
      if (first == last) {
        row[first] = Masked(row[first], p.leftMask & p.rightMask, p.fill, invert);
        continue;
      }
      row[first] = Masked(row[first], p.leftMask, p.fill, invert);
      for (uint32_t i = first + 1; i < last; ++i)
        row[i] = invert ? static_cast<uint8_t>(~row[i]) : p.fill;
      row[last] = Masked(row[last], p.rightMask, p.fill, invert);
    }
  } else {
    return PglErr::BadFormat;
  }
  PglInvalidate(surface, rect->left, rect->top, rect->right, rect->bottom);
  return kOk;
}
