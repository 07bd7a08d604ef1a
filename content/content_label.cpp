// The document summary.
#include "content/content_label.h"

#include "kernel/lng.h"
#include "kernel/mem.h"
#include "kernel/uistring.h"
#include "markup/html_node.h"

namespace {

constexpr uint32_t kTypeNames = 16;
constexpr uint32_t kModule = 38;

uint32_t WideLength(const char16_t* text) {
  uint32_t n = 0;
  while (text && text[n]) ++n;
  return n;
}

// The first text node's text or the second card's title, whichever comes
// first on the load's output; null when neither.
const char16_t* DocumentTitle(const UrlLoad* load, uint32_t* length) {
  uint32_t cards = 0;
  for (QueueNode* n = load->output.head; n; n = n->next) {
    const auto* node = reinterpret_cast<const HtmlNode*>(n);
    if (node->kind == HtmlNodeKind::Text && node->text && node->textLength) {
      *length = node->textLength;
      return node->text;
    }
    if (node->kind == HtmlNodeKind::Card && ++cards == 2 && node->title && node->titleLength) {
      *length = node->titleLength;
      return node->title;
    }
  }
  return nullptr;
}

}  // namespace

const char16_t* ContentTypeName(const UrlLoad* load) {
  uint32_t index = load->contentClass;
  if (load->typeId == UrlType::ConnectivityWbxml) index = 11;
  else if (load->typeId == 7) index = 12;  // vCard
  else if (load->typeId == 6) index = 13;  // vCalendar
  return UiGetString(kTypeNames, index);
}

Result WmlcBuildContentLabel(ContentSummary* summary, UrlLoad* load) {
  *summary = ContentSummary{};
  char* address = nullptr;
  char16_t* url = nullptr;
  if (UrlToString(&address, &load->url, 0) == kOk && address) {
    const Result r = LngCharsetToWide(&url, address, Mib::Utf8);
    MemFree(&address);
    if (r != kOk) return kContentLabelNoMemory;
  }
  uint32_t textLength = 0;
  const char16_t* text = nullptr;
  if (load->typeId != UrlType::ConnectivityWbxml &&
      (load->contentClass == 2 || load->contentClass == 3))
    text = DocumentTitle(load, &textLength);
  if (!text) {
    text = ContentTypeName(load);
    textLength = WideLength(text);
  }
  // One allocation: the address, NUL, the text, NUL.
  const uint32_t urlLength = WideLength(url);
  const uint32_t units = (url ? urlLength + 1 : 0) + textLength + 1;
  auto* block = static_cast<char16_t*>(MemAlloc(units * 2, Use::String, kModule));
  if (!block) {
    MemFree(&url);
    return kContentLabelNoMemory;
  }
  char16_t* at = block;
  if (url) {
    for (uint32_t i = 0; i <= urlLength; ++i) *at++ = url[i];
    summary->url = block;
  }
  summary->text = at;
  for (uint32_t i = 0; i < textLength; ++i) *at++ = text[i];
  *at = 0;
  MemFree(&url);
  summary->allocation = block;
  summary->action = kSummaryShowDocument;
  return kOk;
}
