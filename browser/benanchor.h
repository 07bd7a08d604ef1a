// The browser core's anchor record (module 25) of a link, as the link
// controls read it. The browser core owns it and the texts in it, the copy
// of the window string included.
#pragma once
#include <cstdint>

struct BenAnchorRecord {
  const char* address;    // 8-bit, or null
  char16_t* windowString;  // the browser window's current string, copied on first use
  uint32_t useWindowString;  // 1 when the last select went to the window string
  const char* alternate;  // the alternate address, or null
  const void* action;     // what the link does besides an address (a task or script), or null
  const char16_t* title;  // shown in a balloon, or null
  const char16_t* status[2];  // the first and second status texts, or null
  uint32_t noFrame;   // an image link draws no focus frame
  uint32_t stepOnce;  // the image's animation steps one frame on focus
  uint32_t firstField;  // the page asks for the first focus on this link
};
