#include "player_support.h"

#include <algorithm>
#include <functional>
#include <cstdio>

TestPlayer::TestPlayer() : player(std::make_unique<AnimPlayer>()), work(256000), frame(176 * 208) {
  AnimPlayer_Init(player.get());
  player->workBuffer = work.data();
  player->frameBuffer = frame.data();
  AnimHeap_Reset(&player->heap, work.data());
}

TestPlayer::~TestPlayer() {
  // Every test leaves a heap whose blocks all check out.
  const char* fault = AnimHeap_Check(&player->heap);
  EXPECT_EQ(fault, nullptr) << fault;
}

namespace {

// Everything a player holds lives in its context, its heap over the work
// buffer and its frame buffer: copied back byte for byte, a redraw made for
// a check leaves no trace (caches, pool, kept picture, flags) in what the
// movie carries into its next step.
class Snapshot {
 public:
  explicit Snapshot(AnimPlayer* p)
      : p_(p), context_(*p), from_(p->workBuffer), heap_(from_, p->heap.base + p->heap.end),
        frame_(p->frameBuffer, p->frameBuffer + Pixels(p)) {}
  ~Snapshot() {
    std::copy(heap_.begin(), heap_.end(), from_);
    std::copy(frame_.begin(), frame_.end(), p_->frameBuffer);
    *p_ = context_;
  }
  const std::vector<uint16_t>& frame() const { return frame_; }
  static size_t Pixels(const AnimPlayer* p) {
    const AnimRaster& r = p->movie->raster;
    return static_cast<size_t>(r.rowPitch / 2) * static_cast<size_t>(r.height);
  }

 private:
  AnimPlayer* p_;
  AnimPlayer context_;
  uint8_t* from_;
  std::vector<uint8_t> heap_;
  std::vector<uint16_t> frame_;
};

// A whole redraw of the movie as it stands, starting from the frame shown.
std::vector<uint16_t> WholeRedraw(AnimPlayer* p, uint32_t cacheMode) {
  AnimMovie* m = p->movie;
  m->raster.cacheMode = cacheMode;
  AnimMovie_InvalidateAll(m);
  return std::vector<uint16_t>(p->frameBuffer, p->frameBuffer + Snapshot::Pixels(p));
}


// Before a background colour or picture clearing leaves the frame as it
// was, so the frame shown holds every earlier frame's pixels too and only
// redraws from the same start can be compared. Answers the whole redraw.
std::vector<uint16_t> CheckShown(AnimPlayer* p) {
  AnimMovie* m = p->movie;
  const int32_t width = m->raster.rowPitch / 2;
  const std::vector<uint16_t> shown(p->frameBuffer, p->frameBuffer + Snapshot::Pixels(p));
  const bool clears = m->raster.backgroundSet || m->kept;
  std::vector<uint16_t> plain;
  bool whole;
  {
    Snapshot before(p);
    plain = WholeRedraw(p, 1);
    // A heap squeezed by a test may have had room for what the step drew
    // (the objects in the area it redrew, a bitmap already decoded) but not
    // for a whole redraw: there is nothing to compare then.
    whole = !AnimPlayer_Aborted(p);
  }
  if (clears && whole) {
    EXPECT_EQ(FrameDifferences(shown, plain, width), "") << "the frame shown is not a whole redraw";
  }
  return plain;
}

bool Checkable(const AnimPlayer* p) {
  const AnimMovie* m = p->movie;
  return m && m->raster.ready && p->frameBuffer && p->workBuffer && !AnimPlayer_Aborted(p);
}

}  // namespace

std::string FrameDifferences(const std::vector<uint16_t>& shown, const std::vector<uint16_t>& whole, int32_t width) {
  size_t count = 0, first = shown.size();
  for (size_t i = 0; i < shown.size(); ++i)
    if (shown[i] != whole[i]) {
      if (first == shown.size()) first = i;
      ++count;
    }
  if (count == 0) return "";
  char text[160];
  std::snprintf(text, sizeof text, "%zu pixels differ, the first at (%zu, %zu): 0x%04X instead of 0x%04X", count,
                first % static_cast<size_t>(width), first / static_cast<size_t>(width), shown[first], whole[first]);
  return text;
}

