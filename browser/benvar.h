// The browser's variables (module 25): the WML variable context of the
// browser task, and the substitution of "$name", "$(name)" and
// "$(name:conversion)" references in texts. The browser instance carries
// more; this is the part the toolkit and the controls use.
#pragma once
#include <cstdint>

#include "kernel/list.h"
#include "kernel/modules.h"

struct BenVariable {
  ListNode link;
  char16_t* name;
  char16_t* value;
};

// The context of the browser task (task 25), first of all its variables.
struct BenBrowser {
  ListHead variables;
};

void BenBrowserInit(BenBrowser* browser);
// Frees every variable.
void BenClearVars(BenBrowser* browser);
// Sets (replaces) a variable; an empty or null value removes it.
Result BenSetVar(BenBrowser* browser, const char16_t* name, const char16_t* value);
// The value, or null when the variable is not set.
const char16_t* BenGetVar(const BenBrowser* browser, const char16_t* name);
// A new text with every reference replaced (an unset variable by nothing,
// "$$" by "$"). A text without references leaves *out null and answers 0;
// the caller then uses the text as it stands.
Result BenSubstituteVarsW(BenBrowser* browser, char16_t** out, const char16_t* text,
                          uint32_t flags);
// The browser task's context, or null while there is none.
BenBrowser* BenGetBrowser();
