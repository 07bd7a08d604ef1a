// Document nodes (module 28): the records the document parsers leave on a
// load's output list, as the content summaries and the handlers of special
// elements read them; the list operations and the attribute copy the
// element handlers share; the adver element's hand-over of its image
// object; and the page sound an HTML sound object leaves for the sound sink.
#pragma once
#include <cstdint>

#include "kernel/list.h"
#include "kernel/modules.h"

namespace HtmlNodeKind {
constexpr uint32_t Text = 1;    // a text; a summary takes the first as the title
constexpr uint32_t Card = 12;   // a card of a deck, with its title
constexpr uint32_t Adver = 34;  // an adver element: its image object
}  // namespace HtmlNodeKind

// What the entries of a list are, for HtmlFreeNodeList.
namespace HtmlListKind {
constexpr uint32_t DataBlocks = 0;  // queued data blocks: one allocation each
constexpr uint32_t Nodes = 1;       // HtmlNode records with their texts
}  // namespace HtmlListKind

// Image-object sources of an adver element.
namespace HtmlImageSource {
constexpr uint8_t None = 0, Str = 1, Nbmp = 2, Sis = 3;
}

// The adver element's payload: what the image-object decoder reads.
struct HtmlImageObject {
  uint8_t sourceType;  // HtmlImageSource
  char16_t* text;      // the inline value; the decoder frees it (and nulls it)
  uint8_t* workBuffer;  // the document load's shared work buffer
  uint32_t workBufferSize;
};

struct HtmlNode {
  QueueNode link;  // in a node list or the load's output
  uint32_t kind;   // HtmlNodeKind
  // Kind 1: the text; kind 12: the card's title. Either may be null.
  char16_t* text;
  uint32_t textLength;
  char16_t* title;
  uint32_t titleLength;
  // Kind 34.
  HtmlImageObject object;
  uint8_t typeKnown;    // the type attribute was read
  uint8_t inlineKnown;  // the inline attribute was read
  uint8_t handedOver;   // the decoder was called, or the status told there is none
};

constexpr Result kHtmlNoMemory = ResultError(Mod::WtlHtml, Err::NoMemory);

// A new zeroed node of the kind (module 28), or null without memory.
HtmlNode* HtmlNodeCreate(uint32_t kind);
// Frees a node with its texts; null does nothing.
void HtmlNodeFree(HtmlNode* node);
// Pops and frees every entry of the list, with each entry's own fields by
// the list kind.
void HtmlFreeNodeList(Queue* list, uint32_t kind);

// Copies the attribute's value, trimmed of white space, into a new string
// (module 28) at *out with its length; the first occurrence wins, so an
// *out already set stays. kHtmlNoMemory.
Result HtmlCopyAttrValue(char16_t** out, uint32_t* length, const char16_t* value);

// --- The adver element -----------------------------------------------------
// The status indicator's answer for an adver element without an image.

// Decodes the image object and posts the image to the status indicator;
// installed by the image handlers, which come above the document model.
using HtmlImageObjectDecodeFn = Result (*)(HtmlImageObject* record);
// Null removes it; the element's record then keeps its text.
void HtmlSetImageObjectDecode(HtmlImageObjectDecodeFn decode);

// A new adver node (kind 34) that will decode with the document load's work
// buffer; null without memory.
HtmlNode* HtmlAdverCreate(uint8_t* workBuffer, uint32_t workBufferSize);
// One attribute of the element, name in ASCII. "type" names the source
// ("str", "nbmp", "sis", any case; any other value tells the status
// indicator there is no image); "inline" is the text. Once both are known
// the image-object decoder runs, once; its answer is returned. Other names
// and later repeats are ignored.
Result HtmlAdverAttribute(HtmlNode* node, const char* name, const char16_t* value);

// --- The pending page sound --------------------------------------------------
// One engine-wide sound that a page's sound object carries in its markup;
// the sound sink's close plays it in place of the body it collected.
struct HtmlPageSound {
  uint8_t* data;  // module 28
  uint32_t length;
  uint32_t soundCode;
};

// Keeps the sound, taking the data; a sound kept before is freed.
void HtmlSetPendingPageSound(uint8_t* data, uint32_t length, uint32_t soundCode);
// Hands the kept sound to the caller, who frees its data; false when none.
bool HtmlTakePendingPageSound(HtmlPageSound* out);
bool HtmlHasPendingPageSound();
// Frees the kept sound, if any.
void HtmlFreePendingPageSound();
