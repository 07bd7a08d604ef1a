// The two-bit "SIS" variant: up to 50 layers, each two Gray-coded bit planes
// under a context-adaptive run-length coder or a reference to another layer
// plus patches of tiles, composed into up to 20 frames in passes. Cacheable
// layers are kept decoded in the work buffer for the frames that reuse them.
#include <cstring>

#include "graphics/sis_internal.h"

namespace {

constexpr uint32_t kMaxLayers = 50, kMaxFrames = 20, kMaxEntries = 50, kMaxChain = 50;
constexpr uint32_t kStride = 32, kRows = 128;  // layer buffers: 128 x 128 pixels
constexpr uint32_t kCanvasBytes = 4096;
constexpr int32_t kHull = -1, kOpaque = -2;

struct SisGrayLayer {
  uint32_t isReference;
  uint32_t patched;  // a reference layer with patches
  uint32_t id;
  uint32_t reference;  // 1-based, 0 none
  uint32_t dataPos;    // byte offset of the coded planes or patches
  uint32_t dataLength;
  uint32_t width, height;  // 8-pixel units
  uint32_t patches;
  uint32_t cacheOffset;
  uint32_t cacheable, cached;
  int32_t maskMode;
};

struct SisGrayEntry {
  uint32_t layer, pass, flags;
  int32_t x, y;
};

struct FrameState {
  uint32_t invert;
  int32_t background;
  uint32_t count;
  SisGrayEntry entries[kMaxEntries];
};

struct Gray {
  uint32_t width, height, invert, frames, colours, delay, perFrame;
  uint8_t delays[kMaxFrames];
  uint32_t passes, flags, planes, method, layerCount;
  SisGrayLayer layers[kMaxLayers];
  uint32_t framePos[kMaxFrames];
  const uint8_t* data;
  uint32_t length;
  uint32_t cacheUsed;
  int32_t canvasFrame;  // the frame the canvas holds, -1 none
  uint8_t canvas[kCanvasBytes];
  uint8_t layer[2][kStride * kRows];
  uint8_t region[kStride * kRows];  // planes decode here
  uint8_t lines[2][128];
};

Gray g;

// A bounded byte reader.
struct Bytes {
  const uint8_t* p;
  uint32_t length, pos;
  bool bad;
  uint32_t U8() {
    if (pos >= length) {
      bad = true;
      return 0;
    }
    return p[pos++];
  }
  uint32_t U16() {
    const uint32_t hi = U8();
    return hi << 8 | U8();
  }
};

// The plane coder's state: 8 contexts, 16 run slots.
struct Planes {
  SisBits bits;
  uint32_t w, h;
  uint8_t predicted[8], k[8];
  uint32_t pending[16];
  uint8_t brk[16];
  uint32_t runs;
};

Planes pc;

}  // namespace

void SisRunTablesReset() {
  std::memset(pc.pending, 0, sizeof pc.pending);
  std::memset(pc.brk, 0, sizeof pc.brk);
  pc.runs = 0;
}

void SisPlaneStart() {
  std::memset(g.lines, 0, sizeof g.lines);
  std::memset(pc.predicted, 0, sizeof pc.predicted);
  std::memset(pc.k, 0, sizeof pc.k);
  SisRunTablesReset();
}

void SisPlaneSetup(uint32_t lineWidth, uint32_t lineCount, const uint8_t* data, uint32_t length,
                   uint32_t bitPos) {
  pc.w = lineWidth;
  pc.h = lineCount;
  pc.bits = {data, length, bitPos, false};
}

uint32_t SisRunRead(uint32_t k) {
  if (pc.bits.Read(1) == 0) return 1u << k;
  return k ? pc.bits.Read(k) : 0;
}

void SisRunAdapt(uint32_t c) {
  if (pc.k[c] > 0)
    --pc.k[c];
  else
    pc.predicted[c] ^= 1;
}

namespace {

void Grow(uint32_t c, uint32_t k) {
  if (pc.pending[k] == 0 && pc.brk[k] == 0 && pc.k[c] < 15) ++pc.k[c];
}

}  // namespace

