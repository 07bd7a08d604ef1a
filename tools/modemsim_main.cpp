// The modem simulator as a program: answers on a pseudo-terminal until it is
// told to stop. With --link PATH it makes PATH a symbolic link to the
// terminal, so a settings file can name a fixed path; it prints the
// terminal's path either way. With --parent PID it also stops when that
// process, its parent, ends, however it ends.
#include <pthread.h>
#include <sys/prctl.h>

#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "tools/modemsim.h"

namespace {
bool LinkNames(const std::string& link, const std::string& target) {
  char buffer[4096];
  const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
  return n >= 0 && std::string(buffer, static_cast<size_t>(n)) == target;
}
}  // namespace

int main(int argc, char** argv) {
  // The stops are blocked from the first instruction, so the answering
  // thread inherits the mask and only the wait below takes them: a stop
  // handled on that thread would set a flag the main thread, already
  // waiting, never looks at again. One that comes before the wait stays
  // pending until it.
  sigset_t stops;
  sigemptyset(&stops);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, s);
  ::pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  std::string link;
  long parent = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--link") == 0 && i + 1 < argc) {
      link = argv[++i];
    } else if (std::strcmp(argv[i], "--parent") == 0 && i + 1 < argc &&
               (parent = std::strtol(argv[i + 1], nullptr, 10)) > 0) {
      ++i;
    } else {
      std::fprintf(stderr, "usage: %s [--link PATH] [--parent PID]\n", argv[0]);
      return 2;
    }
  }
  // The parent's end is a stop too; one that has ended already (this
  // process was handed to another) is found at once.
  bool orphaned = false;
  if (parent > 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    orphaned = ::getppid() != static_cast<pid_t>(parent);
  }
  ModemSim sim;
  if (!sim.Start()) {
    std::perror("modemsim: no pseudo-terminal");
    return 1;
  }
  if (!link.empty()) {
    ::unlink(link.c_str());
    if (::symlink(sim.Path().c_str(), link.c_str()) != 0) {
      std::perror("modemsim: cannot make the link");
      return 1;
    }
  }
  std::printf("%s\n", sim.Path().c_str());
  std::fflush(stdout);
  if (!orphaned) {
    int taken = 0;
    ::sigwait(&stops, &taken);
  }
  // A link another simulator has made since names its terminal, not ours:
  // it stays.
  if (!link.empty() && LinkNames(link, sim.Path())) ::unlink(link.c_str());
  sim.Stop();
  return 0;
}
