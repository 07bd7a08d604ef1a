#include "host/platform/lang.h"

#include "host/platform/shell.h"

namespace {

// Every row but English falls back to English (row 0).
#define QOR_LANG(index, name, folder, charset, pref)                                   \
  {name, (index) ? &kLanguages[0] : nullptr, index, folder, charset, {0x83, pref, 0x83, 0x80}, \
   4, charset}

extern const ShellLanguage kLanguages[kShellLanguageCount];
constexpr ShellLanguage kLanguages[kShellLanguageCount] = {
    QOR_LANG(0, u"English", "/eng/", 4, 0x99),     QOR_LANG(1, u"Turkish", "/tu/", 12, 0xFB),
    QOR_LANG(2, u"Swedish", "/sv/", 4, 0xF0),      QOR_LANG(3, u"Slovakian", "/sk/", 5, 0xE6),
    QOR_LANG(4, u"Romanian", "/ro/", 5, 0xDE),     QOR_LANG(5, u"Portuguese", "/pt/", 4, 0xD8),
    QOR_LANG(6, u"Polish", "/po/", 5, 0xD8),       QOR_LANG(7, u"Norwegian", "/no/", 4, 0x53),
    QOR_LANG(8, u"Italian", "/it/", 4, 0xB4),      QOR_LANG(9, u"Hungarian", "/hu/", 5, 0x0D),
    QOR_LANG(10, u"French", "/fr/", 4, 0x02),      QOR_LANG(11, u"Finnish", "/fi/", 4, 0x9F),
    QOR_LANG(12, u"Spanish", "/es/", 4, 0x9B),     QOR_LANG(13, u"Dutch", "/nl/", 4, 0xD2),
    QOR_LANG(14, u"German", "/de/", 4, 0x96),      QOR_LANG(15, u"Danish", "/da/", 4, 0x95),
    QOR_LANG(16, u"Czech", "/cs/", 5, 0x93),       QOR_LANG(17, u"Croatian", "/sh/", 5, 0xE4),
    QOR_LANG(18, u"Greek", "/el/", 10, 0x98),      QOR_LANG(19, u"Japanese", "/ja/", 17, 0xB6),
    QOR_LANG(20, u"Korean", "/ko/", 36, 0xBD),     QOR_LANG(21, u"Russian", "/ru/", 8, 0xDF),
};
#undef QOR_LANG

int32_t gCurrent = 0;

char16_t Fold(char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; }

bool EqualFolded(const char16_t* a, const char16_t* b) {
  for (; Fold(*a) == Fold(*b); ++a, ++b)
    if (*a == 0) return true;
  return false;
}

}  // namespace

int32_t ShellFindLanguage(const char16_t* name) {
  if (!name) return -1;
  for (const ShellLanguage& row : kLanguages)
    if (EqualFolded(row.displayName, name)) return row.index;
  return -1;
}

void ShellSelectLanguage(const char16_t* name) {
  int32_t index = ShellFindLanguage(name);
  if (index < 0) {
    gCurrent = 0;
    HostMessageBoxTitled("QOR Error", "Language name not recognised.  Defaulting to English");
    return;
  }
  gCurrent = index;
}

const ShellLanguage* ShellGetLanguage() { return &kLanguages[gCurrent]; }

bool ShellSetLanguageIndex(int32_t index) {
  if (index < 0 || index >= kShellLanguageCount) return false;
  gCurrent = index;
  return true;
}

const ShellLanguage* ShellLanguageRow(int32_t index) {
  return index >= 0 && index < kShellLanguageCount ? &kLanguages[index] : nullptr;
}
