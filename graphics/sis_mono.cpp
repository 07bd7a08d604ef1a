// The one-bit "SIS" variant: up to 20 objects coded in 8 x 8 blocks (raw or
// run-coded in zig-zag order, derived objects as deltas of blocks), and up
// to 20 frames placing them on a cleared canvas in passes, with rotation,
// flips and inversion. Everything is one MSB-first bitstream.
#include <cstring>

#include "graphics/sis_internal.h"

namespace {

constexpr uint32_t kMaxObjects = 20, kMaxFrames = 20, kMaxBlocks = 128;
constexpr uint32_t kStride = 32, kRows = 128;  // work bitmaps: 256 x 128 pixels

struct Header {
  uint32_t frames, colours, width, height, invert, objects, indexWidth, delay, passes, flags;
};

struct SisMonoObject {
  uint8_t kind;      // 0 new, 1 derived with a delta of its own
  uint32_t dataPos;  // bit position of its blocks or delta
  uint8_t blockFlags[kMaxBlocks / 8];
  uint8_t width, height;  // 8-pixel units
  uint16_t blocks;
  uint8_t base;
};

struct Placement {
  uint32_t pass;
  int32_t x, y;
  uint32_t vflip, hflip, rotate;
};

struct FrameState {
  uint32_t invert;
  uint32_t present[kMaxObjects];
  Placement place[kMaxObjects];
};

struct Mono {
  Header h;
  SisMonoObject objects[kMaxObjects];
  uint8_t canvas[kStride * kRows];
  uint8_t work[2][kStride * kRows];
  uint8_t mask[kStride * kRows];
};

Mono m;

// Run codes: white are ITU-T T.4's terminating codes 1..63 and the make-up
// code for 64; black are the handset's own.
struct RunCode {
  const char* bits;
  uint8_t run;
};

constexpr RunCode kWhite[] = {
    {"000111", 1},    {"0111", 2},      {"1000", 3},      {"1011", 4},      {"1100", 5},
    {"1110", 6},      {"1111", 7},      {"10011", 8},     {"10100", 9},     {"00111", 10},
    {"01000", 11},    {"001000", 12},   {"000011", 13},   {"110100", 14},   {"110101", 15},
    {"101010", 16},   {"101011", 17},   {"0100111", 18},  {"0001100", 19},  {"0001000", 20},
    {"0010111", 21},  {"0000011", 22},  {"0000100", 23},  {"0101000", 24},  {"0101011", 25},
    {"0010011", 26},  {"0100100", 27},  {"0011000", 28},  {"00000010", 29}, {"00000011", 30},
    {"00011010", 31}, {"00011011", 32}, {"00010010", 33}, {"00010011", 34}, {"00010100", 35},
    {"00010101", 36}, {"00010110", 37}, {"00010111", 38}, {"00101000", 39}, {"00101001", 40},
    {"00101010", 41}, {"00101011", 42}, {"00101100", 43}, {"00101101", 44}, {"00000100", 45},
    {"00000101", 46}, {"00001010", 47}, {"00001011", 48}, {"01010010", 49}, {"01010011", 50},
    {"01010100", 51}, {"01010101", 52}, {"00100100", 53}, {"00100101", 54}, {"01011000", 55},
    {"01011001", 56}, {"01011010", 57}, {"01011011", 58}, {"01001010", 59}, {"01001011", 60},
    {"00110010", 61}, {"00110011", 62}, {"00110100", 63}, {"11011", 64},
};

constexpr RunCode kBlack[] = {
    {"010", 1},          {"11", 2},           {"10", 3},           {"011", 4},
    {"0011", 5},         {"0010", 6},         {"00011", 7},        {"000101", 8},
    {"000100", 9},       {"0000100", 10},     {"0000101", 11},     {"0000111", 12},
    {"00000100", 13},    {"00000001", 14},    {"000011000", 15},   {"0000010111", 16},
    {"0000001000", 17},  {"00001100111", 18}, {"00001101000", 19}, {"00001101100", 20},
    {"00001101110", 21}, {"00000110111", 22}, {"00000101000", 23}, {"00000010111", 24},
    {"00000011000", 25}, {"000011001010", 26}, {"000011001011", 27}, {"000011001100", 28},
    {"000011001101", 29}, {"000001101000", 30}, {"000001101001", 31}, {"000001101010", 32},
    {"000001101011", 33}, {"000011010010", 34}, {"000011010011", 35}, {"000011010100", 36},
    {"000011010101", 37}, {"000011010110", 38}, {"000011010111", 39}, {"000001101100", 40},
    {"000001101101", 41}, {"000011011010", 42}, {"000011011011", 43}, {"000001010100", 44},
    {"000001010101", 45}, {"000001010110", 46}, {"000001010111", 47}, {"000001100100", 48},
    {"000001100101", 49}, {"000001010010", 50}, {"000001010011", 51}, {"000000100100", 52},
    {"000000110111", 53}, {"000000111000", 54}, {"000000100111", 55}, {"000000101000", 56},
    {"000001011000", 57}, {"000001011001", 58}, {"000000101011", 59}, {"000000101100", 60},
    {"000001011010", 61}, {"000001100110", 62}, {"000001100111", 63}, {"000001111", 64},
};

// A 4,096-entry table per colour over the 12 peeked bits: length << 8 | run,
// 0 where no code matches. Shorter codes go in first so that longer ones
// win where both match.
struct RunTable {
  uint16_t e[2][4096];
};

template <size_t N>
constexpr void FillRuns(uint16_t* t, const RunCode (&codes)[N]) {
  for (uint32_t len = 2; len <= 12; ++len)
    for (const RunCode& c : codes) {
      uint32_t n = 0, v = 0;
      while (c.bits[n]) v = v << 1 | static_cast<uint32_t>(c.bits[n++] - '0');
      if (n != len) continue;
      const uint32_t shift = 12 - len;
      for (uint32_t low = 0; low < (1u << shift); ++low)
        t[v << shift | low] = static_cast<uint16_t>(len << 8 | c.run);
    }
}

constexpr RunTable MakeRunTable() {
  RunTable t{};
  FillRuns(t.e[0], kWhite);
  FillRuns(t.e[1], kBlack);
  return t;
}

constexpr RunTable kRuns = MakeRunTable();

// Coded bit number of each raster position of a block (JPEG zig-zag).
constexpr uint8_t kZigZag[64] = {0,  1,  5,  6,  14, 15, 27, 28, 2,  4,  7,  13, 16, 26, 29, 42,
                                 3,  8,  12, 17, 25, 30, 41, 43, 9,  11, 18, 24, 31, 40, 44, 53,
                                 10, 19, 23, 32, 39, 45, 52, 54, 20, 22, 33, 38, 46, 51, 55, 60,
                                 21, 34, 37, 47, 50, 56, 59, 61, 35, 36, 48, 49, 57, 58, 62, 63};

}  // namespace

