// Display lists: placing, moving and removing objects by depth, the
// one-frame step of a clip with its nested clips, the replay of frames for a
// jump, the clip chains of sprites, and the drawing walk.
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "player/anim_movie.h"
#include "player/anim_player.h"
#include "player/anim_shape.h"
#include "player/anim_text.h"

namespace {

constexpr int32_t kTimelineDepths = 16385;  // objects at or above stay through a rewind
constexpr char kBackground[] = "/Background";

bool IsBackground(const char* name) { return name && std::strncmp(name, kBackground, 11) == 0; }

AnimPlayer* PlayerOf(const AnimDisplayList* list) { return list->movie ? list->movie->player : nullptr; }

bool IsButton(const AnimDisplayObject* o) { return o->character && o->character->type == kAnimButton; }
bool IsSprite(const AnimDisplayObject* o) { return o->character && o->character->type == kAnimSprite; }

// The instance clip a button's sprite records show, when it has been made.
AnimClip* ButtonClip(const AnimDisplayObject* o) {
  if (!IsButton(o) || !o->name) return nullptr;
  for (const AnimButtonRecord* r = static_cast<const AnimButton*>(o->character->body)->records; r; r = r->next) {
    if (!r->character || r->character->type != kAnimSprite) continue;
    for (AnimClip* c = static_cast<AnimSprite*>(r->character->body)->clip; c; c = c->nextLevel)
      if (c->name && AnimName_Equal(c->name, o->name) == 0) return c;
  }
  return nullptr;
}

// An area of a button's instance clip in the button's units: under every
// sprite record, whichever state shows it.
void AddButtonClipArea(const AnimDisplayObject* o, const AnimRect* area, AnimRect* out) {
  for (const AnimButtonRecord* r = static_cast<const AnimButton*>(o->character->body)->records; r; r = r->next) {
    if (!r->character || r->character->type != kAnimSprite) continue;
    AnimRect moved;
    AnimRect_Transform(&moved, &r->matrix, area);
    AnimRect_Add(out, &moved);
  }
}

const char* OwnerPath(const AnimDisplayList* list) {
  return list->owner && list->owner->name ? list->owner->name : "";
}

// The name a placed object goes by: a sprite's full path, or a button's or
// field's generated name; other characters none.
char* NameFor(AnimDisplayList* list, AnimChar* character, int32_t depth, const char* given) {
  AnimPlayer* p = PlayerOf(list);
  const bool sprite = character->type == kAnimSprite;
  if (!sprite && character->type != kAnimButton) return nullptr;
  if (given && *given) return AnimPath_Resolve(p, OwnerPath(list), given, kAnimPathClip);
  char text[64];
  std::snprintf(text, sizeof text, sprite ? "/!%u.%d" : "/?%u.%d", character->id, depth);
  const char* owner = OwnerPath(list);
  const size_t ownerLength = std::strlen(owner), textLength = std::strlen(text);
  auto* out = static_cast<char*>(AnimPlayer_Alloc(p, static_cast<int32_t>(ownerLength + textLength + 1)));
  if (!out) return nullptr;
  std::memcpy(out, owner, ownerLength);
  std::memcpy(out + ownerLength, text, textLength + 1);
  return out;
}

AnimCxform* CopyCxform(AnimPlayer* p, const AnimCxform* cx) {
  if (!cx) return nullptr;
  auto* out = static_cast<AnimCxform*>(AnimPlayer_Alloc(p, sizeof(AnimCxform)));
  if (out) *out = *cx;
  return out;
}

void InsertByDepth(AnimDisplayList* list, AnimDisplayObject* o) {
  AnimDisplayObject** link = &list->first;
  if (!(IsSprite(o) && IsBackground(o->name))) {
    AnimDisplayObject** after = nullptr;
    for (AnimDisplayObject** l = &list->first; *l; l = &(*l)->next)
      if ((*l)->depth < o->depth) after = &(*l)->next;
    if (after) link = after;
  }
  o->next = *link;
  *link = o;
}

void CombineCxform(AnimCxform* out, const AnimCxform* parent, const AnimCxform* own) {
  const int32_t* pm = &parent->aMul;
  const int32_t* om = &own->aMul;
  int32_t* o = &out->aMul;
  for (int i = 0; i < 8; i += 2) {
    o[i] = static_cast<int32_t>((static_cast<int64_t>(om[i]) * pm[i]) >> 8);
    o[i + 1] = static_cast<int32_t>((static_cast<int64_t>(om[i + 1]) * pm[i] + static_cast<int64_t>(pm[i + 1]) * 256) >> 8);
  }
}

// A walk over the tree of clips that needs each clip once (objects of one
// name share their clip, and nested, such clips multiply their copies at
// every level) is numbered; 0 is no walk's.
uint64_t StartTreeWalk(AnimMovie* m) {
  if (!m) return 0;
  return ++m->treeWalks;
}

// A unit of the step's work for an object a walk meets; false once spent.
bool Meet(AnimMovie* m) { return !m || AnimWork_Take(m->player); }

// Whether the walk meets the clip for the first time (and marks it met).
bool FirstVisit(AnimClip* clip, uint64_t walk) {
  if (walk && clip->treeWalk == walk) return false;
  clip->treeWalk = walk;
  return true;
}

// Every object's cache goes, each object once (again below a clip met
// nearer the root than at first, where the nesting limit cut less); not cut
// short when the step's work is spent, as a cache is heap held. Counted as
// the step's work: the movie asked for it (a move, a new view). The drawing
// making room lets only the listed caches go.
void InvalidateAt(AnimPlayer* p, AnimDisplayList* list, uint32_t nesting, uint64_t walk) {
  for (AnimDisplayObject* o = list->first; o; o = o->next) {
    if (list->movie) ++list->movie->treeVisits;
    Meet(list->movie);
    AnimShapeCache_Release(p, &o->cache);
    AnimClip* clip = o->clip;
    if (!clip || &clip->list == list || nesting >= kAnimMaxClipDepth) continue;
    if (FirstVisit(clip, walk) || nesting + 1 < clip->treeNesting) {
      clip->treeNesting = nesting + 1;
      InvalidateAt(p, &clip->list, nesting + 1, walk);
    }
  }
}

// Every object's cache in every level, the clips of each level's chain
// included. Skipped when nothing was drawn from the records since the last
// time, which does not hang on whether the draws kept their edges.
void InvalidateMovie(AnimMovie* m) {
  if (m->shapesDrawn == m->drawsLetGo) return;
  m->drawsLetGo = m->shapesDrawn;
  const uint64_t walk = StartTreeWalk(m);
  for (AnimStream* s = m->levels; s; s = s->next)
    for (AnimClip* c = s->root; c; c = c->nextLevel)
      if (FirstVisit(c, walk)) {
        c->treeNesting = 0;
        InvalidateAt(m->player, &c->list, 0, walk);
      }
}

// The kept "/Background" sprite of a name, or none.
AnimKeptSprite* FindKept(const AnimMovie* m, const char* name) {
  if (!m || !name) return nullptr;
  for (AnimKeptSprite* k = m->kept; k; k = k->next)
    if (std::strcmp(k->name, name) == 0) return k;
  return nullptr;
}

void FreeKept(AnimPlayer* p, AnimKeptSprite* k) {
  for (AnimKeptChunk* c = k->first; c;) {
    AnimKeptChunk* following = c->next;
    AnimPlayer_Free(p, c);
    c = following;
  }
  AnimStr_Free(p, k->name);
  AnimPlayer_Free(p, k);
}

// A kept sprite unlinked and freed; the walk's place among the kept ones
// stays where it was.
void Unkeep(AnimMovie* m, AnimKeptSprite* k) {
  AnimKeptSprite* before = nullptr;
  AnimKeptSprite** link = &m->kept;
  while (*link != k) {
    before = *link;
    link = &before->next;
  }
  *link = k->next;
  if (m->keptMet == k) m->keptMet = before;
  if (m->keeping == k) m->keeping = nullptr;
  FreeKept(m->player, k);
}

// The picture no longer shows what is kept; it is made again when the
// frame is next cleared, and the whole frame is drawn again.
void DropPicture(AnimMovie* m) {
  AnimRaster& r = m->raster;
  if (r.backgroundName) AnimStr_Free(m->player, r.backgroundName);
  r.backgroundName = nullptr;
  m->fullRedraw = 1;
  m->keptWorkKnown = 0;
}

// Every kept sprite is let go: the next drawing draws them again.
void DropBackground(AnimMovie* m) {
  if (!m->kept && !m->raster.backgroundName) return;
  while (AnimKeptSprite* k = m->kept) {
    m->kept = k->next;
    FreeKept(m->player, k);
  }
  m->keptMet = m->keeping = nullptr;
  DropPicture(m);
}

// The kept sprite of an object's name is let go (the object removed,
// replaced or moved); the others stay.
void DropKept(AnimMovie* m, const AnimDisplayObject* o) {
  AnimKeptSprite* k = m ? FindKept(m, o->name) : nullptr;
  if (!k) return;
  Unkeep(m, k);
  DropPicture(m);
}

bool IsCachedBackground(const AnimMovie* m, const AnimDisplayObject* o) {
  return o->name && o->character && o->character->type == kAnimSprite && FindKept(m, o->name);
}

// One step of a clip's own timeline (no nested update). Returns 1 when
// anything it ran changed. Only a level's root halts at its last frame; a
// sprite's clip wraps round to frame 0.
uint32_t StepFrame(AnimClip* clip, bool root) {
  const uint32_t available = AnimClip_Available(clip);
  if (available == 0) return 0;
  clip->firstFramePending = 0;
  clip->currentFrame = clip->nextFrame;
  ++clip->nextFrame;
  uint32_t changed = 0;
  if (clip->currentFrame >= available) {
    clip->currentFrame = 0;
    clip->nextFrame = 1;
    AnimDisplay_RemoveTimeline(&clip->list, false);
    AnimClip_RestartAfter(clip->movie, 0);
    changed = 1;
  }
  changed |= AnimClip_RunFrame(clip, clip->currentFrame, 1);
  if (clip->nextFrame >= available) {
    if (available != clip->frameCount) clip->waiting = 1;
    else if (root && !(clip->flagWord & kAnimClipLoop)) AnimClip_Halt(clip);
  }
  if (changed) clip->changed = 1;
  return changed;
}

// A movie loaded for a clip's name (a level numbered from 256) becomes the
// clip's timeline; the level is then marked taken.
void TakeLoadedMovie(AnimMovie* m, AnimDisplayObject* o) {
  if (!m || !o->clip || !o->name) return;
  for (AnimStream* s = m->levels; s; s = s->next) {
    if (s->level < 256 || s->level > 4094 || !s->root || !s->root->name) continue;
    if (AnimName_Equal(s->root->name, o->name) != 0) continue;
    AnimClip* c = o->clip;
    if (!(c->flagWord & kAnimClipBorrowed) && !c->ownFrames) {
      c->ownFrames = c->frames;
      c->ownFrameCount = c->frameCount;
    }
    AnimDisplay_RemoveTimeline(&c->list, true);
    c->frames = s->root->frames;
    c->frameCount = s->root->frameCount;
    c->framesClosed = s->root->framesClosed;
    c->framesLoaded = s->root->framesLoaded;
    c->flagWord |= kAnimClipBorrowed;
    c->currentFrame = c->nextFrame = 0;
    c->playing = 1;
    c->waiting = 0;
    s->level = 4095;
    return;
  }
}

bool InList(const AnimDisplayList* list, const AnimDisplayObject* o) {
  for (const AnimDisplayObject* x = list->first; x; x = x->next)
    if (x == o) return true;
  return false;
}

uint32_t UpdateList(AnimDisplayList* list, uint32_t nesting);

// A sprite's instance clip (or the sprite a button holds) takes one step
// below its parent, then its own children.
uint32_t StepNested(AnimDisplayList* list, AnimDisplayObject* o, uint32_t nesting) {
  if (nesting >= kAnimMaxClipDepth) return 0;
  AnimClip* clip = IsButton(o) ? AnimButton_NestedClip(list->movie, o) : o->clip;
  if (!clip) return 0;
  uint32_t changed = 0;
  // Objects of one name share their clip: it steps (and its children with
  // it) at the first of them; every one of them shows its changes. Where
  // one shows it nearer the root than the one it stepped at, the part of its
  // tree the nesting limit cut off there is updated now.
  AnimMovie* m = list->movie;
  if (!m || clip->stepUpdate != m->updates) {
    if (m) clip->stepUpdate = m->updates;
    clip->stepNesting = nesting + 1;
    if (!IsButton(o)) TakeLoadedMovie(m, o);
    clip->firstFramePending = 0;
    if (clip->playing && !clip->waiting) changed |= StepFrame(clip, false);
    if (!InList(list, o)) return changed;
    changed |= UpdateList(&clip->list, nesting + 1);
  } else if (nesting + 1 < clip->stepNesting) {
    clip->stepNesting = nesting + 1;
    changed |= UpdateList(&clip->list, nesting + 1);
  }
  // A kept background picture hides the sprite's own changes; until it is
  // kept (not drawn yet, or no room for it) they show as any sprite's.
  if (IsBackground(o->name) && IsCachedBackground(list->movie, o)) AnimRect_SetEmpty(&clip->list.dirty);
  if (!AnimRect_IsEmpty(&clip->list.dirty)) {
    AnimRect inner = clip->list.dirty, moved;
    if (IsButton(o)) {
      AnimRect_SetEmpty(&inner);
      AddButtonClipArea(o, &clip->list.dirty, &inner);
    }
    AnimRect_Transform(&moved, &o->matrix, &inner);
    AnimRect_Add(&list->dirty, &moved);
  }
  return changed;
}

uint32_t UpdateList(AnimDisplayList* list, uint32_t nesting) {
  uint32_t changed = 0;
  for (AnimDisplayObject* o = list->first; o;) {
    AnimDisplayObject* following = o->next;
    if (list->movie && !AnimWork_TakeBeforeDrawing(list->movie->player)) break;
    if (IsSprite(o) || IsButton(o)) changed |= StepNested(list, o, nesting);
    if (AnimPlayer_Aborted(PlayerOf(list))) return changed;
    // The actions of a nested frame may have removed objects of this list.
    o = InList(list, o) ? o->next : InList(list, following) ? following : nullptr;
  }
  return changed;
}

// The character's bounds in its own units. Each record of a button is
// met as an object is: buttons inside buttons multiply their records, and
// once the step's work is spent the bounds stand as far as they were taken.
bool CharBounds(AnimMovie* m, const AnimChar* c, AnimRect* out, uint32_t nesting) {
  AnimRect_SetEmpty(out);
  if (!c || nesting > kAnimMaxClipDepth) return false;
  if (c->type == kAnimMorph) AnimMorph_Bounds(static_cast<const AnimMorph*>(c->body), out);
  else if (c->type == kAnimSprite) return false;
  else if (c->type == kAnimButton && !static_cast<const AnimButton*>(c->body)->editText) {
    const auto* b = static_cast<const AnimButton*>(c->body);
    for (const AnimButtonRecord* r = b->records; r && Meet(m); r = r->next) {
      AnimRect inner, moved;
      CharBounds(m, r->character, &inner, nesting + 1);
      AnimRect_Transform(&moved, &r->matrix, &inner);
      AnimRect_Add(out, &moved);
    }
  } else {
    AnimChar_GetBounds(c, out);
  }
  return !AnimRect_IsEmpty(out);
}


// One bounds walk: each clip it meets is measured once, however many objects
// show it, so a walk is linear in the clips and objects of the tree (walked
// again for every object that shows it, a tree of shared clips took time
// exponential in its depth).
struct BoundsWalk {
  AnimMovie* movie;
  uint64_t number;
};

// Numbered as the tree walks are: a clip keeps its own stamp for each kind.
BoundsWalk StartBoundsWalk(AnimMovie* m) { return {m, StartTreeWalk(m)}; }

bool ListBoundsAt(const AnimDisplayList* list, AnimRect* out, uint32_t nesting, const BoundsWalk& walk);

int32_t Pixels(int32_t from, int32_t to) {
  const int64_t span = (int64_t{to} - from) / 20;
  return static_cast<int32_t>(span > INT32_MAX ? INT32_MAX : span);
}

// A clip's _width and _height follow what it shows, whenever that is
// measured; showing nothing, it keeps the size it last had (at first the
// movie's frame size).
void KeepSize(AnimClip* clip, const AnimRect& shown) {
  if (AnimRect_IsEmpty(&shown)) return;
  clip->width = Pixels(shown.xmin, shown.xmax);
  clip->height = Pixels(shown.ymin, shown.ymax);
}

// A clip's bounds are those of what it shows now, down to the nesting
// limit. A clip met again inside itself draws copies of itself down to the
// limit: its area is then taken as the whole plane, so that whatever those
// copies draw is redrawn. Met again nearer the root than it was measured
// at, it is measured again from there (the limit cut more of it below);
// met deeper, what was measured covers what its copy there shows.
bool ClipBoundsAt(AnimClip* clip, AnimRect* out, uint32_t nesting, const BoundsWalk& walk) {
  AnimRect_SetEmpty(out);
  if (!clip) return false;
  if (!walk.number) {
    ListBoundsAt(&clip->list, out, nesting, walk);
    KeepSize(clip, *out);
    return !AnimRect_IsEmpty(out);
  }
  if (clip->boundsWalk == walk.number && !(clip->boundsDone && nesting < clip->boundsNesting)) {
    *out = clip->boundsDone ? clip->bounds : AnimRect{-32768, 32767, -32768, 32767};
    return !AnimRect_IsEmpty(out);
  }
  clip->boundsWalk = walk.number;
  clip->boundsNesting = nesting;
  clip->boundsDone = 0;
  ListBoundsAt(&clip->list, out, nesting, walk);
  clip->bounds = *out;
  clip->boundsDone = 1;
  KeepSize(clip, *out);
  return !AnimRect_IsEmpty(out);
}

// A sprite's bounds, in its own units, as a walk at that nesting measures them.
bool AnimSprite_GetBounds(AnimClip* clip, AnimRect* out, uint32_t nesting, const BoundsWalk& walk) {
  AnimRect_SetEmpty(out);
  return nesting <= kAnimMaxClipDepth && ClipBoundsAt(clip, out, nesting, walk);
}

// What an object shows, in its own units (before its matrix).
bool InnerBoundsAt(const AnimDisplayObject* o, AnimRect* inner, uint32_t nesting, const BoundsWalk& walk) {
  AnimRect_SetEmpty(inner);
  if (walk.movie) ++walk.movie->boundsVisits;
  Meet(walk.movie);
  if (IsSprite(o)) return AnimSprite_GetBounds(o->clip, inner, nesting + 1, walk);
  CharBounds(walk.movie, o->character, inner, 0);
  // A button's sprite records show its instance clip.
  AnimRect shown;
  AnimClip* clip = ButtonClip(o);
  if (clip && nesting < kAnimMaxClipDepth && ClipBoundsAt(clip, &shown, nesting + 1, walk))
    AddButtonClipArea(o, &shown, inner);
  return !AnimRect_IsEmpty(inner);
}

bool ObjectBoundsAt(const AnimDisplayObject* o, AnimRect* out, uint32_t nesting, const BoundsWalk& walk) {
  AnimRect inner;
  AnimRect_SetEmpty(out);
  if (!InnerBoundsAt(o, &inner, nesting, walk)) return false;
  AnimRect_Transform(out, &o->matrix, &inner);
  return !AnimRect_IsEmpty(out);
}

// The list's changed area grows by what an object shows under a matrix.
void AddShown(AnimDisplayList* list, const AnimMatrix* matrix, const AnimRect* inner) {
  AnimRect r;
  AnimRect_Transform(&r, matrix, inner);
  AnimRect_Add(&list->dirty, &r);
}

bool ListBoundsAt(const AnimDisplayList* list, AnimRect* out, uint32_t nesting, const BoundsWalk& walk) {
  AnimRect_SetEmpty(out);
  if (nesting > kAnimMaxClipDepth) return false;
  for (const AnimDisplayObject* o = list->first; o; o = o->next) {
    AnimRect r;
    if (ObjectBoundsAt(o, &r, nesting, walk)) AnimRect_Add(out, &r);
  }
  return !AnimRect_IsEmpty(out);
}

uint32_t AnimChar_Draw(AnimMovie* m, AnimDisplayObject* o, const AnimChar* c, const AnimMatrix* matrix,
                       const AnimCxform* cx, uint32_t nesting);

uint32_t DrawListAt(AnimMovie* m, AnimDisplayList* list, const AnimMatrix* parent, const AnimCxform* parentCx,
                    uint32_t nesting);

// An edit-text field is the host's to draw: the player binds it to its
// variable (created with the field's initial text) and hands it over.
void ShowField(AnimMovie* m, AnimDisplayObject* o, AnimEditText* field) {
  AnimPlayer* p = m->player;
  if (!field->variable || !*field->variable) {
    char name[24];
    std::snprintf(name, sizeof name, "TextField%u", o->character->id);
    char* stored = AnimStr_Dup(p, name);
    if (!stored) return;
    AnimStr_Free(p, field->variable);
    field->variable = stored;
  }
  char* full = AnimPath_Resolve(p, OwnerPath(o->list), field->variable, kAnimPathVariable);
  if (!full) return;
  AnimVariable* v = AnimVar_Find(p, full);
  if (!v) v = AnimVar_Set(p, full, AnimStr_Dup(p, field->text ? field->text : ""));
  AnimStr_Free(p, full);
  if (!v) return;
  v->boundObject = o;
  o->boundVariable = v;
  AnimHook_EditText(p, field);
}

// A sprite draws at its alpha through its colour transform.
uint32_t AnimSprite_Draw(AnimMovie* m, AnimClip* clip, const AnimMatrix* matrix, const AnimCxform* cx,
                         uint32_t nesting) {
  if (!clip || !clip->visible || nesting >= kAnimMaxClipDepth) return 0;
  AnimCxform scaled;
  const AnimCxform* use = cx;
  if (clip->alpha != 100) {
    if (cx) {
      scaled = *cx;
      scaled.aMul = static_cast<int32_t>(int64_t{scaled.aMul} * clip->alpha / 100);
    } else {
      scaled = AnimCxform{static_cast<int32_t>(int64_t{clip->alpha} * 255 / 100), 0, 255, 0, 255, 0, 255, 0};
    }
    use = &scaled;
  }
  return DrawListAt(m, &clip->list, matrix, use, nesting);
}

// Whether the object's clip touches its depth in the frame it shows: such
// an object is drawn from its records. Objects of unnamed sprite instances
// (a generated name holds "!") always are.
bool ChangesThisFrame(const AnimDisplayObject* o) {
  const AnimClip* clip = o->list ? o->list->owner : nullptr;
  if (!clip || !clip->frames || clip->currentFrame > clip->frameCount) return true;
  if (clip->name && std::strchr(clip->name, '!')) return true;
  for (const AnimDepthNode* n = clip->frames[clip->currentFrame].depths[o->depth & 15]; n; n = n->next)
    if (n->depth == o->depth) return true;
  return false;
}

// Caches take heap the movie's scripts may need: below an eighth of the
// heap free they are let go and no new ones are made.
bool HeapLow(const AnimPlayer* p) { return p->heap.end - p->heap.bytesInUse < p->heap.end / 8; }

// Before a draw from the records: a pool three-quarters full, or with less
// room than the character took at its last draw, is emptied, and with it
// every object's cache; kept edges would otherwise crowd out the draw's.
// The caches kept are listed: letting them go costs no more than the draws
// that made them, however many objects the movie holds.
bool MakeRoom(AnimMovie* m, uint32_t need) {
  AnimRaster& r = m->raster;
  const bool heapLow = HeapLow(m->player);
  if (AnimRaster_PoolLow(&r) || heapLow || r.edgeCapacity - r.nextFree < static_cast<int64_t>(need)) {
    AnimRaster_ResetPool(&r);
    while (r.keptCaches) AnimShapeCache_Release(m->player, r.keptCaches);
  }
  return !heapLow;
}

// A character's draw teaches it how many edges it needs.
void Learn(uint32_t* need, const AnimRaster& r, uint32_t offeredBefore) {
  const uint32_t used = r.edgesOffered - offeredBefore;
  if (used > *need) *need = used;
}

// The cache words a shape object is drawn with, or none. A shape more than
// the whole pool can hold is never kept.
AnimShapeCache* CacheFor(AnimMovie* m, AnimDisplayObject* o, uint32_t need, const AnimMatrix* matrix,
                         const AnimCxform* cx) {
  AnimRaster& r = m->raster;
  const bool big = need > static_cast<uint32_t>(r.edgeCapacity);
  const bool changes = !o || big || r.cacheMode == 1 || (r.cacheMode == 0 && ChangesThisFrame(o));
  if (o) o->changesThisFrame = changes ? 1 : 0;
  if (o && !changes && AnimShapeCache_Valid(&r, &o->cache, matrix, cx)) return &o->cache;
  if (o) AnimShapeCache_Release(m->player, &o->cache);
  const bool keep = MakeRoom(m, need);
  return changes || !keep ? nullptr : &o->cache;
}

}  // namespace

