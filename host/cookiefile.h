// The cookie file "trnscookie.dat" of the working folder: the cookies task's
// jar (task 59) kept between runs. Nothing calls these yet.
//
// A jar record is {link, size, body...}: the link to the next record, its
// size in bytes (the two header words included), then the cookie's own
// words. A record whose sixth word is not 0 lasts only for the session.
//
// The file holds, for each stored record, a u32 little-endian body length
// and that many body bytes: the link and size are rebuilt when read.
#pragma once
#include <cstdint>

constexpr const char* kCookieFile = "trnscookie.dat";
// The file stays below this many bytes: records are written while they fit.
constexpr uint32_t kCookieFileMax = 4000;

struct CookieRecord {
  CookieRecord* next;
  uintptr_t size;
  // the body follows
};
constexpr uint32_t kCookieHeaderSize = sizeof(CookieRecord);
constexpr uint32_t kCookieSessionWord = 5;

// Writes the jar's lasting records, in list order: true when the file was
// written (also with no records), false without a cookies task or when it
// could not be written.
bool HostCookieFileSave();
// Reads the file and pushes each record on the front of the jar, adding its
// size to the jar's byte count. All or nothing: a file that fails a length
// check, or a record that cannot be allocated, leaves the jar as it was.
// False then, and when the file or the task is missing.
bool HostCookieFileLoad();
