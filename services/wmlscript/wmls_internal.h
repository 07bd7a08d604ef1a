// Helpers shared by the engine's own files.
#pragma once
#include "kernel/libc.h"
#include <cstdint>

#include "services/wmlscript/wmls.h"

// The value of a hex digit of a text unit, -1 for any other unit.
inline int WmlsHexDigit(char16_t c) { return c < 0x80 ? LibcHexDigit(static_cast<char>(c)) : -1; }

// A new NUL-terminated copy of count units, from module 34; null when memory runs out.
char16_t* WmlsNewString(const char16_t* text, uint32_t count);
// Units of a string cell's text (0 for none).
uint32_t WmlsLen(const char16_t* s);
// Space and the codes 9 to 13.
bool WmlsIsSpace(char16_t c);
// Before a variable's owned string is freed or replaced: stack cells that
// borrow it (loading a variable pushes it by reference) get their own copy.
void WmlsDetach(WmlsRunContext* ctx, const WmlsValue* var);

// A library argument as text: strings as they are, other kinds by their
// string form. ok is false for an argument that has none (invalid), with the
// conversion's wrong-type status cleared so the script goes on.
struct WmlsTextArg {
  WmlsTextArg(WmlsRunContext* ctx, const WmlsValue* v);
  ~WmlsTextArg() { WmlsValueRelease(&cell); }
  WmlsTextArg(const WmlsTextArg&) = delete;
  WmlsTextArg& operator=(const WmlsTextArg&) = delete;

  WmlsValue cell{};
  const char16_t* s = u"";  // never null
  uint32_t n = 0;
  bool ok = false;
  bool none = false;  // a string cell without any text
};