namespace {

// A draw of the "/Background" sprite being kept joins its kept draws.
void KeepDraw(AnimMovie* m, const AnimDisplayObject* o, const AnimChar* c, const AnimMatrix* matrix,
              const AnimCxform* cx) {
  AnimKeptSprite* k = m->keeping;
  AnimKeptChunk* chunk = k->last;
  if (!chunk || chunk->count == chunk->capacity) {
    // A whole chunk, the copies giving way for it; else a shorter one in a
    // hole the heap has (a heap laid out otherwise, by what it held before,
    // keeps the draws all the same). Without room even for one draw the
    // abort flag is set: the sprite cannot be shown as first drawn, and the
    // command reports the failure.
    chunk = nullptr;
    for (uint32_t capacity = kAnimKeptChunkDraws; !chunk && capacity > 0; capacity /= 2) {
      const auto bytes = static_cast<int32_t>(offsetof(AnimKeptChunk, draws) + capacity * sizeof(AnimKeptDraw));
      chunk = static_cast<AnimKeptChunk*>(AnimPlayer_Take(m->player, bytes, capacity == 1 ? kAnimTakeNeed : kAnimTakeDraw));
      if (chunk) {
        chunk->next = nullptr;
        chunk->count = 0;
        chunk->capacity = capacity;
      }
    }
    if (!chunk) return;
    (k->last ? k->last->next : k->first) = chunk;
    k->last = chunk;
  }
  AnimKeptDraw& d = chunk->draws[chunk->count++];
  d.character = c;
  d.matrix = *matrix;
  d.hasCxform = cx ? 1 : 0;
  if (cx) d.cxform = *cx;
  d.ratio = o ? o->ratio : 0;
}

uint32_t DrawFromRecords(AnimMovie* m, AnimDisplayObject* o, const AnimChar* c, const AnimMatrix* matrix,
                         const AnimCxform* cx, int32_t ratio) {
  AnimRaster& r = m->raster;
  const uint32_t offered = r.edgesOffered, dropped = r.edgesDropped;
  int32_t held = 0;
  uint32_t result = kAnimShapeBad;
  switch (c->type) {
    case kAnimShape: {
      auto* shape = static_cast<AnimShape*>(c->body);
      AnimShapeCache* cache = CacheFor(m, o, shape->edgesNeeded, matrix, cx);
      held = r.nextFree;
      result = AnimShape_Draw(&r, shape, matrix, cx, cache);
      if (cache && cache->hasCache) AnimShapeCache_List(&r.keptCaches, cache);
      Learn(&shape->edgesNeeded, r, offered);
      break;
    }
    case kAnimMorph: {
      auto* morph = static_cast<AnimMorph*>(c->body);
      MakeRoom(m, morph->edgesNeeded);
      held = r.nextFree;
      result = AnimMorph_Draw(&r, morph, matrix, cx, static_cast<uint32_t>(ratio));
      Learn(&morph->edgesNeeded, r, offered);
      break;
    }
    case kAnimText:
      MakeRoom(m, 0);
      held = r.nextFree;
      result = AnimText_Draw(&r, static_cast<const AnimText*>(c->body), matrix, cx);
      break;
    default: break;
  }
  // Edges lost to others' kept ones (a need not yet known, or learned under
  // another view or mode): the pass is drawn again, keeping nothing, so the
  // frame shown is what an uncached draw gives.
  if (r.edgesDropped != dropped && held > 0) m->edgesLost = 1;
  return result == kAnimShapeDrawn ? 1 : 0;
}

// Fills the area being redrawn with one colour.
void FillArea(AnimRaster& r, uint16_t colour) {
  if (!r.pixels || r.clipRight < r.clipLeft) return;
  for (int32_t y = r.clipTop; y <= r.clipBottom; ++y) {
    auto* row = reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(r.pixels) + static_cast<intptr_t>(y) * r.rowPitch);
    for (int32_t x = r.clipLeft; x <= r.clipRight; ++x) row[x] = colour;
  }
}

