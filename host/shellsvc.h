// The emulated handset's other services: the multimedia file list, content
// stores that accept and drop, the movie file, system sounds and sound files,
// the delayed confirmation, the zone-service flags and the empty hooks.
//
// What needs the host proper (system sounds, qor.ini) comes through
// ShellServiceOps, which the host installs at start.
#pragma once
#include <cstdint>

#include "host/platform/handset.h"
#include "host/platform/shell.h"
#include "kernel/modules.h"

struct ShellServiceOps {
  void* ctx;
  // Plays the system's sound of that alias asynchronously; stops it.
  void (*playSystemSound)(void* ctx, const char* alias);
  void (*stopSystemSound)(void* ctx);
  // The integer of the key in qor.ini's section "operation" (0 when absent).
  int32_t (*operationValue)(void* ctx, const char* key);
};
// Installs the host's services (null restores the defaults: silence, every
// flag 0); returns the old.
const ShellServiceOps* ShellServicesInstall(const ShellServiceOps* ops);

// The multimedia file list: 80-byte records, of which only the count is used.
constexpr const char* kShellMmListPath = "../shared/qor/qor_file.lst";
constexpr uint32_t kShellMmRecordSize = 80;
// Number byte, class name (10 bytes), application name (32), file name (32),
// two flag bytes, three zero bytes; the names NUL-terminated.
constexpr uint32_t kShellMmClassOffset = 1, kShellMmClassSize = 10;
constexpr uint32_t kShellMmAppOffset = 11, kShellMmAppSize = 32;
constexpr uint32_t kShellMmFileOffset = 43, kShellMmFileSize = 32;
constexpr uint32_t kShellMmFlagsOffset = 75;

// The whole records in the list, or -1 when it cannot be opened.
int32_t ShellMmFileCount();
// Fills the record for number n ("class<n>", "AppName<n>", "Filename<n>",
// names cut to their fields); returns 1.
int32_t ShellMmFileRecordInit(uint8_t* record, int32_t n);
int32_t ShellMmFileExists(const char* name);  // 1
int32_t ShellMmClassBase();                   // 256
// Message boxes standing in for the handset's player and its delete.
void ShellMmPlay(uintptr_t a, uintptr_t b);
void ShellMmDelete(uintptr_t a, uintptr_t b);


// Replaces "flash.qvx" with the movie data: 0, or 2 when it cannot be written.
constexpr const char* kShellMovieFile = "flash.qvx";
int32_t HostSaveMovieFile(const uint8_t* data, uint32_t length);

// A sound for the handset: data whose first byte is not 0 announces itself
// with the "SystemStart" sound and is written to the next "<n>.sound"
// (counting from 1; a failed write still uses up its number); no data (or a
// first byte of 0) stops the system sound and starts the numbering again.
void HostPlaySystemSound(uint32_t code, const uint8_t* data, uint32_t length);

// The delayed confirmation: 3000 ms after the request, on the engine's
// thread (an engine timer), callback("RESULT_OK", "STATUS_OK", value) is
// called. 0, 0x8000 while one is pending, or 0x80550001 when memory is short.
constexpr uint32_t kShellConfirmMs = 3000;
constexpr Result kShellConfirmPending = 0x8000;
Result HostStartConfirmThread(uintptr_t unused, uintptr_t value, ShellConfirmCallback callback);

// The zone-service flags: 1 when qor.ini's "operation" key "rcell_avail",
// "rcell_NonRcellSession" or "rcell_IsRcellNam" is a non-zero integer.
int32_t HostRcellAvailable();
int32_t HostRcellNonRcellSession();
int32_t HostIsRcellNam();

