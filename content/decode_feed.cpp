#include "content/decode_feed.h"

#include "kernel/mem.h"

const uint8_t* ContentFeedPeek(ContentFeed* feed, uint32_t* count) {
  while (feed->input->head) {
    UtilDataChunk* chunk = UtilDataChunkHead(feed->input);
    if (chunk->remaining) {
      *count = chunk->remaining;
      return UtilDataChunkData(chunk) + chunk->offset;
    }
    QueuePopFront(feed->input);
    MemFree(&chunk);
  }
  *count = 0;
  return nullptr;
}

void ContentFeedConsume(ContentFeed* feed, uint32_t n) {
  UtilDataChunk* chunk = UtilDataChunkHead(feed->input);
  if (!chunk) return;
  if (n > chunk->remaining) n = chunk->remaining;
  chunk->offset += n;
  chunk->remaining -= n;
  if (chunk->remaining == 0) {
    QueuePopFront(feed->input);
    MemFree(&chunk);
  }
}

bool ContentFeedByte(ContentFeed* feed, uint8_t* byte) {
  uint32_t count;
  const uint8_t* bytes = ContentFeedPeek(feed, &count);
  if (!bytes) return false;
  *byte = bytes[0];
  ContentFeedConsume(feed, 1);
  return true;
}

bool ContentFeedEnded(ContentFeed* feed) {
  uint32_t count;
  return feed->endOfData && !ContentFeedPeek(feed, &count);
}

void ContentFeedOutput(ContentFeed* feed, ContentImage* image) {
  image->next = nullptr;
  QueueAppend(feed->output, reinterpret_cast<QueueNode*>(image));
  feed->events |= ContentEvent::Data;
}

PglSurface* ContentBandNew(uint32_t width, uint32_t rows, uint32_t pitch, bool keyed,
                           uint32_t module) {
  if (pitch < width) pitch = width;
  const uint64_t bytes = sizeof(PglSurface) + uint64_t{pitch} * 2 * rows;
  if (!width || !rows || bytes > UINT32_MAX) return nullptr;
  auto* band = static_cast<PglSurface*>(
      MemAllocZero(static_cast<uint32_t>(bytes), Use::Data, module));
  if (!band) return nullptr;
  PglInitSurface(band, width, rows, kPglRgb565, 0x80,
                 keyed ? PglFlag::Inline | PglFlag::Keyed : PglFlag::Inline);
  band->pitch = pitch;
  band->key = keyed ? kContentKeyColour : 0;
  return band;
}
