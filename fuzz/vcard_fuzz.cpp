// vCard bodies: the first byte picks the character set the load names, the
// rest is the body (see FuzzVcBody).
#include "fuzz/content_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzVcBody(data, size, Mod::WtlVcard, VcardParse, kVcardBadStructure, kVcardNoMemory);
  return 0;
}
