#include "kernel/ubstore.h"

namespace {

// The storage classes; the name is also the name of the class's file.
struct UbstoreClass {
  const char* name;
  int32_t quota;  // bytes a write may carry
};

UbstoreClass g_ubstoreClasses[] = {
    {"access", 8000},
    {"page", 8000},
    {"persistent", 12500},
    {"repository", 8000},
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
