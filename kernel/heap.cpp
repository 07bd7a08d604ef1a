// The engine's heap: best fit over one free list kept in address order.
//
// Everything inside the block is addressed by 32-bit offsets from its start.
// The free-list head sits at offset 0 as {first, 0, last, pad}; seen as a
// free-list node, offset 0 is the node before the first block (its next word
// is `first`) and offset 4 the node after the last (its next word is the
// always-zero tail, its prev word is `last`), so linking and unlinking never
// test for the ends.
#include "kernel/heap.h"

#include <cstring>

#if QOR_HEAP_POISONS
#include <sanitizer/asan_interface.h>
// Everything in the arena except the live bytes of allocated blocks is
// poisoned, the heap's own headers included, so the heap works on its headers
// from code the sanitizer does not instrument. Copies and fills still go
// through the checked library functions: they only touch bytes made
// addressable first.
#define HEAP_FN __attribute__((no_sanitize_address))
#else
#define HEAP_FN
#endif

namespace {

struct HeapFreeHdr {
  uint32_t next;
  uint32_t prev;
  uint32_t size;  // header included
  uint32_t end;   // offset of the first byte behind the block
};

struct HeapUsedHdr {
  uint32_t size;       // header included
  uint32_t requested;  // what a resize copies and a zeroing resize clears from
};

constexpr uint32_t kHeapHead = 0;
constexpr uint32_t kHeapEnd = 4;
constexpr uint32_t kHeapHeadBytes = 16;  // three words, padded to keep blocks 8-aligned
constexpr uint32_t kHeapMinBlock = 16;   // a free block needs its four words
constexpr uint32_t kHeapUsedBytes = sizeof(HeapUsedHdr);

uint8_t* gHeapBase = nullptr;
uint32_t gHeapSize = 0;  // bytes from gHeapBase, head included

HEAP_FN inline HeapFreeHdr* HeapFreeAt(uint32_t off) {
  return reinterpret_cast<HeapFreeHdr*>(gHeapBase + off);
}
HEAP_FN inline HeapUsedHdr* HeapUsedAt(uint32_t off) {
  return reinterpret_cast<HeapUsedHdr*>(gHeapBase + off);
}
inline void* HeapDataAt(uint32_t off) { return gHeapBase + off + kHeapUsedBytes; }
HEAP_FN inline uint32_t HeapBlockOf(const void* p) {
  return static_cast<uint32_t>(static_cast<const uint8_t*>(p) - gHeapBase) - kHeapUsedBytes;
}

// Poisons [off, off + n) of the arena; both are multiples of 8.
inline void HeapPoison(uint32_t off, uint32_t n) {
#if QOR_HEAP_POISONS
  ASAN_POISON_MEMORY_REGION(gHeapBase + off, n);
#else
  (void)off, (void)n;
#endif
}

// Makes the first n data bytes of the block at off addressable, and only those.
inline void HeapExpose(uint32_t off, uint32_t n) {
#if QOR_HEAP_POISONS
  ASAN_UNPOISON_MEMORY_REGION(gHeapBase + off + kHeapUsedBytes, n);
#else
  (void)off, (void)n;
#endif
}

// A block's first data byte is addressable exactly while the block is
// allocated (every request is at least one byte), so touching it from
// checked code reports a second free or a resize of a freed block where it
// happens, before the free list is damaged.
inline void HeapCheckLive(const void* p) {
#if QOR_HEAP_POISONS
  (void)*static_cast<const volatile uint8_t*>(p);
#else
  (void)p;
#endif
}

HEAP_FN inline void HeapSetFree(uint32_t off, uint32_t size) {
  HeapFreeHdr* f = HeapFreeAt(off);
  f->size = size;
  f->end = off + size;
}

// Puts the node at off between prev and next, which are neighbours.
HEAP_FN inline void HeapLinkBetween(uint32_t prev, uint32_t off, uint32_t next) {
  HeapFreeHdr* f = HeapFreeAt(off);
  f->prev = prev;
  f->next = next;
  HeapFreeAt(prev)->next = off;
  HeapFreeAt(next)->prev = off;
}

HEAP_FN inline void HeapUnlink(uint32_t off) {
  const HeapFreeHdr* f = HeapFreeAt(off);
  HeapFreeAt(f->prev)->next = f->next;
  HeapFreeAt(f->next)->prev = f->prev;
}

// The first free block above off, or the end node.
// Free blocks sit at offsets of 16 and up and the end node at 4, so one
// unsigned comparison (off >= 16) stops the walk both at off and at the end.
HEAP_FN inline uint32_t HeapFindAbove(uint32_t off) {
  const uint8_t* base = gHeapBase;
  uint32_t o = HeapFreeAt(kHeapHead)->next;
  while (o - (kHeapEnd + 1) < off - (kHeapEnd + 1))
    o = reinterpret_cast<const HeapFreeHdr*>(base + o)->next;
  return o;
}

// Returns the block [off, off + size) to the free list, merging it with the
// free blocks that touch it.
HEAP_FN void HeapRelease(uint32_t off, uint32_t size) {
  HeapPoison(off, size);
  const uint32_t above = HeapFindAbove(off);
  const uint32_t below = HeapFreeAt(above)->prev;  // the end node's prev is `last`
  const bool joinBelow = below != kHeapHead && HeapFreeAt(below)->end == off;
  const bool joinAbove = above != kHeapEnd && off + size == above;
  if (joinBelow && joinAbove) {
    const uint32_t total = HeapFreeAt(below)->size + size + HeapFreeAt(above)->size;
    HeapUnlink(above);
    HeapSetFree(below, total);
  } else if (joinBelow) {
    HeapSetFree(below, HeapFreeAt(below)->size + size);
  } else if (joinAbove) {
    const HeapFreeHdr* a = HeapFreeAt(above);
    const uint32_t total = size + a->size;
    const uint32_t prev = a->prev, next = a->next;
    HeapLinkBetween(prev, off, next);
    HeapSetFree(off, total);
  } else {
    HeapLinkBetween(below, off, above);
    HeapSetFree(off, size);
  }
}

HEAP_FN inline bool HeapIsBlockData(const void* p) {
  return HeapOwns(p) && (static_cast<const uint8_t*>(p) - gHeapBase) % 8 == 0;
}

}  // namespace

