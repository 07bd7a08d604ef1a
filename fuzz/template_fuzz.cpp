// Template jobs over arbitrary template text and a fake source table whose
// answers come at once, from inside the call or held back and delivered
// between pieces. The first input byte chooses how the sources answer and
// whether their values are UTF-16, the second where the text is cut. The text
// filled whole with sources answering at once must give exactly the output of
// the cut text with the chosen answers, and the heap must come back whole.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "markup/varparse.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

enum Answer : uint8_t { kAtOnce, kInside, kLater };

struct Mode {
  Answer answer;
  bool utf16;
};

// Held-back answers: a single value (cell null), a property value, a loop
// step (value null) or a loop end.
struct Held {
  void* cell;
  void* value;
  bool done;
};

std::vector<Held> gHeld;
Mode gMode;

// Loops nest at most this deep with items, so that the output stays well
// inside the heap: what runs out of memory loses output, and then the two
// fills could differ.
constexpr uint32_t kDeepest = 2;
uint32_t gDepth = 0;

struct FakeLoop {
  uint32_t count;  // items: the name's length modulo 4, none when nested too deep
  uint32_t index;
  char16_t wide[40];
  char text[40];
};

void Reply(void* cell, void* value, bool done, uint32_t* pending) {
  *pending = 1;
  if (gMode.answer == kLater) {
    gHeld.push_back({cell, value, done});
  } else if (done) {
    VarParseSourceDone(cell);
  } else {
    VarParseValueReady(cell, value);
  }
}

// The value of a name: the name itself, in the chosen encoding.
void* NewValue(const char* name) {
  const uint32_t n = LibcStrLen(name);
  if (!gMode.utf16) {
    auto* v = static_cast<char*>(MemAlloc(n + 1, Use::String, Mod::TestCode));
    if (v) LibcMemCopy(v, name, n + 1);
    return v;
  }
  auto* w = static_cast<char16_t*>(MemAlloc((n + 1) * 2, Use::String, Mod::TestCode));
  if (w) {
    for (uint32_t i = 0; i <= n; ++i) w[i] = static_cast<uint8_t>(name[i]);
  }
  return w;
}

void* Step(FakeLoop* loop, uint32_t* pending) {
  const bool has = loop->index < loop->count;
  if (gMode.answer == kAtOnce) return has ? loop : nullptr;
  Reply(loop, nullptr, !has, pending);
  return nullptr;
}

void* Open(const char* name, void** holder, VarParseJob*, uint32_t* charset, uint32_t* pending) {
  if (gMode.utf16) *charset = Mib::Utf16Native;
  if (!holder) {
    void* v = NewValue(name);
    if (gMode.answer == kAtOnce) return v;
    Reply(nullptr, v, false, pending);
    return nullptr;
  }
  auto* loop = static_cast<FakeLoop*>(MemAllocZero(sizeof(FakeLoop), Use::Context, Mod::TestCode));
  if (!loop) return nullptr;
  loop->count = gDepth < kDeepest ? LibcStrLen(name) % 4 : 0;
  ++gDepth;
  *holder = loop;
  return Step(loop, pending);
}

void* Next(void* state, uint32_t* pending) {
  auto* loop = static_cast<FakeLoop*>(state);
  ++loop->index;
  return Step(loop, pending);
}

void Close(void* state) {
  auto* loop = static_cast<FakeLoop*>(state);
  --gDepth;
  MemFree(&loop);
}

// The property's value: its name and the item number, kept in the loop.
void* Property(void* state, const char* name, uint32_t* pending) {
  auto* loop = static_cast<FakeLoop*>(state);
  uint32_t n = 0;
  for (; name[n] && n < 30; ++n) loop->text[n] = name[n];
  loop->text[n++] = static_cast<char>('0' + loop->index % 10);
  loop->text[n] = 0;
  for (uint32_t i = 0; i <= n; ++i) loop->wide[i] = static_cast<uint8_t>(loop->text[i]);
  void* v = gMode.utf16 ? static_cast<void*>(loop->wide) : static_cast<void*>(loop->text);
  if (gMode.answer == kAtOnce) return v;
  Reply(loop, v, false, pending);
  return nullptr;
}

const VarParseSource kSources[] = {
    {"s", Open, Next, Close, Property},
    {"x", Open, Next, Close, Property},
    {"none", nullptr, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

void DeliverAll() {
  while (!gHeld.empty()) {
    Held h = gHeld.front();
    gHeld.erase(gHeld.begin());
    if (h.done)
      VarParseSourceDone(h.cell);
    else
      VarParseValueReady(h.cell, h.value);
  }
}

void Feed(VarParseJob* job, const uint8_t* bytes, size_t n) {
  if (n == 0) return;
  UtilDataChunk* block = UtilDataChunkNew(bytes, static_cast<uint32_t>(n), Mod::TestCode);
  Check(block != nullptr);
  VarParseFeed(job, block);
  DeliverAll();
}

std::string Fill(const uint8_t* text, size_t size, size_t cut, Mode mode) {
  gMode = mode;
  VarParseJob* job = nullptr;
  Check(VarParseCreate(&job, 0, nullptr) == kOk);
  Queue sink{};
  VarParseSetSink(job, &sink);
  VarParseSetSources(job, kSources);
  Feed(job, text, cut);
  Feed(job, text + cut, size - cut);
  Check(VarParseIsDrained(job));
  VarParseClose(&job);
  std::string out(UtilDataChunkQueueBytes(&sink), '\0');
  UtilDataChunkTake(&sink, reinterpret_cast<uint8_t*>(out.data()),
                    static_cast<uint32_t>(out.size()));
  Check(sink.head == nullptr);
  Check(gDepth == 0);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 8192) return 0;
  static std::vector<uint64_t> arena(1u << 17);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  const Mode mode{static_cast<Answer>(data[0] % 3), (data[0] & 4) != 0};
  const uint8_t* text = data + 2;
  const size_t length = size - 2;
  const size_t cut = length ? data[1] * length / 255 : 0;

  const std::string whole = Fill(text, length, 0, {kAtOnce, mode.utf16});
  const std::string pieces = Fill(text, length, cut, mode);
  Check(whole == pieces);
  Check(whole.size() % 2 == 0);
  Check(HeapValidate() == nullptr);
  const HeapStats stats = HeapGetStats();
  Check(stats.freeBytes == stats.arenaBytes);
  return 0;
}