void ExpectShownIsWholeRedraw(AnimPlayer* p) {
  if (Checkable(p)) CheckShown(p);
}

void ExpectCachedRedrawsMatch(AnimPlayer* p) {
  // No movie a test plays this way comes near the work a step may do.
  EXPECT_EQ(p->workRanOut, 0u) << "a step ran out of work";
  if (!Checkable(p)) return;
  AnimMovie* m = p->movie;
  const int32_t width = m->raster.rowPitch / 2;
  const std::vector<uint16_t> plain = CheckShown(p);
  for (uint32_t mode : {0u, 2u}) {
    Snapshot before(p);
    // Every redraw starts from the frame as it stood: a translucent object
    // would otherwise build up over the redraws below.
    auto whole = [&] {
      std::copy(before.frame().begin(), before.frame().end(), p->frameBuffer);
      return WholeRedraw(p, mode);
    };
    EXPECT_EQ(FrameDifferences(whole(), plain, width), "") << "filling the caches, mode " << mode;
    EXPECT_EQ(FrameDifferences(whole(), plain, width), "") << "replaying the caches, mode " << mode;
    AnimRaster_ResetPool(&m->raster);
    EXPECT_EQ(FrameDifferences(whole(), plain, width), "") << "after the pool was emptied, mode " << mode;
  }
}

namespace {

std::string Fmt(const char* format, long long a = 0, long long b = 0, long long c = 0, long long d = 0) {
  char buf[256];
  std::snprintf(buf, sizeof buf, format, a, b, c, d);
  return buf;
}

std::string Text(const char* s) { return s ? std::string("\"") + s + "\"" : "null"; }

std::string Matrix(const AnimMatrix& m) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "[%g %g %g %g %d %d]", m.a, m.b, m.c, m.d, m.tx, m.ty);
  return buf;
}

std::string Cx(const AnimCxform& c) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "{%d %d %d %d %d %d %d %d}", c.aMul, c.aAdd, c.rMul, c.rAdd, c.gMul, c.gAdd,
                c.bMul, c.bAdd);
  return buf;
}

std::string Hex(const uint8_t* data, uint32_t size) {
  std::string out;
  for (uint32_t i = 0; i < size; ++i) out += Fmt("%02llx", data[i]);
  return out;
}

std::string Clip(const AnimClip* clip);

// What a character holds that a reader out of step would change: its kind,
// its own bytes, the sizes of its tables, a sprite's frames.
std::string Char(const AnimChar* c) {
  std::string out = Fmt("char %lld type %lld", c->id, c->type);
  switch (c->type) {
    case kAnimShape: {
      const auto* s = static_cast<const AnimShape*>(c->body);
      const AnimRect& b = s->bounds;
      out += Fmt(" (%lld %lld %lld %lld)", b.xmin, b.xmax, b.ymin, b.ymax) +
             Fmt(" fills %lld lines %lld bits %lld/%lld ", s->styles.fillCount, s->styles.lineCount, s->fillBits,
                 s->lineBits) +
             Hex(s->records, s->recordSize);
      break;
    }
    case kAnimMorph: {
      const auto* m = static_cast<const AnimMorph*>(c->body);
      out += Fmt(" fills %lld lines %lld ", m->fillCount, m->lineCount) + Hex(m->startEdges, m->startSize) + "/" +
             Hex(m->endEdges, m->endSize);
      break;
    }
    case kAnimSound: {
      const auto* s = static_cast<const AnimSound*>(c->body);
      out += Fmt(" bit %lld rate %lld ", s->typeBit, s->sampleRate) + Hex(s->data, s->dataSize);
      break;
    }
    case kAnimSprite: out += "\n" + Clip(static_cast<const AnimSprite*>(c->body)->clip); break;
    case kAnimButton: {
      const auto* b = static_cast<const AnimButton*>(c->body);
      for (const AnimButtonRecord* r = b->records; r; r = r->next) out += Fmt(" rec %lld", r->states);
      if (b->actions) out += " " + DumpActions(b->actions);
      if (b->editText) out += " edit " + Text(b->editText->variable) + " " + Text(b->editText->text);
      break;
    }
    default: break;
  }
  return out;
}

