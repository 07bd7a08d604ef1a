// Buffer chains: the byte streams of network traffic, as linked blocks of
// 140 payload bytes each. Every block counts its references, so one block may
// sit in several chains; releasing a chain drops one reference from each of
// its blocks.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

constexpr uint32_t kNetBufPayload = 140;
constexpr Result kNetBufNoMemory = 0x80170001;
constexpr Result kNetBufShared = ResultError(Mod::Net, 0x8100);

struct NetBufChain {
  NetBufChain* next;
  uint32_t refs;
  uint32_t start;   // first payload byte in use
  uint32_t length;  // payload bytes in use from start
  uint8_t data[kNetBufPayload];
};

// A chain of `length` payload bytes (contents undefined), or null without
// memory. A length of 0 still gives one empty block.
NetBufChain* NetBufAlloc(uint32_t length);
uint32_t NetBufLength(const NetBufChain* chain);
// Copies up to count bytes from the payload at offset; returns the bytes
// copied (fewer when the chain ends first).
uint32_t NetBufRead(const NetBufChain* chain, void* dest, uint32_t offset, uint32_t count);
// Copies bytes into the payload at offset without growing the chain; returns
// the bytes written.
uint32_t NetBufWrite(NetBufChain* chain, const void* src, uint32_t offset, uint32_t count);
// Copies bytes into the payload at offset, first lengthening the chain to
// offset + count: the last block takes what fits, new blocks the rest; a gap
// between the old end and offset reads as zeros. A last block another chain
// shares is first replaced in this chain by a copy, so the other chain keeps
// its length and blocks. 0; kNetBufNoMemory with the chain as it was; or
// kNetBufShared, nothing written, when the chain must grow and is one block
// that another chain shares (its first block cannot be replaced here).
Result NetBufWriteGrow(NetBufChain* chain, const void* src, uint32_t offset, uint32_t count);
// Links tail behind the last block of chain without copying; the chain takes
// over the caller's references to tail's blocks. Answers the joined chain
// (tail when chain is null).
NetBufChain* NetBufConcat(NetBufChain* chain, NetBufChain* tail);
// Drops count bytes from the front of *chain (all of them when it holds
// fewer); a block emptied this way loses the chain's reference, except the
// last, which stays as the empty chain. A block another chain shares is not
// cut in place: the chain takes a copy of its remaining bytes. 0, or
// kNetBufNoMemory with nothing dropped when that copy cannot be made.
Result NetBufTrim(NetBufChain** chain, uint32_t count);
// Drops one reference from each block, freeing those that reach none, and
// nulls *chain; nothing when it already holds null.
void NetBufRelease(NetBufChain** chain);
