#include "browser/benvar.h"

#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"

namespace {

constexpr Result kNoMemory = ResultError(Mod::Ben, Err::NoMemory);
constexpr Result kBadArg = ResultError(Mod::Ben, Err::BadArg);

BenVariable* Find(const BenBrowser* browser, const char16_t* name, uint32_t length) {
  for (ListNode* n = browser->variables.first; n->next; n = n->next) {
    auto* v = reinterpret_cast<BenVariable*>(n);
    if (LibcWStrLen(v->name) == length && LibcWStrNCmp(v->name, name, length) == 0) return v;
  }
  return nullptr;
}

void FreeVar(BenVariable* v) {
  ListRemove(&v->link);
  MemFree(&v->name);
  MemFree(&v->value);
  MemFree(&v);
}

bool NameChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         c == u'_';
}

// One reference at text[i] ('$'): its name span and its whole length; false
// when the '$' starts no reference and stands for itself.
bool ParseRef(const char16_t* text, uint32_t i, uint32_t* nameAt, uint32_t* nameLength,
              uint32_t* refLength) {
  uint32_t j = i + 1;
  if (text[j] == u'(') {
    uint32_t k = j + 1;
    while (NameChar(text[k])) ++k;
    const uint32_t end = k;
    if (text[k] == u':')
      while (text[k] && text[k] != u')') ++k;
    if (text[k] != u')' || end == j + 1) return false;
    *nameAt = j + 1;
    *nameLength = end - (j + 1);
    *refLength = k + 1 - i;
    return true;
  }
  uint32_t k = j;
  while (NameChar(text[k])) ++k;
  if (k == j) return false;
  *nameAt = j;
  *nameLength = k - j;
  *refLength = k - i;
  return true;
}

}  // namespace

void BenBrowserInit(BenBrowser* browser) {
  LibcMemSet(browser, 0, sizeof(*browser));
  ListInit(&browser->variables);
}

void BenClearVars(BenBrowser* browser, const char16_t* prefix) {
  if (!browser) return;
  const uint32_t n = prefix ? LibcWStrLen(prefix) : 0;
  ListNode* node = browser->variables.first;
  while (node->next) {
    ListNode* next = node->next;
    auto* v = reinterpret_cast<BenVariable*>(node);
    if (n == 0 || LibcWStrNCmp(v->name, prefix, n) == 0) FreeVar(v);
    node = next;
  }
}

void BenFreeVarList(BenBrowser* browser) {
  if (!browser) return;
  BenClearVars(browser);
  MemFree(&browser->pending.url);
  browser->pending.kind = BenPendingKind::None;
}

Result BenSetPendingTask(BenBrowser* browser, uint32_t kind, const char* url) {
  if (!browser) return kBadArg;
  if (kind != BenPendingKind::Go && kind != BenPendingKind::Back &&
      kind != BenPendingKind::Refresh)
    return kBadArg;
  char* copy = nullptr;
  if (kind == BenPendingKind::Go && url && *url) {
    copy = LibcStrDup(url);
    if (!copy) return kNoMemory;
  }
  MemFree(&browser->pending.url);
  browser->pending.url = copy;
  // Going nowhere clears what was pending.
  browser->pending.kind = kind == BenPendingKind::Go && !copy ? BenPendingKind::None : kind;
  return kOk;
}

Result BenSetVar(BenBrowser* browser, const char16_t* name, const char16_t* value) {
  if (!browser || !name || !*name) return kBadArg;
  BenVariable* v = Find(browser, name, LibcWStrLen(name));
  if (!value || !*value) {
    if (v) FreeVar(v);
    return kOk;
  }
  auto* copy = static_cast<char16_t*>(
      MemAlloc((LibcWStrLen(value) + 1) * 2, Use::String, Mod::Ben));
  if (!copy) return kNoMemory;
  LibcWStrCopy(copy, value);
  if (v) {
    MemFree(&v->value);
    v->value = copy;
    return kOk;
  }
  v = static_cast<BenVariable*>(MemAllocZero(sizeof(BenVariable), Use::Data, Mod::Ben));
  auto* nameCopy =
      static_cast<char16_t*>(MemAlloc((LibcWStrLen(name) + 1) * 2, Use::String, Mod::Ben));
  if (!v || !nameCopy) {
    MemFree(&copy);
    MemFree(&nameCopy);
    MemFree(&v);
    return kNoMemory;
  }
  LibcWStrCopy(nameCopy, name);
  v->name = nameCopy;
  v->value = copy;
  ListAppend(&browser->variables, &v->link);
  return kOk;
}

const char16_t* BenGetVar(const BenBrowser* browser, const char16_t* name) {
  if (!browser || !name) return nullptr;
  const BenVariable* v = Find(browser, name, LibcWStrLen(name));
  return v ? v->value : nullptr;
}

Result BenGetVar(const BenBrowser* browser, const char16_t* name, const char16_t** value,
                 uint32_t* length) {
  const char16_t* found = BenGetVar(browser, name);
  if (value) *value = found;
  if (length) *length = found ? LibcWStrLen(found) : 0;
  return found ? kOk : ResultError(Mod::Ben, Err::NotFound);
}

Result BenSubstituteVarsW(BenBrowser* browser, char16_t** out, const char16_t* text,
                          uint32_t) {
  if (!out) return kBadArg;
  *out = nullptr;
  if (!text || !LibcWStrChr(text, u'$')) return kOk;
  // Two passes: measure, then write.
  char16_t* result = nullptr;
  for (int pass = 0; pass < 2; ++pass) {
    uint32_t n = 0;
    for (uint32_t i = 0; text[i];) {
      uint32_t at, length, ref;
      const char16_t* value = nullptr;
      uint32_t valueLength = 0;
      if (text[i] == u'$' && text[i + 1] == u'$') {
        value = u"$";
        valueLength = 1;
        ref = 2;
      } else if (text[i] == u'$' && ParseRef(text, i, &at, &length, &ref)) {
        const BenVariable* v = browser ? Find(browser, text + at, length) : nullptr;
        value = v ? v->value : u"";
        valueLength = LibcWStrLen(value);
      } else {
        if (result) result[n] = text[i];
        ++n;
        ++i;
        continue;
      }
      if (result)
        for (uint32_t k = 0; k < valueLength; ++k) result[n + k] = value[k];
      n += valueLength;
      i += ref;
    }
    if (result) {
      result[n] = 0;
      break;
    }
    result = static_cast<char16_t*>(MemAlloc((n + 1) * 2, Use::String, Mod::Ben));
    if (!result) return kNoMemory;
  }
  *out = result;
  return kOk;
}

BenBrowser* BenGetBrowser() {
  TskmanTask* task = TskmanFind(Mod::Ben);
  void* context = nullptr;
  if (task) TskmanGetContext(&context, task);
  return static_cast<BenBrowser*>(context);
}
