// The content-data chunk: received content is kept as a Queue of these in
// arrival order. The bytes of a chunk follow its record; the unread ones are
// `remaining` bytes from `offset` on. A reader that uses a chunk up takes it
// off the queue and frees it (kernel/datachunk.h stays header-only for readers,
// so the kernel's character readers use it without linking the network).
#pragma once
#include <cstdint>

#include "kernel/list.h"
#include "kernel/modules.h"

struct UtilDataChunk {
  QueueNode link;      // next chunk
  uint32_t remaining;  // unread bytes
  uint32_t offset;     // read offset into the data
  // The UTF-8 reader gives a four-byte character as two units: after the
  // first it leaves the bytes queued and marks here the read offset + 1 of
  // the character whose second unit is due (0: none). Any read that moves
  // the offset makes the mark stale by itself.
  uint32_t halfRead;
  // data bytes follow
};

inline uint8_t* UtilDataChunkData(UtilDataChunk* chunk) {
  return reinterpret_cast<uint8_t*>(chunk + 1);
}
inline const uint8_t* UtilDataChunkData(const UtilDataChunk* chunk) {
  return reinterpret_cast<const uint8_t*>(chunk + 1);
}
inline UtilDataChunk* UtilDataChunkOf(QueueNode* node) {
  return reinterpret_cast<UtilDataChunk*>(node);
}
inline UtilDataChunk* UtilDataChunkHead(const Queue* queue) {
  return UtilDataChunkOf(queue->head);
}

// A new chunk holding a copy of the bytes (allocated for `module`), not yet
// queued; null when memory runs out.
UtilDataChunk* UtilDataChunkNew(const uint8_t* bytes, uint32_t count, uint32_t module);
// Copies the bytes into a new chunk at the end of the queue. An empty count
// queues nothing (readers take an empty chunk for a used-up one).
Result UtilDataChunkAppend(Queue* queue, const uint8_t* bytes, uint32_t count, uint32_t module);
// The unread bytes of every chunk of the queue.
uint32_t UtilDataChunkQueueBytes(const Queue* queue);
// Copies up to `count` unread bytes into dest and consumes them, freeing the
// chunks used up; the bytes copied.
uint32_t UtilDataChunkTake(Queue* queue, uint8_t* dest, uint32_t count);
// Frees every chunk of the queue and empties it.
void UtilDataChunkFreeQueue(Queue* queue);
