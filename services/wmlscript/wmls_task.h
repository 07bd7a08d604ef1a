// What the URL and WMLBrowser libraries reach of the script task that runs
// them: the run context's scriptTask points at this record, or is null for a
// run outside the task (those functions then answer invalid).
#pragma once
#include <cstdint>

#include "kernel/modules.h"

struct BenBrowser;
struct TskmanTask;

struct WmlsTaskContext {
  BenBrowser* browser;         // whose variables and pending navigation the script uses
  const char16_t* referrer;    // the URL of the request that made the call, or null
  uint32_t referringClass;     // content class of the referring document; 4 is a WTA deck
  const char16_t* scriptUrl;   // the script's URL as the call gave it (before "#")
  const char* outerUnitUrl;    // in a nested run, the outer unit's URL; else null
  // Starts URL.loadString's fetch of the UTF-8 URL with the expected type
  // id; 0 when it is under way (the run then waits for its answer). Null
  // outside the task.
  int32_t (*load)(WmlsTaskContext* task, const char* url, uint32_t typeId);
  // Starts a nested run of the call text "URL#function(arguments)" (UTF-8,
  // taken); 0 when under way (the run then waits for the nested result, and
  // a relative URL resolves against the calling unit's). Null outside the task.
  int32_t (*call)(WmlsTaskContext* task, char* text);
  // The task itself: dialogs name it as the receiver of their answer.
  TskmanTask* self;
  // Called by a library that has opened a popup answering to the task and
  // suspended the run for it (resume kind 1 prompt, 2 confirm, 3 alert).
  // The popup's answer {value, flag} resumes the run: a prompt with the
  // entered UTF-16 text (taken) when flag is 1, a confirm with value != 0,
  // an alert with an empty string. A cancelled prompt, or a popup that goes
  // away without an answer, resumes it with none: the cell the library left
  // stays as the call's result.
  void (*awaitPopup)(WmlsTaskContext* task);
  // Set by a voice call's set-up: the answer's call id is reported to the
  // owner so that the call is released when the WTA context ends.
  uint32_t answerAsNumber;
  // Set by a WTA library call whose request was taken: its answer is owed
  // to the run, and the request is cancelled at its source when the run
  // ends without it.
  uint32_t telephonyPending;
};

// Content class of a WTA deck: it lifts the variable-name check of getVar.
constexpr uint32_t kWmlsWtaDeckClass = 4;

extern const struct WmlsLibFunction kWmlsUrlFunctions[];
extern const struct WmlsLibFunction kWmlsBrowserFunctions[];
extern const struct WmlsLibFunction kWmlsDialogsFunctions[];
extern const struct WmlsLibFunction kWmlsWtaPublicFunctions[];
extern const struct WmlsLibFunction kWmlsWtaCallFunctions[];
extern const struct WmlsLibFunction kWmlsWtaTextFunctions[];
extern const struct WmlsLibFunction kWmlsWtaPhonebookFunctions[];
extern const struct WmlsLibFunction kWmlsWtaMiscFunctions[];
extern const struct WmlsLibFunction kWmlsWtaLogFunctions[];
// What a popup that cannot be asked without the script task answers.
constexpr Result kWmlsNoPopup = ResultError(Mod::WmlsExec, Err::NotFound);

// Shared by the libraries and the call-URL instruction. The 8-bit (UTF-8)
// form of count units, a new text (module 34),
// or null without memory.
char* WmlsWideToNarrow(const char16_t* text, uint32_t count);
// A new UTF-16 copy of 8-bit UTF-8 text (module 34), or null without memory.
char16_t* WmlsFromUtf8(const char* text, uint32_t count);
// A new text of target made relative to base when their schemes, hosts and
// ports agree (common leading directories dropped, ".." for the rest of the
// base's); otherwise a copy of target. Null without memory.
char* WmlsRelativeUrl(const char* target, const char* base);
// The type id URL.loadString expects for a content type ("text/plain" 3,
// "text/*" 1, ...); 0 for a type it does not load.
uint32_t WmlsLoadStringType(const char16_t* type, uint32_t count);

struct WmlsRunContext;
struct WmlsUnit;
// Starts the run of a call text "name(arguments)" (UTF-16) of the unit: the
// access check when the unit has pragmas (-1002), the argument list
// (-1005 when malformed: no "(", no ")" or an unclosed quote), the function
// by name (-1001), then WmlsRunStart (-1006 for the wrong argument count).
// Arguments: quoted strings with %XX escapes, true, false, invalid,
// integers; a number with "." is invalid. The referrer, unit URL and task
// record are kept in the run context. The caller ends the run with
// WmlsRunRelease whatever the result.
int32_t WmlsRunCall(WmlsRunContext* ctx, WmlsUnit* unit, const char16_t* call, const char* referrer,
                    const char* unitUrl, void* scriptTask);
// Starts the run (WmlsRunCall) when the context has not started one, then
// runs one slice of it; a started run is resumed with its next slice. The
// result is a start failure, 0 while the run goes on, -1008 while it waits,
// or how it ended. The caller releases the context (WmlsRunRelease) once
// the result is neither 0 nor -1008.
int32_t WmlsRun(WmlsRunContext* ctx, WmlsUnit* unit, const char16_t* call, const char* referrer,
                const char* unitUrl, void* scriptTask);
