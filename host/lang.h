// Language selection of the user-interface texts.
#pragma once
#include <cstdint>

// Makes the named language current; an unknown name selects English.
void ShellSelectLanguage(const char16_t* name);
// The name last handed to ShellSelectLanguage (empty before any).
const char16_t* ShellSelectedLanguageName();
