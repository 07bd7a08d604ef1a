// Writes QVX movies and QVZ packages for the player's tests, field by field
// from the published SWF tag layouts and the player's own tags. Kept apart
// from the parser so a misreading on one side cannot hide in the other.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace movie {

using Bytes = std::vector<uint8_t>;

class Writer {
 public:
  Writer& U8(uint32_t v);
  Writer& U16(uint32_t v);
  Writer& U32(uint32_t v);
  Writer& F32(float v);
  Writer& Str(const std::string& s);  // with its NUL
  Writer& Raw(const Bytes& b);
  // Bit-packed fields, most significant bit first; Align starts the next whole byte.
  Writer& Bits(uint32_t v, uint32_t n);
  Writer& SBits(int32_t v, uint32_t n);
  Writer& Align();
  Writer& Rect(int32_t xmin, int32_t xmax, int32_t ymin, int32_t ymax);
  // Scale and rotate-skew as 16.16 fixed values; has-scale / has-rotate when not the identity's.
  Writer& Matrix(int32_t tx, int32_t ty, int32_t scaleX = 65536, int32_t scaleY = 65536, int32_t skew0 = 0,
                 int32_t skew1 = 0);
  // mul / add: red, green, blue, alpha; empty for none.
  Writer& Cxform(const std::vector<int32_t>& mul, const std::vector<int32_t>& add, bool alpha);
  const Bytes& bytes();

 private:
  Bytes out_;
  uint32_t bitCount_ = 0;  // bits used in the last byte, 0 when aligned
};

// Signed bit width that holds every value (at least 1).
uint32_t SignedBits(const std::vector<int32_t>& values);

Bytes Tag(uint32_t code, const Bytes& body, bool longLength = false);
Bytes Concat(const std::vector<Bytes>& parts);

struct Header {
  uint8_t version = 1;
  int32_t xmax = 176 * 20, ymax = 208 * 20;
  uint16_t rate = 12 << 8, frames = 1;
  uint8_t reservedA = 0, reservedB = 0;
};
// Header and tags; the total length field covers everything. With minTotal
// the movie is padded to that length by an unknown tag before the tags.
Bytes Qvx(const Header& h, const Bytes& tags, uint32_t minTotal = 0);
Bytes Qvz(const std::vector<std::pair<std::string, Bytes>>& members);

// Tags.
Bytes ShowFrame();
Bytes End();
Bytes Background(uint8_t r, uint8_t g, uint8_t b);
Bytes Place(uint16_t id, uint16_t depth, int32_t tx, int32_t ty, bool cxform = false);
struct Place2 {
  uint8_t flags = 0;
  uint16_t depth = 1, id = 0;
  int32_t tx = 0, ty = 0;
  std::vector<int32_t> mul, add;
  uint16_t ratio = 0, clipDepth = 0;
  std::string name;
};
Bytes PlaceWithFlags(const Place2& p);
// Places object `id` at (x, y) twips under `name` (no name when empty).
Bytes PlaceNamed(uint16_t id, uint16_t depth, const std::string& name, int32_t x = 0, int32_t y = 0);
// Moves the object at a depth to (x, y) twips.
Bytes MoveTo(uint16_t depth, int32_t x, int32_t y);
Bytes Remove(uint16_t id, uint16_t depth);
Bytes RemoveDepth(uint16_t depth);
Bytes FrameLabel(const std::string& label);
Bytes Actions(const Bytes& list);  // tag 12
Bytes SolidShape(uint32_t code, uint16_t id, uint8_t r, uint8_t g, uint8_t b, bool leadingByte = false);
Bytes GradientShape(uint16_t id, uint32_t records);
Bytes Sound(uint16_t id, uint8_t type, uint8_t format, uint32_t samples, const Bytes& data);
Bytes StartSound(uint16_t id, uint8_t flags, uint16_t loops = 0, uint8_t envelopePoints = 0);
Bytes Button(uint16_t id, uint16_t charId, const Bytes& actions);
Bytes ButtonWithConditions(uint16_t id, bool menu, uint16_t charId,
                           const std::vector<std::pair<uint16_t, Bytes>>& conditions);
Bytes ButtonCxform(uint16_t id, const std::vector<int32_t>& mul);
struct EditText {
  uint16_t id = 1, flags = 0;
  uint16_t fontId = 0, height = 240;
  uint8_t r = 0, g = 0, b = 0, a = 255;
  uint16_t maxLength = 0;
  std::string variable, text;
  uint16_t first = 0, last = 0;
  int32_t xmin = 0, xmax = 2000, ymin = 0, ymax = 400;  // the bounds
  uint8_t options[4] = {1, 2, 3, 4};
};
Bytes EditTextTag(const EditText& e);
Bytes Sprite(uint16_t id, uint16_t frames, const Bytes& tags);
Bytes Bitmap(uint16_t id, const Bytes& coded);
// Fonts: each glyph is its index-bits byte and its shape records.
Bytes Font(uint32_t code, uint16_t id, const std::vector<Bytes>& glyphs);
Bytes FontWithLayout(uint32_t code, uint16_t id, uint8_t flags, const std::string& name,
                     const std::vector<Bytes>& glyphs, const std::vector<uint16_t>& codes);
