#include "browser/benshow.h"

#include "kernel/tskman.h"

Result BenShowPage(UiWindow* window, const char16_t* address, uint32_t flags) {
  if (!window || !address) return ResultError(Mod::Ben, Err::BadArg);
  TskmanTask* browser = TskmanFind(Mod::Ben);
  if (!browser) return ResultError(Mod::Ben, Err::NotFound);
  TskmanPost(browser, kBenShowPageMessage, reinterpret_cast<uintptr_t>(address), flags);
  return kOk;
}
