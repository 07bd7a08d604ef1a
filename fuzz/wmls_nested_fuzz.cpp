// A string argument of a call into another unit, as the interpreter writes
// the call text for the script task: read back by the call parser, the
// called function must receive exactly the string the caller passed, up to
// its first NUL (quotes and percent signs cannot change the call), and the
// heap is back where it started.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernel/heap.h"
#include "kernel/mem.h"
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_internal.h"
#include "services/wmlscript/wmls_task.h"
#include "tests/services/wmls_mbuint.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void Utf8Constant(std::vector<uint8_t>& out, const uint8_t* s, uint32_t n) {
  out.push_back(4);
  WmlsMbUInt(out, n);
  out.insert(out.end(), s, s + n);
}

// A unit of one function "name" with the constants given.
std::vector<uint8_t> Unit(const std::vector<uint8_t>& constants, uint32_t count, uint8_t args,
                          const std::vector<uint8_t>& code, char name) {
  std::vector<uint8_t> body;
  WmlsMbUInt(body, count);
  WmlsMbUInt(body, 106);
  body.insert(body.end(), constants.begin(), constants.end());
  body.insert(body.end(), {0, 1, 1, 0, 1, static_cast<uint8_t>(name), args, 0});
  WmlsMbUInt(body, static_cast<uint32_t>(code.size()));
  body.insert(body.end(), code.begin(), code.end());
  std::vector<uint8_t> unit{1};
  WmlsMbUInt(unit, static_cast<uint32_t>(body.size()));
  unit.insert(unit.end(), body.begin(), body.end());
  return unit;
}

char* gCall = nullptr;
int32_t Capture(WmlsTaskContext*, char* text) {
  gCall = text;
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> arena(1u << 18);
  static const bool ready = (HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * 8)), true);
  (void)ready;
  if (size > 2048) return 0;
  const uint32_t freeBefore = HeapGetStats().freeBytes;

  // g() { return Other#f(<data>); } and f(a) { return a; }
  std::vector<uint8_t> constants;
  Utf8Constant(constants, reinterpret_cast<const uint8_t*>("b.wmlsc"), 7);
  Utf8Constant(constants, reinterpret_cast<const uint8_t*>("f"), 1);
  Utf8Constant(constants, data, static_cast<uint32_t>(size));
  const std::vector<uint8_t> caller = Unit(constants, 3, 0, {0x12, 2, 0x0C, 0, 1, 1, 0x3A}, 'g');
  const std::vector<uint8_t> callee = Unit({}, 0, 1, {0xE0, 0x3A}, 'f');
  WmlsUnit* outer = nullptr;
  WmlsUnit* inner = nullptr;
  Check(WmlsUnitParse(caller.data(), static_cast<uint32_t>(caller.size()), &outer) == WmlsParse::Ok);
  Check(WmlsUnitParse(callee.data(), static_cast<uint32_t>(callee.size()), &inner) == WmlsParse::Ok);

  WmlsTaskContext task{};
  task.call = Capture;
  WmlsRunContext run;
  Check(WmlsRunCall(&run, outer, u"g()", nullptr, nullptr, &task) == 0);
  Check(WmlsRunSlice(&run, kWmlsSliceSteps) == WmlsResult::Suspended && gCall);
  WmlsRunRelease(&run);

  // What the task would run: the text after "#".
  const char* hash = std::strchr(gCall, '#');
  Check(hash && std::strncmp(gCall, "b.wmlsc#f(", 10) == 0);
  char16_t* call = WmlsFromUtf8(hash + 1, static_cast<uint32_t>(std::strlen(hash + 1)));
  Check(call != nullptr);
  WmlsRunContext nested;
  Check(WmlsRunCall(&nested, inner, call, nullptr, nullptr, nullptr) == 0);
  Check(WmlsRunSlice(&nested, kWmlsSliceSteps) == WmlsResult::Ok && nested.top == 0);
  const WmlsValue& got = nested.stack[0];
  const char16_t* passed = WmlsStr(outer->constants[2]);
  Check(got.type == WmlsType::String && WmlsLen(WmlsStr(got)) == WmlsLen(passed));
  Check(std::memcmp(WmlsStr(got), passed, WmlsLen(passed) * 2) == 0);
  WmlsRunRelease(&nested);
  MemFree(&call);
  MemFree(&gCall);
  WmlsUnitFree(&outer);
  WmlsUnitFree(&inner);
  Check(HeapGetStats().freeBytes == freeBefore);
  return 0;
}