uint32_t SisPlaneDecodePixel(uint32_t c) {
  const uint32_t k = pc.k[c];
  if (pc.pending[k] > 0) {
    --pc.pending[k];
    Grow(c, k);
    return pc.predicted[c];
  }
  if (pc.brk[k]) {
    const uint32_t px = pc.predicted[c] ^ 1u;
    SisRunAdapt(c);
    pc.brk[k] = 0;
    return px;
  }
  if (pc.runs == 32) SisRunTablesReset();
  const uint32_t r = SisRunRead(k);
  ++pc.runs;
  pc.pending[k] = r;
  pc.brk[k] = r < (1u << k);
  if (r > 0) {
    --pc.pending[k];
    Grow(c, k);
    return pc.predicted[c];
  }
  const uint32_t px = pc.predicted[c] ^ 1u;
  SisRunAdapt(c);
  pc.brk[k] = 0;
  return px;
}

void SisPlanePutPixel(uint32_t plane, uint32_t x, uint32_t y, uint32_t bit) {
  if (!bit) return;
  g.region[y * (pc.w / 4) + x / 4] |= static_cast<uint8_t>((plane == 0 ? 2 : 1) << (6 - 2 * (x % 4)));
}

// Decodes one plane; false when the data run out.
bool SisPlaneDecode(uint32_t plane) {
  SisPlaneStart();
  uint8_t* prev = g.lines[0];
  uint8_t* cur = g.lines[1];
  for (uint32_t y = 0; y < pc.h; ++y) {
    for (uint32_t x = 0; x < pc.w; ++x) {
      uint32_t c;
      if (y == 0)
        c = x == 0 ? 0 : cur[x - 1];
      else if (x == 0)
        c = 2u * prev[0];
      else
        c = 4u * prev[x - 1] + 2u * prev[x] + cur[x - 1];
      const uint32_t px = SisPlaneDecodePixel(c);
      cur[x] = static_cast<uint8_t>(px);
      SisPlanePutPixel(plane, x, y, px);
    }
    uint8_t* t = prev;
    prev = cur;
    cur = t;
    std::memset(cur, 0, 128);
  }
  return !pc.bits.bad;
}

namespace {

// Decodes a region of w x h pixels at byte `pos` (limited to `end`) into
// g.region as packed rows of w/4 bytes with the Gray step undone.
bool DecodeRegion(uint32_t w, uint32_t h, uint32_t pos, uint32_t end, uint32_t* after) {
  std::memset(g.region, 0, sizeof g.region);
  SisPlaneSetup(w, h, g.data, end, pos * 8);
  if (!SisPlaneDecode(0)) return false;
  SisPlaneSetup(w, h, g.data, end, pc.bits.pos);
  if (!SisPlaneDecode(1)) return false;
  for (uint32_t i = 0; i < w / 4 * h; ++i) {
    const uint8_t b = g.region[i];
    g.region[i] = static_cast<uint8_t>(b ^ (b >> 1 & 0x55));  // (b1, b1 ^ b0)
  }
  pc.bits.Align();
  *after = pc.bits.pos / 8;
  return true;
}

void RegionToLayer(uint32_t w, uint32_t h, uint32_t x, uint32_t y) {
  for (uint32_t r = 0; r < h; ++r) std::memcpy(&g.layer[0][(y + r) * kStride + x / 4], &g.region[r * (w / 4)], w / 4);
}

bool CacheStore(SisGrayLayer* l) {
  const uint32_t bytes = l->width * l->height * 16;
  if (!gSis.work || g.cacheUsed + bytes >= gSis.workSize) return false;
  l->cacheOffset = g.cacheUsed;
  for (uint32_t r = 0; r < l->height * 8; ++r)
    std::memcpy(gSis.work + g.cacheUsed + r * l->width * 2, &g.layer[0][r * kStride], l->width * 2);
  g.cacheUsed += bytes;
  l->cached = 1;
  return true;
}

void CacheLoad(const SisGrayLayer& l) {
  for (uint32_t r = 0; r < l.height * 8; ++r)
    std::memcpy(&g.layer[0][r * kStride], gSis.work + l.cacheOffset + r * l.width * 2, l.width * 2);
}

}  // namespace

