#include "movie_writer.h"

#include <cstring>

namespace movie {

Writer& Writer::U8(uint32_t v) {
  Align();
  out_.push_back(static_cast<uint8_t>(v));
  return *this;
}
Writer& Writer::U16(uint32_t v) { return U8(v & 0xFF).U8((v >> 8) & 0xFF); }
Writer& Writer::U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
Writer& Writer::F32(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  return U32(bits);
}
Writer& Writer::Str(const std::string& s) { return Raw(Bytes(s.begin(), s.end())).U8(0); }
Writer& Writer::Raw(const Bytes& b) {
  Align();
  out_.insert(out_.end(), b.begin(), b.end());
  return *this;
}
Writer& Writer::Bits(uint32_t v, uint32_t n) {
  for (uint32_t i = n; i-- > 0;) {
    if (bitCount_ == 0) out_.push_back(0);
    if ((v >> i) & 1) out_.back() = static_cast<uint8_t>(out_.back() | (0x80 >> bitCount_));
    bitCount_ = (bitCount_ + 1) & 7;
  }
  return *this;
}
Writer& Writer::SBits(int32_t v, uint32_t n) { return Bits(static_cast<uint32_t>(v), n); }
Writer& Writer::Align() { return bitCount_ = 0, *this; }

uint32_t SignedBits(const std::vector<int32_t>& values) {
  uint32_t n = 1;
  for (int32_t v : values) {
    uint32_t need = 1;
    while (need < 32 && (v < -(1LL << (need - 1)) || v >= (1LL << (need - 1)))) ++need;
    if (need > n) n = need;
  }
  return n;
}

Writer& Writer::Rect(int32_t xmin, int32_t xmax, int32_t ymin, int32_t ymax) {
  Align();
  const uint32_t n = SignedBits({xmin, xmax, ymin, ymax});
  Bits(n, 5).SBits(xmin, n).SBits(xmax, n).SBits(ymin, n).SBits(ymax, n);
  return Align();
}

Writer& Writer::Matrix(int32_t tx, int32_t ty, int32_t scaleX, int32_t scaleY, int32_t skew0, int32_t skew1) {
  // A pair of values with its bit count; the translation pair has no flag and may have zero bits.
  auto pair = [this](int32_t a, int32_t b, bool flagged) {
    const bool present = flagged ? true : (a || b);
    const uint32_t n = present ? SignedBits({a, b}) : 0;
    Bits(n, 5);
    if (n) SBits(a, n).SBits(b, n);
  };
  Align();
  const bool scale = scaleX != 65536 || scaleY != 65536, rotate = skew0 != 0 || skew1 != 0;
  Bits(scale, 1);
  if (scale) pair(scaleX, scaleY, true);
  Bits(rotate, 1);
  if (rotate) pair(skew0, skew1, true);
  pair(tx, ty, false);
  return Align();
}

Writer& Writer::Cxform(const std::vector<int32_t>& mul, const std::vector<int32_t>& add, bool alpha) {
  Align();
  const uint32_t count = alpha ? 4 : 3;
  std::vector<int32_t> all(mul.begin(), mul.end());
  all.insert(all.end(), add.begin(), add.end());
  const uint32_t n = all.empty() ? 1 : SignedBits(all);
  Bits(add.empty() ? 0 : 1, 1).Bits(mul.empty() ? 0 : 1, 1).Bits(n, 4);
  for (uint32_t i = 0; i < count && !mul.empty(); ++i) SBits(mul[i], n);
  for (uint32_t i = 0; i < count && !add.empty(); ++i) SBits(add[i], n);
  return Align();
}

const Bytes& Writer::bytes() { return out_; }

Bytes Tag(uint32_t code, const Bytes& body, bool longLength) {
  Writer w;
  if (longLength || body.size() >= 63) {
    w.U16((code << 6) | 63).U32(static_cast<uint32_t>(body.size()));
  } else {
    w.U16((code << 6) | static_cast<uint32_t>(body.size()));
  }
  w.Raw(body);
  return w.bytes();
}

Bytes Concat(const std::vector<Bytes>& parts) {
  Writer w;
  for (const Bytes& p : parts) w.Raw(p);
  return w.bytes();
}

Bytes Qvx(const Header& h, const Bytes& tags, uint32_t minTotal) {
  Writer head;
  head.Rect(0, h.xmax, 0, h.ymax).U16(h.rate).U16(h.frames).U8(h.reservedA);
  for (int i = 0; i < 40; ++i) head.U8(0);
  head.U8(h.reservedB).U8(0).U16(0);
  Bytes body = head.bytes();
  const uint32_t bare = static_cast<uint32_t>(8 + body.size() + tags.size());
  if (minTotal > bare) {
    const uint32_t pad = minTotal - bare;  // an unknown tag (code 1000) of that length
    if (pad >= 2) body = Concat({body, Tag(1000, Bytes(pad - 2, 0xAA))});
    else body.push_back(0);  // one byte: belongs to the header's skipped area
  }
  Writer w;
  const uint32_t total = static_cast<uint32_t>(8 + body.size() + tags.size());
  w.U8('Q').U8('V').U8('X').U8(h.version).U32(total).Raw(body).Raw(tags);
  return w.bytes();
}

Bytes Qvz(const std::vector<std::pair<std::string, Bytes>>& members) {
  Writer w;
  w.U8('Q').U8('V').U8('Z');
  for (const auto& [name, data] : members) {
    w.U8(static_cast<uint32_t>(name.size()));
    w.Raw(Bytes(name.begin(), name.end()));
    w.U32(static_cast<uint32_t>(data.size())).Raw(data);
  }
  return w.U8(0).bytes();
}

Bytes ShowFrame() { return Tag(1, {}); }
Bytes End() { return Tag(0, {}); }
Bytes Background(uint8_t r, uint8_t g, uint8_t b) { return Tag(9, {r, g, b}); }

Bytes Place(uint16_t id, uint16_t depth, int32_t tx, int32_t ty, bool cxform) {
  Writer w;
  w.U16(id).U16(depth).Matrix(tx, ty);
  if (cxform) w.Cxform({128, 256, 512}, {}, false);
  return Tag(4, w.bytes());
}

Bytes PlaceWithFlags(const Place2& p) {
  Writer w;
  w.U8(p.flags).U16(p.depth);
  if (p.flags & 2) w.U16(p.id);
  if (p.flags & 4) w.Matrix(p.tx, p.ty);
  if (p.flags & 8) w.Cxform(p.mul, p.add, true);
  if (p.flags & 16) w.U16(p.ratio);
  if (p.flags & 32) w.Str(p.name);
  if (p.flags & 64) w.U16(p.clipDepth);
  return Tag(26, w.bytes());
}

Bytes PlaceNamed(uint16_t id, uint16_t depth, const std::string& name, int32_t x, int32_t y) {
  Place2 p;
  p.flags = 2 | 4 | (name.empty() ? 0 : 32);
  p.id = id;
  p.depth = depth;
  p.tx = x;
  p.ty = y;
  p.name = name;
  return PlaceWithFlags(p);
}

Bytes MoveTo(uint16_t depth, int32_t x, int32_t y) {
  Place2 p;
  p.flags = 4 | 1;
  p.depth = depth;
  p.tx = x;
  p.ty = y;
  return PlaceWithFlags(p);
}

Bytes Remove(uint16_t id, uint16_t depth) { return Tag(5, Writer().U16(id).U16(depth).bytes()); }
Bytes RemoveDepth(uint16_t depth) { return Tag(28, Writer().U16(depth).bytes()); }
Bytes FrameLabel(const std::string& label) { return Tag(43, Writer().Str(label).bytes()); }
Bytes Actions(const Bytes& list) { return Tag(12, list); }

Bytes SolidShape(uint32_t code, uint16_t id, uint8_t r, uint8_t g, uint8_t b, bool leadingByte) {
  const bool alpha = code == 32 || code == 523;
  Writer w;
  if (leadingByte) w.U8(0x5A);
  w.U16(id).Rect(0, 200, 0, 200);
  w.U8(1).U8(0).U8(r).U8(g).U8(b);  // one solid fill
  if (alpha) w.U8(255);
  w.U8(1).U16(20).U8(0).U8(0).U8(0);  // one line style
  if (alpha) w.U8(255);
  w.Bits(1, 4).Bits(1, 4);
  // Shape records: a style change selecting fill 1, a straight edge, the end record.
  w.Bits(0, 1).Bits(0x02, 5).Bits(1, 1).Align();
  w.U8(0);
  return Tag(code, w.bytes());
}

Bytes GradientShape(uint16_t id, uint32_t records) {
  Writer w;
  w.U16(id).Rect(0, 200, 0, 200);
  w.U8(1).U8(0x10).Matrix(0, 0, 2 << 16, 2 << 16).U8(records);
  for (uint32_t i = 0; i < records; ++i) w.U8(i * 16).U8(i).U8(2 * i).U8(3 * i);
  w.U8(0);
  w.Bits(1, 4).Bits(0, 4).Align().U8(0);
  return Tag(2, w.bytes());
}

Bytes Sound(uint16_t id, uint8_t type, uint8_t format, uint32_t samples, const Bytes& data) {
  return Tag(514, Writer().U16(id).U8(type).U8(format).U32(samples).Raw(data).bytes());
}

Bytes StartSound(uint16_t id, uint8_t flags, uint16_t loops, uint8_t envelopePoints) {
  Writer w;
  w.U16(id).U8(flags);
  if (flags & 1) w.U32(100);
  if (flags & 2) w.U32(200);
  if (flags & 4) w.U16(loops);
  if (flags & 8) {
    w.U8(envelopePoints);
    for (uint8_t i = 0; i < envelopePoints; ++i) w.U32(i).U16(1).U16(2);
  }
  return Tag(15, w.bytes());
}

Bytes Button(uint16_t id, uint16_t charId, const Bytes& actions) {
  Writer w;
  w.U16(id);
  w.U8(1 | 8).U16(charId).U16(1).Matrix(0, 0);
  w.U8(2 | 4).U16(charId).U16(2).Matrix(100, 100);
  w.U8(0).Raw(actions);
  return Tag(7, w.bytes());
}

Bytes ButtonWithConditions(uint16_t id, bool menu, uint16_t charId,
                           const std::vector<std::pair<uint16_t, Bytes>>& conditions) {
  Writer records;
  records.U8(1).U16(charId).U16(1).Matrix(0, 0).Cxform({256, 256, 256, 128}, {}, true);
  records.U8(0);
  Writer w;
  w.U16(id).U8(menu ? 1 : 0);
  w.U16(conditions.empty() ? 0 : static_cast<uint32_t>(2 + records.bytes().size()));
  w.Raw(records.bytes());
  for (size_t i = 0; i < conditions.size(); ++i) {
    const Bytes& list = conditions[i].second;
    const uint32_t next = i + 1 < conditions.size() ? static_cast<uint32_t>(4 + list.size()) : 0;
    w.U16(next).U16(conditions[i].first).Raw(list);
  }
  return Tag(34, w.bytes());
}

Bytes ButtonCxform(uint16_t id, const std::vector<int32_t>& mul) {
  return Tag(23, Writer().U16(id).Cxform(mul, {}, false).bytes());
}

Bytes EditTextTag(const EditText& e) {
  Writer w;
  w.U16(e.id).Rect(e.xmin, e.xmax, e.ymin, e.ymax).U16(e.flags);
  if (e.id > 6000) {
    w.U16(e.fontId).U16(e.height).U8(e.a).U8(e.r).U8(e.g).U8(e.b).U8(1).U16(0).U16(0);
    w.U16(e.first).U16(e.last).U8(e.options[0]).U8(e.options[1]).U8(e.options[2]).U8(e.options[3]);
    w.Str(e.variable).Str(e.text);
  } else {
    if (e.flags & 0x0001) w.U16(e.fontId).U16(e.height);
    if (e.flags & 0x0004) w.U8(e.r).U8(e.g).U8(e.b).U8(e.a);
    if (e.flags & 0x0002) w.U16(e.maxLength);
    if (e.flags & 0x2000) w.U8(2).U16(10).U16(20).U16(30).U16(40);
    w.Str(e.variable);
    if (e.flags & 0x0080) w.Str(e.text);
  }
  return Tag(37, w.bytes());
}

Bytes Sprite(uint16_t id, uint16_t frames, const Bytes& tags) {
  return Tag(39, Writer().U16(id).U16(frames).Raw(tags).bytes());
}
Bytes Bitmap(uint16_t id, const Bytes& coded) { return Tag(513, Writer().U16(id).Raw(coded).bytes()); }
Bytes Font(uint32_t code, uint16_t id, const std::vector<Bytes>& glyphs) {
  Writer w;
  if (code >= 524) w.U8(0x11);
  w.U16(id);
  uint32_t offset = static_cast<uint32_t>(2 * glyphs.size());
  for (const Bytes& g : glyphs) {
    w.U16(offset);
    offset += static_cast<uint32_t>(g.size());
  }
  for (const Bytes& g : glyphs) w.Raw(g);
  return Tag(code, w.bytes());
}

Bytes FontWithLayout(uint32_t code, uint16_t id, uint8_t flags, const std::string& name,
                     const std::vector<Bytes>& glyphs, const std::vector<uint16_t>& codes) {
  Writer w;
  if (code >= 524) w.U8(0x22);
  const bool wideOffsets = flags & 8, wideCodes = flags & 4;
  w.U16(id).U8(flags).U8(1).U8(static_cast<uint32_t>(name.size())).Raw(Bytes(name.begin(), name.end()));
  w.U16(static_cast<uint32_t>(glyphs.size()));
  const uint32_t width = wideOffsets ? 4 : 2;
  uint32_t offset = static_cast<uint32_t>(width * (glyphs.size() + 1));
  for (size_t i = 0; i <= glyphs.size(); ++i) {
    if (wideOffsets) w.U32(offset);
    else w.U16(offset);
    if (i < glyphs.size()) offset += static_cast<uint32_t>(glyphs[i].size());
  }
  for (const Bytes& g : glyphs) w.Raw(g);
  for (uint16_t c : codes) {
    if (wideCodes) w.U16(c);
    else w.U8(c);
  }
  if (flags & 128) {
    w.U16(800).U16(200).U16(50);
    for (size_t i = 0; i < glyphs.size(); ++i) w.U16(500);
    for (size_t i = 0; i < glyphs.size(); ++i) w.Rect(0, 400, -600, 100);
    w.U16(1);
    if (wideCodes) w.U16('A').U16('V');
    else w.U8('A').U8('V');
    w.U16(static_cast<uint16_t>(-40));
  }
  return Tag(code, w.bytes());
}
Bytes Text(uint32_t code, uint16_t id, const Bytes& records) {
  return Tag(code, Writer().U16(id).Rect(0, 100, 0, 100).Matrix(20, 40).U8(8).U8(8).Raw(records).bytes());
}
Bytes Morph(uint16_t id, const Bytes& startEdges, const Bytes& endEdges) {
  Writer styles;
  styles.U8(3);
  styles.U8(0x00).U8(1).U8(2).U8(3).U8(4).U8(5).U8(6).U8(7).U8(8);
  styles.U8(0x12).Matrix(1, 2).Matrix(3, 4).U8(2);
  styles.U8(0).U8(10).U8(11).U8(12).U8(13).U8(255).U8(20).U8(21).U8(22).U8(23);
  styles.U8(128).U8(30).U8(31).U8(32).U8(33).U8(64).U8(40).U8(41).U8(42).U8(43);
  styles.U8(0x41).U16(9).Matrix(5, 6).Matrix(7, 8);
  styles.U8(1).U16(20).U16(40).U8(1).U8(1).U8(1).U8(1).U8(2).U8(2).U8(2).U8(2);
  styles.Raw(startEdges);
  const uint32_t offset = static_cast<uint32_t>(styles.bytes().size());
  return Tag(46, Writer().U16(id).Rect(0, 10, 0, 10).Rect(0, 20, 0, 20).U32(offset).Raw(styles.bytes())
                     .Raw(endEdges).bytes());
}
Bytes FontInfo(uint16_t id, const std::string& name, const Bytes& codes) {
  Writer w;
  w.U16(id).U8(static_cast<uint32_t>(name.size())).Raw(Bytes(name.begin(), name.end())).U8(0).Raw(codes);
  return Tag(13, w.bytes());
}
Bytes Caption(uint32_t code, uint16_t idOrValue) {
  return Tag(code, code == 563 ? Bytes{} : Writer().U16(idOrValue).bytes());
}

Bytes Action(uint8_t code) { return {code}; }
Bytes Action(uint8_t code, const Bytes& payload) {
  return Writer().U8(code).U16(static_cast<uint32_t>(payload.size())).Raw(payload).bytes();
}
Bytes GotoFrame(uint16_t frame) { return Action(129, Writer().U16(frame).bytes()); }
Bytes GetUrl(const std::string& url, const std::string& target) {
  return Action(131, Writer().Str(url).Str(target).bytes());
}
Bytes PushFloat(float v) { return Action(150, Writer().U8(1).F32(v).bytes()); }
Bytes PushText(const std::string& s) { return Action(150, Writer().U8(0).Str(s).bytes()); }
Bytes Jump(uint8_t code, int16_t offset) { return Action(code, Writer().U16(static_cast<uint16_t>(offset)).bytes()); }
Bytes EndActions() { return {0}; }

Bytes BoxShape(uint16_t id, const Solid& color, int32_t x, int32_t y, int32_t w, int32_t h) {
  Records r(1, 0);
  r.Change(-1, 1, -1, true, x, y).Box(w, h);
  return ShapeTag(2, id, {color}, {}, 1, 0, r.End(), x, x + w, y, y + h);
}

Bytes SolidMorph(uint16_t id, const Solid& color, const Bytes& startEdges, const Bytes& endEdges) {
  Writer styles;
  styles.U8(1).U8(0).U8(color.r).U8(color.g).U8(color.b).U8(color.a).U8(color.r).U8(color.g).U8(color.b).U8(color.a);
  styles.U8(0).Raw(startEdges);
  const uint32_t offset = static_cast<uint32_t>(styles.bytes().size());
  return Tag(46, Writer().U16(id).Rect(0, 2000, 0, 2000).Rect(0, 2000, 0, 2000).U32(offset).Raw(styles.bytes())
                     .Raw(endEdges).bytes());
}

}  // namespace movie
