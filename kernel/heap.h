// The engine's heap: one block handed over by the host, carved by best fit.
//
// Layout inside the block: a 16-byte free-list head, then blocks. A free block
// starts with four 32-bit words {next, prev, size, end}; an allocated block
// with two {size, requested}. Links and ends are 32-bit offsets from the start
// of the block, so the layout is the same on every word size. Block sizes are
// multiples of 8, so every allocation is 8-byte aligned.
#pragma once
#include <cstddef>
#include <cstdint>

// In AddressSanitizer builds the heap tells the sanitizer which bytes are in
// use: free blocks, the heap's headers and every block's bytes past its
// requested size are poisoned, so an overflow or a use after free inside the
// arena is reported like one on the process heap.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QOR_HEAP_POISONS 1
#endif
#endif
#if !defined(QOR_HEAP_POISONS) && defined(__SANITIZE_ADDRESS__)
#define QOR_HEAP_POISONS 1
#endif
#ifndef QOR_HEAP_POISONS
#define QOR_HEAP_POISONS 0
#endif

// Takes the block as the one arena; returns the bytes usable for blocks.
uint32_t HeapArenaInit(void* block, uint32_t size);

void* HeapBlockAlloc(uint32_t n);
void* HeapBlockCalloc(uint32_t n);
void HeapBlockFree(void* p);
void* HeapBlockRealloc(void* p, uint32_t n);
void* HeapBlockReallocZero(void* p, uint32_t n);

// The size a request of n bytes takes in the arena, header included; 0 when
// n is too large for any block (such requests fail).
uint32_t HeapNeed(uint32_t n);

// Inspection, for the memory-usage window and the tests.
struct HeapStats {
  uint32_t arenaBytes;    // usable bytes after the head
  uint32_t freeBytes;     // sum of free block sizes
  uint32_t freeBlocks;    // number of free blocks
  uint32_t largestFree;   // largest free block, header included
};
HeapStats HeapGetStats();
uint32_t HeapBlockSizeOf(const void* p);       // block size of an allocation
uint32_t HeapRequestedSizeOf(const void* p);   // requested size of an allocation
bool HeapOwns(const void* p);                  // p lies inside the arena

// Walks the whole arena and checks its invariants: blocks tile the arena,
// the free list is in ascending address order with consistent back links,
// no two free blocks touch, every free block's end word matches its size.
// Returns null when all holds, else a description of the first fault.
const char* HeapValidate();
