// The movie object: its levels, the view onto the frame buffer, the control
// entry the command dispatcher plays through, and the redraw pass that
// clears and redraws the changed area and tells the host what changed.
#include "player/anim_movie.h"

#include <cstring>

#include "player/anim_player.h"

namespace {

constexpr int32_t kWholePlane = 32768;
// A redraw is drawn again after a pass that kept a new "/Background"
// sprite (each such pass keeps every new one it meets) or lost edges; this
// many passes at most.
constexpr uint32_t kPassesPerRedraw = 8;

AnimStream* NewLevel(AnimMovie* m, uint32_t level) {
  auto* s = static_cast<AnimStream*>(AnimPlayer_Alloc(m->player, sizeof(AnimStream)));
  if (s) AnimStream_Init(s, m->player, level);
  return s;
}

// A new stream before the first level whose number is not smaller.
AnimStream* InsertLevel(AnimMovie* m, uint32_t level) {
  AnimStream* fresh = NewLevel(m, level);
  if (!fresh) return nullptr;
  AnimStream** link = &m->levels;
  while (*link && (*link)->level < level) link = &(*link)->next;
  fresh->next = *link;
  *link = fresh;
  return fresh;
}

void FreeLevel(AnimMovie* m, AnimStream* s) {
  AnimStream_Free(s);
  AnimPlayer_Free(m->player, s);
}

// Whether an object is still shown somewhere in the movie.
// Each walks a clip shown by several objects once.
bool ListHolds(const AnimDisplayList* list, const AnimDisplayObject* target, uint32_t nesting, uint64_t walk) {
  if (nesting > kAnimMaxClipDepth) return false;
  for (const AnimDisplayObject* o = list->first; o; o = o->next) {
    if (o == target) return true;
    if (o->clip && &o->clip->list != list && AnimDisplay_FirstVisit(o->clip, walk) &&
        ListHolds(&o->clip->list, target, nesting + 1, walk))
      return true;
  }
  return false;
}

bool ClipInTree(AnimClip* root, const AnimClip* target, uint32_t nesting, uint64_t walk) {
  if (root == target) return true;
  if (nesting > kAnimMaxClipDepth) return false;
  for (const AnimDisplayObject* o = root->list.first; o; o = o->next)
    if (o->clip && o->clip != root && AnimDisplay_FirstVisit(o->clip, walk) && ClipInTree(o->clip, target, nesting + 1, walk))
      return true;
  return false;
}

// Levels marked for removal go; the focus and the remembered clip that
// pointed into them go with them.
void FreeMarkedLevels(AnimMovie* m) {
  AnimStream** link = &m->levels;
  bool freed = false;
  while (*link) {
    AnimStream* s = *link;
    if (s->level == kAnimLevelRemoved && s != m->levels) {
      *link = s->next;
      if (m->currentLevel == s) m->currentLevel = nullptr;
      FreeLevel(m, s);
      freed = true;
    } else {
      link = &s->next;
    }
  }
  if (!freed) return;
  // What the level showed is still in the frame: the next redraw covers it,
  // even when nothing that stays changes. Kept background sprites may have
  // drawn its characters.
  AnimDisplay_DropBackground(m);
  m->fullRedraw = 1;
  bool focusShown = false, clipShown = false;
  for (AnimStream* s = m->levels; s; s = s->next) {
    if (!s->root) continue;
    if (m->input.focus && ListHolds(&s->root->list, m->input.focus, 0, AnimDisplay_StartWalk(m))) focusShown = true;
    if (m->action.loadClip && ClipInTree(s->root, m->action.loadClip, 0, AnimDisplay_StartWalk(m))) clipShown = true;
  }
  if (!focusShown) {
    m->input.focus = nullptr;
    m->input.focusKind = 0;
  }
  if (!clipShown) m->action.loadClip = nullptr;
}

void VisibleArea(AnimView* v) {
  v->visLeft = v->matrix.tx;
  v->visRight = static_cast<int32_t>(static_cast<float>(v->movieWidth) * v->matrix.a + static_cast<float>(v->matrix.tx)) - 1;
  v->visTop = v->matrix.ty;
  v->visBottom = static_cast<int32_t>(static_cast<float>(v->movieHeight) * v->matrix.d + static_cast<float>(v->matrix.ty)) - 1;
}

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

}  // namespace

