// Variable substitution over arbitrary page text: the input's first half
// names and values variables, the rest is substituted. The result never
// grows a reference that was not in the text, and nothing leaks.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "browser/benvar.h"
#include "kernel/heap.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  static std::vector<uint64_t> arena(1u << 17);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  // Units of the input, split at the first 0 unit: "name=value;..." then text.
  std::vector<char16_t> units(size / 2 + 1, 0);
  for (size_t i = 0; i + 1 < size; i += 2)
    units[i / 2] = static_cast<char16_t>(data[i] | data[i + 1] << 8);
  size_t split = 0;
  while (split < units.size() - 1 && units[split] != 0) ++split;
  const char16_t* text = split + 1 < units.size() ? units.data() + split + 1 : u"";

  BenBrowser browser;
  BenBrowserInit(&browser);
  std::vector<char16_t> pair;
  for (size_t i = 0; i <= split; ++i) {
    if (i < split && units[i] != u';') {
      pair.push_back(units[i]);
      continue;
    }
    pair.push_back(0);
    char16_t* eq = LibcWStrChr(pair.data(), u'=');
    if (eq) {
      *eq = 0;
      BenSetVar(&browser, pair.data(), eq + 1);
    }
    pair.clear();
  }
  char16_t* out = nullptr;
  const Result r = BenSubstituteVarsW(&browser, &out, text, 0);
  Check(r == kOk || out == nullptr);
  if (!LibcWStrChr(text, u'$')) Check(out == nullptr);
  MemFree(&out);
  BenClearVars(&browser);
  Check(HeapValidate() == nullptr);
  const HeapStats stats = HeapGetStats();
  Check(stats.freeBytes == stats.arenaBytes);
  return 0;
}
