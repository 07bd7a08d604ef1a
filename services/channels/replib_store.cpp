// The repository's section "repository": channels under "Channel", the
// resources they list under "Resource", with usage counts so that a resource
// shared by several channels is kept while any of them lists it.
#include "services/channels/replib_internal.h"

#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

constexpr uint32_t kModule = Mod::WtlReplib;

void Path(char* out, const char* folder, int32_t n) {
  LibcStrCopy(out, folder);
  LibcStrCat(out, "/");
  LibcItoA(n, out + LibcStrLen(out), 10);
}

}  // namespace

int32_t ReplibInt(ConfigHandle* h, const char* key, int32_t fallback) {
  int32_t v = 0;
  return ConfigGetInt(h, key, 0, &v) == kOk ? v : fallback;
}

Result ReplibOpen(ConfigHandle* h, const char* folder, int32_t n, bool create) {
  char path[32];
  if (n < 0) return ConfigOpenPath(h, folder, 0, create);
  Path(path, folder, n);
  return ConfigOpenPath(h, path, 0, create);
}

// Adds `delta` to a counter of the folder (created at 0 when missing).
Result ReplibAddCount(ConfigHandle* h, const char* folder, const char* key, int32_t delta) {
  Result r = ConfigOpenPath(h, folder, 0, true);
  if (r != kOk) return r;
  r = ConfigSetInt(h, key, ReplibInt(h, key, 0) + delta);
  const Result c = ConfigClose(h, r == kOk);
  return r != kOk ? r : c;
}

Result ReplibAddUsage(ConfigHandle* h, int32_t number, int32_t delta) {
  Result r = ReplibOpen(h, "Resource", number, false);
  if (r != kOk) return r;
  int32_t usage = ReplibInt(h, "usage", 0) + delta;
  if (usage < 0) usage = 0;
  r = ConfigSetInt(h, "usage", usage);
  const Result c = ConfigClose(h, r == kOk);
  return r != kOk ? r : c;
}

// The resource's fields into its open entry.
Result WriteFields(ConfigHandle* h, const RepResource* res) {
  Result r = kOk;
  if (res->typeId) r = ConfigSetInt(h, "content", static_cast<int32_t>(res->typeId));
  if (r == kOk && res->lastmod) r = ConfigSetInt(h, "mod", res->lastmod);
  if (r == kOk && res->etag) r = ConfigSetString(h, "etag", res->etag);
  if (r == kOk && res->md5) r = ConfigSetString(h, "md5", res->md5);
  if (r == kOk && res->data)
    r = ConfigSetRaw(h, "data", 0, res->data, res->dataLength, ConfigKind::Raw);
  return r;
}

char* ReplibRepUrl(const char* base, const char* href) {
  char* joined = RepJoinUrl(base, href);
  char* out = RepSchemeToRep(joined);
  MemFree(&joined);
  return out;
}

Result ReplibStoreResource(ConfigHandle* h, RepResource* res, const char* base) {
  Result r = kOk;
  if (res->state != RepState::Fetched) {
    r = ReplibAddUsage(h, res->number, 1);
  } else if (res->number >= 0) {
    r = ReplibAddUsage(h, res->number, 1);
    if (r == kOk && (r = ReplibOpen(h, "Resource", res->number, false)) == kOk) {
      r = WriteFields(h, res);
      const Result c = ConfigClose(h, r == kOk);
      if (r == kOk) r = c;
    }
  } else {
    if ((r = ConfigOpenPath(h, "Resource", 0, true)) != kOk) return r;
    const int32_t numres = ReplibInt(h, "numres", 0), freeres = ReplibInt(h, "freeres", 0);
    char name[12];
    LibcItoA(freeres, name, 10);
    char* url = ReplibRepUrl(base, res->href);
    r = url ? ConfigOpenPath(h, name, 0, true) : ReplibCode::NoMemory;
    if (r == kOk) {
      r = ConfigSetString(h, "url", url);
      if (r == kOk) r = ConfigSetInt(h, "usage", 1);
      if (r == kOk) r = WriteFields(h, res);
      const Result c = ConfigClose(h, r == kOk);
      if (r == kOk) r = c;
    }
    MemFree(&url);
    if (r == kOk) r = ConfigSetInt(h, "numres", numres + 1);
    if (r == kOk) r = ConfigSetInt(h, "freeres", freeres + 1);
    if (r == kOk) {
      res->number = freeres;
    } else {  // the entry and counts go back to what they were
      ConfigSetInt(h, "numres", numres);
      ConfigSetInt(h, "freeres", freeres);
      ConfigDelete(h, name, 0);
    }
    const Result c = ConfigClose(h, true);
    if (r == kOk) r = c;
  }
  if (r == kOk) res->state = RepState::Stored;
  return r;
}

