// The failing side of the crash report. Everything a fault handler does here
// is async-signal-safe: the report program's path and the alternate stack are
// prepared at installation, the record is formatted into a static buffer with
// our own digits, and the report program is started with _Fork and execve.
// glibc's backtrace() is safe here only because installation calls it once,
// which loads the unwinder it would otherwise load on first use.
#include "host/crash.h"

#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "host/crashrecord.h"
#include "host/platform/say.h"

extern char** environ;

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT};
constexpr size_t kAltStackSize = 256 * 1024;
constexpr char kReporterName[] = "qor_crashreport";
// Room for the handler's own frames and the signal trampoline above the fault.
constexpr int kHandlerFrames = 16;
// The report program could not be started at all.
constexpr int kCrashNotStarted = -2;

char gReporter[4096];
char gRecord[kCrashRecordMax];
char gFallback[kCrashRecordMax];
void* gFrames[kCrashMaxFrames + kHandlerFrames];
std::atomic<pid_t> gReportingThread{0};
bool gInstalled = false;

void CrashDefaultReporter() {
  gReporter[0] = '\0';
  char self[sizeof gReporter];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return;
  self[n] = '\0';
  char* slash = std::strrchr(self, '/');
  if (!slash) return;
  slash[1] = '\0';
  if (std::strlen(self) + sizeof kReporterName > sizeof gReporter) return;
  std::strcpy(gReporter, self);
  std::strcat(gReporter, kReporterName);
}

void CrashWriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    p += w;
    n -= static_cast<size_t>(w);
  }
}

// Starts the report program on the record and waits for its answer: the
// dialog's button, -1 when it ran but gave no answer, kCrashNotStarted when
// no process could be made.
int CrashRunReporter(const char* record, size_t size) {
  if (gReporter[0] == '\0') return -1;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return kCrashNotStarted;
  // The record is far below a pipe's capacity, so it is written before the
  // program starts and the write end closed: the program reads to its end.
  CrashWriteAll(fds[1], record, size);
  ::close(fds[1]);
  pid_t pid = ::_Fork();
  if (pid < 0) {
    ::close(fds[0]);
    return kCrashNotStarted;
  }
  if (pid == 0) {
    if (fds[0] == 0)
      ::fcntl(0, F_SETFD, 0);
    else
      ::dup2(fds[0], 0);
    char* argv[] = {gReporter, nullptr};
    ::execve(gReporter, argv, environ);
    ::_exit(127);
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  if (!WIFEXITED(status)) return -1;
  int answer = WEXITSTATUS(status);
  if (answer == 2) return kCrashIgnore;  // the dialog's own cancel
  return answer >= kCrashAbort && answer <= kCrashIgnore ? answer : -1;
}

// Formats the record, runs the report program and, when it gave no answer,
// writes the unresolved report to standard error so that nothing is lost.
int CrashReport(char* record, char* fallback, const CrashRecordFields& fields) {
  size_t n = CrashFormatRecord(record, kCrashRecordMax, fields);
  int answer = CrashRunReporter(record, n);
  if (answer < 0) {
    size_t m = CrashFormatFallback(fallback, kCrashRecordMax, fields);
    PlatformSayBytes(fallback, m);
  }
  return answer;
}

void CrashRegisters(const void* context, uintptr_t* pc, uintptr_t* sp) {
  const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
  *pc = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
  *sp = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
#elif defined(__i386__)
  *pc = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
  *sp = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_ESP]);
#elif defined(__aarch64__)
  *pc = static_cast<uintptr_t>(uc->uc_mcontext.pc);
  *sp = static_cast<uintptr_t>(uc->uc_mcontext.sp);
#else
  (void)uc;
  *pc = 0;
  *sp = 0;
#endif
}

// The signal again, under its default action: it is blocked while the
// handler runs, so it ends the process as the handler returns.
void CrashDefaultAction(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  ::raise(signal);
}

