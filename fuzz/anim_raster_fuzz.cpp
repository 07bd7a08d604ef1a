// The rasterizer over random edge lists, and drawing over random record
// bytes: as a shape (with a bitmap fill), as the glyph of a text and as a
// morph. The first byte picks the mode and the frame size; edges are five
// little-endian 16-bit words (x0, y0, x1, y1, fills: solid, translucent,
// linear, radial, undrawable, bitmap or none) scaled to reach past every
// side of the frame. Every write stays inside the frame (guard words around
// it stay), the heap's invariants hold, and freeing the context gives back
// every block.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "player/anim_player.h"
#include "player/anim_raster.h"
#include "player/anim_shape.h"
#include "player/anim_text.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr uint16_t kGuard = 0xA5A5;
constexpr size_t kGuardWords = 64;

int32_t Word(const uint8_t* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 100000) return 0;
  static std::vector<uint8_t> work(256000);
  static auto player = std::make_unique<AnimPlayer>();
  AnimPlayer* p = player.get();
  AnimPlayer_Init(p);
  AnimHeap_Reset(&p->heap, work.data());
  const uint32_t base = p->heap.bytesInUse;

  const bool smooth = data[0] & 1;
  const int32_t side = 1 + ((data[0] >> 1) & 63);
  std::vector<uint16_t> frame(kGuardWords * 2 + static_cast<size_t>(side) * side, kGuard);
  uint16_t* pixels = frame.data() + kGuardWords;
  std::memset(pixels, 0, sizeof(uint16_t) * static_cast<size_t>(side) * side);

  AnimRaster r{};
  if (!AnimRaster_Init(&r, p, pixels, side, side, side * 2, smooth)) return 0;
  static uint8_t ramp[256 * 8];
  AnimPaint paints[6] = {};
  paints[0].color16 = 0x7FFF;
  paints[0].alpha = 255;
  paints[1].color16 = 0x001F;
  paints[1].alpha = 100;
  paints[2].kind = 0x10;
  paints[2].a = 3.5f;
  paints[2].ramp = ramp;
  paints[3].kind = 0x12;
  paints[3].a = paints[3].d = 40.0f;
  paints[3].tx = -5000;
  paints[3].ramp = ramp;
  paints[3].translucent = 1;
  paints[4].kind = 128;
  // A 4 x 4 bitmap held as pixels, skewed and scaled past the frame's sides.
  static uint8_t texels[4 * 8], alphaPlane[16];
  for (int i = 0; i < 16; ++i) alphaPlane[i] = static_cast<uint8_t>(i * 17);
  AnimBitmap bitmap{};
  AnimBitmap_Init(&bitmap, 1, 0);
  bitmap.heldAsPixels = 1;
  bitmap.data = texels;
  bitmap.alpha = alphaPlane;
  bitmap.width = bitmap.height = 4;
  bitmap.rowBytes = 8;
  paints[5].kind = 0x41;
  paints[5].bitmap = &bitmap;
  paints[5].a = 300.0f;
  paints[5].b = -70.0f;
  paints[5].c = 50.0f;
  paints[5].d = 260.0f;
  paints[5].tx = -900;
  paints[5].alpha = 255;
  auto pick = [&](uint32_t v) -> const AnimPaint* { return v % 7 == 6 ? nullptr : &paints[v % 7]; };
  const uint8_t* q = data + 1;
  size_t left = size - 1;
  for (; left >= 10; q += 10, left -= 10) {
    const int32_t scale = 1 + (q[8] >> 4);
    const uint32_t fills = q[9];
    AnimRaster_AddEdge(&r, Word(q) * scale, Word(q + 2) * scale, Word(q + 4) * scale, Word(q + 6) * scale,
                       pick(fills & 15), pick(fills >> 4));
    if ((q[8] & 15) == 15) AnimRaster_Render(&r, 0, nullptr);
  }
  AnimRaster_Render(&r, 0, nullptr);
  r.nextFree = 0;

  // The same bytes as shape records, drawn uncached and then through a cache.
  AnimFillStyle fills[3]{};
  fills[0].r = 200;
  fills[0].a = 255;
  fills[1].type = 0x10;
  // Fill 3 is the bitmap above, found by id in a dictionary of its own.
  fills[2].type = 0x40;
  fills[2].bitmapId = 1;
  AnimMatrix_SetIdentity(&fills[2].matrix);
  fills[2].matrix.a = fills[2].matrix.d = 7.0f;
  AnimDictNode node{&bitmap.header, nullptr};
  AnimDictNode* dictionary = &node;
  AnimLineStyle lines[1]{};
  lines[0].width = data[0];
  lines[0].a = 255;
  AnimShape shape{};
  shape.styles = AnimStyleSet{fills, 3, lines, 1};
  shape.dictionary = &dictionary;
  shape.fillBits = 2;
  shape.lineBits = 1;
  shape.hasAlpha = data[0] >> 7;
  shape.records = const_cast<uint8_t*>(data + 1);
  shape.recordSize = static_cast<uint32_t>(size - 1);
  AnimMatrix m;
  AnimMatrix_SetIdentity(&m);
  m.a = m.d = 1.6f;
  AnimShape_Draw(&r, &shape, &m, nullptr, nullptr);
  Check(r.nextFree == 0 && r.lastBucket == -1);
  AnimShapeCache cache{};
  if (AnimShape_Draw(&r, &shape, &m, nullptr, &cache) == kAnimShapeDrawn) {
    AnimShape_Draw(&r, &shape, &m, nullptr, &cache);
  }
  AnimShapeCache_Free(&r, &cache);
  r.nextFree = 0;  // the cached edges go with their cache
  AnimStyles_Free(p, fills, 3);  // the gradient's ramp and the bitmap's fill record, made at the first draw

  // The same bytes as the glyph of a text, and a glyph past the font.
  AnimGlyph glyph{2, 1, const_cast<uint8_t*>(data + 1), static_cast<uint32_t>(size - 1)};
  AnimFont font{};
  AnimFont_Init(&font, 2);
  font.glyphCount = 1;
  font.glyphs = &glyph;
  AnimTextGlyph entries[2] = {{0, 300, 0}, {5, 300, 0}};
  AnimTextRecord record{};
  record.flags = 0x80 | 8 | 4;
  record.font = &font.header;
  record.r = data[0];
  record.a = 200;
  record.height = 20u * data[0];
  record.glyphCount = 2;
  record.glyphs = entries;
  AnimText text{};
  AnimText_Init(&text, 3);
  AnimText_AppendRecord(&text, &record);
  const AnimCxform cx{256, 0, 512, -20, 256, 0, 256, 0};
  AnimText_Draw(&r, &text, &m, &cx);
  Check(r.nextFree == 0 && r.lastBucket == -1);

  // A morph between the two halves of the bytes.
  AnimMorphFill morphFills[2]{};
  morphFills[0].start[3] = 255;
  morphFills[0].end[0] = 255;
  morphFills[1].type = 0x12;
  morphFills[1].count = 2;
  morphFills[1].records[1].endRatio = 255;
  AnimMorphLine morphLines[1]{};
  morphLines[0].endWidth = 300;
  AnimMorph morph{};
  morph.fills = morphFills;
  morph.fillCount = 2;
  morph.lines = morphLines;
  morph.lineCount = 1;
  morph.fillBits = 2;
  morph.lineBits = 1;
  const auto half = static_cast<uint32_t>((size - 1) / 2);
  morph.startEdges = const_cast<uint8_t*>(data + 1);
  morph.startSize = half;
  morph.endEdges = const_cast<uint8_t*>(data + 1 + half);
  morph.endSize = static_cast<uint32_t>(size - 1) - half;
  AnimMorph_Draw(&r, &morph, &m, nullptr, data[0] * 257u);
  Check(r.nextFree == 0 && r.lastBucket == -1);
  Check(AnimHeap_Check(&p->heap) == nullptr);

  AnimRaster_Free(&r);
  Check(p->heap.bytesInUse == base);
  for (size_t i = 0; i < kGuardWords; ++i) Check(frame[i] == kGuard && frame[frame.size() - 1 - i] == kGuard);
  return 0;
}
