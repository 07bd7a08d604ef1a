// The browser task (module 25): it carries out the navigation a script left
// behind, runs WTA events against the page's and the repository's bindings,
// keeps the WTA context the WTA libraries ask about, and puts the WTAI
// consent questions to the user. It is created with the browser window and
// ends with it.
#pragma once
#include <cstdint>

#include "browser/benvar.h"
#include "kernel/tskman.h"

struct BenPage;

namespace BenMsg {
constexpr uint32_t UiNavigate = Msg(Mod::Ben, 0x0A);   // to the UI task: {8-bit address, owned by it}
constexpr uint32_t UiShowUrl = Msg(Mod::Ben, 0x0C);    // to the UI task: {8-bit URL, owned by it}
constexpr uint32_t ScriptEnded = Msg(Mod::Ben, 0x0D);  // {completion code}: carry out the pending navigation
constexpr uint32_t Binding = Msg(Mod::Ben, 0x19);      // {BenEventBinding*, channel id copy}
constexpr uint32_t Unbind = Msg(Mod::Ben, 0x1A);       // {event number, channel id copy}
constexpr uint32_t WtaEvent = Msg(Mod::Ben, 0x1B);     // {event id, BenWtaEventParams*}
constexpr uint32_t Bindings = Msg(Mod::Ben, 0x1C);     // {list of BenEventBinding}
constexpr uint32_t WtaEnd = Msg(Mod::Ben, 0x1D);       // {answer task}: end the WTA context
constexpr uint32_t WtaGet = Msg(Mod::Ben, 0x1E);       // {answer task}: "true" or "false"
constexpr uint32_t WtaSet = Msg(Mod::Ben, 0x1F);       // {answer task, value}
constexpr uint32_t WtaCall = Msg(Mod::Ben, 0x20);      // {call id}: release the call when the context ends
constexpr uint32_t Consent = Msg(Mod::Ben, 0x21);      // {WtaiConsentRecord*, 0}
// To the script task (module 34): {8-bit call text owned by it, referring
// request or 0}; it answers ScriptEnded.
constexpr uint32_t RunScript = Msg(Mod::WmlsExec, 0x00);
// To the script task: end any script silently and delete the task.
constexpr uint32_t StopScripts = Msg(Mod::WmlsExec, 0x03);
// To the telephony answer tasks: {result code, UTF-16 text owned by the receiver}.
constexpr uint32_t Answer = Msg(Mod::WtlWtai2, 0x00);
constexpr uint32_t Decision = Msg(Mod::WtlWtai2, 0x02);  // {1 accepted, 0 refused}
// The answer code of a refused request (no text).
constexpr int32_t Refused = -200;
// Sent (not posted) to the telephony link tasks (module 31) as the browser
// instance is freed: {BenBrowser*}; a task holding it stores no answer in it.
constexpr uint32_t BrowserGone = Msg(Mod::WtlWtai2, 0x04);
// To the repository task: send the event bindings.
constexpr uint32_t RepositoryBindings = Msg(Mod::WtlReplib, 0x02);
}  // namespace BenMsg

// WTA event ids.
namespace BenWtaEvent {
constexpr uint32_t IncomingCall = 1, CallCleared = 2, CallConnected = 3, OutgoingCall = 4,
                   CallConnecting = 5, Dtmf = 6, IncomingText = 7, TextSent = 8,
                   NetworkStatus = 12;
}

// The WTA event's name ("wtaev-cc/ic" ...), or null for an unknown id.
const char* BenWtaEventName(uint32_t id);

// A binding of a WTA event to an address (module 63 or 25): the repository
// sends them, and a WTA deck's temporary bindings have the same form.
struct BenEventBinding {
  uint32_t event;
  char* url;  // 8-bit, owned
  uint32_t reserved;
  char* channelId;  // owned, or null
  BenEventBinding* next;
};
// Frees a list of bindings with their texts.
void BenFreeBindings(BenEventBinding** list);

// The parameters of a raised WTA event: `count` NUL-terminated UTF-16 texts
// one after the other in `block` (owned).
struct BenWtaEventParams {
  uint32_t count;
  char16_t* block;
};

// A consent question (module 33): the browser answers the consent task with
// 0x2002 {decision}, and frees the prompt and the record.
struct WtaiConsentRecord {
  TskmanRef task;  // the consent request task, named as it was made
  uint32_t remember;
  char16_t* prompt;  // UTF-16, owned by the record
  WtaiConsentRecord* next;  // the browser's queue of questions
};