void CrashOnSignal(int signal, siginfo_t* info, void* context) {
  pid_t self = ::gettid();
  pid_t expected = 0;
  if (!gReportingThread.compare_exchange_strong(expected, self)) {
    if (expected == self) {  // the report itself failed
      CrashDefaultAction(signal);
      return;
    }
    for (;;) ::pause();  // another thread reports; the process ends with it
  }
  uintptr_t pc = 0, sp = 0;
  CrashRegisters(context, &pc, &sp);
  uint32_t code =
      CrashCodeForSignal(signal, info->si_code, reinterpret_cast<uintptr_t>(info->si_addr), sp);

  // The walk starts in this handler; the failing function's frame is the
  // one at the interrupted program counter.
  int n = ::backtrace(gFrames, kCrashMaxFrames + kHandlerFrames);
  int first = -1;
  for (int i = 0; i < n && first < 0; ++i)
    if (reinterpret_cast<uintptr_t>(gFrames[i]) == pc) first = i;
  if (first < 0) {
    gFrames[0] = reinterpret_cast<void*>(pc);
    first = 0;
    n = pc ? 1 : 0;
  }
  CrashRecordFields fields{};
  fields.pid = static_cast<int64_t>(::getpid());
  fields.text = CrashExceptionText(code);
  fields.file = "EXCEPTION";
  fields.line = 0;
  fields.skipFirst = false;
  fields.firstExact = true;
  fields.frames = gFrames + first;
  fields.frameCount = n - first < kCrashMaxFrames ? n - first : kCrashMaxFrames;
  if (CrashReport(gRecord, gFallback, fields) == kCrashAbort) ::_exit(255);
  CrashDefaultAction(signal);
}

}  // namespace

void HostSetCrashReporter(const char* path) {
  if (!path || !*path || std::strlen(path) >= sizeof gReporter) {
    CrashDefaultReporter();
    return;
  }
  std::strcpy(gReporter, path);
}

void HostInstallCrashHandler() {
  if (gInstalled) return;
  gInstalled = true;
  if (gReporter[0] == '\0') CrashDefaultReporter();
  void* warm[2];
  ::backtrace(warm, 2);

  // A stack of its own, so that a thread that used up its stack is reported.
  void* stack = ::mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  int flags = SA_SIGINFO;
  if (stack != MAP_FAILED) {
    stack_t alt{};
    alt.ss_sp = stack;
    alt.ss_size = kAltStackSize;
    if (::sigaltstack(&alt, nullptr) == 0) flags |= SA_ONSTACK;
  }
  struct sigaction action {};
  action.sa_sigaction = CrashOnSignal;
  action.sa_flags = flags;
  sigemptyset(&action.sa_mask);
  for (int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

__attribute__((noinline)) void AssertReport(const char* expression, const char* file,
                                            uint32_t line) {
  void* frames[kCrashMaxFrames + kHandlerFrames];
  int n = ::backtrace(frames, kCrashMaxFrames + kHandlerFrames);
  // The walk may start in a wrapper of backtrace() (the sanitizers have one):
  // this reporter's own frame is the one before its return into the caller.
  int own = 0;
  for (int i = 1; i < n; ++i) {
    if (frames[i] == __builtin_return_address(0)) {
      own = i - 1;
      break;
    }
  }
  CrashRecordFields fields{};
  fields.pid = static_cast<int64_t>(::getpid());
  fields.text = expression ? expression : "";
  fields.file = file ? file : "";
  fields.line = line;
  fields.skipFirst = true;  // frame 0 is this reporter
  fields.firstExact = false;
  fields.frames = frames + own;
  fields.frameCount = n - own < kCrashMaxFrames ? n - own : kCrashMaxFrames;
  static char record[kCrashRecordMax];
  static char fallback[kCrashRecordMax];
  // One report at a time: the buffers are shared.
  static std::atomic_flag busy = ATOMIC_FLAG_INIT;
  while (busy.test_and_set()) ::usleep(100 * 1000);
  int answer = CrashReport(record, fallback, fields);
  busy.clear();
  if (answer == kCrashNotStarted || answer == kCrashAbort) ::_exit(255);
  if (answer == kCrashDebug) ::raise(SIGTRAP);
}
