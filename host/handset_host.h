// The host's answers to the engine's handset requests (host/platform/handset.h).
#pragma once

// Installs them (and its answers to the content handed to the handset);
// HostMain does at start, tests that need them do too.
void HostHandsetInstall();
