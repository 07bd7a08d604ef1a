// The placing family. One template computes the mapping for every
// combination of depth, flips, key, rotation and scaling with no flag tests
// in its pixel loop; the dispatchers pick one instance per placement from
// tables. Unrotated, unscaled packed rows without a horizontal flip move as
// bit runs, whole bytes where they line up.
#include <cstring>

#include "graphics/blit.h"

const int16_t kBlitSine[256] = {
    0, 402, 804, 1205, 1606, 2006, 2404, 2801, 3196, 3590, 3981, 4370,
    4756, 5139, 5520, 5897, 6270, 6639, 7005, 7366, 7723, 8076, 8423, 8765,
    9102, 9434, 9760, 10080, 10394, 10702, 11003, 11297, 11585, 11866, 12140, 12406,
    12665, 12916, 13160, 13395, 13623, 13842, 14053, 14256, 14449, 14635, 14811, 14978,
    15137, 15286, 15426, 15557, 15679, 15791, 15893, 15986, 16069, 16143, 16207, 16261,
    16305, 16340, 16364, 16379, 16384, 16379, 16364, 16340, 16305, 16261, 16207, 16143,
    16069, 15986, 15893, 15791, 15679, 15557, 15426, 15286, 15137, 14978, 14811, 14635,
    14449, 14256, 14053, 13842, 13623, 13395, 13160, 12916, 12665, 12406, 12140, 11866,
    11585, 11297, 11003, 10702, 10394, 10080, 9760, 9434, 9102, 8765, 8423, 8076,
    7723, 7366, 7005, 6639, 6270, 5897, 5520, 5139, 4756, 4370, 3981, 3590,
    3196, 2801, 2404, 2006, 1606, 1205, 804, 402, 0, -402, -804, -1205,
    -1606, -2006, -2404, -2801, -3196, -3590, -3981, -4370, -4756, -5139, -5520, -5897,
    -6270, -6639, -7005, -7366, -7723, -8076, -8423, -8765, -9102, -9434, -9760, -10080,
    -10394, -10702, -11003, -11297, -11585, -11866, -12140, -12406, -12665, -12916, -13160, -13395,
    -13623, -13842, -14053, -14256, -14449, -14635, -14811, -14978, -15137, -15286, -15426, -15557,
    -15679, -15791, -15893, -15986, -16069, -16143, -16207, -16261, -16305, -16340, -16364, -16379,
    -16384, -16379, -16364, -16340, -16305, -16261, -16207, -16143, -16069, -15986, -15893, -15791,
    -15679, -15557, -15426, -15286, -15137, -14978, -14811, -14635, -14449, -14256, -14053, -13842,
    -13623, -13395, -13160, -12916, -12665, -12406, -12140, -11866, -11585, -11297, -11003, -10702,
    -10394, -10080, -9760, -9434, -9102, -8765, -8423, -8076, -7723, -7366, -7005, -6639,
    -6270, -5897, -5520, -5139, -4756, -4370, -3981, -3590, -3196, -2801, -2404, -2006,
    -1606, -1205, -804, -402,
};
const int16_t kBlitCosine[256] = {
    16384, 16379, 16364, 16340, 16305, 16261, 16207, 16143, 16069, 15986, 15893, 15791,
    15679, 15557, 15426, 15286, 15137, 14978, 14811, 14635, 14449, 14256, 14053, 13842,
    13623, 13395, 13160, 12916, 12665, 12406, 12140, 11866, 11585, 11297, 11003, 10702,
    10394, 10080, 9760, 9434, 9102, 8765, 8423, 8076, 7723, 7366, 7005, 6639,
    6270, 5897, 5520, 5139, 4756, 4370, 3981, 3590, 3196, 2801, 2404, 2006,
    1606, 1205, 804, 402, 0, -402, -804, -1205, -1606, -2006, -2404, -2801,
    -3196, -3590, -3981, -4370, -4756, -5139, -5520, -5897, -6270, -6639, -7005, -7366,
    -7723, -8076, -8423, -8765, -9102, -9434, -9760, -10080, -10394, -10702, -11003, -11297,
    -11585, -11866, -12140, -12406, -12665, -12916, -13160, -13395, -13623, -13842, -14053, -14256,
    -14449, -14635, -14811, -14978, -15137, -15286, -15426, -15557, -15679, -15791, -15893, -15986,
    -16069, -16143, -16207, -16261, -16305, -16340, -16364, -16379, -16384, -16379, -16364, -16340,
    -16305, -16261, -16207, -16143, -16069, -15986, -15893, -15791, -15679, -15557, -15426, -15286,
    -15137, -14978, -14811, -14635, -14449, -14256, -14053, -13842, -13623, -13395, -13160, -12916,
    -12665, -12406, -12140, -11866, -11585, -11297, -11003, -10702, -10394, -10080, -9760, -9434,
    -9102, -8765, -8423, -8076, -7723, -7366, -7005, -6639, -6270, -5897, -5520, -5139,
    -4756, -4370, -3981, -3590, -3196, -2801, -2404, -2006, -1606, -1205, -804, -402,
    0, 402, 804, 1205, 1606, 2006, 2404, 2801, 3196, 3590, 3981, 4370,
    4756, 5139, 5520, 5897, 6270, 6639, 7005, 7366, 7723, 8076, 8423, 8765,
    9102, 9434, 9760, 10080, 10394, 10702, 11003, 11297, 11585, 11866, 12140, 12406,
    12665, 12916, 13160, 13395, 13623, 13842, 14053, 14256, 14449, 14635, 14811, 14978,
    15137, 15286, 15426, 15557, 15679, 15791, 15893, 15986, 16069, 16143, 16207, 16261,
    16305, 16340, 16364, 16379,
};