AnimMovie* AnimMovie_Create(AnimPlayer* p) {
  p->heap.abortFlag = 0;
  auto* m = static_cast<AnimMovie*>(AnimPlayer_Alloc(p, sizeof(AnimMovie)));
  if (!m) return nullptr;
  m->player = p;
  m->levels = NewLevel(m, 0);
  if (!m->levels) {
    AnimPlayer_Free(p, m);
    return nullptr;
  }
  m->view.zoom = 1;
  m->fullRedraw = 1;  // the first frame covers whatever the frame buffer held
  m->action.levelCounter = 256;
  m->action.loadFrame = -1;
  AnimVar_Clear(p);
  AnimValue_ClearStack(p);
  AnimBitmap_ResetCache(&p->bitmaps);
  return m;
}

void AnimMovie_Destroy(AnimMovie* m) {
  if (!m) return;
  AnimPlayer* p = m->player;
  AnimValue_ClearStack(p);
  AnimClip_RestartAfter(m, 0xFFFFFFFFu);
  AnimDisplay_DropBackground(m);
  AnimClip_Reset(m);
  for (AnimStream* s = m->levels; s;) {
    AnimStream* next = s->next;
    FreeLevel(m, s);
    s = next;
  }
  // After the levels: their fields let go of the variables they show.
  AnimVar_Clear(p);
  AnimRaster_Free(&m->raster);
  AnimStr_Free(p, m->action.loadTarget);
  AnimBitmap_FreeAll(p);
  AnimCaption_Free(p);
  AnimPlayer_Free(p, m);
  p->heap.abortFlag = 0;
}

void AnimClip_Reset(AnimMovie* m) {
  AnimStream* s = m ? m->levels : nullptr;
  if (!s || !s->root) return;
  AnimClip_Free(m->player, s->root);
  s->root = nullptr;
}

AnimStream* AnimMovie_Level(AnimMovie* m, uint32_t level) {
  for (AnimStream* s = m ? m->levels : nullptr; s; s = s->next)
    if (s->level == level) return s;
  return nullptr;
}

AnimClip* AnimMovie_Root(AnimMovie* m) {
  AnimStream* s = m ? m->levels : nullptr;
  return s && s->level == 0 ? s->root : nullptr;
}

uint32_t AnimMovie_Feed(AnimMovie* m, uint32_t level, const uint8_t* data, uint32_t length) {
  AnimStream* s = AnimMovie_Level(m, level);
  if (!s) return 0;
  const bool pending = s->headerPending != 0;
  const uint32_t flags = AnimMovie_ReadHeader(s, data, length);
  if (pending && !s->headerPending && s->root) {
    m->frameInterval = 1000 / (s->frameRate ? s->frameRate : 1);
    AnimClip* root = s->root;
    AnimClip_Init(root, m);
    root->frameRect = s->frameRect;
    root->width = (s->frameRect.xmax - s->frameRect.xmin) / 20;
    root->height = (s->frameRect.ymax - s->frameRect.ymin) / 20;
    AnimClip_Rewind(root);
  }
  return flags;
}

