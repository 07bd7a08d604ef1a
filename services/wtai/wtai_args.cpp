// The fields of a WTAI argument text and the rules its numbers and tones
// follow.
#include "kernel/mem.h"
#include "services/wtai/wtai.h"
#include "services/wtai/wtai_internal.h"

uint32_t WtaiArgCount(const char16_t* text) {
  uint32_t n = 1;
  for (; text && *text; ++text) n += *text == ';';
  return n;
}

char16_t* WtaiArgText(const char16_t* text, uint32_t n) {
  if (!text || n == 0) return nullptr;
  while (*text && *text < 33) ++text;
  for (uint32_t field = 1; field < n; ++field) {
    while (*text && *text != ';') ++text;
    if (!*text) return nullptr;
    ++text;
  }
  uint32_t length = 0;
  while (text[length] && text[length] != ';') ++length;
  auto* copy = static_cast<char16_t*>(MemAlloc((length + 1) * 2, Use::String, Mod::WtlWtai));
  if (!copy) return nullptr;
  for (uint32_t i = 0; i < length; ++i) copy[i] = text[i];
  copy[length] = 0;
  return copy;
}

int32_t WtaiParseInt(const char16_t* text) {
  if (!text || !*text) return -1;
  if (*text == '+') ++text;
  int32_t value = 0;
  for (; *text; ++text) {
    if (*text < '0' || *text > '9') return -1;
    const int64_t next = static_cast<int64_t>(value) * 10 + (*text - '0');
    if (next > 0x7FFFFFFF) return -1;
    value = static_cast<int32_t>(next);
  }
  return value;
}

int32_t WtaiArgInt(const char16_t* text, uint32_t n) {
  char16_t* field = WtaiArgText(text, n);
  const int32_t value = WtaiParseInt(field);
  MemFree(&field);
  return value;
}

bool WtaiArgIsTrue(const char16_t* text) {
  if (!text || !*text) return false;
  const char* word = "false";
  uint32_t i = 0;
  for (; word[i] && text[i]; ++i) {
    const char16_t c = text[i] >= 'A' && text[i] <= 'Z' ? text[i] + 32 : text[i];
    if (c != word[i]) return true;
  }
  return !(word[i] == 0 && text[i] == 0);
}

bool WtaiIsNumber(const char16_t* text, bool tail) {
  if (!text) return false;
  for (; *text; ++text) {
    const char16_t c = *text;
    if ((c >= '0' && c <= '9') || c == ' ' || c == ',' || c == '+' || c == '*' || c == '#' ||
        c == '-')
      continue;
    if (!tail || c >= 33) return false;
    // Only characters below 33 may follow.
    for (; *text; ++text)
      if (*text >= 33) return false;
    return true;
  }
  return true;
}

bool WtaiIsTones(const char16_t* text) {
  if (!text || !*text) return false;
  for (; *text; ++text) {
    const char16_t c = *text;
    const char16_t upper = c >= 'a' && c <= 'z' ? c - 32 : c;
    if (!((c >= '0' && c <= '9') || c == '*' || c == '#' || (upper >= 'A' && upper <= 'D')))
      return false;
  }
  return true;
}
