// Content the browser does not show but hands to the emulated handset: the
// records of a personal-data body and the text of a SIM-toolkit body. The
// host core installs its answers; without them every request is refused with
// kHandsetNone and the caller keeps what it handed over.
#pragma once
#include <cstdint>

#include "host/platform/handset.h"

// One personal-data record: six NUL-terminated fields. 0 when stored.
Result ShellStoreContentStub(const char* f1, const char* f2, const char* f3, const char* f4,
                             const char* f5, const char* f6);
// A SIM-toolkit body as text. 0 when taken.
Result ShellStubSaveUsat(const char* text);

struct HandoverOps {
  Result (*storeContent)(const char*, const char*, const char*, const char*, const char*,
                         const char*);
  Result (*saveUsat)(const char*);
};
// Installs the host's answers (null: none); returns the old ones.
const HandoverOps* HandoverInstall(const HandoverOps* ops);
