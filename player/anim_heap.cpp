#include "player/anim_heap.h"

#include <cstring>

namespace {

constexpr uint32_t kInUse = 1;
constexpr uint32_t kUnmerged = 2;  // in an unmerged list: counts as in use for neighbours
constexpr uint32_t kFence = 5;
constexpr uint32_t kSentinel = 0xFFFF0000u;  // | bin << 1 | list (0 unmerged, 1 merged)
constexpr uint32_t kMinBlock = 16;
constexpr uint32_t kGrowStep = 8192;

bool IsSentinel(uint32_t link) { return link != kAnimHeapNone && (link & 0xFFFF0000u) == kSentinel; }
uint32_t Sentinel(uint32_t bin, uint32_t merged) { return kSentinel | (bin << 1) | merged; }

uint32_t Word(const AnimHeap* h, uint32_t off) {
  uint32_t v;
  std::memcpy(&v, h->base + off, 4);
  return v;
}
void SetWord(AnimHeap* h, uint32_t off, uint32_t v) { std::memcpy(h->base + off, &v, 4); }

uint32_t SizeOf(const AnimHeap* h, uint32_t c) { return Word(h, c) & ~7u; }
uint32_t FlagsOf(const AnimHeap* h, uint32_t c) { return Word(h, c) & 7u; }
void SetBlock(AnimHeap* h, uint32_t c, uint32_t size, uint32_t flags) {
  SetWord(h, c, size | flags);
  SetWord(h, c + size - 4, size);
}

uint32_t BinOf(uint32_t s) {
  if (s < 512) return s / 8;
  const uint32_t t = s / 512;
  if (t < 5) return 56 + s / 64;
  if (t < 21) return 91 + s / 512;
  if (t < 85) return 110 + s / 4096;
  if (t < 341) return 119 + s / 32768;
  if (t < 1365) return 124 + s / 262144;
  return 126;
}

uint32_t RequestSize(int32_t n) {
  if (n < 1) return kMinBlock;
  const uint64_t r = (static_cast<uint64_t>(n) + 15) & ~7ull;
  return r > 0x7FFFFFF0u ? 0x7FFFFFF0u : static_cast<uint32_t>(r);
}

// Links of a list member or a bin's sentinel.
uint32_t Fwd(const AnimHeap* h, uint32_t link) {
  if (IsSentinel(link)) {
    const AnimHeapBin& b = h->bins[(link >> 1) & 127];
    return (link & 1) ? b.mergedFwd : b.unmergedFwd;
  }
  return Word(h, link + 4);
}
uint32_t Bwd(const AnimHeap* h, uint32_t link) {
  if (IsSentinel(link)) {
    const AnimHeapBin& b = h->bins[(link >> 1) & 127];
    return (link & 1) ? b.mergedBwd : b.unmergedBwd;
  }
  return Word(h, link + 8);
}
void SetFwd(AnimHeap* h, uint32_t link, uint32_t v) {
  if (IsSentinel(link)) {
    AnimHeapBin& b = h->bins[(link >> 1) & 127];
    ((link & 1) ? b.mergedFwd : b.unmergedFwd) = v;
  } else {
    SetWord(h, link + 4, v);
  }
}
void SetBwd(AnimHeap* h, uint32_t link, uint32_t v) {
  if (IsSentinel(link)) {
    AnimHeapBin& b = h->bins[(link >> 1) & 127];
    ((link & 1) ? b.mergedBwd : b.unmergedBwd) = v;
  } else {
    SetWord(h, link + 8, v);
  }
}

bool ListEmpty(const AnimHeap* h, uint32_t sentinel) { return Fwd(h, sentinel) == sentinel; }
void InsertFront(AnimHeap* h, uint32_t sentinel, uint32_t c) {
  const uint32_t first = Fwd(h, sentinel);
  SetFwd(h, c, first);
  SetBwd(h, c, sentinel);
  SetBwd(h, first, c);
  SetFwd(h, sentinel, c);
}
void Unlink(AnimHeap* h, uint32_t c) {
  const uint32_t f = Fwd(h, c), b = Bwd(h, c);
  SetFwd(h, b, f);
  SetBwd(h, f, b);
}
// Oldest member (the list is filed at the front), or none.
uint32_t Oldest(const AnimHeap* h, uint32_t sentinel) {
  const uint32_t last = Bwd(h, sentinel);
  return last == sentinel ? kAnimHeapNone : last;
}

void Take(AnimHeap* h, uint32_t c) {
  SetBlock(h, c, SizeOf(h, c), kInUse);
  h->bytesInUse += SizeOf(h, c);
  if (h->bytesInUse > h->peakInUse) h->peakInUse = h->bytesInUse;
}
void* Payload(AnimHeap* h, uint32_t c) { return h->base + c + 4; }

void FileUnmerged(AnimHeap* h, uint32_t c) {
  const uint32_t size = SizeOf(h, c);
  SetBlock(h, c, size, kUnmerged);
  InsertFront(h, Sentinel(BinOf(size), 0), c);
}
void FileMerged(AnimHeap* h, uint32_t c) {
  const uint32_t size = SizeOf(h, c);
  const uint32_t bin = BinOf(size);
  SetBlock(h, c, size, 0);
  InsertFront(h, Sentinel(bin, 1), c);
  if (bin < h->lowest) h->lowest = bin;
  if (bin > h->highest) h->highest = bin;
}

bool Fits(uint32_t size, uint32_t r) { return size >= r && size < r + 16; }

// Splits the free block c (in no list) for r and takes the front part.
void* Split(AnimHeap* h, uint32_t c, uint32_t r) {
  const uint32_t size = SizeOf(h, c);
  if (c == h->remainder) h->remainder = kAnimHeapNone;
  if (size - r < kMinBlock) {
    Take(h, c);
    return Payload(h, c);
  }
  AnimHeapBin& bin = h->bins[BinOf(r)];
  const uint32_t before = bin.count++;
  SetBlock(h, c, r, 0);
  Take(h, c);
  uint32_t rest = c + r, restSize = size - r;
  if (r < 512 && restSize >= r + 16 && before > 0) {
    const uint32_t most = before < 64 ? before : 64;
    for (uint32_t made = 1; made < most && restSize >= r + 16; ++made) {
      SetBlock(h, rest, r, kInUse);
      SetWord(h, rest + 4, h->quick);
      h->quick = rest;
      ++bin.count;
      rest += r;
      restSize -= r;
    }
  }
  if (h->remainder != kAnimHeapNone) FileMerged(h, h->remainder);
  SetBlock(h, rest, restSize, 0);
  h->remainder = rest;
  return Payload(h, c);
}

bool MergeableAt(const AnimHeap* h, uint32_t c) { return FlagsOf(h, c) == 0; }

void Detach(AnimHeap* h, uint32_t c) {
  if (c == h->remainder) h->remainder = kAnimHeapNone;
  else Unlink(h, c);
}

// Merges the free block c (in no list) with its free neighbours; returns the result.
uint32_t Coalesce(AnimHeap* h, uint32_t c) {
  uint32_t size = SizeOf(h, c);
  const uint32_t prevSize = Word(h, c - 4) & ~7u;
  if (prevSize >= kMinBlock && prevSize <= c) {
    const uint32_t prev = c - prevSize;
    if (MergeableAt(h, prev) && SizeOf(h, prev) == prevSize) {
      Detach(h, prev);
      c = prev;
      size += prevSize;
    }
  }
  const uint32_t next = c + size;
  if (MergeableAt(h, next)) {
    const uint32_t nextSize = SizeOf(h, next);
    Detach(h, next);
    size += nextSize;
  }
  SetBlock(h, c, size, 0);
  return c;
}

void* Grow(AnimHeap* h, uint32_t r) {
  if (h->remainder != kAnimHeapNone) {
    const uint32_t rem = h->remainder;
    h->remainder = kAnimHeapNone;
    const uint32_t merged = Coalesce(h, rem);
    if (SizeOf(h, merged) >= r) return Split(h, merged, r);
    FileMerged(h, merged);
  }
  uint32_t bin = h->consolidation;
  for (uint32_t round = 0; round < 125; ++round) {
    AnimHeapBin& b = h->bins[bin];
    b.count >>= 1;
    const uint32_t sentinel = Sentinel(bin, 0);
    for (uint32_t c = Oldest(h, sentinel); c != kAnimHeapNone; c = Oldest(h, sentinel)) {
      Unlink(h, c);
      SetBlock(h, c, SizeOf(h, c), 0);
      const uint32_t merged = Coalesce(h, c);
      if (SizeOf(h, merged) >= r) {
        h->consolidation = bin;
        return Split(h, merged, r);
      }
      FileMerged(h, merged);
    }
    bin = bin == 2 ? 126 : bin - 1;
  }
  uint64_t ext = (static_cast<uint64_t>(r) + 8199) & ~static_cast<uint64_t>(kGrowStep - 1);
  uint32_t start = h->brk;
  const uintptr_t misalign = reinterpret_cast<uintptr_t>(h->base + start) & 7u;
  if (misalign) {
    start += 8 - static_cast<uint32_t>(misalign);
    ext -= 8;
  }
  // The new block loses 8 bytes to its fences: a request just under a step
  // takes one more step, so the block always holds it.
  if (ext < static_cast<uint64_t>(r) + 8) ext += kGrowStep;
  if (start + ext > h->end) return nullptr;
  const uint32_t ext32 = static_cast<uint32_t>(ext);
  uint32_t block;
  if (h->topFence != kAnimHeapNone && start == h->topFence + 4) {
    block = h->topFence;
    SetBlock(h, block, ext32, 0);
    h->topFence = block + ext32;
  } else {
    SetWord(h, start, kFence);
    if (h->firstFence == kAnimHeapNone) h->firstFence = start;
    block = start + 4;
    SetBlock(h, block, ext32 - 8, 0);
    h->topFence = start + ext32 - 4;
  }
  SetWord(h, h->topFence, kFence);
  h->brk = start + ext32;
  block = Coalesce(h, block);
  return Split(h, block, r);
}

}  // namespace

