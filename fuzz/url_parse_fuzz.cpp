// URL texts from anywhere: the input's first line is a base URL, the rest a
// reference. Every parse that succeeds writes back to a text that parses to
// the same text again, resolution gives such a URL too, and nothing leaks.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "browser/url.h"
#include "kernel/heap.h"
#include "kernel/mem.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Writes the URL back, parses that and checks the second text is the first.
void CheckRoundTrip(const UrlParsed& url) {
  char* first = nullptr;
  if (UrlToString(&first, &url, 0) != kOk) return;
  UrlParsed again;
  Check(UrlParse(&again, first, 0) == kOk);
  char* second = nullptr;
  if (UrlToString(&second, &again, 0) == kOk) {
    Check(std::string(first) == second);
    MemFree(&second);
  }
  UrlFreeParsed(&again);
  MemFree(&first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  static std::vector<uint64_t> arena(1u << 15);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  MemSetEvictor(nullptr);
  const uint32_t start = HeapGetStats().freeBytes;

  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, text.find('\0'));
  const size_t newline = text.find('\n');
  const std::string base = text.substr(0, newline);
  const std::string ref = newline == std::string::npos ? std::string() : text.substr(newline + 1);

  UrlParsed parsed;
  if (UrlParse(&parsed, base.c_str(), 0) == kOk) {
    CheckRoundTrip(parsed);
    UrlParsed resolved;
    if (UrlResolve(&resolved, &parsed, ref.c_str()) == kOk) {
      CheckRoundTrip(resolved);
      UrlFreeParsed(&resolved);
    }
    UrlFreeParsed(&parsed);
  }
  char* decoded = nullptr;
  if (UrlPercentDecode(ref.c_str(), &decoded, 1) == kOk) {
    Check(std::string(decoded).size() <= ref.size());
    MemFree(&decoded);
  }
  Check(HeapGetStats().freeBytes == start);
  return 0;
}
