// The settings writer: proxies, services and access points into the parsed
// tree while the document is read, and the commit of that tree into a
// numbered entry of "//access".
#include <initializer_list>

#include "kernel/config.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/provisioning/prov_internal.h"
#include "services/provisioning/prov_tokens.h"

namespace {

constexpr uint32_t kModule = Mod::Provisioning;

// Leaves the level most recently opened on `h`, storing it when `r` is kOk;
// a store that fails (memory running out) is the answer then.
Result Committed(ConfigHandle* h, Result r) {
  const Result c = ConfigClose(h, r == kOk);
  return r != kOk ? r : c;
}

// Copies the value `name` of the current level of `from` to the current level
// of `to` (a folder with everything in it).
Result CopyValue(ConfigHandle* from, const char* name, ConfigHandle* to, const char* as) {
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  ConfigKind kind{};
  Result r = ConfigGetRaw(from, name, 0, &data, &length, &kind);
  if (r != kOk) return r;
  void* copy = MemAlloc(length ? length : 1, Use::Data, kModule);
  if (!copy) return ProvCode::NoMemory;
  LibcMemCopy(copy, data, length);
  r = ConfigSetRaw(to, as, 0, copy, length, kind);
  MemFree(&copy);
  return r;
}

// Every child of the current level of `from` into the current level of `to`.
Result CopyChildren(ConfigHandle* from, ConfigHandle* to) {
  uintptr_t cursor = 0;
  const char* name = nullptr;
  uint32_t nameLength = 0, length = 0;
  const uint8_t* data = nullptr;
  ConfigKind kind{};
  while (ConfigEnum(from, &cursor, &name, &nameLength, &data, &length, &kind) == kOk)
    if (Result r = ConfigSetRaw(to, name, nameLength, data, length, kind); r != kOk) return r;
  return kOk;
}

// A folder of `from`'s current level merged child by child into the same
// folder of `to`'s.
Result MergeFolder(ConfigHandle* from, ConfigHandle* to, const char* folder) {
  if (ConfigOpenPath(from, folder, 0, false) != kOk) return kOk;
  Result r = ConfigOpenPath(to, folder, 0, true);
  if (r == kOk) {
    r = CopyChildren(from, to);
    r = Committed(to, r);
  }
  ConfigClose(from, false);
  return r;
}

void SetIfAbsent(ConfigHandle* h, const char* key, const char* value) {
  const char* old = nullptr;
  if (ConfigGetString(h, key, 0, &old) != kOk && value) ConfigSetString(h, key, value);
}

constexpr uint32_t kMaxProfiles = kConfigSlots;

struct ProfileNames {
  char names[kMaxProfiles][kConfigProfileName + 1];
  uint32_t count;
};

void ListProfiles(ConfigHandle* h, ProfileNames* out) {
  uintptr_t cursor = 0;
  const char* name = nullptr;
  uint32_t nameLength = 0, length = 0;
  const uint8_t* data = nullptr;
  ConfigKind kind{};
  out->count = 0;
  while (out->count < kMaxProfiles &&
         ConfigEnum(h, &cursor, &name, &nameLength, &data, &length, &kind) == kOk) {
    if (kind != ConfigKind::Folder || nameLength > kConfigProfileName) continue;
    LibcStrNCopy(out->names[out->count], name, nameLength);
    out->names[out->count][nameLength] = 0;
    ++out->count;
  }
}

// Keeps the access profiles the entry's mail, HTTP and WAP settings name
// ("*": one internet profile per bearer) and removes the others.
Result CheckAccessPoints(ConfigHandle* h) {
  char wanted[3][kConfigProfileName + 1];
  uint32_t wantedCount = 0;
  for (const char* key : {"email", "http", "wap"}) {
    if (ConfigOpenPath(h, key, 0, false) != kOk) continue;
    const char* isp = nullptr;
    if (ConfigGetString(h, "isp", 0, &isp) == kOk) {
      LibcStrNCopy(wanted[wantedCount], isp, kConfigProfileName);
      wanted[wantedCount][kConfigProfileName] = 0;
      ++wantedCount;
    }
    ConfigClose(h, false);
  }
  bool any = false;
  for (uint32_t i = 0; i < wantedCount; ++i) any = any || LibcStrCmp(wanted[i], "*") == 0;
  uint32_t found = 0;
  uint32_t anyKept = 0;
  if (ConfigOpenPath(h, "isp", 0, false) == kOk) {
    auto* profiles = static_cast<ProfileNames*>(MemAlloc(sizeof(ProfileNames), Use::Data, kModule));
    if (!profiles) {
      ConfigClose(h, false);
      return ProvCode::NoMemory;
    }
    ListProfiles(h, profiles);
    uint32_t bearersKept = 0;
    for (uint32_t i = 0; i < profiles->count; ++i) {
      const char* name = profiles->names[i];
      bool keep = false;
      for (uint32_t w = 0; w < wantedCount; ++w) keep = keep || LibcStrCmp(wanted[w], name) == 0;
      if (!keep && any && ConfigOpenPath(h, name, 0, false) == kOk) {
        int32_t internet = 0, bearer = 0;
        ConfigGetInt(h, "internet", 0, &internet);
        ConfigGetInt(h, "bearer", 0, &bearer);
        ConfigClose(h, false);
        if (internet && bearer >= 0 && bearer < 3 && !(bearersKept & (1u << bearer))) {
          bearersKept |= 1u << bearer;
          keep = true;
          anyKept = 1;
        }
      }
      if (!keep) ConfigDelete(h, name, 0);
    }
    for (uint32_t w = 0; w < wantedCount; ++w) {
      if (LibcStrCmp(wanted[w], "*") == 0) {
        found += anyKept;
        continue;
      }
      for (uint32_t i = 0; i < profiles->count; ++i)
        if (LibcStrCmp(wanted[w], profiles->names[i]) == 0) {
          ++found;
          break;
        }
    }
    MemFree(&profiles);
    if (Result r = ConfigClose(h, true); r != kOk) return r;
  }
  return found < wantedCount ? ProvCode::NoAccessPoint : kOk;
}

Result WriteAuth(ProvParser* p, bool http) {
  for (const ProvAuthSlot& slot : p->auth) {
    if (!(http ? slot.basicOrDigest : slot.wtls)) continue;
    if (slot.name)
      if (Result r = ConfigSetString(p->tree, "user", slot.name); r != kOk) return r;
    if (slot.password)
      if (Result r = ConfigSetString(p->tree, "pass", slot.password); r != kOk) return r;
    break;
  }
  return kOk;
}

Result WriteProxyKeys(ProvParser* p, bool http, const char* address) {
  ConfigHandle* t = p->tree;
  const ProvProxy& x = p->physical;
  Result r = ConfigSetString(t, "isp", p->targetAp[0] ? p->targetAp : "*");
  const char* domains = x.domains ? x.domains : p->logical.domains;
  if (r == kOk && domains) r = ConfigSetString(t, "domains", domains);
  if (r == kOk && address && *address) {
    r = ConfigSetString(t, "proxy", address);
    if (r == kOk) r = WriteAuth(p, http);
    if (r == kOk && !http && p->proxyAddressType == 135) r = ConfigSetInt(t, "bearer", 1);
  }
  if (r != kOk) return r;
  if (http) {
    if (x.lookedUpPort) r = ConfigSetInt(t, "port", x.lookedUpPort);
    if (r == kOk && p->exclude) r = ConfigSetString(t, "exclude", p->exclude);
    return r;
  }
  r = ConfigSetInt(t, "session_mode", (x.serviceMask & (2 | 8)) ? 1 : 0);
  static constexpr const char* kPortKeys[6] = {"clport",  "coport",    "clsport",
                                               "cosport", "clwtaport", "cowtaport"};
  for (uint32_t i = 0; i < 6 && r == kOk; ++i)
    if (x.serviceMask & (1u << i)) r = ConfigSetInt(t, kPortKeys[i], x.ports[i]);
  if (r == kOk && x.master) r = ConfigSetInt(t, "master", 1);
  return r;
}

}  // namespace

