#include "host/hostsettings.h"

#include <cstring>

void HostSettingsClear(HostSettings* settings) {
  std::memset(settings, 0, sizeof *settings);
  settings->pressedButton = -1;
}
