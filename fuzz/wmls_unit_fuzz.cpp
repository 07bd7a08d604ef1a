// Compiled WMLScript bodies as the fetch layer hands them over: the first
// byte picks the block size for the collector, the rest is the body. Any
// bytes end as a unit or a refusal, the same whether collected or parsed
// whole; a unit's functions then run for a few slices, and the heap is back
// where it started once all is freed. The compiled-script content row,
// fed the same blocks on a load, leaves the unit on it exactly when the
// parser accepts the body, and completes the load either way. No body here
// can want for memory (the arena holds many times the largest), so none is
// ever said to: a claim of more bytes than the body holds is bad bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "browser/url.h"
#include "kernel/datachunk.h"
#include "kernel/heap.h"
#include "services/wmlscript/wmls_content.h"
#include "services/wmlscript/wmls.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void RunAll(WmlsUnit* unit) {
  for (int32_t f = 0; f < unit->functions.functionCount; ++f) {
    WmlsValue args[255];
    for (uint32_t i = 0; i < 255; ++i) args[i] = WmlsMakeInt(static_cast<int32_t>(i));
    WmlsRunContext ctx;
    int32_t r = WmlsRunStart(&ctx, unit, f, args, unit->functions.functions[f].argCount);
    for (int slice = 0; r == 0 && slice < 20; ++slice) r = WmlsRunSlice(&ctx, kWmlsSliceSteps);
    WmlsRunRelease(&ctx);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena(1u << 20);
  static const bool ready = (HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * 8)), true);
  (void)ready;
  if (size < 1 || size > 100000) return 0;
  const uint32_t block = data[0] + 1u;
  const uint32_t freeBefore = HeapGetStats().freeBytes;

  WmlsUnit* whole = nullptr;
  const int32_t parsed = WmlsUnitParse(data + 1, static_cast<uint32_t>(size - 1), &whole);
  Check((parsed == WmlsParse::Ok) == (whole != nullptr));
  Check(parsed == WmlsParse::Ok || parsed == WmlsParse::Refused);
  if (whole) RunAll(whole);
  WmlsUnitFree(&whole);

  Queue input{};
  WmlsCollector* state = nullptr;
  WmlsUnit* unit = nullptr;
  Result r = kOk;
  bool noMemory = false;
  for (size_t at = 1; at < size && r == kOk; at += block) {
    const size_t n = size - at < block ? size - at : block;
    Check(UtilDataChunkAppend(&input, data + at, static_cast<uint32_t>(n), Mod::TestCode) == kOk);
    r = WmlsCollect(&state, &input, 0, &unit, &noMemory);
    Check(unit == nullptr);
    Check(!noMemory);
  }
  if (r == kOk) r = WmlsCollect(&state, &input, 1, &unit, &noMemory);
  Check(!noMemory);
  Check(r == kOk || r == WmlsErr::Failed);
  Check(state == nullptr);
  Check((r == kOk) == (unit != nullptr));
  Check((r == kOk) == (parsed == WmlsParse::Ok));  // collected or whole, the same verdict
  WmlsUnitFree(&unit);
  UtilDataChunkFreeQueue(&input);

  UrlParsed url{};
  Check(UrlParse(&url, "http://h/x.wmlsc", 0) == kOk);
  UrlLoad* load = UrlLoadCreate(&url);
  UrlFreeParsed(&url);
  Check(load != nullptr);
  Result row = kOk;
  for (size_t at = 1; at < size && row == kOk; at += block) {
    const size_t n = size - at < block ? size - at : block;
    Check(UrlLoadDeliver(load, data + at, static_cast<uint32_t>(n)) == kOk);
    row = WmlsContentProcess(nullptr, load);
    Check(row != kOk || !(load->events & UrlEvent::Complete));
  }
  if (row == kOk) {
    load->endOfData = 1;
    row = WmlsContentProcess(nullptr, load);
  }
  Check(load->events & UrlEvent::Complete);
  Check(load->handlerState == nullptr);
  Check(row == kOk || row == WmlsErr::Failed);
  Check(load->failure == (row == kOk ? UrlFailure::ByCode : UrlFailure::Other));
  Check((row == kOk) == (WmlsUnitOfLoad(load) != nullptr));
  Check((row == kOk) == (parsed == WmlsParse::Ok));
  UrlLoadFree(load);
  Check(HeapGetStats().freeBytes == freeBefore);
  return 0;
}