uint32_t BlitScaleStepX(const BlitBitmap* d) {
  if (d->xFactor == 0 || (d->xScaleMode != 1 && d->xScaleMode != 2)) return 256;
  return d->xScaleMode == 2 ? d->xFactor : 65536u / d->xFactor;
}

uint32_t BlitScaleStepY(const BlitBitmap* d) {
  if (d->yFactor == 0 || (d->yScaleMode != 1 && d->yScaleMode != 2)) return 256;
  return d->yScaleMode == 2 ? d->yFactor : 65536u / d->yFactor;
}

namespace {

struct Job {
  const uint8_t* src;
  uint8_t* dst;
  uint32_t dstWidth;
  const BlitBitmap* d;
  const SafObject* o;
  BlitClip clip;
};

template <uint32_t D>
inline uint32_t Get(const uint8_t* row, uint32_t u) {
  if constexpr (D == 8) {
    return row[u];
  } else {
    const uint32_t bit = u * D;
    return row[bit >> 3] >> (8 - D - (bit & 7)) & ((1u << D) - 1);
  }
}

template <uint32_t D>
inline void Put(uint8_t* row, uint32_t x, uint32_t v) {
  if constexpr (D == 8) {
    row[x] = static_cast<uint8_t>(v);
  } else {
    const uint32_t bit = x * D, shift = 8 - D - (bit & 7);
    uint8_t& b = row[bit >> 3];
    b = static_cast<uint8_t>((b & ~(((1u << D) - 1) << shift)) | v << shift);
  }
}

// The general member: for each destination pixel of the clip, the source
// pixel it maps from, mirrored after the mapping, keyed when asked.
template <uint32_t D, bool HF, bool VF, bool Key, bool Rot, bool Scale>
void Mapped(const Job& j) {
  const uint32_t w = j.o->width, h = j.o->height;
  const uint32_t srcRow = w * D / 8, dstRow = j.dstWidth * D / 8;
  const int64_t sx = BlitScaleStepX(j.d), sy = BlitScaleStepY(j.d);
  const int64_t s = kBlitSine[j.d->angle], c = kBlitCosine[j.d->angle];
  const uint32_t key = j.o->key;
  for (int32_t y = j.clip.top; y <= j.clip.bottom; ++y) {
    uint8_t* out = j.dst + static_cast<uint32_t>(y) * dstRow;
    const int64_t dy = y - j.d->y, dx0 = j.clip.left - j.d->x;
    // Running sums: per pixel u grows by c and v falls by s.
    int64_t su = c * dx0 + s * dy + 8192, sv = c * dy - s * dx0 + 8192;
    bool wrote = false;
    for (int32_t x = j.clip.left; x <= j.clip.right; ++x, su += c, sv -= s) {
      int64_t u, v;
      if constexpr (Rot) {
        u = Scale ? (sx * su) >> 22 : su >> 14;
        v = Scale ? (sy * sv) >> 22 : sv >> 14;
      } else {
        const int64_t dx = x - j.d->x;
        u = Scale ? (dx * sx) >> 8 : dx;
        v = Scale ? (dy * sy) >> 8 : dy;
      }
      if (u < 0 || v < 0 || u >= w || v >= h) {
        if (Rot && wrote) break;  // a turned rectangle's row is one run
        continue;
      }
      wrote = true;
      const uint32_t su32 = HF ? w - 1 - static_cast<uint32_t>(u) : static_cast<uint32_t>(u);
      const uint32_t sv32 = VF ? h - 1 - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
      const uint32_t px = Get<D>(j.src + sv32 * srcRow, su32);
      if (Key && px == key) continue;
      Put<D>(out, static_cast<uint32_t>(x), px);
    }
  }
}

// Copies n bits MSB first from bit `from` of src to bit `to` of dst,
// keeping the destination's other bits.
void CopyBits(uint8_t* dst, uint32_t to, const uint8_t* src, uint32_t from, uint32_t n) {
  if (((to | from) & 7) == 0) {
    std::memcpy(dst + (to >> 3), src + (from >> 3), n >> 3);
    to += n & ~7u;
    from += n & ~7u;
    n &= 7;
  }
  while (n) {
    const uint32_t db = to & 7, sbit = from & 7;
    const uint32_t take = n < 8 - db ? n : 8 - db;
    uint32_t win = static_cast<uint32_t>(src[from >> 3]) << 8;
    if (sbit + take > 8) win |= src[(from >> 3) + 1];
    const uint32_t bits = win >> (16 - sbit - take) & ((1u << take) - 1);
    const uint32_t shift = 8 - db - take;
    uint8_t& b = dst[to >> 3];
    b = static_cast<uint8_t>((b & ~(((1u << take) - 1) << shift)) | bits << shift);
    to += take;
    from += take;
    n -= take;
  }
}

// Unrotated, unscaled, not mirrored sideways: each row is one bit run.
template <uint32_t D, bool VF>
void Rows(const Job& j) {
  const uint32_t w = j.o->width, h = j.o->height;
  const uint32_t srcRow = w * D / 8, dstRow = j.dstWidth * D / 8;
  const uint32_t n = static_cast<uint32_t>(j.clip.right - j.clip.left + 1) * D;
  for (int32_t y = j.clip.top; y <= j.clip.bottom; ++y) {
    const uint32_t v = static_cast<uint32_t>(y - j.d->y);
    const uint8_t* row = j.src + (VF ? h - 1 - v : v) * srcRow;
    CopyBits(j.dst + static_cast<uint32_t>(y) * dstRow, static_cast<uint32_t>(j.clip.left) * D, row,
             static_cast<uint32_t>(j.clip.left - j.d->x) * D, n);
  }
}

using Member = void (*)(const Job&);

template <uint32_t D, bool Key, bool Rot, bool Scale>
constexpr Member Pick(bool hf, bool vf) {
  if (hf) return vf ? Mapped<D, true, true, Key, Rot, Scale> : Mapped<D, true, false, Key, Rot, Scale>;
  if (!Key && !Rot && !Scale) return vf ? Rows<D, true> : Rows<D, false>;
  return vf ? Mapped<D, false, true, Key, Rot, Scale> : Mapped<D, false, false, Key, Rot, Scale>;
}

template <uint32_t D, bool Key>
Member Choose(const BlitBitmap* d) {
  const bool hf = d->hflip, vf = d->vflip, rot = d->angle != 0;
  const bool scale = d->xScaleMode != 0 || d->yScaleMode != 0;
  if (rot) return scale ? Pick<D, Key, true, true>(hf, vf) : Pick<D, Key, true, false>(hf, vf);
  return scale ? Pick<D, Key, false, true>(hf, vf) : Pick<D, Key, false, false>(hf, vf);
}

// Limits the clip to the destination and, for unrotated unscaled members,
// to the placed object, whose pixels they read without a test.
bool Prepare(Job* j, const BlitClip* clip, uint32_t dstHeight, bool plain) {
  if (!j->src || !j->dst || !j->o || !j->d || !clip) return false;
  BlitClip c = *clip;
  if (c.left < 0) c.left = 0;
  if (c.top < 0) c.top = 0;
  if (c.right > static_cast<int32_t>(j->dstWidth) - 1) c.right = static_cast<int32_t>(j->dstWidth) - 1;
  if (c.bottom > static_cast<int32_t>(dstHeight) - 1) c.bottom = static_cast<int32_t>(dstHeight) - 1;
  if (plain) {
    const int64_t r = static_cast<int64_t>(j->d->x) + j->o->width - 1;
    const int64_t b = static_cast<int64_t>(j->d->y) + j->o->height - 1;
    if (c.left < j->d->x) c.left = j->d->x;
    if (c.top < j->d->y) c.top = j->d->y;
    if (c.right > r) c.right = static_cast<int32_t>(r);
    if (c.bottom > b) c.bottom = static_cast<int32_t>(b);
  }
  j->clip = c;
  return c.left <= c.right && c.top <= c.bottom && j->o->width && j->o->height;
}

bool Plain(const BlitBitmap* d) { return d->angle == 0 && d->xScaleMode == 0 && d->yScaleMode == 0; }

}  // namespace

