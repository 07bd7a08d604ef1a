// The repository task's work on its section, shared by its request handlers.
#pragma once
#include <cstdint>

#include "kernel/config.h"
#include "services/channels/rep.h"

int32_t ReplibInt(ConfigHandle* h, const char* key, int32_t fallback);
// Enters folder/n (n < 0: the folder itself).
Result ReplibOpen(ConfigHandle* h, const char* folder, int32_t n, bool create);
Result ReplibAddUsage(ConfigHandle* h, int32_t number, int32_t delta);
// base joined to href, with the scheme "rep"; a new text.
char* ReplibRepUrl(const char* base, const char* href);
Result ReplibStoreResource(ConfigHandle* h, RepResource* resource, const char* base);
// Gives back the usage the channel's stored resources took.
void ReplibReleaseStored(ConfigHandle* h, RepChannel* channel);
// The first stored channel from `from` on with the same event or id; -1.
int32_t ReplibFindChannel(ConfigHandle* h, const RepIdentity* id, int32_t from);
Result ReplibDeleteChannel(ConfigHandle* h, int32_t n);
// Stores the channel under "freechan" with the resource numbers it lists.
Result ReplibWriteChannel(ConfigHandle* h, const RepChannel* channel);
// Expired channels and unused resources go; true when something did.
bool ReplibCleanup(ConfigHandle* h, int32_t now);
// The next user-accessible channel after `after`, -1 for none.
int32_t ReplibNextUserChannel(ConfigHandle* h, int32_t after);
// "rep://" and the number of the channel's first resource; null for none.
char* ReplibFirstResourceUrl(ConfigHandle* h, int32_t channel);