HEAP_FN uint32_t HeapNeed(uint32_t n) {
  if (n < 8) return kHeapMinBlock;
  // A request this close to 4 GB has no representable block size.
  if (n > UINT32_MAX - kHeapUsedBytes - 7) return 0;
  return (n + kHeapUsedBytes + 7) & ~7u;
}

HEAP_FN uint32_t HeapArenaInit(void* block, uint32_t size) {
  // The old arena goes back to its owner as ordinary memory.
  if (gHeapBase) {
#if QOR_HEAP_POISONS
    ASAN_UNPOISON_MEMORY_REGION(gHeapBase, gHeapSize);
#endif
  }
  gHeapBase = nullptr;
  gHeapSize = 0;
  if (!block) return 0;
  const uintptr_t at = reinterpret_cast<uintptr_t>(block);
  const uint32_t skip = static_cast<uint32_t>((8 - at % 8) % 8);
  if (size < skip + kHeapHeadBytes) return 0;
  size = (size - skip) & ~7u;

  gHeapBase = static_cast<uint8_t*>(block) + skip;
  HeapFreeHdr* head = HeapFreeAt(kHeapHead);
  head->next = kHeapEnd;   // first
  head->prev = 0;          // tail
  head->size = kHeapHead;  // last (the word at offset 8)
  head->end = 0;           // padding
  if (size - kHeapHeadBytes < kHeapMinBlock) {
    // Too small to hold even one block: an empty arena.
    gHeapSize = kHeapHeadBytes;
    HeapPoison(0, gHeapSize);
    return 0;
  }
  gHeapSize = size;
  HeapPoison(0, gHeapSize);
  HeapLinkBetween(kHeapHead, kHeapHeadBytes, kHeapEnd);
  HeapSetFree(kHeapHeadBytes, size - kHeapHeadBytes);
  return size - kHeapHeadBytes;
}

