// The cache holds no objects yet: nothing to empty, nothing to evict.
#include "browser/cache.h"

void CacheInit() {}
void CacheClear() {}
void CachePurgeExpired() {}
int CacheFreeOne() { return 0; }
