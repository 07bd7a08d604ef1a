// Content labels: what the push inbox shows of a loaded document. A deck or
// page is labelled with its title, or failing that with the name of its
// kind of content, and always carries its address.
#pragma once
#include <cstdint>

#include "browser/url.h"

struct ContentSummary {
  uint32_t action;  // 5 for a document
  char16_t* text;   // inside `allocation`
  char16_t* url;    // inside `allocation`; null when the load has no address
  uint32_t reserved[2];
  char16_t* allocation;  // holds the texts; the inbox frees it
};

constexpr uint32_t kSummaryShowDocument = 5;
constexpr Result kContentLabelNoMemory = 0x80260001;

// The name of the load's kind of content, for labels.
const char16_t* ContentTypeName(const UrlLoad* load);
// The document summary of a page or deck load (classes 2 and 3): 0 or
// kContentLabelNoMemory (nothing held).
Result WmlcBuildContentLabel(ContentSummary* summary, UrlLoad* load);
