#include "tests/graphics/pgl_model.h"

#include <cstring>

namespace {

uint32_t Bits(uint32_t format) {
  switch (format) {
    case kPglMono: return 1;
    case kPglGrey: return 2;
    case kPglNibble: return 4;
    case kPglCube: return 8;
    default: return 16;
  }
}

uint8_t* RowOf(const PglSurface& s, uint32_t y) {
  const uint32_t pitch = PglFormatOf(&s) == kPglRgb565 ? s.pitch * 2 : s.pitch;
  return PglPixels(&s) + static_cast<size_t>(y) * pitch;
}

uint16_t ModelCube(uint8_t index) {
  const uint32_t levels[6] = {0, 51, 102, 153, 204, 255};
  const uint32_t r = levels[index / 36 % 6], g = levels[index / 6 % 6], b = levels[index % 6];
  return static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
}

}  // namespace

TestSurface::TestSurface(uint32_t format, uint32_t width, uint32_t height, uint32_t padding,
                         std::mt19937& rng) {
  const uint32_t bits = Bits(format);
  const uint32_t rowBytes = (width * bits + 7) / 8;
  uint32_t pitchBytes = rowBytes + padding;
  if (format == kPglRgb565) pitchBytes = (pitchBytes + 1) & ~1u;
  bytes.resize(kGuard * 2 + static_cast<size_t>(pitchBytes) * height);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(Next(rng));
  surface.pixels = bytes.data() + kGuard;
  surface.width = width;
  surface.height = height;
  surface.rowBytes = rowBytes;
  surface.pitch = format == kPglRgb565 ? pitchBytes / 2 : pitchBytes;
  surface.flags = format | 0x80;
  surface.key = 0;
}

TestSurface::TestSurface(const TestSurface& other) : surface(other.surface), bytes(other.bytes) {
  surface.pixels = bytes.data() + kGuard;
}

uint32_t ModelGet(const PglSurface& s, uint32_t x, uint32_t y) {
  const uint8_t* row = RowOf(s, y);
  const uint32_t bits = Bits(PglFormatOf(&s));
  if (bits == 16) return static_cast<uint32_t>(row[2 * x] | row[2 * x + 1] << 8);
  const uint32_t bit = x * bits;
  return (row[bit / 8] >> (bit % 8)) & ((1u << bits) - 1);
}

void ModelSet(PglSurface& s, uint32_t x, uint32_t y, uint32_t v) {
  uint8_t* row = RowOf(s, y);
  const uint32_t bits = Bits(PglFormatOf(&s));
  if (bits == 16) {
    row[2 * x] = static_cast<uint8_t>(v);
    row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
    return;
  }
  const uint32_t bit = x * bits, mask = (1u << bits) - 1;
  row[bit / 8] = static_cast<uint8_t>((row[bit / 8] & ~(mask << bit % 8)) | (v & mask) << bit % 8);
}

Result ModelFill(PglSurface& s, const PglRect& r, int invert, uint16_t colour, PglRect* changed) {
  if (r.left < 0 || r.top < 0 || r.left > r.right || r.top > r.bottom ||
      r.right >= static_cast<int64_t>(s.width) || r.bottom >= static_cast<int64_t>(s.height))
    return PglErr::BadRect;
  if (!PglPixels(&s)) return PglErr::NoPixels;
  const uint32_t format = PglFormatOf(&s);
  if (format == kPglCube || (Bits(format) == 16 && format != kPglRgb565)) return PglErr::BadFormat;
  const uint32_t mask = format == kPglRgb565 ? 0xFFFF : (1u << Bits(format)) - 1;
  for (int32_t y = r.top; y <= r.bottom; ++y) {
    for (int32_t x = r.left; x <= r.right; ++x) {
      uint32_t v;
      if (invert) {
        v = ModelGet(s, x, y) ^ mask;
      } else if (format == kPglMono) {
        v = colour < 0xFFFF ? 1 : 0;
      } else if (format == kPglNibble) {
        v = (colour >> 4 * (x & 1)) & 0xF;
      } else {
        v = colour & mask;
      }
      ModelSet(s, x, y, v);
    }
  }
  *changed = r;
  return kOk;
}

Result ModelBlit(const PglBlitJob& job, uint16_t c1, uint16_t c2, PglRect* changed) {
  const PglSurface& s = *job.source;
  PglSurface& t = *job.target;
  const uint32_t sf = PglFormatOf(&s), tf = PglFormatOf(&t);
  if (sf != kPglMono && sf != kPglGrey && sf != kPglCube && sf != kPglRgb565)
    return PglErr::BadFormat;
  const bool converting = sf != kPglRgb565 && tf == kPglRgb565;
  if (!converting && sf != tf) return PglErr::BadFormat;
  if (!PglPixels(&s) || !PglPixels(&t)) return PglErr::NoPixels;
  const bool transparent = job.mode & PglMode::Transparent;
  const bool recolour = job.mode & PglMode::Recolour;
  const bool keyed = s.flags & PglFlag::Keyed;
  bool any = false;
  PglRect box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (uint64_t sy = job.top; sy <= job.bottom; ++sy) {
    for (uint64_t sx = job.left; sx <= job.right; ++sx) {
      if (sx >= s.width || sy >= s.height) continue;
      const uint64_t tx = job.x + (sx - job.left), ty = job.y + (sy - job.top);
      if (tx >= t.width || ty >= t.height) continue;
      any = true;
      box = {std::min<int32_t>(box.left, tx), std::min<int32_t>(box.top, ty),
             std::max<int32_t>(box.right, tx), std::max<int32_t>(box.bottom, ty)};
      const uint32_t v = ModelGet(s, sx, sy);
      const uint32_t old = ModelGet(t, tx, ty);
      uint32_t out = old;
      if (converting) {
        const bool clear = transparent || keyed;
        if (v == 0) {
          if (!clear) out = c2;
        } else if (recolour) {
          out = c1;
        } else if (sf == kPglMono) {
          out = 0;
        } else if (sf == kPglGrey) {
          out = v == 1 ? 0xD69A : v == 2 ? 0xAD55 : 0;
        } else {
          out = ModelCube(static_cast<uint8_t>(v));
        }
      } else if (sf == kPglMono || sf == kPglGrey) {
        out = transparent ? old | v : v;
      } else {
        const uint32_t mask = sf == kPglCube ? 0xFF : 0xFFFF;
        if (transparent) {
          if (v) out = recolour ? c1 & mask : v;
        } else if (keyed) {
          if (v != s.key) out = v;
        } else if (recolour) {
          out = (v ? c1 : c2) & mask;
        } else {
          out = v;
        }
      }
      ModelSet(t, tx, ty, out);
    }
  }
  if (any) *changed = box;
  return kOk;
}

uint32_t RandomFormat(std::mt19937& rng) {
  static const uint32_t kFormats[] = {kPglMono, kPglGrey, kPglCube, kPglRgb565};
  return kFormats[Next(rng) % 4];
}

int32_t RandomIn(std::mt19937& rng, int32_t lo, int32_t hi) {
  return lo + static_cast<int32_t>(Next(rng) % static_cast<uint32_t>(hi - lo + 1));
}
