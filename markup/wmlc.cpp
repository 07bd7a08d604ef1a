#include "markup/wmlc.h"

#include "browser/url.h"
#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/mem.h"

namespace {

// Tokens of WML's code page 0.
constexpr uint32_t kTagCard = 0x27;
constexpr uint32_t kAttrTitle = 0x36;

// The internal answers of the callbacks, turned into build errors.
constexpr Result kNoMemory = ResultError(Mod::WtlWmlc, Err::NoMemory);
constexpr Result kStopped = ResultError(Mod::WtlWmlc, Err::BadArg);  // the build has failed

// Attribute value tokens of WML (for every attribute); titles may use them.
struct ValueToken {
  uint8_t token;
  const char* text;
};
constexpr ValueToken kValueTokens[] = {
    {0x85, ".com/"},     {0x86, ".edu/"},        {0x87, ".net/"},
    {0x88, ".org/"},     {0x89, "accept"},       {0x8A, "bottom"},
    {0x8B, "clear"},     {0x8C, "delete"},       {0x8D, "help"},
    {0x8E, "http://"},   {0x8F, "http://www."},  {0x90, "https://"},
    {0x91, "https://www."}, {0x93, "middle"},    {0x94, "nowrap"},
    {0x95, "onenterbackward"}, {0x96, "onenterforward"}, {0x97, "onpick"},
    {0x98, "ontimer"},   {0x99, "options"},      {0x9A, "password"},
    {0x9B, "reset"},     {0x9D, "text"},         {0x9E, "top"},
    {0x9F, "unknown"},   {0xA0, "wrap"},         {0xA1, "www."},
};

// Public ids of WML 1.0 to 1.3 and of WTA-WML 1.2; 1 is "unknown", which
// some gateways write for any deck.
constexpr uint32_t kWmlIds[] = {1, 2, 4, 9, 10, 12};

WmlcBuilder* Self(WbxmlHandler* handler) { return reinterpret_cast<WmlcBuilder*>(handler); }

bool HasPrefix(const char16_t* text, const char* prefix) {
  const uint32_t n = LibcStrLen(prefix);
  return LibcWStrLen(text) >= n && LibcStrWStrNICmp(prefix, text, n) == 0;
}

bool IsWml(const char16_t* publicId, uint32_t number) {
  if (publicId && *publicId)
    return HasPrefix(publicId, "-//WAPFORUM//DTD WML") ||
           HasPrefix(publicId, "-//WAPFORUM//DTD WTA-WML");
  for (uint32_t id : kWmlIds)
    if (id == number) return true;
  return false;
}

// The decoder reads on whatever the answer here; the build stops after it.
Result StartDocument(WbxmlHandler* handler, const char16_t* publicId, uint32_t number) {
  if (!IsWml(publicId, number)) Self(handler)->error = WmlcError::BadDeck;
  return kOk;
}

// The card's nodes go to the load together.
void CommitCard(WmlcBuilder* b) {
  bool any = false;
  while (QueueNode* node = QueuePopFront(&b->pending)) {
    UrlLoadAddOutput(b->load, node);
    any = true;
  }
  if (any) b->load->outputFree = WmlcFreeOutput;
  b->card = nullptr;
  b->cardDepth = 0;
}

Result ElementBegin(WbxmlHandler* handler, uint32_t token) {
  WmlcBuilder* b = Self(handler);
  if (b->error) return kStopped;
  ++b->depth;
  if (token != kTagCard) return kOk;
  if (WmlcNewElement(b) != kOk || !b->element) return kNoMemory;
  HtmlNode* card = b->element;
  b->element = nullptr;
  card->kind = HtmlNodeKind::Card;
  QueueAppend(&b->pending, &card->link);
  b->card = card;
  if (!b->cardDepth) b->cardDepth = b->depth;
  return kOk;
}

Result ElementEnd(WbxmlHandler* handler, uint32_t) {
  WmlcBuilder* b = Self(handler);
  if (b->cardDepth && b->depth == b->cardDepth) CommitCard(b);
  if (b->depth) --b->depth;
  return kOk;
}

// Only the attributes of a card's own element reach its record.
Result Attribute(WbxmlHandler* handler, uint32_t token, const char16_t* value, uint32_t) {
  WmlcBuilder* b = Self(handler);
  if (token != kAttrTitle || !b->card || b->depth != b->cardDepth) return kOk;
  return HtmlCopyAttrValue(&b->card->title, &b->card->titleLength, value) == kOk ? kOk
                                                                                   : kNoMemory;
}

Result Text(WbxmlHandler* handler, const char16_t* text, uint32_t length) {
  WmlcBuilder* b = Self(handler);
  if (b->error) return kStopped;
  if (!b->cardDepth) return kOk;
  bool blank = true;
  for (uint32_t i = 0; i < length && blank; ++i)
    blank = text[i] == u' ' || text[i] == u'\t' || text[i] == u'\r' || text[i] == u'\n';
  if (blank) return kOk;
  HtmlNode* node = HtmlNodeCreate(HtmlNodeKind::Text);
  if (!node) return kNoMemory;
  node->text = static_cast<char16_t*>(
      MemAlloc((length + 1) * sizeof(char16_t), Use::String, Mod::WtlHtml));
  if (!node->text) {
    HtmlNodeFree(node);
    return kNoMemory;
  }
  for (uint32_t i = 0; i < length; ++i) node->text[i] = text[i];
  node->text[length] = 0;
  node->textLength = length;
  QueueAppend(&b->pending, &node->link);
  return kOk;
}

const char* AttributeText(WbxmlHandler*, uint32_t token) {
  if (token & ~0xFFu) return nullptr;  // another code page: none defined for WML
  for (const ValueToken& v : kValueTokens)
    if (v.token == token) return v.text;
  return nullptr;
}

void FreePending(WmlcBuilder* b) {
  HtmlFreeNodeList(&b->pending, HtmlListKind::Nodes);
  HtmlNodeFree(b->element);
  b->element = nullptr;
  b->card = nullptr;
  b->cardDepth = 0;
}

}  // namespace

