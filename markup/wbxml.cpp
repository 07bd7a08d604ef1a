// The WBXML decoder is a machine driven one byte at a time, so that any
// token may be cut by the end of the queued data: multi-byte integers, inline
// strings, opaque data and the string table are gathered in the decoder
// until they are whole. Long runs (table, inline strings, opaque data) are
// taken a chunk at a time.
#include "markup/wbxml.h"

#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"

namespace {

// Global tokens.
constexpr uint8_t kSwitchPage = 0x00, kEnd = 0x01, kEntity = 0x02, kStrI = 0x03,
                  kLiteral = 0x04, kPi = 0x43, kLiteralC = 0x44, kStrT = 0x83,
                  kLiteralA = 0x84, kOpaque = 0xC3, kLiteralAC = 0xC4;
constexpr uint8_t kHasAttributes = 0x80, kHasContent = 0x40;
constexpr char16_t kReplacement = 0xFFFD;

enum class State : uint8_t {
  Version,
  PublicId,
  PublicIdIndex,
  Charset,
  TableLength,
  Table,
  Content,     // between tokens of element content (or before the root)
  Attributes,  // between tokens of an attribute list (or a processing instruction)
  TagPage,
  AttributePage,
  Entity,
  StrI,
  StrT,
  OpaqueLength,
  OpaqueData,
  LiteralIndex,
  Done,
};

}  // namespace

struct WbxmlDecoder {
  State state;
  bool inAttributes;  // the mode a string or entity returns to
  bool inPi;          // reading a processing instruction: nothing is reported
  bool attributeOpen;
  bool pendingContent;   // the element whose attributes are read has content
  uint8_t literalForm;   // the LITERAL token being read
  uint8_t tagPage, attributePage;
  uint8_t mbBytes;
  uint32_t mbValue;
  uint32_t version, publicId, publicIdIndex, charset;
  LngDecodeFn decode;

  uint8_t* table;
  uint32_t tableLength, tableFill;

  uint8_t* bytes;  // an inline string being gathered
  uint32_t byteCount, byteCapacity;
  uint32_t opaqueLeft;

  char16_t* wide;  // pending text, or the value of the open attribute
  uint32_t wideCount, wideCapacity;

  uint32_t attributeToken, pendingToken;
  uint32_t* stack;
  uint32_t depth, stackCapacity;
  Result result;  // kWbxmlFinished or the answer that stopped decoding
};

