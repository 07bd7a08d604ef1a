// Standard error: the one way every line of the program reaches it; and
// standard output, for the few lines a program gives there, the same way.
//
// A line is never worth the run. A reader that has gone (a pipe's reader
// ended, a terminal closed) loses the line, not the program: SIGPIPE is
// ignored for the whole process, so such a write only fails (the sockets
// answer the same error). A reader that has stopped reading (a full pipe,
// a terminal on hold) is waited for at most kPlatformSayPatienceMs; then the
// line is dropped, and the lines after it do not wait until one gets through
// again. A write cut short by a signal, or refused for now on a standard
// error left non-blocking, is taken up again within the same patience.
#pragma once
#include <cstddef>

constexpr int kPlatformSayPatienceMs = 1000;

// Ignores SIGPIPE for the process, and opens a standard stream that was
// closed at the start on /dev/null. Every program of the emulator calls it
// first thing; calling it again does no harm.
void PlatformSayStart();
// Writes the bytes to standard error as above: true when all of them went.
// Safe in a signal handler.
bool PlatformSayBytes(const char* bytes, size_t size);
// Formats (printf) and writes as above; the caller gives the line's end.
bool PlatformSay(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same to standard output, which is often the same pipe
// (`./run 2>&1 | tee run.log`).
bool PlatformSayOut(const char* format, ...) __attribute__((format(printf, 1, 2)));
