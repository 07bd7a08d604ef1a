// The compiled-WML rows.
#include "content/wmlc_row.h"

#include "kernel/datachunk.h"
#include "kernel/mem.h"
#include "markup/wmlc.h"

Result WmlcContentProcess(UrlModuleContext*, UrlLoad* load) {
  auto* b = static_cast<WmlcBuilder*>(load->handlerState);
  if (!b) {
    if (WmlcBuilderCreate(&b, load) != kOk) return kWmlcRowBase + WmlcError::NoMemory;
    load->handlerState = b;
  }
  // One block a step, so that a long deck leaves the task room between steps.
  if (QueueNode* block = QueuePopFront(&load->input)) QueueAppend(&b->input, block);
  while (!WmlcDeckDone(b)) {
    UtilDataChunk* chunk = UtilDataChunkHead(&b->input);
    if (!chunk) break;
    if (chunk->remaining == 0) {
      QueuePopFront(&b->input);
      MemFree(&chunk);
      continue;
    }
    const uint8_t byte = UtilDataChunkData(chunk)[chunk->offset];
    ++chunk->offset;
    --chunk->remaining;
    if (const Result r = WmlcDeckBuild(b, byte); r != kOk) {
      WmlcAbort(b);
      return kWmlcRowBase + r;
    }
  }
  if (!WmlcDeckDone(b) && (load->input.head || !load->endOfData)) return kOk;
  load->events |= UrlEvent::Complete;
  WmlcBuilderFree(b);
  load->handlerState = nullptr;
  return kOk;
}

Result WmlcContentRelease(UrlModuleContext*, UrlLoad* load) {
  WmlcBuilderFree(static_cast<WmlcBuilder*>(load->handlerState));
  load->handlerState = nullptr;
  return kOk;
}