// The host's side of the WTA events the page does not bind, and of the calls
// recorded for release; the defaults do nothing.
struct BenWtaHostHooks {
  void (*event)(uint32_t id, uint32_t count, const char16_t* block);
  void (*releaseCall)(uint32_t callId);
};
// Null restores the defaults. Returns the hooks in place before.
const BenWtaHostHooks* BenSetWtaHostHooks(const BenWtaHostHooks* hooks);

// Creates the browser task with a new browser instance; NoMemory, or the
// task manager's result, when it cannot. The start posts 0x3F02 to the
// repository task.
Result BenStartTask();
// Ends the browser task at once: open consent questions are refused, the
// popup asking one is closed, what is still queued for the task is
// answered (questions refused, WTA requests answered -200) or freed, the
// telephony link tasks forget the instance, and everything it holds is
// freed.
void BenStopTask();
// Ends it after the messages already posted to it (262 to the task), so
// that what they carry is taken and freed as usual.
void BenEndTask();

// The WTA security state: made when the task starts; asks the repository
// task, when there is one, for its event bindings (0x3F02).
void BenNewSecurityState(BenBrowser* browser);

// The WTA context of the current WTA deck: opened by the deck, ended by
// 0x191D. The grant is the deck's "wtapermission"; an acceptance of a consent
// question is remembered while the grant stands.
Result BenWtaContextOpen(BenBrowser* browser);
void BenWtaGrantPermission(BenBrowser* browser, bool granted);
// A temporary binding of the current WTA context (a copy of the URL).
Result BenWtaBindEvent(BenBrowser* browser, uint32_t event, const char* url);
// The browser's WTA flag (0x191F; it stands with or without a context), the
// context's remembered acceptance and the number of calls recorded for
// release (0 without a context).
uint32_t BenWtaFlag(const BenBrowser* browser);
bool BenWtaAccepted(const BenBrowser* browser);
uint32_t BenWtaCallCount(const BenBrowser* browser);

// Posts 0x191B {event id, {count, block}} to the browser task, which runs
// the bound address with the variables "0", "1", ... set to the parameters,
// or hands the event to the host. Takes the block (count NUL-terminated
// texts; may be null when count is 0). Without a browser task the event
// goes to the host at once.
Result BenRaiseWtaEvent(uint32_t id, uint32_t count, char16_t* block);

// The script task runs a floor above the browser: whoever provides it
// installs how to start it (null uninstalls); the starter gives the task, or
// the reason it could not start one. It is started when the first script
// link is followed and stopped with the browser window.
using BenScriptStarter = Result (*)(TskmanTask** out);
void BenSetScriptStarter(BenScriptStarter start);
// Hands a script link "URL#function(arguments)" (8-bit, taken) to the script
// task; when there is none and none can be started, NotFound or the
// starter's reason (the text is then freed and nothing waits for the end of
// a script).
struct UrlRequestRec;
Result BenRunScript(char* callText, UrlRequestRec* referring);
// Ends the script task, if one runs, without its end message.
void BenStopScripts();

// A copy (8-bit, the caller frees it) of the URL of the first task record of
// the current page of the browser window; NotFound without one.
Result BenTaskFirstUrl(BenBrowser* browser, char** out);
// A copy of the page's URL; NotFound without one.
Result BenPageUrlString(const BenPage* page, char** out);
// The most recent back-stack address that does not start with the prefix
// (its first `prefixLength` bytes), passing over the `offset` most recent
// pages first; null when none does. The address stays the stack's.
const char* BenFindHistoryEntry(BenBrowser* browser, const char* prefix, uint32_t prefixLength,
                                uint32_t offset);

// The form fields of the current page: clear flag 0x100 of every check box
// (kind 5); set a named field from a form reply (an input or text area gets
// the value as its pending new value, a check box is checked and marked
// 0x100, a radio button of that group is chosen when the value is its own);
// lay the page out again and redraw it.
constexpr uint32_t kBenFieldFromReply = 0x100;
void BenFormClearKind5(BenBrowser* browser);
Result BenFormSetField(BenBrowser* browser, const char16_t* name, const char16_t* value);
void BenFormRedrawPage(BenBrowser* browser);

Result BenTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);
