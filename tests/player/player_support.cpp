#include "player_support.h"

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

std::string Rect(const AnimRect& r) { return Fmt("(%lld %lld %lld %lld)", r.xmin, r.xmax, r.ymin, r.ymax); }

std::string Hex(const uint8_t* data, uint32_t size) {
  std::string out;
  for (uint32_t i = 0; i < size; ++i) out += Fmt("%02llx", data[i]);
  return out;
}

std::string Clip(const AnimClip* clip, int indent);

std::string Char(const AnimChar* c, int indent) {
  std::string out = Fmt("char %lld type %lld", c->id, c->type);
  switch (c->type) {
    case kAnimShape: {
      const auto* s = static_cast<const AnimShape*>(c->body);
      out += " bounds " + Rect(s->bounds) + Fmt(" fills %lld lines %lld bits %lld/%lld", s->styles.fillCount,
                                                s->styles.lineCount, s->fillBits, s->lineBits);
      for (uint32_t i = 0; i < s->styles.fillCount; ++i) {
        const AnimFillStyle& f = s->styles.fills[i];
        out += Fmt(" fill(%lld rgba %lld %lld %lld", f.type, f.r, f.g, f.b) + Fmt(" %lld bitmap %lld n %lld)", f.a,
                                                                                   f.bitmapId, f.count);
        out += Matrix(f.matrix);
      }
      for (uint32_t i = 0; i < s->styles.lineCount; ++i)
        out += Fmt(" line(%lld %lld %lld %lld)", s->styles.lines[i].width, s->styles.lines[i].r,
                   s->styles.lines[i].g, s->styles.lines[i].b);
      out += " records " + Hex(s->records, s->recordSize);
      break;
    }
    case kAnimBitmap: {
      const auto* r = static_cast<const AnimRawChar*>(c->body);
      out += Fmt(" tag %lld", r->tagCode) + " data " + Hex(r->data, r->size);
      break;
    }
    case kAnimMorph: {
      const auto* m = static_cast<const AnimMorph*>(c->body);
      out += " " + Rect(m->bounds) + Rect(m->endBounds) + Fmt(" bits %lld/%lld", m->fillBits, m->lineBits);
      for (uint32_t i = 0; i < m->fillCount; ++i) {
        const AnimMorphFill& f = m->fills[i];
        out += Fmt(" fill(%lld n %lld bitmap %lld ", f.type, f.count, f.bitmapId) + Hex(f.start, 4) + Hex(f.end, 4) +
               Matrix(f.startMatrix) + Matrix(f.endMatrix);
        for (uint32_t k = 0; k < f.count; ++k)
          out += Fmt(" %lld:", f.records[k].startRatio) + Hex(f.records[k].startColor, 4) +
                 Fmt(">%lld:", f.records[k].endRatio) + Hex(f.records[k].endColor, 4);
        out += ")";
      }
      for (uint32_t i = 0; i < m->lineCount; ++i)
        out += Fmt(" line(%lld %lld ", m->lines[i].startWidth, m->lines[i].endWidth) + Hex(m->lines[i].start, 4) +
               Hex(m->lines[i].end, 4) + ")";
      out += " edges " + Hex(m->startEdges, m->startSize) + " / " + Hex(m->endEdges, m->endSize);
      break;
    }
    case kAnimFont: {
      const auto* f = static_cast<const AnimFont*>(c->body);
      out += Fmt(" flags %lld glyphs %lld name ", f->flags, f->glyphCount) + Text(f->name);
      for (uint32_t i = 0; i < f->glyphCount; ++i) {
        out += Fmt(" glyph(%lld %lld ", f->glyphs[i].fillBits, f->glyphs[i].lineBits) +
               Hex(f->glyphs[i].records, f->glyphs[i].size) + ")";
        if (f->codes) out += Fmt("code %lld", f->codes[i]);
      }
      break;
    }
    case kAnimText: {
      const auto* t = static_cast<const AnimText*>(c->body);
      out += " " + Rect(t->bounds) + Matrix(t->matrix) + Fmt(" bits %lld %lld", t->glyphBits, t->advanceBits);
      for (const AnimTextRecord* r = t->records; r; r = r->next) {
        out += Fmt(" rec(flags %lld font %lld rgba %lld %lld", r->flags, r->fontId, r->r, r->g) +
               Fmt(" %lld %lld x %lld y %lld", r->b, r->a, r->x, r->y) + Fmt(" h %lld:", r->height);
        for (uint32_t i = 0; i < r->glyphCount; ++i) out += Fmt(" %lld/%lld", r->glyphs[i].index, r->glyphs[i].advance);
        out += ")";
      }
      break;
    }
    case kAnimSound: {
      const auto* s = static_cast<const AnimSound*>(c->body);
      out += Fmt(" bit %lld streamed %lld class %lld stereo %lld", s->typeBit, s->streamed, s->codecClass,
                 s->stereo) +
             Fmt(" bps %lld rate %lld samples %lld size %lld", s->bytesPerSample, s->sampleRate, s->sampleCount,
                 s->dataSize) +
             " " + Hex(s->data, s->dataSize);
      break;
    }
    case kAnimSprite:
      out += "\n" + Clip(static_cast<const AnimSprite*>(c->body)->clip, indent + 2);
      break;
    case kAnimButton: {
      const auto* b = static_cast<const AnimButton*>(c->body);
      out += Fmt(" menu %lld", b->menu);
      for (const AnimButtonRecord* r = b->records; r; r = r->next) {
        out += Fmt(" rec(%lld char %lld depth %lld)", r->states, r->character ? r->character->id : -1, r->depth) +
               Matrix(r->matrix) + (r->cxform ? Cx(*r->cxform) : "");
      }
      if (b->actions) out += " actions " + DumpActions(b->actions);
      for (const AnimCondition* k = b->conditions; k; k = k->next)
        out += Fmt(" cond %lld ", k->bits) + DumpActions(k->actions);
      if (const AnimEditText* e = b->editText) {
        out += Fmt(" edit flags %lld font %lld height %lld color %llx", e->flags, e->fontId, e->fontHeight,
                   e->color) +
               Fmt(" max %lld align %lld margins %lld %lld", e->maxLength, e->alignment, e->leftMargin,
                   e->rightMargin) +
               Fmt(" indent %lld leading %lld frames %lld %lld", e->indent, e->leading, e->firstFrame,
                   e->lastFrame) +
               Fmt(" opts %lld %lld %lld %lld", e->options[0], e->options[1], e->options[2], e->options[3]) +
               " var " + Text(e->variable) + " text " + Text(e->text) + " " + Rect(e->bounds);
      }
      break;
    }
    default: break;
  }
  return out;
}

