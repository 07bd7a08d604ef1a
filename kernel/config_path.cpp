// The path of a settings section below its class root: the slot folder, the
// section's own folders and the access or WAP profile, with the choice of a
// profile when the named one is missing.
#include "kernel/config.h"
#include "kernel/config_internal.h"
#include "kernel/libc.h"
#include "kernel/sstore.h"

namespace {

constexpr uint32_t kBearerAccess = 0, kBearerWap = 2;

const ConfigNotifyList* ProfileList(ConfigContext* ctx, const ConfigProfile* profile) {
  return ConfigFindSection(profile == &ctx->wap ? "wapisp" : "isp")->notify;
}

}  // namespace

void ConfigSetProfileName(ConfigContext* ctx, ConfigProfile* profile, const char* name,
                          bool notify) {
  LibcStrCopy(profile->slot, ctx->activeSlot);
  if (!name) name = "";
  if (LibcStrNCmp(profile->name, name, kConfigProfileName) == 0) return;
  // "*" asks for any profile; it never replaces one already chosen.
  if (profile->name[0] != '\0' && name[0] == '*') return;
  LibcStrNCopy(profile->name, name, kConfigProfileName);
  profile->name[kConfigProfileName] = '\0';
  if (notify) ConfigNotifyChange(nullptr, ProfileList(ctx, profile));
}

