#include "kernel/datachunk.h"

#include "kernel/libc.h"
#include "kernel/mem.h"

UtilDataChunk* UtilDataChunkNew(const uint8_t* bytes, uint32_t count, uint32_t module) {
  if (count > UINT32_MAX - sizeof(UtilDataChunk)) return nullptr;
  auto* chunk = static_cast<UtilDataChunk*>(
      MemAlloc(static_cast<uint32_t>(sizeof(UtilDataChunk)) + count, Use::Data, module));
  if (!chunk) return nullptr;
  chunk->link.next = nullptr;
  chunk->remaining = count;
  chunk->offset = 0;
  chunk->halfRead = 0;
  if (count) LibcMemCopy(UtilDataChunkData(chunk), bytes, count);
  return chunk;
}

Result UtilDataChunkAppend(Queue* queue, const uint8_t* bytes, uint32_t count, uint32_t module) {
  if (!queue || (count && !bytes)) return ResultError(module, Err::BadArg);
  if (count == 0) return kOk;
  UtilDataChunk* chunk = UtilDataChunkNew(bytes, count, module);
  if (!chunk) return ResultError(module, Err::NoMemory);
  QueueAppend(queue, &chunk->link);
  return kOk;
}

uint32_t UtilDataChunkQueueBytes(const Queue* queue) {
  uint32_t total = 0;
  for (QueueNode* node = queue->head; node; node = node->next)
    total += UtilDataChunkOf(node)->remaining;
  return total;
}

uint32_t UtilDataChunkTake(Queue* queue, uint8_t* dest, uint32_t count) {
  uint32_t copied = 0;
  while (copied < count && queue->head) {
    UtilDataChunk* chunk = UtilDataChunkHead(queue);
    uint32_t n = count - copied < chunk->remaining ? count - copied : chunk->remaining;
    LibcMemCopy(dest + copied, UtilDataChunkData(chunk) + chunk->offset, n);
    copied += n;
    chunk->offset += n;
    chunk->remaining -= n;
    if (chunk->remaining == 0) {
      QueuePopFront(queue);
      MemFree(&chunk);
    }
  }
  return copied;
}

void UtilDataChunkFreeQueue(Queue* queue) {
  while (QueueNode* node = QueuePopFront(queue)) {
    UtilDataChunk* chunk = UtilDataChunkOf(node);
    MemFree(&chunk);
  }
}