void AnimHeap_Reset(AnimHeap* heap, void* arena, uint32_t size) {
  heap->base = static_cast<uint8_t*>(arena);
  heap->end = size < kAnimHeapArena ? size : kAnimHeapArena;
  heap->brk = 0;
  heap->firstFence = kAnimHeapNone;
  heap->topFence = kAnimHeapNone;
  heap->quick = kAnimHeapNone;
  heap->lastExamined = kAnimHeapNone;
  heap->remainder = kAnimHeapNone;
  heap->lowest = 127;
  heap->highest = 1;
  heap->rover = 2;
  heap->consolidation = 126;
  heap->bytesInUse = 0;
  heap->peakInUse = 0;
  for (uint32_t i = 0; i < kAnimHeapBins; ++i) {
    AnimHeapBin& b = heap->bins[i];
    b.count = 0;
    b.unmergedFwd = b.unmergedBwd = Sentinel(i, 0);
    b.mergedFwd = b.mergedBwd = Sentinel(i, 1);
  }
}

void* AnimHeap_Malloc(AnimHeap* h, int32_t n) {
  if (!h->base) return nullptr;
  const uint32_t r = RequestSize(n);
  if (r > h->end) return nullptr;
  const uint32_t rb = BinOf(r);

  // 1. The quick list.
  if (h->quick != kAnimHeapNone) {
    const uint32_t head = h->quick;
    const uint32_t second = Word(h, head + 4);
    if (Fits(SizeOf(h, head), r)) {
      h->quick = second;
      h->lastExamined = h->quick;
      Take(h, head);
      return Payload(h, head);
    }
    if (second != kAnimHeapNone && Fits(SizeOf(h, second), r)) {
      SetWord(h, head + 4, Word(h, second + 4));
      h->lastExamined = h->quick;
      Take(h, second);
      return Payload(h, second);
    }
    if (head == h->lastExamined) {
      h->quick = second;
      FileUnmerged(h, head);
    }
    h->lastExamined = h->quick;
  }

  // 2. and 3. The request's own bin.
  if (r < 504) {
    const uint32_t lists[3] = {Sentinel(rb, 0), Sentinel(rb, 1), Sentinel(rb + 1, 0)};
    for (uint32_t s : lists) {
      const uint32_t c = Oldest(h, s);
      if (c != kAnimHeapNone) {
        Unlink(h, c);
        Take(h, c);
        return Payload(h, c);
      }
    }
  } else {
    const uint32_t us = Sentinel(rb, 0);
    for (uint32_t c = Bwd(h, us); c != us; c = Bwd(h, c)) {
      if (Fits(SizeOf(h, c), r)) {
        Unlink(h, c);
        Take(h, c);
        return Payload(h, c);
      }
    }
    const uint32_t ms = Sentinel(rb, 1);
    for (uint32_t c = Bwd(h, ms); c != ms; c = Bwd(h, c)) {
      if (SizeOf(h, c) >= r) {
        Unlink(h, c);
        return Split(h, c, r);
      }
    }
  }

  // 4. Drain the quick list.
  for (uint32_t c = h->quick, first = 1; c != kAnimHeapNone; first = 0) {
    const uint32_t next = Word(h, c + 4);
    if (!first && Fits(SizeOf(h, c), r)) {
      h->quick = next;
      Take(h, c);
      return Payload(h, c);
    }
    FileUnmerged(h, c);
    h->quick = next;
    c = next;
  }
  h->quick = kAnimHeapNone;
  h->lastExamined = kAnimHeapNone;

  // 5. Above every filed block: the remainder or fresh arena.
  if (rb >= h->highest) {
    if (h->remainder != kAnimHeapNone && SizeOf(h, h->remainder) >= r) return Split(h, h->remainder, r);
    return Grow(h, r);
  }

  // 6. The rover's bin.
  if (rb < h->rover && !ListEmpty(h, Sentinel(h->rover, 1))) {
    const uint32_t c = Oldest(h, Sentinel(h->rover, 1));
    Unlink(h, c);
    return Split(h, c, r);
  }

  // 7. Scan upwards for a merged block.
  const uint32_t from = rb + 1 > h->lowest ? rb + 1 : h->lowest;
  for (uint32_t bin = from; bin <= h->highest && bin < kAnimHeapBins; ++bin) {
    const uint32_t s = Sentinel(bin, 1);
    if (ListEmpty(h, s)) continue;
    const uint32_t c = Oldest(h, s);
    AnimHeapBin& b = h->bins[bin];
    if (b.count == 0 && Fwd(h, s) != c) {
      h->rover = bin;
    } else {
      b.count >>= 1;
      h->rover = 2;
    }
    if (rb < h->lowest && bin < h->lowest) h->lowest = bin;
    Unlink(h, c);
    return Split(h, c, r);
  }
  uint32_t hi = 1, lo = 127;
  for (uint32_t bin = 2; bin < kAnimHeapBins; ++bin) {
    if (ListEmpty(h, Sentinel(bin, 1))) continue;
    if (bin < lo) lo = bin;
    hi = bin;
  }
  h->highest = hi;
  h->lowest = lo;
  h->rover = 2;
  if (h->remainder != kAnimHeapNone && SizeOf(h, h->remainder) >= r) return Split(h, h->remainder, r);
  return Grow(h, r);
}

