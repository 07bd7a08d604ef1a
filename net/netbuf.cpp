#include "net/netbuf.h"

#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/modules.h"

NetBufChain* NetBufAlloc(uint32_t length) {
  NetBufChain* first = nullptr;
  NetBufChain** link = &first;
  uint32_t left = length;
  do {
    auto* block = static_cast<NetBufChain*>(MemAlloc(sizeof(NetBufChain), Use::Data, Mod::Net));
    if (!block) {
      NetBufRelease(&first);
      return nullptr;
    }
    block->next = nullptr;
    block->refs = 1;
    block->start = 0;
    block->length = left < kNetBufPayload ? left : kNetBufPayload;
    left -= block->length;
    *link = block;
    link = &block->next;
  } while (left > 0);
  return first;
}

uint32_t NetBufLength(const NetBufChain* chain) {
  uint32_t total = 0;
  for (; chain; chain = chain->next) total += chain->length;
  return total;
}

namespace {

// Walks the blocks that overlap [offset, offset + count) and hands each piece
// to f(block bytes, chain offset of the piece, piece length).
template <class F>
uint32_t ForEachPiece(NetBufChain* chain, uint32_t offset, uint32_t count, F f) {
  uint32_t done = 0;
  for (; chain && done < count; chain = chain->next) {
    if (offset >= chain->length) {
      offset -= chain->length;
      continue;
    }
    uint32_t piece = chain->length - offset;
    if (piece > count - done) piece = count - done;
    f(chain->data + chain->start + offset, done, piece);
    done += piece;
    offset = 0;
  }
  return done;
}

}  // namespace

uint32_t NetBufRead(const NetBufChain* chain, void* dest, uint32_t offset, uint32_t count) {
  auto* out = static_cast<uint8_t*>(dest);
  return ForEachPiece(const_cast<NetBufChain*>(chain), offset, count,
                      [&](uint8_t* bytes, uint32_t at, uint32_t n) { LibcMemCopy(out + at, bytes, n); });
}

uint32_t NetBufWrite(NetBufChain* chain, const void* src, uint32_t offset, uint32_t count) {
  auto* in = static_cast<const uint8_t*>(src);
  return ForEachPiece(chain, offset, count,
                      [&](uint8_t* bytes, uint32_t at, uint32_t n) { LibcMemCopy(bytes, in + at, n); });
}

void NetBufRelease(NetBufChain** chain) {
  NetBufChain* block = *chain;
  *chain = nullptr;
  while (block) {
    NetBufChain* next = block->next;
    if (--block->refs == 0) MemFree(&block);
    block = next;
  }
}