bool SisGrayDecodeLayer(const SisGrayLayer& l) {
  if (g.planes != 2 || g.method != 1) return true;  // nothing that decodes
  uint32_t after;
  if (!DecodeRegion(l.width * 8, l.height * 8, l.dataPos, l.dataPos + l.dataLength, &after)) return false;
  RegionToLayer(l.width * 8, l.height * 8, 0, 0);
  return true;
}

void SisTileSpan(uint32_t* columns, uint32_t* rows, uint32_t first, uint32_t last, uint32_t width) {
  *columns = last % width - first % width + 1;
  *rows = last / width - first / width + 1;
}

// Applies the patches of layer l onto layer buffer 0, tiles counted over
// the root's width. A cacheable layer keeps its patches as they come: the
// two tile indices, then the patch rows, in (last - first + 1) x 16 bytes.
bool SisGrayDecodePatches(SisGrayLayer& l, uint32_t width, uint32_t height) {
  if (g.planes != 2 || g.method != 1) return true;
  const bool store = l.cacheable && !l.cached;
  const uint32_t start = g.cacheUsed;
  uint32_t pos = l.dataPos;
  const uint32_t end = l.dataPos + l.dataLength;
  for (uint32_t i = 0; i < l.patches; ++i) {
    if (pos + 2 > end) return false;
    const uint32_t first = g.data[pos], last = g.data[pos + 1];
    if (first % width > last % width || first / width > last / width || last >= width * height)
      return false;
    uint32_t cols, rows;
    SisTileSpan(&cols, &rows, first, last, width);
    if (!DecodeRegion(cols * 8, rows * 8, pos + 2, end, &pos)) return false;
    RegionToLayer(cols * 8, rows * 8, first % width * 8, first / width * 8);
    if (store) {
      const uint32_t bytes = 2 + (last - first + 1) * 16;
      if (!gSis.work || g.cacheUsed + bytes >= gSis.workSize) {
        g.cacheUsed = start;
        return false;
      }
      uint8_t* at = gSis.work + g.cacheUsed;
      at[0] = static_cast<uint8_t>(first);
      at[1] = static_cast<uint8_t>(last);
      std::memcpy(at + 2, g.region, cols * rows * 16);
      g.cacheUsed += bytes;
    }
  }
  if (store) {
    l.cacheOffset = start;
    l.cached = 1;
  }
  return true;
}

namespace {

// Replays the patches a cacheable layer kept.
void ApplyCachedPatches(const SisGrayLayer& l, uint32_t width) {
  uint32_t at = l.cacheOffset;
  for (uint32_t i = 0; i < l.patches; ++i) {
    const uint8_t* p = gSis.work + at;
    const uint32_t first = p[0], last = p[1];
    uint32_t cols, rows;
    SisTileSpan(&cols, &rows, first, last, width);
    std::memcpy(g.region, p + 2, cols * rows * 16);
    RegionToLayer(cols * 8, rows * 8, first % width * 8, first / width * 8);
    at += 2 + (last - first + 1) * 16;
  }
}

}  // namespace

