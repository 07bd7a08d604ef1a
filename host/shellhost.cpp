#include "host/shellhost.h"

#include "host/handset_host.h"
#include "host/ini.h"
#include "host/platform/handset.h"
#include "host/shellsvc.h"
#include "host/sound.h"

namespace {

void Play(void*, const char* alias) { SoundPlaySystem(alias); }
void Stop(void*) { SoundStopSystem(); }
// Read at each ask, as the profile calls do: an edit of qor.ini counts at once.
int32_t OperationValue(void*, const char* key) { return IniGetInt("qor.ini", "operation", key, 0); }

constexpr ShellServiceOps kHostServices{nullptr, Play, Stop, OperationValue};

}  // namespace

void HostServicesInstall() {
  ShellServicesInstall(&kHostServices);
  HostHandsetInstall();
}
void HostServicesUninstall() {
  ShellServicesInstall(nullptr);
  HandsetInstall(nullptr);
}