bool AnimView_Fit(AnimMovie* m, int32_t movieWidth, int32_t movieHeight) {
  AnimPlayer* p = m->player;
  AnimView& v = m->view;
  v.frameWidth = p->frameWidth;
  v.frameHeight = p->frameHeight;
  v.movieWidth = movieWidth > 0 ? movieWidth : 1;
  v.movieHeight = movieHeight > 0 ? movieHeight : 1;
  const float grow = static_cast<float>(1 << (v.zoom - 1));
  const float sx = static_cast<float>(v.frameWidth) * 32.0f * grow / static_cast<float>(v.movieWidth);
  const float sy = static_cast<float>(v.frameHeight) * 32.0f * grow / static_cast<float>(v.movieHeight);
  AnimMatrix_SetIdentity(&v.matrix);
  v.matrix.a = v.matrix.d = sx < sy ? sx : sy;
  v.matrix.tx = (v.frameWidth * 32 - static_cast<int32_t>(static_cast<float>(v.movieWidth) * v.matrix.a)) >> 1;
  v.matrix.ty = (v.frameHeight * 32 - static_cast<int32_t>(static_cast<float>(v.movieHeight) * v.matrix.d)) >> 1;
  VisibleArea(&v);
  if (!m->raster.ready) {
    if (!p->frameBuffer || v.frameWidth <= 0 || v.frameHeight <= 0) return false;
    const bool made = AnimRaster_Init(&m->raster, p, p->frameBuffer, v.frameWidth, v.frameHeight, v.frameWidth * 2,
                                      p->highQuality != 0);
    if (!made) return false;
    // Black until the movie sets its background colour, whatever the host's
    // buffer held: clearing leaves the frame alone before that colour.
    for (int32_t y = 0; y < v.frameHeight; ++y)
      std::memset(p->frameBuffer + static_cast<size_t>(y) * static_cast<size_t>(v.frameWidth), 0,
                  static_cast<size_t>(v.frameWidth) * 2);
  }
  m->raster.view = v.matrix;
  return true;
}

void AnimView_SetZoom(AnimMovie* m, uint32_t zoom) {
  m->fullRedraw = 1;
  // The kept background sprites are drawn again as first drawn, under the
  // new view.
  AnimDisplay_DropPicture(m);
  m->view.zoom = zoom < 1 ? 1 : zoom > 3 ? 3 : zoom;
  AnimView_Fit(m, m->view.movieWidth, m->view.movieHeight);
}

void AnimView_Pan(AnimMovie* m, int32_t dx, int32_t dy) {
  AnimView& v = m->view;
  if (v.zoom == 1) return;
  const int32_t unit = 1 << (v.zoom + 6);
  const int32_t mx = dx * unit, my = dy * unit;
  const int32_t extent = 1 << (v.zoom + 4);
  m->fullRedraw = 1;
  AnimDisplay_DropPicture(m);
  if (dx >= 1 && v.matrix.tx + mx >= 0) v.matrix.tx = 0;
  else if (dy > 0 && v.matrix.ty + my >= 0) v.matrix.ty = 0;
  else if (dx < 0 && v.matrix.tx + v.frameWidth * extent + mx <= v.frameWidth * 32)
    v.matrix.tx = v.frameWidth * 32 - v.frameWidth * extent;
  else if (dy < 0 && v.matrix.ty + v.frameHeight * extent + my <= v.frameHeight * 32)
    v.matrix.ty = v.frameHeight * 32 - v.frameHeight * extent;
  else {
    v.matrix.tx += mx;
    v.matrix.ty += my;
  }
  VisibleArea(&v);
  m->raster.view = v.matrix;
}

namespace {

// The raster made again in a mode over the view as it stands, keeping the
// movie's background colour and the way its edges are kept. Every object's
// kept edges go first: they were made under the old raster, and their heap
// may be what the new tables need. False, with the heap's abort flag as it
// was, when the heap cannot hold the new tables (the raster is then not ready).
bool Remake(AnimMovie* m, bool smooth) {
  AnimPlayer* p = m->player;
  AnimRaster& r = m->raster;
  const uint32_t aborted = p->heap.abortFlag;
  const AnimRaster old = r;
  auto keep = [&] {
    std::memcpy(r.background, old.background, sizeof old.background);
    r.backgroundSet = old.backgroundSet;
    r.cacheMode = old.cacheMode;
  };
  AnimDisplay_InvalidateMovie(m);
  // The picture was drawn in the old mode: it is made again from the kept
  // background sprites.
  AnimDisplay_DropPicture(m);
  AnimRaster_Free(&r);
  auto init = [&] {
    return p->frameBuffer &&
           AnimRaster_Init(&r, p, p->frameBuffer, m->view.frameWidth, m->view.frameHeight, m->view.frameWidth * 2, smooth);
  };
  // The kept background sprites stay as first drawn whatever the heap
  // holds: without room for the new tables the old mode stays.
  const bool ready = init();
  if (!ready) {
    AnimRaster_Free(&r);
    keep();  // for the next try
    p->heap.abortFlag = aborted;
    return false;
  }
  keep();
  r.view = m->view.matrix;
  m->fullRedraw = 1;
  return true;
}

}  // namespace

