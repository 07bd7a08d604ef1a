// Renders one animation frame: fills the background, then runs one command
// per step: placements of decoded objects through the blit family, the
// vector primitives at depth 8, masking outside a rectangle and inversion
// at every depth. Packed depths place outline-masked and OR objects through
// two scratch planes behind the objects in the work buffer.
#include <cstring>

#include "graphics/blit.h"
#include "graphics/blit_outline.h"
#include "graphics/saf_internal.h"
#include "graphics/sis_draw.h"
#include "graphics/sis_internal.h"

namespace {

struct Renderer {
  const uint8_t* block;
  uint32_t length;
  uint8_t* frame;
  uint32_t depth;
};

Renderer r;

uint8_t FillByte(uint32_t colour, uint32_t depth) {
  switch (depth) {
    case 8:
      return static_cast<uint8_t>(colour);
    case 4:
      return static_cast<uint8_t>((colour & 15) * 17);
    case 2:
      return colour == 0 ? 0x00 : colour == 1 ? 0x55 : colour == 2 ? 0xAA : 0xFF;
    default:
      return colour ? 0xFF : 0x00;
  }
}

uint32_t FrameBytes() { return gSis.frameWidth * gSis.frameHeight; }
uint32_t RowBytes() { return gSis.frameWidth * r.depth / 8; }

}  // namespace

int32_t SafBeginFrame(const uint8_t* block, uint8_t* destination) {
  const uint32_t depth = gSaf.info.depth;
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8) return -1;
  if (!block || !destination || gSaf.lastCount < 5) return -1;
  r = {block, gSaf.lastCount, destination, depth};
  gSaf.background = block[3];
  gSaf.commandCount = block[4];
  gSaf.commandPos = 5;
  gSaf.commandIndex = 0;
  std::memset(destination, FillByte(gSaf.background, depth), FrameBytes());
  return static_cast<int32_t>(gSaf.lastCount);
}

void SafInvertFrame() {
  for (uint32_t i = 0; i < FrameBytes(); ++i) r.frame[i] = static_cast<uint8_t>(~r.frame[i]);
}

// Paints everything outside the rectangle at a packed depth.
void SafMaskOutsidePacked(int32_t l, int32_t t, int32_t rt, int32_t b, uint32_t colour) {
  const uint32_t d = r.depth, row = RowBytes(), rows = gSis.frameHeight;
  const uint8_t fill = FillByte(colour, d);
  const uint32_t first = static_cast<uint32_t>(l) * d, last = static_cast<uint32_t>(rt + 1) * d - 1;
  for (uint32_t y = 0; y < rows; ++y) {
    uint8_t* p = r.frame + y * row;
    for (uint32_t bit = 0; bit < row * 8; ++bit) {
      const bool inside = static_cast<int32_t>(y) >= t && static_cast<int32_t>(y) <= b && bit >= first && bit <= last;
      if (inside) continue;
      const uint8_t m = static_cast<uint8_t>(0x80 >> (bit & 7));
      p[bit >> 3] = static_cast<uint8_t>((p[bit >> 3] & ~m) | (fill & m));
    }
  }
}

