#include "markup/html_node.h"

#include "browser/status.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "kernel/tskman.h"

namespace {

HtmlImageObjectDecodeFn gImageObjectDecode = nullptr;
HtmlPageSound gPageSound{};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f'; }

// The source type a type value names (ASCII case ignored, blanks around it
// allowed), or None.
uint8_t SourceOf(const char16_t* value) {
  if (!value) return HtmlImageSource::None;
  while (IsBlank(*value)) ++value;
  uint32_t n = 0;
  while (value[n] && !IsBlank(value[n])) ++n;
  for (uint32_t i = n; value[i]; ++i)
    if (!IsBlank(value[i])) return HtmlImageSource::None;
  struct Name {
    const char* text;
    uint8_t source;
  };
  static constexpr Name kNames[] = {{"str", HtmlImageSource::Str},
                                    {"nbmp", HtmlImageSource::Nbmp},
                                    {"sis", HtmlImageSource::Sis}};
  for (const Name& name : kNames)
    if (LibcStrLen(name.text) == n && LibcStrWStrNICmp(name.text, value, n) == 0) return name.source;
  return HtmlImageSource::None;
}

}  // namespace

HtmlNode* HtmlNodeCreate(uint32_t kind) {
  auto* node = static_cast<HtmlNode*>(MemAllocZero(sizeof(HtmlNode), Use::Data, Mod::WtlHtml));
  if (node) node->kind = kind;
  return node;
}

void HtmlNodeFree(HtmlNode* node) {
  if (!node) return;
  MemFree(&node->text);
  MemFree(&node->title);
  MemFree(&node->object.text);
  MemFree(&node);
}

void HtmlFreeNodeList(Queue* list, uint32_t kind) {
  if (!list) return;
  while (QueueNode* entry = QueuePopFront(list)) {
    if (kind == HtmlListKind::Nodes)
      HtmlNodeFree(reinterpret_cast<HtmlNode*>(entry));
    else
      MemFreeRaw(entry);
  }
}

Result HtmlCopyAttrValue(char16_t** out, uint32_t* length, const char16_t* value) {
  if (*out) return kOk;
  if (!value) value = u"";
  while (IsBlank(*value)) ++value;
  uint32_t n = LibcWStrLen(value);
  while (n && IsBlank(value[n - 1])) --n;
  auto* copy = static_cast<char16_t*>(
      MemAlloc((n + 1) * sizeof(char16_t), Use::String, Mod::WtlHtml));
  if (!copy) return kHtmlNoMemory;
  for (uint32_t i = 0; i < n; ++i) copy[i] = value[i];
  copy[n] = 0;
  *out = copy;
  if (length) *length = n;
  return kOk;
}

void HtmlSetImageObjectDecode(HtmlImageObjectDecodeFn decode) { gImageObjectDecode = decode; }

HtmlNode* HtmlAdverCreate(uint8_t* workBuffer, uint32_t workBufferSize) {
  HtmlNode* node = HtmlNodeCreate(HtmlNodeKind::Adver);
  if (!node) return nullptr;
  node->object.workBuffer = workBuffer;
  node->object.workBufferSize = workBuffer ? workBufferSize : 0;
  return node;
}

Result HtmlAdverAttribute(HtmlNode* node, const char* name, const char16_t* value) {
  if (!node || node->kind != HtmlNodeKind::Adver || !name || node->handedOver) return kOk;
  if (LibcStrICmp(name, "type") == 0) {
    if (node->typeKnown) return kOk;
    node->typeKnown = 1;
    node->object.sourceType = SourceOf(value);
    if (node->object.sourceType == HtmlImageSource::None) {
      // No image comes of this element: the status indicator is told so.
      node->handedOver = 1;
      if (TskmanTask* status = TskmanFind(Mod::Status)) TskmanPost(status, StatusMsg::AdverNone, 0, 0);
      return kOk;
    }
  } else if (LibcStrICmp(name, "inline") == 0) {
    if (node->inlineKnown) return kOk;
    uint32_t length = 0;
    if (Result r = HtmlCopyAttrValue(&node->object.text, &length, value); r != kOk) return r;
    node->inlineKnown = 1;
  } else {
    return kOk;
  }
  if (!node->typeKnown || !node->inlineKnown || !gImageObjectDecode) return kOk;
  node->handedOver = 1;
  return gImageObjectDecode(&node->object);
}

void HtmlSetPendingPageSound(uint8_t* data, uint32_t length, uint32_t soundCode) {
  HtmlFreePendingPageSound();
  gPageSound = {data, data ? length : 0, soundCode};
}

bool HtmlTakePendingPageSound(HtmlPageSound* out) {
  if (!gPageSound.data) return false;
  *out = gPageSound;
  gPageSound = {};
  return true;
}

bool HtmlHasPendingPageSound() { return gPageSound.data != nullptr; }

void HtmlFreePendingPageSound() {
  MemFree(&gPageSound.data);
  gPageSound = {};
}
