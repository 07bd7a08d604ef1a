#include "step_movies.h"

#include <array>

#include "dct_encoder.h"

namespace movie {

namespace {

Bytes SetTarget(const std::string& target) {
  Bytes name(target.begin(), target.end());
  name.push_back(0);
  return Action(0x8B, name);
}

Bytes MovieOf(const Bytes& tags, uint16_t frames) {
  Header header;
  header.frames = frames;
  return Qvx(header, Concat({tags, End()}));
}

}  // namespace

Bytes CodedBitmap(uint16_t id, uint16_t w, uint16_t h, uint32_t seed) {
  DctTestImage image;
  image.width = w;
  image.height = h;
  const uint32_t macroblocks = ((w + 15u) / 16u) * ((h + 15u) / 16u);
  for (uint32_t k = 0; k < macroblocks * 6; ++k) {
    std::array<int32_t, 64> block{};
    for (int i : {0, 1, 2, 8, 9, 16}) {
      seed = seed * 1103515245 + 12345;
      block[i] = static_cast<int32_t>(seed >> 26) - 32;
    }
    image.blocks.push_back(block);
  }
  return Bitmap(id, DctTestEncode(image));
}

Bytes BitmapBox(uint16_t id, uint16_t bitmap, int32_t x, int32_t y, int32_t w, int32_t h) {
  Records r(1, 0);
  r.Change(-1, 1, -1, true, 20 * x, 20 * y).Box(20 * w, 20 * h);
  Writer out;
  out.U16(id).Rect(20 * x, 20 * (x + w), 20 * y, 20 * (y + h));
  out.U8(1).U8(0x41).U16(bitmap).Matrix(20 * x, 20 * y, 20 << 16, 20 << 16);
  out.U8(0);
  out.Bits(1, 4).Bits(0, 4).Raw(r.End());
  return movie::Tag(2, out.bytes());
}

Bytes BackgroundSprite(uint16_t depth) {
  Bytes boxes;
  for (int i = 0; i < 6; ++i) boxes = Concat({boxes, Place(203, static_cast<uint16_t>(i + 3), 300 + 400 * i, 2600)});
  return Concat({BoxShape(200, {0, 160, 0}, 0, 0, 3520, 4160), BoxShape(201, {0, 0, 248}, 0, 0, 300, 300),
                 BoxShape(203, {200, 200, 0}, 0, 0, 200, 200), BoxShape(205, {248, 0, 0}, 0, 0, 300, 300),
                 Sprite(204, 2, Concat({Place(205, 1, 0, 0), ShowFrame(), RemoveDepth(1), Place(201, 1, 0, 0), ShowFrame(), End()})),
                 Sprite(202, 1, Concat({Place(200, 1, 0, 0), PlaceNamed(204, 2, "inner", 600, 600), boxes, ShowFrame(), End()})),
                 PlaceNamed(202, depth, "Background", 0, 0)});
}

Bytes SwitchingCopies(int copies, int boxes, int runners, bool background) {
  Bytes inner, first, second;
  for (int i = 0; i < boxes; ++i) inner = Concat({inner, Place(1, static_cast<uint16_t>(i + 1), 20 * (i % 8), 20 * (i / 8))});
  for (int i = 0; i < copies; ++i) {
    const auto depth = static_cast<uint16_t>(i + 1);
    first = Concat({first, PlaceNamed(40, depth, "s", 100 * (i % 6), 100 * (i / 6))});
    second = Concat({second, MoveTo(depth, 100 * (i % 6) + 40, 100 * (i / 6) + 40)});
  }
  Bytes body;
  for (const auto& [target, frame] : {std::pair{"/a", 1}, {"/b", 1}, {"/a", 0}, {"/b", 0}})
    body = Concat({body, SetTarget(target), GotoFrame(static_cast<uint16_t>(frame))});
  const Bytes loop = Actions(Concat({body, Jump(0x99, static_cast<int16_t>(-(static_cast<int>(body.size()) + 5))), EndActions()}));
  Bytes tags = Concat({Background(255, 255, 255), BoxShape(1, {248, 0, 0}, 0, 0, 200, 200),
                       Sprite(40, 1, Concat({inner, ShowFrame(), End()})),
                       Sprite(50, 2, Concat({first, ShowFrame(), second, ShowFrame(), End()})),
                       Sprite(60, 1, Concat({loop, ShowFrame(), End()})), PlaceNamed(50, 1, "a", 0, 0),
                       PlaceNamed(50, 2, "b", 1600, 0)});
  for (int i = 0; i < runners; ++i)
    tags = Concat({tags, PlaceNamed(60, static_cast<uint16_t>(10 + i), "r" + std::to_string(i), 0, 0)});
  if (background) tags = Concat({tags, BackgroundSprite(3)});
  return MovieOf(Concat({tags, loop, ShowFrame()}), 1);
}

Bytes CopiesOfCopies(int levels, int copies, int side, bool background) {
  Bytes tags = Concat({Background(255, 255, 255), BoxShape(99, {248, 0, 0}, 0, 0, side, side),
                       Sprite(100, 2, Concat({Place(99, 1, 0, 0), ShowFrame(), MoveTo(1, 20, 20), ShowFrame(), End()}))});
  for (int k = 1; k <= levels; ++k) {
    Bytes places;
    for (int c = 0; c < copies; ++c)
      places = Concat({places, PlaceNamed(static_cast<uint16_t>(100 + k - 1), static_cast<uint16_t>(c + 1), "s", 20 * c, 20 * c)});
    tags = Concat({tags, Sprite(static_cast<uint16_t>(100 + k), 1, Concat({places, ShowFrame(), End()}))});
  }
  if (background) tags = Concat({tags, BackgroundSprite(1)});
  return MovieOf(Concat({tags, PlaceNamed(static_cast<uint16_t>(100 + levels), background ? 2 : 1, "top", 200, 200), ShowFrame(), ShowFrame()}), 2);
}

Bytes CopyField(int boxes, int copies) {
  Bytes inner, places;
  for (int i = 1; i <= boxes; ++i) inner = Concat({inner, Place(1, static_cast<uint16_t>(i), 0, 0)});
  for (int i = 0; i < copies; ++i)
    places = Concat({places, PlaceNamed(40, static_cast<uint16_t>(i + 1), "s", (i % 13) * 260, (i / 13) * 260)});
  const Bytes tags = Concat({Background(255, 255, 255), BoxShape(1, {248, 0, 0}, 0, 0, 200, 200),
                             Sprite(40, 2, Concat({inner, ShowFrame(), MoveTo(1, 20, 20), ShowFrame(), End()})),
                             Sprite(50, 1, Concat({places, ShowFrame(), End()})), PlaceNamed(50, 1, "field", 0, 0)});
  return MovieOf(Concat({tags, ShowFrame(), ShowFrame()}), 2);
}

Bytes GrassField(int teeth, int rows, int columns, bool rightFirst, bool still, bool background) {
  Records r(1, 0);
  const int32_t width = 3 * teeth, height = 100;
  auto teethOf = [&](Records& out) {
    for (int i = 0; i < teeth; ++i) out.To(1, height).To(2, -height);
  };
  if (rightFirst) {
    r.Change(-1, 1, -1, true, width, 0).To(0, height).To(-width, 0).To(0, -height);
    teethOf(r);
  } else {
    r.Change(-1, 1, -1, true, 0, 0);
    teethOf(r);
    r.To(0, height).To(-width, 0).To(0, -height);
  }
  Bytes grass = ShapeTag(2, 1, {{0, 160, 0}}, {}, 1, 0, r.End(), 0, width, 0, height);
  Bytes lines, field;
  for (int i = 0; i < rows; ++i) lines = Concat({lines, PlaceNamed(40, static_cast<uint16_t>(i + 1), "g", 0, 30 * i)});
  for (int i = 0; i < columns; ++i)
    field = Concat({field, PlaceNamed(50, static_cast<uint16_t>(i + 1), "f", 13 * i, 0)});
  const Bytes blade = still ? Concat({Place(1, 1, 0, 0), Place(2, 2, 0, 200), ShowFrame(), MoveTo(2, 20, 200), ShowFrame()})
                            : Concat({Place(1, 1, 0, 0), ShowFrame(), MoveTo(1, 20, 0), ShowFrame()});
  Bytes tags = Concat({Background(255, 255, 255), grass, BoxShape(2, {0, 0, 248}, 0, 0, 20, 20),
                       Sprite(40, 2, Concat({blade, End()})), Sprite(50, 1, Concat({lines, ShowFrame(), End()})), field});
  if (background) tags = Concat({tags, BackgroundSprite(static_cast<uint16_t>(columns + 1))});
  return MovieOf(Concat({tags, ShowFrame(), ShowFrame()}), 2);
}

Bytes StarField(int stars, int copies, int fields) {
  // Five points 100 twips from the middle and five inner corners 40 from it.
  static constexpr int32_t kPoints[10][2] = {{100, 0},   {124, 68},  {195, 69},  {138, 112}, {159, 181},
                                             {100, 140}, {41, 181},  {62, 112},  {5, 69},    {76, 68}};
  Records r(1, 0);
  r.Change(-1, 1, -1, true, kPoints[0][0], kPoints[0][1]);
  for (int i = 1; i <= 10; ++i)
    r.To(kPoints[i % 10][0] - kPoints[i - 1][0], kPoints[i % 10][1] - kPoints[i - 1][1]);
  Bytes inner, places, field;
  for (int i = 0; i < stars; ++i)
    inner = Concat({inner, Place(1, static_cast<uint16_t>(i + 1), 400 * (i % 8), 400 * (i / 8))});
  for (int i = 0; i < copies; ++i)
    places = Concat({places, PlaceNamed(40, static_cast<uint16_t>(i + 1), "s", 20 * (i % 8), 20 * (i / 8))});
  for (int i = 0; i < fields; ++i)
    field = Concat({field, PlaceNamed(50, static_cast<uint16_t>(i + 1), "f", 7 * (i % 8), 11 * (i / 8))});
  const Bytes tags = Concat({Background(0, 0, 40), ShapeTag(2, 1, {{248, 248, 200}}, {}, 1, 0, r.End(), 0, 200, 0, 200),
                             Sprite(40, 2, Concat({inner, ShowFrame(), MoveTo(1, 20, 20), ShowFrame(), End()})),
                             Sprite(50, 1, Concat({places, ShowFrame(), End()})), field});
  return MovieOf(Concat({tags, ShowFrame(), ShowFrame()}), 2);
}

namespace {

// Sprite 40 shows shape 1 and moves it a pixel at every step (`still`: a
// dot beside it); sprite 50 shows 40 `rows` times under one name, `rowStep`
// twips apart; the root shows 50 `columns` times under one name,
// `columnStep` twips apart.
Bytes CopiesOfAMovingShape(const Bytes& shape, int rows, int columns, int rowStep, int columnStep, bool still = false) {
  Bytes lines, field;
  for (int i = 0; i < rows; ++i) lines = Concat({lines, PlaceNamed(40, static_cast<uint16_t>(i + 1), "g", 0, rowStep * i)});
  for (int i = 0; i < columns; ++i)
    field = Concat({field, PlaceNamed(50, static_cast<uint16_t>(i + 1), "f", columnStep * i, 0)});
  const Bytes moving = still ? Concat({Place(1, 1, 0, 0), Place(2, 2, 0, 200), ShowFrame(), MoveTo(2, 20, 200), ShowFrame()})
                             : Concat({Place(1, 1, 0, 0), ShowFrame(), MoveTo(1, 20, 0), ShowFrame()});
  const Bytes tags = Concat({Background(255, 255, 255), shape, BoxShape(2, {0, 0, 248}, 0, 0, 20, 20),
                             Sprite(40, 2, Concat({moving, End()})), Sprite(50, 1, Concat({lines, ShowFrame(), End()})),
                             field});
  return MovieOf(Concat({tags, ShowFrame(), ShowFrame()}), 2);
}

}  // namespace

Bytes UnfilledOutlineField(int edges, int rows, int columns, bool still) {
  Records r(1, 0);
  r.Change(-1, 1, -1, true, 1000, 1000).Box(40, 40).Change(-1, 0, -1, true, 0, 2000);
  for (int i = 0; i < edges; ++i) r.To(1, (i & 1) ? -1 : 1);
  return CopiesOfAMovingShape(ShapeTag(2, 1, {{0, 160, 0}}, {}, 1, 0, r.End(), 0, 3520, 0, 4160), rows, columns,
                              still ? 0 : 30, still ? 0 : 13, still);
}

Bytes GradientFillsField(int fills, int rows, int columns) {
  Writer w;
  w.U16(1).Rect(0, 3520, 0, 4160).U8(static_cast<uint32_t>(fills));
  for (int i = 0; i < fills; ++i) w.U8(0x10).Matrix(0, 0).U8(2).U8(0).U8(i).U8(0).U8(0).U8(255).U8(0).U8(0).U8(i);
  Records r(8, 0);
  r.Change(-1, 1, -1, true, 1000, 1000).Box(40, 40);
  w.U8(0).Bits(8, 4).Bits(0, 4).Raw(r.End());
  return CopiesOfAMovingShape(Tag(2, w.bytes()), rows, columns, 30, 13);
}

Bytes PhotoStrips(int side, int strips, int rows, int columns, bool still, int photos) {
  const uint32_t fillBits = photos < 4 ? 2 : photos < 8 ? 3 : photos < 16 ? 4 : 5;
  Records r(fillBits, 0);
  Writer w;
  w.U16(1).Rect(0, 3520, 0, 4160).U8(static_cast<uint32_t>(photos));
  for (int i = 0; i < photos; ++i) w.U8(0x41).U16(static_cast<uint32_t>(9 + i)).Matrix(0, 0, 20 << 16, 20 << 16);
  for (int i = 0; i < strips; ++i) r.Change(-1, i % photos + 1, -1, true, i * 3520 / strips, 0).Box(3520 / strips, 4160);
  w.U8(0).Bits(fillBits, 4).Bits(0, 4).Raw(r.End());
  Bytes bitmaps;
  for (int i = 0; i < photos; ++i)
    bitmaps = Concat({bitmaps, CodedBitmap(static_cast<uint16_t>(9 + i), static_cast<uint16_t>(side),
                                           static_cast<uint16_t>(side), 7u + static_cast<uint32_t>(i))});
  return CopiesOfAMovingShape(Concat({bitmaps, Tag(2, w.bytes())}), rows, columns, still ? 0 : 30, still ? 0 : 13, still);
}

Bytes PhotoCollage(int photos, int w, int h, int drawnWidth, bool apart) {
  const int32_t box = 20 * drawnWidth, height = 20 * 208;
  Bytes bitmaps, shapes, placed, moved;
  Records r(3, 0);
  Writer shape;
  shape.U16(1).Rect(0, photos * box, 0, height).U8(static_cast<uint32_t>(photos));
  for (int i = 0; i < photos; ++i) {
    const auto id = static_cast<uint16_t>(9 + i);
    bitmaps = Concat({bitmaps, CodedBitmap(id, static_cast<uint16_t>(w), static_cast<uint16_t>(h), 7u + 3u * i)});
    const int32_t scaleX = static_cast<int32_t>((int64_t{box} << 16) / w);
    const int32_t scaleY = static_cast<int32_t>((int64_t{height} << 16) / h);
    shape.U8(0x41).U16(id).Matrix(i * box, 0, scaleX, scaleY);
    r.Change(-1, i + 1, -1, true, i * box, 0).Box(box, height);
    if (!apart) continue;
    Records one(1, 0);
    one.Change(-1, 1, -1, true, i * box, 0).Box(box, height);
    Writer alone;
    alone.U16(static_cast<uint32_t>(20 + i)).Rect(i * box, (i + 1) * box, 0, height).U8(1);
    alone.U8(0x41).U16(id).Matrix(i * box, 0, scaleX, scaleY).U8(0).Bits(1, 4).Bits(0, 4).Raw(one.End());
    shapes = Concat({shapes, Tag(2, alone.bytes())});
    placed = Concat({placed, Place(static_cast<uint16_t>(20 + i), static_cast<uint16_t>(i + 1), 0, 0)});
    moved = Concat({moved, MoveTo(static_cast<uint16_t>(i + 1), 20, 0)});
  }
  shape.U8(0).Bits(3, 4).Bits(0, 4).Raw(r.End());
  if (!apart) {
    shapes = Tag(2, shape.bytes());
    placed = Place(1, 1, 0, 0);
    moved = MoveTo(1, 20, 0);
  }
  Header header;
  header.xmax = photos * box;
  header.frames = 2;
  const Bytes loop = Actions(Concat({GotoFrame(0), Action(6)}));
  return Qvx(header, Concat({Background(0, 255, 0), bitmaps, shapes, placed, ShowFrame(), moved, loop, ShowFrame(), End()}));
}

Bytes NestedButtons(int depth, int records, bool drawn) {
  Bytes defs = BoxShape(3, {200, 0, 0}, 0, 0, 40, 40);
  uint16_t inner = 3;
  for (int d = 0; d < depth; ++d) {
    const auto id = static_cast<uint16_t>(d + 1 == depth ? 1 : 10 + d);
    Writer w;
    w.U16(id);
    const uint32_t states = d == 0 && !drawn ? 2 : 1;
    for (int i = 0; i < records; ++i) w.U8(states).U16(inner).U16(static_cast<uint32_t>(i + 1)).Matrix(i, 0);
    defs = Concat({defs, Tag(7, w.U8(0).U8(0).bytes())});
    inner = id;
  }
  return CopiesOfAMovingShape(defs, 1, 1, 0, 0, true);
}

Bytes KeptHatching(int copies, int photoSide) {
  Records r(1, 0);
  for (int i = 0; i < 200; ++i) r.Change(-1, 1, -1, true, i * 3520 / 200, 0).Box(8, 4160);
  Bytes inner, outer, photos, shown;
  for (int i = 0; i < copies; ++i) {
    inner = Concat({inner, PlaceNamed(41, static_cast<uint16_t>(i + 1), "h", i, 0)});
    outer = Concat({outer, PlaceNamed(42, static_cast<uint16_t>(i + 1), "g", 0, i)});
  }
  if (photoSide > 0) {
    const auto side = static_cast<uint16_t>(photoSide);
    photos = Concat({CodedBitmap(9, side, side, 7), CodedBitmap(10, side, side, 8), CodedBitmap(11, side, side, 9),
                     BitmapBox(30, 9, 10, 10, side, side), BitmapBox(31, 10, 40, 40, side, side),
                     BitmapBox(32, 11, 70, 10, side, side)});
    outer = Concat({outer, Place(30, static_cast<uint16_t>(copies + 1), 0, 0)});
    shown = Concat({Place(31, 3, 0, 0), Place(32, 4, 0, 0)});
  }
  const Bytes tags = Concat({Background(255, 255, 255), ShapeTag(2, 1, {{0, 0, 160}}, {}, 1, 0, r.End(), 0, 3520, 0, 4160),
                             BoxShape(2, {248, 0, 0}, 0, 0, 200, 200), photos,
                             Sprite(41, 1, Concat({Place(1, 1, 0, 0), ShowFrame(), End()})),
                             Sprite(42, 1, Concat({inner, ShowFrame(), End()})),
                             Sprite(43, 1, Concat({outer, ShowFrame(), End()})),
                             Sprite(44, 2, Concat({Place(2, 1, 0, 0), ShowFrame(), MoveTo(1, 20, 20), ShowFrame(), End()})),
                             PlaceNamed(43, 1, "Background"), PlaceNamed(44, 2, "m", 1600, 2000), shown});
  return MovieOf(Concat({tags, ShowFrame(), ShowFrame()}), 2);
}

Bytes SideLines(int rows, int columns) {
  Records r(1, 0);
  r.Change(-1, 1, -1, true, 0, 0).Box(20, 4160).Move(3480, 0).Box(20, 4160);
  // Every copy in one place: each keeps both lines on the stage.
  return CopiesOfAMovingShape(ShapeTag(2, 1, {{0, 0, 0}}, {}, 1, 0, r.End(), 0, 3500, 0, 4160), rows, columns, 0, 0);
}

}  // namespace movie
