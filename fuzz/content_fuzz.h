// What the content rows' fuzz targets share: an arena, bodies delivered as
// the fetch layer hands them over (the first byte picks the block size and,
// for decoders that collect whole bodies, whether the length was announced),
// and the check that the heap is where it started once the output is freed.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "content/collect.h"
#include "content/decode_feed.h"
#include "content/vcalca.h"
#include "kernel/config.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "kernel/lng.h"
#include "kernel/mem.h"

inline void Check(bool ok) {
  if (!ok) std::abort();
}

inline void FuzzArenaOnce() {
  static std::vector<uint64_t> arena(1u << 18);
  static const bool ready =
      (HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * 8)), true);
  (void)ready;
}

// Runs a decoder that collects whole bodies over the input (byte 0: block
// size in the low seven bits, announced length in the top bit) with a
// 256,000-byte work buffer; `freeOutput` checks and frees each image. Every
// answer must be 0 or one of the two codes, the decoder must have let go of
// its state, and nothing may stay behind.
template <class State, class Step, class FreeOutput>
void FuzzWholeBodyDecoder(const uint8_t* data, size_t size, Step step, Result badData,
                          Result noMemory, FreeOutput freeOutput) {
  FuzzArenaOnce();
  if (size < 1 || size > 100000) return;
  const uint32_t block = (data[0] & 0x7F) + 1u;
  const bool announce = data[0] & 0x80;
  const uint32_t freeBefore = HeapGetStats().freeBytes;

  auto* work = static_cast<uint8_t*>(MemAlloc(256000, Use::Data, Mod::TestCode));
  Check(work != nullptr);
  ContentSource source{announce ? static_cast<uint32_t>(size - 1) : 0, 0, work, 256000};
  Queue input{}, output{};
  ContentFeed feed{&input, 0, &output, 0, 0};
  State* state = nullptr;
  size_t at = 1;
  Result r = kOk;
  for (;;) {
    if (at < size) {
      const size_t n = size - at < block ? size - at : block;
      Check(UtilDataChunkAppend(&input, data + at, static_cast<uint32_t>(n), Mod::TestCode) == kOk);
      at += n;
      source.deliveredCount = static_cast<uint32_t>(at - 1);
    }
    if (at >= size) feed.endOfData = 1;
    r = step(&state, &feed, &source);
    if (r != kOk || (feed.events & ContentEvent::Done)) break;
    Check(at < size);
  }
  Check(r == kOk || r == badData || r == noMemory);
  Check(state == nullptr);  // the decoder lets go of its state when it ends
  UtilDataChunkFreeQueue(&input);
  while (QueueNode* node = QueuePopFront(&output)) freeOutput(reinterpret_cast<ContentImage*>(node));
  MemFree(&work);
  Check(HeapGetStats().freeBytes == freeBefore);
}

// Runs a decoder that works as the data comes over `body`, delivered in
// blocks of `block` bytes with the load's request flags. Every answer must
// be 0 or one of the two codes, the decoder must have let go of its state,
// and nothing may stay behind.
template <class State, class Step, class FreeOutput>
void FuzzStreamDecoder(const uint8_t* body, size_t size, uint32_t block, uint32_t flags,
                       Step step, Result badData, Result noMemory, FreeOutput freeOutput) {
  FuzzArenaOnce();
  if (size > 100000 || block == 0) return;
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  Queue input{}, output{};
  ContentFeed feed{&input, 0, &output, 0, flags};
  State* state = nullptr;
  size_t at = 0;
  Result r = kOk;
  for (;;) {
    if (at < size) {
      const size_t n = size - at < block ? size - at : block;
      Check(UtilDataChunkAppend(&input, body + at, static_cast<uint32_t>(n), Mod::TestCode) == kOk);
      at += n;
    }
    if (at >= size) feed.endOfData = 1;
    r = step(&state, &feed);
    if (r != kOk || (feed.events & ContentEvent::Done)) break;
    Check(at < size);  // with the data ended the decoder always finishes
  }
  Check(r == kOk || r == badData || r == noMemory);
  Check(state == nullptr);
  UtilDataChunkFreeQueue(&input);
  while (QueueNode* node = QueuePopFront(&output)) freeOutput(reinterpret_cast<ContentImage*>(node));
  Check(HeapGetStats().freeBytes == freeBefore);
}

// Runs a vCard or vCalendar parser over a body whose first byte picks the
// character set the load names (none, UTF-8, Latin-1, UTF-16). Any bytes end
// in the tree or one of the row's codes (`badData` and the out-of-memory
// code), and the heap is back where it started once the tree is freed.
template <class Parse>
void FuzzVcBody(const uint8_t* data, size_t size, uint32_t owner, Parse parse, Result badData,
                Result noMemory) {
  FuzzArenaOnce();
  if (size < 1 || size > 100000) return;
  static const uint32_t kCharsets[] = {0, Mib::Utf8, Mib::Latin1, Mib::Utf16Le, Mib::Utf16Be};
  const uint32_t charset = kCharsets[data[0] % 5];
  const uint32_t freeBefore = HeapGetStats().freeBytes;
  char16_t* text = nullptr;
  uint32_t length = 0;
  Result r = VcDecodeBody(data + 1, static_cast<uint32_t>(size - 1), charset, &text, &length, owner);
  if (r == kOk) {
    ConfigHandle* tree = nullptr;
    Check(ConfigCreate(&tree) == kOk);
    if (text) r = parse(text, length, tree);
    Check(r == kOk || r == badData || r == kVcardBadStructure || r == noMemory);
    ConfigFreeHandle(&tree);
  }
  MemFree(&text);
  Check(HeapGetStats().freeBytes == freeBefore);
}
