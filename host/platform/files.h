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
FileStatus PlatformFileReplace(const char* path, const void* data, uint32_t size);
FileStatus PlatformFileRemove(const char* path);

// The platform allocator, for host records and buffers the host hands out.
void* PlatformAlloc(uint32_t size);
void PlatformFree(void* p);