namespace {

// Grows a buffer of `unit`-byte items by doubling to hold `need` items; the
// old block stays when that fails.
bool Grow(void** buffer, uint32_t* capacity, uint32_t need, uint32_t unit) {
  if (need <= *capacity) return true;
  uint32_t size = *capacity ? *capacity : 32;
  while (size < need) {
    if (size > 0x3FFFFFFF / unit) return false;
    size *= 2;
  }
  void* grown = *buffer ? MemRealloc(*buffer, size * unit, 0, Mod::Wbxml)
                        : MemAlloc(size * unit, Use::Data, Mod::Wbxml);
  if (!grown) return false;
  *buffer = grown;
  *capacity = size;
  return true;
}

// Room for `extra` more units and a terminator.
bool ReserveWide(WbxmlDecoder* d, uint32_t extra) {
  if (extra > 0x3FFFFFFF - d->wideCount) return false;
  void* p = d->wide;
  const bool ok = Grow(&p, &d->wideCapacity, d->wideCount + extra + 1, sizeof(char16_t));
  d->wide = static_cast<char16_t*>(p);
  return ok;
}

bool AppendUnit(WbxmlDecoder* d, char16_t unit) {
  if (!ReserveWide(d, 1)) return false;
  d->wide[d->wideCount++] = unit;
  return true;
}

// Decodes bytes with `decode` onto the wide buffer; bytes that end in the
// middle of a character become replacement characters.
Result AppendDecoded(WbxmlDecoder* d, const uint8_t* bytes, uint32_t count, LngDecodeFn decode) {
  if (d->inPi || count == 0) return kOk;
  // No character set decodes to more units than it has bytes.
  if (!ReserveWide(d, count)) return kWbxmlNoMemory;
  uint32_t i = 0;
  while (i < count) {
    uint32_t room = count - i;
    const uint32_t used = decode(bytes + i, count - i, d->wide + d->wideCount, &room);
    d->wideCount += room;
    i += used;
    if (used == 0) {
      d->wide[d->wideCount++] = kReplacement;
      ++i;
    }
  }
  return kOk;
}

// Bytes of the document's character set.
Result AppendBytes(WbxmlDecoder* d, const uint8_t* bytes, uint32_t count) {
  return AppendDecoded(d, bytes, count, d->decode);
}

Result AppendUtf8(WbxmlDecoder* d, const char* text) {
  if (!text) return kOk;
  return AppendDecoded(d, reinterpret_cast<const uint8_t*>(text), LibcStrLen(text), LngUtf8Decode);
}

Result AppendCodePoint(WbxmlDecoder* d, uint32_t point) {
  if (d->inPi) return kOk;
  if (point == 0 || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) point = kReplacement;
  bool ok;
  if (point >= 0x10000) {
    ok = AppendUnit(d, static_cast<char16_t>(0xD800 | ((point - 0x10000) >> 10))) &&
         AppendUnit(d, static_cast<char16_t>(0xDC00 | (point & 0x3FF)));
  } else {
    ok = AppendUnit(d, static_cast<char16_t>(point));
  }
  return ok ? kOk : kWbxmlNoMemory;
}

// The string at a string-table index runs to its NUL or the table's end.
Result AppendTableString(WbxmlDecoder* d, uint32_t index) {
  if (index >= d->tableLength) return kWbxmlBadIndex;
  const uint8_t* start = d->table + index;
  uint32_t length = 0;
  while (index + length < d->tableLength && start[length]) ++length;
  return AppendBytes(d, start, length);
}

// Adds a byte of a multi-byte integer: 1 when it is whole (in mbValue), 0
// when more bytes follow, -1 when it does not fit 32 bits.
int AddMbByte(WbxmlDecoder* d, uint8_t byte) {
  if (d->mbValue > (0xFFFFFFFFu >> 7)) return -1;
  d->mbValue = d->mbValue << 7 | (byte & 0x7F);
  if (byte & 0x80) return ++d->mbBytes >= 5 ? -1 : 0;
  d->mbBytes = 0;
  return 1;
}

uint32_t TakeMb(WbxmlDecoder* d) {
  const uint32_t value = d->mbValue;
  d->mbValue = 0;
  return value;
}

void Terminate(WbxmlDecoder* d) {
  if (d->wide) d->wide[d->wideCount] = 0;
}

Result FlushText(WbxmlDecoder* d, WbxmlHandler* h) {
  if (d->wideCount == 0) return kOk;
  Terminate(d);
  const uint32_t count = d->wideCount;
  d->wideCount = 0;
  return h->text ? h->text(h, d->wide, count) : kOk;
}

Result EmitAttribute(WbxmlDecoder* d, WbxmlHandler* h) {
  if (!d->attributeOpen) return kOk;
  d->attributeOpen = false;
  // An instruction gathers nothing: the buffer may hold the text around it.
  if (d->inPi) return kOk;
  const uint32_t count = d->wideCount;
  d->wideCount = 0;
  if (!h->attribute) return kOk;
  if (!ReserveWide(d, 0)) return kWbxmlNoMemory;
  d->wide[count] = 0;
  return h->attribute(h, d->attributeToken, d->wide, count);
}

void Finish(WbxmlDecoder* d) {
  d->state = State::Done;
  d->result = kWbxmlFinished;
}

// The attribute list is over (or there was none).
Result EndStartTag(WbxmlDecoder* d, WbxmlHandler* h) {
  d->inAttributes = false;
  d->state = State::Content;
  if (h->endAttributes) {
    if (Result r = h->endAttributes(h)) return r;
  }
  if (d->pendingContent) {
    if (d->depth >= kWbxmlMaxDepth) return kWbxmlMalformed;
    void* p = d->stack;
    const bool ok = Grow(&p, &d->stackCapacity, d->depth + 1, sizeof(uint32_t));
    d->stack = static_cast<uint32_t*>(p);
    if (!ok) return kWbxmlNoMemory;
    d->stack[d->depth++] = d->pendingToken;
    return kOk;
  }
  if (h->elementEnd) {
    if (Result r = h->elementEnd(h, d->pendingToken)) return r;
  }
  if (d->depth == 0) Finish(d);
  return kOk;
}

Result BeginElement(WbxmlDecoder* d, WbxmlHandler* h, uint32_t token, uint8_t flags) {
  if (Result r = FlushText(d, h)) return r;
  d->pendingToken = token;
  d->pendingContent = (flags & kHasContent) != 0;
  if (h->elementBegin) {
    if (Result r = h->elementBegin(h, token)) return r;
  }
  if (flags & kHasAttributes) {
    d->inAttributes = true;
    d->attributeOpen = false;
    d->state = State::Attributes;
    return kOk;
  }
  return EndStartTag(d, h);
}

Result EndElement(WbxmlDecoder* d, WbxmlHandler* h) {
  if (d->depth == 0) return kWbxmlMalformed;
  if (Result r = FlushText(d, h)) return r;
  const uint32_t token = d->stack[--d->depth];
  if (h->elementEnd) {
    if (Result r = h->elementEnd(h, token)) return r;
  }
  if (d->depth == 0) Finish(d);
  return kOk;
}

// The literal name at the string-table index, as the handler's token. An
// instruction's name is only checked.
Result ReadLiteralName(WbxmlDecoder* d, WbxmlHandler* h, uint32_t index, uint32_t* token) {
  *token = kWbxmlLiteralToken;
  if (d->inPi) return index < d->tableLength ? kOk : kWbxmlBadIndex;
  if (Result r = AppendTableString(d, index)) return r;
  if (!ReserveWide(d, 0)) return kWbxmlNoMemory;
  d->wide[d->wideCount] = 0;
  if (h->literal) *token = h->literal(h, d->inAttributes, d->wide, d->wideCount);
  d->wideCount = 0;
  return kOk;
}

// Tokens that start a piece of text or of an attribute value.
bool StartsValue(WbxmlDecoder* d, uint8_t b) {
  switch (b) {
    case kEntity:
      d->state = State::Entity;
      return true;
    case kStrI:
      d->byteCount = 0;
      d->state = State::StrI;
      return true;
    case kStrT:
      d->state = State::StrT;
      return true;
    case kOpaque:
      d->state = State::OpaqueLength;
      return true;
    default:
      return false;
  }
}

bool IsGlobal(uint8_t b) { return (b & 0x3F) <= 4; }

Result ContentToken(WbxmlDecoder* d, WbxmlHandler* h, uint8_t b) {
  if (b == kSwitchPage) {
    d->state = State::TagPage;
    return kOk;
  }
  if (b == kEnd) return EndElement(d, h);
  if (b == kEntity || b == kStrI || b == kStrT || b == kOpaque) {
    if (d->depth == 0) return kWbxmlMalformed;  // text outside the root element
    StartsValue(d, b);
    return kOk;
  }
  if (b == kPi) {
    d->inPi = true;
    d->inAttributes = true;
    d->attributeOpen = false;
    d->state = State::Attributes;
    return kOk;
  }
  if (b == kLiteral || b == kLiteralC || b == kLiteralA || b == kLiteralAC) {
    d->literalForm = b;
    d->state = State::LiteralIndex;
    return kOk;
  }
  if (IsGlobal(b)) return kWbxmlUnknownToken;  // extensions
  return BeginElement(d, h, static_cast<uint32_t>(d->tagPage) << 8 | (b & 0x3F), b & 0xC0);
}

Result AttributeToken(WbxmlDecoder* d, WbxmlHandler* h, uint8_t b) {
  if (b == kSwitchPage) {
    d->state = State::AttributePage;
    return kOk;
  }
  if (b == kEnd) {
    if (Result r = EmitAttribute(d, h)) return r;
    if (d->inPi) {
      d->inPi = false;
      d->inAttributes = false;
      d->state = State::Content;
      return kOk;
    }
    return EndStartTag(d, h);
  }
  if (b == kEntity || b == kStrI || b == kStrT || b == kOpaque) {
    if (!d->attributeOpen) return kWbxmlMalformed;
    StartsValue(d, b);
    return kOk;
  }
  if (b == kLiteral) {
    if (Result r = EmitAttribute(d, h)) return r;
    d->literalForm = b;
    d->state = State::LiteralIndex;
    return kOk;
  }
  if (IsGlobal(b)) return kWbxmlUnknownToken;
  const uint32_t token = static_cast<uint32_t>(d->attributePage) << 8 | b;
  if (b < 0x80) {
    if (Result r = EmitAttribute(d, h)) return r;
    d->attributeOpen = true;
    d->attributeToken = token;
  } else if (!d->attributeOpen) {
    return kWbxmlMalformed;  // a value token before any attribute
  }
  if (d->inPi || !h->attributeText) return kOk;
  return AppendUtf8(d, h->attributeText(h, token));
}

Result StartBody(WbxmlDecoder* d, WbxmlHandler* h) {
  const uint32_t mib = d->charset ? d->charset : Mib::Utf8;
  LngGetDecoder(&d->decode, mib);
  if (!d->decode) d->decode = LngUtf8Decode;  // the byte-pair sets cannot end a string
  d->state = State::Content;
  if (d->publicId != 0) return h->startDocument ? h->startDocument(h, nullptr, d->publicId) : kOk;
  if (Result r = AppendTableString(d, d->publicIdIndex)) return r;
  if (!ReserveWide(d, 0)) return kWbxmlNoMemory;
  d->wide[d->wideCount] = 0;
  const Result r = h->startDocument ? h->startDocument(h, d->wide, 0) : kOk;
  d->wideCount = 0;
  return r;
}

Result AfterPublicId(WbxmlDecoder* d) {
  // WBXML 1.0 has no character-set field.
  d->state = d->version == 0 ? State::TableLength : State::Charset;
  return kOk;
}

Result Step(WbxmlDecoder* d, WbxmlHandler* h, uint8_t b) {
  switch (d->state) {
    case State::Version:
      if (b > 0x0F) return kWbxmlBadVersion;
      d->version = b;
      d->state = State::PublicId;
      return kOk;
    case State::PublicId:
    case State::PublicIdIndex:
    case State::Charset:
    case State::TableLength:
    case State::Entity:
    case State::StrT:
    case State::OpaqueLength:
    case State::LiteralIndex: {
      const int whole = AddMbByte(d, b);
      if (whole < 0) return kWbxmlBadNumber;
      if (whole == 0) return kOk;
      const uint32_t value = TakeMb(d);
      const State back = d->inAttributes ? State::Attributes : State::Content;
      switch (d->state) {
        case State::PublicId:
          d->publicId = value;
          if (value == 0) {
            d->state = State::PublicIdIndex;
            return kOk;
          }
          return AfterPublicId(d);
        case State::PublicIdIndex:
          d->publicIdIndex = value;
          return AfterPublicId(d);
        case State::Charset:
          d->charset = value;
          d->state = State::TableLength;
          return kOk;
        case State::TableLength:
          if (value == 0) return StartBody(d, h);
          d->table = static_cast<uint8_t*>(MemAlloc(value, Use::Data, Mod::Wbxml));
          if (!d->table) return kWbxmlNoMemory;
          d->tableLength = value;
          d->state = State::Table;
          return kOk;
        case State::Entity:
          d->state = back;
          return AppendCodePoint(d, value);
        case State::StrT:
          d->state = back;
          return AppendTableString(d, value);
        case State::OpaqueLength:
          d->opaqueLeft = value;
          d->state = value ? State::OpaqueData : back;
          return kOk;
        default: {  // LiteralIndex
          uint32_t token = 0;
          if (!d->inAttributes) {
            if (Result r = FlushText(d, h)) return r;
          }
          if (Result r = ReadLiteralName(d, h, value, &token)) return r;
          d->state = back;
          if (d->inAttributes) {
            d->attributeOpen = true;
            d->attributeToken = token;
            return kOk;
          }
          // LITERAL, LITERAL_C, LITERAL_A, LITERAL_AC carry the tag bits too.
          return BeginElement(d, h, token, d->literalForm & 0xC0);
        }
      }
    }
    case State::Table:
      d->table[d->tableFill++] = b;
      return d->tableFill == d->tableLength ? StartBody(d, h) : kOk;
    case State::Content:
      return ContentToken(d, h, b);
    case State::Attributes:
      return AttributeToken(d, h, b);
    case State::TagPage:
      d->tagPage = b;
      d->state = State::Content;
      return kOk;
    case State::AttributePage:
      d->attributePage = b;
      d->state = State::Attributes;
      return kOk;
    case State::StrI: {
      if (b == 0) {
        d->state = d->inAttributes ? State::Attributes : State::Content;
        const uint32_t count = d->byteCount;
        d->byteCount = 0;
        return AppendBytes(d, d->bytes, count);
      }
      void* p = d->bytes;
      const bool ok = Grow(&p, &d->byteCapacity, d->byteCount + 1, 1);
      d->bytes = static_cast<uint8_t*>(p);
      if (!ok) return kWbxmlNoMemory;
      d->bytes[d->byteCount++] = b;
      return kOk;
    }
    case State::OpaqueData:
      // Opaque data reads as one unit per byte.
      if (!d->inPi && !AppendUnit(d, b)) return kWbxmlNoMemory;
      if (--d->opaqueLeft == 0) d->state = d->inAttributes ? State::Attributes : State::Content;
      return kOk;
    case State::Done:
      return kOk;
  }
  return kOk;
}

// Takes the longest run the state can swallow whole from the chunk, short
// of the byte that ends it (the byte path moves on); the bytes taken.
uint32_t TakeRun(WbxmlDecoder* d, const uint8_t* data, uint32_t available, Result* result) {
  *result = kOk;
  if (d->state == State::Table) {
    uint32_t n = d->tableLength - d->tableFill;
    if (n > available) n = available;
    if (n < 2) return 0;  // the byte path finishes the table
    n -= 1;
    LibcMemCopy(d->table + d->tableFill, data, n);
    d->tableFill += n;
    return n;
  }
  if (d->state == State::OpaqueData) {
    uint32_t n = d->opaqueLeft < available ? d->opaqueLeft : available;
    if (n < 2) return 0;
    n -= 1;
    if (!d->inPi) {
      if (!ReserveWide(d, n)) {
        *result = kWbxmlNoMemory;
        return 0;
      }
      for (uint32_t i = 0; i < n; ++i) d->wide[d->wideCount++] = data[i];
    }
    d->opaqueLeft -= n;
    return n;
  }
  if (d->state == State::StrI) {
    uint32_t n = 0;
    while (n < available && data[n]) ++n;
    if (n < 2) return 0;
    void* p = d->bytes;
    const bool ok = Grow(&p, &d->byteCapacity, d->byteCount + n, 1);
    d->bytes = static_cast<uint8_t*>(p);
    if (!ok) {
      *result = kWbxmlNoMemory;
      return 0;
    }
    LibcMemCopy(d->bytes + d->byteCount, data, n);
    d->byteCount += n;
    return n;
  }
  return 0;
}

}  // namespace

