// Whole-file storage for the engine: the host's files in its working folder
// (storage classes, history, the romfiles override). Paths are host paths,
// relative to the working folder unless absolute, with "/" separators.
#pragma once
#include <cstdint>

enum class FileStatus { Ok, Missing, Failed, TooLarge };

// The size of a regular file; Missing when there is none.
FileStatus PlatformFileSize(const char* path, uint32_t* size);
// Reads exactly `size` bytes from the start of the file into dest; Failed
// when the file is shorter or cannot be read.
FileStatus PlatformFileRead(const char* path, void* dest, uint32_t size);
// Replaces the file with the bytes, atomically: a temporary file in the same
// folder is written, flushed to disk and renamed over the old one, so a crash
// or a full disk leaves the previous content whole.
// A failure is told to the failure hook.
FileStatus PlatformFileReplace(const char* path, const void* data, uint32_t size);
// Told of every replace that failed: the path and the system's error number;
// and of every save the engine could not make whole (PlatformFileNotKept):
// the path, 0 and what was not kept. The default says "qor: could not save
// <path>: <reason>" on standard error (PlatformFileSayFailed), the reason
// being `what` when there is one; a host may add its own record. Null
// restores the default; the old hook is returned.
using FileFailureHook = void (*)(const char* path, int error, const char* what);
FileFailureHook PlatformFileOnFailure(FileFailureHook hook);
void PlatformFileSayFailed(const char* path, int error, const char* what);
// A save that left out part of what it was given, or did not happen for
// want of memory: told to the failure hook as above.
void PlatformFileNotKept(const char* path, const char* what);
// Something kept data was to hold was lost, though no save failed (a
// message that could not be taken, half a segmented one): told to the
// failure hook with a null path; the default says "qor: <what>".
void PlatformSayLost(const char* what);
// A kept file found at the start that memory could not read whole: what
// reads it goes on without it and never writes over it, and the user is told
// through the hook (null restores the default, which says "qor: <path> is
// left unread in this run: not enough memory"); the old hook is returned.
using FileNotReadHook = void (*)(const char* path);
FileNotReadHook PlatformFileOnNotRead(FileNotReadHook hook);
void PlatformFileNotRead(const char* path);
FileStatus PlatformFileRemove(const char* path);
// Keeps the bytes in a new file, never over an earlier one: the first of
// "<path>", "<path>.1", "<path>.2", ... (up to kPlatformMostKeptCopies names)
// that does not exist yet, unless one of
// them already holds exactly these bytes. The name used goes to `kept` (cut to
// keptSize). A failure is told to the failure hook.
constexpr int kPlatformMostKeptCopies = 1000;
FileStatus PlatformFileKeepCopy(const char* path, const void* data, uint32_t size, char* kept,
                                uint32_t keptSize);
// Says on standard error that a stored file could not be read, that what it
// held starts empty, and where its bytes were kept (null: nowhere).
void PlatformFileSayDamaged(const char* path, const char* kept);
// Says on standard error that a stored file of `size` bytes is over its
// quota: it reads as it is, but a save that leaves it over is not made.
void PlatformFileSayOverQuota(const char* path, uint32_t size, uint32_t quota);

// The platform allocator, for host records and buffers the host hands out.
void* PlatformAlloc(uint32_t size);
void PlatformFree(void* p);