// Each kept draw is met as a walk meets an object when the drawing is
// charged to the step as it goes, and the drawing stops where the step's
// work runs out. False when it stopped so.
bool DrawKeptDraws(AnimMovie* m, const AnimKeptSprite* k, bool charged) {
  for (const AnimKeptChunk* c = k->first; c; c = c->next)
    for (uint32_t i = 0; i < c->count; ++i) {
      if (charged && !Meet(m)) return false;
      const AnimKeptDraw& d = c->draws[i];
      DrawFromRecords(m, nullptr, d.character, &d.matrix, d.hasCxform ? &d.cxform : nullptr, d.ratio);
      if (AnimPlayer_Aborted(m->player) || m->edgesLost) return true;
    }
  return true;
}

// The kept sprites as first drawn, in the walk's order, over their colour,
// in the area being redrawn. False when the step's work ran out first.
bool DrawKept(AnimMovie* m, bool charged) {
  FillArea(m->raster, m->keptColour);
  for (AnimKeptSprite* k = m->kept; k && !AnimPlayer_Aborted(m->player) && !m->edgesLost; k = k->next)
    if (!DrawKeptDraws(m, k, charged)) return false;
  return true;
}

// Where the step's work stood, with the drawing work counted and not yet
// taken: a drawing already paid for goes back to it.
struct WorkMark {
  uint32_t left, out, ranOut;
  uint32_t pixels, steps;
};

