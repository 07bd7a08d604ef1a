// fontconfig loses a few bytes while it parses its configuration files, once
// a process; that start-up is the library's, so the tests and fuzz targets
// keep it out of the leak check, and everything the font layer does
// afterwards stays in it.
#pragma once

#include "host/fontft_internal.h"

// GCC says __SANITIZE_ADDRESS__, clang answers __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define QOR_ASAN_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QOR_ASAN_BUILD 1
#endif
#endif
#if defined(QOR_ASAN_BUILD) && __has_include(<sanitizer/lsan_interface.h>)
#include <sanitizer/lsan_interface.h>
#define QOR_LSAN 1
#endif

// Starts FreeType and fontconfig outside the leak check; false when either
// cannot start.
inline bool FontStartOutsideLeakCheck() {
#ifdef QOR_LSAN
  __lsan_disable();
#endif
  const bool started = FontFaceStartUp();
#ifdef QOR_LSAN
  __lsan_enable();
#endif
  return started;
}