const uint8_t* SisGrayParseHeader(const uint8_t* data, uint32_t length) {
  if (!data || std::memcmp(data, "SIS", length < 3 ? length : 3) != 0 || length < 3) return nullptr;
  Bytes b{data, length, 6, false};
  const uint32_t w = b.U8(), h = b.U8();
  g.width = w ? (w >> 3) * 8 : 256;
  g.height = h ? (h >> 3) * 8 : 256;
  g.invert = b.U8();
  g.frames = b.U8();
  g.colours = b.U8();
  b.U8();
  g.delay = b.U8();
  if (g.frames == 0 || g.frames > kMaxFrames) return nullptr;
  g.perFrame = g.delay >= 128;
  for (uint32_t i = 0; g.perFrame && i < g.frames; ++i) g.delays[i] = static_cast<uint8_t>(b.U8());
  g.passes = b.U8();
  g.flags = b.U8();
  g.planes = b.U8();
  g.method = b.U8();
  g.layerCount = b.U8();
  if (b.bad || g.layerCount > kMaxLayers) return nullptr;
  SisImageInfo& info = gSis.info;
  info = {};
  info.frameCount = g.frames;
  info.width = g.width;
  info.height = g.height;
  info.perFrameDelays = g.perFrame;
  for (uint32_t i = 0; i < g.frames; ++i) info.delays[i] = g.perFrame ? g.delays[i] : g.delay;
  info.colours = g.colours;
  info.kind = g.planes;
  info.loop = g.flags >> 7 & 1;
  return data + b.pos;
}

uint32_t SisGrayPlaneCount() { return g.planes; }

namespace {

bool ParseLayer(Bytes* b, SisGrayLayer* l) {
  *l = {};
  const uint32_t a = b->U8(), bb = b->U8();
  l->cacheable = a >> 7;
  l->id = a & 0x7F;
  if (bb & 0x80) {
    l->isReference = 1;
    l->reference = bb & 0x7F;
    const uint32_t c = b->U8();
    if (c & 0x80) {
      l->patched = 1;
      l->patches = b->U16();
      l->dataLength = b->U16();
      l->dataPos = b->pos;
      b->pos += l->dataLength;
    }
  } else {
    const uint32_t mode = bb & 112;
    l->maskMode = mode == 0 ? kHull : kOpaque;  // undefined modes draw opaque
    if (mode == 32) b->U8();
    l->width = b->U8();
    l->height = b->U8();
    l->dataLength = b->U16();
    l->dataPos = b->pos;
    b->pos += l->dataLength;
    // Layer buffers hold 128 x 128 pixels; tiles divide by the width.
    if (l->width == 0 || l->height == 0 || l->width > 16 || l->height > 16) return false;
  }
  return !b->bad && b->pos <= b->length;
}

bool ParseFrame(Bytes* b, FrameState* f) {
  const uint32_t flags = b->U8();
  f->invert = flags >> 7;
  f->background = flags & 0x20 ? static_cast<int32_t>(b->U8()) : -1;
  f->count = b->U8();
  if (f->count > kMaxEntries) return false;
  for (uint32_t i = 0; i < f->count; ++i) {
    SisGrayEntry& e = f->entries[i];
    e.layer = b->U8();
    e.pass = b->U8();
    e.flags = b->U8();
    const uint32_t x = b->U8(), y = b->U8();
    e.x = e.flags & 0x80 ? -static_cast<int32_t>(x) : static_cast<int32_t>(x);
    e.y = e.flags & 0x40 ? -static_cast<int32_t>(y) : static_cast<int32_t>(y);
    if (e.flags & 4) b->U8();
    if (e.flags & 2) b->U8();
  }
  return !b->bad;
}

}  // namespace

int SisGrayParseLayers(const uint8_t* data, uint32_t length) {
  g.cacheUsed = 0;
  g.canvasFrame = -1;
  std::memset(g.canvas, 0, sizeof g.canvas);
  const uint8_t* p = SisGrayParseHeader(data, length);
  if (!p) return 0;
  if (g.width / 4 * g.height > kCanvasBytes) return 0;
  g.data = data;
  g.length = length;
  Bytes b{data, length, static_cast<uint32_t>(p - data), false};
  for (uint32_t i = 0; i < g.layerCount; ++i)
    if (!ParseLayer(&b, &g.layers[i])) return 0;
  for (uint32_t i = 0; i < g.layerCount; ++i)
    if (g.layers[i].reference > g.layerCount) return 0;
  static FrameState f;
  for (uint32_t i = 0; i < g.frames; ++i) {
    g.framePos[i] = b.pos;
    if (!ParseFrame(&b, &f)) return 0;
  }
  return 1;
}

