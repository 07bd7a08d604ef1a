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

Result NetBufWriteGrow(NetBufChain* chain, const void* src, uint32_t offset, uint32_t count) {
  if (!chain) return ResultError(Mod::Net, Err::BadArg);
  NetBufChain* last = chain;
  NetBufChain* beforeLast = nullptr;
  uint32_t length = 0;
  for (NetBufChain* b = chain; b; b = b->next) {
    length += b->length;
    if (b != chain) beforeLast = last;
    last = b;
  }
  const uint64_t end = uint64_t{offset} + count;
  if (end > UINT32_MAX) return ResultError(Mod::Net, Err::BadArg);
  if (end > length) {
    uint32_t grow = static_cast<uint32_t>(end) - length;
    // A last block another chain holds must not lengthen or gain successors:
    // that chain would see the bytes, and would lose the new blocks when this
    // one is released. This chain grows from its own copy of it instead.
    NetBufChain* own = last;
    if (last->refs > 1) {
      if (!beforeLast) return kNetBufShared;  // the caller's pointer is the shared block
      own = static_cast<NetBufChain*>(MemAlloc(sizeof(NetBufChain), Use::Data, Mod::Net));
      if (!own) return kNetBufNoMemory;
      own->next = nullptr;
      own->refs = 1;
      own->start = 0;
      own->length = last->length;
      LibcMemCopy(own->data, last->data + last->start, last->length);
    }
    const uint32_t room = kNetBufPayload - own->start - own->length;
    const uint32_t inLast = grow < room ? grow : room;
    NetBufChain* more = nullptr;
    if (grow > inLast) {
      more = NetBufAlloc(grow - inLast);
      if (!more) {
        if (own != last) MemFree(&own);
        return kNetBufNoMemory;
      }
      for (NetBufChain* b = more; b; b = b->next) LibcMemSet(b->data, 0, b->length);
    }
    LibcMemSet(own->data + own->start + own->length, 0, inLast);
    own->length += inLast;
    own->next = more;
    if (own != last) {
      beforeLast->next = own;
      --last->refs;  // still held by the other chain
    }
  }
  NetBufWrite(chain, src, offset, count);
  return kOk;
}

NetBufChain* NetBufConcat(NetBufChain* chain, NetBufChain* tail) {
  if (!chain) return tail;
  NetBufChain* last = chain;
  while (last->next) last = last->next;
  last->next = tail;
  return chain;
}

Result NetBufTrim(NetBufChain** chain, uint32_t count) {
  NetBufChain* head = *chain;
  if (!head) return kOk;
  // Find the block where the remaining bytes start before changing anything,
  // so that a failed copy leaves the chain whole.
  NetBufChain* keep = head;
  uint32_t cut = count;
  while (keep->next && cut >= keep->length) {
    cut -= keep->length;
    keep = keep->next;
  }
  if (cut > keep->length) cut = keep->length;
  NetBufChain* copy = nullptr;
  if (cut > 0 && keep->refs > 1) {
    copy = static_cast<NetBufChain*>(MemAlloc(sizeof(NetBufChain), Use::Data, Mod::Net));
    if (!copy) return kNetBufNoMemory;
    copy->next = keep->next;
    copy->refs = 1;
    copy->start = 0;
    copy->length = keep->length - cut;
    LibcMemCopy(copy->data, keep->data + keep->start + cut, copy->length);
  }
  // The dropped blocks lose this chain's reference; stop at `keep`, whose
  // successors stay in the chain.
  for (NetBufChain* b = head; b != keep;) {
    NetBufChain* next = b->next;
    if (--b->refs == 0) MemFree(&b);
    b = next;
  }
  if (copy) {
    --keep->refs;  // still held by the other chain, so never 0 here
    keep = copy;
  } else {
    keep->start += cut;
    keep->length -= cut;
  }
  *chain = keep;
  return kOk;
}
