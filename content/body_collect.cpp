#include "content/body_collect.h"

#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

// Room for `need` bytes: the announced length at once, otherwise doubling.
Result Reserve(ContentBody* body, uint32_t need, uint32_t announced, uint32_t room,
               uint32_t module, Result noMemory) {
  if (need <= body->capacity) return kOk;
  uint32_t capacity = announced;
  if (!capacity) {
    capacity = body->capacity ? body->capacity : 1024;
    while (capacity < need) capacity = capacity > room / 2 ? room : capacity * 2;
  }
  auto* bytes = static_cast<uint8_t*>(MemAlloc(capacity, Use::Data, module));
  if (!bytes) return noMemory;
  if (body->size) LibcMemCopy(bytes, body->bytes, body->size);
  MemFree(&body->bytes);
  body->bytes = bytes;
  body->capacity = capacity;
  return kOk;
}

}  // namespace

Result ContentBodyTake(ContentBody* body, Queue* input, uint32_t announced, bool ended,
                       uint32_t room, uint32_t module, Result noMemory, Result tooLong,
                       ContentBodyState* state) {
  *state = ContentBodyState::Collecting;
  if (announced > room) return tooLong;
  const uint32_t limit = announced ? announced : room;
  while (QueueNode* node = input->head) {
    auto* block = reinterpret_cast<UtilDataChunk*>(node);
    const uint32_t n = block->remaining;
    if (n > limit - body->size) return tooLong;
    if (n) {
      if (Result r = Reserve(body, body->size + n, announced, room, module, noMemory); r != kOk)
        return r;
      LibcMemCopy(body->bytes + body->size, UtilDataChunkData(block) + block->offset, n);
      body->size += n;
    }
    QueuePopFront(input);
    MemFree(&block);
  }
  if ((announced && body->size == announced) || ended) *state = ContentBodyState::Complete;
  return kOk;
}

Result ContentBodyCollect(ContentBody* body, UrlLoad* load, uint32_t room, uint32_t module,
                          Result noMemory, Result tooLong, ContentBodyState* state) {
  return ContentBodyTake(body, &load->input, load->announcedLength, load->endOfData != 0, room,
                         module, noMemory, tooLong, state);
}

void ContentBodyFree(ContentBody* body) {
  MemFree(&body->bytes);
  body->size = body->capacity = 0;
}

ContentBody* ContentBodyOfLoad(UrlLoad* load, uint32_t module) {
  if (!load->handlerState)
    load->handlerState = MemAllocZero(sizeof(ContentBody), Use::Data, module);
  return static_cast<ContentBody*>(load->handlerState);
}

void ContentBodyRelease(UrlLoad* load) {
  auto* body = static_cast<ContentBody*>(load->handlerState);
  if (!body) return;
  ContentBodyFree(body);
  MemFree(&body);
  load->handlerState = nullptr;
}
