// The script task. The unit comes parsed on its load (the compiled-script
// content row puts it there); the run borrows it and keeps its request on
// the load while it lasts, so a unit from the cache runs without parsing.
#include "services/wmlscript/wmls_script_task.h"

#include <cstring>

#include "browser/bentask.h"
#include "browser/uitask.h"
#include "browser/url.h"
#include "kernel/datachunk.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"
#include "kernel/uistring.h"
#include "services/wmlscript/wmls.h"
#include "services/wmlscript/wmls_content.h"
#include "services/wmlscript/wmls_internal.h"
#include "services/wmlscript/wmls_task.h"
#include "services/wtai/wtai.h"
#include "widgets/popup.h"

// What belongs to one run: the outermost one, or a nested call of another
// unit while the runs that called it wait.
struct WmlsRunState {
  UrlRequestRec* request;  // the unit's, kept while the run lasts
  uint32_t contentClass;
  uint32_t status;
  uint32_t referringClass;
  char* referrer8;
  char16_t* referrer16;
  char16_t* scriptUrl16;
  char16_t* call16;
  char* unitUrl;
  WmlsUnit* unit;  // the request's load's: valid while the request is held
  WmlsRunContext* run;
};

struct WmlsOuterRun {
  WmlsRunState state;
  WmlsOuterRun* next;  // the run that called this one
};

struct WmlsScriptTask {
  WmlsTaskContext lib;  // what the libraries read
  TskmanTask* self;
  TskmanTask* owner;
  UrlSession* session;
  uint32_t ownsSession;  // made by the task, destroyed with it
  WmlsRunState cur;
  WmlsOuterRun* outer;   // runs waiting for a nested one, the innermost first
  char* pendingCall;     // a nested call the run asked for, not yet started
  UrlRequestRec* fetch;  // URL.loadString's, while under way
  uint32_t fetchType;    // the type id it expects
  uint32_t fetchStatus;
  // The error whose popup is showing; its end message goes out once the
  // popup is answered or gone.
  int32_t error;
  PopupWatch popup;  // the popup waited on: the error's, or a dialog's
  // The resume kind of the dialog last opened for a run (1 prompt, 2
  // confirm, 3 alert), 0 for the error's popup: a prompt's answer carries
  // text that is the task's to free, even when its run has ended.
  uint16_t popupKind;
  // Counts runs: a 0x2201 of an ended run carries an older number and is
  // dropped, so it cannot resume a run that is gone.
  uint32_t generation;
  // The script under way is the browser window's home page: if it cannot
  // run for want of memory, that is said.
  bool home;
};

