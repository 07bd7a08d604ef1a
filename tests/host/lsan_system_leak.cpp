// Run by the sanitizer build's CTest with the emulator's built-in leak
// suppressions and no others: memory a system library (libdbus, as Qt's
// platform theme uses it) keeps to the end does not fail the exit, while
// memory the program itself loses still does. Argument: "system" or "own".
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
void* gKept = nullptr;  // dropped below, so the leak checker sees a leak
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  if (std::strcmp(argv[1], "system") == 0) {
    void* dbus = ::dlopen("libdbus-1.so.3", RTLD_NOW);
    if (!dbus) {
      std::puts("no libdbus: nothing to check");
      return 0;
    }
    // A string the library builds and hands over, never freed.
    using Escape = char* (*)(const char*);
    auto* escape = reinterpret_cast<Escape>(::dlsym(dbus, "dbus_address_escape_value"));
    if (!escape) return 2;
    gKept = escape("unix:path=/tmp/qor bus");
  } else {
    gKept = std::malloc(1032);
    std::memset(gKept, 1, 1032);
  }
  if (!gKept) return 2;
  gKept = nullptr;
  return 0;
}