int BlitDispatchPacked(const uint8_t* src, uint8_t* dst, uint32_t dstWidth, uint32_t dstHeight,
                       const BlitBitmap* d, const SafObject* o, const BlitClip* clip, uint32_t depth) {
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8) return 1;
  if (!d) return 0;
  // Depth 8 turns and scales through its own dispatcher only.
  if (depth == 8 && !Plain(d)) return 0;
  Job j{src, dst, dstWidth, d, o, {}};
  if (!Prepare(&j, clip, dstHeight, Plain(d))) return 0;
  switch (depth) {
    case 1: Choose<1, false>(d)(j); break;
    case 2: Choose<2, false>(d)(j); break;
    case 4: Choose<4, false>(d)(j); break;
    default: Choose<8, false>(d)(j); break;
  }
  return 0;
}

int BlitDispatchA(const uint8_t* src, uint8_t* dst, uint32_t dstWidth, uint32_t dstHeight,
                  const BlitBitmap* d, const SafObject* o, const BlitClip* clip) {
  Job j{src, dst, dstWidth, d, o, {}};
  if (!d || !Prepare(&j, clip, dstHeight, Plain(d))) return 0;
  Choose<4, true>(d)(j);
  return 0;
}

int BlitDispatch8Bit(const uint8_t* src, uint8_t* dst, uint32_t dstWidth, uint32_t dstHeight,
                     const BlitBitmap* d, const SafObject* o, const BlitClip* clip) {
  Job j{src, dst, dstWidth, d, o, {}};
  if (!d || !Prepare(&j, clip, dstHeight, Plain(d))) return 0;
  if (d->keyMode == 2)
    Choose<8, true>(d)(j);
  else
    Choose<8, false>(d)(j);
  return 0;
}