std::string Clip(const AnimClip* clip, int indent) {
  const std::string pad(static_cast<size_t>(indent), ' ');
  std::string out = pad + Fmt("clip frames %lld loaded %lld available %lld closed %lld", clip->frameCount,
                              clip->framesLoaded, clip->framesAvailable, clip->framesClosed) +
                    Fmt(" flag %lld current %lld\n", clip->flagWord, clip->currentFrame);
  for (uint32_t i = 0; i <= clip->frameCount; ++i) {
    const AnimFrame& f = clip->frames[i];
    if (!f.label && !f.first) continue;
    out += pad + Fmt("frame %lld label ", i) + Text(f.label) + " depths";
    for (int b = 0; b < 16; ++b)
      for (const AnimDepthNode* n = f.depths[b]; n; n = n->next) out += Fmt(" %lld", n->depth);
    out += "\n";
    for (const AnimFrameCommand* c = f.first; c; c = c->next) {
      out += pad + Fmt("  cmd %lld flags %lld depth %lld ratio %lld", c->kind, c->flags, c->depth, c->ratio) +
             Fmt(" clip %lld char %lld", c->clipDepth, c->character ? c->character->id : -1) + " name " +
             Text(c->name) + " " + Matrix(c->matrix) + Cx(c->cxform) +
             Fmt(" rgb %lld %lld %lld", c->color[0], c->color[1], c->color[2]);
      if (c->soundInfo) out += Fmt(" sync %lld loops %lld", c->soundInfo->syncBits, c->soundInfo->loopCount);
      if (c->actions) out += " actions " + DumpActions(c->actions);
      out += "\n";
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
  std::string out = Fmt("stream v%lld rate %lld frames %lld total %lld", s->version, s->frameRate, s->frameCount,
                        s->totalLength) +
                    Fmt(" reserved %lld %lld pending %lld error %lld", s->reservedA, s->reservedB,
                        s->headerPending, s->errorFlag) +
                    " rect " + Rect(s->frameRect) + "\n";
  for (const AnimDictNode* n = s->dictionary; n; n = n->next) out += Char(n->character, 0) + "\n";
  if (s->root) out += Clip(s->root, 0);
  return out;
}
