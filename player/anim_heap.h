// The player's own heap, laid over the host's work buffer. Every link the
// heap keeps is a 32-bit offset from the arena's start, so the heap never
// holds a host pointer inside the arena and a bad link stays inside it.
#pragma once

#include <cstdint>

inline constexpr uint32_t kAnimHeapArena = 255999;
inline constexpr uint32_t kAnimHeapBins = 128;
inline constexpr uint32_t kAnimHeapNone = 0xFFFFFFFFu;

struct AnimHeapBin {
  uint32_t count;       // allocations of this bin's size (drives pre-carving)
  uint32_t unmergedFwd, unmergedBwd;
  uint32_t mergedFwd, mergedBwd;
};

struct AnimHeap {
  uint8_t* base;        // arena start (the work buffer)
  uint32_t end;         // arena size in bytes
  uint32_t brk;         // offset of the current break
  uint32_t firstFence;  // offset of the fence that starts the arena taken, or none
  uint32_t topFence;    // offset of the fence that ends it, or none
  uint32_t quick;       // newest freed block, or none
  uint32_t lastExamined;
  uint32_t remainder;
  uint32_t lowest, highest, rover, consolidation;
  uint32_t bytesInUse, peakInUse;
  uint32_t abortFlag;   // the player's abort flag: set by a failed allocation
  AnimHeapBin bins[kAnimHeapBins];
};

void AnimHeap_Reset(AnimHeap* heap, void* arena, uint32_t size = kAnimHeapArena);
// Payload of at least n bytes, or null with the abort flag set.
void* AnimHeap_Alloc(AnimHeap* heap, int32_t n);
// As AnimHeap_Alloc without touching the abort flag.
void* AnimHeap_Malloc(AnimHeap* heap, int32_t n);
void AnimHeap_Free(AnimHeap* heap, void* p);
// Size of the block behind a payload the heap handed out.
uint32_t AnimHeap_BlockSize(const AnimHeap* heap, const void* p);

// Walks every block and list and checks the heap's invariants: sizes, footers,
// fences, list links both ways, which lists hold which blocks, and the bytes in
// use. Returns null when all hold, else a text naming the first fault.
const char* AnimHeap_Check(const AnimHeap* heap);

// The player's number parser: text to double (spaces, sign, digits, fraction,
// exponent introduced by e, E, d or D). With `end`, where it stopped.
double AnimStr_ToNumber(const char* text, const char** end = nullptr);
