// The compiled-WML deck builder over arbitrary bytes, fed one at a time as
// the content row feeds it: it ends done, failed or waiting, never reads
// past what it was given; the nodes it left on the load are cards and
// texts with terminated texts of their stated length; aborting or ending the
// build and freeing the load give back everything it allocated.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "browser/url.h"
#include "kernel/heap.h"
#include "markup/html_node.h"
#include "markup/wmlc.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Reading every unit lets the sanitizers catch a text shorter than its length.
void CheckText(const char16_t* text, uint32_t length) {
  if (!text) return;
  uint32_t sum = 0;
  for (uint32_t i = 0; i <= length; ++i) sum += text[i];
  Check(text[length] == 0 && sum != 0xFFFFFFFFu);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  static std::vector<uint64_t> arena(1u << 18);
  HeapArenaInit(arena.data(), static_cast<uint32_t>(arena.size() * sizeof(uint64_t)));
  const uint32_t freeAtStart = HeapGetStats().freeBytes;

  UrlParsed url{};
  Check(UrlParse(&url, "qortest://host/deck.wmlc", 0) == kOk);
  UrlLoad* load = UrlLoadCreate(&url);
  UrlFreeParsed(&url);
  Check(load != nullptr);
  WmlcBuilder* builder = nullptr;
  Check(WmlcBuilderCreate(&builder, load) == kOk);

  Result r = kOk;
  for (size_t i = 0; i < size && r == kOk && !WmlcDeckDone(builder); ++i)
    r = WmlcDeckBuild(builder, data[i]);
  Check(r == kOk || r == WmlcError::BadDeck || r == WmlcError::NoMemory);
  if (r != kOk) {
    Check(WmlcDeckBuild(builder, 0) == r);
    WmlcAbort(builder);
    Check(WmlcDeckDone(builder));
    Check((load->events & UrlEvent::Complete) != 0);
  }
  for (QueueNode* n = load->output.head; n; n = n->next) {
    const auto* node = reinterpret_cast<const HtmlNode*>(n);
    Check(node->kind == HtmlNodeKind::Card || node->kind == HtmlNodeKind::Text);
    if (node->kind == HtmlNodeKind::Text) Check(node->text != nullptr && node->textLength > 0);
    CheckText(node->text, node->textLength);
    CheckText(node->title, node->titleLength);
  }
  WmlcBuilderFree(builder);
  UrlLoadFree(load);
  Check(HeapGetStats().freeBytes == freeAtStart);
  Check(HeapValidate() == nullptr);
  return 0;
}