Result ProvWriteService(ProvParser* p, const char* name, const char* url) {
  if (Result r = ProvFlushPath(p); r != kOk) return r;
  Result r = ConfigOpenPath(p->tree, "service", 0, true);
  if (r != kOk) return r;
  r = ConfigOpenPath(p->tree, name, 0, true);
  if (r == kOk) {
    r = Committed(p->tree, ConfigSetString(p->tree, "url", url));
  }
  return Committed(p->tree, r);
}

Result ProvWriteProxy(ProvParser* p) {
  if (Result r = ProvFlushPath(p); r != kOk) return r;
  const char* address = p->proxyAddress;
  bool http = p->proxyIsHttp != 0;
  if (address && LibcStrNICmp(address, "http://", 7) == 0) {
    address += 7;
    http = true;
  }
  Result r = kOk;
  if (p->physical.pushEnabled && address && *address && *address != '*') {
    r = ConfigOpenPath(p->tree, "PPG", 0, true);
    if (r == kOk) {
      r = ConfigOpenPath(p->tree, address, 0, true);
      if (r == kOk) r = Committed(p->tree, r);
      r = Committed(p->tree, r);
    }
    if (r != kOk) return r;
  }
  uint32_t& written = http ? p->wroteHttp : p->wroteWap;
  if (written) return kOk;
  written = 1;
  r = ConfigOpenPath(p->tree, http ? "http" : "wap", 0, true);
  if (r != kOk) return r;
  r = WriteProxyKeys(p, http, address);
  const Result c = ConfigClose(p->tree, r == kOk);
  return r != kOk ? r : c;
}

