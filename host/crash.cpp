// Faults are left to the system's default handling for now.
#include "host/crash.h"

void HostInstallCrashHandler() {}