Result WmlcBuilderCreate(WmlcBuilder** out, UrlLoad* load) {
  *out = nullptr;
  auto* b = static_cast<WmlcBuilder*>(MemAllocZero(sizeof(WmlcBuilder), Use::Context, Mod::WtlWmlc));
  if (!b) return WmlcError::NoMemory;
  b->handler.startDocument = StartDocument;
  b->handler.text = Text;
  b->handler.elementBegin = ElementBegin;
  b->handler.elementEnd = ElementEnd;
  b->handler.attribute = Attribute;
  b->handler.attributeText = AttributeText;
  b->load = load;
  if (WbxmlDecoderCreate(&b->decoder) != kOk || WmlcNewElement(b) != kOk) {
    WmlcBuilderFree(b);
    return WmlcError::NoMemory;
  }
  *out = b;
  return kOk;
}

void WmlcBuilderFree(WmlcBuilder* builder) {
  if (!builder) return;
  WmlcDeckReset(builder);
  MemFree(&builder);
}

Result WmlcNewElement(WmlcBuilder* builder) {
  if (!builder || !builder->load) return kOk;
  if (builder->element) return kOk;
  builder->element = HtmlNodeCreate(0);
  return builder->element ? kOk : WmlcError::NoMemory;
}

Result WmlcDeckBuild(WmlcBuilder* builder, uint8_t byte) {
  if (builder->error) return builder->error;
  if (builder->done) return kOk;
  if (!builder->decoder) return builder->error = WmlcError::BadDeck;
  if (UtilDataChunkAppend(&builder->bytes, &byte, 1, Mod::WtlWmlc) != kOk)
    return builder->error = WmlcError::NoMemory;
  const Result r = WbxmlDecode(builder->decoder, &builder->handler, &builder->bytes);
  if (builder->error) return builder->error;  // not a deck
  if (r == kOk) return kOk;
  if (r == kWbxmlFinished) {
    builder->done = 1;
    return kOk;
  }
  builder->error = r == kNoMemory || r == kWbxmlNoMemory ? WmlcError::NoMemory : WmlcError::BadDeck;
  return builder->error;
}

bool WmlcDeckDone(const WmlcBuilder* builder) { return builder->done != 0; }

void WmlcAbort(WmlcBuilder* builder) {
  FreePending(builder);
  builder->done = 1;
  if (builder->load) builder->load->events |= UrlEvent::Complete;
}

void WmlcDeckReset(WmlcBuilder* builder) {
  FreePending(builder);
  WbxmlDecoderFree(builder->decoder);
  builder->decoder = nullptr;
  UtilDataChunkFreeQueue(&builder->bytes);
  UtilDataChunkFreeQueue(&builder->input);
  builder->depth = 0;
}

void WmlcFreeOutput(UrlLoad*, QueueNode* object) {
  HtmlNodeFree(reinterpret_cast<HtmlNode*>(object));
}