namespace {

// Brings layer n (1-based) into layer buffer 0; *w and *h get its size in
// pixels and *mask its mask mode.
bool LoadLayer(uint32_t n, uint32_t* w, uint32_t* h, int32_t* mask) {
  if (n == 0 || n > g.layerCount) return false;
  uint32_t chain[kMaxChain];
  uint32_t links = 0;
  uint32_t at = n - 1;
  chain[links++] = at;
  while (g.layers[at].isReference) {
    if (g.layers[at].reference == 0) return false;
    if (links == kMaxChain) return false;  // too long, or a cycle
    at = g.layers[at].reference - 1;
    chain[links++] = at;
  }
  SisGrayLayer& root = g.layers[at];
  *w = root.width * 8;
  *h = root.height * 8;
  *mask = root.maskMode;
  if (root.cached) {
    CacheLoad(root);
  } else {
    if (!SisGrayDecodeLayer(root)) return false;
    if (root.cacheable && !CacheStore(&root)) return false;
  }
  // Patches from the member next to the root down to the entry's layer.
  for (uint32_t i = links - 1; i-- > 0;) {
    SisGrayLayer& l = g.layers[chain[i]];
    if (!l.patched) continue;
    if (l.cached)
      ApplyCachedPatches(l, root.width);
    else if (!SisGrayDecodePatches(l, root.width, root.height))
      return false;
  }
  return true;
}

constexpr uint8_t Reverse4(uint32_t b) {
  return static_cast<uint8_t>((b & 3) << 6 | (b >> 2 & 3) << 4 | (b >> 4 & 3) << 2 | (b >> 6 & 3));
}

inline uint32_t Pix(const uint8_t* buf, uint32_t x, uint32_t y) {
  return buf[y * kStride + x / 4] >> (6 - 2 * (x % 4)) & 3;
}
inline void PutPix(uint8_t* buf, uint32_t x, uint32_t y, uint32_t v) {
  uint8_t& b = buf[y * kStride + x / 4];
  const uint32_t shift = 6 - 2 * (x % 4);
  b = static_cast<uint8_t>((b & ~(3u << shift)) | v << shift);
}

}  // namespace

void SisGrayRotate90(uint32_t* w, uint32_t* h) {
  std::memset(g.region, 0, sizeof g.region);
  for (uint32_t y = 0; y < *h; ++y)
    for (uint32_t x = 0; x < *w; ++x) PutPix(g.region, y, *w - 1 - x, Pix(g.layer[0], x, y));
  std::memcpy(g.layer[0], g.region, sizeof g.region);
  const uint32_t t = *w;
  *w = *h;
  *h = t;
}

void SisGrayFlip(uint32_t w, uint32_t h, bool vertical, bool horizontal) {
  const uint32_t bytes = w / 4;
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* from = &g.layer[0][(vertical ? h - 1 - y : y) * kStride];
    uint8_t* to = &g.layer[1][y * kStride];
    for (uint32_t j = 0; j < bytes; ++j) to[j] = horizontal ? Reverse4(from[bytes - 1 - j]) : from[j];
  }
}

