#include "host/platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/platform/say.h"

namespace {

// Closes the descriptor when the scope ends.
struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// A save that fails is said at once: a file lost at the stop would
// otherwise go without a word.
void SayFailed(const char* path, int error, const char* what) {
  if (!path) {
    PlatformSay("qor: %s\n", what ? what : "lost");
    return;
  }
  PlatformSay("qor: could not save %s: %s\n", path,
              what ? what : error ? std::strerror(error) : "write failed");
}
FileFailureHook gFailureHook = SayFailed;

FileStatus Failed(const char* path, int error) {
  gFailureHook(path, error, nullptr);
  return FileStatus::Failed;
}

bool WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

FileStatus PlatformFileSize(const char* path, uint32_t* size) {
  *size = 0;
  struct stat st {};
  if (::stat(path, &st) != 0) return errno == ENOENT || errno == ENOTDIR ? FileStatus::Missing
                                                                         : FileStatus::Failed;
  if (!S_ISREG(st.st_mode)) return FileStatus::Missing;
  if (st.st_size > 0x7FFFFFFF) return FileStatus::TooLarge;
  *size = static_cast<uint32_t>(st.st_size);
  return FileStatus::Ok;
}

FileStatus PlatformFileRead(const char* path, void* dest, uint32_t size) {
  Fd f{::open(path, O_RDONLY | O_CLOEXEC)};
  if (f.fd < 0) return errno == ENOENT ? FileStatus::Missing : FileStatus::Failed;
  auto* p = static_cast<uint8_t*>(dest);
  uint32_t done = 0;
  while (done < size) {
    ssize_t r = ::read(f.fd, p + done, size - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return FileStatus::Failed;
    done += static_cast<uint32_t>(r);
  }
  return FileStatus::Ok;
}

FileStatus PlatformFileReplace(const char* path, const void* data, uint32_t size) {
  const std::string target(path);
  std::string temp = target + ".XXXXXX";
  Fd f{::mkstemp(temp.data())};
  if (f.fd < 0) return Failed(path, errno);
  bool ok = ::fchmod(f.fd, 0644) == 0 && WriteAll(f.fd, static_cast<const uint8_t*>(data), size) &&
            ::fsync(f.fd) == 0;
  int error = ok ? 0 : errno;
  if (::close(f.fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  f.fd = -1;
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return Failed(path, error);
  }
  // The rename itself must reach the disk too.
  Fd dir{::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (dir.fd >= 0) ::fsync(dir.fd);
  return FileStatus::Ok;
}

FileFailureHook PlatformFileOnFailure(FileFailureHook hook) {
  FileFailureHook old = gFailureHook;
  gFailureHook = hook ? hook : SayFailed;
  return old;
}

void PlatformFileSayFailed(const char* path, int error, const char* what) {
  SayFailed(path, error, what);
}

void PlatformFileNotKept(const char* path, const char* what) { gFailureHook(path, 0, what); }

void PlatformSayLost(const char* what) { gFailureHook(nullptr, 0, what); }

namespace {
void SayNotRead(const char* path) {
  PlatformSay("qor: %s is left unread in this run: not enough memory\n", path);
}
FileNotReadHook gNotReadHook = SayNotRead;
}  // namespace

FileNotReadHook PlatformFileOnNotRead(FileNotReadHook hook) {
  FileNotReadHook old = gNotReadHook;
  gNotReadHook = hook ? hook : SayNotRead;
  return old;
}

void PlatformFileNotRead(const char* path) { gNotReadHook(path); }

FileStatus PlatformFileRemove(const char* path) {
  if (::unlink(path) == 0) return FileStatus::Ok;
  return errno == ENOENT ? FileStatus::Missing : FileStatus::Failed;
}

namespace {

bool SameBytes(const std::string& path, const void* data, uint32_t size) {
  uint32_t have = 0;
  if (PlatformFileSize(path.c_str(), &have) != FileStatus::Ok || have != size) return false;
  std::string bytes(size, '\0');
  return PlatformFileRead(path.c_str(), bytes.data(), size) == FileStatus::Ok &&
         (size == 0 || std::memcmp(bytes.data(), data, size) == 0);
}

}  // namespace

FileStatus PlatformFileKeepCopy(const char* path, const void* data, uint32_t size, char* kept,
                                uint32_t keptSize) {
  if (kept && keptSize) kept[0] = '\0';
  for (int n = 0; n < kPlatformMostKeptCopies; ++n) {
    const std::string name = n ? std::string(path) + "." + std::to_string(n) : std::string(path);
    // The same bytes kept before (an earlier start found the same damage)
    // are not kept twice.
    if (SameBytes(name, data, size)) {
      if (kept && keptSize) std::snprintf(kept, keptSize, "%s", name.c_str());
      return FileStatus::Ok;
    }
    Fd f{::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)};
    if (f.fd < 0) {
      if (errno == EEXIST) continue;
      return Failed(name.c_str(), errno);
    }
    bool ok = WriteAll(f.fd, static_cast<const uint8_t*>(data), size) && ::fsync(f.fd) == 0;
    int error = ok ? 0 : errno;
    if (::close(f.fd) != 0 && ok) {
      ok = false;
      error = errno;
    }
    f.fd = -1;
    if (!ok) {
      ::unlink(name.c_str());
      return Failed(name.c_str(), error);
    }
    Fd dir{::open(FolderOf(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd >= 0) ::fsync(dir.fd);
    if (kept && keptSize) std::snprintf(kept, keptSize, "%s", name.c_str());
    return FileStatus::Ok;
  }
  return Failed(path, EEXIST);
}

void PlatformFileSayDamaged(const char* path, const char* kept) {
  if (kept)
    PlatformSay("qor: %s is damaged: its sections start empty; its bytes are kept in %s\n", path,
                kept);
  else
    PlatformSay(
        "qor: %s is damaged: its sections start empty; its bytes could not be kept, so it is "
        "not replaced\n",
        path);
}

void PlatformFileSayOverQuota(const char* path, uint32_t size, uint32_t quota) {
  PlatformSay(
      "qor: %s is over its quota (%u bytes of %u): it reads as it is, but no save that leaves it "
      "over the quota is made\n",
      path, static_cast<unsigned>(size), static_cast<unsigned>(quota));
}

void* PlatformAlloc(uint32_t size) { return std::malloc(size ? size : 1); }
void PlatformFree(void* p) { std::free(p); }
