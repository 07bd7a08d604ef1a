// Shapes drawn into small frames in the plain and the smooth mode, against
// golden images and against the edge cache's replay.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/golden.h"
#include "movie_script.h"
#include "movie_writer.h"
#include "player/anim_raster.h"
#include "player/anim_shape.h"
#include "player_support.h"
#include "raster_scene.h"
#include "tests/player/dct_encoder.h"

namespace {

using namespace anim_test;
using movie::Bytes;
using movie::Writer;

const Solid kRed{248, 0, 0}, kGreen{0, 248, 0}, kWhite{248, 248, 248};

// Shapes of the looks table, each in a 32-pixel frame (640 twips).
Bytes StarShape() {
  // A five-pointed star drawn as one crossing outline.
  Records r(1, 0);
  r.Change(-1, 1, -1, true, 320, 20);
  const int pts[5][2] = {{320, 20}, {496, 562}, {35, 227}, {605, 227}, {144, 562}};
  for (int i = 1; i <= 5; ++i) r.To(pts[i % 5][0] - pts[i - 1][0], pts[i % 5][1] - pts[i - 1][1]);
  return ShapeTag(2, 1, {kWhite}, {}, 1, 0, r.End());
}
Bytes LinesShape() {
  // Hairline, two-pixel and six-pixel strokes, straight and slanted.
  Records r(0, 2);
  r.Change(-1, -1, 1, true, 40, 60).To(560, 0).Change(-1, -1, 2, true, 60, 160).To(500, 200);
  r.Change(-1, -1, 3, true, 120, 500).To(400, -60);
  return ShapeTag(2, 1, {}, {{10, kWhite}, {40, kGreen}, {120, kRed}}, 0, 2, r.End());
}
Bytes TranslucentRadialShape() {
  // Over a red square: the ramp's alpha blends each pixel.
  Records r(2, 0);
  r.Change(-1, 1, -1, true, 100, 100).Box(440, 440).Change(-1, 2, -1, true, 20, 20).Box(600, 600);
  Writer w;
  w.U16(1).Rect(0, 640, 0, 640);
  w.U8(2).U8(0).U8(248).U8(0).U8(0).U8(255);
  w.U8(0x12).Matrix(320, 320, 1200, 1200).U8(2).U8(0).U8(0).U8(0).U8(248).U8(40).U8(255).U8(0).U8(248).U8(0).U8(200);
  w.U8(0);
  w.Bits(2, 4).Bits(0, 4).Raw(r.End());
  return movie::Tag(32, w.bytes());
}

// Many thin diamonds: 1,760 edges, close to the pool's 1,800, in one shape.
Bytes ManyEdgesShape() {
  Records r(1, 0);
  for (int i = 0; i < 440; ++i)
    r.Change(-1, 1, -1, true, 25 + (i % 40) * 15, 20 + (i / 40) * 55).To(5, 25).To(-5, 25).To(-5, -25).To(5, -25);
  return ShapeTag(2, 1, {kGreen}, {}, 1, 0, r.End());
}

// A 16 x 16 coded bitmap of four flat quarters over a tinted macroblock;
// with alpha its lower half fades: 128 on the left, 0 (unchanged) on the right.
Bytes CodedBitmap(uint16_t id, bool alpha, int32_t tint = 12) {
  DctTestImage image;
  for (int32_t y : {-90, -20, 40, 100}) {
    std::array<int32_t, 64> block{};
    block[0] = y;
    image.blocks.push_back(block);
  }
  for (int32_t c : {tint, -tint}) {
    std::array<int32_t, 64> block{};
    block[0] = c;
    image.blocks.push_back(block);
  }
  if (alpha) {
    image.withAlpha = true;
    image.alpha = {{255, 128}};
    for (int row = 0; row < 8; ++row) image.alpha.insert(image.alpha.end(), {{128, 8}, {0, 8}});
  }
  return movie::Bitmap(id, DctTestEncode(image));
}

// A square from 1 pixel on (to 31 in a 32-pixel frame) filled with a bitmap
// of the given fill kind under its fill matrix (16.16 scale and skew,
// translation in twips).
Bytes BitmapShape(uint8_t kind, uint16_t bitmapId, int32_t scale, int32_t skew, int32_t tx, int32_t ty,
                  int32_t side = 600) {
  Records r(1, 0);
  r.Change(-1, 1, -1, true, 20, 20).Box(side, side);
  Writer w;
  w.U16(1).Rect(0, 640, 0, 640);
  w.U8(1).U8(kind).U16(bitmapId).Matrix(tx, ty, scale, scale, skew, -skew);
  w.U8(0);
  w.Bits(1, 4).Bits(0, 4).Raw(r.End());
  return movie::Tag(2, w.bytes());
}

// Texels 1.5 pixels wide from (4, 4); the second kind turned by a skew.
Bytes ClippedBitmap(bool alpha) { return movie::Concat({CodedBitmap(9, alpha), BitmapShape(0x41, 9, 30 << 16, 0, 80, 80)}); }
Bytes TiledBitmap(bool alpha) {
  return movie::Concat({CodedBitmap(9, alpha), BitmapShape(0x40, 9, 26 << 16, 9 << 16, 120, 40)});
}

// A 32 x 32 coded bitmap whose blocks carry low-frequency waves, so that
// neighbouring texel rows and columns differ.
Bytes TexturedBitmap(uint16_t id) {
  DctTestImage image;
  image.width = image.height = 32;
  uint32_t seed = id;
  for (int k = 0; k < 4 * 6; ++k) {
    std::array<int32_t, 64> block{};
    for (int i : {0, 1, 2, 8, 9, 16}) {
      seed = seed * 1103515245 + 12345;
      block[i] = static_cast<int32_t>(seed >> 26) - 32;
    }
    image.blocks.push_back(block);
  }
  return movie::Bitmap(id, DctTestEncode(image));
}

// Outlines (boxes or diamonds) side by side over a square from 1 pixel on,
// outline i filled by fill i % fills: a bitmap under its fill matrix. More
// outlines than fills stand 3 pixels apart, else they touch.
struct BitmapFill {
  int32_t tx, ty, scaleX, scaleY, skew0, skew1;
  uint16_t bitmap = 9;
};
Bytes MappedBitmapShape(bool diamond, const std::vector<BitmapFill>& fills, int32_t outlines = 0, int32_t side = 900) {
  const auto n = outlines ? outlines : static_cast<int32_t>(fills.size());
  Records r(2, 0);
  for (int32_t i = 0; i < n; ++i) {
    const int32_t left = 20 + side * i / n, w = side / n - (outlines ? 60 : 0);
    const int32_t fill = i % static_cast<int32_t>(fills.size()) + 1;
    if (diamond)
      r.Change(-1, fill, -1, true, left + w / 2, 20).To(w / 2, side / 2).To(-w / 2, side / 2).To(-w / 2, -side / 2).To(w / 2, -side / 2);
    else
      r.Change(-1, fill, -1, true, left, 20).Box(w, side);
  }
  Writer w;
  w.U16(1).Rect(0, side + 60, 0, side + 60).U8(static_cast<uint8_t>(fills.size()));
  for (const BitmapFill& f : fills) w.U8(0x41).U16(f.bitmap).Matrix(f.tx, f.ty, f.scaleX, f.scaleY, f.skew0, f.skew1);
  w.U8(0).Bits(2, 4).Bits(0, 4).Raw(r.End());
  return movie::Tag(2, w.bytes());
}

// Diamonds whose slanted sides start and end each sub-row's span elsewhere.
Bytes DiamondBitmaps() {
  return movie::Concat({TexturedBitmap(9), MappedBitmapShape(true, {{20, 20, 40 << 16, 40 << 16, 0, 0}}, 2, 600)});
}

struct LookCase {
  const char* name;
  Bytes (*shape)();
};
const LookCase kLooks[] = {
    {"star", StarShape},
    {"lines", LinesShape},
    {"radial_alpha", TranslucentRadialShape},
    {"bitmap_clipped", [] { return ClippedBitmap(false); }},
    {"bitmap_tiled", [] { return TiledBitmap(false); }},
    {"bitmap_clipped_alpha", [] { return ClippedBitmap(true); }},
    {"bitmap_tiled_alpha", [] { return TiledBitmap(true); }},
    {"bitmap_diamonds", DiamondBitmaps},
};

TEST(PlayerRasterTest, ShapesMatchTheirGoldenImagesInBothModes) {
  for (const LookCase& c : kLooks) {
    for (bool smooth : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (smooth ? " smooth" : " plain"));
      Scene scene({c.shape()}, 32, smooth);
      if (std::string(c.name).starts_with("bitmap")) scene.Fill(0x2108);  // a grey clear texels leave alone
      EXPECT_EQ(scene.Draw(1), kAnimShapeDrawn);
      EXPECT_TRUE(GoldenMatches(GoldenPath(std::string("anim_") + c.name + (smooth ? "_smooth" : "_plain")),
                                scene.Image()));
    }
  }
}

