// Writes QVX movies and QVZ packages for the player's tests, field by field
// from the published SWF tag layouts and the player's own tags. Kept apart
// from the parser so a misreading on one side cannot hide in the other.
#pragma once

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

}  // namespace movie