WorkMark MarkWork(const AnimMovie* m) {
  const AnimPlayer* p = m->player;
  return {p->workLeft, p->workOut, p->workRanOut, m->raster.pixelsSpanned, m->raster.edgeSteps};
}

void BackToMark(AnimMovie* m, const WorkMark& mark) {
  AnimPlayer* p = m->player;
  p->workLeft = mark.left;
  p->workOut = mark.out;
  p->workRanOut = mark.ranOut;
  m->raster.pixelsSpanned = mark.pixels;
  m->raster.edgeSteps = mark.steps;
}

struct RasterArea {
  uint16_t* pixels;
  int32_t clipLeft, clipRight, clipTop, clipBottom;
  int32_t dirtyXMin, dirtyXMax, dirtyYMin, dirtyYMax;
};

// The renderer's area widened to the whole frame; answers the area it had.
RasterArea WholeArea(AnimRaster& r) {
  const RasterArea saved{r.pixels, r.clipLeft, r.clipRight, r.clipTop, r.clipBottom,
                         r.dirtyXMin, r.dirtyXMax, r.dirtyYMin, r.dirtyYMax};
  r.clipLeft = r.clipTop = 0;
  r.clipRight = r.width - 1;
  r.clipBottom = r.height - 1;
  r.dirtyXMin = r.dirtyYMin = 0;
  r.dirtyXMax = 32 * r.width - 1;
  r.dirtyYMax = 32 * r.height - 1;
  return saved;
}

void RestoreArea(AnimRaster& r, const RasterArea& a) {
  r.pixels = a.pixels;
  r.clipLeft = a.clipLeft;
  r.clipRight = a.clipRight;
  r.clipTop = a.clipTop;
  r.clipBottom = a.clipBottom;
  r.dirtyXMin = a.dirtyXMin;
  r.dirtyXMax = a.dirtyXMax;
  r.dirtyYMin = a.dirtyYMin;
  r.dirtyYMax = a.dirtyYMax;
}

// The buffer of the frame's size the picture is drawn in, allocated once,
// when the heap has room for it.
void PictureBuffer(AnimMovie* m) {
  AnimRaster& r = m->raster;
  const size_t bytes = static_cast<size_t>(r.rowPitch) * static_cast<size_t>(r.height);
  if (!r.backgroundImage && bytes <= 0x7FFFFFFF)
    r.backgroundImage = static_cast<uint16_t*>(AnimPlayer_AllocCopy(m->player, static_cast<int32_t>(bytes)));
}

enum class Picture { kNone, kMade, kCut };

