// What the WTAI files share.
#pragma once
#include <cstdint>

// Decimal digits, space, ',', '+', '*', '#', '-'; with tail, characters
// below 33 may follow up to the end.
bool WtaiIsNumber(const char16_t* text, bool tail);
// Digits, '*', '#' and A to D in either case; not empty.
bool WtaiIsTones(const char16_t* text);

struct TskmanTask;
// Ends an SMS request task whose message never went to the service.
void WtaiDropSmsTask(TskmanTask* task);
