// The row converter: image decoders hand it one row of 16-bit values at a
// time and it writes the row into a band, dithering grey levels down to the
// 1- and 2-bit formats.
#include "graphics/pgl.h"
#include "graphics/pgl_internal.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

// Bytes of the current target row the converter may write.
uint32_t RowLimit(const PglRowConverter* c) {
  const uint32_t pitch = PglPitchBytes(c->target);
  return c->target->rowBytes < pitch ? c->target->rowBytes : pitch;
}

// Grey levels above 255 would let the diffused error grow without bound.
inline int32_t Grey(uint16_t v) { return v > 255 ? 255 : v; }

void CopyRow(PglRowConverter* c, const uint16_t* src) {
  const uint32_t n = c->width < c->targetPitch ? c->width : c->targetPitch;
  LibcMemCopy(c->targetRow, src, n * 2);
}

void CubeRow(PglRowConverter* c, const uint16_t* src) {
  const uint32_t limit = RowLimit(c);
  const uint32_t n = c->width < limit ? c->width : limit;
  for (uint32_t x = 0; x < n; ++x) c->targetRow[x] = PglRgb565ToCube(src[x]);
}

void NoRow(PglRowConverter*, const uint16_t*) {}

// Serpentine scan: even rows left to right, odd rows right to left. Error
// row entry col + 1 belongs to column col; entries 0 and width + 1 are guards.
struct Scan {
  uint32_t width;
  bool backward;
  uint32_t Column(uint32_t i) const { return backward ? width - 1 - i : i; }
  uint32_t Before(uint32_t e) const { return backward ? e + 1 : e - 1; }
  uint32_t After(uint32_t e) const { return backward ? e - 1 : e + 1; }
};

// Collects bits into bytes in scan order and writes each byte once its
// pixels are done; the byte of the last pixel is written partly filled.
struct Packer {
  uint8_t* row;
  uint32_t limit;
  int64_t byte = -1;
  uint8_t acc = 0;
  void Put(uint32_t index, uint32_t shift, uint32_t value) {
    if (index != byte) {
      Flush();
      byte = index;
      acc = 0;
    }
    acc = static_cast<uint8_t>(acc | value << shift);
  }
  void Flush() {
    if (byte >= 0 && byte < limit) row[byte] = acc;
  }
};

void DitherMono(PglRowConverter* c, const uint16_t* src) {
  int32_t* cur = c->errors;
  const int32_t* prev = c->previous;
  LibcMemSet(cur, 0, (c->width + 2) * 4);
  const Scan scan{c->width, (c->rowCounter & 1) != 0};
  Packer out{c->targetRow, RowLimit(c)};
  int32_t carry = 0;
  for (uint32_t i = 0; i < c->width; ++i) {
    const uint32_t col = scan.Column(i), e = col + 1;
    int32_t v = Grey(src[col]) * 257 + carry +
                ((3 * prev[scan.Before(e)] + 5 * prev[e] + prev[scan.After(e)]) >> 4);
    uint32_t ink = 1;
    if (v >= 32640) {
      ink = 0;
      v -= 65280;
    }
    cur[e] = v;
    carry = (7 * v) >> 4;
    out.Put(col >> 3, col & 7, ink);
  }
  out.Flush();
}

void DitherGrey(PglRowConverter* c, const uint16_t* src) {
  int32_t* cur = c->errors;
  const int32_t* prev = c->previous;
  LibcMemSet(cur, 0, (c->width + 2) * 4);
  const Scan scan{c->width, (c->rowCounter & 1) != 0};
  Packer out{c->targetRow, RowLimit(c)};
  int32_t carry = 0;
  for (uint32_t i = 0; i < c->width; ++i) {
    const uint32_t col = scan.Column(i), e = col + 1;
    const int32_t v = Grey(src[col]) * 257 + carry + prev[e];
    int32_t level;
    uint32_t code;  // brightest level code 0, darkest code 3
    if (v >= 49152) level = 65535, code = 0;
    else if (v >= 32768) level = 43690, code = 1;
    else if (v < 16384) level = 0, code = 3;
    else level = 21845, code = 2;
    const int32_t err = v - level;
    const int32_t seven = (7 * err) >> 4, three = (3 * err) >> 4, five = (5 * err) >> 4;
    carry = seven;
    cur[scan.Before(e)] += three;
    cur[e] += five;
    cur[scan.After(e)] = err - seven - three - five;
    out.Put(col >> 2, 2 * (col & 3), code);
  }
  out.Flush();
}