// The picture: the kept sprites drawn over the whole of a buffer of the
// frame's size (allocated once), which clearing then copies from. None
// when the heap has no room left for it, or the drawing lacked room: the
// clearing draws them itself, and a drawing charged to the step is charged
// only there. Cut when the step's work ran out (a drawing charged to it
// is measured only when it leaves work over): the buffer holds what was
// drawn, and is no picture.
Picture MakePicture(AnimMovie* m, bool charged) {
  AnimRaster& r = m->raster;
  AnimPlayer* p = m->player;
  PictureBuffer(m);
  if (!r.backgroundImage || !m->kept) return Picture::kNone;
  const size_t length = std::strlen(m->kept->name) + 1;
  auto* name = static_cast<char*>(AnimPlayer_AllocCopy(p, static_cast<int32_t>(length)));
  if (!name) return Picture::kNone;
  std::memcpy(name, m->kept->name, length);
  const uint32_t lost = m->edgesLost;
  const uint32_t aborted = AnimPlayer_Aborted(p);
  const WorkMark mark = MarkWork(m);
  m->edgesLost = 0;
  const RasterArea saved = WholeArea(r);
  r.pixels = r.backgroundImage;
  const bool drawn = DrawKept(m, charged) && !(charged && AnimWork_Spent(p));
  RestoreArea(r, saved);
  const bool whole = !m->edgesLost && !AnimPlayer_Aborted(p);
  m->edgesLost = lost;
  if (!whole || !drawn) AnimPlayer_Free(p, name);
  if (!whole) {
    BackToMark(m, mark);
    // The room the drawing lacked may be what the buffer holds: the buffer
    // gives way and the clearing draws the kept sprites itself, failing
    // only where a heap without the buffer fails too.
    if (!aborted && AnimPlayer_Aborted(p)) {
      AnimDisplay_FreePicture(m);
      p->heap.abortFlag = 0;
    }
    return Picture::kNone;
  }
  if (!drawn) return Picture::kCut;
  r.backgroundName = name;
  return Picture::kMade;
}

// The kept sprites in the area being redrawn: copied from the picture
// (made first when there is none), else drawn there. False when the step's
// work ran out before all were drawn.
bool ShowKept(AnimMovie* m, bool charged) {
  AnimRaster& r = m->raster;
  if (!r.backgroundName) {
    switch (MakePicture(m, charged)) {
      case Picture::kNone: return DrawKept(m, charged);
      case Picture::kCut: AnimRaster_CopyImage(&r); return false;
      case Picture::kMade: break;
    }
  }
  AnimRaster_ClearFrame(&r);
  return true;
}

}  // namespace

uint32_t AnimDisplay_DrawRecords(AnimMovie* m, AnimDisplayObject* o, const AnimChar* c, const AnimMatrix* matrix,
                                 const AnimCxform* cx) {
  if (m->keeping) {
    KeepDraw(m, o, c, matrix, cx);
    return 1;
  }
  // A pass that kept a new background sprite is drawn again over it.
  if (m->keptAdded) return 0;
  // Only the walk's own draws count: the clearing's draws of kept sprites
  // begin no caches, and whether they are drawn hangs on the heap.
  ++m->shapesDrawn;
  return DrawFromRecords(m, o, c, matrix, cx, o ? o->ratio : 0);
}

void AnimDisplay_ClearToBackground(AnimMovie* m) {
  AnimRaster& r = m->raster;
  if (!m->kept) {
    AnimRaster_ClearFrame(&r);
    return;
  }
  AnimPlayer* p = m->player;
  if (m->keptWorkKnown) {
    // Every clearing costs the step what the kept sprites' first whole
    // drawing cost, whether they are copied from the picture or drawn
    // again, and in whatever area: a heap with room for the picture and one
    // without spend the same. Without that much left they are not shown.
    if (!AnimWork_Take(p, m->keptWork)) {
      FillArea(r, m->keptColour);
      return;
    }
    // Paid for, they are shown whole, whatever work the step has left.
    const WorkMark mark = MarkWork(m);
    p->workLeft = kAnimStepWork;
    p->workOut = 0;
    ShowKept(m, false);
    BackToMark(m, mark);
    return;
  }
  // Their first drawing (the whole frame is redrawn until it is done) is
  // charged as it goes, and what it cost is kept. What it counted short of
  // a whole unit is dropped, as a clearing that pays the cost kept drops it.
  const WorkMark mark = MarkWork(m);
  const bool drawn = ShowKept(m, true);
  r.pixelsSpanned = mark.pixels;
  r.edgeSteps = mark.steps;
  if (drawn && !AnimWork_Spent(p) && !AnimPlayer_Aborted(p) && !m->edgesLost) {
    m->keptWork = mark.left - p->workLeft;
    m->keptWorkKnown = 1;
  }
}

namespace {

uint32_t AnimChar_Draw(AnimMovie* m, AnimDisplayObject* o, const AnimChar* c, const AnimMatrix* matrix,
                       const AnimCxform* cx, uint32_t nesting) {
  switch (c->type) {
    case kAnimShape:
    case kAnimMorph:
    case kAnimText: return AnimDisplay_DrawRecords(m, o, c, matrix, cx);
    case kAnimButton: {
      const auto* b = static_cast<const AnimButton*>(c->body);
      if (b->editText) {
        if (o) ShowField(m, o, b->editText);
        return 0;
      }
      return AnimButton_Draw(m, b, o ? o->buttonState : 1, matrix, cx, o ? AnimButton_NestedClip(m, o) : nullptr,
                             nesting + 1);
    }
    case kAnimSprite: return o ? AnimSprite_Draw(m, o->clip, matrix, cx, nesting + 1) : 0;
    default: return 0;  // bitmaps draw only as the fills of shapes
  }
}

// A "/Background" sprite met by the drawing walk lies under every level,
// as its first drawing showed it: one already kept is drawn by the clearing;
// a new one's drawing is kept now, not drawn, and the pass is drawn again
// over it. The kept sprites stand in the order the walk meets them.
uint32_t KeepBackground(AnimMovie* m, AnimDisplayObject* o, const AnimMatrix* matrix, const AnimCxform* cx,
                        uint32_t nesting) {
  if (AnimKeptSprite* known = FindKept(m, o->name)) {
    m->keptMet = known;
    return 0;
  }
  AnimPlayer* p = m->player;
  const size_t length = std::strlen(o->name) + 1;
  auto* k = static_cast<AnimKeptSprite*>(AnimPlayer_Alloc(p, sizeof(AnimKeptSprite)));
  char* name = k && length < 0x7FFFFFFF ? static_cast<char*>(AnimPlayer_Alloc(p, static_cast<int32_t>(length))) : nullptr;
  if (!name) {
    AnimPlayer_Free(p, k);
    return 0;
  }
  std::memcpy(name, o->name, length);
  k->name = name;
  AnimKeptSprite** link = m->keptMet ? &m->keptMet->next : &m->kept;
  k->next = *link;
  *link = k;
  m->keptMet = k;
  AnimRaster& r = m->raster;
  m->keptWorkKnown = 0;
  m->keptColour = r.backgroundSet
                      ? static_cast<uint16_t>(AnimColor_To16(r.background[0], r.background[1], r.background[2]))
                      : 0;
  // Drawn over the whole frame, whatever part of it this pass redraws.
  const RasterArea saved = WholeArea(r);
  m->keeping = k;
  AnimChar_Draw(m, o, o->character, matrix, cx, nesting);
  m->keeping = nullptr;
  RestoreArea(r, saved);
  m->keptAdded = 1;
  if (r.backgroundName) AnimStr_Free(p, r.backgroundName);
  r.backgroundName = nullptr;
  return 0;
}

// A rotation set by a script joins the object's matrix once.
void JoinExtraMatrix(AnimDisplayObject* o) {
  if (IsSprite(o) && o->name && o->clip && o->clip->extraMatrixSet) {
    AnimMatrix turned;
    AnimMatrix_Concat(&turned, &o->matrix, &o->clip->extraMatrix);
    o->matrix = turned;
    AnimMatrix_SetIdentity(&o->clip->extraMatrix);
    o->clip->extraMatrixSet = 0;
  }
}

uint32_t DrawListAt(AnimMovie* m, AnimDisplayList* list, const AnimMatrix* parent, const AnimCxform* parentCx,
                    uint32_t nesting) {
  uint32_t drew = 0;
  AnimRaster& r = m->raster;
  for (AnimDisplayObject* o = list->first; o; o = o->next) {
    // Every copy is drawn: what one clip shows under several objects is
    // drawn for each. Counted before any is culled.
    ++m->drawVisits;
    if (!Meet(m)) break;
    if (!o->character) continue;
    JoinExtraMatrix(o);
    AnimMatrix matrix;
    AnimMatrix_Concat(&matrix, parent, &o->matrix);
    // Where each copy of a shared clip was drawn, and the copy drawn last
    // (whose place its buttons' matrices hold), for the hit test.
    o->drawnMatrix = matrix;
    if (IsSprite(o) && o->clip) o->clip->drawnAt = matrix;
    AnimRect bounds;
    if (!IsSprite(o) && CharBounds(m, o->character, &bounds, 0)) {
      AnimMatrix device;
      AnimMatrix_Concat(&device, &r.view, &matrix);
      AnimRect px;
      AnimRect_Transform(&px, &device, &bounds);
      if ((int64_t{px.xmax} + 31) >> 5 < r.clipLeft || px.xmin >> 5 > r.clipRight ||
          (int64_t{px.ymax} + 31) >> 5 < r.clipTop || px.ymin >> 5 > r.clipBottom)
        continue;
    }
    AnimCxform combined;
    const AnimCxform* cx = o->cxform ? o->cxform : parentCx;
    if (o->cxform && parentCx) {
      CombineCxform(&combined, parentCx, o->cxform);
      cx = &combined;
    }
    // Inside a kept sprite, a "/Background" sprite is part of its drawing.
    if (IsSprite(o) && IsBackground(o->name) && !m->keeping) {
      drew |= KeepBackground(m, o, &matrix, cx, nesting);
    } else {
      // What the drawing does (records read, edges, pixels) the renderer
      // takes from the step's work itself.
      drew |= AnimChar_Draw(m, o, o->character, &matrix, cx, nesting);
    }
    if (AnimPlayer_Aborted(m->player) || m->edgesLost) break;
  }
  AnimRect_SetEmpty(&list->dirty);
  return drew;
}

}  // namespace

