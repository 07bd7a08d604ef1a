// Buttons: drawing by state, pointer tracking, focus moved by the arrow keys
// within a cone of each direction, select and release, digit keys, and the
// action lists that the state transitions run.
#include <cstring>

#include "player/anim_movie.h"
#include "player/anim_player.h"
#include "player/anim_shape.h"
#include "player/anim_text.h"

namespace {

constexpr uint32_t kUp = 1, kOver = 2, kDown = 4, kHit = 8;
constexpr uint32_t kMaxRecords = 64;
constexpr uint32_t kMaxButtons = 256;

const AnimButton* ButtonOf(const AnimDisplayObject* o) {
  return o && o->character && o->character->type == kAnimButton ? static_cast<const AnimButton*>(o->character->body)
                                                                 : nullptr;
}

bool SkippedField(const AnimButton* b) { return b->editText && (b->editText->flags & 8); }

// Every button of every level in display order, into sprites: a clip shown
// by several objects is walked for each of them, as each shows its buttons
// where it stands (the one drawn last on top). Each object met is work of
// the step; once all but the drawing's part is spent the walk ends where
// it stands.
uint32_t WalkList(AnimDisplayList* list, void* context, uint32_t key, AnimButtonVisit visit, uint32_t nesting) {
  if (nesting > kAnimMaxClipDepth) return 0;
  uint32_t result = 0;
  for (AnimDisplayObject* o = list->first; o; o = o->next) {
    if (list->movie) {
      ++list->movie->treeVisits;
      if (!AnimWork_TakeBeforeDrawing(list->movie->player)) break;
    }
    uint32_t r = 0;
    if (const AnimButton* b = ButtonOf(o)) {
      if (!SkippedField(b)) r = visit(context, key, o, list->owner);
    } else if (o->clip && &o->clip->list != list) {
      r = WalkList(&o->clip->list, context, key, visit, nesting + 1);
    }
    if (r == 2) return 2;
    result |= r;
  }
  return result;
}

// The button's area in its own units: its records of the hit-test state,
// else the last record that has a character.
bool OwnBounds(const AnimButton* b, AnimRect* out) { return AnimButton_GetBounds(b, kHit, out); }

// The button's area on the frame buffer, in 1/32 pixel, under a matrix.
bool DeviceBoundsAt(AnimMovie* m, const AnimDisplayObject* o, const AnimMatrix* matrix, AnimRect* out) {
  AnimRect own;
  if (!OwnBounds(ButtonOf(o), &own)) return false;
  AnimMatrix device;
  AnimMatrix_Concat(&device, &m->view.matrix, matrix);
  AnimRect_Transform(out, &device, &own);
  return !AnimRect_IsEmpty(out);
}

// Where its last drawing put it.
bool DeviceBounds(AnimMovie* m, const AnimDisplayObject* o, AnimRect* out) {
  return DeviceBoundsAt(m, o, &o->drawnMatrix, out);
}

void MarkDirty(AnimDisplayObject* o) { AnimDisplay_AddDirty(o->list, o); }

void SetState(AnimDisplayObject* o, uint32_t state) {
  if (o->buttonState == state) return;
  MarkDirty(o);
  o->buttonState = state;
  MarkDirty(o);
}

uint32_t FocusKindOf(const AnimButton* b) {
  if (!b->editText) return 1;
  return (b->editText->flags & 8) ? 2 : 4;
}

void Focus(AnimMovie* m, AnimDisplayObject* o) {
  SetState(o, kOver);
  m->input.focus = o;
  m->input.focusKind = FocusKindOf(ButtonOf(o));
}

bool Centre(AnimMovie* m, const AnimDisplayObject* o, int32_t* x, int32_t* y) {
  AnimRect r;
  if (!DeviceBounds(m, o, &r)) return false;
  *x = ((r.xmin >> 5) + (r.xmax >> 5)) >> 1;
  *y = ((r.ymin >> 5) + (r.ymax >> 5)) >> 1;
  return true;
}

// Runs a list for a button's clip: the result carries bit 4 when something
// needs an update, and a stopped clip is updated at once.
uint32_t RunFor(AnimMovie* m, AnimClip* clip, const AnimActionRecord* list, bool endStep) {
  uint32_t bits = list ? AnimAction_Run(clip, list, 0) : 0;
  if (endStep) bits |= kAnimRunUpdate;
  if (!(bits & kAnimRunUpdate)) return 0;
  if (clip && !clip->playing) {
    AnimClip_Update(&clip->list);
    if (AnimClip* root = AnimMovie_Root(m)) root->changed = 1;
  }
  return 1;
}

// Runs the transitions of every button whose state changed since it last ran.
uint32_t RunChanged(AnimMovie* m) {
  uint32_t result = 0;
  for (uint32_t round = 0; round < kMaxButtons; ++round) {
    AnimClip* owner = nullptr;
    const AnimActionRecord* list = nullptr;
    if (!AnimButton_FindChanged(m, &owner, &list)) break;
    result |= RunFor(m, owner, list, true);
    if (AnimPlayer_Aborted(m->player)) return 0;
  }
  return result;
}

uint32_t SameOne(void* context, uint32_t, AnimDisplayObject* o, AnimClip*) { return o == context ? 2 : 0; }

// Whether a button is still in some list.
bool Shown(AnimMovie* m, AnimDisplayObject* o) { return AnimButton_Walk(m, o, 0, SameOne) == 2; }

uint32_t KeyPress(AnimMovie* m, uint32_t key) {
  AnimInputState& in = m->input;
  in.pointerMode = 0;
  AnimDisplayObject* focus = in.focus;
  if (key == kAnimKeySelect) {
    if (!focus) return 0;
    SetState(focus, kDown);
    in.eventPending = 1;
    in.pendingEvent = AnimEvent{0, 0, kAnimEventKeyRelease, kAnimKeySelect};
    return RunChanged(m) | 1;
  }
  if (!focus) {
    AnimDisplayObject* first = AnimButton_First(m);
    if (!first) return 0;
    Focus(m, first);
    return RunChanged(m) | 1;
  }
  if (key < kAnimKeyUp || key > kAnimKeyRight) return 0;
  static const int32_t kDirections[4][2] = {{0, -1}, {0, 1}, {-1, 0}, {1, 0}};
  const int32_t* d = kDirections[key - kAnimKeyUp];
  AnimDisplayObject* next = AnimButton_Nearest(m, d[0], d[1], focus);
  if (!next) next = focus;
  SetState(focus, kUp);
  uint32_t result = RunChanged(m);
  // The old focus may have gone with its actions; the new one must still be shown.
  if (Shown(m, next)) Focus(m, next);
  else in.focus = nullptr;
  return result | RunChanged(m) | 1;
}

uint32_t KeyCondition(AnimMovie* m, uint32_t key) {
  AnimClip* owner = nullptr;
  const AnimActionRecord* list = nullptr;
  if (!AnimButton_FindKey(m, key, &owner, &list)) return 0;
  return RunFor(m, owner, list, false);
}

// Walk callbacks of the focus helpers.
struct NearestSearch {
  AnimMovie* movie;
  AnimDisplayObject* focus;
  int32_t dx, dy, fx, fy;
  int64_t bestDistance;
  AnimDisplayObject* best;
};

uint32_t NearestOne(void* context, uint32_t, AnimDisplayObject* o, AnimClip*) {
  auto* n = static_cast<NearestSearch*>(context);
  int32_t x, y;
  if (o == n->focus || !Centre(n->movie, o, &x, &y)) return 0;
  const int32_t ddx = x - n->fx, ddy = y - n->fy;
  int32_t along, across;
  if (n->dy < 0) along = -ddy, across = ddx;
  else if (n->dy > 0) along = ddy, across = -ddx;
  else if (n->dx > 0) along = ddx, across = ddy;
  else along = -ddx, across = ddy;
  if (along < 0 || across < -2 * along || across > 2 * along) return 0;
  const int64_t distance = int64_t{along} * along + int64_t{across} * across;
  if (distance < n->bestDistance) {
    n->bestDistance = distance;
    n->best = o;
  }
  return 0;
}

struct Pick {
  AnimDisplayObject* object;
  AnimClip* owner;
  const AnimActionRecord* list;
};

uint32_t FirstOne(void* context, uint32_t, AnimDisplayObject* o, AnimClip* owner) {
  *static_cast<Pick*>(context) = Pick{o, owner, nullptr};
  return 2;
}

uint32_t ChangedOne(void* context, uint32_t, AnimDisplayObject* o, AnimClip* owner) {
  if (o->previousButtonState == o->buttonState) return 0;
  *static_cast<Pick*>(context) = Pick{o, owner, nullptr};
  return 2;
}

// The last button under the pointer in walk order is the one drawn on top.
struct HitSearch {
  AnimMovie* movie;
  AnimDisplayObject* hit;
};

void HitOne(HitSearch* search, AnimDisplayObject* o, const AnimMatrix* matrix) {
  const AnimInputState& in = search->movie->input;
  AnimRect r;
  if (DeviceBoundsAt(search->movie, o, matrix, &r) && in.pointerX >= r.xmin && in.pointerX <= r.xmax &&
      in.pointerY >= r.ymin && in.pointerY <= r.ymax)
    search->hit = o;
}

bool SameMatrix(const AnimMatrix& a, const AnimMatrix& b) {
  return a.a == b.a && a.b == b.b && a.c == b.c && a.d == b.d && a.tx == b.tx && a.ty == b.ty;
}

// The buttons in walk order, each copy of a shared clip hit-tested where it
// stands. Through the copies drawn last a button is where its drawn matrix
// says; through another copy (at: that copy's place), where the copy puts
// it. Each object met is work of the step, as in WalkList.
void TrackList(HitSearch* search, AnimDisplayList* list, const AnimMatrix* at, uint32_t nesting) {
  if (nesting > kAnimMaxClipDepth) return;
  for (AnimDisplayObject* o = list->first; o; o = o->next) {
    if (list->movie) {
      ++list->movie->treeVisits;
      if (!AnimWork_TakeBeforeDrawing(list->movie->player)) break;
    }
    AnimMatrix own;
    if (at) AnimMatrix_Concat(&own, at, &o->matrix);
    if (const AnimButton* b = ButtonOf(o)) {
      if (!SkippedField(b)) HitOne(search, o, at ? &own : &o->drawnMatrix);
    } else if (o->clip && &o->clip->list != list) {
      if (!at && !SameMatrix(o->drawnMatrix, o->clip->drawnAt)) {
        // Not the copy drawn last: placed where its list was drawn.
        AnimMatrix base;
        AnimMatrix_SetIdentity(&base);
        if (nesting > 0 && list->owner) base = list->owner->drawnAt;
        AnimMatrix_Concat(&own, &base, &o->matrix);
        TrackList(search, &o->clip->list, &own, nesting + 1);
      } else {
        TrackList(search, &o->clip->list, at ? &own : nullptr, nesting + 1);
      }
    }
  }
}

// Every other button goes up.
uint32_t UpOne(void* context, uint32_t, AnimDisplayObject* o, AnimClip*) {
  if (o != context && o->buttonState != kUp) SetState(o, kUp);
  return 0;
}

uint32_t KeyOne(void* context, uint32_t word, AnimDisplayObject* o, AnimClip* owner) {
  for (const AnimCondition* c = ButtonOf(o)->conditions; c; c = c->next) {
    if (c->bits != word) continue;
    *static_cast<Pick*>(context) = Pick{o, owner, c->actions};
    return 2;
  }
  return 0;
}

}  // namespace

