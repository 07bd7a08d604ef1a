#include "browser/benmap.h"

#include "browser/benpage.h"
#include "kernel/libc.h"

namespace {

const char16_t* SkipHash(const char16_t* name) { return name[0] == u'#' ? name + 1 : name; }

}  // namespace

Result BenPageFindMap(const BenPage* page, const char16_t* usemap, BenMap** out) {
  if (out) *out = nullptr;
  if (!page || !usemap || !out) return kBenMapNotFound;
  const char16_t* wanted = SkipHash(usemap);
  for (ListNode* n = ListFirst(const_cast<ListHead*>(&page->maps)); n; n = ListNext(n)) {
    auto* map = reinterpret_cast<BenMap*>(n);
    if (map->name && LibcWStrCmp(SkipHash(map->name), wanted) == 0) {
      *out = map;
      return kOk;
    }
  }
  return kBenMapNotFound;
}