bool AnimRect_IsEmpty(const AnimRect* r) { return r->xmin > r->xmax || r->ymin > r->ymax; }

void AnimRect_Add(AnimRect* r, const AnimRect* o) {
  if (AnimRect_IsEmpty(o)) return;
  if (o->xmin < r->xmin) r->xmin = o->xmin;
  if (o->xmax > r->xmax) r->xmax = o->xmax;
  if (o->ymin < r->ymin) r->ymin = o->ymin;
  if (o->ymax > r->ymax) r->ymax = o->ymax;
}

void AnimRect_Transform(AnimRect* out, const AnimMatrix* m, const AnimRect* in) {
  AnimRect_SetEmpty(out);
  if (AnimRect_IsEmpty(in)) return;
  const int32_t xs[2] = {in->xmin, in->xmax}, ys[2] = {in->ymin, in->ymax};
  for (int32_t x : xs)
    for (int32_t y : ys) {
      int32_t ox, oy;
      AnimMatrix_Apply(m, x, y, &ox, &oy);
      AnimRect point{ox, ox, oy, oy};
      AnimRect_Add(out, &point);
    }
}

void AnimClip_Init(AnimClip* clip, AnimMovie* movie) {
  clip->movie = movie;
  clip->playing = 1;
  clip->firstFramePending = 1;
  clip->xscale = clip->yscale = 100.0f;
  clip->alpha = 100;
  clip->visible = 1;
  AnimMatrix_SetIdentity(&clip->extraMatrix);
  clip->list.owner = clip;
  clip->list.movie = movie;
  AnimRect_SetEmpty(&clip->list.dirty);
}

void AnimDisplay_FreeObject(AnimPlayer* p, AnimDisplayObject* o) {
  if (!o) return;
  AnimShapeCache_Release(p, &o->cache);
  // The kept drawing goes with the sprite that drew it (removed, replaced
  // or rewound away).
  AnimMovie* m = o->list ? o->list->movie : nullptr;
  if (IsCachedBackground(m, o)) DropKept(m, o);
  if (o->boundVariable && o->boundVariable->boundObject == o) o->boundVariable->boundObject = nullptr;
  AnimStr_Free(p, o->name);
  AnimPlayer_Free(p, o->cxform);
  AnimPlayer_Free(p, o);
}

bool AnimDisplay_ObjectBounds(const AnimDisplayObject* o, AnimRect* out) {
  return ObjectBoundsAt(o, out, 0, StartBoundsWalk(o->list ? o->list->movie : nullptr));
}

void AnimDisplay_AddDirty(AnimDisplayList* list, const AnimDisplayObject* o) {
  AnimRect r;
  if (AnimDisplay_ObjectBounds(o, &r)) AnimRect_Add(&list->dirty, &r);
}

bool AnimSprite_GetBounds(AnimClip* clip, AnimRect* out) {
  return AnimSprite_GetBounds(clip, out, 1, StartBoundsWalk(clip ? clip->movie : nullptr));
}

bool AnimDisplay_Bounds(const AnimDisplayList* list, AnimRect* out) {
  return ListBoundsAt(list, out, 0, StartBoundsWalk(list->movie));
}

namespace {

// The areas to redraw of a list and of its nested lists, in the list's
// units. A clip's areas are taken once a walk and added for every object
// that shows it; a clip met inside itself counts as the whole plane (its
// copies draw down to the nesting limit). A clip met again nearer the root
// than it was first met at gives up what the nesting limit left below it
// there as well.
void TakeDirtyAt(AnimDisplayList* list, AnimRect* out, uint32_t nesting, uint64_t walk) {
  *out = list->dirty;
  AnimRect_SetEmpty(&list->dirty);
  if (nesting >= kAnimMaxClipDepth) return;
  for (AnimDisplayObject* o = list->first; o; o = o->next) {
    if (list->movie) ++list->movie->treeVisits;
    Meet(list->movie);
    AnimClip* clip = o->clip;
    if (!clip || &clip->list == list) continue;
    AnimRect inner, moved;
    if (FirstVisit(clip, walk)) {
      clip->treeDone = 0;
      clip->treeNesting = nesting + 1;
      TakeDirtyAt(&clip->list, &inner, nesting + 1, walk);
      clip->treeDirty = inner;
      clip->treeDone = 1;
    } else if (clip->treeDone && nesting + 1 < clip->treeNesting) {
      clip->treeDone = 0;
      clip->treeNesting = nesting + 1;
      TakeDirtyAt(&clip->list, &inner, nesting + 1, walk);
      AnimRect_Add(&inner, &clip->treeDirty);
      clip->treeDirty = inner;
      clip->treeDone = 1;
    } else {
      inner = clip->treeDone ? clip->treeDirty : AnimRect{-32768, 32767, -32768, 32767};
    }
    if (AnimRect_IsEmpty(&inner)) continue;
    AnimRect_Transform(&moved, &o->matrix, &inner);
    AnimRect_Add(out, &moved);
  }
}

}  // namespace

void AnimDisplay_TakeDirty(AnimDisplayList* list, AnimRect* out) {
  AnimRect taken;
  TakeDirtyAt(list, &taken, 0, StartTreeWalk(list->movie));
  AnimRect_Add(out, &taken);
}