namespace {

// Best fit: the block with the smallest surplus, the lower one on a tie, an
// exact fit at once. Null offset (kHeapEnd) when nothing fits.
HEAP_FN inline uint32_t HeapFindFit(uint32_t need, uint32_t* bestSize) {
  // A block too small for need gives a surplus that wraps to at least
  // 2^32 - need + 16, above every real surplus (the arena is below 4 GB),
  // so one unsigned comparison both rejects it and ranks the others. The
  // selection compiles to conditional moves: the walk's only data-dependent
  // branch is the rare exact fit.
  const uint8_t* base = gHeapBase;
  uint32_t best = kHeapEnd;
  uint32_t bestSurplus = 0u - need;
  for (uint32_t o = HeapFreeAt(kHeapHead)->next; o != kHeapEnd;) {
    const HeapFreeHdr* f = reinterpret_cast<const HeapFreeHdr*>(base + o);
    const uint32_t surplus = f->size - need;
    const bool better = surplus < bestSurplus;
    best = better ? o : best;
    bestSurplus = better ? surplus : bestSurplus;
    if (surplus == 0) break;
    o = f->next;
  }
  *bestSize = bestSurplus + need;
  return best;
}

// Carves a block for n bytes and returns its offset, kHeapEnd when none fits.
// Its bytes stay poisoned.
HEAP_FN uint32_t HeapTake(uint32_t n) {
  if (n == 0 || !gHeapBase) return kHeapEnd;
  const uint32_t need = HeapNeed(n);
  if (need == 0) return kHeapEnd;

  uint32_t bestSize;
  const uint32_t best = HeapFindFit(need, &bestSize);
  if (best == kHeapEnd) return kHeapEnd;

  uint32_t size = bestSize;
  if (bestSize - need < kHeapMinBlock) {
    HeapUnlink(best);
  } else {
    // The high remainder takes the block's place in the list.
    const HeapFreeHdr* f = HeapFreeAt(best);
    const uint32_t prev = f->prev, next = f->next;
    HeapLinkBetween(prev, best + need, next);
    HeapSetFree(best + need, bestSize - need);
    size = need;
  }
  HeapUsedHdr* h = HeapUsedAt(best);
  h->size = size;
  h->requested = n;
  return best;
}

}  // namespace

HEAP_FN void* HeapBlockAlloc(uint32_t n) {
  const uint32_t b = HeapTake(n);
  if (b == kHeapEnd) return nullptr;
  HeapExpose(b, n);
  return HeapDataAt(b);
}

HEAP_FN void* HeapBlockCalloc(uint32_t n) {
  const uint32_t b = HeapTake(n);
  if (b == kHeapEnd) return nullptr;
  // The whole data area is cleared, slack included; only n bytes stay open.
  const uint32_t area = HeapUsedAt(b)->size - kHeapUsedBytes;
  HeapExpose(b, area);
  std::memset(HeapDataAt(b), 0, area);
  HeapPoison(b, HeapUsedAt(b)->size);
  HeapExpose(b, n);
  return HeapDataAt(b);
}

HEAP_FN void HeapBlockFree(void* p) {
  // Null and pointers from elsewhere would corrupt the free list; ignore them.
  if (!p || !gHeapBase || !HeapIsBlockData(p)) return;
  HeapCheckLive(p);
  const uint32_t off = HeapBlockOf(p);
  HeapRelease(off, HeapUsedAt(off)->size);
}

HEAP_FN void* HeapBlockRealloc(void* p, uint32_t n) {
  if (!p || n == 0 || !gHeapBase || !HeapIsBlockData(p)) return nullptr;
  HeapCheckLive(p);
  const uint32_t need = HeapNeed(n);
  if (need == 0) return nullptr;
  const uint32_t b = HeapBlockOf(p);
  HeapUsedHdr* h = HeapUsedAt(b);
  const uint32_t cur = h->size;
  const uint32_t oldReq = h->requested;

  if (need <= cur) {
    HeapPoison(b, cur);
    if (cur - need >= kHeapMinBlock) {
      h->size = need;
      HeapRelease(b + need, cur - need);
    }
    h->requested = n;
    HeapExpose(b, n);
    return p;
  }

  const uint32_t above = HeapFindAbove(b);
  const uint32_t below = HeapFreeAt(above)->prev;
  const uint32_t behind = (above != kHeapEnd && above == b + cur) ? HeapFreeAt(above)->size : 0;
  const uint32_t before =
      (below != kHeapHead && HeapFreeAt(below)->end == b) ? HeapFreeAt(below)->size : 0;

  if (behind && cur + behind >= need) {
    // Grow in place into the free block behind.
    const HeapFreeHdr* f = HeapFreeAt(above);
    const uint32_t prev = f->prev, next = f->next;
    const uint32_t rest = cur + behind - need;
    if (rest >= kHeapMinBlock) {
      HeapLinkBetween(prev, b + need, next);
      HeapSetFree(b + need, rest);
      h->size = need;
    } else {
      HeapUnlink(above);
      h->size = cur + behind;
    }
    h->requested = n;
    HeapExpose(b, n);
    return p;
  }

  if (before && (before + cur >= need || (behind && before + cur + behind >= need))) {
    // Slide down into the free block before, taking the one behind too when
    // the two alone fall short.
    const HeapFreeHdr* f = HeapFreeAt(below);
    const uint32_t prev = f->prev;
    uint32_t next = f->next;
    uint32_t total = before + cur;
    if (total < need || (behind && total - need >= kHeapMinBlock)) {
      // Also absorb the free block behind: either it is needed, or the
      // remainder would touch it and the two must be one free block.
      total += behind;
      next = HeapFreeAt(above)->next;
    }
    const uint32_t rest = total - need;
    HeapExpose(below, oldReq);
    std::memmove(HeapDataAt(below), p, oldReq);
    HeapPoison(below, total);
    HeapUsedHdr* nh = HeapUsedAt(below);
    if (rest >= kHeapMinBlock) {
      HeapLinkBetween(prev, below + need, next);
      HeapSetFree(below + need, rest);
      nh->size = need;
    } else {
      HeapFreeAt(prev)->next = next;
      HeapFreeAt(next)->prev = prev;
      nh->size = total;
    }
    nh->requested = n;
    HeapExpose(below, n);
    return HeapDataAt(below);
  }

  void* q = HeapBlockAlloc(n);
  if (!q) return nullptr;
  std::memcpy(q, p, oldReq < n ? oldReq : n);
  HeapRelease(b, cur);
  return q;
}

