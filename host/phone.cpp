#include "host/phone.h"

#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"

namespace {

Result Reply(TskmanTask* task, const char16_t* text) {
  char16_t* copy = LibcWStrDup(text);
  TskmanPost(task, kPhoneReplyMessage, 0, reinterpret_cast<uintptr_t>(copy));
  return copy ? kOk : ResultError(Mod::WtlWtai2, Err::NoMemory);
}

// The emulated entry's fixed fields after its number: the user name (a
// Korean word in code page 949), the e-mail address and three numbers.
constexpr char kFakeName[] = "\xC0\xAF\xC0\xFA\xB8\xED";
constexpr const char* kFakeFields[] = {kFakeName, "user@handset.example", "0212345678",
                                       "01098765432", "0315550100"};

}  // namespace

Result HostPBWrite(TskmanTask* task, uintptr_t, PhonebookRecord* entry) {
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

Result HostPBSearch(TskmanTask* task, char16_t* a, char16_t* b) {
  MemFree(&a);
  MemFree(&b);
  return Reply(task, u"PBSearch Return");
}

Result HostPBRemove(TskmanTask* task) { return Reply(task, u"PBRemove Return"); }

Result HostPBGetField(TskmanTask* task, uintptr_t, char16_t* b) {
  MemFree(&b);
  return Reply(task, u"PBGetField Return");
}

Result HostPBChange(TskmanTask* task, uintptr_t, char16_t* b, char16_t* c) {
  MemFree(&b);
  MemFree(&c);
  return Reply(task, u"PBChange Return");
}

Result HostPubMakeCall(TskmanTask* task, char16_t* a) {
  MemFree(&a);
  return Reply(task, u"PubMakeCall Return");
}

Result HostVCSetup(TskmanTask* task, char16_t* a) {
  MemFree(&a);
  return Reply(task, u"VCSetup Return");
}

Result HostVCAccept(TskmanTask* task, char16_t* a) {
  MemFree(&a);
  return Reply(task, u"VCAccept Return");
}

Result HostVCRelease(TskmanTask* task, char16_t* a) {
  MemFree(&a);
  return Reply(task, u"VCRelease Return");
}

Result HostVCSendDTMF(TskmanTask* task, char16_t* a, char16_t* b) {
  MemFree(&a);
  MemFree(&b);
  return Reply(task, u"VCSendDTMF Return");
}

Result HostVCCallStatus(TskmanTask* task, char16_t* a, char16_t* b) {
  MemFree(&a);
  MemFree(&b);
  return Reply(task, u"VCCallStatus Return");
}

Result HostVCList(TskmanTask* task) { return Reply(task, u"VCList Return"); }
Result HostCLDialled(TskmanTask* task) { return Reply(task, u"CLDialled Return"); }
Result HostCLMissed(TskmanTask* task) { return Reply(task, u"CLMissed Return"); }
Result HostCLReceived(TskmanTask* task) { return Reply(task, u"CLReceived Return"); }

Result HostCLGetField(TskmanTask* task, char16_t* a, char16_t* b) {
  MemFree(&a);
  MemFree(&b);
  return Reply(task, u"CLGetField Return");
}

Result HostNTList(TskmanTask* task) { return Reply(task, u"NTList Return"); }

Result HostNTRemove(TskmanTask* task, char16_t* a) {
  MemFree(&a);
  return Reply(task, u"NTRemove Return");
}

Result HostNTGetField(TskmanTask* task, char16_t* a, char16_t* b) {
  MemFree(&a);
  MemFree(&b);
  return Reply(task, u"NTGetField Return");
}

Result HostNTMarkRead(TskmanTask* task, char16_t* a) {
  MemFree(&a);
  return Reply(task, u"NTMarkRead Return");
}

Result HostCalendarAddStub(TskmanTask* task, void** entry) {
  LibcFreePtrArray(&entry);
  TskmanPost(task, kCalendarReplyMessage, 0, 0);
  return kOk;
}

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
