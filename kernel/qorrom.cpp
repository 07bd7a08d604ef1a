#include "kernel/qorrom.h"

#include <functional>

#include "kernel/qorrom_path.h"
#include "host/platform/files.h"
#include "host/platform/lang.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/modules.h"

namespace {

// The use code of file images.
constexpr uint32_t kQorRomUseImage = 21;
// Room for "romfiles", a language folder and an engine path.
constexpr uint32_t kQorRomHostRoom = kQorRomMaxPath + 32;

uint32_t QorRomReadBE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// A ".." segment or a backslash could lead out of the romfiles folder.
bool QorRomPathRefused(const char* path) {
  if (LibcStrChr(path, '\\')) return true;
  for (const char* p = path; *p; ++p) {
    const bool segmentStart = p == path || p[-1] == '/';
    if (segmentStart && p[0] == '.' && p[1] == '.' && (p[2] == '/' || p[2] == '\0')) return true;
  }
  return false;
}

bool QorRomInPackedTree(const uint8_t* file) {
  const std::less_equal<const uint8_t*> notAfter;
  return notAfter(kQorRomData, file) && notAfter(file, kQorRomData + kQorRomDataSize);
}

// A heap-owned image of `size` bytes: the little-endian word 0x80000000, then
// the bytes. Returns where the bytes go, or null.
uint8_t* QorRomNewImage(uint32_t size) {
  if (size > UINT32_MAX - 4) return nullptr;
  auto* block = static_cast<uint8_t*>(MemAlloc(size + 4, kQorRomUseImage, Mod::QorRom));
  if (!block) return nullptr;
  block[0] = block[1] = block[2] = 0;
  block[3] = 0x80;
  return block + 4;
}

void QorRomFreeImage(uint8_t* file) {
  uint8_t* block = file - 4;
  MemFree(&block);
}

// Appends `text` at out[*n]; false when it does not fit `room` with its NUL.
bool QorRomAppend(char* out, uint32_t* n, uint32_t room, const char* text) {
  const uint32_t len = LibcStrLen(text);
  if (len >= room - *n) return false;
  LibcMemCopy(out + *n, text, len + 1);
  *n += len;
  return true;
}

void Say(Result* why, Result what) {
  if (why) *why = what;
}

const uint8_t* QorRomReadFile(const char* hostPath, uint32_t* size, Result* why) {
  uint32_t length = 0;
  if (PlatformFileSize(hostPath, &length) != FileStatus::Ok) return nullptr;
  uint8_t* file = QorRomNewImage(length);
  if (!file) {
    Say(why, kQorRomNoMemory);
    return nullptr;
  }
  if (PlatformFileRead(hostPath, file, length) != FileStatus::Ok) {
    QorRomFreeImage(file);
    return nullptr;
  }
  if (size) *size = length;
  return file;
}

}  // namespace

bool QorRomHostPath(char* out, const char* path) {
  while (*path == '/') ++path;
  uint32_t n = 0;
  out[0] = '\0';
  return QorRomAppend(out, &n, kQorRomMaxPath, path);
}

const uint8_t* QorRomLookupDir(const char* path, uint32_t* storedSize, uint32_t* expandedSize) {
  const char* slash = LibcStrRChr(path, '/');
  if (!slash) return nullptr;
  const auto dirLength = static_cast<uint32_t>(slash - path);
  const char* name = slash + 1;
  for (uint32_t d = 0; d < kQorRomDirCount; ++d) {
    const QorRomDir& dir = kQorRomDirs[d];
    if (LibcStrLen(dir.path) != dirLength || LibcStrNCmp(dir.path, path, dirLength) != 0) continue;
    const uint32_t end = d + 1 < kQorRomDirCount ? kQorRomDirs[d + 1].first : kQorRomFileCount;
    for (uint32_t f = dir.first; f < end; ++f) {
      const QorRomFile& file = kQorRomFiles[f];
      if (LibcStrCmp(file.name, name) != 0) continue;
      if (storedSize) *storedSize = file.storedSize;
      if (expandedSize) *expandedSize = file.expandedSize;
      return file.entry;
    }
    return nullptr;
  }
  return nullptr;
}