// A redraw of part of the frame writes there what a whole draw writes and
// nothing elsewhere, whichever pixel the part starts or ends at: a span cut
// by its edge, or a row above it left undrawn, changes nothing inside.
TEST(PlayerRasterTest, ADrawOfPartOfTheFrameIsTheWholeDrawThere) {
  struct Part {
    int32_t left, top, right, bottom;
  };
  const Part parts[] = {{5, 3, 20, 18}, {11, 0, 11, 31}, {0, 9, 31, 10}, {17, 17, 31, 31}, {3, 24, 27, 26}};
  std::vector<LookCase> looks(std::begin(kLooks), std::end(kLooks));
  looks.push_back({"many edges", ManyEdgesShape});
  for (const LookCase& c : looks) {
    for (bool smooth : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (smooth ? " smooth" : " plain"));
      constexpr uint16_t kBefore = 0x2108, kUntouched = 0x1234;
      Scene scene({c.shape()}, 32, smooth);
      scene.Fill(kBefore);
      ASSERT_EQ(scene.Draw(1), kAnimShapeDrawn);
      const std::vector<uint16_t> whole = scene.frame();
      for (const Part& part : parts) {
        SCOPED_TRACE(part.left * 1000 + part.top);
        AnimRaster& r = scene.raster();
        for (int32_t y = 0; y < 32; ++y)
          for (int32_t x = 0; x < 32; ++x) {
            const bool inside = x >= part.left && x <= part.right && y >= part.top && y <= part.bottom;
            scene.frame()[static_cast<size_t>(y) * 32 + x] = inside ? kBefore : kUntouched;
          }
        r.clipLeft = part.left;
        r.clipTop = part.top;
        r.clipRight = part.right;
        r.clipBottom = part.bottom;
        r.dirtyXMin = part.left * 32;
        r.dirtyXMax = part.right * 32 + 31;
        r.dirtyYMin = part.top * 32;
        r.dirtyYMax = part.bottom * 32 + 31;
        scene.Draw(1);
        int wrong = 0;
        for (int32_t y = 0; y < 32; ++y)
          for (int32_t x = 0; x < 32; ++x) {
            const bool inside = x >= part.left && x <= part.right && y >= part.top && y <= part.bottom;
            const size_t k = static_cast<size_t>(y) * 32 + x;
            if (scene.frame()[k] != (inside ? whole[k] : kUntouched) && wrong++ == 0)
              ADD_FAILURE() << "first wrong pixel (" << x << ", " << y << "): 0x" << std::hex << scene.frame()[k]
                            << " instead of 0x" << (inside ? whole[k] : kUntouched);
          }
        EXPECT_EQ(wrong, 0);
      }
    }
  }
}