void* AnimHeap_Alloc(AnimHeap* heap, int32_t n) {
  void* p = AnimHeap_Malloc(heap, n);
  if (!p) heap->abortFlag = 1;
  return p;
}

void AnimHeap_Free(AnimHeap* h, void* p) {
  if (!p || !h->base) return;
  const auto* bytes = static_cast<const uint8_t*>(p);
  if (bytes < h->base + 8 || bytes > h->base + h->brk) return;
  const uint32_t c = static_cast<uint32_t>(bytes - h->base) - 4;
  // Only a block the heap handed out: in use and inside the arena taken.
  if (FlagsOf(h, c) != kInUse) return;
  const uint32_t size = SizeOf(h, c);
  if (size < kMinBlock || c + size > h->brk || Word(h, c + size - 4) != size) return;
  SetWord(h, c + 4, h->quick);
  h->quick = c;
  h->bytesInUse -= size;
}

uint32_t AnimHeap_BlockSize(const AnimHeap* h, const void* p) {
  return SizeOf(h, static_cast<uint32_t>(static_cast<const uint8_t*>(p) - h->base) - 4);
}

const char* AnimHeap_Check(const AnimHeap* h) {
  if (h->firstFence == kAnimHeapNone) {
    if (h->quick != kAnimHeapNone || h->remainder != kAnimHeapNone) return "lists without arena";
    return h->bytesInUse == 0 ? nullptr : "bytes in use without arena";
  }
  if (Word(h, h->firstFence) != kFence) return "first fence";
  if (h->topFence >= h->brk || Word(h, h->topFence) != kFence) return "top fence";
  // Marks per block: 1 merged list, 2 unmerged list, 4 quick list, 8 remainder.
  // Kept in a side table outside the arena's bytes: one byte per 8 bytes of arena.
  static uint8_t marks[(kAnimHeapArena / 8) + 2];
  const uint32_t markCount = h->topFence / 8 + 1;
  std::memset(marks, 0, markCount);
  auto mark = [&](uint32_t c, uint8_t m) -> bool {
    if (c < h->firstFence + 4 || c >= h->topFence || ((c - h->firstFence - 4) & 7)) return false;
    uint8_t& slot = marks[c / 8];
    if (slot) return false;
    slot = m;
    return true;
  };
  uint32_t listed = 0;
  for (uint32_t bin = 0; bin < kAnimHeapBins; ++bin) {
    for (uint32_t merged = 0; merged < 2; ++merged) {
      const uint32_t s = Sentinel(bin, merged);
      uint32_t prev = s;
      for (uint32_t c = Fwd(h, s); c != s; c = Fwd(h, c)) {
        if (IsSentinel(c) || c == kAnimHeapNone) return "list runs into another list";
        if (!mark(c, merged ? 1 : 2)) return "list member outside the arena or listed twice";
        if (Bwd(h, c) != prev) return "backward link";
        if (BinOf(SizeOf(h, c)) != bin) return "block in the wrong bin";
        if (FlagsOf(h, c) != (merged ? 0u : kUnmerged)) return "list member's flags";
        prev = c;
        if (++listed > h->end / 16) return "list cycle";
      }
      if (Bwd(h, s) != prev) return "list tail";
    }
  }
  for (uint32_t c = h->quick; c != kAnimHeapNone; c = Word(h, c + 4)) {
    if (!mark(c, 4)) return "quick-list member outside the arena or listed twice";
    if (FlagsOf(h, c) != kInUse) return "quick-list member not in use";
  }
  if (h->remainder != kAnimHeapNone) {
    if (!mark(h->remainder, 8)) return "remainder outside the arena or listed";
    if (FlagsOf(h, h->remainder) != 0) return "remainder not free";
  }
  uint32_t used = 0;
  uint32_t c = h->firstFence + 4;
  while (c < h->topFence) {
    const uint32_t size = SizeOf(h, c), flags = FlagsOf(h, c);
    if (size < kMinBlock || c + size > h->topFence) return "block size";
    if (Word(h, c + size - 4) != size) return "footer";
    const uint8_t m = marks[c / 8];
    if (flags == 0 && m != 1 && m != 8) return "free block in no merged list";
    if (flags == kUnmerged && m != 2) return "unmerged block in no unmerged list";
    if (flags == kInUse && m != 0 && m != 4) return "used block in a free list";
    if (flags != 0 && flags != kUnmerged && flags != kInUse) return "block flags";
    if (flags == kInUse && m == 0) used += size;
    marks[c / 8] = 0x80;
    c += size;
  }
  if (c != h->topFence) return "blocks do not end at the top fence";
  for (uint32_t i = 0; i < markCount; ++i)
    if (marks[i] && marks[i] != 0x80) return "listed block is not a block";
  if (used != h->bytesInUse) return "bytes in use";
  return nullptr;
}