uint32_t AnimButton_Walk(AnimMovie* m, void* context, uint32_t key, AnimButtonVisit visit) {
  uint32_t result = 0;
  const uint64_t walk = AnimDisplay_StartWalk(m);
  for (AnimStream* s = m->levels; s; s = s->next) {
    if (s->level == kAnimLevelRemoved || !s->root || !AnimDisplay_FirstVisit(s->root, walk)) continue;
    const uint32_t r = WalkList(&s->root->list, context, key, visit, 0);
    if (r == 2) return 2;
    result |= r;
  }
  return result;
}

AnimDisplayObject* AnimButton_FindChanged(AnimMovie* m, AnimClip** owner, const AnimActionRecord** list) {
  Pick pick{};
  AnimButton_Walk(m, &pick, 0, ChangedOne);
  *owner = pick.owner;
  *list = nullptr;
  AnimDisplayObject* o = pick.object;
  if (!o) return nullptr;
  const AnimButton* b = ButtonOf(o);
  if (b->conditions) *list = AnimButton_TransitionActions(b, o->buttonState, o->previousButtonState);
  else if (o->buttonState == kDown) *list = b->actions;
  o->previousButtonState = o->buttonState;
  return o;
}

AnimDisplayObject* AnimButton_Nearest(AnimMovie* m, int32_t dx, int32_t dy, AnimDisplayObject* focus) {
  NearestSearch n{m, focus, dx, dy, 0, 0, 0x7FFFFFFF, nullptr};
  if (!Centre(m, focus, &n.fx, &n.fy)) return nullptr;
  AnimButton_Walk(m, &n, 0, NearestOne);
  return n.best;
}

