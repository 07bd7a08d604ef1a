// The fonts of the shipped qor.ini for the toolkit targets, set up once a
// process. fontconfig keeps a little of its configuration for good; that
// start-up is the library's, so it is kept out of the leak check.
#pragma once
#include <cstdint>

#include "host/fontft.h"
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

inline bool FuzzStartFonts() {
#ifdef QOR_LSAN
  __lsan_disable();
#endif
  FontFaceStartUp();
#ifdef QOR_LSAN
  __lsan_enable();
#endif
  static FontSettings s;
  FontDefaultSettings(&s);
  return FontInit(&s) == kOk;
}
