// The compiled-WML deck builder (module 38): turns a WMLC body, handed over
// one byte at a time, into document nodes on the load's output list. A card
// becomes a card node with its title, each run of text inside a card a text
// node; a card's nodes wait in the builder until the card ends and then go
// to the load together. Markup outside cards and elements this builder does
// not know are read and left out.
#pragma once
#include <cstdint>

#include "kernel/list.h"
#include "kernel/modules.h"
#include "markup/html_node.h"
#include "markup/wbxml.h"

struct UrlLoad;

// Build errors: the content row adds them to its result base.
namespace WmlcError {
constexpr Result NoMemory = 1;
constexpr Result BadDeck = 2;  // not WBXML, or not a WML deck
}  // namespace WmlcError

struct WmlcBuilder {
  WbxmlHandler handler;  // first: the decoder's callbacks get its address
  UrlLoad* load;         // null until set up
  WbxmlDecoder* decoder;
  Queue input;    // data blocks the content row moves here to be fed from
  Queue bytes;    // what the decoder has not read yet
  HtmlNode* element;  // the record of the element being read
  HtmlNode* card;     // the card open now, in pending
  Queue pending;      // nodes of the open card
  uint32_t depth;     // elements open
  uint32_t cardDepth; // depth of the open card's element, 0 when none
  uint8_t done;       // the deck has ended
  Result error;       // the build error, 0 while none
};

// A new builder set up for the load, with its first element (module 38);
// WmlcError::NoMemory (null stored).
Result WmlcBuilderCreate(WmlcBuilder** out, UrlLoad* load);
// Ends the build (WmlcDeckReset) and frees the builder; null does nothing.
void WmlcBuilderFree(WmlcBuilder* builder);
// Creates the builder's current element when the builder is set up and has
// none; WmlcError::NoMemory.
Result WmlcNewElement(WmlcBuilder* builder);
// Advances the build by one byte: 0, or a build error (every later byte then
// answers the same). Bytes after the end of the deck are ignored.
Result WmlcDeckBuild(WmlcBuilder* builder, uint8_t byte);
// True once the deck has ended.
bool WmlcDeckDone(const WmlcBuilder* builder);
// Ends a failed build: pending nodes freed, the load marked complete.
void WmlcAbort(WmlcBuilder* builder);
// Ends a build: its pending nodes, current element, decoder and queues are
// freed. The nodes already on the load stay there.
void WmlcDeckReset(WmlcBuilder* builder);

// Frees one node of a load's output list (the loads' outputFree).
void WmlcFreeOutput(UrlLoad* load, QueueNode* object);