const uint8_t* QorRomFind(const char* path, uint32_t* storedSize, uint32_t* expandedSize) {
  if (path[0] == '/') {
    if (!LibcStrChr(path + 1, '/')) return nullptr;
    return QorRomLookupDir(path, storedSize, expandedSize);
  }
  // The current language's folder first, then those it falls back to.
  for (const ShellLanguage* lang = ShellGetLanguage(); lang; lang = lang->fallback) {
    char full[kQorRomMaxPath];
    uint32_t n = 0;
    full[0] = '\0';
    if (!QorRomAppend(full, &n, sizeof full, lang->folder) ||
        !QorRomAppend(full, &n, sizeof full, path))
      continue;
    if (const uint8_t* entry = QorRomLookupDir(full, storedSize, expandedSize)) return entry;
  }
  return nullptr;
}

const uint8_t* QorRomReadHostFile(const char* path, uint32_t* size, Result* why) {
  Say(why, kQorRomNotFound);
  if (!path || QorRomPathRefused(path)) return nullptr;
  if (LibcStrChr(path, ':')) {
    // A host path in URL form.
    char* local = nullptr;
    if (const Result r = UrlToLocalPath(path, &local, 0); ResultFailed(r)) {
      if (ResultNoMemory(r)) Say(why, kQorRomNoMemory);
      return nullptr;
    }
    const uint8_t* file = QorRomPathRefused(local) ? nullptr : QorRomReadFile(local, size, why);
    MemFree(&local);
    return file;
  }
  char hostPath[kQorRomHostRoom];
  char tail[kQorRomMaxPath];
  uint32_t n = 0;
  hostPath[0] = '\0';
  if (!QorRomAppend(hostPath, &n, sizeof hostPath, "romfiles/")) return nullptr;
  if (path[0] != '/' && !QorRomAppend(hostPath, &n, sizeof hostPath,
                                      ShellGetLanguage()->folder + 1))
    return nullptr;
  if (!QorRomHostPath(tail, path) || !QorRomAppend(hostPath, &n, sizeof hostPath, tail))
    return nullptr;
  return QorRomReadFile(hostPath, size, why);
}

const uint8_t* QorRomInflate(const uint8_t* stored, uint32_t* size, uint32_t expandedSize) {
  if (expandedSize > kQorRomMaxExpanded) return nullptr;
  uint8_t* file = QorRomNewImage(expandedSize);
  if (!file) return nullptr;
  uint32_t produced = expandedSize;
  if (!QorRomDecompress(stored, *size, file - 4, &produced)) {
    QorRomFreeImage(file);
    return nullptr;
  }
  *size = expandedSize;
  return file;
}

const uint8_t* QorRomOpen(const char* path, uint32_t* size, Result* why) {
  Say(why, kQorRomNotFound);
  if (!path || QorRomPathRefused(path) || LibcStrLen(path) >= kQorRomMaxPath) return nullptr;
  if (const uint8_t* file = QorRomReadHostFile(path, size, why)) {
    Say(why, kOk);
    return file;
  }
  // A file of the folder that memory could not hold is not passed over for
  // the built-in one of the same path.
  if (why && *why == kQorRomNoMemory) return nullptr;
  uint32_t stored = 0;
  uint32_t expanded = 0;
  const uint8_t* entry = QorRomFind(path, &stored, &expanded);
  if (!entry) return nullptr;
  if (QorRomReadBE32(entry) & kQorRomCompressed) {
    // Only memory keeps a packed entry from expanding; the packer checked
    // every one.
    const uint8_t* file = QorRomInflate(entry + 4, &stored, expanded);
    if (file && size) *size = stored;
    Say(why, file ? kOk : kQorRomNoMemory);
    return file;
  }
  if (size) *size = stored;
  Say(why, kOk);
  return entry + 4;
}

void QorRomRelease(const uint8_t* file) {
  if (!file || QorRomInPackedTree(file)) return;
  QorRomFreeImage(const_cast<uint8_t*>(file));
}
