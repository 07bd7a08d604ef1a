// The object cache: completed loads kept by their URL, and what the memory
// manager evicts when the heap runs dry. A load is never evicted while it is
// locked (UrlLoadSetFlags) or while a request names it.
#pragma once
#include <cstdint>

struct UrlLoad;
struct UrlParsed;
using CacheFreeHook = void (*)(UrlLoad* load);

// Installs the cache as the memory manager's evictor.
void CacheInit();
// Frees every cached load (locked or not) and removes the evictor.
void CacheClear();
// Frees the expired loads that are not locked or in use.
void CachePurgeExpired();
// 1 when one cached load was freed (the least recently used that is free to
// go), 0 when nothing can be evicted.
int CacheFreeOne();

// Takes a completed load into the cache under its name; a load cached before
// under that name goes (or, when it is locked or in use, stops being found).
void CacheAdd(UrlLoad* load);
// Takes a load out of the cache without freeing it.
void CacheRemove(UrlLoad* load);
// The cached load of that URL (its fragment ignored), or null.
UrlLoad* CacheFindByName(const UrlParsed* url);
// The cached load whose name is exactly `name` (a URL as it is written
// out, without its fragment), or null; takes no memory.
UrlLoad* CacheFindByText(const char* name);
// Walks the cached loads that have not expired: *cursor null starts; 1 and
// the next load, 0 at the end.
int CacheFindNextFresh(void** cursor, UrlLoad** out);
// The callback runs when the cache frees the load.
void CacheSetFreeHook(UrlLoad* load, CacheFreeHook callback);
// True when the load's expiry has passed.
bool CacheIsExpired(const UrlLoad* load);
// Marks the load as just used.
void CacheTouch(UrlLoad* load);
// Number of cached loads.
uint32_t CacheCount();
