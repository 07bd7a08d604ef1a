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

// A line was dropped for want of room: the next ones to the same stream do
// not wait. By descriptor: standard output, standard error.
std::atomic<bool> gStuck[2]{};

int64_t NowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool Dropped(int stream, bool forWantOfRoom) {
  if (forWantOfRoom) gStuck[stream - 1].store(true, std::memory_order_relaxed);
  return false;
}

// Where a line is written: a pipe or a terminal through a description of
// its own that never blocks, for a blocking write waits for the whole of
// what it was given, and a terminal that has room for part of a line (each
// line's end takes two characters) would hold it for good. The stream's own
// description is shared with the shell and other programs: its flags are
// not ours to change. -1 when there is none: then the stream itself.
int OpenOwn(int stream) {
  struct stat what{};
  if (::fstat(stream, &what) != 0 || !(S_ISFIFO(what.st_mode) || S_ISCHR(what.st_mode)))
    return -1;
  return ::open(stream == STDOUT_FILENO ? "/proc/self/fd/1" : "/proc/self/fd/2",
                O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

// Closes the description of its own when the line is done.
struct Out {
  explicit Out(int stream) : own(OpenOwn(stream)), fd(own >= 0 ? own : stream) {}
  ~Out() {
    if (own >= 0) ::close(own);
  }
  Out(const Out&) = delete;
  Out& operator=(const Out&) = delete;
  const int own, fd;
};

void Pause() {
  const timespec pause{0, 5 * 1000 * 1000};
  ::nanosleep(&pause, nullptr);
}

bool WriteTo(int stream, const char* bytes, size_t size) {
  const int64_t deadline =
      NowMs() + (gStuck[stream - 1].load(std::memory_order_relaxed) ? 0 : kPlatformSayPatienceMs);
  const Out to(stream);
  while (size > 0) {
    pollfd out{to.fd, POLLOUT, 0};
    const int64_t left = deadline - NowMs();
    const int ready = ::poll(&out, 1, left > 0 ? static_cast<int>(left) : 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (out.revents & POLLNVAL)) return Dropped(stream, false);
    if (ready == 0) return Dropped(stream, true);
    // A pipe with room takes up to PIPE_BUF bytes at once without blocking,
    // and takes them whole, never mixed with another writer's.
    const ssize_t written = ::write(to.fd, bytes, size < PIPE_BUF ? size : PIPE_BUF);
    if (written < 0 && (errno == EINTR || errno == EAGAIN)) {
      if (NowMs() >= deadline) return Dropped(stream, true);
      // A terminal says it has room when it has less than a line's end.
      if (errno == EAGAIN) Pause();
      continue;
    }
    if (written <= 0) return Dropped(stream, false);  // the reader has gone
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  gStuck[stream - 1].store(false, std::memory_order_relaxed);
  return true;
}

// Formats (printf) into a line and writes it to the stream.
__attribute__((format(printf, 2, 0))) bool FormatTo(int stream, const char* format,
                                                    va_list args) {
  char line[1024];
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  bool written = false;
  if (n >= 0 && static_cast<size_t>(n) < sizeof line) {
    written = WriteTo(stream, line, static_cast<size_t>(n));
  } else if (n >= 0) {
    std::vector<char> longer(static_cast<size_t>(n) + 1);
    std::vsnprintf(longer.data(), longer.size(), format, again);
    written = WriteTo(stream, longer.data(), static_cast<size_t>(n));
  }
  va_end(again);
  return written;
}

}  // namespace

void PlatformSayStart() {
  // A standard stream closed when the program started would hand its number
  // to the next file or socket opened (the display's connection, a file
  // being saved), and the lines said after would go into it: it is opened
  // on /dev/null instead, where they go nowhere.
  for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
    if (::fcntl(stream, F_GETFD) >= 0 || errno != EBADF) continue;
    const int null = ::open("/dev/null", stream == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != stream) {
      ::dup2(null, stream);
      ::close(null);
    }
  }
  struct sigaction ignore{};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

bool PlatformSayBytes(const char* bytes, size_t size) {
  return WriteTo(STDERR_FILENO, bytes, size);
}

bool PlatformSay(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool written = FormatTo(STDERR_FILENO, format, args);
  va_end(args);
  return written;
}

bool PlatformSayOut(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool written = FormatTo(STDOUT_FILENO, format, args);
  va_end(args);
  return written;
}
