// The cookie file "trnscookie.dat" of the working folder: the cookies task's
// jar (task 59) kept between runs. Nothing calls these yet.
//
// The file holds, for each stored record, a u32 little-endian body length
// and that many body bytes: the link and size are rebuilt when read.
#pragma once
#include <cstdint>

#include "net/cookies.h"

constexpr const char* kCookieFile = "trnscookie.dat";
// The file stays below this many bytes: records are written while they fit.
constexpr uint32_t kCookieFileMax = 4000;


// Writes the jar's lasting records, in list order: true when the file was
// written (also with no records), false without a cookies task or when it
// could not be written.
bool HostCookieFileSave();
// Reads the file and pushes each record on the front of the jar, adding its
// size to the jar's byte count. All or nothing: a file that fails a length
// check, or a record that cannot be allocated, leaves the jar as it was.
// False then, and when the file or the task is missing.
bool HostCookieFileLoad();
