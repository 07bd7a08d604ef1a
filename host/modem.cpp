// No serial port is driven yet: the modem is always "open" and idle.
#include "host/modem.h"

int ModemOpen() { return 0; }
void ModemDialPoll() {}
void ModemPostEvents() {}
void ModemClose() {}
