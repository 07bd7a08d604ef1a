#include "host/handset_host.h"

#include "host/phone.h"
#include "host/platform/handover.h"
#include "host/platform/handset.h"

namespace {

// The emulator keeps none of what the handset is handed: each is taken.
constexpr HandoverOps kHandover = {
    [](const char*, const char*, const char*, const char*, const char*, const char*) -> Result {
      return kOk;
    },
    [](const char*) -> Result { return kOk; },
    [](const uint8_t*, uint32_t, const char*, uint32_t) -> Result { return kOk; },
    [](const uint8_t*, uint32_t, uint32_t, uint32_t) -> Result { return kOk; },
    [](const char*, const char*) -> Result { return kOk; },
};

}  // namespace

void HostHandsetInstall() {
  HandsetInstall(&kHostHandsetOps);
  HandoverInstall(&kHandover);
}