// Played, zoomed, panned and switched between the modes, every look shows
// in each frame what a whole redraw draws, wherever the part redrawn cuts it.
TEST(PlayerRasterTest, EveryLookCutByARedrawnPartShowsAsAWholeRedraw) {
  for (const LookCase& c : kLooks) {
    SCOPED_TRACE(c.name);
    movie::script::PlayChecked(movie::script::OverAndAcross(c.shape(), 1), movie::script::kViewChanges);
  }
}

AnimPaint OpaqueWhite() {
  AnimPaint paint{};
  paint.color16 = 0x7FFF;
  paint.alpha = 255;
  return paint;
}

TEST(PlayerRasterTest, SpanColumnsFollowTheFractionRule) {
  // A span from 40 to 100 (1/32 pixel): solid paint writes columns 1 to 4, a
  // linear gradient stops short of the fraction column.
  uint8_t ramp[256 * 8] = {};
  for (int i = 0; i < 256; ++i) ramp[8 * i] = ramp[8 * i + 1] = ramp[8 * i + 2] = 248, ramp[8 * i + 3] = 255;
  for (int last : {4, 3}) {
    Scene scene({}, 8, false);
    AnimPaint paint = last == 3 ? AnimPaint{0x10, 0, 255, 0, 0, 0, 0, 0, 0, ramp, 0, nullptr, 0, nullptr, 0} : OpaqueWhite();
    AnimRaster_AddEdge(&scene.raster(), 40, 0, 40, 64, nullptr, &paint);   // fill 1 of both edges: the walk
    AnimRaster_AddEdge(&scene.raster(), 100, 64, 100, 0, nullptr, &paint);  // settles which side is inside
    AnimRaster_Render(&scene.raster(), 0, nullptr);
    for (int x = 0; x < 8; ++x) EXPECT_EQ(scene.At(x, 0), (x >= 1 && x <= last) ? 0x7FFF : 0) << x;
  }
}

TEST(PlayerRasterTest, EdgesThatCrossNoSampleRowAddNothingAndThePoolHasItsCapacity) {
  Scene scene({}, 16, false);
  AnimRaster& r = scene.raster();
  AnimPaint paint = OpaqueWhite();
  struct {
    int32_t x0, y0, x1, y1;
    bool kept;
  } cases[] = {
      {0, 40, 100, 40, false},     // horizontal
      {0, 490, 100, 600, false},   // below the last pixel row's top (480)
      {0, 40, 0, 60, false},       // between sample rows 32 and 64
      {0, 10, 0, 20, true},        // within the first row: sampled from row 0
  };
  for (const auto& c : cases) {
    const int32_t before = r.nextFree;
    AnimRaster_AddEdge(&r, c.x0, c.y0, c.x1, c.y1, &paint, nullptr);
    EXPECT_EQ(r.nextFree - before, c.kept ? 1 : 0) << c.x0 << "," << c.y0 << " " << c.x1 << "," << c.y1;
  }
  AnimRaster_Render(&r, 0, nullptr);
  EXPECT_EQ(r.lastBucket, -1);
  // The pool drops edges past its capacity.
  for (int i = 0; i < kAnimEdgeCapacity + 10; ++i) AnimRaster_AddEdge(&r, i % 500, 0, i % 500, 200, &paint, nullptr);
  EXPECT_EQ(r.nextFree, kAnimEdgeCapacity);
  AnimRaster_Render(&r, 0, nullptr);
}

