// The languages of the handset: one current row of a fixed table decides the
// user-interface texts, the localized folder of the built-in files and the
// default character set of documents.
#pragma once
#include <cstdint>

struct ShellLanguage {
  const char16_t* displayName;
  const ShellLanguage* fallback;  // null for English; English for every other row
  int32_t index;                  // the row's position, 0 to 21
  const char* folder;             // localized folder of the built-in tree, e.g. "/eng/"
  uint32_t defaultCharset;        // MIBenum of documents without a known charset
  uint8_t wspPreference[4];       // encoded language preference of the WSP layer
  uint32_t credentialsCharset;    // MIBenum of stored credentials (4)
  uint32_t converterDefault;      // MIBenum a charset without a converter falls back to
};

constexpr int kShellLanguageCount = 22;

// The index of the row whose display name equals the name (ASCII case
// ignored), or -1.
int32_t ShellFindLanguage(const char16_t* name);
// Makes the named row current; an unknown name makes English current and
// says so in a message box.
void ShellSelectLanguage(const char16_t* name);
// The current row (English at start).
const ShellLanguage* ShellGetLanguage();
// Makes the row with that index current; false for an index out of range.
bool ShellSetLanguageIndex(int32_t index);
const ShellLanguage* ShellLanguageRow(int32_t index);
