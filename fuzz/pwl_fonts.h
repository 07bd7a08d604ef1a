// The fonts of the shipped qor.ini for the toolkit targets, set up once a
// process. fontconfig keeps a little of its configuration for good; that
// start-up is the library's, so it is kept out of the leak check.
#pragma once
#include <cstdint>

#include "host/fontft.h"
#include "tests/support/font_startup.h"

inline bool FuzzStartFonts() {
  FontStartOutsideLeakCheck();
  static FontSettings s;
  FontDefaultSettings(&s);
  return FontInit(&s) == kOk;
}
