// Action lists as a movie carries them: the bytes are the list of a frame,
// of a sprite's frame and of a button's transitions in a small movie that
// is played, keyed and pointed at. Whatever the list does, the run ends
// (loops, calls and nesting are capped), the heap's invariants hold, and
// closing the movie leaves nothing behind.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "player/anim_player.h"
#include "tests/player/movie_writer.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

movie::Bytes MovieAround(const movie::Bytes& list) {
  using namespace movie;
  const Bytes actions = Actions(Concat({list, EndActions()}));
  const Bytes sprite = Sprite(5, 2, Concat({Place(1, 1, 0, 0), actions, ShowFrame(), ShowFrame(), End()}));
  const Bytes button = ButtonWithConditions(10, false, 1, {{1, list}, {4, list}, {0x6000, list}});
  Place2 named;
  named.flags = 2 | 4 | 32;
  named.id = 5;
  named.depth = 2;
  named.name = "a";
  Header h;
  h.frames = 3;
  return Qvx(h, Concat({BoxShape(1, {248, 0, 0}, 0, 0, 400, 400), sprite, button, PlaceWithFlags(named),
                        Place(10, 3, 600, 600), actions, ShowFrame(), actions, ShowFrame(), ShowFrame(), End()}));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4000) return 0;
  static std::vector<uint8_t> work(256000);
  static std::vector<uint16_t> frame(176 * 208);
  static auto player = std::make_unique<AnimPlayer>();
  const movie::Bytes body = MovieAround(movie::Bytes(data, data + size));
  AnimPlayer* p = player.get();
  AnimPlayer_Init(p);
  const int32_t w = 176, h = 208;
  const uint32_t opened =
      AnimHost_Open(p, body.data(), frame.data(), work.data(), static_cast<uint32_t>(body.size()), &w, &h);
  // One step (a frame, a key press, a pointer move) may take the whole of
  // a step's work with heap work in each action, so an input gets few of
  // them: two frames with the four keys and the pointer between them,
  // seven steps in all. The keys keep their order: it decides which states are reached.
  static constexpr uint32_t kKeys[] = {13, 16, 15, 24};
  if (opened == 0) {
    AnimHost_Step(p);
    for (uint32_t key : kKeys) AnimPlayer_Command(p, 4, key);
    AnimPlayer_Command(p, 104, (30u << 16) | 30u);
    AnimHost_Step(p);
  }
  // The heap is walked once the runs are over: a fault inside them still
  // leaves its traces, at a fraction of the cost of a walk after each run.
  Check(AnimHeap_Check(&p->heap) == nullptr);
  AnimHost_Close(p);
  Check(p->movie == nullptr);
  Check(AnimHeap_Check(&p->heap) == nullptr);
  return 0;
}
