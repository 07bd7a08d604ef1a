// The emulated handset's telephony: the WTA libraries' phonebook, call,
// call-log and network-text requests, answered by the host at once.
//
// Every request posts one reply event 0x2000 to the requesting task with
// argument 1 = 0 and argument 2 = a new UTF-16 text, the request's name and
// " Return" ("PBWrite Return"), which the receiver owns and frees. The text
// arguments belong to the request: each is freed (MemFree), whether or not
// the reply could be made. Each returns 0, or 0x80200001 when the reply's
// text could not be allocated (the reply is then posted with a null text,
// so that the requester is not left waiting).
#pragma once
#include <cstdint>

#include "host/platform/handset.h"
#include "kernel/modules.h"

struct TskmanTask;

// The host shell's module id: the owner of what it allocates for the engine.
constexpr uint32_t kShellModule = 85;

constexpr uint32_t kPhoneReplyMessage = Msg(Mod::WtlWtai2, 0);    // 0x2000
constexpr uint32_t kCalendarReplyMessage = Msg(Mod::WtlVcal, 0);  // 0x0C00

// The host's answers to the handset's requests: the telephony above, the
// calendar (which frees its entry, an array of eight texts, and posts 0x0C00
// with arguments 0 and 0) and the services of host/modem.h and host/shellsvc.h.
extern const HandsetOps kHostHandsetOps;

// The emulated phonebook entry for number n: "n;NAME;EMAIL;TEL1;TEL2;TEL3;"
// with a fixed Korean user name (code page 949) and fixed e-mail and numbers,
// in a zero-filled 256-byte allocation of the shell module; null when memory
// is short.
constexpr uint32_t kShellPhonebookEntrySize = 256;
char* ShellFakePhonebookEntry(int32_t n);
