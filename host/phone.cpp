#include "host/phone.h"

#include <cstddef>

#include "host/modem.h"
#include "host/shellsvc.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"

namespace {

Result Reply(TskmanTask* task, const char16_t* text) {
  char16_t* copy = LibcWStrDup(text);
  TskmanPost(task, kPhoneReplyMessage, 0, reinterpret_cast<uintptr_t>(copy));
  return copy ? kOk : ResultError(Mod::WtlWtai2, Err::NoMemory);
}

// A reply text as a template argument, so that one answer serves every request.
template <size_t N>
struct ReplyText {
  char16_t text[N];
  constexpr ReplyText(const char16_t (&s)[N]) {  // NOLINT(google-explicit-constructor)
    for (size_t i = 0; i < N; ++i) text[i] = s[i];
  }
};

void Take(uintptr_t) {}
void Take(char16_t* text) { MemFree(&text); }

// Frees the request's texts and posts its reply; the signature comes from the
// table slot it fills.
template <ReplyText kReply, typename... Args>
Result Answer(TskmanTask* task, Args... args) {
  (Take(args), ...);
  return Reply(task, kReply.text);
}

Result PhonebookWrite(TskmanTask* task, uintptr_t, PhonebookRecord* entry) {
  Result r = Reply(task, u"PBWrite Return");
  if (entry) {
    MemFree(&entry->number);
    MemFree(&entry->name);
    MemFree(&entry->email);
    MemFree(&entry->address);
    MemFree(&entry);
  }
  return r;
}

Result CalendarAdd(TskmanTask* task, void** entry) {
  LibcFreePtrArray(&entry);
  TskmanPost(task, kCalendarReplyMessage, 0, 0);
  return kOk;
}

// The emulated entry's fixed fields after its number: the user name (a
// Korean word in code page 949), the e-mail address and three numbers.
constexpr char kFakeName[] = "\xC0\xAF\xC0\xFA\xB8\xED";
constexpr const char* kFakeFields[] = {kFakeName, "user@handset.example", "0212345678",
                                       "01098765432", "0315550100"};

}  // namespace

const HandsetOps kHostHandsetOps = {
    PhonebookWrite,
    Answer<u"PBSearch Return">,
    Answer<u"PBRemove Return">,
    Answer<u"PBGetField Return">,
    Answer<u"PBChange Return">,
    Answer<u"PubMakeCall Return">,
    Answer<u"VCSetup Return">,
    Answer<u"VCAccept Return">,
    Answer<u"VCRelease Return">,
    Answer<u"VCSendDTMF Return">,
    Answer<u"VCCallStatus Return">,
    Answer<u"VCList Return">,
    Answer<u"CLDialled Return">,
    Answer<u"CLMissed Return">,
    Answer<u"CLReceived Return">,
    Answer<u"CLGetField Return">,
    Answer<u"NTList Return">,
    Answer<u"NTRemove Return">,
    Answer<u"NTGetField Return">,
    Answer<u"NTMarkRead Return">,
    CalendarAdd,
    HostGetDeviceId,
    HostSaveMovieFile,
    HostPlaySystemSound,
    HostStartConfirmThread,
    HostRcellAvailable,
    HostRcellNonRcellSession,
    HostIsRcellNam,
};

char* ShellFakePhonebookEntry(int32_t n) {
  auto* entry = static_cast<char*>(
      MemAllocZero(kShellPhonebookEntrySize, Use::String, kShellModule));
  if (!entry) return nullptr;
  LibcItoA(n, entry, 10);
  LibcStrCat(entry, ";");
  for (const char* field : kFakeFields) {
    LibcStrCat(entry, field);
    LibcStrCat(entry, ";");
  }
  return entry;
}
