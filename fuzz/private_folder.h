// A folder of the fuzz process's own for the files a target must write,
// removed with everything in it when the process ends. It lies in memory
// where the machine has such a folder: settings files are flushed to disk
// on every save, which would otherwise set the pace of the whole run.
//
// A target that enters the folder (its code reads and writes the working
// folder) says so once: libFuzzer's corpus and artifact paths must then be
// absolute, or what it finds is written into the folder and removed with it.
#pragma once
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

inline std::string FuzzPrivateFolder(const char* name, bool enter) {
  static std::string folder;
  if (!folder.empty()) return folder;
  const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string pattern = std::string(base) + "/qor-" + name + "-XXXXXX";
  if (!::mkdtemp(pattern.data())) std::abort();
  folder = pattern;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  });
  if (enter) {
    if (::chdir(folder.c_str()) != 0) std::abort();
    std::fprintf(stderr, "working in %s: give corpus and artifact paths as absolute paths\n",
                 folder.c_str());
  }
  return folder;
}