std::string Clip(const AnimClip* clip) {
  std::string out = Fmt("clip frames %lld loaded %lld closed %lld\n", clip->frameCount, clip->framesLoaded,
                        clip->framesClosed);
  for (uint32_t i = 0; i <= clip->frameCount; ++i) {
    const AnimFrame& f = clip->frames[i];
    if (!f.label && !f.first) continue;
    out += Fmt("frame %lld ", i) + Text(f.label) + "\n";
    for (const AnimFrameCommand* c = f.first; c; c = c->next) {
      out += Fmt("  cmd %lld depth %lld char %lld ", c->kind, c->depth, c->character ? c->character->id : -1) +
             Text(c->name) + Matrix(c->matrix) + Cx(c->cxform) + DumpActions(c->actions) + "\n";
    }
  }
  return out;
}

}  // namespace

std::string DumpActions(const AnimActionRecord* list) {
  std::string out;
  for (const AnimActionRecord* a = list; a; a = a->next) {
    out += Fmt("[%lld@%lld %lld %lld", a->code, a->offset, a->number1, a->number2) + Fmt(" %lld", a->number3) +
           " " + Text(a->string1) + " " + Text(a->string2);
    if (a->branch) out += Fmt(" ->%lld", a->branch->offset);
    out += "]";
  }
  return out;
}

std::string DumpStream(const AnimStream* s) {
  if (!s) return "none";
  std::string out = Fmt("stream v%lld rate %lld frames %lld error %lld\n", s->version, s->frameRate,
                        s->frameCount, s->errorFlag);
  for (const AnimDictNode* n = s->dictionary; n; n = n->next) out += Char(n->character) + "\n";
  if (s->root) out += Clip(s->root);
  return out;
}

HeapSqueeze::HeapSqueeze(AnimHeap& heap, uint32_t hole) : heap_(heap) {
  constexpr int32_t kPiece = 4096;
  while (void* b = AnimHeap_Malloc(&heap_, kPiece)) blocks_.push_back(b);
  // In the order they lie: a run of pieces given back, one kept after it.
  std::sort(blocks_.begin(), blocks_.end(), std::less<void*>());
  const size_t run = hole / kPiece > 1 ? hole / kPiece - 1 : 1;
  for (size_t i = 0; i < blocks_.size(); ++i)
    if (i % (run + 1) != run) {
      AnimHeap_Free(&heap_, blocks_[i]);
      blocks_[i] = nullptr;
    }
}

void HeapSqueeze::Release() {
  for (void* b : blocks_) AnimHeap_Free(&heap_, b);
  blocks_.clear();
}

HeapLeft::HeapLeft(AnimHeap& heap, int32_t keep) : heap_(heap) {
  int32_t largest = 0;
  for (;;) {
    int32_t lo = 0, hi = static_cast<int32_t>(kAnimHeapArena);
    while (lo < hi) {
      const int32_t mid = lo + (hi - lo + 1) / 2;
      if (void* b = AnimHeap_Malloc(&heap_, mid)) {
        AnimHeap_Free(&heap_, b);
        lo = mid;
      } else {
        hi = mid - 1;
      }
    }
    if (lo < 8) break;
    if (blocks_.empty()) largest = lo;
    blocks_.push_back(AnimHeap_Malloc(&heap_, lo));
  }
  if (blocks_.empty()) return;
  AnimHeap_Free(&heap_, blocks_.front());
  blocks_.front() = largest > keep ? AnimHeap_Malloc(&heap_, largest - keep) : nullptr;
}

HeapLeft::~HeapLeft() {
  for (void* b : blocks_) AnimHeap_Free(&heap_, b);
}
