// The multimedia list, the content stores and the hooks that do nothing.
#include <cstdio>
#include <cstring>

#include "host/platform/files.h"
#include "host/platform/shell.h"
#include "host/shellsvc.h"

namespace {

// snprintf into a fixed field: cut to the field, always NUL-terminated.
void PutName(uint8_t* record, uint32_t offset, uint32_t size, const char* format, int32_t n) {
  std::snprintf(reinterpret_cast<char*>(record + offset), size, format, static_cast<int>(n));
}

}  // namespace

int32_t ShellMmFileCount() {
  uint32_t size = 0;
  if (PlatformFileSize(kShellMmListPath, &size) != FileStatus::Ok) return -1;
  return static_cast<int32_t>(size / kShellMmRecordSize);
}

int32_t ShellMmFileRecordInit(uint8_t* record, int32_t n) {
  std::memset(record, 0, kShellMmRecordSize);
  record[0] = static_cast<uint8_t>(n);
  PutName(record, kShellMmClassOffset, kShellMmClassSize, "class%d", n);
  PutName(record, kShellMmAppOffset, kShellMmAppSize, "AppName%d", n);
  PutName(record, kShellMmFileOffset, kShellMmFileSize, "Filename%d", n);
  record[kShellMmFlagsOffset] = 1;
  record[kShellMmFlagsOffset + 1] = 1;
  return 1;
}

int32_t ShellMmFileExists(const char*) { return 1; }
int32_t ShellMmClassBase() { return 256; }

void ShellMmPlay(uintptr_t, uintptr_t) {
  HostMessageBoxTitled("Emulating player", "Playing Multimedia file.");
}

void ShellMmDelete(uintptr_t, uintptr_t) {
  HostMessageBoxTitled("Emulating deleting", "Deleting Multimedia file");
}


int32_t HostSaveMovieFile(const uint8_t* data, uint32_t length) {
  return PlatformFileReplace(kShellMovieFile, data, length) == FileStatus::Ok ? 0 : 2;
}