AnimDisplayObject* AnimButton_First(AnimMovie* m) {
  Pick pick{};
  AnimButton_Walk(m, &pick, 0, FirstOne);
  return pick.object;
}

AnimDisplayObject* AnimButton_FindKey(AnimMovie* m, uint32_t key, AnimClip** owner, const AnimActionRecord** list) {
  *owner = nullptr;
  *list = nullptr;
  // Keys 24 to 36 stand for '0' and the codes after it; the condition word
  // names the key in its upper seven bits and nothing else.
  if (key < 24 || key > 36) return nullptr;
  Pick pick{};
  AnimButton_Walk(m, &pick, ('0' + key - 24) << 9, KeyOne);
  *owner = pick.owner;
  *list = pick.list;
  return pick.object;
}

bool AnimButton_Bounds(const AnimDisplayObject* o, AnimRect* out) {
  AnimRect own;
  AnimRect_SetEmpty(out);
  if (!ButtonOf(o) || !OwnBounds(ButtonOf(o), &own)) return false;
  AnimRect_Transform(out, &o->matrix, &own);
  return !AnimRect_IsEmpty(out);
}

AnimClip* AnimButton_NestedClip(AnimMovie* m, AnimDisplayObject* o) {
  const AnimButton* b = ButtonOf(o);
  if (!b || !o->name) return nullptr;
  // The record of the button's state when it is a sprite, else the first
  // sprite record: one instance clip plays through every state.
  const AnimButtonRecord* selected = AnimButton_SelectRecord(b, o->buttonState);
  if (!selected || !selected->character || selected->character->type != kAnimSprite) selected = nullptr;
  for (const AnimButtonRecord* r = selected ? selected : b->records; r; r = r->next) {
    if (!r->character || r->character->type != kAnimSprite) continue;
    AnimClip* chain = static_cast<AnimSprite*>(r->character->body)->clip;
    if (chain && !chain->movie) chain->movie = chain->list.movie = m;
    return AnimLevel_Find(m, chain, o->name);
  }
  return nullptr;
}

