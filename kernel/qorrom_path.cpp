#include "kernel/qorrom_path.h"

#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

// Past "file:" and its authority, or null when the authority is not local.
const char* UrlSkipFileScheme(const char* path) {
  if (LibcStrNICmp(path, "file:", 5) != 0) return path;
  path += 5;
  if (path[0] != '/' || path[1] != '/') return path;
  path += 2;
  if (LibcStrNICmp(path, "localhost", 9) == 0 && (path[9] == '/' || path[9] == '\0')) path += 9;
  return *path == '/' || *path == '\0' ? path : nullptr;
}

}  // namespace

Result UrlToLocalPath(const char* path, char** out, uint32_t /*flags*/) {
  if (!out) return ResultError(Mod::Url, Err::BadArg);
  *out = nullptr;
  if (!path) return ResultError(Mod::Url, Err::BadArg);
  path = UrlSkipFileScheme(path);
  if (!path) return ResultError(Mod::Url, Err::BadArg);

  // Decoding only shortens the text.
  char* local = static_cast<char*>(MemAlloc(LibcStrLen(path) + 1, Use::String, Mod::Url));
  if (!local) return ResultError(Mod::Url, Err::NoMemory);
  uint32_t n = 0;
  for (const char* p = path; *p; ++p) {
    int high, low;
    if (*p == '%' && (high = LibcHexDigit(p[1])) >= 0 && (low = LibcHexDigit(p[2])) >= 0) {
      const char c = static_cast<char>(high << 4 | low);
      if (c == '\0') {
        MemFree(&local);
        return ResultError(Mod::Url, Err::BadArg);
      }
      local[n++] = c;
      p += 2;
    } else {
      local[n++] = *p;
    }
  }
  local[n] = '\0';
  *out = local;
  return kOk;
}
