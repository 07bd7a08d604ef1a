// No bridge task runs yet: the engine stays in its services phase.
#include "host/smsbridge.h"

void SmsBridgeStart(void*) {}
void SmsBridgeStop() {}