uint32_t AnimButton_Draw(AnimMovie* m, const AnimButton* button, uint32_t state, const AnimMatrix* matrix,
                         const AnimCxform* cxform, AnimClip* nested, uint32_t nesting) {
  if (nesting > kAnimMaxClipDepth) return 0;
  const AnimButtonRecord* chosen[kMaxRecords];
  uint32_t n = 0;
  for (const AnimButtonRecord* r = button->records; r && n < kMaxRecords; r = r->next) {
    if (!r->character || !(r->states & state)) continue;
    // By depth, equal depths in record order.
    uint32_t at = n;
    while (at > 0 && chosen[at - 1]->depth > r->depth) {
      chosen[at] = chosen[at - 1];
      --at;
    }
    chosen[at] = r;
    ++n;
  }
  uint32_t drew = 0;
  // Each record drawn is met as an object of a list is: buttons inside
  // buttons multiply their records.
  for (uint32_t i = 0; i < n && AnimWork_Take(m->player); ++i) {
    const AnimButtonRecord* r = chosen[i];
    AnimMatrix combined;
    AnimMatrix_Concat(&combined, matrix, &r->matrix);
    const AnimCxform* cx = cxform ? cxform : r->cxform;
    const AnimChar* c = r->character;
    if (c->type == kAnimShape || c->type == kAnimMorph || c->type == kAnimText)
      drew |= AnimDisplay_DrawRecords(m, nullptr, c, &combined, cx);
    else if (c->type == kAnimButton)
      drew |= AnimButton_Draw(m, static_cast<const AnimButton*>(c->body), state, &combined, cx, nullptr, nesting + 1);
    else if (c->type == kAnimSprite && nested)
      drew |= AnimDisplay_DrawClip(m, nested, &combined, cx, nesting + 1);
  }
  return drew;
}