namespace {

uint8_t gMask[kStride * kRows];

void HullMask(uint32_t w, uint32_t h) {
  std::memset(gMask, 0, sizeof gMask);
  for (uint32_t y = 0; y < h; ++y) {
    int32_t first = -1, last = -1;
    for (uint32_t x = 0; x < w; ++x)
      if (Pix(g.layer[1], x, y)) {
        if (first < 0) first = static_cast<int32_t>(x);
        last = static_cast<int32_t>(x);
      }
    for (int32_t x = first; first >= 0 && x <= last; ++x) PutPix(gMask, static_cast<uint32_t>(x), y, 3);
  }
  for (uint32_t x = 0; x < w; ++x) {
    int32_t first = -1, last = -1;
    for (uint32_t y = 0; y < h; ++y)
      if (Pix(g.layer[1], x, y)) {
        if (first < 0) first = static_cast<int32_t>(y);
        last = static_cast<int32_t>(y);
      }
    if (first < 0) first = last = 0;
    for (uint32_t y = 0; y < h; ++y)
      if (static_cast<int32_t>(y) < first || static_cast<int32_t>(y) > last) PutPix(gMask, x, y, 0);
  }
}

void Paste(uint32_t w, uint32_t h, int32_t px, int32_t py, bool masked) {
  const uint32_t stride = g.width / 4;
  for (uint32_t y = 0; y < h; ++y) {
    const int32_t cy = py + static_cast<int32_t>(y);
    if (cy < 0 || cy >= static_cast<int32_t>(g.height)) continue;
    for (uint32_t x = 0; x < w; ++x) {
      const int32_t cx = px + static_cast<int32_t>(x);
      if (cx < 0 || cx >= static_cast<int32_t>(g.width)) continue;
      if (masked && !Pix(gMask, x, y)) continue;
      uint8_t& b = g.canvas[static_cast<uint32_t>(cy) * stride + static_cast<uint32_t>(cx) / 4];
      const uint32_t shift = 6 - 2 * (static_cast<uint32_t>(cx) % 4);
      b = static_cast<uint8_t>((b & ~(3u << shift)) | Pix(g.layer[1], x, y) << shift);
    }
  }
}

bool Compose(uint32_t index, bool write) {
  static FrameState f;
  Bytes b{g.data, g.length, g.framePos[index], false};
  if (!ParseFrame(&b, &f)) return false;
  const uint32_t bytes = g.width / 4 * g.height;
  if (g.planes == 2) {
    if (f.background <= 0)
      std::memset(g.canvas, 0, bytes);
    else if (f.background < 4)
      std::memset(g.canvas, static_cast<int>(f.background * 0x55), bytes);
  }
  for (uint32_t pass = 0; pass < g.passes; ++pass)
    for (uint32_t i = 0; i < f.count; ++i) {
      const SisGrayEntry& e = f.entries[i];
      if (e.pass != pass) continue;
      std::memset(g.layer, 0, sizeof g.layer);
      uint32_t w, h;
      int32_t mask;
      if (!LoadLayer(e.layer, &w, &h, &mask)) return false;
      if (e.flags & 8) SisGrayRotate90(&w, &h);
      SisGrayFlip(w, h, e.flags & 0x10, e.flags & 0x20);
      const bool masked = pass > 0 && g.planes == 2;
      if (masked) {
        if (mask == kHull)
          HullMask(w, h);
        else
          std::memset(gMask, 0xFF, sizeof gMask);
      }
      Paste(w, h, e.x, e.y, masked);
    }
  if (g.planes == 2 && ((f.invert == 1 && g.invert == 0) || (f.invert == 0 && g.invert == 1)))
    for (uint32_t i = 0; i < bytes; ++i) g.canvas[i] = static_cast<uint8_t>(~g.canvas[i]);
  g.canvasFrame = static_cast<int32_t>(index);
  if (!write) return true;
  uint8_t* px = SisBeginRecord(g.width, g.height, (g.perFrame ? g.delays[index] : g.delay) / 2, bytes);
  if (!px) return false;
  std::memcpy(px, g.canvas, bytes);
  return true;
}

}  // namespace

bool SisGrayComposeFrame(uint32_t index) {
  // A frame may build on the canvas of the frame before it; when the canvas
  // holds something else, the frames before are composed again first.
  if (g.canvasFrame != static_cast<int32_t>(index) - 1) {
    std::memset(g.canvas, 0, sizeof g.canvas);
    for (uint32_t i = 0; i < index; ++i)
      if (!Compose(i, false)) return false;
  }
  return Compose(index, true);
}

int SisGrayDecodeFrames(int32_t frame) {
  if (frame >= 0) return static_cast<uint32_t>(frame) < g.frames && SisGrayComposeFrame(static_cast<uint32_t>(frame));
  for (uint32_t i = 0; i < g.frames; ++i)
    if (!SisGrayComposeFrame(i)) return 0;
  return 1;
}