bool AnimView_SetQuality(AnimMovie* m, bool on) {
  AnimPlayer* p = m->player;
  if (!m->raster.ready) {
    p->highQuality = on ? 1 : 0;
    return true;
  }
  const bool was = m->raster.smooth != 0;
  if (Remake(m, on)) {
    p->highQuality = on ? 1 : 0;
    return true;
  }
  // No room for the new mode's tables: the movie plays on in the old mode
  // (or, failing that too, the next command makes its raster again).
  p->highQuality = was ? 1 : 0;
  Remake(m, was);
  return false;
}

uint32_t AnimMovie_Control(AnimMovie* m, uint32_t flags, const AnimEvent* event) {
  // An event handed straight to the movie is a step of its own.
  if (m->player->commandDepth == 0) AnimWork_Start(m->player);
  if (m->suppress) {
    m->suppress = 0;
    return 1;
  }
  AnimClip* root = AnimMovie_Root(m);
  // A raster the heap could not hold at a quality change is made again here.
  if (!m->raster.ready && m->view.frameWidth > 0 && m->view.frameHeight > 0) Remake(m, m->player->highQuality != 0);
  if (!root || AnimClip_Available(root) == 0 || !m->raster.ready) return 0;
  uint32_t result = 0;
  if (!m->input.eventPending) {
    switch (flags & 0xF0) {
      case 16: AnimClip_Halt(root); break;
      case 32:
        if (root->currentFrame >= AnimClip_Available(root)) {
          root->currentFrame = 0;
          root->nextFrame = 1;
        } else {
          for (AnimDisplayObject* o = root->list.first; o; o = o->next) AnimDisplay_AddDirty(&root->list, o);
          root->playing = 1;
        }
        result = 1;
        break;
      case 48: AnimClip_Rewind(root); break;
      case 64:
        // Takes the next frame without running it: the advance that follows
        // a step shows it, so its actions run once.
        if (!root->playing) {
          root->currentFrame = root->nextFrame;
          root->nextFrame = root->nextFrame + 1 >= AnimClip_Available(root) ? 0 : root->nextFrame + 1;
        }
        break;
      default: break;
    }
  }
  if (flags & 2) {
    result |= AnimMovie_DeliverEvent(m, event) | m->input.eventPending;
  } else if (m->input.eventPending) {
    m->input.eventPending = 0;
    const AnimEvent saved = m->input.pendingEvent;
    result |= AnimMovie_DeliverEvent(m, &saved);
  } else if (flags & 1) {
    result |= AnimMovie_AdvanceFrame(m);
  }
  return result;
}

uint32_t AnimMovie_AdvanceFrame(AnimMovie* m) {
  uint32_t changed = 0;
  FreeMarkedLevels(m);
  for (AnimStream* s = m->levels; s; s = s->next) {
    // Levels above 255 carry movies loaded for clips; the clips play them.
    if (s->level >= kAnimLevelRemoved || !s->root || AnimClip_Available(s->root) == 0) continue;
    m->currentLevel = s;
    changed |= AnimClip_Advance(s->root);
    if (AnimPlayer_Aborted(m->player)) return 0;
  }
  AnimMovie_Redraw(m);
  return changed;
}

uint32_t AnimMovie_DeliverEvent(AnimMovie* m, const AnimEvent* event) {
  AnimClip* root = AnimMovie_Root(m);
  if (!root || !event) return 0;
  m->currentLevel = m->levels;
  const uint32_t result = AnimClip_HandleEvent(root, event);
  AnimMovie_Redraw(m);
  return result;
}