namespace {

// The handler's result for a task that cannot be made and for a text that
// is no call.
constexpr Result kFailed = 0x80220001u;
constexpr Result kNotACall = ResultError(Mod::WmlsExec, Err::BadArg);
constexpr uint32_t kScriptClass = 7;
// The resume kind of a run waiting for a telephony answer.
constexpr uint16_t kWtaResume = 5;
// The popup's texts: table 15, entry 1 for a server error, 2 for memory,
// 0 for every other failure.
constexpr uint32_t kErrorTexts = 15;

uint32_t Completion(int32_t result) {
  switch (result) {
    case WmlsResult::Ok:
    case WmlsResult::Aborted: return WmlsEnd::Ok;
    case WmlsResult::NoMemory: return WmlsEnd::NoMemory;
    case WmlsResult::ArgCount: return WmlsEnd::ArgCount;
    default: return WmlsEnd::Failed;
  }
}

void FreeState(WmlsScriptTask* t, WmlsRunState* s) {
  // The run first: its cells may borrow the unit's constants.
  if (s->run) {
    WmlsRunRelease(s->run);
    MemFree(&s->run);
  }
  if (s->request) UrlRequestDone(t->session, s->request);
  MemFree(&s->referrer8);
  MemFree(&s->referrer16);
  MemFree(&s->scriptUrl16);
  MemFree(&s->call16);
  MemFree(&s->unitUrl);
  *s = {};
}

// The libraries' view follows the current run.
void SyncLib(WmlsScriptTask* t) {
  t->lib.referrer = t->cur.referrer16;
  t->lib.scriptUrl = t->cur.scriptUrl16;
  t->lib.referringClass = t->cur.referringClass;
  t->lib.outerUnitUrl = t->outer ? t->outer->state.unitUrl : nullptr;
}

// The popup is closed only if it is still the one watched: it may have gone
// already (answered, or closed by the stop), and a task made since in its
// record is not ours to stop.
void ClosePopup(WmlsScriptTask* t) {
  if (TskmanTask* popup = TskmanRefTask(t->popup.popup)) TskmanSend(popup, TskMsg::Stop2, 0, 0);
  PopupWatchStop(&t->popup);
}

// A prompt's answer {entered text or null, flag}: the text is the task's.
void DropPromptAnswer(uintptr_t value, uintptr_t flag) {
  auto* text = reinterpret_cast<char16_t*>(value);
  if (flag && text) MemFree(&text);
}

// An answer queued for the task when the run that opened its dialog ends is
// that dialog's: it is taken back, and a prompt's entered text freed. Later
// answers cannot come from it, as the popup is then closed or gone.
void TakePopupAnswers(WmlsScriptTask* t) {
  if (!t->popup.popup.task || t->error) return;
  TskmanSiftEvents(
      t->self,
      [](void* user, uint32_t message, uintptr_t* value, uintptr_t* flag) {
        if (message != PwlEvent::PopupAnswer) return false;
        auto* task = static_cast<WmlsScriptTask*>(user);
        if (task->popupKind == 1) DropPromptAnswer(*value, *flag);
        task->popupKind = 0;
        return true;
      },
      t);
}

// The run waits for the answer of a telephony request.
bool AwaitsTelephony(const WmlsRunContext* run) {
  return run && run->suspended && run->resumeKind == kWtaResume;
}

// A voice call set up for the script: the owner releases it with the WTA
// context.
void ReportCall(WmlsScriptTask* t, const char16_t* text) {
  t->lib.answerAsNumber = 0;
  TskmanPost(t->owner, BenMsg::WtaCall, static_cast<uint32_t>(text ? LibcWtoI(text) : 0), 0);
}

// An answer queued for the task when its run ends is the ended request's:
// it is taken back (a call it set up still reported).
bool TakeAnswer(void* user, uint32_t message, uintptr_t* code, uintptr_t* text) {
  if (message != WtaiMsg::Answer) return false;
  auto* t = static_cast<WmlsScriptTask*>(user);
  auto* answer = reinterpret_cast<char16_t*>(*text);
  if (*code == 0 && t->lib.answerAsNumber) ReportCall(t, answer);
  MemFree(&answer);
  *text = 0;
  return true;
}

// The run no longer waits for its telephony request: the request's source
// forgets the task, so that no answer of it comes later to stand in for
// another request's.
void ForgetTelephony(WmlsScriptTask* t) {
  if (t->lib.telephonyPending)
    WtaiForgetAnswerTask(t->self, t->lib.answerAsNumber ? t->owner : nullptr);
  TskmanSiftEvents(t->self, TakeAnswer, t);
  t->lib.telephonyPending = 0;
  t->lib.answerAsNumber = 0;
}

// Everything of the current script and the runs that called it.
void FreeRun(WmlsScriptTask* t) {
  ForgetTelephony(t);
  TakePopupAnswers(t);
  if (t->fetch) {
    UrlRequestDone(t->session, t->fetch);
    t->fetch = nullptr;
  }
  FreeState(t, &t->cur);
  while (WmlsOuterRun* o = t->outer) {
    t->outer = o->next;
    FreeState(t, &o->state);
    MemFree(&o);
  }
  MemFree(&t->pendingCall);
  if (!t->error) ClosePopup(t);
  SyncLib(t);
  ++t->generation;
}

// Every script its owner hears the end of comes here once, as it ends.
void Ended(WmlsScriptTask* t, bool noMemory) {
  if (t->home && noMemory) UiHomePageNoMemory();
  t->home = false;
}

// The code is a completion code, or the result of a fetch that could not
// start.
void Finish(WmlsScriptTask* t, uint32_t code) {
  Ended(t, code == WmlsEnd::NoMemory || ResultNoMemory(code));
  FreeRun(t);
  TskmanPost(t->owner, WmlsMsg::End, code, 0);
}

void WatchPopup(WmlsScriptTask* t, uint16_t kind) {
  t->popupKind = kind;
  PopupWatchStart(&t->popup, t->self);
}

// A failed script: the user is told, and the owner hears the end once the
// popup is answered (at once when it cannot be shown).
void Fail(WmlsScriptTask* t, int32_t result) {
  Ended(t, result == WmlsResult::NoMemory);
  FreeRun(t);
  const uint32_t entry = result == WmlsResult::HttpError ? 1 : result == WmlsResult::NoMemory ? 2 : 0;
  const char16_t* text = UiGetString(kErrorTexts, entry);
  if (PopupMessage(text ? text : u"", t->self) != kOk) {
    TskmanPost(t->owner, WmlsMsg::End, WmlsEnd::NoMemory, 0);
    return;
  }
  t->error = result;
  WatchPopup(t, 0);
}

void ErrorShown(WmlsScriptTask* t) {
  const uint32_t code = Completion(t->error);
  t->error = 0;
  PopupWatchStop(&t->popup);
  TskmanPost(t->owner, WmlsMsg::End, code, 0);
}

void Slice(WmlsScriptTask* t);
void StartNested(WmlsScriptTask* t);

// The waiting run goes on with the answer in place of the cell the waiting
// call left, or with that cell when there is no answer. A run that does not
// wait, or lost that cell, could never go on: it ends as an abort does.
void ResumeWith(WmlsScriptTask* t, WmlsValue answer, bool none = false) {
  WmlsRunContext* run = t->cur.run;
  if (!run || !run->suspended || run->top < 0) {
    WmlsValueRelease(&answer);
    if (run) Finish(t, WmlsEnd::Ok);
    return;
  }
  if (none) {
    WmlsValueRelease(&answer);
  } else {
    WmlsValueRelease(&run->stack[run->top]);
    run->stack[run->top] = answer;
  }
  run->suspended = 0;
  run->resumeKind = 0;
  Slice(t);
}

// A run has ended with its result. A nested run's value (as a string) goes
// back to the run that called it; a failure anywhere ends the whole chain.
void RunEnded(WmlsScriptTask* t, int32_t result) {
  if (result != 0) return Fail(t, result);
  if (!t->outer) return Finish(t, WmlsEnd::Ok);
  WmlsValue value{};
  WmlsRunContext* run = t->cur.run;
  if (run->top >= 0) {
    const WmlsValue& top = run->stack[run->top];
    WmlsValue s = top.type == WmlsType::Invalid ? WmlsValue{} : WmlsToString(run, &top);
    const char16_t* text = s.type == WmlsType::String && WmlsStr(s) ? WmlsStr(s) : u"";
    if (!WmlsValueSetString(&value, text, WmlsLen(text))) {
      WmlsValueRelease(&s);
      return Fail(t, WmlsResult::NoMemory);
    }
    WmlsValueRelease(&s);
  } else if (!WmlsValueSetString(&value, u"", 0)) {
    return Fail(t, WmlsResult::NoMemory);
  }
  FreeState(t, &t->cur);
  WmlsOuterRun* o = t->outer;
  t->cur = o->state;
  t->outer = o->next;
  MemFree(&o);
  SyncLib(t);
  ResumeWith(t, value);
}

// What follows a slice of the current run: a nested call starts, a waiting
// run waits for its answer, a run with more to do posts its next slice, and
// an ended one (or one that could not start) ends.
void AfterRun(WmlsScriptTask* t, int32_t r) {
  if (r == WmlsResult::Suspended) {
    if (t->pendingCall) StartNested(t);
    return;  // else the answer resumes it
  }
  if (r == 0 && t->cur.run->status == 0 && t->cur.run->frame) {
    TskmanPost(t->self, WmlsMsg::Resume, t->generation, 0);
    return;
  }
  RunEnded(t, r);
}

void Slice(WmlsScriptTask* t) {
  AfterRun(t, WmlsRun(t->cur.run, t->cur.unit, t->cur.call16, t->cur.referrer8, t->cur.unitUrl, &t->lib));
}

// Starts the fetch of the unit named before "#"; the text is taken.
// kNotACall for a text that is no call; a no-memory result when its texts
// cannot be kept; the request's result when it cannot start.
Result StartRequest(WmlsScriptTask* t, char* text, UrlRequestRec* referring) {
  const char* hash = text ? std::strchr(text, '#') : nullptr;
  if (!hash || !std::strchr(hash, '(')) {
    MemFree(&text);
    return kNotACall;
  }
  const uint32_t urlLength = static_cast<uint32_t>(hash - text);
  t->cur.call16 = WmlsFromUtf8(hash + 1, static_cast<uint32_t>(std::strlen(hash + 1)));
  t->cur.scriptUrl16 = WmlsFromUtf8(text, urlLength);
  text[urlLength] = 0;
  Result r = ResultError(Mod::WmlsExec, Err::NoMemory);
  if (t->cur.call16 && t->cur.scriptUrl16)
    r = UrlRequest(t->session, text, 0, referring, &t->cur.request, 0, t->self, 0);
  MemFree(&text);
  if (r != kOk) {
    t->cur.request = nullptr;
    return r;
  }
  if (referring) {
    UrlOfRequest(&t->cur.referrer8, referring);
    if (t->cur.referrer8)
      t->cur.referrer16 = WmlsFromUtf8(t->cur.referrer8, static_cast<uint32_t>(std::strlen(t->cur.referrer8)));
    t->cur.referringClass = UrlLoadContentClass(referring);
  }
  SyncLib(t);
  return kOk;
}

Result Run(WmlsScriptTask* t, char* text, UrlRequestRec* referring) {
  // An error still on the screen is over; its end goes out first.
  if (t->error) {
    ClosePopup(t);
    ErrorShown(t);
  }
  // A script still fetching or running ends first, and its owner hears so.
  if (t->cur.request || t->cur.run || t->outer) Finish(t, WmlsEnd::Ok);
  // The page that linked here may have gone while the message waited.
  if (!UrlRequestIsLive(referring)) referring = nullptr;
  t->home = UiIsHomeAddress(text);
  const Result r = StartRequest(t, text, referring);
  if (r == kNotACall) {
    t->home = false;
    FreeRun(t);
    return kFailed;
  }
  // The owner hears why the fetch could not start.
  if (r != kOk) Finish(t, r);
  return kOk;
}

// The outer run waits (resume kind 4) while the call runs as the current one.
void StartNested(WmlsScriptTask* t) {
  char* text = t->pendingCall;
  t->pendingCall = nullptr;
  auto* o = static_cast<WmlsOuterRun*>(MemAllocZero(sizeof(WmlsOuterRun), Use::Context, Mod::WmlsExec));
  if (!o) {
    MemFree(&text);
    return Fail(t, WmlsResult::NoMemory);
  }
  o->state = t->cur;
  o->next = t->outer;
  t->outer = o;
  t->cur = {};
  const Result r = StartRequest(t, text, o->state.request);
  // A WTA deck's rights go down the chain of calls.
  t->cur.referringClass = o->state.referringClass;
  SyncLib(t);
  if (r != kOk) Fail(t, ResultNoMemory(r) ? WmlsResult::NoMemory : WmlsResult::Refused);
}

int32_t NestedCall(WmlsTaskContext* lib, char* text) {
  auto* t = reinterpret_cast<WmlsScriptTask*>(lib);
  // Units calling each other without end stop at the depth of calls.
  uint32_t depth = 0;
  for (const WmlsOuterRun* o = t->outer; o; o = o->next) ++depth;
  if (depth + 1 >= kWmlsMaxFrames) {
    MemFree(&text);
    return -1;
  }
  MemFree(&t->pendingCall);
  t->pendingCall = text;
  return 0;
}

void AwaitPopup(WmlsTaskContext* lib) {
  auto* t = reinterpret_cast<WmlsScriptTask*>(lib);
  WatchPopup(t, t->cur.run ? t->cur.run->resumeKind : 0);
}

int32_t StartFetch(WmlsTaskContext* lib, const char* url, uint32_t typeId) {
  auto* t = reinterpret_cast<WmlsScriptTask*>(lib);
  if (t->fetch) return -1;
  if (UrlRequest(t->session, url, UrlFlag::RawData, t->cur.request, &t->fetch, 0, t->self, 0) != kOk) {
    t->fetch = nullptr;
    return -1;
  }
  t->fetchType = typeId;
  t->fetchStatus = 0;
  return 0;
}

// The load's blocks joined into one new buffer (module 34) with a NUL
// after them; null without memory. *size gets the byte count.
char* JoinOutput(UrlRequestRec* request, uint32_t* size) {
  uint32_t total = 0;
  for (QueueNode* n = UrlRequestLoad(request)->output.head; n; n = n->next)
    total += UtilDataChunkOf(n)->remaining;
  char* bytes = static_cast<char*>(MemAlloc(total + 1, Use::Data, Mod::WmlsExec));
  if (!bytes) return nullptr;
  uint32_t at = 0;
  void* object = nullptr;
  while (UrlLoadNextChunk(request, &object) == kOk) {
    UtilDataChunk* chunk = static_cast<UtilDataChunk*>(object);
    const uint32_t n = chunk->remaining <= total - at ? chunk->remaining : total - at;
    std::memcpy(bytes + at, UtilDataChunkData(chunk) + chunk->offset, n);
    at += n;
  }
  bytes[at] = 0;
  *size = at;
  return bytes;
}

// The fetched text (or the status as text) in place of the cell the waiting
// call left; invalid when the load failed.
void EndFetch(WmlsScriptTask* t, bool complete) {
  UrlRequestRec* fetch = t->fetch;
  WmlsValue answer = WmlsMakeInvalid();
  char16_t* text = nullptr;
  bool memory = false;
  if (t->fetchStatus >= 400 && t->fetchStatus <= 599) {
    char digits[4] = {static_cast<char>('0' + t->fetchStatus / 100),
                      static_cast<char>('0' + t->fetchStatus / 10 % 10),
                      static_cast<char>('0' + t->fetchStatus % 10), 0};
    text = WmlsFromUtf8(digits, 3);
    memory = !text;
  } else if (complete && t->fetchType >= 2 && UrlLoadTypeId(fetch) != t->fetchType) {
    text = WmlsFromUtf8("414", 3);
    memory = !text;
  } else if (complete) {
    uint32_t size = 0;
    if (char* bytes = JoinOutput(fetch, &size)) {
      text = WmlsFromUtf8(bytes, size);
      MemFree(&bytes);
    }
    memory = !text;
  }
  if (text) answer = {WmlsType::String, reinterpret_cast<uintptr_t>(text), 0};
  UrlRequestDone(t->session, fetch);
  t->fetch = nullptr;
  if (memory && t->cur.run) t->cur.run->status = WmlsStatus::NoMemory;
  ResumeWith(t, answer);
}

void Complete(WmlsScriptTask* t) {
  if (t->cur.contentClass != kScriptClass) return Fail(t, WmlsResult::Refused);
  t->cur.unit = WmlsUnitOfLoad(UrlRequestLoad(t->cur.request));
  if (!t->cur.unit) return Fail(t, WmlsResult::Refused);
  if (ResultNoMemory(UrlOfRequest(&t->cur.unitUrl, t->cur.request)))
    return Fail(t, WmlsResult::NoMemory);
  t->cur.run = static_cast<WmlsRunContext*>(MemAllocZero(sizeof(WmlsRunContext), Use::Context, Mod::WmlsExec));
  if (!t->cur.run) return Finish(t, WmlsEnd::NoMemory);
  Slice(t);
}

// A popup answered (value, flag), or went away without an answer (none),
// which counts as cancelled.
void PopupDone(WmlsScriptTask* t, uintptr_t value, uintptr_t flag, bool none) {
  if (t->error) return ErrorShown(t);
  PopupWatchStop(&t->popup);
  const uint16_t kind = t->popupKind;
  t->popupKind = 0;
  WmlsRunContext* run = t->cur.run;
  if (!run || !run->suspended) {
    // Nothing waits for the answer, but a prompt's text is still ours.
    if (kind == 1 && !none) DropPromptAnswer(value, flag);
    return;
  }
  // A dialog that memory could not build was never put to the user: the
  // run ends for want of memory rather than take it for cancelled.
  if (none && ResultNoMemory(t->popup.failure)) {
    run->status = WmlsStatus::NoMemory;
    return ResumeWith(t, {}, true);
  }
  switch (run->resumeKind) {
    case 1: {  // a prompt: the entered text, or its default when cancelled
      auto* text = reinterpret_cast<char16_t*>(value);
      if (none || !flag || !text) {
        MemFree(&text);
        return ResumeWith(t, {}, true);
      }
      return ResumeWith(t, {WmlsType::String, reinterpret_cast<uintptr_t>(text), 0});
    }
    case 2:  // a confirm: only the accept button gives true
      return ResumeWith(t, WmlsMakeBool(!none && value != 0));
    case 3: {  // an alert, however it closed
      WmlsValue empty{};
      if (!WmlsValueSetString(&empty, u"", 0)) run->status = WmlsStatus::NoMemory;
      return ResumeWith(t, empty);
    }
    default:
      return;
  }
}

// A telephony answer: -200 resumes the run with invalid, another failure
// with its code in decimal, success with the text; a voice call's set-up
// reports the call's id to the owner.
void Telephony(WmlsScriptTask* t, int32_t code, char16_t* text) {
  // Only a run waiting for its telephony request takes an answer: one that
  // nothing asked for would stand in for whatever else the run waits on.
  // (The requests of ended runs are cancelled at their source.)
  if (!AwaitsTelephony(t->cur.run)) {
    MemFree(&text);
    return;
  }
  t->lib.telephonyPending = 0;
  if (code != 0) {
    t->lib.answerAsNumber = 0;
    MemFree(&text);
    if (code != kWtaiRefused) {
      char digits[kWtaiDecimalUnits];
      LibcItoA(code, digits, 10);
      text = WmlsFromUtf8(digits, static_cast<uint32_t>(std::strlen(digits)));
    }
  } else if (t->lib.answerAsNumber) {
    ReportCall(t, text);
  }
  WmlsValue answer = WmlsMakeInvalid();
  if (text)
    answer = {WmlsType::String, reinterpret_cast<uintptr_t>(text), 0};
  else if (code == 0 && !WmlsValueSetString(&answer, u"", 0) && t->cur.run)
    t->cur.run->status = WmlsStatus::NoMemory;
  ResumeWith(t, answer);
}

bool Is(UrlRequestRec* request, uintptr_t arg) {
  return request && reinterpret_cast<UrlRequestRec*>(arg) == request;
}

}  // namespace

