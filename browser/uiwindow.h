// The browser window context of the user-interface task (module 19). For now
// it holds what the graphics layer reads of it; the browser window fills in
// the rest as it arrives.
#pragma once
#include <cstdint>

struct UiWindow {
  // Pixels at the bottom of the screen that the browser window keeps for
  // itself; restored screen areas are cut at the top of this band.
  uint32_t bottomBandHeight;
};

// The band height of the running browser window, 0 while there is none.
uint32_t UiWindowBottomBandHeight();
