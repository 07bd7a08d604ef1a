#include "content/collect.h"

#include <cstring>

#include "kernel/mem.h"

Result ContentCollect(ContentBody* body, ContentFeed* feed, const ContentSource* source,
                      uint32_t module, bool* whole) {
  *whole = false;
  uint32_t count;
  const uint8_t* bytes = ContentFeedPeek(feed, &count);
  if (bytes && !body->bytes) {
    uint32_t size = source->announcedLength;
    if (!size) {
      // No length announced: what has arrived so far is all there is room for.
      size = source->deliveredCount;
      const uint32_t queued = UtilDataChunkQueueBytes(feed->input);
      if (size < queued) size = queued;
    }
    body->bytes = static_cast<uint8_t*>(MemAlloc(size ? size : 1, Use::Data, module));
    if (!body->bytes) return ResultError(module, Err::NoMemory);
    body->size = size;
  }
  for (; bytes; bytes = ContentFeedPeek(feed, &count)) {
    if (count > body->size - body->count) {
      ContentFeedConsume(feed, count);
      return ResultError(module, 2);
    }
    memcpy(body->bytes + body->count, bytes, count);
    body->count += count;
    ContentFeedConsume(feed, count);
  }
  // Without an announced length only the end of the data says the body is
  // whole.
  *whole = (source->announcedLength && body->count == body->size) || ContentFeedEnded(feed);
  return kOk;
}

void ContentBodyFree(ContentBody* body) {
  MemFree(&body->bytes);
  body->size = body->count = 0;
}
