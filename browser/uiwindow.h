// The browser window context of the user-interface task (module 19): what the
// graphics layer, the toolkit and the controls read and set of it. The
// browser window fills in the rest as it arrives.
#pragma once
#include <cstdint>

#include "kernel/list.h"

struct BenPage;
struct PwlWindow;
struct PwlControl;
struct AnimEngPlayer;
struct UiNavigation;

// One animated image of the current page.
struct UiPageAnim {
  ListNode link;
  int32_t x, y;  // content coordinates of its window
  uint32_t width, height;
  PwlWindow* window;
  uint32_t stopped;  // set by the toolkit while it holds the animation still
  AnimEngPlayer* player;
};

// The open select list: its hot rectangle in frame coordinates and the
// control, filled while its list is open.
struct UiOpenList {
  uint32_t open;
  int32_t left, top, right, bottom;
  PwlControl* control;
};

struct UiWindow {
  // Pixels at the bottom of the screen that the browser window keeps for
  // itself; restored screen areas are cut at the top of this band.
  uint32_t bottomBandHeight;
  BenPage* page;  // the current page
  uint32_t scrollMargin;
  UiOpenList openList;
  ListHead animations;  // UiPageAnim
  char16_t* currentString;
  uint32_t loading[2];  // set when a control starts a navigation
  uint32_t bottomBarHeight;
  PwlWindow* content;  // the content window, answered to 0x1302
  PwlWindow* band;     // the soft-key band under it
  char16_t* labels[2];  // the soft-key labels shown
  char16_t statusText[64];
  char16_t title[32];  // the view's title line, shown in the band's chrome box
  // The current string's buffer while the window made it itself (from an
  // address it was sent); null when someone else set the current string.
  char16_t* ownString;
  UiNavigation* nav;  // the window's URL task, session and page requests
  char* homeUrl;      // 8-bit, owned; loaded when the window starts and on home
};

// Sets the window's band and tells the graphics layer, which cuts restored
// screen areas at it.
void UiSetBottomBandHeight(UiWindow* window, uint32_t rows);
// The running browser window, or null.
UiWindow* UiGetWindow();
// Empties the browser window's status text; controls call it on focus out.
void UiClearStatusText();
