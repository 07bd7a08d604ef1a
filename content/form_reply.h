// Form replies (application/x-www-form-urlencoded): the response's
// name=value pairs are written into the fields of the page that made the
// request. The parser takes the bytes in any cuts; each pair reaches the
// setter unescaped and converted from UTF-8 to UTF-16.
#pragma once
#include <cstdint>

#include "browser/url.h"

namespace FormCode {
constexpr Result NoMemory = 0x80480001;
}

// Sets one field; its answer is not used (a reply may name fields the page
// does not have). The value may be null for an empty one.
using FormFieldSetFn = void (*)(void* context, const char16_t* name, const char16_t* value);

struct FormReplyParser {
  char* token;  // raw bytes of the name or value being read
  uint32_t length, capacity;
  char16_t* name;     // the finished name of the pending pair
  uint32_t inValue;   // 1 after the pair's "="
  uint32_t hasName;   // the pending pair has a name token
  void* context;
  FormFieldSetFn set;
};

void FormReplyInit(FormReplyParser* parser, void* context, FormFieldSetFn set);
// 0 or FormCode::NoMemory (the parser stays whole and can be freed).
Result FormReplyFeed(FormReplyParser* parser, const uint8_t* bytes, uint32_t length);
// The body has ended: a pending pair is applied.
Result FormReplyEnd(FormReplyParser* parser);
void FormReplyFree(FormReplyParser* parser);

// The form row.
Result FormContentProcess(UrlModuleContext* module, UrlLoad* load);
Result FormContentRelease(UrlModuleContext* module, UrlLoad* load);