double AnimStr_ToNumber(const char* s, const char** end) {
  if (end) *end = s;
  if (!s) return 0;
  while (*s == ' ') ++s;
  bool negative = false;
  if (*s == '-' || *s == '+') negative = *s++ == '-';
  double v = 0, f = 0;
  int16_t digits = 0, exponent = 0;
  while (*s >= '0' && *s <= '9') v = v * 10 + (*s++ - '0');
  bool hasExponent = false;
  if (*s == '.') {
    ++s;
    while (*s >= '0' && *s <= '9') {
      f = f * 10 + (*s++ - '0');
      digits = static_cast<int16_t>(digits + 1);
    }
  }
  if (*s == 'e' || *s == 'E' || *s == 'd' || *s == 'D') hasExponent = true;
  if (hasExponent) {
    ++s;
    bool negExp = false;
    if (*s == '-') {
      negExp = true;
      ++s;
    }
    while (*s >= '0' && *s <= '9') exponent = static_cast<int16_t>(exponent * 10 + (*s++ - '0'));
    if (negExp) exponent = static_cast<int16_t>(-exponent);
  }
  if (end) *end = s;
  double scale = 1;
  for (int i = 0; i < digits; ++i) scale *= 10;
  double result = v + f / scale;
  if (negative) result = -result;
  if (exponent != 0) {
    double p = 1;
    const int e = exponent < 0 ? -exponent : exponent;
    for (int i = 0; i < e && p < 1e308; ++i) p *= 10;
    result = exponent < 0 ? result / p : result * p;
  }
  return result;
}
