#include "host/platform/handover.h"

namespace {
const HandoverOps* gOps = nullptr;
}

const HandoverOps* HandoverInstall(const HandoverOps* ops) {
  const HandoverOps* old = gOps;
  gOps = ops;
  return old;
}

Result ShellStoreContentStub(const char* f1, const char* f2, const char* f3, const char* f4,
                             const char* f5, const char* f6) {
  return gOps ? gOps->storeContent(f1, f2, f3, f4, f5, f6) : kHandsetNone;
}

Result ShellStubSaveUsat(const char* text) {
  return gOps ? gOps->saveUsat(text) : kHandsetNone;
}

Result ShellStubSaveMedia(const uint8_t* body, uint32_t length, const char* major, uint32_t unused) {
  return gOps ? gOps->saveMedia(body, length, major, unused) : kHandsetNone;
}

Result ShellStubLaunchMap(const uint8_t* body, uint32_t length, uint32_t typeId, uint32_t unused) {
  return gOps ? gOps->launchMap(body, length, typeId, unused) : kHandsetNone;
}

Result ShellStubInfoHook(const char* text, const char* backAddress) {
  return gOps ? gOps->infoHook(text, backAddress) : kHandsetNone;
}