// A bucket holds its edges by x, each after those of an equal x: the order
// they were added in decides only among equals. Each placing is the draw's
// edge work, an edge placed after the one before at least one step.
TEST(PlayerRasterTest, ABucketHoldsItsEdgesByXAfterEqualOnes) {
  struct Case {
    const char* name;
    std::vector<int32_t> xs;  // in the order added
  };
  const Case cases[] = {{"left to right", {0, 3, 6, 9, 12, 15, 18, 21}},
                        {"right side first", {21, 0, 3, 6, 9, 12, 15, 18}},
                        {"right to left", {21, 18, 15, 12, 9, 6, 3, 0}},
                        {"equal x", {9, 3, 9, 3, 21, 9, 0, 3}},
                        {"ends in turn", {0, 21, 3, 18, 6, 15, 9, 12}},
                        {"back after the right side", {3, 21, 6, 0, 9, 9, 1, 21}}};
  for (const Case& c : cases) {
    for (bool smooth : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (smooth ? ", smooth" : ", plain"));
      Scene scene({}, 16, smooth);
      AnimRaster& r = scene.raster();
      AnimPaint paint = OpaqueWhite();
      const uint32_t before = r.edgeSteps;
      for (int32_t x : c.xs) AnimRaster_AddEdge(&r, 32 * x, 0, 32 * x, 64, &paint, nullptr);
      std::vector<int32_t> expected(c.xs.size());
      for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<int32_t>(i);
      std::stable_sort(expected.begin(), expected.end(), [&](int32_t a, int32_t b) { return c.xs[a] < c.xs[b]; });
      std::vector<int32_t> held;
      for (const AnimEdge* e = r.buckets[0]; e; e = e->nextInBucket) held.push_back(static_cast<int32_t>(e - r.pool));
      EXPECT_EQ(held, expected);
      EXPECT_GE(r.edgeSteps - before, c.xs.size());
      AnimRaster_Render(&r, 0, nullptr);
    }
  }
}

TEST(PlayerShapeTest, CachedEdgesStayInThePoolUntilItRunsLow) {
  Scene scene({ManyEdgesShape()}, 32, false);
  AnimShapeCache cache{};
  EXPECT_FALSE(AnimRaster_PoolLow(&scene.raster()));
  ASSERT_EQ(scene.Draw(1, nullptr, nullptr, &cache), kAnimShapeDrawn);
  EXPECT_GT(scene.raster().nextFree, kAnimEdgeCapacity * 3 / 4);
  EXPECT_TRUE(AnimRaster_PoolLow(&scene.raster()));
  AnimShapeCache_Free(&scene.raster(), &cache);
}

TEST(PlayerShapeTest, EdgesBeforeAnyMoveStartAtTheOriginAndFillsTakeTheColourTransform) {
  const Bytes shape = ShapeTag(2, 1, {kRed}, {}, 1, 0, Records(1, 0).Change(-1, 1, -1).Box(200, 200).End());
  Scene scene({shape}, 16, false), transformed({shape}, 16, false);
  ASSERT_EQ(scene.Draw(1), kAnimShapeDrawn);
  const uint16_t red = static_cast<uint16_t>(AnimColor_To16(248, 0, 0));
  EXPECT_EQ(scene.At(0, 0), red);
  EXPECT_EQ(scene.At(9, 9), red);
  EXPECT_EQ(scene.At(12, 12), 0);
  const AnimCxform cx{256, 0, 0, 0, 0, 248, 0, 0};  // red off, green full
  ASSERT_EQ(transformed.Draw(1, nullptr, &cx), kAnimShapeDrawn);
  EXPECT_EQ(transformed.At(3, 3), AnimColor_To16(0, 248, 0));
}

// Edges a curve leaves in the pool, counted through the cache that keeps them.
int CurveEdges(int32_t size) {
  Scene scene({ShapeTag(2, 1, {kRed}, {}, 1, 0,
                        Records(1, 0).Change(-1, 1, -1, true, 0, 0).Curve(size, 0, 0, size).To(-size, -size).End())},
              64, false);
  AnimShapeCache cache{};
  EXPECT_EQ(scene.Draw(1, nullptr, nullptr, &cache), kAnimShapeDrawn);
  const int edges = scene.raster().nextFree - 1;  // less the closing line
  AnimShapeCache_Free(&scene.raster(), &cache);
  return edges;
}

TEST(PlayerShapeTest, SmallCurvesStayOneSegmentLargeOnesBecomeEight) {
  // 15 twips = 24 units each way: 48 < 64, one segment.
  EXPECT_EQ(CurveEdges(15), 1);
  EXPECT_EQ(CurveEdges(600), 8);
}

TEST(PlayerShapeTest, StrokesNarrowerThanOnePixelAndAHalfDrawOnePixelWide) {
  for (uint16_t width : {1, 30}) {
    SCOPED_TRACE(width);
    Scene scene({ShapeTag(2, 1, {}, {{width, kWhite}}, 0, 1,
                          Records(0, 1).Change(-1, -1, 1, true, 100, 200).To(200, 0).End())},
                32, false);
    ASSERT_EQ(scene.Draw(1), kAnimShapeDrawn);
    int rows = 0;
    for (int y = 0; y < 32; ++y) rows += scene.At(10, y) != 0;
    EXPECT_EQ(rows, 1);
  }
}

