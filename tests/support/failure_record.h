// Stands in for the host's record of what could not be saved or kept: while
// one lives, what the file failure hook is told is kept in `said` as
// "<path>: <what>" (the error number when there is no text), or `what`
// alone for a loss that is no save's, not said on standard error. The hook
// it replaced comes back when it ends.
#pragma once
#include <string>
#include <vector>

#include "host/platform/files.h"

class FailureRecord {
 public:
  FailureRecord() : previous_(PlatformFileOnFailure(Hear)) { Current() = this; }
  ~FailureRecord() {
    PlatformFileOnFailure(previous_);
    Current() = nullptr;
  }
  FailureRecord(const FailureRecord&) = delete;
  FailureRecord& operator=(const FailureRecord&) = delete;

  std::vector<std::string> said;

 private:
  static FailureRecord*& Current() {
    static FailureRecord* current = nullptr;
    return current;
  }
  static void Hear(const char* path, int error, const char* what) {
    if (FailureRecord* r = Current())
      r->said.push_back(path ? std::string(path) + ": " + (what ? what : std::to_string(error))
                             : std::string(what ? what : ""));
  }

  FileFailureHook previous_;
};