Bytes Text(uint32_t code, uint16_t id, const Bytes& records);
// A morph shape with one fill of each kind and one line style; the edge
// sets are given with their own index-bits bytes.
Bytes Morph(uint16_t id, const Bytes& startEdges, const Bytes& endEdges);
Bytes FontInfo(uint16_t id, const std::string& name, const Bytes& codes);
Bytes Caption(uint32_t code, uint16_t idOrValue);  // 560, 561, 562; 563 without a value

// Actions.
Bytes Action(uint8_t code);
Bytes Action(uint8_t code, const Bytes& payload);
Bytes GotoFrame(uint16_t frame);
Bytes GetUrl(const std::string& url, const std::string& target);
Bytes PushFloat(float v);
Bytes PushText(const std::string& s);
Bytes Jump(uint8_t code, int16_t offset);
Bytes EndActions();

// Shapes: records in the published bit layout, and a shape tag of solid
// fills and line styles over them (bounds 0 to 2000 twips).
struct Solid {
  uint8_t r, g, b, a = 255;
};
struct Line {
  uint16_t width;
  Solid color;
};

// Shape records, written field by field in the published bit layout.
class Records {
 public:
  Records(uint32_t fillBits, uint32_t lineBits) : fillBits_(fillBits), lineBits_(lineBits) {}
  // Style change; -1 leaves a field out.
  Records& Change(int32_t fill0, int32_t fill1, int32_t line, bool move = false, int32_t x = 0, int32_t y = 0) {
    const uint32_t flags = (move ? 1 : 0) | (fill0 >= 0 ? 2 : 0) | (fill1 >= 0 ? 4 : 0) | (line >= 0 ? 8 : 0);
    w_.Bits(0, 1).Bits(flags, 5);
    if (move) {
      const uint32_t n = SignedBits({x, y});
      w_.Bits(n, 5).SBits(x, n).SBits(y, n);
    }
    if (fill0 >= 0) w_.Bits(static_cast<uint32_t>(fill0), fillBits_);
    if (fill1 >= 0) w_.Bits(static_cast<uint32_t>(fill1), fillBits_);
    if (line >= 0) w_.Bits(static_cast<uint32_t>(line), lineBits_);
    return *this;
  }
  Records& Move(int32_t x, int32_t y) { return Change(-1, -1, -1, true, x, y); }
  Records& To(int32_t dx, int32_t dy) {
    const uint32_t n = std::max<uint32_t>(2, SignedBits({dx, dy}));
    w_.Bits(1, 1).Bits(1, 1).Bits(n - 2, 4);
    if (dx && dy) w_.Bits(1, 1).SBits(dx, n).SBits(dy, n);
    else if (dx) w_.Bits(0, 1).Bits(0, 1).SBits(dx, n);
    else w_.Bits(0, 1).Bits(1, 1).SBits(dy, n);
    return *this;
  }
  Records& Curve(int32_t cdx, int32_t cdy, int32_t adx, int32_t ady) {
    const uint32_t n = std::max<uint32_t>(2, SignedBits({cdx, cdy, adx, ady}));
    w_.Bits(1, 1).Bits(0, 1).Bits(n - 2, 4).SBits(cdx, n).SBits(cdy, n).SBits(adx, n).SBits(ady, n);
    return *this;
  }
  // Closed axis-aligned rectangle from the current point.
  Records& Box(int32_t w, int32_t h) { return To(w, 0).To(0, h).To(-w, 0).To(0, -h); }
  Bytes End() {
    w_.Bits(0, 1).Bits(0, 5).Align();
    return w_.bytes();
  }
  Writer& raw() { return w_; }

 private:
  uint32_t fillBits_, lineBits_;
  Writer w_;
};

inline Bytes ShapeTag(uint32_t code, uint16_t id, const std::vector<Solid>& fills, const std::vector<Line>& lines,
               uint32_t fillBits, uint32_t lineBits, const Bytes& records, int32_t xmin = 0, int32_t xmax = 2000,
               int32_t ymin = 0, int32_t ymax = 2000) {
  const bool alpha = code == 32;
  Writer w;
  w.U16(id).Rect(xmin, xmax, ymin, ymax);
  w.U8(static_cast<uint32_t>(fills.size()));
  for (const Solid& f : fills) {
    w.U8(0).U8(f.r).U8(f.g).U8(f.b);
    if (alpha) w.U8(f.a);
  }
  w.U8(static_cast<uint32_t>(lines.size()));
  for (const Line& l : lines) {
    w.U16(l.width).U8(l.color.r).U8(l.color.g).U8(l.color.b);
    if (alpha) w.U8(l.color.a);
  }
  w.Bits(fillBits, 4).Bits(lineBits, 4).Raw(records);
  return Tag(code, w.bytes());
}

// A shape of one solid fill: a box of w x h twips at (x, y).
Bytes BoxShape(uint16_t id, const Solid& color, int32_t x, int32_t y, int32_t w, int32_t h);
// A morph of one solid colour at both ends; each edge list starts with its
// index bits byte.
Bytes SolidMorph(uint16_t id, const Solid& color, const Bytes& startEdges, const Bytes& endEdges);

}  // namespace movie
