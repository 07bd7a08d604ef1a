#include "host/platform/platform.h"

#include <ctime>

#include "host/platform/say.h"

namespace {
void DefaultInvalidate(void*, int32_t, int32_t, int32_t, int32_t) {}
int DefaultStartTick(void*) { return 0; }
void DefaultStopTick(void*) {}
void DefaultMessageBox(void*, const char* title, const char* text) {
  PlatformSay("%s: %s\n", title, text);
}
int64_t DefaultNow(void*) { return static_cast<int64_t>(std::time(nullptr)); }
int32_t DefaultZoneMinutes(void*) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<int32_t>(local.tm_gmtoff / 60);
}

constexpr PlatformOps kDefaults = {nullptr,          DefaultInvalidate, DefaultStartTick,
                                   DefaultStopTick,  DefaultMessageBox, DefaultNow,
                                   DefaultZoneMinutes};
const PlatformOps* gOps = &kDefaults;
}  // namespace

const PlatformOps* PlatformInstall(const PlatformOps* ops) {
  const PlatformOps* old = gOps;
  gOps = ops ? ops : &kDefaults;
  return old == &kDefaults ? nullptr : old;
}

const PlatformOps& Platform() { return *gOps; }