Result WmlsTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2) {
  auto* t = static_cast<WmlsScriptTask*>(context);
  switch (message) {
    case WmlsMsg::Run:
      return Run(t, reinterpret_cast<char*>(arg1), reinterpret_cast<UrlRequestRec*>(arg2));
    case WmlsMsg::Resume:
      if (t->cur.run && arg1 == t->generation && !t->cur.run->suspended) Slice(t);
      return kOk;
    case WmlsMsg::Abort:
      // Ends the script, or the error popup of one that failed: one end either way.
      if (t->error) ClosePopup(t);
      t->error = 0;
      Finish(t, WmlsEnd::Ok);
      return kOk;
    case WmlsMsg::Stop:
    case TskMsg::Stop2: {
      // Ends silently and deletes the task with its record.
      t->error = 0;
      FreeRun(t);
      if (t->ownsSession) UrlSessionDestroy(t->session);
      TskmanDestroyTask(t->self);
      MemFree(&t);
      return kOk;
    }
    case WtaiMsg::Answer:
      Telephony(t, static_cast<int32_t>(arg1), reinterpret_cast<char16_t*>(arg2));
      return kOk;
    case PwlEvent::PopupAnswer:
      if (t->popup.popup.task) {
        PopupDone(t, arg1, arg2, false);
      } else if (t->popupKind == 1) {
        // A prompt no longer watched answered after all: its text is freed.
        t->popupKind = 0;
        DropPromptAnswer(arg1, arg2);
      }
      return kOk;
    case PwlEvent::PopupCheck:
    case PwlEvent::PopupGone:
    case PwlEvent::PopupFailed:
    case TskMsg::Timer:
      if (PopupWatchGone(&t->popup, message, arg1, arg2)) PopupDone(t, 0, 0, true);
      return kOk;
    case UrlMsg::ClassKnown:
      if (Is(t->cur.request, arg1)) t->cur.contentClass = static_cast<uint32_t>(arg2);
      return kOk;
    case UrlMsg::StatusKnown:
      if (Is(t->fetch, arg1)) t->fetchStatus = static_cast<uint32_t>(arg2);
      if (Is(t->cur.request, arg1) && !t->cur.run) {
        t->cur.status = static_cast<uint32_t>(arg2);
        if (t->cur.status >= 400 && t->cur.status <= 599) Fail(t, WmlsResult::HttpError);
      }
      return kOk;
    case UrlMsg::Complete:
      if (Is(t->fetch, arg1)) return EndFetch(t, true), kOk;
      if (Is(t->cur.request, arg1) && !t->cur.run) Complete(t);
      return kOk;
    case UrlMsg::Failed:
      if (Is(t->fetch, arg1)) return EndFetch(t, false), kOk;
      if (Is(t->cur.request, arg1) && !t->cur.run)
        Fail(t, UrlFailedForMemory(t->cur.request, static_cast<Result>(arg2)) ? WmlsResult::NoMemory
                                                                             : WmlsResult::Refused);
      return kOk;
    default: return kOk;
  }
}

