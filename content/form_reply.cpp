// The form row and its reply parser.
#include "content/form_reply.h"

#include "browser/bentask.h"
#include "browser/benvar.h"
#include "kernel/datachunk.h"
#include "kernel/lng.h"
#include "kernel/mem.h"

namespace {

constexpr uint32_t kModule = 72;

bool TokenAppend(FormReplyParser* p, const uint8_t* bytes, uint32_t n) {
  if (n == 0) return true;
  const uint64_t need = uint64_t{p->length} + n + 1;
  if (need > 0x7FFFFFFF) return false;
  if (need > p->capacity) {
    uint32_t capacity = p->capacity ? p->capacity : 32;
    while (capacity < need) capacity *= 2;
    auto* grown = static_cast<char*>(p->token ? MemRealloc(p->token, capacity, 0, kModule)
                                              : MemAlloc(capacity, Use::Data, kModule));
    if (!grown) return false;
    p->token = grown;
    p->capacity = capacity;
  }
  for (uint32_t i = 0; i < n; ++i) p->token[p->length + i] = static_cast<char>(bytes[i]);
  p->length += n;
  return true;
}

// The token unescaped and in UTF-16 (null for an empty one); the token is
// emptied.
Result TakeToken(FormReplyParser* p, char16_t** out) {
  *out = nullptr;
  if (p->length == 0) return kOk;
  p->token[p->length] = 0;
  p->length = 0;
  UrlUnescapeInPlace(p->token);
  if (!p->token[0]) return kOk;
  return LngCharsetToWide(out, p->token, Mib::Utf8) == kOk ? kOk : FormCode::NoMemory;
}

Result ApplyPair(FormReplyParser* p) {
  char16_t* value = nullptr;
  if (p->inValue) {
    if (TakeToken(p, &value) != kOk) return FormCode::NoMemory;
  } else if (TakeToken(p, &p->name) != kOk) {
    return FormCode::NoMemory;
  }
  if (p->name && p->set) p->set(p->context, p->name, value);
  MemFree(&value);
  MemFree(&p->name);
  p->inValue = 0;
  return kOk;
}

void SetPageField(void*, const char16_t* name, const char16_t* value) {
  BenFormSetField(BenGetBrowser(), name, value);
}

}  // namespace

void FormReplyInit(FormReplyParser* parser, void* context, FormFieldSetFn set) {
  *parser = FormReplyParser{};
  parser->context = context;
  parser->set = set;
}

Result FormReplyFeed(FormReplyParser* p, const uint8_t* bytes, uint32_t length) {
  uint32_t from = 0;
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t c = bytes[i];
    if (c != '&' && !(c == '=' && !p->inValue)) continue;
    if (!TokenAppend(p, bytes + from, i - from)) return FormCode::NoMemory;
    from = i + 1;
    if (c == '&') {
      if (ApplyPair(p) != kOk) return FormCode::NoMemory;
    } else {
      // An "=" inside a value is part of it; the first ends the name.
      if (TakeToken(p, &p->name) != kOk) return FormCode::NoMemory;
      p->inValue = 1;
    }
  }
  return TokenAppend(p, bytes + from, length - from) ? kOk : FormCode::NoMemory;
}

Result FormReplyEnd(FormReplyParser* p) {
  if (p->length == 0 && !p->name && !p->inValue) return kOk;
  return ApplyPair(p);
}

void FormReplyFree(FormReplyParser* p) {
  MemFree(&p->token);
  MemFree(&p->name);
  p->length = p->capacity = 0;
  p->inValue = 0;
}

Result FormContentProcess(UrlModuleContext*, UrlLoad* load) {
  auto* p = static_cast<FormReplyParser*>(load->handlerState);
  if (!p) {
    p = static_cast<FormReplyParser*>(MemAllocZero(sizeof(FormReplyParser), Use::Data, kModule));
    if (!p) return FormCode::NoMemory;
    FormReplyInit(p, nullptr, SetPageField);
    load->handlerState = p;
    BenFormClearKind5(BenGetBrowser());
  }
  Result r = kOk;
  while (UtilDataChunk* chunk = UtilDataChunkHead(&load->input)) {
    if (r == kOk) r = FormReplyFeed(p, UtilDataChunkData(chunk) + chunk->offset, chunk->remaining);
    QueuePopFront(&load->input);
    MemFree(&chunk);
  }
  if (r == kOk && !load->endOfData) return kOk;
  if (r == kOk) r = FormReplyEnd(p);
  if (r == kOk) BenFormRedrawPage(BenGetBrowser());
  // The reply only updated the page: it is no page of its own to list.
  load->flags &= ~UrlFlag::Listed;
  FormReplyFree(p);
  MemFree(&p);
  load->handlerState = nullptr;
  load->events |= UrlEvent::Complete;
  return r;
}

Result FormContentRelease(UrlModuleContext*, UrlLoad* load) {
  auto* p = static_cast<FormReplyParser*>(load->handlerState);
  if (p) FormReplyFree(p);
  MemFree(&p);
  load->handlerState = nullptr;
  return kOk;
}