TEST(PlayerShapeTest, AMirroredMatrixSwapsTheFillSides) {
  // The square drawn with fill 0 (left of travel) only; mirrored about the
  // frame's centre it must look the same as the plain draw mirrored.
  const Bytes shape = ShapeTag(2, 1, {kRed}, {}, 1, 0,
                               Records(1, 0).Change(1, -1, -1, true, 40, 100).To(0, 400).To(200, 0).To(-200, -400).End());
  Scene plain({shape}, 32, false), mirrored({shape}, 32, false);
  ASSERT_EQ(plain.Draw(1), kAnimShapeDrawn);
  AnimMatrix flip;
  AnimMatrix_SetIdentity(&flip);
  flip.a = -1;
  flip.tx = 640;
  ASSERT_EQ(mirrored.Draw(1, &flip), kAnimShapeDrawn);
  // Sampling is not symmetric about a column: the areas may differ by a pixel a row;
  // unswapped fills would leave the mirror empty.
  const uint16_t red = static_cast<uint16_t>(AnimColor_To16(248, 0, 0));
  EXPECT_GT(plain.Count(red), 100);
  EXPECT_NEAR(plain.Count(red), mirrored.Count(red), 21);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 20; ++x) EXPECT_EQ(mirrored.At(x, y), 0) << x << "," << y;
}

TEST(PlayerShapeTest, NewStylesInRecordsReplaceTheArrays) {
  Records r(1, 0);
  r.Change(-1, 1, -1, true, 0, 0).Box(200, 200);
  // New styles: one solid blue fill, no lines, then fresh index widths.
  r.raw().Bits(0, 1).Bits(16 | 4 | 1, 5).Bits(9, 5).SBits(200, 9).SBits(200, 9).Bits(1, 1);
  r.raw().Align().U8(1).U8(0).U8(0).U8(0).U8(248).U8(0).Bits(1, 4).Bits(0, 4);
  r.Change(-1, 1, -1).Box(200, 200);
  Scene scene({ShapeTag(2, 1, {kRed}, {}, 1, 0, r.End())}, 32, false);
  ASSERT_EQ(scene.Draw(1), kAnimShapeDrawn);
  EXPECT_EQ(scene.At(3, 3), AnimColor_To16(248, 0, 0));
  EXPECT_EQ(scene.At(13, 13), AnimColor_To16(0, 0, 248));
}

TEST(PlayerShapeTest, BadRecordsFailTheShapeAndLeaveNothing) {
  // A fill index past the array, a line index without lines, records cut short.
  Bytes cut = Records(2, 1).Change(-1, 1, -1, true, 0, 0).Box(200, 200).End();
  cut.resize(cut.size() - 2);
  for (const Bytes& records : {Records(2, 1).Change(-1, 3, -1, true, 0, 0).Box(200, 200).End(),
                               Records(2, 1).Change(-1, -1, 1, true, 0, 0).Box(200, 200).End(), cut}) {
    Scene scene({ShapeTag(2, 1, {kRed}, {}, 2, 1, records)}, 16, false);
    EXPECT_EQ(scene.Draw(1), kAnimShapeBad);
    EXPECT_EQ(scene.raster().nextFree, 0);
  }
}

TEST(PlayerShapeTest, ACachedRedrawMatchesAnUncachedDraw) {
  for (const LookCase& c : kLooks) {
    for (bool smooth : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (smooth ? " smooth" : " plain"));
      Scene uncached({c.shape()}, 32, smooth), cached({c.shape()}, 32, smooth);
      ASSERT_EQ(uncached.Draw(1), kAnimShapeDrawn);
      AnimShapeCache cache{};
      ASSERT_EQ(cached.Draw(1, nullptr, nullptr, &cache), kAnimShapeDrawn);
      EXPECT_EQ(cached.frame(), uncached.frame());
      EXPECT_EQ(cache.hasCache, 1u);
      cached.Fill(0);
      ASSERT_EQ(cached.Draw(1, nullptr, nullptr, &cache), kAnimShapeDrawn);
      EXPECT_EQ(cached.frame(), uncached.frame());
      // A third bitmap decoded in between takes a slot: the replay finds its own again.
      cached.Fill(0);
      AnimBitmap_FreeAll(cached.player());
      ASSERT_EQ(cached.Draw(1, nullptr, nullptr, &cache), kAnimShapeDrawn);
      EXPECT_EQ(cached.frame(), uncached.frame());
      AnimShapeCache_Free(&cached.raster(), &cache);
    }
  }
}

