#include "host/platform/say.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// A line was dropped for want of room: the next ones do not wait.
std::atomic<bool> gStuck{false};

int64_t NowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool Dropped(bool forWantOfRoom) {
  if (forWantOfRoom) gStuck.store(true, std::memory_order_relaxed);
  return false;
}

// Where a line is written: a pipe or a terminal through a description of
// its own that never blocks, for a blocking write waits for the whole of
// what it was given, and a terminal that has room for part of a line (each
// line's end takes two characters) would hold it for good. Standard error's
// own description is shared with the shell and other programs: its flags
// are not ours to change. -1 when there is none: then standard error itself.
int OpenOwn() {
  struct stat what{};
  if (::fstat(STDERR_FILENO, &what) != 0 || !(S_ISFIFO(what.st_mode) || S_ISCHR(what.st_mode)))
    return -1;
  return ::open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

// Closes the description of its own when the line is done.
struct Out {
  int own = OpenOwn();
  int fd = own >= 0 ? own : STDERR_FILENO;
  ~Out() {
    if (own >= 0) ::close(own);
  }
};

void Pause() {
  const timespec pause{0, 5 * 1000 * 1000};
  ::nanosleep(&pause, nullptr);
}

}  // namespace

void PlatformSayStart() {
  struct sigaction ignore{};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

bool PlatformSayBytes(const char* bytes, size_t size) {
  const int64_t deadline =
      NowMs() + (gStuck.load(std::memory_order_relaxed) ? 0 : kPlatformSayPatienceMs);
  const Out to;
  while (size > 0) {
    pollfd out{to.fd, POLLOUT, 0};
    const int64_t left = deadline - NowMs();
    const int ready = ::poll(&out, 1, left > 0 ? static_cast<int>(left) : 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (out.revents & POLLNVAL)) return Dropped(false);
    if (ready == 0) return Dropped(true);
    // A pipe with room takes up to PIPE_BUF bytes at once without blocking,
    // and takes them whole, never mixed with another writer's.
    const ssize_t written = ::write(to.fd, bytes, size < PIPE_BUF ? size : PIPE_BUF);
    if (written < 0 && (errno == EINTR || errno == EAGAIN)) {
      if (NowMs() >= deadline) return Dropped(true);
      // A terminal says it has room when it has less than a line's end.
      if (errno == EAGAIN) Pause();
      continue;
    }
    if (written <= 0) return Dropped(false);  // the reader has gone
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  gStuck.store(false, std::memory_order_relaxed);
  return true;
}

bool PlatformSay(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n < 0) return false;
  if (static_cast<size_t>(n) < sizeof line) return PlatformSayBytes(line, static_cast<size_t>(n));
  std::vector<char> longer(static_cast<size_t>(n) + 1);
  va_start(args, format);
  std::vsnprintf(longer.data(), longer.size(), format, args);
  va_end(args);
  return PlatformSayBytes(longer.data(), static_cast<size_t>(n));
}
