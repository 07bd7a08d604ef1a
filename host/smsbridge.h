// The SMS datagram bridge (module 56): short messages as UDP datagrams.
#pragma once

// Starts the bridge task; it reports state 6 to the host when it is up.
void SmsBridgeStart(void* host);
// Stops the bridge; it reports state 7 when it has stopped.
void SmsBridgeStop();