// A morph of the writer's styles between two outlines, with the index-bits
// bytes each edge set begins with; drawn at a ratio under a colour transform
// that stretches the writer's dark colours into view and makes them opaque.
uint32_t DrawMorph(Scene& scene, uint32_t ratio) {
  const AnimCxform cx{256, 255, 256 * 40, 0, 256 * 40, 0, 256 * 30, 0};
  AnimMatrix identity;
  AnimMatrix_SetIdentity(&identity);
  const auto* m = static_cast<const AnimMorph*>(AnimDict_Find(scene.dictionary(), 1)->body);
  return AnimMorph_Draw(&scene.raster(), m, &identity, &cx, ratio);
}
Bytes MorphOf(const Bytes& start, const Bytes& end) {
  return movie::Morph(1, movie::Concat({{(2 << 4) | 1}, start}), movie::Concat({{0}, end}));
}

TEST(PlayerMorphTest, RatiosMatchTheirGoldenImages) {
  // A small box at the top left becoming a large one.
  const Bytes morph = MorphOf(Records(2, 1).Change(-1, 1, -1, true, 40, 40).Box(200, 200).End(),
                              Records(0, 0).Move(100, 60).Box(480, 520).End());
  for (uint32_t ratio : {32768u, 65535u}) {
    SCOPED_TRACE(ratio);
    Scene scene({morph}, 32, false);
    EXPECT_EQ(DrawMorph(scene, ratio), kAnimShapeDrawn);
    EXPECT_EQ(scene.raster().nextFree, 0);  // never cached
    EXPECT_TRUE(GoldenMatches(GoldenPath("anim_morph_" + std::to_string(ratio)), scene.Image()));
  }
}

TEST(PlayerMorphTest, AStraightEdgePairedWithACurveBowsHalfway) {
  // The start's bottom edge is straight, the end's bows down by 300 twips;
  // halfway the bottom bulges by a quarter of that at its middle.
  const Bytes morph =
      MorphOf(Records(2, 1).Change(-1, 1, -1, true, 40, 40).To(560, 0).To(0, 200).To(-560, 0).To(0, -200).End(),
              Records(0, 0).Move(40, 40).To(560, 0).To(0, 200).Curve(-280, 300, -280, -300).To(0, -200).End());
  int depth[2] = {};
  for (uint32_t ratio : {0u, 32768u}) {
    Scene scene({morph}, 32, false);
    ASSERT_EQ(DrawMorph(scene, ratio), kAnimShapeDrawn);
    for (int y = 0; y < 32; ++y) depth[ratio ? 1 : 0] += scene.At(16, y) != 0;
    if (ratio) { EXPECT_TRUE(GoldenMatches(GoldenPath("anim_morph_curve"), scene.Image())); }
  }
  // 75 twips more at the middle: nearly four pixels.
  EXPECT_GE(depth[1] - depth[0], 3);
  EXPECT_LE(depth[1] - depth[0], 4);
}

// The decoded texel at a frame pixel: 2 x 2 pixels a texel from (8, 8).
uint16_t Texel(AnimPlayer* p, uint32_t x, uint32_t y) {
  const AnimDecodedBitmap* slot = nullptr;
  for (const AnimDecodedBitmap& s : p->bitmaps.slots)
    if (s.key == 9) slot = &s;
  if (!slot) return 0xFFFF;
  const uint8_t* t = slot->pixels + y * slot->rowBytes + 2 * x;
  return static_cast<uint16_t>(t[0] << 8 | t[1]);
}

TEST(PlayerBitmapTest, EachPixelTakesItsTexelAndPixelsOffTheBitmapStay) {
  for (uint8_t kind : {0x40, 0x41, 0x42, 0x43}) {
    for (bool smooth : {false, true}) {
      SCOPED_TRACE(std::to_string(kind) + (smooth ? " smooth" : " plain"));
      Scene scene({CodedBitmap(9, false), BitmapShape(kind, 9, 40 << 16, 0, 160, 160, 900)}, 48, smooth);
      scene.Fill(0x2108);
      ASSERT_EQ(scene.Draw(1), kAnimShapeDrawn);
      for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) ASSERT_EQ(scene.At(8 + x, 8 + y), Texel(scene.player(), x / 2, y / 2)) << x << "," << y;
      // Inside the square but off the bitmap: as it was, on every side.
      for (int i = 2; i < 8; ++i) {
        EXPECT_EQ(scene.At(i, 20), 0x2108);
        EXPECT_EQ(scene.At(20, i), 0x2108);
        EXPECT_EQ(scene.At(47 - i, 20), 0x2108);
        EXPECT_EQ(scene.At(20, 47 - i), 0x2108);
      }
    }
  }
}

