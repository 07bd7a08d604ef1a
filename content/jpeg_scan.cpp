// Entropy decoding, the inverse DCT and colour conversion of the JPEG
// decoder.
#include "content/jpeg_internal.h"
#include "kernel/libc.h"

namespace {

// Natural (row-major) position of each zigzag index.
constexpr uint8_t kNatural[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};


// Tops the bit buffer up to more than 56 bits. Past the bytes at hand it
// shifts in zeros: after a marker they are the data (a damaged segment reads
// as zeros up to the marker), otherwise they stand in for bytes still to come
// and are counted in `pad`.
void Fill(JpegDecoder* d) {
  JpegBits& b = d->bits;
  while (b.count <= 56) {
    uint32_t byte = 0;
    if (!b.marker) {
      if (b.pos >= d->inEnd) {
        b.acc <<= 8;
        b.count += 8;
        b.pad += 8;
        continue;
      }
      byte = d->in[b.pos];
      if (byte == 0xFF) {
        if (b.pos + 1 >= d->inEnd) {
          b.acc <<= 8;
          b.count += 8;
          b.pad += 8;
          continue;
        }
        const uint8_t next = d->in[b.pos + 1];
        if (next == 0x00) {
          b.pos += 2;
        } else if (next == 0xFF) {
          ++b.pos;  // fill byte
          continue;
        } else {
          b.marker = 1;
          byte = 0;
        }
      } else {
        ++b.pos;
      }
    }
    b.acc = b.acc << 8 | byte;
    b.count += 8;
    if (b.marker) b.fill += 8;
  }
}

inline void Used(JpegBits& b) {
  if (b.count < b.pad) {
    b.starved = 1;
    b.pad = b.count;
  }
  if (b.count < b.fill) {
    b.overrun = 1;
    b.fill = b.count;
  }
}

// Takes n bits (0..16). Using bits that stand in for missing data marks the
// unit as starved.
inline uint32_t Get(JpegDecoder* d, int32_t n) {
  JpegBits& b = d->bits;
  if (b.count < 32) Fill(d);
  b.count -= n;
  Used(b);
  return static_cast<uint32_t>(b.acc >> b.count) & ((1u << n) - 1);
}

inline uint32_t Peek16(JpegDecoder* d) {
  JpegBits& b = d->bits;
  if (b.count < 32) Fill(d);
  return static_cast<uint32_t>(b.acc >> (b.count - 16)) & 0xFFFF;
}

inline void Skip(JpegDecoder* d, int32_t n) {
  JpegBits& b = d->bits;
  b.count -= n;
  Used(b);
}

// A code not in the table decodes as symbol 0 (DC difference 0, or end of
// block) and uses up 16 bits, so that even an empty table eats its data.
uint32_t Decode(JpegDecoder* d, const JpegHuff* t) {
  const uint32_t look = Peek16(d);
  const uint32_t top = look >> 8;
  if (t->lookLength[top]) {
    Skip(d, t->lookLength[top]);
    return t->lookSymbol[top];
  }
  for (int32_t l = 9; l <= t->longest; ++l) {
    const int32_t code = static_cast<int32_t>(look >> (16 - l));
    if (code <= t->maxCode[l]) {
      Skip(d, l);
      const int32_t index = code + t->valOffset[l];
      return index >= 0 && index < t->count ? t->symbols[index] : 0;
    }
  }
  Skip(d, 16);
  return 0;
}

inline int32_t Extend(uint32_t v, int32_t s) {
  return v < (1u << (s - 1)) ? static_cast<int32_t>(v) - (1 << s) + 1 : static_cast<int32_t>(v);
}

inline int32_t Dequantise(int32_t coefficient, uint16_t q) {
  int64_t v = int64_t{coefficient} * q;
  if (v > 32767) v = 32767;
  if (v < -32768) v = -32768;
  return static_cast<int32_t>(v);
}

void DecodeBlock(JpegDecoder* d, JpegComponent* c, const JpegHuff* dc, const JpegHuff* ac,
                 uint8_t* out) {
  int32_t block[64] = {};
  const uint16_t* q = d->quant[c->tq];
  const uint32_t s = Decode(d, dc);
  int32_t diff = 0;
  if (s > 0 && s <= 16) diff = Extend(Get(d, static_cast<int32_t>(s)), static_cast<int32_t>(s));
  // Wraps rather than overflows on hostile data.
  c->predictor = static_cast<int32_t>(static_cast<uint32_t>(c->predictor) +
                                      static_cast<uint32_t>(diff));
  block[0] = Dequantise(c->predictor, q[0]);
  for (uint32_t k = 1; k < 64;) {
    const uint32_t rs = Decode(d, ac);
    const uint32_t r = rs >> 4, size = rs & 15;
    if (size) {
      k += r;
      if (k > 63) break;
      const uint32_t n = kNatural[k];
      block[n] = Dequantise(Extend(Get(d, static_cast<int32_t>(size)), static_cast<int32_t>(size)),
                            q[n]);
      ++k;
    } else if (r == 15) {
      k += 16;
    } else {
      break;
    }
  }
  JpegInverseDct(block, out, c->stride);
}

// One pass of the integer IDCT over eight values `step` apart.
inline void Idct1d(int32_t* v, uint32_t step) {
  const int32_t c0 = v[0], c1 = v[step], c2 = v[2 * step], c3 = v[3 * step], c4 = v[4 * step],
                c5 = v[5 * step], c6 = v[6 * step], c7 = v[7 * step];
  const int32_t e0 = c0 + c4, e1 = c0 - c4;
  const int32_t a = (e0 >> 2) + (e0 >> 1);
  const int32_t b = (e1 >> 1) + (e1 >> 2);
  const int32_t p = c2 - (c2 >> 4) + (c6 >> 2) + (c6 >> 3);
  const int32_t q = (c2 >> 3) + (c2 >> 2) + (c6 >> 4) - c6;
  const int32_t t0 = a + p, t3 = a - p, t1 = b + q, t2 = b - q;
  const int32_t u = c5 - (c5 >> 3) - (c3 >> 4) - (c3 >> 1);
  const int32_t w = c3 + (c5 >> 1) + (c5 >> 4) - (c3 >> 3);
  const int32_t x = (c1 >> 2) - (c1 >> 4) - c7;
  const int32_t y = c1 + (c7 >> 2) - (c7 >> 4);
  const int32_t dd = y - w;
  const int32_t s0 = y + w, s3 = x + u;
  const int32_t m1 = x - u + dd, m2 = dd + u - x;
  const int32_t r1 = (m1 >> 1) + (m1 >> 2), r2 = (m2 >> 1) + (m2 >> 2);
  v[0] = t0 + s0;
  v[step] = t1 + r1;
  v[2 * step] = t2 + r2;
  v[3 * step] = t3 + s3;
  v[4 * step] = t3 - s3;
  v[5 * step] = t2 - r2;
  v[6 * step] = t1 - r1;
  v[7 * step] = t0 - s0;
}

inline uint8_t Sample(int32_t v) {
  // (v - 8) >> 4 when negative, (v + 8) >> 4 otherwise.
  v = ((v + 8 - ((v >> 31) & 16)) >> 4) + 128;
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// RGB565 parts of each clamped channel value, indexed by value + kBias:
// a luma of 0..255 plus a chroma term of at most 227 either way.
constexpr int32_t kBias = 256;
struct Parts {
  uint16_t r[768], g[768], b[768];
};
constexpr Parts MakeParts() {
  Parts p{};
  for (int32_t i = 0; i < 768; ++i) {
    const int32_t v = i - kBias < 0 ? 0 : i - kBias > 255 ? 255 : i - kBias;
    p.r[i] = static_cast<uint16_t>((v & 0xF8) << 8);
    p.g[i] = static_cast<uint16_t>((v & 0xFC) << 3);
    p.b[i] = static_cast<uint16_t>(v >> 3);
  }
  return p;
}
constexpr Parts kParts = MakeParts();

// (256 Y + k) >> 8 is Y + (k >> 8): the chroma terms are worked out once per
// chroma sample.
struct Chroma {
  int32_t r, g, b;
};
inline Chroma ChromaOf(int32_t cb, int32_t cr) {
  cb -= 128;
  cr -= 128;
  return {((359 * cr) >> 8) + kBias, ((-88 * cb - 183 * cr) >> 8) + kBias,
          ((454 * cb) >> 8) + kBias};
}
inline uint16_t Pixel(int32_t y, const Chroma& c) {
  return static_cast<uint16_t>(kParts.r[y + c.r] | kParts.g[y + c.g] | kParts.b[y + c.b]);
}

inline uint16_t Rgb565(int32_t r, int32_t g, int32_t b) {
  return static_cast<uint16_t>((r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3);
}

}  // namespace

bool JpegHuffmanValid(const uint8_t counts[16]) {
  uint32_t code = 0, total = 0;
  for (uint32_t l = 1; l <= 16; ++l) {
    code += counts[l - 1];
    total += counts[l - 1];
    if (code > (1u << l)) return false;  // more codes than the length can hold
    code <<= 1;
  }
  return total <= 256;
}

void JpegBuildHuffman(JpegHuff* t, const uint8_t counts[16], const uint8_t* symbols,
                      uint32_t total) {
  LibcMemSet(t, 0, sizeof(*t));
  LibcMemCopy(t->symbols, symbols, total);
  t->count = static_cast<uint16_t>(total);
  int32_t code = 0;
  uint32_t index = 0;
  for (int32_t l = 1; l <= 16; ++l) {
    const uint32_t n = counts[l - 1];
    t->maxCode[l] = -1;
    if (n) {
      t->valOffset[l] = static_cast<int32_t>(index) - code;
      for (uint32_t i = 0; i < n; ++i, ++code, ++index) {
        if (l <= 8) {
          const uint32_t first = static_cast<uint32_t>(code) << (8 - l);
          for (uint32_t j = 0; j < (1u << (8 - l)); ++j) {
            t->lookLength[first + j] = static_cast<uint8_t>(l);
            t->lookSymbol[first + j] = symbols[index];
          }
        }
      }
      t->maxCode[l] = code - 1;
      t->longest = static_cast<uint8_t>(l);
    }
    code <<= 1;
  }
  t->defined = 1;
}

void JpegDecodeUnit(JpegDecoder* d) {
  const uint32_t si = d->unitComp;
  JpegComponent* c = &d->comp[d->scanComp[si]];
  const JpegHuff* dc = &d->huff[d->td[si]];
  const JpegHuff* ac = &d->huff[4 + d->ta[si]];
  const uint64_t mcu = static_cast<uint64_t>(d->mcu);
  const uint32_t mx = static_cast<uint32_t>(mcu % d->mcusAcross);
  const uint32_t my = static_cast<uint32_t>(mcu / d->mcusAcross);
  if (d->ns == 1) {
    uint8_t* out = c->plane + (uint64_t{my} * 8 - c->origin) * c->stride + uint64_t{mx} * 8;
    DecodeBlock(d, c, dc, ac, out);
    return;
  }
  const uint32_t row = my * c->v + d->unitRow;
  uint8_t* out = c->plane + (uint64_t{row} * 8 - c->origin) * c->stride + uint64_t{mx} * c->h * 8;
  for (uint32_t h = 0; h < c->h; ++h) DecodeBlock(d, c, dc, ac, out + h * 8);
}

void JpegInverseDct(int32_t* block, uint8_t* out, uint32_t stride) {
  for (uint32_t col = 0; col < 8; ++col) {
    int32_t* v = block + col;
    if (!(v[8] | v[16] | v[24] | v[32] | v[40] | v[48] | v[56])) {
      if (!v[0]) continue;  // all zero stays zero
      const int32_t c0 = v[0] * 4;
      // Only the even part's first term survives: a + 0 on every row.
      const int32_t a = (c0 >> 2) + (c0 >> 1);
      for (uint32_t r = 0; r < 8; ++r) v[8 * r] = a;
      continue;
    }
    for (uint32_t r = 0; r < 8; ++r) v[8 * r] *= 4;
    Idct1d(v, 8);
  }
  for (uint32_t row = 0; row < 8; ++row) {
    int32_t* v = block + 8 * row;
    uint8_t* o = out + row * stride;
    if (!(v[1] | v[2] | v[3] | v[4] | v[5] | v[6] | v[7])) {
      const int32_t a = (v[0] >> 2) + (v[0] >> 1);
      const uint8_t s = Sample(a);
      for (uint32_t i = 0; i < 8; ++i) o[i] = s;
      continue;
    }
    Idct1d(v, 1);
    for (uint32_t i = 0; i < 8; ++i) o[i] = Sample(v[i]);
  }
}

void JpegConvertRows(JpegDecoder* d, uint32_t from, uint32_t to) {
  const uint32_t w = d->width;
  for (uint32_t y = from; y < to; ++y) {
    uint16_t* out = d->rows + uint64_t{y - d->bandStart} * w;
    const JpegComponent& c0 = d->comp[0];
    const uint8_t* luma = c0.plane + uint64_t{(y >> c0.shiftY) - c0.origin} * c0.stride;
    if (d->nf == 1) {
      for (uint32_t x = 0; x < w; ++x) out[x] = Rgb565(luma[x], luma[x], luma[x]);
      continue;
    }
    const JpegComponent& c1 = d->comp[1];
    const JpegComponent& c2 = d->comp[2];
    const uint8_t* cbRow = c1.plane + uint64_t{(y >> c1.shiftY) - c1.origin} * c1.stride;
    const uint8_t* crRow = c2.plane + uint64_t{(y >> c2.shiftY) - c2.origin} * c2.stride;
    const uint8_t sx0 = c0.shiftX, sx1 = c1.shiftX, sx2 = c2.shiftX;
    if (sx0 == 0 && sx1 == 1 && sx2 == 1) {  // chroma halved across
      uint32_t x = 0;
      for (; x + 1 < w; x += 2) {
        const Chroma c = ChromaOf(cbRow[x >> 1], crRow[x >> 1]);
        out[x] = Pixel(luma[x], c);
        out[x + 1] = Pixel(luma[x + 1], c);
      }
      if (x < w) out[x] = Pixel(luma[x], ChromaOf(cbRow[x >> 1], crRow[x >> 1]));
      continue;
    }
    for (uint32_t x = 0; x < w; ++x)
      out[x] = Pixel(luma[x >> sx0], ChromaOf(cbRow[x >> sx1], crRow[x >> sx2]));
  }
}