uint32_t SisRunCodeLookup(uint32_t peeked, uint32_t* length, uint32_t colour) {
  const uint16_t e = kRuns.e[colour & 1][peeked & 0xFFF];
  if (!e) return 0;
  *length = e >> 8;
  return (e & 0xFFu) * 2 + (colour & 1);
}

namespace {

// Reads one block into 64 cells in coded order; false on a bad code.
bool ReadBlock(SisBits* b, bool runCoded, uint8_t* cells) {
  if (!runCoded) {
    for (uint32_t i = 0; i < 64; ++i) cells[i] = static_cast<uint8_t>(b->Read(1));
    return !b->bad;
  }
  uint32_t colour = b->Read(1), filled = 0;
  while (filled < 64) {
    uint32_t len = 0;
    const uint32_t code = SisRunCodeLookup(b->Peek(12), &len, colour);
    if (!code) return false;
    const uint32_t run = code >> 1;
    if (filled + run > 64) return false;
    std::memset(cells + filled, static_cast<int>(colour), run);
    filled += run;
    b->Skip(len);
    colour ^= 1;
  }
  return !b->bad;
}

void DrawBlock(uint8_t* bitmap, uint32_t index, uint32_t width, const uint8_t* cells) {
  const uint32_t col = index % width, row = index / width * 8;
  for (uint32_t k = 0; k < 8; ++k) {
    uint32_t byte = 0;
    for (uint32_t j = 0; j < 8; ++j) byte = byte << 1 | cells[kZigZag[8 * k + j]];
    bitmap[(row + k) * kStride + col] = static_cast<uint8_t>(byte);
  }
}

bool FlagOf(const SisMonoObject& o, uint32_t i) { return o.blockFlags[i >> 3] >> (7 - (i & 7)) & 1; }

}  // namespace

