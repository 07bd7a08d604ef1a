// The DCT bitmap decoder over arbitrary coded data: it reads nothing outside
// its bytes, keeps the heap's invariants, and gives every block back.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "player/anim_dct.h"
#include "player/anim_heap.h"
#include "player/anim_player.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint8_t> arena(kAnimHeapArena + 1);
  // The decoder takes its blocks through the player's allocator: a player
  // without a movie over its own heap.
  static AnimPlayer player;
  AnimPlayer_Init(&player);
  AnimHeap& heap = player.heap;
  AnimHeap_Reset(&heap, arena.data());
  AnimBitmapTable& table = player.bitmaps;
  // A copy of exactly the input's length, so a read past it is seen.
  std::vector<uint8_t> coded(data, data + size);
  AnimBitmap bitmap{};
  AnimBitmap_Init(&bitmap, 1, 0);
  bitmap.data = coded.data();
  bitmap.codedLength = static_cast<int32_t>(size);
  const int32_t slot = AnimBitmap_Decode(&player, &bitmap);
  if (slot >= 0 && table.slots[slot].width && !table.slots[slot].pixels) std::abort();
  AnimBitmap_FreeAll(&player);
  if (AnimHeap_Check(&heap) || heap.bytesInUse != 0) std::abort();
  return 0;
}
