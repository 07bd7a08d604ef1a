#include "host/platform/handset.h"

namespace {

const HandsetOps* gOps = nullptr;

}  // namespace

const HandsetOps* HandsetInstall(const HandsetOps* ops) {
  const HandsetOps* old = gOps;
  gOps = ops;
  return old;
}

Result PBWrite(TskmanTask* task, uintptr_t unused, PhonebookRecord* entry) {
  return gOps ? gOps->pbWrite(task, unused, entry) : kHandsetNone;
}
Result PBSearch(TskmanTask* task, char16_t* a, char16_t* b) {
  return gOps ? gOps->pbSearch(task, a, b) : kHandsetNone;
}
Result PBRemove(TskmanTask* task) {
  return gOps ? gOps->pbRemove(task) : kHandsetNone;
}
Result PBGetField(TskmanTask* task, uintptr_t unused, char16_t* b) {
  return gOps ? gOps->pbGetField(task, unused, b) : kHandsetNone;
}
Result PBChange(TskmanTask* task, uintptr_t unused, char16_t* b, char16_t* c) {
  return gOps ? gOps->pbChange(task, unused, b, c) : kHandsetNone;
}
Result PubMakeCall(TskmanTask* task, char16_t* a) {
  return gOps ? gOps->pubMakeCall(task, a) : kHandsetNone;
}
Result VCSetup(TskmanTask* task, char16_t* a) {
  return gOps ? gOps->vcSetup(task, a) : kHandsetNone;
}
Result VCAccept(TskmanTask* task, char16_t* a) {
  return gOps ? gOps->vcAccept(task, a) : kHandsetNone;
}
Result VCRelease(TskmanTask* task, char16_t* a) {
  return gOps ? gOps->vcRelease(task, a) : kHandsetNone;
}
Result VCSendDTMF(TskmanTask* task, char16_t* a, char16_t* b) {
  return gOps ? gOps->vcSendDTMF(task, a, b) : kHandsetNone;
}
Result VCCallStatus(TskmanTask* task, char16_t* a, char16_t* b) {
  return gOps ? gOps->vcCallStatus(task, a, b) : kHandsetNone;
}
Result VCList(TskmanTask* task) {
  return gOps ? gOps->vcList(task) : kHandsetNone;
}
Result CLDialled(TskmanTask* task) {
  return gOps ? gOps->clDialled(task) : kHandsetNone;
}
Result CLMissed(TskmanTask* task) {
  return gOps ? gOps->clMissed(task) : kHandsetNone;
}
Result CLReceived(TskmanTask* task) {
  return gOps ? gOps->clReceived(task) : kHandsetNone;
}
Result CLGetField(TskmanTask* task, char16_t* a, char16_t* b) {
  return gOps ? gOps->clGetField(task, a, b) : kHandsetNone;
}
Result NTList(TskmanTask* task) {
  return gOps ? gOps->ntList(task) : kHandsetNone;
}
Result NTRemove(TskmanTask* task, char16_t* a) {
  return gOps ? gOps->ntRemove(task, a) : kHandsetNone;
}
Result NTGetField(TskmanTask* task, char16_t* a, char16_t* b) {
  return gOps ? gOps->ntGetField(task, a, b) : kHandsetNone;
}
Result NTMarkRead(TskmanTask* task, char16_t* a) {
  return gOps ? gOps->ntMarkRead(task, a) : kHandsetNone;
}
Result ShellCalendarAddStub(TskmanTask* task, void** entry) {
  return gOps ? gOps->calendarAddStub(task, entry) : kHandsetNone;
}
Result ShellGetDeviceId(TskmanTask* task, char* buffer) {
  return gOps ? gOps->getDeviceId(task, buffer) : kHandsetNone;
}
int32_t ShellSaveMovieFile(const uint8_t* data, uint32_t length) {
  return gOps ? gOps->saveMovieFile(data, length) : 0;
}
void ShellPlaySystemSound(uint32_t code, const uint8_t* data, uint32_t length) {
  if (gOps) gOps->playSystemSound(code, data, length);
}
Result ShellStartConfirmThread(uintptr_t unused, uintptr_t value, ShellConfirmCallback callback) {
  return gOps ? gOps->startConfirmThread(unused, value, callback) : kHandsetNone;
}
int32_t ShellRcellAvailable() {
  return gOps ? gOps->rcellAvailable() : 0;
}
int32_t ShellRcellNonRcellSession() {
  return gOps ? gOps->rcellNonRcellSession() : 0;
}
int32_t ShellIsRcellNam() {
  return gOps ? gOps->isRcellNam() : 0;
}