Result WmlsScriptTaskCreate(WmlsScriptTask** out, TskmanTask* owner, BenBrowser* browser,
                            UrlSession* session) {
  *out = nullptr;
  auto* t = static_cast<WmlsScriptTask*>(MemAllocZero(sizeof(WmlsScriptTask), Use::Context, Mod::WmlsExec));
  if (!t) return kFailed;
  t->owner = owner;
  t->session = session;
  t->lib.browser = browser;
  t->lib.load = StartFetch;
  t->lib.call = NestedCall;
  t->lib.awaitPopup = AwaitPopup;
  if (TskmanCreateTask(&t->self, Mod::WmlsExec, WmlsTaskHandler, t) != kOk) {
    MemFree(&t);
    return kFailed;
  }
  t->lib.self = t->self;
  *out = t;
  return kOk;
}

Result WmlsScriptTaskStartForBrowser(TskmanTask** out) {
  *out = nullptr;
  TskmanTask* browser = TskmanFind(Mod::Ben);
  if (!browser || !BenGetBrowser()) return ResultError(Mod::WmlsExec, Err::NotFound);
  WmlsScriptTask* t = nullptr;
  if (Result r = WmlsScriptTaskCreate(&t, browser, BenGetBrowser(), nullptr); r != kOk) return r;
  // The window's URL task: it ends after this task (the window stops the
  // scripts first), where another module's may end while this one fetches.
  if (Result r = UrlSessionCreateWith(&t->session, t->self, TskmanFind(Mod::Ui)); r != kOk) {
    WmlsScriptTaskDestroy(&t);
    return r;
  }
  t->ownsSession = 1;
  *out = t->self;
  return kOk;
}

void WmlsScriptTaskDestroy(WmlsScriptTask** task) {
  if (!*task) return;
  (*task)->error = 0;
  FreeRun(*task);
  if ((*task)->ownsSession) UrlSessionDestroy((*task)->session);
  TskmanDestroyTask((*task)->self);
  MemFree(task);
}

TskmanTask* WmlsScriptTaskOf(WmlsScriptTask* task) { return task->self; }