namespace {

// The profile a section's path runs through, or null.
ConfigProfile* ProfileOf(ConfigContext* ctx, uint32_t flags) {
  if ((flags & ConfigFlag::InWap) && ctx->wap.name[0] != '\0') return &ctx->wap;
  if (flags & (ConfigFlag::InAccess | ConfigFlag::InWap)) return &ctx->access;
  return nullptr;
}

bool IsWanted(const StoreEntry& entry) {
  return entry.kind == StoreKind::Folder && entry.nameLength <= kConfigProfileName;
}

// The profile folders of an "isp" folder that carry the wanted bearer: the
// first one also marked "internet" when `strict`, else the first one.
bool ChooseProfile(const StoreSection* isp, uint32_t bearer, bool strict, StoreEntry* chosen) {
  uintptr_t cursor;
  StoreEntry entry;
  for (Result r = StoreFirst(isp, &cursor, &entry); r == kOk;
       r = StoreNext(isp, &cursor, &entry)) {
    if (!IsWanted(entry)) continue;
    StoreSection* profile = nullptr;
    StoreParseSection(&profile, entry.value, entry.valueLength, nullptr, false);
    if (!profile) continue;
    int32_t value = 0, internet = 0;
    const bool match = ConfigReadInt(profile, "bearer", 0, &value) == kOk &&
                       static_cast<uint32_t>(value) == bearer &&
                       (!strict || (ConfigReadInt(profile, "internet", 0, &internet) == kOk &&
                                    internet != 0));
    StoreFreeSection(&profile);
    if (match) {
      *chosen = entry;
      return true;
    }
  }
  return false;
}

bool PickProfile(const StoreSection* isp, uint32_t bearer, StoreEntry* chosen) {
  return ChooseProfile(isp, bearer, true, chosen) || ChooseProfile(isp, bearer, false, chosen);
}

void CopyName(char* out, const StoreEntry& entry) {
  LibcMemCopy(out, entry.name, entry.nameLength);
  out[entry.nameLength] = '\0';
}

// The other slot folders of the root, searched for a profile of the wanted
// bearer; sets the profile's slot and name, without notification.
bool UseDefaultProfile(ConfigContext* ctx, ConfigHandle* handle, ConfigProfile* profile,
                       uint32_t bearer) {
  auto* root = reinterpret_cast<StoreStackRecord*>(ListFirst(&handle->stack));
  char fallbackSlot[3] = "";
  char fallbackName[kConfigProfileName + 1] = "";
  uintptr_t cursor;
  StoreEntry slot;
  for (Result r = StoreFirst(root->section, &cursor, &slot); r == kOk;
       r = StoreNext(root->section, &cursor, &slot)) {
    if (slot.kind != StoreKind::Folder || slot.nameLength > 2 || slot.name[0] < '0' ||
        slot.name[0] > '9' || LibcStrCmp(reinterpret_cast<const char*>(slot.name),
                                         ctx->activeSlot) == 0)
      continue;
    StoreSection* slotSection = nullptr;
    StoreSection* isp = nullptr;
    StoreEntry ispEntry, chosen;
    StoreParseSection(&slotSection, slot.value, slot.valueLength, nullptr, false);
    if (slotSection && StoreReadValue(slotSection, "isp", 3, &ispEntry) == kOk &&
        ispEntry.kind == StoreKind::Folder)
      StoreParseSection(&isp, ispEntry.value, ispEntry.valueLength, nullptr, false);
    bool strict = false;
    if (isp && ChooseProfile(isp, bearer, true, &chosen)) {
      strict = true;
      CopyName(profile->name, chosen);
      CopyName(profile->slot, slot);
    } else if (isp && fallbackName[0] == '\0' && ChooseProfile(isp, bearer, false, &chosen)) {
      CopyName(fallbackName, chosen);
      CopyName(fallbackSlot, slot);
    }
    StoreFreeSection(&isp);
    StoreFreeSection(&slotSection);
    if (strict) return true;
  }
  if (fallbackName[0] == '\0') return false;
  LibcStrCopy(profile->slot, fallbackSlot);
  LibcStrCopy(profile->name, fallbackName);
  return true;
}

// Leaves every level above the class root, storing nothing.
void CloseToRoot(ConfigHandle* handle) {
  while (StoreDepth(&handle->stack) > 1) StoreReleaseSection(&handle->stack);
}

Result EnterProfile(ConfigContext* ctx, ConfigHandle* handle, ConfigProfile* profile) {
  const uint32_t bearer = profile == &ctx->wap ? kBearerWap : kBearerAccess;
  StoreSection* isp = ConfigTop(handle);
  StoreEntry found;
  const char* name = profile->name;
  if (name[0] == '\0' || name[0] == '*' || StoreReadValue(isp, name, 0, &found) != kOk) {
    StoreEntry chosen;
    if (PickProfile(isp, bearer, &chosen)) {
      char picked[kConfigProfileName + 1];
      CopyName(picked, chosen);
      ConfigSetProfileName(ctx, profile, picked, true);
    }
  }
  // A profile without a real name is never made up as a folder.
  if (name[0] == '\0' || name[0] == '*') return kConfigNotFound;
  return ConfigEnterLevel(handle, name, 0, handle->writable);
}

// One walk from the class root down to the section's own level.
Result WalkPath(ConfigContext* ctx, ConfigHandle* handle) {
  const ConfigSection* row = handle->row;
  const uint32_t flags = row->flags;
  Result r;
  if (flags & ConfigFlag::InSlot) {
    if (!ctx->slotRead) {
      int32_t useSlot = 0;
      ConfigReadInt(ConfigTop(handle), "UseSlot", 0, &useSlot);
      ConfigSetActiveSlot(static_cast<uint32_t>(useSlot));
    }
    ConfigProfile* profile = ProfileOf(ctx, flags);
    const char* slot = handle->useSlotCode ? ctx->slotCode : ctx->activeSlot;
    // A named profile keeps the slot it was chosen in.
    if (profile && profile->name[0] != '\0') slot = profile->slot;
    if ((r = ConfigEnterLevel(handle, slot, 0, handle->writable)) != kOk) return r;
  }
  if (flags & ConfigFlag::IspFolder) {
    if ((r = ConfigEnterLevel(handle, "isp", 3, handle->writable)) != kOk) return r;
  } else if (!(flags & ConfigFlag::NoFolder)) {
    const char* name = row->name;
    while (*name) {
      uint32_t length = 0;
      while (name[length] != '\0' && name[length] != '/') ++length;
      if (length && (r = ConfigEnterLevel(handle, name, length, handle->writable)) != kOk)
        return r;
      name += name[length] ? length + 1 : length;
    }
  }
  if (ConfigProfile* profile = ProfileOf(ctx, flags)) return EnterProfile(ctx, handle, profile);
  return kOk;
}

}  // namespace

Result ConfigEnterSection(ConfigContext* ctx, ConfigHandle* handle) {
  const ConfigSection* row = handle->row;
  if (row->name[0] == '/' && row->name[1] == '/') return kOk;
  Result r = WalkPath(ctx, handle);
  if (r == kConfigNotFound && !handle->writable) {
    // Once per open: a profile found in another slot stands in.
    ConfigProfile* profile = ProfileOf(ctx, row->flags);
    CloseToRoot(handle);
    if (profile &&
        UseDefaultProfile(ctx, handle, profile, profile == &ctx->wap ? kBearerWap : kBearerAccess))
      r = WalkPath(ctx, handle);
  }
  if (r != kOk) CloseToRoot(handle);
  return r;
}