// Points the converter at row `index` of its target, or at nothing when the
// index lies outside (a later convert is then refused, not written astray).
void Aim(PglRowConverter* c, int64_t index) {
  c->targetIndex = static_cast<int32_t>(index);
  const bool inside = index >= 0 && index < c->target->height;
  c->targetRow =
      inside ? PglRow(c->target, PglPixels(c->target), static_cast<uint32_t>(index)) : nullptr;
}

void AimStart(PglRowConverter* c) {
  Aim(c, c->bottomUp ? int64_t{c->target->height} - 1 : 0);
}

bool Usable(const PglSurface* s) {
  return s && PglPixels(s) && !(s->flags & PglFlag::Screen);
}

}  // namespace

uint32_t PglImageToSurface(PglRowConverter* conv, const PglSurface* source, PglSurface* target,
                           uint32_t operation) {
  if (!conv) return 0;
  const bool open = conv->state & 1;
  switch (operation) {
    case PglConv::Open: {
      if (!Usable(source) || !Usable(target)) return 0;
      const uint64_t bytes = (uint64_t{source->width} + 2) * 4;
      if (bytes > UINT32_MAX) return 0;
      if (open) {  // a second open would lose the first pair of rows
        MemFree(&conv->errors);
        MemFree(&conv->previous);
      }
      conv->errors = static_cast<int32_t*>(
          MemAllocZero(static_cast<uint32_t>(bytes), kPglUse, Mod::Pgl));
      if (!conv->errors) return 0;
      conv->previous = static_cast<int32_t*>(
          MemAllocZero(static_cast<uint32_t>(bytes), kPglUse, Mod::Pgl));
      if (!conv->previous) {
        MemFree(&conv->errors);
        return 0;
      }
      conv->target = target;
      AimStart(conv);
      conv->width = conv->pixelCount = source->width;
      conv->targetPitch = target->pitch;
      conv->rowCounter = 0;
      conv->state |= 1;
      switch (PglFormatOf(target)) {
        case kPglMono: conv->rowOp = DitherMono; break;
        case kPglGrey: conv->rowOp = DitherGrey; break;
        case kPglRgb565: conv->rowOp = CopyRow; break;
        case kPglCube: conv->rowOp = CubeRow; break;
        default: conv->rowOp = NoRow; break;
      }
      return PglConv::Open;
    }
    case PglConv::NewTarget:
      // The row operation was chosen for the first target's format.
      if (!open || !Usable(target) || PglFormatOf(target) != PglFormatOf(conv->target)) return 0;
      conv->target = target;
      conv->targetPitch = target->pitch;
      AimStart(conv);
      return PglConv::NewTarget;
    case PglConv::Skip:
      if (!open) return 0;
      Aim(conv, int64_t{conv->targetIndex} + 1);
      return PglConv::Skip;
    case PglConv::Convert: {
      if (!open || !conv->errors || !conv->previous || !source || !PglPixels(source)) return 0;
      if (source->width < conv->width || !conv->targetRow) return 0;
      conv->rowOp(conv, reinterpret_cast<const uint16_t*>(PglPixels(source)));
      int32_t* t = conv->errors;
      conv->errors = conv->previous;
      conv->previous = t;
      ++conv->rowCounter;
      Aim(conv, int64_t{conv->targetIndex} + (conv->bottomUp ? -1 : 1));
      return PglConv::Convert;
    }
    case PglConv::Close:
      if (!open) return 0;
      MemFree(&conv->errors);
      MemFree(&conv->previous);
      conv->state &= ~1u;
      return PglConv::Close;
    default: return 0;
  }
}