void ReplibReleaseStored(ConfigHandle* h, RepChannel* c) {
  for (RepResource* res = c->resources; res; res = res->next)
    if (res->state == RepState::Stored && res->number >= 0) ReplibAddUsage(h, res->number, -1);
}

int32_t ReplibFindChannel(ConfigHandle* h, const RepIdentity* id, int32_t from) {
  if (ConfigOpenPath(h, "Channel", 0, false) != kOk) return -1;
  const int32_t freechan = ReplibInt(h, "freechan", 0);
  int32_t found = -1;
  for (int32_t n = from; n < freechan && found < 0; ++n) {
    char name[12];
    LibcItoA(n, name, 10);
    if (ConfigOpenPath(h, name, 0, false) != kOk) continue;
    const int32_t event = ReplibInt(h, "event", 0);
    const char* chanid = nullptr;
    const bool sameId = ConfigGetString(h, "chanid", 0, &chanid) == kOk && id->channelId &&
                        LibcStrCmp(chanid, id->channelId) == 0;
    if ((event != 0 && static_cast<uint32_t>(event) == id->event) || sameId) found = n;
    ConfigClose(h, false);
  }
  ConfigClose(h, false);
  return found;
}

Result ReplibDeleteChannel(ConfigHandle* h, int32_t n) {
  if (ReplibOpen(h, "Channel", n, false) != kOk) return kOk;
  const int32_t numres = ReplibInt(h, "numres", 0);
  int32_t* listed = numres > 0 ? static_cast<int32_t*>(
                                     MemAlloc(static_cast<uint32_t>(numres) * 4, Use::Data, kModule))
                               : nullptr;
  int32_t count = 0;
  for (int32_t i = 0; listed && i < numres; ++i) {
    char key[12];
    LibcItoA(i, key, 10);
    int32_t v = 0;
    if (ConfigGetInt(h, key, 0, &v) == kOk) listed[count++] = v;
  }
  ConfigClose(h, false);
  if (numres > 0 && !listed) return ReplibCode::NoMemory;
  Result r = ConfigOpenPath(h, "Channel", 0, false);
  if (r == kOk) {
    char name[12];
    LibcItoA(n, name, 10);
    r = ConfigDelete(h, name, 0);
    if (r == kOk) r = ConfigSetInt(h, "numchan", ReplibInt(h, "numchan", 1) - 1);
    ConfigClose(h, true);
  }
  for (int32_t i = 0; r == kOk && i < count; ++i) ReplibAddUsage(h, listed[i], -1);
  MemFree(&listed);
  return r;
}

