// Reading bytes of received content from a queue of data chunks, and the
// detection of a document's encoding from its first bytes.
#include "kernel/lng.h"
#include "kernel/lng_tables.h"
#include "kernel/mem.h"
#include "kernel/datachunk.h"

namespace {

// Takes the head chunk off and frees it once its bytes are used up.
void DropIfUsed(Queue* queue, UtilDataChunk* chunk) {
  if (chunk->remaining) return;
  QueuePopFront(queue);
  MemFree(&chunk);
}

}  // namespace

Result LngChainGetByte(Queue* queue, uint8_t* out) {
  UtilDataChunk* chunk = UtilDataChunkHead(queue);
  // An empty chunk is skipped like a used-up one.
  while (chunk && chunk->remaining == 0) {
    DropIfUsed(queue, chunk);
    chunk = UtilDataChunkHead(queue);
  }
  if (!chunk) return kLngEndOfData;
  *out = UtilDataChunkData(chunk)[chunk->offset];
  ++chunk->offset;
  --chunk->remaining;
  DropIfUsed(queue, chunk);
  return kOk;
}

uint8_t LngChainReadByte(Result* result, Queue* queue) {
  uint8_t byte = 0;
  if (LngChainGetByte(queue, &byte) != kOk) {
    if (result) *result = kLngEndOfData;
    return 0;
  }
  if (byte == 0 && result) *result = kOk;
  return byte;
}

void LngChainCursorInit(LngChainCursor* cursor, Queue* queue) {
  cursor->queue = queue;
  cursor->chunk = nullptr;
  cursor->offset = 0;
  cursor->state = 0;
}

Result LngChainPeekByte(uint8_t* out, LngChainCursor* cursor, int advance) {
  UtilDataChunk* chunk = cursor->chunk;
  uint32_t offset = cursor->offset;
  if (!chunk) {
    chunk = UtilDataChunkHead(cursor->queue);
    if (!chunk) return kLngEndOfData;
    offset = chunk->offset;
  }
  while (offset >= chunk->offset + chunk->remaining) {
    UtilDataChunk* next = UtilDataChunkOf(chunk->link.next);
    if (!next) {
      // Stay at the end of this chunk, so more data appended later is found.
      cursor->chunk = chunk;
      cursor->offset = offset;
      return kLngEndOfData;
    }
    chunk = next;
    offset = next->offset;
  }
  *out = UtilDataChunkData(chunk)[offset];
  cursor->chunk = chunk;
  cursor->offset = advance ? offset + 1 : offset;
  return kOk;
}

uint32_t LngChainPeek(const Queue* queue, uint8_t* out, uint32_t n) {
  uint32_t got = 0;
  for (QueueNode* node = queue->head; node && got < n; node = node->next) {
    const UtilDataChunk* chunk = UtilDataChunkOf(node);
    const uint8_t* data = UtilDataChunkData(chunk) + chunk->offset;
    for (uint32_t i = 0; i < chunk->remaining && got < n; ++i) out[got++] = data[i];
  }
  return got;
}

void LngChainSkip(Queue* queue, uint32_t n) {
  uint8_t byte;
  while (n-- && LngChainGetByte(queue, &byte) == kOk) {
  }
}

int LngDetectCharset(uint32_t* mib, LngChainCursor* cursor) {
  // Each state reads one byte; a state ends either in a decision or in the
  // next state. Out of data, the state and position stay in the cursor.
  for (;;) {
    uint8_t byte;
    if (LngChainPeekByte(&byte, cursor, 1) != kOk) return 0;
    uint32_t decided = 0, consume = 0;
    switch (cursor->state) {
      case 0:
        if (byte == 0) {
          *mib = Mib::Utf16Be;
          return 1;
        }
        cursor->state = byte == 0xEF ? 4 : byte == 0xFE ? 3 : byte == 0xFF ? 2 : 1;
        continue;
      case 1:
        decided = byte == 0 ? Mib::Utf16Le : 0;
        break;
      case 2:
        if (byte == 0xFE) decided = Mib::Utf16Le, consume = 2;
        break;
      case 3:
        if (byte == 0xFF) decided = Mib::Utf16Be, consume = 2;
        break;
      case 4:
        if (byte == 0xBB) {
          cursor->state = 5;
          continue;
        }
        break;
      case 5:
        if (byte == 0xBF) decided = Mib::Utf8, consume = 3;
        break;
      default:
        break;
    }
    LngChainSkip(cursor->queue, consume);
    // The cursor's chunk may be gone with the mark; it has served.
    if (consume) cursor->chunk = nullptr;
    *mib = decided;
    return 1;
  }
}
