#include "host/lang.h"

#include <string>

// Until the language table is in place, selecting a language only records
// its name, so that what qor.ini asked for can be seen.
namespace {
std::u16string g_langSelected;
}

void ShellSelectLanguage(const char16_t* name) { g_langSelected = name != nullptr ? name : u""; }

const char16_t* ShellSelectedLanguageName() { return g_langSelected.c_str(); }