Result ProvEndAccessPoint(ProvParser* p) {
  if (Result r = ProvFlushPath(p); r != kOk) return r;
  if (ConfigOpenPath(p->tree, "isp", 0, false) != kOk) return kOk;
  char* id = nullptr;
  Result r = kOk;
  if (ConfigOpenPath(p->tree, "new", 0, false) == kOk) {
    const char* text = nullptr;
    if (ConfigGetString(p->tree, "id", 0, &text) == kOk && *text && !(id = LibcStrDup(text)))
      r = ProvCode::NoMemory;
    ConfigDelete(p->tree, "id", 0);
    const Result c = ConfigClose(p->tree, true);
    if (r == kOk) r = c;
  }
  if (r == kOk && id && !p->unsupportedBearer) r = CopyValue(p->tree, "new", p->tree, id);
  ConfigDelete(p->tree, "new", 0);
  MemFree(&id);
  const Result c = ConfigClose(p->tree, r == kOk);
  return r != kOk ? r : c;
}

Result ProvWriteEntry(ProvParser* p, ConfigHandle* access) {
  ConfigHandle* tree = p->tree;
  if (Result r = ProvFlushPath(p); r != kOk) return r;
  Result r = kOk;
  if (ConfigOpenPath(tree, "PPG", 0, false) == kOk) {
    r = ConfigOpenPath(access, "PPG", 0, true);
    if (r == kOk) {
      r = Committed(access, CopyChildren(tree, access));
    }
    ConfigClose(tree, false);
    ConfigDelete(tree, "PPG", 0);
    if (r != kOk) return r;
  }
  if (p->contextAllowSet)
    if (r = ConfigSetInt(access, "AllowedServices", static_cast<int32_t>(p->contextAllow)); r != kOk)
      return r;
  char slot[12];
  LibcItoA(static_cast<int32_t>(p->slot), slot, 10);
  if (r = ConfigOpenPath(access, slot, 0, true); r != kOk) return r;
  uintptr_t cursor = 0;
  const char* name = nullptr;
  uint32_t nameLength = 0, length = 0;
  const uint8_t* data = nullptr;
  ConfigKind kind{};
  while (r == kOk && ConfigEnum(tree, &cursor, &name, &nameLength, &data, &length, &kind) == kOk) {
    const bool merged = kind == ConfigKind::Folder &&
                        ((nameLength == 3 && LibcStrNCmp(name, "isp", 3) == 0) ||
                         (nameLength == 7 && LibcStrNCmp(name, "service", 7) == 0));
    if (!merged) r = ConfigSetRaw(access, name, nameLength, data, length, kind);
  }
  if (r == kOk) r = MergeFolder(tree, access, "isp");
  if (r == kOk) r = MergeFolder(tree, access, "service");
  if (r == kOk) r = CheckAccessPoints(access);
  if (r == kOk) {
    SetIfAbsent(access, "url", p->initiator);
    SetIfAbsent(access, "name", p->initiator);
    r = ConfigSetInt(access, "Access", static_cast<int32_t>(p->accessLevel));
  }
  if (r == kOk && p->newEntry && p->method) r = ConfigSetInt(access, "sec", 1);
  const Result c = ConfigClose(access, r == kOk);
  return r != kOk ? r : c;
}
