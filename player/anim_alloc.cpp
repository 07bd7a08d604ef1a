// One way to take a block: the player's allocator over its heap. It is the
// only player code that calls the heap's own allocation functions; it knows
// what may give way for a block the player needs (the copies of what can be
// drawn again) and lets all of it go before it refuses one.
#include <cstring>

#include "player/anim_movie.h"
#include "player/anim_player.h"
#include "player/anim_shape.h"

namespace {

// The copies but the bitmaps held for the step.
bool LetGoOtherCopies(AnimPlayer* p) {
  AnimMovie* m = p->movie;
  if (!m) return false;
  // The picture, unless it is being drawn: it is made again from the kept
  // sprites when the frame is next cleared (or they are drawn without it).
  bool any = AnimDisplay_FreePicture(m);
  // The edge caches: their objects are drawn from the records instead.
  return AnimShapeCache_LetGoAll(p, &m->raster) || any;
}

}  // namespace

bool AnimPlayer_LetGoCopies(AnimPlayer* p) {
  // The table's decoded bitmaps stay: a frame showing one needs it, and
  // decoding it again would need more room than it holds.
  const bool other = LetGoOtherCopies(p);
  return AnimBitmap_LetGoHeld(p) || other;
}

void* AnimPlayer_Take(AnimPlayer* p, int32_t n, AnimTake kind) {
  void* block = AnimHeap_Malloc(&p->heap, n);
  if (!block && kind != kAnimTakeCopy) {
    // The copies give way, as many times as letting them go freed anything
    // (a picture being drawn stays, and a draw may let go of a cache only
    // when its use allows).
    while (!block && LetGoOtherCopies(p)) block = AnimHeap_Malloc(&p->heap, n);
    if (!block) {
      p->refusedBytes = n > 0 ? static_cast<uint32_t>(n) : 0;
      p->refusedFree = p->heap.end - p->heap.bytesInUse;
    }
    // The bitmaps held for the step go last, when nothing else could: a
    // play keeping caches then decodes no more than one keeping none, but
    // where its heap lacks a hole the other has (a draw asking for one of
    // them decodes it again).
    if (!block && AnimBitmap_LetGoHeld(p) && !(block = AnimHeap_Malloc(&p->heap, n)))
      p->refusedFree = p->heap.end - p->heap.bytesInUse;
    if (!block && (kind == kAnimTakeNeed || (p->movie && AnimDisplay_DrawingPicture(p->movie))))
      p->heap.abortFlag = 1;
  }
  if (block && kind == kAnimTakeNeed) std::memset(block, 0, n > 0 ? static_cast<size_t>(n) : 1u);
  return block;
}

void* AnimPlayer_Alloc(AnimPlayer* p, int32_t n) { return AnimPlayer_Take(p, n, kAnimTakeNeed); }
void* AnimPlayer_TryAlloc(AnimPlayer* p, int32_t n) { return AnimPlayer_Take(p, n, kAnimTakeDraw); }
void* AnimPlayer_AllocCopy(AnimPlayer* p, int32_t n) { return AnimPlayer_Take(p, n, kAnimTakeCopy); }

void AnimPlayer_Free(AnimPlayer* p, void* block) { AnimHeap_Free(&p->heap, block); }
