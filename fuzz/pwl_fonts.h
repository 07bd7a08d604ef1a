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

inline void FuzzSetFace(char16_t* to, const char16_t* face) {
  int i = 0;
  for (; face[i] && i + 1 < kFontFaceUnits; ++i) to[i] = face[i];
  to[i] = 0;
}

inline bool FuzzStartFonts() {
#ifdef QOR_LSAN
  __lsan_disable();
#endif
  FontFaceStartUp();
#ifdef QOR_LSAN
  __lsan_enable();
#endif
  static FontSettings s{};
  FuzzSetFace(s.bodyFace, u"Arial");
  FuzzSetFace(s.bodyMonoFace, u"Lucida console");
  FuzzSetFace(s.headingFace, u"Arial");
  FuzzSetFace(s.headingMonoFace, u"Lucida console");
  const int32_t body[] = {7, 8, 9, 10, 12, 14, 18};
  for (int i = 0; i < kFontBodyLevels; ++i) s.bodySizes[i] = {i + 1, body[i]};
  s.bodySizeCount = kFontBodyLevels;
  s.headingSizes[0] = {1, 12};
  s.headingSizeCount = 1;
  return FontInit(&s) == kOk;
}
