#include "loop_movies.h"

#include <string>
#include <vector>

namespace movie {

namespace {

Bytes Op(uint8_t code) { return Action(code); }
Bytes Push(const std::string& s) { return PushText(s); }
Bytes Pop() { return Op(0x17); }

}  // namespace

namespace {

Bytes Looping(const Bytes& more, const Bytes& after) {
  const Bytes body = Concat({more, Push("/:n"), Push("/:n"), Op(0x1C), Push("1"), Op(0x0A), Op(0x1D), after});
  const Bytes loop = Actions(Concat({body, Jump(0x99, static_cast<int16_t>(-(static_cast<int>(body.size()) + 5))), EndActions()}));
  return Concat({Sprite(60, 1, Concat({loop, ShowFrame(), End()})), PlaceNamed(60, 1, "r")});
}

Header Stage(uint16_t frames) {
  Header header;
  header.xmax = 176 * 20;
  header.ymax = 208 * 20;
  header.frames = frames;
  return header;
}

}  // namespace

Bytes LoopForEver(const Bytes& more, const Bytes& after) {
  return Qvx(Stage(1), Concat({Looping(more, after), ShowFrame(), End()}));
}

Bytes LoopAmongNames(const Bytes& more, uint32_t count, uint32_t length, bool labels) {
  std::vector<Bytes> tags{Sprite(61, 1, Concat({ShowFrame(), End()})), Looping(more, {})};
  for (uint32_t i = 0; i < count; ++i) {
    const std::string name = std::string(length, 'a') + std::to_string(i);
    if (labels) {
      tags.push_back(FrameLabel(name));
      tags.push_back(ShowFrame());
    } else {
      tags.push_back(PlaceNamed(61, static_cast<uint16_t>(i + 2), name));
    }
  }
  tags.push_back(PlaceNamed(61, static_cast<uint16_t>(count + 2), "q"));
  tags.push_back(ShowFrame());
  tags.push_back(End());
  return Qvx(Stage(static_cast<uint16_t>(labels ? count + 1 : 1)), Concat(tags));
}

std::string Digits(uint32_t n) {
  std::string s(n, '0');
  if (n) s[0] = '1';
  return s;
}

namespace {

struct Kind {
  const char* name;
  Bytes (*round)(const std::string& text, const std::string& digits);
  int actions;  // in `round`
};

const Kind kKinds[kLoopKinds] = {
    {"count", [](const std::string&, const std::string&) { return Bytes{}; }, 0},
    {"push_pop", [](const std::string& t, const std::string&) { return Concat({Push(t), Pop()}); }, 2},
    {"not", [](const std::string&, const std::string& d) { return Concat({Push(d), Op(0x12), Pop()}); }, 3},
    {"add", [](const std::string&, const std::string& d) { return Concat({Push(d), Push(d), Op(0x0A), Pop()}); }, 4},
    {"less", [](const std::string&, const std::string& d) { return Concat({Push(d), Push(d), Op(0x0F), Pop()}); }, 4},
    {"to_integer", [](const std::string&, const std::string& d) { return Concat({Push(d), Op(0x18), Pop()}); }, 3},
    {"if", [](const std::string&, const std::string& d) { return Concat({Push(d), Jump(0x9D, 0)}); }, 2},
    {"string_equals", [](const std::string& t, const std::string&) { return Concat({Push(t), Push(t), Op(0x13), Pop()}); }, 4},
    {"string_less", [](const std::string& t, const std::string&) { return Concat({Push(t), Push(t), Op(0x29), Pop()}); }, 4},
    {"string_add", [](const std::string& t, const std::string&) { return Concat({Push(t), Push(t), Op(0x21), Pop()}); }, 4},
    {"string_length", [](const std::string& t, const std::string&) { return Concat({Push(t), Op(0x14), Pop()}); }, 3},
    {"string_extract",
     [](const std::string& t, const std::string&) { return Concat({Push(t), Push("1"), Push(std::to_string(t.size())), Op(0x15), Pop()}); }, 5},
    {"char_to_ascii", [](const std::string& t, const std::string&) { return Concat({Push(t), Op(0x32), Pop()}); }, 3},
    {"set_variable", [](const std::string& t, const std::string&) { return Concat({Push("/:t"), Push(t), Op(0x1D)}); }, 3},
    {"get_variable",
     [](const std::string& t, const std::string&) { return Concat({Push("/:t"), Push(t), Op(0x1D), Push("/:t"), Op(0x1C), Pop()}); }, 6},
    {"long_name", [](const std::string& t, const std::string&) { return Concat({Push(t), Push("1"), Op(0x1D)}); }, 3},
    {"set_target", [](const std::string& t, const std::string&) { return Concat({Push(t), Op(0x20), Push(""), Op(0x20)}); }, 4},
};

}  // namespace

const char* LoopKindName(int kind) { return kKinds[kind].name; }
int LoopKindActions(int kind) { return kKinds[kind].actions + 7; }

Bytes LoopOfKind(int kind, uint32_t length) {
  std::string text(length, 'x');
  return LoopForEver(kKinds[kind].round(text, Digits(length)));
}

Bytes CountTo(uint32_t rounds, uint16_t sprites) {
  const Bytes add = Concat({Push("n"), Push("n"), Op(0x1C), Push("1"), Op(0x0A), Op(0x1D)});
  const Bytes round = Concat({add, Push("n"), Op(0x1C), Push(std::to_string(rounds)), Op(0x0F)});
  const Bytes done = Concat({Push("/:done"), Push("/:done"), Op(0x1C), Push("1"), Op(0x0A), Op(0x1D)});
  const Bytes list = Actions(Concat(
      {Push("n"), Push("0"), Op(0x1D), round, Jump(0x9D, static_cast<int16_t>(-(static_cast<int>(round.size()) + 5))), done,
       EndActions()}));
  Header header;
  header.xmax = 176 * 20;
  header.ymax = 208 * 20;
  header.frames = 1;
  Bytes places;
  for (uint16_t i = 0; i < sprites; ++i)
    places = Concat({places, PlaceNamed(60, static_cast<uint16_t>(i + 1), "r" + std::to_string(i))});
  return Qvx(header, Concat({Sprite(60, 1, Concat({list, ShowFrame(), End()})), places, ShowFrame(), End()}));
}

}  // namespace movie
