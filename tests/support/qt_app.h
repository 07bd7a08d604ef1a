// The one QApplication of a Qt test binary, made on first use (offscreen, as
// the environment of the tests sets it).
#pragma once
#include <QApplication>

inline void EnsureQApplication() {
  static int argc = 1;
  static char name[] = "qor_tests";
  static char* argv[] = {name, nullptr};
  if (!QApplication::instance()) new QApplication(argc, argv);
}

// Qt never releases fontconfig's cache, so the leak checker of the sanitizer
// build would blame every test that lays out text.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}
