// Cookies (module 59): the cookie jar kept in section "cookies".
#pragma once
#include <cstdint>

#include "kernel/tskman.h"

namespace CookiesMsg {
constexpr uint32_t Started = 0, Stopped = 1;
}

// A jar record: {link, size, body...}: the link to the next record, its size
// in bytes (the two header words included), then the cookie's own words. A
// record whose sixth word is not 0 lasts only for the session.
struct CookieRecord {
  CookieRecord* next;
  uintptr_t size;
  // the body follows
};
constexpr uint32_t kCookieHeaderSize = sizeof(CookieRecord);

// The jar: its records, newest first, and the bytes they take.
struct CookieJar {
  CookieRecord* first;
  uintptr_t bytes;
};

// The running cookies task's jar, or null without the task.
CookieJar* CookiesGetJar();
// True for a record that lasts beyond the session (a record too short to
// carry the session word lasts).
bool CookieRecordIsLasting(const CookieRecord* record);
// Puts a record at the front of the jar and counts its bytes.
void CookieJarPush(CookieJar* jar, CookieRecord* record);

// Creates the task, which loads "cookies"; the requester receives message 0,
// also when the task cannot be created.
void CookiesStartTask(TskmanTask* requester);
// Writes "cookies" when they changed and cookies are on, stops the task; the
// requester receives message 1.
void CookiesStopTask(TskmanTask* requester);
