// A content row driven over one load as the fetch layer drives it: the first
// input byte picks the block size (low seven bits) and whether the length was
// announced (top bit); the rest is the body, delivered a block at a time with
// a process step after each. A row may hand the load to another row (the
// generic WBXML row re-types it); the step goes to whichever row the load
// holds. Afterwards the load is released and freed, and the heap must be
// where it started and whole.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "browser/url.h"
#include "kernel/heap.h"
#include "kernel/mem.h"

inline void RowCheck(bool ok) {
  if (!ok) std::abort();
}

// `prepare` sets the load up (its row, its type) before the first block;
// `result` sees every step's answer and the load once the run has ended.
template <class Prepare, class Result_>
void FuzzRowRun(const uint8_t* data, size_t size, const char* url, uint32_t arenaBytes,
                Prepare prepare, Result_ result) {
  static std::vector<uint64_t> arena(arenaBytes / 8);
  static const bool ready =
      (HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * 8)), true);
  (void)ready;
  if (size < 1 || size > 70000) return;
  const uint32_t block = (data[0] & 0x7F) + 1u;
  const bool announce = (data[0] & 0x80) != 0;
  const uint32_t freeBefore = HeapGetStats().freeBytes;

  UrlModuleContext module{};
  module.workBuffer = static_cast<uint8_t*>(MemAlloc(kUrlWorkBufferSize, Use::Data, Mod::TestCode));
  RowCheck(module.workBuffer != nullptr);
  module.workBufferSize = kUrlWorkBufferSize;
  UrlParsed parsed{};
  RowCheck(UrlParse(&parsed, url, 0) == kOk);
  UrlLoad* load = UrlLoadCreate(&parsed);
  UrlFreeParsed(&parsed);
  RowCheck(load != nullptr);
  if (announce) load->announcedLength = static_cast<uint32_t>(size - 1);
  prepare(load);

  size_t at = 1, steps = 0;
  for (;;) {
    if (at < size) {
      const size_t n = size - at < block ? size - at : block;
      RowCheck(UrlLoadDeliver(load, data + at, static_cast<uint32_t>(n)) == kOk);
      at += n;
    }
    if (at >= size) load->endOfData = 1;
    const UrlContentTypeRow* row = load->contentRow;
    if (!row || !row->process) break;  // the data passes on as it is
    const Result r = row->process(&module, load);
    result(r, load);
    if (r != kOk || (load->events & UrlEvent::Complete)) break;
    // A row that took the load over gets the same data at once, and a row
    // may take one block a step; otherwise with the data ended the row must
    // have finished, and no row may step without end.
    if (load->contentRow == row) RowCheck(at < size || load->input.head != nullptr);
    RowCheck(++steps < 2 * size + 16);
  }
  if (load->contentRow && load->contentRow->release) load->contentRow->release(&module, load);
  RowCheck(load->handlerState == nullptr);
  UrlLoadFree(load);
  MemFree(&module.workBuffer);
  RowCheck(HeapValidate() == nullptr);
  RowCheck(HeapGetStats().freeBytes == freeBefore);
}
