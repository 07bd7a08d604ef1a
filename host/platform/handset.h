// The emulated handset's services as the engine reaches them: telephony
// (phonebook, calls, call log, network texts), the calendar, the device
// identity, the movie file, system sounds, the delayed confirmation and the
// zone-service flags. The host core answers them (host/phone.*,
// host/shellsvc.*, host/modem.*) and installs its answers at start; the
// engine calls the functions below.
//
// Without the host every request is refused with kHandsetNone and takes
// nothing: what the caller handed over stays the caller's. With the host a
// request owns its texts and entries, as host/phone.h says.
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct TskmanTask;

// The phonebook record of PBWrite: four texts, unused ones null; the record
// and its texts are engine allocations.
struct PhonebookRecord {
  char16_t* number;
  char16_t* name;
  char16_t* email;
  char16_t* address;
};

// The delayed confirmation's callback, called on the engine's thread.
using ShellConfirmCallback = void (*)(const char* result, const char* status, uintptr_t value);

// The answer of a request that no host serves.
constexpr Result kHandsetNone = ResultError(Mod::UiStart, 0x8010);

Result PBWrite(TskmanTask* task, uintptr_t unused, PhonebookRecord* entry);
Result PBSearch(TskmanTask* task, char16_t* a, char16_t* b);
Result PBRemove(TskmanTask* task);
Result PBGetField(TskmanTask* task, uintptr_t unused, char16_t* b);
Result PBChange(TskmanTask* task, uintptr_t unused, char16_t* b, char16_t* c);
Result PubMakeCall(TskmanTask* task, char16_t* a);
Result VCSetup(TskmanTask* task, char16_t* a);
Result VCAccept(TskmanTask* task, char16_t* a);
Result VCRelease(TskmanTask* task, char16_t* a);
Result VCSendDTMF(TskmanTask* task, char16_t* a, char16_t* b);
Result VCCallStatus(TskmanTask* task, char16_t* a, char16_t* b);
Result VCList(TskmanTask* task);
Result CLDialled(TskmanTask* task);
Result CLMissed(TskmanTask* task);
Result CLReceived(TskmanTask* task);
Result CLGetField(TskmanTask* task, char16_t* a, char16_t* b);
Result NTList(TskmanTask* task);
Result NTRemove(TskmanTask* task, char16_t* a);
Result NTGetField(TskmanTask* task, char16_t* a, char16_t* b);
Result NTMarkRead(TskmanTask* task, char16_t* a);
Result ShellCalendarAddStub(TskmanTask* task, void** entry);
Result ShellGetDeviceId(TskmanTask* task, char* buffer);
int32_t ShellSaveMovieFile(const uint8_t* data, uint32_t length);
void ShellPlaySystemSound(uint32_t code, const uint8_t* data, uint32_t length);
Result ShellStartConfirmThread(uintptr_t unused, uintptr_t value, ShellConfirmCallback callback);
int32_t ShellRcellAvailable();
int32_t ShellRcellNonRcellSession();
int32_t ShellIsRcellNam();

struct HandsetOps {
  Result (*pbWrite)(TskmanTask*, uintptr_t, PhonebookRecord*);
  Result (*pbSearch)(TskmanTask*, char16_t*, char16_t*);
  Result (*pbRemove)(TskmanTask*);
  Result (*pbGetField)(TskmanTask*, uintptr_t, char16_t*);
  Result (*pbChange)(TskmanTask*, uintptr_t, char16_t*, char16_t*);
  Result (*pubMakeCall)(TskmanTask*, char16_t*);
  Result (*vcSetup)(TskmanTask*, char16_t*);
  Result (*vcAccept)(TskmanTask*, char16_t*);
  Result (*vcRelease)(TskmanTask*, char16_t*);
  Result (*vcSendDTMF)(TskmanTask*, char16_t*, char16_t*);
  Result (*vcCallStatus)(TskmanTask*, char16_t*, char16_t*);
  Result (*vcList)(TskmanTask*);
  Result (*clDialled)(TskmanTask*);
  Result (*clMissed)(TskmanTask*);
  Result (*clReceived)(TskmanTask*);
  Result (*clGetField)(TskmanTask*, char16_t*, char16_t*);
  Result (*ntList)(TskmanTask*);
  Result (*ntRemove)(TskmanTask*, char16_t*);
  Result (*ntGetField)(TskmanTask*, char16_t*, char16_t*);
  Result (*ntMarkRead)(TskmanTask*, char16_t*);
  Result (*calendarAddStub)(TskmanTask*, void**);
  Result (*getDeviceId)(TskmanTask*, char*);
  int32_t (*saveMovieFile)(const uint8_t*, uint32_t);
  void (*playSystemSound)(uint32_t, const uint8_t*, uint32_t);
  Result (*startConfirmThread)(uintptr_t, uintptr_t, ShellConfirmCallback);
  int32_t (*rcellAvailable)();
  int32_t (*rcellNonRcellSession)();
  int32_t (*isRcellNam)();
};
// Installs the host's answers (null: none); returns the old ones.
const HandsetOps* HandsetInstall(const HandsetOps* ops);