void AnimButton_Track(AnimMovie* m) {
  AnimInputState& in = m->input;
  if (!in.pointerMode) return;
  HitSearch search{m, nullptr};
  const uint64_t walk = AnimDisplay_StartWalk(m);
  for (AnimStream* s = m->levels; s; s = s->next)
    if (s->level != kAnimLevelRemoved && s->root && AnimDisplay_FirstVisit(s->root, walk))
      TrackList(&search, &s->root->list, nullptr, 0);
  AnimDisplayObject* hit = search.hit;
  AnimButton_Walk(m, hit, 0, UpOne);
  if (hit) {
    SetState(hit, in.pressed ? kDown : kOver);
    in.focus = hit;
    in.focusKind = FocusKindOf(ButtonOf(hit));
  }
  AnimHook_Cursor(m->player, hit ? 1 : 0);
}

void AnimButton_Release(AnimInputState* in, AnimDisplayObject* o) {
  if (!ButtonOf(o)) return;
  if (!in->pointerMode && o->buttonState == kOver && o->character) in->rememberedChar = o->character->id;
  if (in->focus == o || (!in->pointerMode && o->buttonState == kOver)) {
    in->focus = nullptr;
    in->focusKind = 0;
  }
}

void AnimButton_Refocus(AnimInputState* in, AnimDisplayObject* o) {
  if (in->pointerMode || in->focus || !o->character || o->character->id != in->rememberedChar ||
      in->rememberedChar == 0)
    return;
  o->buttonState = o->previousButtonState = kOver;
  in->focus = o;
  in->focusKind = FocusKindOf(ButtonOf(o));
  in->rememberedChar = 0;
}

uint32_t AnimClip_HandleEvent(AnimClip* clip, const AnimEvent* e) {
  AnimMovie* m = clip->movie;
  AnimInputState& in = m->input;
  switch (e->kind) {
    case kAnimEventMove:
    case kAnimEventPress:
    case kAnimEventRelease:
      in.pointerMode = 1;
      if (e->kind == kAnimEventMove) {
        in.pointerX = e->x * 32;
        in.pointerY = e->y * 32;
      }
      if (e->kind == kAnimEventPress) in.pressed = 1;
      if (e->kind == kAnimEventRelease) in.pressed = 0;
      AnimButton_Track(m);
      return RunChanged(m);
    case kAnimEventKey: return KeyPress(m, e->key);
    case kAnimEventKeyCondition: return KeyCondition(m, e->key);
    case kAnimEventKeyRelease:
      if (in.pointerMode || !in.focus) return 0;
      SetState(in.focus, kOver);
      return RunChanged(m) | 1;
    default: return 0;
  }
}
