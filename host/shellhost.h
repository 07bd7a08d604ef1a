// The host's side of the emulated handset services: system sounds through
// the sound output, and the zone-service flags of qor.ini's "operation"
// section in the working folder.
#pragma once

// Installs them into the platform layer; the uninstall restores the
// defaults (silence, every flag 0).
void HostServicesInstall();
void HostServicesUninstall();
