#include "host/hostfolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "browser/hist.h"
#include "host/platform/say.h"

namespace {

// The files the engine keeps in the working folder, and what each holds.
struct KeptFile {
  const char* name;
  const char* holds;
};
constexpr KeptFile kKeptFiles[] = {
    {kHistFile, "the history"},
    {kIntHistFile, "the back stack"},
    {"repository", "the inbox, pushed local content and channels"},
    {"access", "provisioning and access settings"},
    {"page", "the favourites and user preferences"},
    {"persistent", "passwords, cookies and security settings"},
};

std::string WorkingFolder() {
  char* cwd = ::getcwd(nullptr, 0);
  std::string folder = cwd ? cwd : ".";
  std::free(cwd);
  return folder;
}

}  // namespace

bool HostSayUnkeptFiles() {
  // Every save writes a new file beside the old one and renames it over, so
  // the folder itself must take a new file.
  char probe[] = ".qor-probe-XXXXXX";
  const int fd = ::mkstemp(probe);
  if (fd < 0) {
    const int error = errno;
    PlatformSay(
        "qor: the working folder %s cannot be written (%s): nothing this run changes will be "
        "kept: not the history (%s, %s), the inbox (repository), provisioning (access) or other "
        "settings (page, persistent)\n",
        WorkingFolder().c_str(), std::strerror(error), kHistFile, kIntHistFile);
    return true;
  }
  ::close(fd);
  ::unlink(probe);
  bool said = false;
  for (const KeptFile& file : kKeptFiles) {
    struct stat st {};
    // A new file is renamed over anything but a folder.
    if (::lstat(file.name, &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    PlatformSay(
        "qor: %s in the working folder is a folder, not a file: %s will not be kept from this "
        "run\n",
        file.name, file.holds);
    said = true;
  }
  return said;
}
