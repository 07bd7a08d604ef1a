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

Bytes MoveBackground() { return Do(Concat({Push("/Background"), Push("0"), Push("0"), Op(0x23)})); }

Bytes SharedClipTree(int levels, int copies) {
  const Bytes count = Do(Set("/:n", Concat({Push("/:n"), Op(0x1C), Push("1"), Op(0x0A)})));
  Bytes defs = Concat({movie::Background(255, 255, 255), Box(99, {248, 0, 0}, 40),
                       movie::Sprite(100, 1, Concat({movie::Place(99, 1, 0, 0), count, movie::ShowFrame(), movie::End()}))});
  for (int k = 1; k <= levels; ++k) {
    const auto below = static_cast<uint16_t>(100 + k - 1);
    Bytes places;
    for (int c = 0; c < copies; ++c)
      places = Concat({places, PlaceNamed(below, static_cast<uint16_t>(c + 1), "s", 20 * c, 20 * c)});
    defs = Concat({defs, movie::Sprite(static_cast<uint16_t>(100 + k), 1, Concat({places, movie::ShowFrame(), movie::End()}))});
  }
  const Bytes moveTop = Do(Concat({Push("/top"), Push("0"), Push("30"), Op(0x23)}));  // _x = 30
  return MovieOf(defs, {PlaceNamed(static_cast<uint16_t>(100 + levels), 1, "top", 200, 200), moveTop, {}});
}

Bytes FillLessOutline(uint16_t id, uint32_t edges, Solid c, int32_t w, int32_t h) {
  Records r(1, 0);
  // The outline first, with no fill and no line selected: a zigzag of
  // short edges across the bounds.
  r.Change(0, 0, -1, true, 0, 0);
  for (uint32_t i = 0; i < edges; ++i) r.To(i % 2 ? 3 : -3, 2);
  r.Change(-1, 1, -1, true, 0, 0).Box(40, 40);
  return ShapeTag(2, id, {c}, {}, 1, 0, r.End(), 0, 20 * w, 0, 20 * h);
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

const std::vector<uint32_t> kViewChanges{0, 0, 18, 0, 22, 0, 0, 21, 0, 19, 0, 23, 0, 0, 20, 0, 6, 0, 7, 0,
                                          0, 18, 0, 23, 0, 22, 0, 8, 0, 0, 7, 0, 19, 0, 0, 8, 0, 20, 0};

Bytes OverAndAcross(const Bytes& definitions, uint16_t id) {
  constexpr uint16_t kCrossing = 900;
  std::vector<Bytes> frames{Concat({Background(255, 255, 255), definitions, BoxShape(kCrossing, {0, 0, 248}, 0, 0, 150, 150),
                                    Place(id, 1, 700, 700), Place(id, 3, 300, 300), Place(kCrossing, 2, 1500, 600)})};
  for (int i = 1; i < 30; ++i)
    frames.push_back(Concat({MoveTo(3, 300 + 67 * i, 300 + 53 * i), MoveTo(2, 1500 - 71 * i, 600 + 37 * i)}));
  return MovieOf({}, frames);
}

OnStage::OnStage(const Bytes& data, int32_t w, int32_t h) : MoviePlayer(data) {
  frame.assign(static_cast<size_t>(w) * h, 0);
  opened = AnimHost_Open(get(), bytes.data(), frame.data(), work.data(), static_cast<uint32_t>(bytes.size()), &w, &h);
}

OnStage::~OnStage() { AnimHost_Close(get()); }

void PlayChecked(const Bytes& data, const std::vector<uint32_t>& script) {
  OnStage p(data);
  ASSERT_EQ(p.opened, 0u);
  for (size_t i = 0; i < script.size(); ++i) {
    SCOPED_TRACE("after " + std::to_string(i) + (script[i] ? " a key" : " a step"));
    if (script[i]) p.Key(script[i]);
    else p.Step();
  }
}

}  // namespace movie::script
