// The object cache: what the memory manager evicts when the heap runs dry.
#pragma once

void CacheInit();
void CacheClear();
void CachePurgeExpired();
// 1 when one cached object was evicted, 0 when nothing can be evicted.
int CacheFreeOne();
