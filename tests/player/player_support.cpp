#include "player_support.h"

#include <algorithm>
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

void ExpectCachedRedrawsMatch(AnimPlayer* p) {
  AnimMovie* m = p->movie;
  if (!m || !m->raster.ready || !p->frameBuffer || AnimPlayer_Aborted(p)) return;
  AnimRaster& r = m->raster;
  const size_t n = static_cast<size_t>(r.rowPitch / 2) * static_cast<size_t>(r.height);
  const std::vector<uint16_t> saved(p->frameBuffer, p->frameBuffer + n);
  const int32_t rect[4] = {m->redrawLeft, m->redrawTop, m->redrawRight, m->redrawBottom};
  const uint32_t fullRedraw = m->fullRedraw;
  // Every redraw starts from the frame as it stood: before a background
  // colour is set clearing leaves the frame alone, so a translucent object
  // would otherwise build up over the redraws below.
  auto whole = [&](uint32_t mode) {
    r.cacheMode = mode;
    std::copy(saved.begin(), saved.end(), p->frameBuffer);
    AnimMovie_InvalidateAll(m);
    return std::vector<uint16_t>(p->frameBuffer, p->frameBuffer + n);
  };
  const std::vector<uint16_t> plain = whole(1);
  for (uint32_t mode : {0u, 2u}) {
    EXPECT_TRUE(whole(mode) == plain) << "filling the caches, mode " << mode;
    EXPECT_TRUE(whole(mode) == plain) << "replaying the caches, mode " << mode;
    AnimRaster_ResetPool(&r);
    EXPECT_TRUE(whole(mode) == plain) << "after the pool was emptied, mode " << mode;
  }
  r.cacheMode = 0;
  std::copy(saved.begin(), saved.end(), p->frameBuffer);
  m->redrawLeft = rect[0];
  m->redrawTop = rect[1];
  m->redrawRight = rect[2];
  m->redrawBottom = rect[3];
  m->fullRedraw = fullRedraw;
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
