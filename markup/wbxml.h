// The incremental WBXML decoder (module Wbxml, 53): reads a compiled XML
// document (WBXML 1.0 to 1.3) from a load's queue of data chunks as it
// arrives and reports it through a record of callbacks. Bytes are consumed
// as they are decoded; a token cut off by the end of the queued data is kept
// in the decoder and finished when more data comes.
//
// What the handler sees:
// - start of document once the header and string table are read: the public
//   id as text (from the string table, number 0) or as its number (1 for an
//   unknown id, 5 for SI 1.0, ...); its answer is not looked at, so a handler
//   that knows no such document type simply ignores what follows;
// - element begin and end with the token page << 8 | tag (without the
//   attribute and content bits); an element without content ends at once;
// - for every element, its attributes, then end of attributes, even when it
//   has none;
// - an attribute's value with the start token's prefix and the texts of its
//   value tokens, both from the handler's attribute-text lookup, joined with
//   its strings, entities and opaque bytes (one byte per unit);
// - text as one call for each run of adjacent strings, entities and opaque
//   data, in UTF-16 decoded from the document's character set.
// A literal name (LITERAL forms) is reported as the token the handler's
// literal slot gives for it, or as kWbxmlLiteralToken without one.
// Processing instructions are read and dropped. Extension tokens are
// answered with kWbxmlUnknownToken: none of the document types read here
// defines them.
#pragma once
#include <cstdint>

#include "kernel/list.h"
#include "kernel/modules.h"

struct WbxmlHandler;

// A callback's non-zero answer stops the decoder, which returns it.
using WbxmlStartDocumentFn = Result (*)(WbxmlHandler* handler, const char16_t* publicId,
                                        uint32_t publicIdNumber);
using WbxmlTextFn = Result (*)(WbxmlHandler* handler, const char16_t* text, uint32_t length);
using WbxmlElementFn = Result (*)(WbxmlHandler* handler, uint32_t token);
using WbxmlAttributeFn = Result (*)(WbxmlHandler* handler, uint32_t token, const char16_t* value,
                                    uint32_t length);
using WbxmlEndAttributesFn = Result (*)(WbxmlHandler* handler);
// The prefix of an attribute start token (token below 0x80 in its page) or
// the text of an attribute value token, as UTF-8; null for none.
using WbxmlAttributeTextFn = const char* (*)(WbxmlHandler* handler, uint32_t token);
// The token to report for a literal element (attribute 0) or attribute name.
using WbxmlLiteralFn = uint32_t (*)(WbxmlHandler* handler, int attribute, const char16_t* name,
                                    uint32_t length);

// Any slot may be null. Callbacks get the record itself: a client puts it
// first in its own state. Texts handed over are NUL-terminated and belong to
// the decoder (valid during the call).
struct WbxmlHandler {
  WbxmlStartDocumentFn startDocument;
  void* reserved;
  WbxmlTextFn text;
  WbxmlElementFn elementBegin;
  WbxmlElementFn elementEnd;
  WbxmlAttributeFn attribute;
  WbxmlEndAttributesFn endAttributes;
  WbxmlAttributeTextFn attributeText;
  WbxmlLiteralFn literal;
};

constexpr uint32_t kWbxmlLiteralToken = 0xFF3F;

// The document has ended (the low 16 bits of the result are 4).
constexpr Result kWbxmlFinished = 4;
constexpr Result kWbxmlNoMemory = ResultError(Mod::Wbxml, 1);
constexpr Result kWbxmlBadArg = ResultError(Mod::Wbxml, 2);
constexpr Result kWbxmlTruncated = ResultError(Mod::Wbxml, 3);      // data ended inside
constexpr Result kWbxmlBadVersion = ResultError(Mod::Wbxml, 5);     // not WBXML 1.x
constexpr Result kWbxmlBadNumber = ResultError(Mod::Wbxml, 6);      // mb_u_int32 over 32 bits
constexpr Result kWbxmlBadIndex = ResultError(Mod::Wbxml, 7);       // outside the string table
constexpr Result kWbxmlUnknownToken = ResultError(Mod::Wbxml, 8);   // global token not read here
constexpr Result kWbxmlMalformed = ResultError(Mod::Wbxml, 9);      // token out of place

// Elements open at once, at most.
constexpr uint32_t kWbxmlMaxDepth = 1024;

struct WbxmlDecoder;

// A new decoder waiting for the header; kWbxmlNoMemory (null stored).
Result WbxmlDecoderCreate(WbxmlDecoder** out);
// Decodes what the queue holds, freeing the chunks it uses up: 0 when it
// needs more data, kWbxmlFinished once the root element has ended (the bytes
// after it stay queued), an error code, or a callback's non-zero answer.
// After a non-zero answer every later call answers the same.
Result WbxmlDecode(WbxmlDecoder* decoder, WbxmlHandler* handler, Queue* queue);
// The data has ended: kWbxmlFinished when the document was whole, the error
// that stopped it, or kWbxmlTruncated.
Result WbxmlDecodeEnd(WbxmlDecoder* decoder);
// Frees the decoder with its string table and buffers; null does nothing.
void WbxmlDecoderFree(WbxmlDecoder* decoder);
