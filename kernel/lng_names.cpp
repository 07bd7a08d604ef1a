// Charset names: the name a character set is written out under, and the
// aliases a document may name it by.
#include "kernel/libc.h"
#include "kernel/lng.h"

namespace {

struct NameRow {
  const char* name;
  uint32_t mib;
};

// A UTF-16 character set is written out as UTF-8, hence its name.
constexpr NameRow kNames[] = {
    {"us-ascii", 0},       {"us-ascii", Mib::UsAscii}, {"iso-8859-1", Mib::Latin1},
    {"Windows-1252", Mib::Windows1252}, {"ks_c_5601-1987", Mib::Ksc5601},
    {"euc-kr", Mib::EucKr}, {"UTF-8", Mib::Utf8},      {"UTF-8", Mib::Utf16Le},
    {"UTF-8", Mib::Utf16Be}, {"UTF-8", Mib::Utf16Native}, {nullptr, 0},
};

// The US-ASCII aliases other than "us-ascii" itself read as windows-1252,
// which is what such documents turn out to hold.
constexpr NameRow kA[] = {{"ANSI_X3.4-1968", 2252}, {"ANSI_X3.4-1986", 2252}, {nullptr, 0}};
constexpr NameRow kC[] = {{"cp367", 2252},         {"cp819", 4},         {"csISOLatin1", 4},
                          {"csASCII", 2252},       {"csKSC56011987", 36}, {"csEUCKR", 38},
                          {"csShiftJIS", 17},      {"csWindows32J", 17},  {nullptr, 0}};
constexpr NameRow kE[] = {{"euc-kr", 38}, {nullptr, 0}};
constexpr NameRow kI[] = {{"iso-8859-1", 4},       {"ibm367", 2252},   {"ibm819", 4},
                          {"iso_8859-1", 4},       {"iso_8859-1:1987", 4}, {"iso8859-1", 4},
                          {"iso-ir-100", 4},       {"ISO_646.irv:1991", 2252},
                          {"ISO646-US", 2252},     {"iso-ir-6", 2252}, {"iso-ir-149", 36},
                          {nullptr, 0}};
constexpr NameRow kK[] = {{"ks_c_5601-1987", 36}, {"korean", 36},         {"ks_c_5601", 36},
                          {"ks_c_5601_1987", 36}, {"ks_c_5601-1989", 36}, {"KSC_5601", 36},
                          {"KSC5601", 36},        {nullptr, 0}};
constexpr NameRow kL[] = {{"latin1", 4}, {"l1", 4}, {nullptr, 0}};
constexpr NameRow kM[] = {{"ms_Kanji", 17}, {nullptr, 0}};
constexpr NameRow kS[] = {{"shift_jis", 17}, {"shift-jis", 17}, {nullptr, 0}};
constexpr NameRow kU[] = {{"us-ascii", 3},
                          {"UTF-8", 106},
                          {"unicode", 1000},
                          {"unicodeFFFE", 32765},
                          {"unicode-1-1-utf-8", 106},
                          {"unicode-2-0-utf-8", 106},
                          {"utf-16", 1000},
                          {nullptr, 0}};
constexpr NameRow kW[] = {{"windows-1252", 2252}, {nullptr, 0}};
constexpr NameRow kX[] = {{"x-ansi", 2252},   {"x-unicode-2-0-utf-8", 106},
                          {"x-ms-cp932", 17}, {"x-sjis", 17},
                          {nullptr, 0}};

// By the alias's first letter, a to z.
constexpr const NameRow* kAliases[26] = {
    kA, nullptr, kC, nullptr, kE, nullptr, nullptr, nullptr, kI, nullptr, kK, kL, kM,
    nullptr, nullptr, nullptr, nullptr, nullptr, kS, nullptr, kU, nullptr, kW, kX, nullptr,
    nullptr,
};

}  // namespace

const char* LngGetCharsetName(uint32_t mib) {
  for (const NameRow* row = kNames; row->name; ++row)
    if (row->mib == mib) return row->name;
  return nullptr;
}

Result LngFindCharset(uint32_t* mib, const char* name, uint32_t length) {
  *mib = 0;
  if (length == 0 || !name) return kLngNoConverter;
  char first = name[0];
  if (first >= 'A' && first <= 'Z') first = static_cast<char>(first + ('a' - 'A'));
  if (first < 'a' || first > 'z') return kLngNoConverter;
  for (const NameRow* row = kAliases[first - 'a']; row && row->name; ++row) {
    if (LibcStrLen(row->name) == length && LibcStrNICmp(row->name, name, length) == 0) {
      *mib = row->mib;
      return kOk;
    }
  }
  return kLngNoConverter;
}
