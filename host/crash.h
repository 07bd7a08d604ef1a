// The crash report: an unhandled fault shows its report before the end.
#pragma once

// Installs the handlers that report an unhandled fault.
void HostInstallCrashHandler();