namespace {

struct Box {
  int32_t left, top, right, bottom;
};

// The unclipped extent of a placement; moves a rotated placement's origin
// so that its box starts at the command's position.
Box SafPlacementBounds(BlitBitmap* d, const SafObject& o) {
  const uint32_t sx = BlitScaleStepX(d), sy = BlitScaleStepY(d);
  auto extent = [](uint32_t n, uint8_t mode, uint8_t factor) -> int64_t {
    const int64_t f = factor ? factor : 256;
    if (mode == 2) return (int64_t{n} - 1) * 256 / f;
    if (mode == 1) return (int64_t{n} - 1) * f / 256;
    return int64_t{n} - 1;
  };
  (void)sx;
  (void)sy;
  const int64_t ex = extent(o.width, d->xScaleMode, d->xFactor);
  const int64_t ey = extent(o.height, d->yScaleMode, d->yFactor);
  if (!d->angle) return {d->x, d->y, static_cast<int32_t>(d->x + ex), static_cast<int32_t>(d->y + ey)};
  const int64_t s = kBlitSine[d->angle], c = kBlitCosine[d->angle];
  // Destination offsets of the corners: the inverse of the family's mapping.
  const int64_t cx[4] = {0, ex, 0, ex}, cy[4] = {0, 0, ey, ey};
  int64_t minX = 0, minY = 0, maxX = 0, maxY = 0;
  for (int i = 1; i < 4; ++i) {
    const int64_t x = (c * cx[i] - s * cy[i] + 8192) >> 14;
    const int64_t y = (s * cx[i] + c * cy[i] + 8192) >> 14;
    minX = x < minX ? x : minX;
    maxX = x > maxX ? x : maxX;
    minY = y < minY ? y : minY;
    maxY = y > maxY ? y : maxY;
  }
  const int32_t left = d->x, top = d->y;
  d->x = static_cast<int32_t>(left - minX);
  d->y = static_cast<int32_t>(top - minY);
  return {left, top, static_cast<int32_t>(left + maxX - minX), static_cast<int32_t>(top + maxY - minY)};
}

void SafMergePlanes(uint32_t mode) {
  const uint32_t words = gSaf.planeBytes / 4, rest = gSaf.planeBytes & 3;
  uint8_t* f = r.frame;
  const uint8_t* px = gSaf.pixelPlane;
  const uint8_t* mk = gSaf.maskPlane;
  for (uint32_t i = 0; i < words * 4 + rest; ++i) {
    if (mode == 3)
      f[i] = static_cast<uint8_t>(f[i] | px[i]);
    else if (mk[i])
      f[i] = static_cast<uint8_t>((f[i] & ~mk[i]) | px[i]);
  }
}

// 0 done, negative an error.
int32_t Place(const uint8_t* c, uint32_t len) {
  // b2..b6 are always there; the optional bytes follow in order.
  if (len < 5) return 0;
  BlitBitmap d{};
  const uint32_t index = c[2];
  if (index >= kSafMaxObjects) return -2;
  const uint32_t b3 = c[3], b4 = c[4];
  d.object = index;
  d.x = b3 & 0x80 ? -static_cast<int32_t>(c[5]) : c[5];
  d.y = b3 & 0x40 ? -static_cast<int32_t>(c[6]) : c[6];
  d.vflip = b3 >> 4 & 1;
  d.hflip = b3 >> 5 & 1;
  d.further = b3 >> 3 & 1;
  d.keyMode = b4 & 15;
  d.xScaleMode = static_cast<uint8_t>(b4 >> 6);
  d.yScaleMode = static_cast<uint8_t>(b4 >> 4 & 3);
  d.blend = b3 >> 2 & 1;
  d.rotate = b3 & 1;
  d.extra = b3 >> 1 & 1;
  d.opacity = -1;
  uint32_t at = 7;
  const uint32_t need = 5 + (d.xScaleMode != 0) + (d.yScaleMode != 0) + d.rotate + 4 * d.extra + d.blend;
  if (len < need) return 0;  // the length byte does not cover the fields
  if (d.xScaleMode) d.xFactor = c[at++];
  if (d.yScaleMode) d.yFactor = c[at++];
  if (d.rotate) d.angle = c[at++];
  if (d.extra) {
    d.clipLeft = c[at];
    d.clipRight = c[at + 1];
    d.clipTop = c[at + 2];
    d.clipBottom = c[at + 3];
    at += 4;
  }
  if (d.blend) d.opacity = c[at++];
  const SafObject& o = gSaf.objects[index];
  if (!o.width || !o.height || !o.pixels) return 0;
  const int32_t w = static_cast<int32_t>(gSis.frameWidth), h = static_cast<int32_t>(gSis.frameHeight);
  const Box u = SafPlacementBounds(&d, o);
  Box b{u.left < 0 ? 0 : u.left, u.top < 0 ? 0 : u.top, u.right > w - 1 ? w - 1 : u.right,
        u.bottom > h - 1 ? h - 1 : u.bottom};
  if (d.extra) {
    if (u.right < d.clipLeft || u.left > d.clipRight || u.bottom < d.clipTop || u.top > d.clipBottom) return 0;
    b.left = b.left > d.clipLeft ? b.left : d.clipLeft;
    b.top = b.top > d.clipTop ? b.top : d.clipTop;
    b.right = b.right < d.clipRight ? b.right : d.clipRight;
    b.bottom = b.bottom < d.clipBottom ? b.bottom : d.clipBottom;
  }
  if (b.right - b.left <= 0 || b.bottom - b.top <= 0) return 0;
  const BlitClip clip{b.left, b.top, b.right, b.bottom};
  const uint32_t depth = r.depth;
  if ((depth == 1 || depth == 2) && d.keyMode >= 1 && d.keyMode != 0) {
    std::memset(gSaf.pixelPlane, 0, gSaf.planeBytes);
    std::memset(gSaf.maskPlane, 0, gSaf.planeBytes);
    const BlitHullPlanes planes{gSaf.pixelPlane, gSaf.maskPlane, gSis.frameWidth, gSis.frameHeight, depth};
    const BlitBox whole{u.left, u.top, u.right, u.bottom}, drawn{b.left, b.top, b.right, b.bottom};
    if (d.keyMode == 1) BlitMarkHullEdges(planes, &d, &o, whole, drawn);
    BlitDispatchPacked(o.pixels, gSaf.pixelPlane, gSis.frameWidth, gSis.frameHeight, &d, &o, &clip, depth);
    if (d.keyMode == 1) {
      BlitFillHullMask(planes, &d, &o, whole, drawn);
      SafMergePlanes(1);
    } else if (d.keyMode == 3) {
      SafMergePlanes(3);
    }
    return 0;
  }
  if (depth == 4 && d.keyMode == 2) {
    BlitDispatchA(o.pixels, r.frame, gSis.frameWidth, gSis.frameHeight, &d, &o, &clip);
    return 0;
  }
  if (depth == 8 && d.keyMode == 2 && d.blend && FrameBytes() <= gSis.modelSize) {
    std::memset(gSis.model, static_cast<int>(o.key), FrameBytes());
    BlitDispatch8Bit(o.pixels, gSis.model, gSis.frameWidth, gSis.frameHeight, &d, &o, &clip);
    SisBlendImages(gSis.model, r.frame, &d, &o, FrameBytes());
    return 0;
  }
  if (depth == 8)
    BlitDispatch8Bit(o.pixels, r.frame, gSis.frameWidth, gSis.frameHeight, &d, &o, &clip);
  else
    BlitDispatchPacked(o.pixels, r.frame, gSis.frameWidth, gSis.frameHeight, &d, &o, &clip, depth);
  return 0;
}

// Runs a drawing command whose fields its length byte covers.
void Draw(const uint8_t* c, uint32_t len) {
  uint8_t* f = r.frame;
  const uint32_t w = gSis.frameWidth, h = gSis.frameHeight;
  const uint32_t code = c[0];
  const bool d8 = r.depth == 8;
  auto b = [&](uint32_t i) -> int32_t { return c[i]; };
  switch (code) {
    case 1:
      if (d8 && len >= 8) SisDrawThickLine(f, w, h, b(2), b(3), b(4), b(5), b(7), c[6], c[8], c[9]);
      break;
    case 2:
      if (d8 && len >= 10) SisDrawEllipse(f, w, h, b(2), b(3), b(4), b(5), c[6], c[7], b(10), c[8], c[9], c[11]);
      break;
    case 3:
      if (d8 && len >= 8) SisDrawRect(f, w, h, b(2), b(3), b(4), b(5), b(8), c[6], c[7], c[9]);
      break;
    case 4: {
      const uint32_t n = len >= 1 ? c[2] : 0;
      if (d8 && len >= 5 + 2 * n) SisDrawPolygon(f, w, h, n, c + 5, c + 5 + n, b(4), c[3], c[5 + 2 * n], c[6 + 2 * n]);
      break;
    }
    case 5: {
      const uint32_t n = len >= 1 ? c[2] : 0;
      if (d8 && len >= 3 + 2 * n) SisDrawPolyline(f, w, h, n, c + 5, c + 5 + n, b(4), c[3]);
      break;
    }
    case 17:
      if (d8 && len >= 5) SisFillHalfPlane(f, w, h, b(2), b(3), b(4), b(5), c[6]);
      break;
    case 18:
      if (d8 && len >= 5) SisMaskOutsideEllipse(f, w, h, b(2), b(3), b(4), b(5), c[6]);
      break;
    case 19: {
      if (len < 5) break;
      const int32_t mw = static_cast<int32_t>(w) - 1, mh = static_cast<int32_t>(h) - 1;
      const int32_t l = b(2) > mw ? mw : b(2), t = b(3) > mh ? mh : b(3);
      const int32_t rt = b(4) > mw ? mw : b(4), bt = b(5) > mh ? mh : b(5);
      if (!(l < rt && t < bt)) break;
      if (d8)
        SisMaskOutsideRect(f, w, h, l, t, rt, bt, c[6]);
      else
        SafMaskOutsidePacked(l, t, rt, bt, c[6]);
      break;
    }
    case 20:
      SafInvertFrame();
      break;
    default:
      break;
  }
}

}  // namespace

int32_t SafRenderStep() {
  if (gSaf.commandIndex >= gSaf.commandCount) return 0;
  const uint32_t pos = gSaf.commandPos;
  if (pos + 2 > r.length) return -3;  // the commands run past their block
  const uint8_t* c = r.block + pos;
  const uint32_t len = c[1];
  if (pos + 2 + len > r.length) return -3;
  if (c[0] == 0) {
    if (Place(c, len) < 0) return -2;
  } else {
    Draw(c, len);
  }
  gSaf.commandPos = pos + 2 + len;
  ++gSaf.commandIndex;
  return static_cast<int32_t>(FrameBytes() ? FrameBytes() : 1);
}