TEST(PlayerBitmapTest, ThreeBitmapsInOneShapeEachFindTheirOwnPixels) {
  // Three fills side by side, each a bitmap of its own tint: preparing the
  // third evicts the first from the two decoded slots, so the first's spans
  // look it up again by its id.
  Records r(2, 0);
  for (int i = 0; i < 3; ++i) r.Change(-1, i + 1, -1, true, 20 + 300 * i, 20).Box(280, 600);
  Writer w;
  w.U16(1).Rect(0, 960, 0, 640);
  w.U8(3);
  for (int i = 0; i < 3; ++i) w.U8(0x41).U16(10 + i).Matrix(20 + 300 * i, 20, 20 << 16, 20 << 16);
  w.U8(0).Bits(2, 4).Bits(0, 4).Raw(r.End());
  const Bytes shape = movie::Tag(2, w.bytes());
  Scene scene({CodedBitmap(10, false, -30), CodedBitmap(11, false, 0), CodedBitmap(12, false, 30), shape}, 48, false);
  ASSERT_EQ(scene.Draw(1), kAnimShapeDrawn);
  for (int i = 0; i < 3; ++i) {
    // The same bitmap alone, in the same place.
    Scene alone({CodedBitmap(9, false, -30 + 30 * i), BitmapShape(0x41, 9, 20 << 16, 0, 20 + 300 * i, 20, 900)}, 48, false);
    ASSERT_EQ(alone.Draw(1), kAnimShapeDrawn);
    for (int y = 2; y < 30; ++y)
      for (int x = 2 + 15 * i; x < 15 + 15 * i; ++x) ASSERT_EQ(scene.At(x, y), alone.At(x, y)) << i << ": " << x << "," << y;
  }
}

TEST(PlayerBitmapTest, AlphaFollowsThePlaneTheFillAndTheColourTransform) {
  struct {
    bool alphaPlane;
    AnimCxform cx;
    int at[2];        // a pixel of the alpha-128 quarter (or any, without a plane)
    uint32_t alpha;   // what that texel is blended with
  } cases[] = {
      {false, {128, 0, 256, 0, 256, 0, 256, 0}, {10, 10}, 127},   // the fill's A: (128 x 255) >> 8
      {false, {256, -300, 256, 0, 256, 0, 256, 0}, {10, 10}, 0},  // clamped below
      {true, {128, 0, 256, 0, 256, 0, 256, 0}, {10, 30}, 64},     // the table maps the plane's 128
      {true, {512, 0, 256, 0, 256, 0, 256, 0}, {10, 30}, 255},    // doubled and clamped, never wrapped
      {true, {512, 0, 256, 0, 256, 0, 256, 0}, {30, 30}, 0},      // the plane's 0 stays clear
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.cx.aMul) + " " + std::to_string(c.cx.aAdd) + (c.alphaPlane ? " plane" : ""));
    Scene scene({CodedBitmap(9, c.alphaPlane), BitmapShape(0x41, 9, 40 << 16, 0, 160, 160, 900)}, 48, false);
    scene.Fill(0x2108);
    ASSERT_EQ(scene.Draw(1, nullptr, &c.cx), kAnimShapeDrawn);
    const uint16_t texel = Texel(scene.player(), (c.at[0] - 8) / 2, (c.at[1] - 8) / 2);
    // Full alpha writes the texel itself; a blend at 255 would stop 1/256 short.
    EXPECT_EQ(scene.At(c.at[0], c.at[1]), c.alpha == 255 ? texel : AnimColor_Blend(0x2108, texel, c.alpha));
  }
}

TEST(PlayerBitmapTest, RowsTakenFromTheRowAboveMatchRowsDrawnEachAlone) {
  // A pixel row on the texel row of the row above copies that row's texels.
  // Drawn one pixel row per render nothing is carried over: every pixel must
  // come out the same both ways, whatever the scale, mirror, turn or offset.
  constexpr int32_t k = 1 << 16;
  const struct {
    const char* name;
    bool diamond;
    std::vector<BitmapFill> fills;
    int32_t outlines = 0;
  } cases[] = {
      {"two pixels a texel", false, {{160, 160, 40 * k, 40 * k, 0, 0}}},
      {"a pixel and a half", true, {{80, 80, 30 * k, 30 * k, 0, 0}}},
      {"whole pixels", true, {{20, 20, 40 * k, 40 * k, 0, 0}}},
      {"tall texels, odd offsets", false, {{37, 91, 27 * k + 12345, 61 * k + 999, 0, 0}}},
      {"texels narrower than pixels", false, {{5, 3, 13 * k, 13 * k, 0, 0}}},
      {"narrow and tall", true, {{7, 11, 13 * k, 90 * k, 0, 0}}},
      {"mirrored", false, {{700, 700, -40 * k, -40 * k, 0, 0}}},
      {"mirrored across only", true, {{700, 30, -35 * k, 50 * k, 0, 0}}},
      {"turned", false, {{120, 40, 26 * k, 26 * k, 9 * k, -9 * k}}},
      {"sheared one way", false, {{50, 60, 40 * k, 40 * k, 5 * k, 0}}},
      {"sheared the other", true, {{50, 60, 40 * k, 40 * k, 0, 5 * k}}},
      {"two fills a row", false, {{20, 20, 45 * k, 45 * k, 0, 0}, {480, 33, 45 * k, 45 * k, 0, 0}}},
      {"two fills, two mappings", true, {{20, 20, 45 * k, 70 * k, 0, 0}, {470, 10, -33 * k, 52 * k, 0, 0}}},
      {"two fills, one origin, two scales", false, {{0, 0, 40 * k, 40 * k, 0, 0}, {0, 0, 80 * k, 80 * k, 0, 0}}},
      {"three bitmaps, two slots", false,
       {{0, 0, 40 * k, 40 * k, 0, 0, 9}, {0, 0, 40 * k, 40 * k, 0, 0, 10}, {0, 0, 40 * k, 40 * k, 0, 0, 11}}},
      {"one fill, three boxes", false, {{20, 20, 45 * k, 45 * k, 0, 0}}, 3},
      {"one fill, three diamonds", true, {{20, 20, 40 * k, 40 * k, 0, 0}}, 3},
  };
  for (const auto& c : cases) {
    for (bool smooth : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (smooth ? " smooth" : " plain"));
      const std::vector<Bytes> tags = {TexturedBitmap(9), TexturedBitmap(10), TexturedBitmap(11),
                                       MappedBitmapShape(c.diamond, c.fills, c.outlines)};
      Scene whole(tags, 48, smooth), rows(tags, 48, smooth);
      whole.Fill(0x2108);
      rows.Fill(0x2108);
      ASSERT_EQ(whole.Draw(1), kAnimShapeDrawn);
      for (int32_t y = 0; y < 48; ++y) {
        rows.raster().clipTop = rows.raster().clipBottom = y;
        ASSERT_EQ(rows.Draw(1), kAnimShapeDrawn);
      }
      EXPECT_GT(48 * 48 - whole.Count(0x2108), 300);  // texels drawn
      for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) ASSERT_EQ(whole.At(x, y), rows.At(x, y)) << x << "," << y;
    }
  }
}