void AnimDisplay_Place(AnimDisplayList* list, AnimChar* character, int32_t depth, const AnimMatrix* matrix,
                       const AnimCxform* cxform, const char* name, int32_t ratio) {
  AnimPlayer* p = PlayerOf(list);
  AnimMovie* m = list->movie;
  AnimDisplayObject* old = nullptr;
  for (AnimDisplayObject* o = list->first; o; o = o->next)
    if (o->depth == depth) {
      old = o;
      break;
    }
  if (!character && old) character = old->character;
  if (!character) return;
  AnimMatrix useMatrix;
  if (matrix) useMatrix = *matrix;
  else if (old) useMatrix = old->matrix;
  else AnimMatrix_SetIdentity(&useMatrix);
  if (!cxform && old) cxform = old->cxform;

  if (old && old->character == character) {
    // A move: the object keeps its name and instance clip, and shows what it
    // showed, measured once for where it was and where it goes.
    if (IsButton(old)) AnimButton_Release(&m->input, old);
    if (IsCachedBackground(m, old)) DropKept(m, old);
    AnimRect shown;
    const bool showsAny = InnerBoundsAt(old, &shown, 0, StartBoundsWalk(m));
    if (showsAny) AddShown(list, &old->matrix, &shown);
    AnimShapeCache_Release(p, &old->cache);
    if (IsSprite(old) && old->clip) AnimDisplay_Invalidate(&old->clip->list);
    old->matrix = useMatrix;
    // A sprite's is where its drawing put it: whether it is the copy of its
    // clip drawn last is told by it.
    if (!IsSprite(old)) old->drawnMatrix = useMatrix;
    old->ratio = ratio;
    if (cxform != old->cxform) {
      AnimCxform* copy = CopyCxform(p, cxform);
      if (AnimPlayer_Aborted(p)) return;
      AnimPlayer_Free(p, old->cxform);
      old->cxform = copy;
    }
    old->placedFrame = list->frame;
    if (IsButton(old)) {
      m->input.needsHitTest = 1;
      old->buttonState = old->previousButtonState = 1;
      AnimButton_Refocus(&m->input, old);
    }
    if (showsAny) AddShown(list, &old->matrix, &shown);
    return;
  }

  auto* o = static_cast<AnimDisplayObject*>(AnimPlayer_Alloc(p, sizeof(AnimDisplayObject)));
  if (!o) return;
  o->depth = depth;
  o->ratio = ratio;
  o->placedFrame = list->frame;
  o->character = character;
  o->matrix = useMatrix;
  if (!IsSprite(o)) o->drawnMatrix = useMatrix;
  o->list = list;
  o->buttonState = o->previousButtonState = 1;
  o->cxform = CopyCxform(p, cxform);
  if (!AnimPlayer_Aborted(p)) o->name = NameFor(list, character, depth, name);
  if (!AnimPlayer_Aborted(p) && character->type == kAnimSprite) {
    AnimClip* chain = static_cast<AnimSprite*>(character->body)->clip;
    if (chain && !chain->movie) chain->movie = chain->list.movie = m;
    o->clip = AnimLevel_Find(m, chain, o->name);
    TakeLoadedMovie(m, o);
  }
  if (AnimPlayer_Aborted(p)) {
    AnimDisplay_FreeObject(p, o);
    return;
  }
  if (old) {
    // A replacement: the new character takes the old object's place.
    if (IsButton(old)) AnimButton_Release(&m->input, old);
    // Checked while the old object still has its name: the new one takes it.
    if (IsCachedBackground(m, old)) DropKept(m, old);
    // The old sprite's clip stays in its chain, but nothing draws its list.
    if (IsSprite(old) && old->clip && old->clip != o->clip) AnimDisplay_Invalidate(&old->clip->list);
    AnimDisplay_AddDirty(list, old);
    AnimDisplayObject** link = &list->first;
    while (*link != old) link = &(*link)->next;
    *link = old->next;
    // The object at that depth keeps the name it goes by.
    AnimStr_Free(p, o->name);
    o->name = old->name;
    old->name = nullptr;
    AnimDisplay_FreeObject(p, old);
  }
  InsertByDepth(list, o);
  if (IsButton(o)) {
    m->input.needsHitTest = 1;
    AnimButton_Refocus(&m->input, o);
  }
  AnimDisplay_AddDirty(list, o);
}

AnimChar* AnimDisplay_Remove(AnimDisplayList* list, AnimChar* character, int32_t depth) {
  AnimDisplayObject** link = &list->first;
  while (*link && (*link)->depth != depth) link = &(*link)->next;
  AnimDisplayObject* o = *link;
  if (!o) return nullptr;
  *link = o->next;
  AnimMovie* m = list->movie;
  if (IsButton(o)) AnimButton_Release(&m->input, o);
  AnimDisplay_AddDirty(list, o);
  if (IsSprite(o) && o->clip) AnimClip_Restart(o->clip, true);
  AnimChar* result = character ? character : o->character;
  AnimDisplay_FreeObject(PlayerOf(list), o);
  return result;
}

void AnimDisplay_RemoveTimeline(AnimDisplayList* list, bool all) {
  AnimPlayer* p = PlayerOf(list);
  AnimMovie* m = list->movie;
  AnimDisplayObject** link = &list->first;
  while (*link) {
    AnimDisplayObject* o = *link;
    if (!all && o->depth >= kTimelineDepths) {
      link = &o->next;
      continue;
    }
    *link = o->next;
    if (m) {
      if (IsButton(o)) AnimButton_Release(&m->input, o);
      AnimDisplay_AddDirty(list, o);
      if (IsSprite(o) && o->clip && !all) {
        auto* entry = static_cast<AnimRestart*>(AnimPlayer_Alloc(p, sizeof(AnimRestart)));
        if (entry) {
          entry->frame = o->placedFrame;
          entry->clip = o->clip;
          AnimRestart** tail = &m->restarts;
          while (*tail) tail = &(*tail)->next;
          *tail = entry;
        }
      }
    }
    AnimDisplay_FreeObject(p, o);
  }
}

void AnimDisplay_DropBackground(AnimMovie* m) { DropBackground(m); }

void AnimDisplay_DropPicture(AnimMovie* m) { DropPicture(m); }

bool AnimDisplay_FreePicture(AnimMovie* m) {
  AnimRaster& r = m->raster;
  if (!r.backgroundImage || AnimDisplay_DrawingPicture(m)) return false;
  AnimPlayer_Free(m->player, r.backgroundImage);
  r.backgroundImage = nullptr;
  if (r.backgroundName) AnimStr_Free(m->player, r.backgroundName);
  r.backgroundName = nullptr;
  return true;
}

bool AnimDisplay_DrawingPicture(const AnimMovie* m) {
  return m->raster.backgroundImage && m->raster.pixels == m->raster.backgroundImage;
}

void AnimDisplay_DropKept(AnimMovie* m, const AnimDisplayObject* o) {
  if (IsCachedBackground(m, o)) DropKept(m, o);
}

uint64_t AnimDisplay_StartWalk(AnimMovie* m) { return StartTreeWalk(m); }
bool AnimDisplay_FirstVisit(AnimClip* clip, uint64_t walk) { return FirstVisit(clip, walk); }

void AnimDisplay_Invalidate(AnimDisplayList* list) {
  AnimPlayer* p = PlayerOf(list);
  // Nothing was drawn since every cache was let go: none to let go here
  // (whether the draws kept their edges or not, as the walk is work).
  if (list->movie && list->movie->shapesDrawn == list->movie->drawsLetGo) return;
  if (p) InvalidateAt(p, list, 0, StartTreeWalk(list->movie));
}

void AnimDisplay_InvalidateMovie(AnimMovie* m) { InvalidateMovie(m); }

AnimDisplayObject* AnimDisplay_FindByName(AnimDisplayList* list, const char* name) {
  AnimPlayer* p = PlayerOf(list);
  for (AnimDisplayObject* o = list->first; o; o = o->next)
    if (o->name && AnimName_EqualWalked(p, o->name, name) == 0) return o;
  return nullptr;
}

uint32_t AnimDisplay_DrawClip(AnimMovie* m, AnimClip* clip, const AnimMatrix* matrix, const AnimCxform* cxform,
                              uint32_t nesting) {
  return AnimSprite_Draw(m, clip, matrix, cxform, nesting);
}

uint32_t AnimDisplay_DrawList(AnimMovie* m, AnimDisplayList* list, const AnimMatrix* matrix,
                              const AnimCxform* cxform) {
  return DrawListAt(m, list, matrix, cxform, 0);
}

namespace {

void StartUpdate(AnimMovie* m) {
  if (m) m->updates = StartTreeWalk(m);
}

}  // namespace

uint32_t AnimClip_Update(AnimDisplayList* list) {
  StartUpdate(list->movie);
  return UpdateList(list, 0);
}

uint32_t AnimClip_Advance(AnimClip* clip) {
  uint32_t changed = 0;
  StartUpdate(clip->movie);
  if (clip->playing && !clip->waiting) changed |= StepFrame(clip, true);
  changed |= UpdateList(&clip->list, 0);
  if (changed) clip->changed = 1;
  return changed;
}

