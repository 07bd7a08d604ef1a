#include "movie_script.h"

#include "player/anim_value.h"

namespace movie::script {

Bytes Push(const std::string& s) { return PushText(s); }
Bytes Op(uint8_t code) { return Action(code); }
Bytes Set(const std::string& name, const Bytes& expression) { return Concat({Push(name), expression, Op(0x1D)}); }
Bytes Do(const Bytes& list) { return Actions(Concat({list, EndActions()})); }

Bytes Mark(const std::string& mark) {
  return Do(Set("trace", Concat({Push("trace"), Op(0x1C), Push(mark), Op(0x21)})));
}

Bytes Box(uint16_t id, Solid c, int32_t size) { return BoxShape(id, c, 0, 0, size, size); }

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

Bytes MovieOf(const Bytes& definitions, const std::vector<Bytes>& frames, int32_t w, int32_t h) {
  std::vector<Bytes> tags{definitions};
  for (const Bytes& f : frames) tags.push_back(Concat({f, ShowFrame()}));
  tags.push_back(End());
  Header header;
  header.xmax = w * 20;
  header.ymax = h * 20;
  header.frames = static_cast<uint16_t>(frames.size());
  return Qvx(header, Concat(tags));
}

std::string MoviePlayer::Var(const std::string& name) {
  char* t = AnimVar_Get(get(), name.c_str());
  std::string out = t ? t : "";
  AnimStr_Free(get(), t);
  return out;
}

uint32_t MoviePlayer::Step() {
  const uint32_t result = AnimHost_Step(get());
  ExpectCachedRedrawsMatch(get());
  return result;
}

void MoviePlayer::Key(uint32_t key) {
  AnimPlayer_Command(get(), 4, key);
  ExpectCachedRedrawsMatch(get());
}

}  // namespace movie::script