bool SisMonoDecodeBlocks(SisBits* b, const SisMonoObject& o, uint8_t* bitmap) {
  uint8_t cells[64];
  for (uint32_t i = 0; i < o.blocks; ++i) {
    if (!ReadBlock(b, FlagOf(o, i), cells)) return false;
    if (bitmap) DrawBlock(bitmap, i, o.width, cells);
  }
  return true;
}

bool SisMonoDecodeDelta(SisBits* b, const SisMonoObject& o, uint8_t* bitmap) {
  const uint32_t w = m.h.indexWidth, end = (1u << w) - 1;
  uint8_t cells[64];
  for (;;) {
    const uint32_t index = b->Read(w);
    if (b->bad) return false;
    if (index == end) return true;
    if (index >= o.blocks) return false;
    if (!ReadBlock(b, b->Read(1), cells)) return false;
    if (bitmap) DrawBlock(bitmap, index, o.width, cells);
  }
}

const uint8_t* SisMonoParseHeader(const uint8_t* data, uint32_t length) {
  if (!data || length < 8 || std::memcmp(data, "SIS", 3) != 0) return nullptr;
  SisBits b{data, length, 24, false};
  Header& h = m.h;
  h.frames = b.Read(5);
  h.colours = b.Read(5);
  h.width = b.Read(5);
  h.height = b.Read(4);
  h.invert = b.Read(1);
  h.objects = b.Read(5) + 1;
  h.indexWidth = b.Read(3);
  b.Read(1);
  h.delay = b.Read(4);
  h.passes = b.Read(3);
  h.flags = b.Read(4);
  if (h.frames == 0 || h.frames > kMaxFrames || h.width == 0 || h.height == 0 ||
      h.objects > kMaxObjects)
    return nullptr;
  SisImageInfo& info = gSis.info;
  info = {};
  info.frameCount = h.frames;
  info.width = h.width * 8;
  info.height = h.height * 8;
  info.delays[0] = h.delay;
  info.colours = h.colours;
  info.kind = 1;
  info.loop = h.flags >> 3 & 1;
  return data + 8;
}