uint32_t AnimClip_RunFrame(AnimClip* clip, uint32_t frame, uint32_t mode) {
  if (frame > clip->frameCount) return 0;
  AnimMovie* m = clip->movie;
  AnimPlayer* p = m->player;
  AnimDisplayList* list = &clip->list;
  m->input.needsHitTest = 0;
  list->frame = frame;
  uint32_t changed = 0;
  const AnimFrame& f = clip->frames[frame];
  if (mode != 2) {
    for (const AnimFrameCommand* c = f.first; c; c = c->next) {
      // Each display command applied is work of the step.
      if (!AnimWork_TakeBeforeDrawing(p)) break;
      switch (c->kind) {
        case kAnimPlace:
        case kAnimPlaceFlags:
          if (c->clipDepth != 0) break;
          AnimDisplay_Place(list, (c->flags & 2) ? c->character : nullptr, c->depth,
                            (c->flags & 4) ? &c->matrix : nullptr, (c->flags & 8) ? &c->cxform : nullptr,
                            (c->flags & 32) ? c->name : nullptr, c->ratio);
          changed = 1;
          break;
        case kAnimRemove:
          if (c->character) changed |= AnimDisplay_Remove(list, c->character, c->depth) != nullptr;
          break;
        case kAnimRemoveDepth: changed |= AnimDisplay_Remove(list, nullptr, c->depth) != nullptr; break;
        case kAnimStartSound:
          if (mode == 1 && c->character && c->character->type == kAnimSound)
            AnimSound_Start(p, static_cast<const AnimSound*>(c->character->body), c->soundInfo);
          break;
        case kAnimBackground:
          if (mode == 1) {
            AnimRaster_SetBackground(&m->raster, c->color[0], c->color[1], c->color[2]);
            list->dirty = AnimRect{-32768, 32768, -32768, 32768};
            m->fullRedraw = 1;
            changed = 1;
          }
          break;
        case kAnimNoticeValue:
        case kAnimNotice:
          if (mode == 1) AnimHook_Notify(p, kAnimNotifyProgress, static_cast<int32_t>(c->kind), c->depth, 1, 0);
          break;
        case kAnimShowCaption:
          // The caption's definition is an edit-text field.
          if (mode == 1 && c->character && c->character->type == kAnimButton) {
            const auto* field = static_cast<const AnimButton*>(c->character->body)->editText;
            if (field) AnimCaption_StartDefinition(p, field);
          }
          break;
        case kAnimHideCaption:
          if (mode == 1) AnimCaption_Stop(p);
          break;
        default: break;
      }
      if (AnimPlayer_Aborted(p)) return changed;
    }
    if (m->input.needsHitTest) AnimButton_Track(m);
  }
  if (mode == 0) return changed;
  for (const AnimFrameCommand* c = f.first; c; c = c->next) {
    if (c->kind != kAnimActions) continue;
    const uint32_t bits = AnimAction_Run(clip, c->actions, 0);
    if (bits & (kAnimRunChanged | kAnimRunUpdate)) changed = 1;
    if (AnimPlayer_Aborted(p)) break;
  }
  return changed;
}

void AnimClip_Halt(AnimClip* clip) {
  clip->playing = 0;
  clip->nextFrame = clip->currentFrame;
}

void AnimClip_Restart(AnimClip* clip, bool stale) {
  AnimDisplay_RemoveTimeline(&clip->list, true);
  clip->currentFrame = clip->nextFrame = 0;
  clip->playing = 1;
  clip->waiting = 0;
  clip->firstFramePending = 1;
  if (stale) clip->flagWord |= kAnimClipStale;
}

void AnimClip_RestartAfter(AnimMovie* m, uint32_t frame) {
  if (!m) return;
  for (AnimRestart* e = m->restarts; e;) {
    AnimRestart* next = e->next;
    if (e->frame > frame) {
      e->clip->currentFrame = e->clip->nextFrame = 0;
      e->clip->changed = 1;
      e->clip->waiting = 0;
      e->clip->flagWord |= kAnimClipStale;
    }
    AnimPlayer_Free(m->player, e);
    e = next;
  }
  m->restarts = nullptr;
}

uint32_t AnimClip_Goto(uint32_t oldFrame, AnimClip* clip) {
  const uint32_t target = clip->nextFrame;
  uint32_t start = oldFrame;
  uint32_t changed = 0;
  if (oldFrame > target) {
    start = 0;
    if (target > 0) {
      AnimDisplay_RemoveTimeline(&clip->list, false);
      AnimClip_RestartAfter(clip->movie, target);
    }
  }
  for (uint32_t f = start; f < target; ++f) {
    // A replayed frame is work of the step besides the commands it applies,
    // so jumps back and forth in a loop cannot hang the player.
    if (!AnimWork_TakeBeforeDrawing(clip->movie->player)) break;
    if (f == 0 && clip->firstFramePending) {
      clip->firstFramePending = 0;
      changed |= AnimClip_RunFrame(clip, 0, 1);
    } else {
      changed |= AnimClip_RunFrame(clip, f, 0);
    }
    if (AnimPlayer_Aborted(clip->movie->player)) return changed;
  }
  auto rewind = [&] {
    AnimDisplay_RemoveTimeline(&clip->list, false);
    AnimClip_RestartAfter(clip->movie, 0);
    clip->currentFrame = clip->nextFrame = 0;
  };
  if (target == oldFrame) {
    changed |= AnimClip_RunFrame(clip, target, 0);
  } else if (clip->playing) {
    if (target == 0) {
      rewind();
      AnimClip_RunFrame(clip, 0, 1);
      clip->nextFrame = 1;
      changed = 1;
    } else {
      changed |= AnimClip_RunFrame(clip, target, 0);
    }
  } else {
    if (target == 0) rewind();
    changed |= AnimClip_RunFrame(clip, target, 1);
  }
  if (changed) clip->changed = 1;
  return changed;
}

AnimClip* AnimLevel_Find(AnimMovie* m, AnimClip* chain, const char* name) {
  if (!chain) return m ? AnimMovie_Root(m) : nullptr;
  AnimClip* last = chain;
  for (AnimClip* c = chain; c; c = c->nextLevel) {
    last = c;
    if (!c->name || !*c->name) {
      AnimPlayer* p = c->movie ? c->movie->player : nullptr;
      if (!p) return nullptr;
      char* copy = AnimStr_Dup(p, name ? name : "");
      if (!copy) return nullptr;
      AnimStr_Free(p, c->name);
      c->name = copy;
      if (!c->list.owner) AnimClip_Init(c, c->movie);
      c->firstFramePending = 1;
      c->flagWord |= kAnimClipStale;
      return c;
    }
    if (AnimName_EqualWalked(m ? m->player : nullptr, c->name, name) == 0) return c;
  }
  AnimPlayer* p = last->movie ? last->movie->player : nullptr;
  if (!p) return nullptr;
  auto* c = static_cast<AnimClip*>(AnimPlayer_Alloc(p, sizeof(AnimClip)));
  if (!c) return nullptr;
  AnimClip_Init(c, last->movie);
  c->frameCount = last->frameCount;
  c->framesLoaded = last->framesLoaded;
  c->framesAvailable = last->framesAvailable;
  c->framesClosed = last->framesClosed;
  c->frameRect = last->frameRect;
  c->frames = last->frames;
  c->flagWord = kAnimClipBorrowed | kAnimClipStale;
  c->width = chain->width;
  c->height = chain->height;
  c->name = AnimStr_Dup(p, name ? name : "");
  if (!c->name) {
    AnimPlayer_Free(p, c);
    return nullptr;
  }
  last->nextLevel = c;
  return c;
}

AnimClip* AnimClip_FindByPath(AnimClip* root, const char* path) {
  if (!root || !path) return nullptr;
  if (!std::strchr(path, '/') || std::strcmp(path, "/") == 0) return root;
  const uint32_t depth = AnimPath_Depth(path);
  const size_t pathLength = std::strlen(path);
  AnimPlayer* p = root->movie ? root->movie->player : nullptr;
  AnimClip* clip = root;
  for (uint32_t guard = 0; clip && guard < 64; ++guard) {
    AnimClip* next = nullptr;
    for (AnimDisplayObject* o = clip->list.first; o; o = o->next) {
      if (!IsSprite(o) || !o->name || !o->clip) continue;
      const uint32_t d = AnimPath_Depth(o->name);
      const size_t n = std::strlen(o->name);
      if (p) p->namesWalked += n;  // its depth counted
      if (d == depth && AnimName_EqualWalked(p, o->name, path) == 0) return o->clip;
      if (d < depth && n < pathLength && path[n] == '/') {
        char* prefix = AnimStr_DupN(clip->movie->player, path, static_cast<uint32_t>(n));
        const bool match = prefix && AnimName_EqualWalked(p, prefix, o->name) == 0;
        AnimStr_Free(clip->movie->player, prefix);
        if (match) {
          next = o->clip;
          break;
        }
      }
    }
    clip = next;
  }
  return nullptr;
}

int32_t AnimClip_FindLabel(const AnimClip* clip, const char* label) {
  const uint32_t available = AnimClip_Available(clip);
  AnimPlayer* p = clip->movie ? clip->movie->player : nullptr;
  for (uint32_t f = 0; f < available; ++f)
    if (clip->frames[f].label && AnimName_EqualWalked(p, clip->frames[f].label, label) == 0) return static_cast<int32_t>(f);
  return -1;
}