void AnimMovie_Redraw(AnimMovie* m) {
  AnimRaster& r = m->raster;
  if (!r.ready || AnimPlayer_Aborted(m->player)) return;
  // A step that spent all its work, the part kept for drawing too, ends
  // before drawing: the frame stays as it was, the areas to redraw wait
  // (the next step draws the whole frame).
  if (AnimWork_Spent(m->player)) return;
  AnimRect dirty;
  AnimRect_SetEmpty(&dirty);
  for (AnimStream* s = m->levels; s; s = s->next) {
    if (s->level == kAnimLevelRemoved) {
      const AnimRect whole{-kWholePlane, kWholePlane - 1, -kWholePlane, kWholePlane - 1};
      AnimRect_Add(&dirty, &whole);
    } else if (s->root) {
      // Nested lists too: a button inside a sprite changes its state there.
      AnimDisplay_TakeDirty(&s->root->list, &dirty);
      s->root->changed = 0;
    }
  }
  if (AnimRect_IsEmpty(&dirty) && !m->fullRedraw) return;
  const AnimView& v = m->view;
  int32_t left = 0, top = 0, right = v.frameWidth - 1, bottom = v.frameHeight - 1;
  // Until the kept sprites have been drawn whole once, what they cost is
  // measured over the whole frame, with or without a picture.
  if (m->fullRedraw || (m->kept && !m->keptWorkKnown)) {
    m->fullRedraw = 0;
    m->redrawLeft = 0;
    m->redrawTop = 0;
    m->redrawRight = v.frameWidth;
    m->redrawBottom = v.frameHeight;
  } else {
    AnimRect device;
    AnimRect_Transform(&device, &v.matrix, &dirty);
    left = Clamp((device.xmin >> 5) - 2, 0, v.frameWidth - 1);
    right = Clamp((device.xmax >> 5) + 2, 0, v.frameWidth - 1);
    top = Clamp((device.ymin >> 5) - 2, 0, v.frameHeight - 1);
    bottom = Clamp((device.ymax >> 5) + 2, 0, v.frameHeight - 1);
    m->redrawLeft = left > (v.visLeft >> 5) ? left : (v.visLeft >> 5);
    m->redrawTop = top > (v.visTop >> 5) ? top : (v.visTop >> 5);
    m->redrawRight = right < (v.visRight >> 5) ? right : (v.visRight >> 5);
    m->redrawBottom = bottom < (v.visBottom >> 5) ? bottom : (v.visBottom >> 5);
  }
  AnimMatrix identity;
  AnimMatrix_SetIdentity(&identity);
  const uint32_t cacheMode = r.cacheMode;
  bool keepingNothing = false;
  // A pass drawn again keeping no edges may spend what the pass that lost
  // them began with: it ends where a drawing without the caches ends.
  AnimPlayer* p = m->player;
  for (uint32_t pass = 0;; ++pass) {
    const uint32_t workLeft = p->workLeft, workOut = p->workOut, workRanOut = p->workRanOut;
    const uint32_t pixelsCounted = r.pixelsSpanned, stepsCounted = r.edgeSteps;
    r.clipLeft = left;
    r.clipRight = right;
    r.clipTop = top;
    r.clipBottom = bottom;
    r.dirtyXMin = left * 32;
    r.dirtyXMax = right * 32 + 31;
    r.dirtyYMin = top * 32;
    r.dirtyYMax = bottom * 32 + 31;
    m->keptAdded = m->edgesLost = 0;
    m->keptMet = nullptr;
    // Under every level: the kept background sprites, or the colour.
    AnimDisplay_ClearToBackground(m);
    for (AnimStream* s = m->levels; s && !m->edgesLost; s = s->next)
      if (s->level < kAnimLevelRemoved && s->root && s->root->visible)
        AnimDisplay_DrawList(m, &s->root->list, &identity, nullptr);
    if (AnimPlayer_Aborted(m->player) || pass + 1 >= kPassesPerRedraw) break;
    const bool added = m->keptAdded != 0, lost = m->edgesLost && !keepingNothing;
    if (!added && !lost) break;
    if (lost) {
      // Every draw then starts from an empty pool, as an uncached one does;
      // the caches are made again at the next pass.
      AnimRaster_ResetPool(&r);
      r.cacheMode = kAnimCacheNone;
      keepingNothing = true;
      if (!added) {
        p->workLeft = workLeft;
        p->workOut = workOut;
        p->workRanOut = workRanOut;
        r.pixelsSpanned = pixelsCounted;
        r.edgeSteps = stepsCounted;
      }
    }
    if (added) {
      // A background sprite was just kept: it lies under every level, so
      // the whole frame is drawn again over it.
      left = top = 0;
      right = v.frameWidth - 1;
      bottom = v.frameHeight - 1;
      m->redrawLeft = m->redrawTop = 0;
      m->redrawRight = v.frameWidth;
      m->redrawBottom = v.frameHeight;
    }
  }
  r.cacheMode = cacheMode;
  m->edgesLost = m->keptAdded = 0;
  m->keptMet = nullptr;
  r.clipLeft = 0;
  r.clipRight = v.frameWidth - 1;
  r.clipTop = 0;
  r.clipBottom = v.frameHeight - 1;
  r.dirtyXMin = r.dirtyYMin = 0;
  r.dirtyXMax = 32 * v.frameWidth - 1;
  r.dirtyYMax = 32 * v.frameHeight - 1;
  FreeMarkedLevels(m);
}

