// The modem on the serial port: opened at start, polled on every pass of the
// main loop, closed at the end.
#pragma once

// 0, or -1 when the port cannot be opened.
int ModemOpen();
// One step of the dialling state machine.
void ModemDialPoll();
// Turns line changes into engine events.
void ModemPostEvents();
void ModemClose();
