// The browser's variables (module 25): the WML variable context of the
// browser task, and the substitution of "$name", "$(name)" and
// "$(name:conversion)" references in texts. The browser instance carries
// more; this is the part the toolkit and the controls use.
#pragma once
#include <cstdint>

#include "kernel/list.h"
#include "kernel/modules.h"

struct TskmanTask;

struct BenVariable {
  ListNode link;
  char16_t* name;
  char16_t* value;
};

// The navigation a script asked for, carried out when the script task ends.
namespace BenPendingKind {
constexpr uint32_t None = 0, Go = 1, Back = 2, Refresh = 4;
}

struct BenPendingTask {
  uint32_t kind;  // BenPendingKind
  char* url;      // 8-bit, owned; only with Go
};

struct BenWtaContext;
struct BenEventBinding;
struct WtaiConsentRecord;

// The context of the browser task (task 25): the current variable context
// (its variables and the pending navigation) and the WTA state. The task's
// own behaviour is in bentask.h.
struct BenBrowser {
  ListHead variables;
  BenPendingTask pending;
  TskmanTask* task;               // the browser task, once started
  BenWtaContext* wta;             // the current WTA context, or null
  BenEventBinding* bindings;      // the repository's event bindings, owned
  uint32_t securityState;         // 1 once the WTA security state stands
  WtaiConsentRecord* consents;    // consent questions waiting, the first one asked
  uint32_t asking;                // 1 while a confirm popup for the first is open
  // Non-zero when the page's WTA access is public only: telephony links
  // then reach the public functions alone.
  uint32_t accessOk;
  uint32_t wtaFlag;  // the WTA flag the WTA libraries read and set
};

void BenBrowserInit(BenBrowser* browser);
// Frees the variables whose names start with the prefix; every variable
// with a null or empty prefix.
void BenClearVars(BenBrowser* browser, const char16_t* prefix = nullptr);
// Empties the current variable context: every variable and the pending
// navigation.
void BenFreeVarList(BenBrowser* browser);
// Sets (replaces) a variable; an empty or null value removes it.
Result BenSetVar(BenBrowser* browser, const char16_t* name, const char16_t* value);
// The value, or null when the variable is not set.
const char16_t* BenGetVar(const BenBrowser* browser, const char16_t* name);
// The same with its length in units: *value null and *length 0 when the
// variable is not set. NotFound then, else 0.
Result BenGetVar(const BenBrowser* browser, const char16_t* name, const char16_t** value,
                 uint32_t* length);
// Records the navigation to carry out after a script: BenPendingKind::Go to
// the URL (a copy is kept; null or empty clears any pending navigation),
// Back or Refresh. The last call wins.
Result BenSetPendingTask(BenBrowser* browser, uint32_t kind, const char* url);
// A new text with every reference replaced (an unset variable by nothing,
// "$$" by "$"). A text without references leaves *out null and answers 0;
// the caller then uses the text as it stands.
Result BenSubstituteVarsW(BenBrowser* browser, char16_t** out, const char16_t* text,
                          uint32_t flags);
// The browser task's context, or null while there is none.
BenBrowser* BenGetBrowser();