Result ReplibWriteChannel(ConfigHandle* h, const RepChannel* c) {
  Result r = ConfigOpenPath(h, "Channel", 0, true);
  if (r != kOk) return r;
  const int32_t freechan = ReplibInt(h, "freechan", 0);
  char name[12];
  LibcItoA(freechan, name, 10);
  r = ConfigOpenPath(h, name, 0, true);
  if (r == kOk) {
    r = ConfigSetString(h, "chanid", c->identity.channelId ? c->identity.channelId : "");
    if (r == kOk) r = ConfigSetWString(h, "title", c->identity.title ? c->identity.title : u"");
    if (r == kOk) r = ConfigSetInt(h, "user", static_cast<int32_t>(c->identity.userAccessible));
    if (r == kOk) r = ConfigSetInt(h, "event", static_cast<int32_t>(c->identity.event));
    if (r == kOk) r = ConfigSetInt(h, "numres", static_cast<int32_t>(c->resourceCount));
    if (r == kOk && c->expiry) r = ConfigSetInt(h, "exp", c->expiry);
    int32_t i = 0;
    for (const RepResource* res = c->resources; r == kOk && res; res = res->next, ++i) {
      char key[12];
      LibcItoA(i, key, 10);
      r = ConfigSetInt(h, key, res->number);
    }
    const Result cl = ConfigClose(h, r == kOk);
    if (r == kOk) r = cl;
  }
  if (r == kOk) r = ConfigSetInt(h, "numchan", ReplibInt(h, "numchan", 0) + 1);
  if (r == kOk) r = ConfigSetInt(h, "freechan", freechan + 1);
  if (r != kOk) ConfigDelete(h, name, 0);
  const Result cl = ConfigClose(h, true);
  return r != kOk ? r : cl;
}

bool ReplibCleanup(ConfigHandle* h, int32_t now) {
  bool changed = false;
  if (ConfigOpenPath(h, "Channel", 0, false) == kOk) {
    const int32_t freechan = ReplibInt(h, "freechan", 0);
    ConfigClose(h, false);
    for (int32_t n = 0; n < freechan; ++n) {
      if (ReplibOpen(h, "Channel", n, false) != kOk) continue;
      const int32_t exp = ReplibInt(h, "exp", 0);
      ConfigClose(h, false);
      if (exp != 0 && exp < now && ReplibDeleteChannel(h, n) == kOk) changed = true;
    }
  }
  if (ConfigOpenPath(h, "Resource", 0, false) == kOk) {
    const int32_t freeres = ReplibInt(h, "freeres", 0);
    int32_t numres = ReplibInt(h, "numres", 0);
    for (int32_t m = 0; m < freeres; ++m) {
      char name[12];
      LibcItoA(m, name, 10);
      if (ConfigOpenPath(h, name, 0, false) != kOk) continue;
      const bool unused = ReplibInt(h, "usage", 1) == 0;
      ConfigClose(h, false);
      if (unused && ConfigDelete(h, name, 0) == kOk) {
        --numres;
        changed = true;
      }
    }
    if (changed) ConfigSetInt(h, "numres", numres < 0 ? 0 : numres);
    ConfigClose(h, changed);
  }
  return changed;
}

int32_t ReplibNextUserChannel(ConfigHandle* h, int32_t after) {
  if (ConfigOpenPath(h, "Channel", 0, false) != kOk) return -1;
  const int32_t freechan = ReplibInt(h, "freechan", 0);
  int32_t found = -1;
  for (int32_t n = after + 1; n < freechan && found < 0; ++n) {
    char name[12];
    LibcItoA(n, name, 10);
    const Result r = ConfigOpenPath(h, name, 0, false);
    if (r != kOk) {
      if (r != kConfigNotFound) break;
      continue;
    }
    if (ReplibInt(h, "user", 0) != 0) found = n;
    ConfigClose(h, false);
  }
  ConfigClose(h, false);
  return found;
}

char* ReplibFirstResourceUrl(ConfigHandle* h, int32_t channel) {
  if (ReplibOpen(h, "Channel", channel, false) != kOk) return nullptr;
  int32_t first = 0;
  char* out = nullptr;
  if (ConfigGetInt(h, "0", 0, &first) == kOk) {
    out = static_cast<char*>(MemAlloc(20, Use::String, kModule));
    if (out) {
      LibcStrCopy(out, "rep://");
      LibcItoA(first, out + 6, 10);
    }
  }
  ConfigClose(h, false);
  return out;
}