void AnimMovie_InvalidateAll(AnimMovie* m) {
  AnimClip* root = AnimMovie_Root(m);
  if (root) root->list.dirty = AnimRect{-kWholePlane, kWholePlane, -kWholePlane, kWholePlane};
  m->fullRedraw = 1;
  AnimMovie_Redraw(m);
}

namespace {

// Replaces a level and answers what the feeder said.
int32_t Replace(AnimMovie* m, bool removeOnly, uint32_t level, const uint8_t* data, uint32_t length) {
  // A clip may be playing a level's frames; only numbered levels are replaced.
  if (!AnimLevel_IsTarget(level)) return 0;
  for (AnimStream* s = m->levels; s; s = s->next)
    if (s->level == level) {
      s->level = kAnimLevelRemoved;
      // The kept picture may be this level's sprite's, and a sprite of the
      // new level may go by the same name: it is drawn again.
      AnimDisplay_DropBackground(m);
    }
  if (removeOnly || !InsertLevel(m, level)) return 0;
  int32_t fed;
  if (m->feeder) {
    fed = m->feeder(m, level, data, length);
  } else {
    const uint32_t flags = AnimMovie_Feed(m, level, data, length);
    fed = flags == 0 || (flags & kAnimSoundRefused) ? 0 : static_cast<int32_t>(flags);
  }
  if (AnimPlayer_Aborted(m->player)) return 0;
  m->fullRedraw = 1;
  return fed;
}

}  // namespace

uint32_t AnimMovie_ReplaceLevel(AnimMovie* m, bool removeOnly, uint32_t level, const uint8_t* data,
                                uint32_t length) {
  return Replace(m, removeOnly, level, data, length) > 0 ? 1 : 0;
}

uint32_t AnimMovie_AddLevel(AnimMovie* m, uint32_t level, const uint8_t* data, uint32_t length, const char* name) {
  AnimStream* fresh = InsertLevel(m, level);
  if (!fresh) return 0;
  const uint32_t flags = AnimMovie_Feed(m, level, data, length);
  if (AnimPlayer_Aborted(m->player) || flags == 0 || !fresh->root) return 0;
  AnimStr_Free(m->player, fresh->root->name);
  fresh->root->name = AnimStr_Dup(m->player, name ? name : "");
  fresh->root->flagWord |= kAnimClipStale;
  return 1;
}

int32_t AnimMovie_LoadLevel(AnimMovie* m, const char* name, uint32_t level) {
  if (!AnimLevel_IsTarget(level)) return 0;
  if (!name || !*name) return static_cast<int32_t>(AnimMovie_ReplaceLevel(m, true, level, nullptr, 0));
  if (!m->loader) return -1;
  AnimLoaded loaded{};
  const int32_t length = m->loader(m, name, &loaded);
  if (length < 0) return -1;
  const int32_t fed = Replace(m, false, level, loaded.data, static_cast<uint32_t>(length));
  AnimPlayer_Free(m->player, loaded.owned);
  return fed < 0 ? -1 : fed > 0 ? 1 : 0;
}