Result WbxmlDecoderCreate(WbxmlDecoder** out) {
  if (!out) return kWbxmlBadArg;
  *out = static_cast<WbxmlDecoder*>(MemAllocZero(sizeof(WbxmlDecoder), Use::Context, Mod::Wbxml));
  if (!*out) return kWbxmlNoMemory;
  (*out)->state = State::Version;
  return kOk;
}

Result WbxmlDecode(WbxmlDecoder* d, WbxmlHandler* h, Queue* queue) {
  if (!d || !h || !queue) return kWbxmlBadArg;
  while (d->result == kOk && queue->head) {
    UtilDataChunk* chunk = UtilDataChunkHead(queue);
    const uint8_t* data = UtilDataChunkData(chunk);
    while (d->result == kOk && chunk->remaining) {
      Result r = kOk;
      uint32_t n = TakeRun(d, data + chunk->offset, chunk->remaining, &r);
      if (n == 0 && r == kOk) {
        r = Step(d, h, data[chunk->offset]);
        n = 1;
      }
      chunk->offset += n;
      chunk->remaining -= n;
      if (r) d->result = r;
    }
    if (chunk->remaining == 0) {
      QueuePopFront(queue);
      MemFree(&chunk);
    }
  }
  return d->result;
}

Result WbxmlDecodeEnd(WbxmlDecoder* d) {
  if (!d) return kWbxmlBadArg;
  return d->result ? d->result : kWbxmlTruncated;
}

void WbxmlDecoderFree(WbxmlDecoder* d) {
  if (!d) return;
  MemFree(&d->table);
  MemFree(&d->bytes);
  MemFree(&d->wide);
  MemFree(&d->stack);
  MemFree(&d);
}