namespace {

bool ParseObjects(SisBits* b) {
  uint32_t lastNew = 0;
  for (uint32_t i = 0; i < m.h.objects; ++i) {
    SisMonoObject& o = m.objects[i];
    if (b->Peek(8)) {  // a new object opens with its non-zero width
      o = {};
      o.width = static_cast<uint8_t>(b->Read(5));
      o.height = static_cast<uint8_t>(b->Read(4));
      if (o.width == 0 || o.height == 0 || o.height > 12) return false;
      o.blocks = static_cast<uint16_t>(o.width * o.height);
      if (o.blocks > kMaxBlocks) return false;
      for (uint32_t k = 0; k < o.blocks; ++k)
        if (b->Read(1)) o.blockFlags[k >> 3] |= static_cast<uint8_t>(0x80 >> (k & 7));
      o.base = static_cast<uint8_t>(i);
      o.dataPos = b->pos;
      lastNew = i;
      if (!SisMonoDecodeBlocks(b, o, nullptr)) return false;
    } else {
      if (i == 0 || b->Read(9) != 0) return false;
      o = m.objects[i - 1];
      o.base = static_cast<uint8_t>(lastNew);
      if (b->Read(1)) {
        o.kind = 1;
        o.dataPos = b->pos;
        if (!SisMonoDecodeDelta(b, o, nullptr)) return false;
      }
    }
    if (b->bad) return false;
  }
  return true;
}

bool ParseFrame(SisBits* b, FrameState* f) {
  f->invert = b->Read(1);
  for (uint32_t i = 0; i < m.h.objects; ++i) f->present[i] = b->Read(1);
  for (uint32_t i = 0; i < m.h.objects; ++i) {
    if (!f->present[i]) continue;
    Placement& p = f->place[i];
    p.pass = m.h.passes != 1 ? b->Read(3) : 0;
    const uint32_t x = b->Read(8), y = b->Read(7);
    p.x = x & 0x80 ? -static_cast<int32_t>(x & 0x7F) : static_cast<int32_t>(x);
    p.y = y & 0x40 ? -static_cast<int32_t>(y & 0x3F) : static_cast<int32_t>(y);
    p.vflip = b->Read(1);
    p.hflip = b->Read(1);
    p.rotate = b->Read(1);
    if (b->Read(1)) b->Skip(2);
  }
  return !b->bad;
}

inline uint32_t Pixel(const uint8_t* bm, uint32_t x, uint32_t y) {
  return bm[y * kStride + x / 8] >> (7 - x % 8) & 1;
}
inline void SetPixel(uint8_t* bm, uint32_t x, uint32_t y) {
  bm[y * kStride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
}

// Decodes object i with every delta of its chain into work[0], then turns
// and mirrors it into work[1]; *w and *h get its size in pixels.
bool DrawObject(const uint8_t* data, uint32_t length, uint32_t i, const Placement& p, uint32_t* w,
                uint32_t* h) {
  std::memset(m.work, 0, sizeof m.work);
  const SisMonoObject& o = m.objects[i];
  const SisMonoObject& base = m.objects[o.base];
  SisBits b{data, length, base.dataPos, false};
  if (!SisMonoDecodeBlocks(&b, base, m.work[0])) return false;
  if (o.kind == 1)
    for (uint32_t k = o.base + 1u; k <= i; ++k) {
      if (m.objects[k].dataPos == m.objects[k - 1].dataPos) continue;
      SisBits d{data, length, m.objects[k].dataPos, false};
      if (!SisMonoDecodeDelta(&d, m.objects[k], m.work[0])) return false;
    }
  uint32_t ow = o.width * 8u, oh = o.height * 8u;
  if (p.rotate) {
    // Turn a quarter: (x, y) goes to (y, W - 1 - x); the object is first cut
    // to what the canvas can show, and what would land outside is dropped.
    const uint32_t limH = oh < m.h.width * 8 ? oh : m.h.width * 8;
    const uint32_t limW = ow < m.h.height * 8 ? ow : m.h.height * 8;
    std::memset(m.mask, 0, sizeof m.mask);
    for (uint32_t y = 0; y < limH; ++y)
      for (uint32_t x = 0; x < limW; ++x) {
        if (!Pixel(m.work[0], x, y)) continue;
        const uint32_t ny = ow - 1 - x;
        if (ny < limW) SetPixel(m.mask, y, ny);
      }
    std::memcpy(m.work[0], m.mask, sizeof m.mask);
    ow = limH;
    oh = limW;
  }
  for (uint32_t y = 0; y < oh; ++y)
    for (uint32_t x = 0; x < ow; ++x) {
      const uint32_t sx = p.hflip ? ow - 1 - x : x, sy = p.vflip ? oh - 1 - y : y;
      if (Pixel(m.work[0], sx, sy)) SetPixel(m.work[1], x, y);
    }
  *w = ow;
  *h = oh;
  return true;
}

}  // namespace

// Marks each row from its first to its last black pixel, then clears each
// column above its first and below its last black pixel.
void SisMonoHullMask(uint32_t rows, uint32_t columns) {
  const uint8_t* bm = m.work[1];
  std::memset(m.mask, 0, sizeof m.mask);
  for (uint32_t y = 0; y < rows; ++y) {
    int32_t first = -1, last = -1;
    for (uint32_t x = 0; x < columns; ++x)
      if (Pixel(bm, x, y)) {
        if (first < 0) first = static_cast<int32_t>(x);
        last = static_cast<int32_t>(x);
      }
    for (int32_t x = first; first >= 0 && x <= last; ++x) SetPixel(m.mask, static_cast<uint32_t>(x), y);
  }
  for (uint32_t x = 0; x < columns; ++x) {
    int32_t first = -1, last = -1;
    for (uint32_t y = 0; y < rows; ++y)
      if (Pixel(bm, x, y)) {
        if (first < 0) first = static_cast<int32_t>(y);
        last = static_cast<int32_t>(y);
      }
    if (first < 0) first = last = 0;  // an empty column keeps row 0 only
    for (uint32_t y = 0; y < rows; ++y)
      if (static_cast<int32_t>(y) < first || static_cast<int32_t>(y) > last)
        m.mask[y * kStride + x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
  }
}

namespace {

void Paste(uint32_t ow, uint32_t oh, int32_t px, int32_t py, bool masked) {
  const int32_t cw = static_cast<int32_t>(m.h.width * 8), ch = static_cast<int32_t>(m.h.height * 8);
  const uint32_t canvasStride = m.h.width;
  for (uint32_t y = 0; y < oh; ++y) {
    const int32_t cy = py + static_cast<int32_t>(y);
    if (cy < 0 || cy >= ch) continue;
    for (uint32_t x = 0; x < ow; ++x) {
      const int32_t cx = px + static_cast<int32_t>(x);
      if (cx < 0 || cx >= cw) continue;
      uint8_t& byte = m.canvas[static_cast<uint32_t>(cy) * canvasStride + static_cast<uint32_t>(cx) / 8];
      const uint8_t bit = static_cast<uint8_t>(0x80 >> (cx % 8));
      if (Pixel(m.work[1], x, y))
        byte |= bit;
      else if (masked && Pixel(m.mask, x, y))
        byte &= static_cast<uint8_t>(~bit);
    }
  }
}

}  // namespace

bool SisMonoComposeFrame(const uint8_t* data, uint32_t length, const FrameState& f) {
  const uint32_t bytes = m.h.width * m.h.height * 8;
  std::memset(m.canvas, 0, bytes);
  for (uint32_t pass = 0; pass < m.h.passes; ++pass)
    for (uint32_t i = 0; i < m.h.objects; ++i) {
      if (!f.present[i] || f.place[i].pass != pass) continue;
      uint32_t w, h;
      if (!DrawObject(data, length, i, f.place[i], &w, &h)) return false;
      if (pass > 0) SisMonoHullMask(h, w);
      Paste(w, h, f.place[i].x, f.place[i].y, pass > 0);
    }
  if (f.invert)
    for (uint32_t i = 0; i < bytes; ++i) m.canvas[i] = static_cast<uint8_t>(~m.canvas[i]);
  if (m.h.invert)
    for (uint32_t i = 0; i < bytes; ++i) m.canvas[i] = static_cast<uint8_t>(~m.canvas[i]);
  uint8_t* px = SisBeginRecord(m.h.width * 8, m.h.height * 8, m.h.delay / 2, bytes);
  if (!px) return false;
  std::memcpy(px, m.canvas, bytes);
  return true;
}

int32_t SisMonoDecodeFrames(const uint8_t* data, uint32_t length, int32_t frame) {
  if (!SisMonoParseHeader(data, length)) return 0;
  SisBits b{data, length, 64, false};
  if (!b.Peek(8)) return 0;  // the first object must be new
  if (!ParseObjects(&b)) return 0;
  static FrameState f;
  for (uint32_t i = 0; i < m.h.frames; ++i) {
    f = {};
    if (!ParseFrame(&b, &f)) return 0;
    if (frame >= 0 && static_cast<uint32_t>(frame) != i) continue;
    const uint32_t end = b.pos;
    if (!SisMonoComposeFrame(data, length, f)) return 0;
    b.pos = end;
  }
  return static_cast<int32_t>(m.h.frames);
}
