// Content the browser does not show but hands to the emulated handset: the
// records of a personal-data body, the text of a SIM-toolkit body, media
// and map bodies. The
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

// A collected video or audio body, with the major type of its row ("video"
// or "audio"). 0 when saved.
Result ShellStubSaveMedia(const uint8_t* body, uint32_t length, const char* major, uint32_t unused);
// A map body with its content type id; the answer is not used.
Result ShellStubLaunchMap(const uint8_t* body, uint32_t length, uint32_t typeId, uint32_t unused);

// A platform/app body as text, with the most recent page address that is no
// built-in info: page (null when none). 0 when taken.
Result ShellStubInfoHook(const char* text, const char* backAddress);

struct HandoverOps {
  Result (*storeContent)(const char*, const char*, const char*, const char*, const char*,
                         const char*);
  Result (*saveUsat)(const char*);
  Result (*saveMedia)(const uint8_t*, uint32_t, const char*, uint32_t);
  Result (*launchMap)(const uint8_t*, uint32_t, uint32_t, uint32_t);
  Result (*infoHook)(const char*, const char*);
};
// Installs the host's answers (null: none); returns the old ones.
const HandoverOps* HandoverInstall(const HandoverOps* ops);
