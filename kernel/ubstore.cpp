#include "kernel/ubstore.h"

#include "host/platform/files.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"

namespace {

// The storage classes; the name is also the name of the class's file.
struct UbstoreClass {
  const char* name;
  int32_t quota;  // bytes a write may carry
  int32_t builtIn;  // the quota when none is set
};

UbstoreClass g_ubstoreClasses[] = {
    {"access", 8000, 8000},
    {"page", 8000, 8000},
    {"persistent", 12500, 12500},
    {"repository", 8000, 8000},
};

constexpr int32_t kUbstoreClassCount =
    static_cast<int32_t>(sizeof g_ubstoreClasses / sizeof g_ubstoreClasses[0]);

bool UbstoreNameEquals(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

}  // namespace

int32_t UbstoreClassIndex(const char* name) {
  if (name == nullptr) return -1;
  for (int32_t i = 0; i < kUbstoreClassCount; ++i)
    if (UbstoreNameEquals(g_ubstoreClasses[i].name, name)) return i;
  return -1;
}

int32_t UbstoreSetQuota(const char* name, int32_t bytes) {
  int32_t index = UbstoreClassIndex(name);
  if (index >= 0 && bytes >= 0) g_ubstoreClasses[index].quota = bytes;
  return index;
}

int32_t UbstoreGetQuota(int32_t index) {
  if (index < 0 || index >= kUbstoreClassCount) return -1;
  return g_ubstoreClasses[index].quota;
}

int32_t UbstoreBuiltInQuota(int32_t index) {
  if (index < 0 || index >= kUbstoreClassCount) return -1;
  return g_ubstoreClasses[index].builtIn;
}

void UbstoreRead(uint8_t** buffer, uint32_t* length, uintptr_t* userWord, TskmanTask* reply,
                 const char* className, uintptr_t user) {
  *buffer = nullptr;
  *length = 0;
  *userWord = kUbstoreUserWord;
  Result status = kOk;
  uint32_t size = 0;
  if (UbstoreClassIndex(className) < 0) {
    status = kUbstoreUnknownClass;
  } else {
    switch (PlatformFileSize(className, &size)) {
      case FileStatus::Missing:
        size = 0;
        break;
      case FileStatus::Ok:
        break;
      default:
        status = kUbstoreReadFailed;
        size = 0;
        break;
    }
  }
  if (size > 0) {
    auto* bytes = static_cast<uint8_t*>(PlatformAlloc(size));
    if (!bytes) {
      status = kUbstoreNoMemory;
    } else if (PlatformFileRead(className, bytes, size) != FileStatus::Ok) {
      PlatformFree(bytes);
      status = kUbstoreReadFailed;
    } else {
      *buffer = bytes;
      *length = size;
    }
  }
  if (reply) TskmanPost(reply, UbstoreMsg::Read, status, user);
}

void UbstoreWrite(TskmanTask* reply, const char* className, const uint8_t* buffer,
                  uint32_t length, uintptr_t user) {
  const int32_t index = UbstoreClassIndex(className);
  Result status = kOk;
  if (index < 0)
    status = kUbstoreUnknownClass;
  else if (length > static_cast<uint32_t>(UbstoreGetQuota(index)))
    status = kUbstoreOverQuota;
  else if (PlatformFileReplace(className, buffer, length) != FileStatus::Ok)
    status = kUbstoreWriteFailed;
  if (reply) TskmanPost(reply, UbstoreMsg::Written, status, user);
}

namespace {

Result KeepDamaged(const char* className, const uint8_t* bytes, uint32_t length, char* kept,
                   uint32_t keptSize) {
  static constexpr char kSuffix[] = ".damaged";
  if (UbstoreClassIndex(className) < 0) return kUbstoreUnknownClass;
  char path[32];
  uint32_t n = 0;
  for (; className[n] != '\0'; ++n) path[n] = className[n];  // class names are short
  for (uint32_t i = 0; i < sizeof kSuffix; ++i) path[n + i] = kSuffix[i];
  return PlatformFileKeepCopy(path, bytes, length, kept, keptSize) == FileStatus::Ok
             ? kOk
             : kUbstoreWriteFailed;
}

}  // namespace

Result UbstoreKeepDamaged(const char* className, const uint8_t* bytes, uint32_t length) {
  return KeepDamaged(className, bytes, length, nullptr, 0);
}

Result UbstoreSayDamaged(const char* className, const uint8_t* bytes, uint32_t length) {
  char kept[48];
  const Result r = KeepDamaged(className, bytes, length, kept, sizeof kept);
  if (r != kUbstoreUnknownClass) PlatformFileSayDamaged(className, r == kOk ? kept : nullptr);
  return r;
}

void UbstoreSayOverQuota(const char* className, uint32_t length) {
  const int32_t index = UbstoreClassIndex(className);
  if (index >= 0)
    PlatformFileSayOverQuota(className, length, static_cast<uint32_t>(UbstoreGetQuota(index)));
}

void UbstoreSayNotKept(const char* className, const char* what) {
  PlatformFileNotKept(className, what);
}

void UbstoreFreeBuffer(uintptr_t /*userWord*/, uint8_t** buffer) {
  PlatformFree(*buffer);
  *buffer = nullptr;
}

Result UbstoreCancel(const char* /*className*/, uintptr_t /*userWord*/, uint8_t** buffer) {
  MemFree(buffer);
  return kOk;
}
