// Charset-name lookup reads no further than the length it is given, and a
// name it finds is one it has.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "kernel/lng.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 256) return 0;
  // Exactly the given characters, no terminator, so a read past is caught.
  std::unique_ptr<char[]> name(new char[size ? size : 1]);
  for (size_t i = 0; i < size; ++i) name[i] = static_cast<char>(data[i]);
  uint32_t mib = 12345;
  const Result result = LngFindCharset(&mib, name.get(), static_cast<uint32_t>(size));
  if (result == kOk) {
    if (mib != 17 && !LngGetCharsetName(mib)) std::abort();
  } else if (result != kLngNoConverter || mib != 0) {
    std::abort();
  }
  uint32_t number = 0;
  for (size_t i = 0; i < size && i < 4; ++i) number = number << 8 | data[i];
  LngGetCharsetName(number);
  return 0;
}
