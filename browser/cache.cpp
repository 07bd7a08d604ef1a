// The object cache: completed loads in order of use, least recent first.
#include "browser/cache.h"

#include "browser/url.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

ListHead gLoads;
bool gReady;

ListHead* Loads() {
  if (!gReady) {
    ListInit(&gLoads);
    gReady = true;
  }
  return &gLoads;
}

UrlLoad* LoadOf(ListNode* node) { return reinterpret_cast<UrlLoad*>(node); }

bool Free(const UrlLoad* load) { return load->locks == 0 && load->users == 0; }

UrlLoad* FindName(const char* name) {
  for (ListNode* n = ListFirst(Loads()); n; n = ListNext(n))
    if (LibcStrCmp(LoadOf(n)->name, name) == 0) return LoadOf(n);
  return nullptr;
}

}  // namespace

void CacheInit() { MemSetEvictor(CacheFreeOne); }

void CacheClear() {
  while (ListNode* n = ListFirst(Loads())) {
    UrlLoad* load = LoadOf(n);
    CacheRemove(load);
    UrlLoadFree(load);
  }
  MemSetEvictor(nullptr);
}

void CachePurgeExpired() {
  ListNode* n = ListFirst(Loads());
  while (n) {
    ListNode* next = ListNext(n);
    UrlLoad* load = LoadOf(n);
    if (Free(load) && CacheIsExpired(load)) UrlLoadFree(load);
    n = next;
  }
}

int CacheFreeOne() {
  for (ListNode* n = ListFirst(Loads()); n; n = ListNext(n)) {
    UrlLoad* load = LoadOf(n);
    if (Free(load)) {
      UrlLoadFree(load);
      return 1;
    }
  }
  return 0;
}

void CacheAdd(UrlLoad* load) {
  if (!load || load->inCache) return;
  if (UrlLoad* old = FindName(load->name)) {
    CacheRemove(old);
    if (Free(old)) UrlLoadFree(old);
  }
  ListAppend(Loads(), &load->cacheLink);
  load->inCache = 1;
}

void CacheRemove(UrlLoad* load) {
  if (!load || !load->inCache) return;
  ListRemove(&load->cacheLink);
  load->inCache = 0;
}

UrlLoad* CacheFindByName(const UrlParsed* url) {
  if (!url || ListIsEmpty(Loads())) return nullptr;
  char* name = nullptr;
  if (UrlToString(&name, url, kUrlNoFragment) != kOk) return nullptr;
  UrlLoad* load = FindName(name);
  MemFree(&name);
  return load;
}

UrlLoad* CacheFindByText(const char* name) { return name ? FindName(name) : nullptr; }

int CacheFindNextFresh(void** cursor, UrlLoad** out) {
  *out = nullptr;
  auto* n = static_cast<ListNode*>(*cursor);
  for (n = n ? ListNext(n) : ListFirst(Loads()); n; n = ListNext(n)) {
    if (!CacheIsExpired(LoadOf(n))) {
      *cursor = n;
      *out = LoadOf(n);
      return 1;
    }
  }
  *cursor = nullptr;
  return 0;
}

void CacheSetFreeHook(UrlLoad* load, CacheFreeHook callback) {
  if (load) load->freeHook = callback;
}

bool CacheIsExpired(const UrlLoad* load) {
  return load->expiry != 0 && load->expiry <= LibcTime(nullptr);
}

void CacheTouch(UrlLoad* load) {
  if (!load || !load->inCache) return;
  ListRemove(&load->cacheLink);
  ListAppend(Loads(), &load->cacheLink);
}

uint32_t CacheCount() {
  uint32_t n = 0;
  for (ListNode* node = ListFirst(Loads()); node; node = ListNext(node)) ++n;
  return n;
}
