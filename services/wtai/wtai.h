// WTAI: the telephony functions that links (wtai:, tel:, dialto:, smsto:)
// and the WTA script libraries ask of the emulated handset.
//
// A function is looked up by library and name at the caller's level; its
// handler checks the ';'-separated argument text, asks the user's consent
// through the browser task, and hands the request to the handset, the
// browser or the SMS service. Whoever serves it posts exactly one answer,
// 0x2000 {result code, UTF-16 text owned by the receiver}, to the request's
// answer task: 0 with the text, -200 for a refusal or bad arguments, -100
// when a text message could not be sent.
#pragma once
#include <cstdint>

#include "browser/bentask.h"
#include "kernel/modules.h"

struct BenBrowser;
struct TskmanTask;
struct UrlLoad;
struct UrlRequestRec;

namespace WtaiMsg {
constexpr uint32_t Answer = BenMsg::Answer;      // {result code, text}
constexpr uint32_t Confirm = Msg(Mod::WtlWtai2, 0x01);  // {callback, answer task}
constexpr uint32_t Decision = BenMsg::Decision;  // {non-zero accepted}
constexpr uint32_t SmsOver = Msg(Mod::WtlWtai2, 0x03);
constexpr uint32_t BrowserGone = BenMsg::BrowserGone;  // {BenBrowser*}
// Sent (not posted) to the request tasks by WtaiForgetAnswerTask: {answer
// task that stops waiting, task told a set-up call's id or 0}.
constexpr uint32_t AnswerGone = Msg(Mod::WtlWtai2, 0x05);
}  // namespace WtaiMsg

// A signed 32-bit number in decimal and its terminator.
constexpr uint32_t kWtaiDecimalUnits = 12;

// Answer codes.
constexpr int32_t kWtaiRefused = BenMsg::Refused;
constexpr int32_t kWtaiNotSent = -100;

// Confirmation states a handler is called with.
namespace WtaiState {
constexpr uint32_t First = 0, Refused = 1, Accepted = 2;
}

// (answer task, argument text taken over, confirmation state); 0.
using WtaiHandler = Result (*)(TskmanTask* answer, char16_t* args, uint32_t state);

constexpr uint32_t kWtaiNameSize = 12;
struct WtaiFunction {
  char name[kWtaiNameSize];
  WtaiHandler handler;  // null ends a list
  int32_t level;        // the least caller level that may use it
};
struct WtaiLibrary {
  char name[kWtaiNameSize];
  const WtaiFunction* functions;  // null ends the table
};
extern const WtaiLibrary kWtaiLibraries[];

// The handler, or null for an unknown name or a level below the function's.
WtaiHandler WtaiFindFunction(const char* library, const char* function, int32_t level);

// Result codes of the module.
constexpr Result kWtaiNoMemory = ResultError(Mod::WtlWtai, Err::NoMemory);
constexpr Result kWtaiUnknown = ResultError(Mod::WtlWtai, 0x8003);

// --- Request tasks -----------------------------------------------------------
// A link's: stores the answer in the browser variable (a copy of the name is
// kept; none stores nothing) and ends.
TskmanTask* WtaiCreateUrlRequestTask(BenBrowser* browser, const char16_t* variable);
// A consent's: carries the pending argument text (taken) while the browser
// asks.
TskmanTask* WtaiCreateRequestTask(char16_t* pending);
// A text message's: waits for the SMS service and answers the answer task;
// null while one exists already.
TskmanTask* WtaiCreateSmsTask(TskmanTask* answer);
// Puts prompt 19/index (with " (detail)" when given) to the user through
// the browser task; the handler is called again with the decision. 0 asked
// (the argument text is then the consent task's), 1 out of memory, 3 no
// browser task (the text stays the caller's).
int32_t WtaiConfirmRequest(uint32_t prompt, const char16_t* detail, uint32_t remember,
                           TskmanTask* answer, char16_t* args, WtaiHandler callback);
// Posts 0x2000 {code, none} to the answer task.
void WtaiPostResult(TskmanTask* answer, int32_t code);
// Posts 0x2000 {0, a copy of the text} to the answer task, while it stands.
void WtaiPostText(TskmanTask* answer, const char16_t* text);
// The answer task stops waiting for its request (the run that made it has
// ended): nothing more is posted to it for that request. A consent still
// asked takes the request's answer itself, and when `report` is given
// reports the id of the call it sets up to that task (6432), so that the
// call is still released with the WTA context; an SMS request answers no
// one; a WTA-context request still queued for the browser loses its answer
// task. An answer already queued for the answer task is its own to take back.
void WtaiForgetAnswerTask(TskmanTask* answer, TskmanTask* report);
Result WtaiRequestTaskHandler(void* context, uint32_t message, uintptr_t arg1, uintptr_t arg2);

// --- Argument fields (numbered from 1) -----------------------------------------
uint32_t WtaiArgCount(const char16_t* text);
// A new copy of field n (leading characters below 33 of the whole text
// skipped); null without memory or past the last field.
char16_t* WtaiArgText(const char16_t* text, uint32_t n);
int32_t WtaiArgInt(const char16_t* text, uint32_t n);
// An optional '+' and decimal digits; -1 for anything else or an overflow.
int32_t WtaiParseInt(const char16_t* text);
bool WtaiArgIsTrue(const char16_t* text);

// --- Schemes ---------------------------------------------------------------------
Result WtaiSchemeStart(UrlRequestRec* request, UrlLoad* load);
Result WtaiSchemeStep(UrlRequestRec* request, UrlLoad* load);
// The starts of tel: and dialto: links (wp/mc at level 0; 0 whatever the
// handler answered) and of smsto: links (nt/send at level 2 with number
// ";" query; the handler's result with the module's code).
Result WtaiStartDial(UrlRequestRec* request, UrlLoad* load);
Result WtaiStartSmsTo(UrlRequestRec* request, UrlLoad* load);
