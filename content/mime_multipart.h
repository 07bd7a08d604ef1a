// A streaming parser of multipart/related documents: it reports each part
// that has a Content-Location or a Content-ID through the caller's callbacks,
// and hands the part's body lines on undecoded. Bytes may arrive cut
// anywhere; lines end at LF (CR LF or LF alone).
#pragma once
#include <cstdint>

#include "kernel/modules.h"

namespace MimeMod {
constexpr uint32_t Multipart = 73;
}

// MimeMultipartParse's answers.
namespace MimeParse {
constexpr uint32_t Ok = 0, NoMemory = 1, Broken = 2;
}

// The part header callback's `which`.
namespace MimeHeader {
constexpr uint32_t ContentType = 1, TransferEncoding = 2, ContentId = 3, ContentLocation = 4;
}

// Non-zero to accept the part.
using MimePartBeginFn = int (*)(void* context, const char* location, const char* contentId,
                                int isRoot);
// Non-zero to go on with the part.
using MimePartHeaderFn = int (*)(void* context, uint32_t which, const char* value);
// Non-zero to go on; called with no bytes and length 0 at the end of a part.
using MimePartDataFn = int (*)(void* context, const uint8_t* bytes, uint32_t length);

struct MimeString {
  char* text;  // NUL-terminated, engine heap
  uint32_t length;
};

struct MimeMultipartParser {
  uint32_t state;  // MimeState below
  MimeString held;  // bytes received after the last line end
  MimeString boundary;
  MimeString start;
  MimeString type;
  MimeString base;
  MimeString location;
  MimeString contentId;
  MimeString contentType;
  MimeString encoding;
  MimeString header;  // the header line being unfolded
  // The current part's transfer encoding is none the parser knows: its body
  // is passed on undecoded, and its reader should keep it so.
  uint32_t unknownEncoding;
  void* context;
  MimePartBeginFn begin;
  MimePartHeaderFn onHeader;
  MimePartDataFn onData;
};

namespace MimeState {
constexpr uint32_t DocumentHeaders = 0, PartHeaders = 1, PartBody = 2, Skipping = 3, Broken = 4;
}

// 0, or 1 when out of memory.
uint32_t MimeMultipartCreate(MimeMultipartParser** out, void* context, MimePartBeginFn begin,
                             MimePartHeaderFn onHeader, MimePartDataFn onData);
// 0, 1 out of memory, 2 parser broken.
uint32_t MimeMultipartParse(MimeMultipartParser* parser, const uint8_t* bytes, uint32_t length);
// The document has ended: a part still open (its closing boundary missing)
// gets its last partial line and its end-of-part call.
uint32_t MimeMultipartEnd(MimeMultipartParser* parser);
// Frees every held string and the parser, and nulls the pointer.
void MimeMultipartFree(MimeMultipartParser** parser);

// RFC 2047 encoded-word decoding ("=?charset?B|Q?text?="), otherwise a copy;
// null without memory.
char* MimeDecodeWord(const char* value, uint32_t length, uint32_t* outLength);