TEST(PlayerBitmapTest, AFillWhoseBitmapIsMissingDrawsNothing) {
  // No character 9 at all, or character 9 is a shape.
  for (const Bytes& missing : {Bytes{}, ShapeTag(2, 9, {kRed}, {}, 1, 0, Records(1, 0).End())}) {
    Scene scene({missing, BitmapShape(0x41, 9, 40 << 16, 0, 160, 160, 900)}, 48, false);
    scene.Fill(0x2108);
    ASSERT_EQ(scene.Draw(1), kAnimShapeDrawn);
    EXPECT_EQ(scene.Count(0x2108), 48 * 48);
  }
}

}  // namespace

namespace {

// A tall thin triangle whose right edge runs from the origin with a quarter
// pixel of x for every pixel of y, its far corner 2,500 pixels down (edges
// span at most 2^16 twips).
Bytes LongTriangle() {
  const int32_t h = 50000;  // twips
  return ShapeTag(2, 1, {kRed}, {}, 1, 0,
                  Records(1, 0).Change(-1, 1, -1, true, 0, 0).To(h / 4, h).To(-h / 4, 0).To(0, -h).End());
}

}  // namespace

// Scaling the triangle up keeps the edge's slope, however far its end lies
// outside the frame: row 100 holds the same span at every scale.
TEST(PlayerShapeTest, LongEdgesKeepTheirSlopeAtAnyScale) {
  for (bool smooth : {false, true}) {
    std::vector<int> counts;
    for (float scale : {1.0f, 10.0f, 100.0f}) {
      Scene scene({LongTriangle()}, 128, smooth);
      AnimMatrix m;
      AnimMatrix_SetIdentity(&m);
      m.a = m.d = scale;
      ASSERT_EQ(scene.Draw(1, &m), kAnimShapeDrawn);
      int n = 0;
      for (int x = 0; x < 128; ++x) n += scene.At(x, 100) != 0;
      counts.push_back(n);
    }
    EXPECT_GE(counts[0], 24) << smooth;
    EXPECT_LE(counts[0], 27) << smooth;  // the smooth mode covers one more
    EXPECT_EQ(counts[1], counts[0]) << smooth;
    EXPECT_EQ(counts[2], counts[0]) << smooth;
  }
}

// A kept draw owns its ramps: another object's draw of the same gradient
// shape under another colour transform rebuilds the shape's own ramp, and
// the replay still shows the colours it was made with.
TEST(PlayerShapeTest, AReplayKeepsItsOwnGradientColours) {
  for (bool smooth : {false, true}) {
    SCOPED_TRACE(smooth);
    Scene cached({TranslucentRadialShape()}, 32, smooth), fresh({TranslucentRadialShape()}, 32, smooth);
    const AnimCxform reddish{256, 0, 256, 0, 64, 0, 64, 0}, bluish{256, 0, 64, 0, 64, 0, 256, 0};
    AnimShapeCache cache{};
    ASSERT_EQ(cached.Draw(1, nullptr, &reddish, &cache), kAnimShapeDrawn);
    ASSERT_EQ(cache.hasCache, 1u);
    cached.Fill(0);
    ASSERT_EQ(cached.Draw(1, nullptr, &bluish), kAnimShapeDrawn);
    cached.Fill(0);
    ASSERT_EQ(cached.Draw(1, nullptr, &reddish, &cache), kAnimShapeDrawn);
    ASSERT_EQ(fresh.Draw(1, nullptr, &reddish), kAnimShapeDrawn);
    EXPECT_TRUE(cached.frame() == fresh.frame());
    AnimShapeCache_Free(&cached.raster(), &cache);
  }
}
