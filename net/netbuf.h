// Buffer chains: the byte streams of network traffic, as linked blocks of
// 140 payload bytes each. Every block counts its references, so one block may
// sit in several chains; releasing a chain drops one reference from each of
// its blocks.
#pragma once
#include <cstdint>

constexpr uint32_t kNetBufPayload = 140;

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
// Drops one reference from each block, freeing those that reach none, and
// nulls *chain; nothing when it already holds null.
void NetBufRelease(NetBufChain** chain);
