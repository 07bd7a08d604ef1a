// The settings store's records, shared by its source files only.
#pragma once
#include <cstdint>

#include "kernel/config.h"
#include "kernel/list.h"
#include "kernel/sstore.h"
#include "kernel/tskman.h"

// A row of the section table.
struct ConfigSection {
  const char* name;
  const char* className;
  uint32_t flags;
  const ConfigNotifyList* notify;
};

namespace ConfigFlag {
constexpr uint32_t InSlot = 1;        // inside the active slot's folder
constexpr uint32_t InAccess = 2;      // inside the access profile's folder
constexpr uint32_t IspFolder = 4;     // the folder is "isp", not the section's name
constexpr uint32_t NoFolder = 8;      // the slot folder itself
constexpr uint32_t InWap = 16;        // inside the WAP profile's folder
}  // namespace ConfigFlag

namespace ConfigUse {
constexpr uint32_t Handle = 50;
}

struct ConfigProfile {
  char slot[3];
  char name[kConfigProfileName + 1];
};

struct ConfigContext {
  TskmanTask* task;
  TskmanTask* reply;  // the starter
  bool busy;          // a section is being read, is open or is being saved
  bool slotRead;      // "UseSlot" read since the browser phase began
  ConfigHandle* current;
  char activeSlot[3];
  char slotCode[3];
  ConfigProfile access;
  ConfigProfile wap;
  Queue waiting;  // open requests in arrival order, while busy
  uint8_t saidDamaged;  // bit per storage class whose damage the user was told of
  uint8_t saidOverQuota;  // the same for a class file found over its quota
  uint8_t saidUnread;  // the same for a class file memory could not read for a reader
};

namespace ConfigState {
constexpr uint8_t Requested = 0, Reading = 1, Open = 2, Saving = 3;
}

struct ConfigHandle {
  QueueNode waitLink;     // in the context's waiting queue
  ConfigContext* config;  // null for a free-standing handle
  TskmanTask* reply;
  ListHead stack;  // StoreStackRecord, the class root first
  uintptr_t storageUser;
  uint8_t* storageBuffer;  // the class file, from the process heap
  uint32_t storageLength;
  uint8_t* saveBuffer;  // the serialised root while it is written
  const char* className;
  bool writable;
  bool useSlotCode;
  bool damaged;  // the class file held no readable section: opened empty
  bool look;     // the start's own read of a class file: nobody is answered
  uint8_t state;
  const ConfigSection* row;  // null when the name is not in the table
  uint32_t levels;           // levels of the section's own path below the root
  TskmanRef owner;           // the reply task, as it stood at the open
  ConfigNotKeptFn notKept;   // the owner's words for a save not kept
};

// The running store's context, or null.
ConfigContext* ConfigCurrent();

// The current (top) section, or null when nothing is open.
StoreSection* ConfigTop(ConfigHandle* handle);
// Enters one folder below the current level, creating it when allowed.
Result ConfigEnterLevel(ConfigHandle* handle, const char* name, uint32_t length, bool create);
// The integer value of a name in a section: 0 and kConfigNotFound when it is
// absent or not an integer.
Result ConfigReadInt(const StoreSection* section, const char* name, uint32_t length,
                     int32_t* value);
// Frees everything a handle holds, and the handle.
void ConfigHandleFree(ConfigHandle** handle);

const ConfigSection* ConfigFindSection(const char* name);
// Walks from the class root (the only level on the stack) to the section's
// own level; on failure only the root is left.
Result ConfigEnterSection(ConfigContext* ctx, ConfigHandle* handle);
// Names a profile; it takes the active slot. With `notify` the "isp" or
// "wapisp" listeners hear of a change.
void ConfigSetProfileName(ConfigContext* ctx, ConfigProfile* profile, const char* name,
                          bool notify);