HEAP_FN void* HeapBlockReallocZero(void* p, uint32_t n) {
  if (!p || !gHeapBase || !HeapIsBlockData(p)) return nullptr;
  const uint32_t oldReq = HeapUsedAt(HeapBlockOf(p))->requested;
  void* q = HeapBlockRealloc(p, n);
  if (q && n > oldReq) std::memset(static_cast<uint8_t*>(q) + oldReq, 0, n - oldReq);
  return q;
}

HEAP_FN HeapStats HeapGetStats() {
  HeapStats s{};
  if (!gHeapBase) return s;
  s.arenaBytes = gHeapSize - kHeapHeadBytes;
  for (uint32_t o = HeapFreeAt(kHeapHead)->next; o != kHeapEnd; o = HeapFreeAt(o)->next) {
    const uint32_t size = HeapFreeAt(o)->size;
    s.freeBytes += size;
    ++s.freeBlocks;
    if (size > s.largestFree) s.largestFree = size;
  }
  return s;
}

HEAP_FN uint32_t HeapBlockSizeOf(const void* p) {
  return p && HeapIsBlockData(p) ? HeapUsedAt(HeapBlockOf(p))->size : 0;
}

HEAP_FN uint32_t HeapRequestedSizeOf(const void* p) {
  return p && HeapIsBlockData(p) ? HeapUsedAt(HeapBlockOf(p))->requested : 0;
}

HEAP_FN bool HeapOwns(const void* p) {
  if (!gHeapBase || !p) return false;
  const uintptr_t at = reinterpret_cast<uintptr_t>(p);
  const uintptr_t base = reinterpret_cast<uintptr_t>(gHeapBase);
  return at >= base + kHeapHeadBytes + kHeapUsedBytes && at < base + gHeapSize;
}

HEAP_FN const char* HeapValidate() {
  if (!gHeapBase) return nullptr;
  const HeapFreeHdr* head = HeapFreeAt(kHeapHead);
  if (head->prev != 0) return "free-list tail word is not zero";

  uint32_t expectFree = head->next;  // the next free block the walk must meet
  uint32_t lastFree = kHeapHead;
  bool prevWasFree = false;
  uint32_t o = kHeapHeadBytes;
  while (o < gHeapSize) {
    if (gHeapSize - o < kHeapMinBlock) return "arena ends inside a block header";
    if (expectFree != kHeapEnd && expectFree < o) return "free-list link misses a block start";
    if (o == expectFree) {
      const HeapFreeHdr* f = HeapFreeAt(o);
      if (f->size < kHeapMinBlock || f->size % 8) return "free block has a bad size";
      if (f->size > gHeapSize - o) return "free block runs past the arena";
      if (f->end != o + f->size) return "free block end word does not match its size";
      if (f->prev != lastFree) return "free-list back link is wrong";
      if (prevWasFree) return "two free blocks touch";
      lastFree = o;
      expectFree = f->next;
      prevWasFree = true;
      o += f->size;
    } else {
      const HeapUsedHdr* h = HeapUsedAt(o);
      if (h->size < kHeapMinBlock || h->size % 8) return "allocated block has a bad size";
      if (h->size > gHeapSize - o) return "allocated block runs past the arena";
      if (h->requested == 0 || HeapNeed(h->requested) == 0 || HeapNeed(h->requested) > h->size)
        return "allocated block's requested size does not fit it";
      prevWasFree = false;
      o += h->size;
    }
  }
  if (o != gHeapSize) return "blocks do not tile the arena";
  if (expectFree != kHeapEnd) return "free list holds a block outside the arena walk";
  if (HeapFreeAt(kHeapEnd)->prev != lastFree) return "free-list last link is wrong";
  return nullptr;
}
