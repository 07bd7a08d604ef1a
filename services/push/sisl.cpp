// The SI and SL content rows: a WBXML handler whose document types, element
// and attribute tables say which values the push record keeps.
#include "services/push/sisl.h"

#include <cstddef>
#include <initializer_list>

#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/lng.h"
#include "kernel/mem.h"
#include "markup/wbxml.h"

namespace {

constexpr uint32_t kModule = Mod::WtlNotify;

struct SiChunk {
  SiChunk* next;
  char16_t* text;
  uint32_t length;
};

struct SiContext {
  char16_t* href;
  char16_t* siId;
  char16_t* created;
  char16_t* expires;
  SiChunk* chunks;
  uint32_t action;
  char16_t* spare;
};

struct SlContext {
  char16_t* href;
  uint32_t action;
};

struct SiSlState;
using EndFn = void (*)(SiSlState* state);
// Takes the value (owned from then on).
using ValueFn = void (*)(SiSlState* state, uint32_t code, char16_t* value);

struct ElementRow {
  uint32_t token;
  const char* name;
  EndFn end;
};

enum class ValueKind : uint8_t { Text, Url, Date };

struct AttributeRow {
  uint32_t token;
  const char* name;
  const char* text;  // the prefix, or a value token's text
  ValueKind kind;
  ValueFn handler;
  uint32_t code;  // the action, or the context slot
};

struct DocType {
  uint32_t number;
  const char* publicId;
  const ElementRow* elements;
  const AttributeRow* attributes;
  bool gathersText;
  uint32_t contextBytes;
  void (*init)(void* context);
  void (*free)(void* context);
};

struct SiSlState {
  WbxmlHandler handler;  // first: the decoder hands it back
  WbxmlDecoder* decoder;
  UrlLoad* load;
  const DocType* doc;
  void* context;
  uint32_t* stack;
  uint32_t depth;
  uint32_t capacity;
  uint32_t recordLost;  // the record could not be made for want of memory
};

SiSlState* StateOf(WbxmlHandler* handler) { return reinterpret_cast<SiSlState*>(handler); }
SiContext* Si(SiSlState* state) { return static_cast<SiContext*>(state->context); }
SlContext* Sl(SiSlState* state) { return static_cast<SlContext*>(state->context); }

// --- Values ------------------------------------------------------------------

void SetAction(SiSlState* state, uint32_t code, char16_t* value) {
  MemFree(&value);
  if (state->doc->number == 5)
    Si(state)->action = code;
  else
    Sl(state)->action = code;
}

void Discard(SiSlState*, uint32_t, char16_t* value) { MemFree(&value); }

// A leading "http" (any case) becomes "wsp": pushed links are opened over
// the WAP stack.
void RewriteHttp(char16_t* value) {
  if (!value || LibcWStrLen(value) < 4 || LibcStrWStrNICmp("http", value, 4) != 0) return;
  value[0] = 'w';
  value[1] = 's';
  value[2] = 'p';
  LibcMemMove(value + 3, value + 4, (LibcWStrLen(value + 4) + 1) * sizeof(char16_t));
}

// The first value of a slot wins.
void SetSlot(char16_t** slot, char16_t* value) {
  if (*slot)
    MemFree(&value);
  else
    *slot = value;
}

namespace Slot {
constexpr uint32_t Href = 0, SiId = 1, Created = 2, Expires = 3;
}

void SetSiField(SiSlState* state, uint32_t slot, char16_t* value) {
  SiContext* si = Si(state);
  char16_t** slots[] = {&si->href, &si->siId, &si->created, &si->expires};
  if (slot == Slot::Href) RewriteHttp(value);
  SetSlot(slots[slot], value);
}

void SetSlHref(SiSlState* state, uint32_t, char16_t* value) {
  RewriteHttp(value);
  SetSlot(&Sl(state)->href, value);
}

char16_t* WideCopy(const char16_t* value, uint32_t length) {
  auto* copy = static_cast<char16_t*>(
      MemAlloc((length + 1) * sizeof(char16_t), Use::String, kModule));
  if (!copy) return nullptr;
  LibcMemCopy(copy, value, length * sizeof(char16_t));
  copy[length] = 0;
  return copy;
}

// The URL with an "http" scheme turned "wsp" ("https" "wsps"), or null when
// it does not parse.
char16_t* UrlValue(const char16_t* value, uint32_t length) {
  char16_t* wide = WideCopy(value, length);
  if (!wide) return nullptr;
  LngNarrowInPlace(wide);
  char* narrow = reinterpret_cast<char*>(wide);
  UrlParsed parsed;
  char* text = nullptr;
  if (UrlParse(&parsed, narrow, 0) == kOk) {
    if (parsed.scheme && LibcStrLen(parsed.scheme) >= 4 &&
        LibcStrNICmp(parsed.scheme, "http", 4) == 0) {
      char* scheme = static_cast<char*>(
          MemAlloc(LibcStrLen(parsed.scheme), Use::String, kModule));
      if (scheme) {
        LibcStrCopy(scheme, "wsp");
        LibcStrCat(scheme, parsed.scheme + 4);
        MemFree(&parsed.scheme);
        parsed.scheme = scheme;
      }
    }
    UrlToString(&text, &parsed, 0);
    UrlFreeParsed(&parsed);
  }
  MemFree(&wide);
  if (!text) return nullptr;
  const uint32_t n = LibcStrLen(text);
  auto* out = static_cast<char16_t*>(MemAlloc((n + 1) * sizeof(char16_t), Use::String, kModule));
  if (out)
    for (uint32_t i = 0; i <= n; ++i) out[i] = static_cast<uint8_t>(text[i]);
  MemFree(&text);
  return out;
}

// --- Tables --------------------------------------------------------------------

void BuildSi(SiSlState* state);
void DropInfo(SiSlState* state);
void BuildSl(SiSlState* state);

constexpr ElementRow kSiElements[] = {
    {0x05, "si", nullptr},         {0x06, "indication", BuildSi},
    {0x07, "info", DropInfo},      {0x08, "item", nullptr},
    {0, "UNKNOWN", nullptr},
};
constexpr ElementRow kSlElements[] = {{0x05, "sl", BuildSl}, {0, "UNKNOWN", nullptr}};

constexpr AttributeRow kSiAttributes[] = {
    {0x05, "action=", "signal-none", ValueKind::Text, SetAction, PushAction::SignalNone},
    {0x06, "action=", "signal-low", ValueKind::Text, SetAction, PushAction::SignalLow},
    {0x07, "action=", "signal-medium", ValueKind::Text, SetAction, PushAction::SignalMedium},
    {0x08, "action=", "signal-high", ValueKind::Text, SetAction, PushAction::SignalHigh},
    {0x09, "action=", "delete", ValueKind::Text, SetAction, PushAction::Delete},
    {0x0A, "created=", "", ValueKind::Date, SetSiField, Slot::Created},
    {0x0B, "href=", "", ValueKind::Url, SetSiField, Slot::Href},
    {0x0C, "href=", "http://", ValueKind::Url, SetSiField, Slot::Href},
    {0x0D, "href=", "http://www.", ValueKind::Url, SetSiField, Slot::Href},
    {0x0E, "href=", "https://", ValueKind::Url, SetSiField, Slot::Href},
    {0x0F, "href=", "https://www.", ValueKind::Url, SetSiField, Slot::Href},
    {0x10, "si-expires=", "", ValueKind::Date, SetSiField, Slot::Expires},
    {0x11, "si-id=", "", ValueKind::Text, SetSiField, Slot::SiId},
    {0x12, "class=", "", ValueKind::Text, Discard, 0},
    {0x85, nullptr, ".com/", ValueKind::Text, nullptr, 0},
    {0x86, nullptr, ".edu/", ValueKind::Text, nullptr, 0},
    {0x87, nullptr, ".net/", ValueKind::Text, nullptr, 0},
    {0x88, nullptr, ".org/", ValueKind::Text, nullptr, 0},
    {0, "UNKNOWN", nullptr, ValueKind::Text, nullptr, 0},
};
constexpr AttributeRow kSlAttributes[] = {
    {0x05, "action=", "execute-low", ValueKind::Text, SetAction, PushAction::ExecuteLow},
    {0x06, "action=", "execute-high", ValueKind::Text, SetAction, PushAction::ExecuteHigh},
    {0x07, "action=", "cache", ValueKind::Text, SetAction, PushAction::Cache},
    {0x08, "href=", "", ValueKind::Text, SetSlHref, 0},
    {0x09, "href=", "http://", ValueKind::Text, SetSlHref, 0},
    {0x0A, "href=", "http://www.", ValueKind::Text, SetSlHref, 0},
    {0x0B, "href=", "https://", ValueKind::Text, SetSlHref, 0},
    {0x0C, "href=", "https://www.", ValueKind::Text, SetSlHref, 0},
    {0x85, nullptr, ".com/", ValueKind::Text, nullptr, 0},
    {0x86, nullptr, ".edu/", ValueKind::Text, nullptr, 0},
    {0x87, nullptr, ".net/", ValueKind::Text, nullptr, 0},
    {0x88, nullptr, ".org/", ValueKind::Text, nullptr, 0},
    {0, "UNKNOWN", nullptr, ValueKind::Text, nullptr, 0},
};

void FreeChunks(SiContext* si) {
  while (SiChunk* c = si->chunks) {
    si->chunks = c->next;
    MemFree(&c->text);
    MemFree(&c);
  }
}

void FreeSiStrings(SiContext* si) {
  MemFree(&si->href);
  MemFree(&si->siId);
  MemFree(&si->created);
  MemFree(&si->expires);
  MemFree(&si->spare);
}

void InitSi(void* context) { static_cast<SiContext*>(context)->action = PushAction::SignalMedium; }
void InitSl(void* context) { static_cast<SlContext*>(context)->action = PushAction::ExecuteLow; }
void FreeSi(void* context) {
  FreeChunks(static_cast<SiContext*>(context));
  FreeSiStrings(static_cast<SiContext*>(context));
}
void FreeSl(void* context) { MemFree(&static_cast<SlContext*>(context)->href); }

constexpr DocType kDocTypes[] = {
    {5, "-//WAPFORUM//DTD SI 1.0//EN", kSiElements, kSiAttributes, true, sizeof(SiContext), InitSi,
     FreeSi},
    {6, "-//WAPFORUM//DTD SL 1.0//EN", kSlElements, kSlAttributes, false, sizeof(SlContext), InitSl,
     FreeSl},
    {0, nullptr, nullptr, nullptr, false, 0, nullptr, nullptr},
};

// --- Records ---------------------------------------------------------------------

void BuildSi(SiSlState* state) {
  SiContext* si = Si(state);
  const char16_t* strings[] = {si->href, si->siId, si->created, si->expires};
  uint32_t units = 0;
  for (const char16_t* s : strings)
    if (s) units += LibcWStrLen(s) + 1;
  uint32_t textUnits = 0;
  for (SiChunk* c = si->chunks; c; c = c->next) textUnits += c->length;
  units += textUnits + 1;
  auto* record = static_cast<SiRecord*>(MemAllocZero(
      static_cast<uint32_t>(sizeof(SiRecord) + units * sizeof(char16_t)), Use::Data, kModule));
  if (record) {
    record->action = si->action;
    record->type = PushRecordType::Si;
    uint16_t* indexes[] = {&record->href, &record->siId, &record->created, &record->expires};
    uint32_t at = 0;
    for (int i = 0; i < 4; ++i) {
      if (!strings[i]) {
        *indexes[i] = kSiAbsent;
        continue;
      }
      *indexes[i] = static_cast<uint16_t>(at);
      LibcWStrCopy(record->area + at, strings[i]);
      at += LibcWStrLen(strings[i]) + 1;
    }
    if (!si->siId) record->siId = record->href;
    if (si->chunks) {
      record->text = static_cast<uint16_t>(at);
      for (SiChunk* c = si->chunks; c; c = c->next) {
        LibcMemCopy(record->area + at, c->text, c->length * sizeof(char16_t));
        at += c->length;
      }
      record->area[at] = 0;
    } else {
      record->text = kSiAbsent;
    }
    SiSlAttachRecord(state->load, record);
  } else {
    state->recordLost = 1;
  }
  FreeChunks(si);
  FreeSiStrings(si);
}

void DropInfo(SiSlState* state) {
  // Text inside "item" elements is gathered with the rest and dropped here.
  FreeChunks(Si(state));
  FreeSiStrings(Si(state));
}

void BuildSl(SiSlState* state) {
  SlContext* sl = Sl(state);
  const uint32_t n = sl->href ? LibcWStrLen(sl->href) : 0;
  auto* record = static_cast<SlRecord*>(
      MemAllocZero(static_cast<uint32_t>(sizeof(SlRecord) + n * sizeof(char16_t)), Use::Data, kModule));
  if (record) {
    record->action = sl->action;
    record->type = PushRecordType::Sl;
    if (sl->href) LibcWStrCopy(record->href, sl->href);
    SiSlAttachRecord(state->load, record);
  } else {
    state->recordLost = 1;
  }
  MemFree(&sl->href);
}

// --- Handler slots ---------------------------------------------------------------

Result StartDocument(WbxmlHandler* handler, const char16_t* publicId, uint32_t number) {
  SiSlState* state = StateOf(handler);
  const DocType* found = nullptr;
  for (const DocType* row = kDocTypes; row->number && !found; ++row) {
    if (number == 0)
      found = publicId && LngCompareNarrowWide(row->publicId, publicId) == 0 ? row : nullptr;
    else if (number == 1)
      found = (state->load->typeId == UrlType::Sic && row->number == 5) ||
                      (state->load->typeId == UrlType::Slc && row->number == 6)
                  ? row
                  : nullptr;
    else
      found = row->number == number ? row : nullptr;
  }
  if (!found || state->doc) return found ? kOk : static_cast<Result>(-1);
  state->context = MemAllocZero(found->contextBytes, Use::Data, kModule);
  if (!state->context) return kSiSlNoMemory;
  state->doc = found;
  found->init(state->context);
  return kOk;
}

const ElementRow* ElementOf(const SiSlState* state, uint32_t token) {
  if (!state->doc) return nullptr;
  for (const ElementRow* row = state->doc->elements; row->token; ++row)
    if (row->token == token) return row;
  return nullptr;
}

const AttributeRow* AttributeOf(const SiSlState* state, uint32_t token) {
  if (!state->doc) return nullptr;
  for (const AttributeRow* row = state->doc->attributes; row->token; ++row)
    if (row->token == token) return row;
  return nullptr;
}

Result ElementBegin(WbxmlHandler* handler, uint32_t token) {
  SiSlState* state = StateOf(handler);
  if (state->depth == state->capacity) {
    const uint32_t grown = state->capacity ? state->capacity * 2 : 8;
    void* bigger = state->stack
                       ? MemRealloc(state->stack, grown * sizeof(uint32_t), 0, kModule)
                       : MemAlloc(grown * sizeof(uint32_t), Use::Data, kModule);
    if (!bigger) return kOk;  // the element stays unpushed
    state->stack = static_cast<uint32_t*>(bigger);
    state->capacity = grown;
  }
  state->stack[state->depth++] = token;
  return kOk;
}

void EndTop(SiSlState* state) {
  const uint32_t token = state->stack[--state->depth];
  if (const ElementRow* row = ElementOf(state, token); row && row->end) row->end(state);
}

Result ElementEnd(WbxmlHandler* handler, uint32_t) {
  SiSlState* state = StateOf(handler);
  if (state->depth) EndTop(state);
  // A message read whole but not recorded is lost for want of memory, and
  // the decoder stops saying so.
  return state->recordLost ? kSiSlNoMemory : kOk;
}

Result Attribute(WbxmlHandler* handler, uint32_t token, const char16_t* value, uint32_t length) {
  SiSlState* state = StateOf(handler);
  if (state->depth == 0) return kSiSlBadArg;
  const AttributeRow* row = AttributeOf(state, token);
  if (!row || !row->handler) return kOk;
  char16_t* copy = nullptr;
  switch (row->kind) {
    case ValueKind::Url: copy = UrlValue(value, length); break;
    case ValueKind::Date: copy = SiSlDateValue(value, length); break;
    case ValueKind::Text: copy = WideCopy(value, length); break;
  }
  if (!copy) return kSiSlNoMemory;
  row->handler(state, row->code, copy);
  return kOk;
}

Result EndAttributes(WbxmlHandler*) { return kOk; }

const char* AttributeText(WbxmlHandler* handler, uint32_t token) {
  const AttributeRow* row = AttributeOf(StateOf(handler), token);
  return row ? row->text : nullptr;
}

Result Text(WbxmlHandler* handler, const char16_t* text, uint32_t length) {
  SiSlState* state = StateOf(handler);
  if (!state->doc || !state->doc->gathersText) return kOk;
  auto* chunk = static_cast<SiChunk*>(MemAllocZero(sizeof(SiChunk), Use::Data, kModule));
  if (!chunk) return kSiSlNoMemory;
  chunk->text = WideCopy(text, length);
  if (!chunk->text) {
    MemFree(&chunk);
    return kSiSlNoMemory;
  }
  chunk->length = length;
  SiChunk** tail = &Si(state)->chunks;
  while (*tail) tail = &(*tail)->next;
  *tail = chunk;
  return kOk;
}

void ReleaseState(UrlLoad* load) {
  auto* state = static_cast<SiSlState*>(load->handlerState);
  if (!state) return;
  WbxmlDecoderFree(state->decoder);
  // An element cut off by the end of the data still ends: an unfinished
  // indication yields its record.
  while (state->depth) EndTop(state);
  if (state->doc) state->doc->free(state->context);
  MemFree(&state->context);
  MemFree(&state->stack);
  MemFree(&state);
  load->handlerState = nullptr;
}

}  // namespace

char16_t* SiSlDateValue(const char16_t* value, uint32_t length) {
  if (length > 7 && LibcWStrChr(value, '-') && LibcWStrChr(value, 'T') && LibcWStrChr(value, 'Z'))
    return WideCopy(value, length);
  static const char kTemplate[] = "0000-00-00T00:00:00Z";
  static const char kHex[] = "0123456789ABCDEF";
  auto* date = static_cast<char16_t*>(MemAlloc(sizeof kTemplate * sizeof(char16_t), Use::String, kModule));
  if (!date) return nullptr;
  for (uint32_t i = 0; i < sizeof kTemplate; ++i) date[i] = static_cast<uint8_t>(kTemplate[i]);
  uint32_t at = 0;
  auto put = [&](char digit) {
    while (at < 20 && (date[at] < '0' || date[at] > '9')) ++at;
    if (at < 20) date[at++] = static_cast<uint8_t>(digit);
  };
  for (uint32_t i = 0; i < length && at < 20; ++i) {
    const uint8_t byte = static_cast<uint8_t>(value[i]);
    put(kHex[byte >> 4]);
    put(kHex[byte & 0x0F]);
  }
  return date;
}

namespace {
// Marks a load whose output list holds push records.
void FreeRecord(UrlLoad*, QueueNode* object) { MemFreeRaw(object); }
}  // namespace

namespace {

void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The units of an SI's text area that hold something.
uint32_t SiUnits(const SiRecord* si) {
  uint32_t units = 1;
  for (uint16_t index : {si->href, si->siId, si->created, si->expires, si->text})
    if (index != kSiAbsent) {
      const uint32_t end = index + LibcWStrLen(si->area + index) + 1;
      if (end > units) units = end;
    }
  return units;
}

// The text ends within `units` units.
bool Ends(const char16_t* text, uint32_t units) {
  for (uint32_t i = 0; i < units; ++i)
    if (text[i] == 0) return true;
  return false;
}

}  // namespace

uint32_t PushRecordStore(const PushRecord* record, uint8_t* out) {
  const bool si = record->type == PushRecordType::Si;
  const auto* siRecord = reinterpret_cast<const SiRecord*>(record);
  const char16_t* area = si ? siRecord->area : reinterpret_cast<const SlRecord*>(record)->href;
  const uint32_t units = si ? SiUnits(siRecord) : LibcWStrLen(area) + 1;
  const uint32_t fixed = si ? 8 + 10 + 4 : 8 + 4;
  if (!out) return fixed + units * 2;
  Put32(out, record->action);
  Put32(out + 4, record->type);
  uint8_t* p = out + 8;
  if (si)
    for (uint16_t index : {siRecord->href, siRecord->siId, siRecord->created, siRecord->expires,
                           siRecord->text}) {
      p[0] = static_cast<uint8_t>(index);
      p[1] = static_cast<uint8_t>(index >> 8);
      p += 2;
    }
  Put32(p, units);
  p += 4;
  for (uint32_t i = 0; i < units; ++i) {
    p[2 * i] = static_cast<uint8_t>(area[i]);
    p[2 * i + 1] = static_cast<uint8_t>(area[i] >> 8);
  }
  return fixed + units * 2;
}

Result PushRecordLoad(const uint8_t* bytes, uint32_t length, PushRecord** out) {
  *out = nullptr;
  if (length < 12) return kSiSlBadArg;
  const uint32_t type = Get32(bytes + 4);
  const bool si = type == PushRecordType::Si;
  if (!si && type != PushRecordType::Sl) return kSiSlBadArg;
  const uint32_t fixed = si ? 22 : 12;
  if (length < fixed) return kSiSlBadArg;
  const uint32_t units = Get32(bytes + fixed - 4);
  if (units == 0 || units > 0xFFFF || units != (length - fixed) / 2 || (length - fixed) % 2)
    return kSiSlBadArg;
  const uint32_t head = si ? offsetof(SiRecord, area) : offsetof(SlRecord, href);
  auto* record = static_cast<PushRecord*>(
      MemAllocZero(static_cast<uint32_t>(head + (units + 1) * 2), Use::Data, kModule));
  if (!record) return kSiSlNoMemory;
  record->action = Get32(bytes);
  record->type = type;
  char16_t* area = si ? reinterpret_cast<SiRecord*>(record)->area
                      : reinterpret_cast<SlRecord*>(record)->href;
  for (uint32_t i = 0; i < units; ++i)
    area[i] = static_cast<char16_t>(bytes[fixed + 2 * i] | bytes[fixed + 2 * i + 1] << 8);
  bool ok = Ends(area, units);
  if (si) {
    auto* r = reinterpret_cast<SiRecord*>(record);
    uint16_t* indexes[] = {&r->href, &r->siId, &r->created, &r->expires, &r->text};
    for (int i = 0; i < 5; ++i) {
      *indexes[i] = static_cast<uint16_t>(bytes[8 + 2 * i] | bytes[9 + 2 * i] << 8);
      if (*indexes[i] != kSiAbsent) ok = ok && *indexes[i] < units && Ends(area + *indexes[i], units - *indexes[i]);
    }
  }
  if (!ok) {
    MemFree(&record);
    return kSiSlBadArg;
  }
  *out = record;
  return kOk;
}

const PushRecord* PushRecordOf(const UrlLoad* load) {
  if (!load || load->outputFree != FreeRecord) return nullptr;
  return reinterpret_cast<const PushRecord*>(load->output.head);
}

void SiSlAttachRecord(UrlLoad* load, void* record) {
  load->outputFree = FreeRecord;
  UrlLoadAddOutput(load, static_cast<QueueNode*>(record));
}

Result SiSlContentProcess(UrlModuleContext*, UrlLoad* load) {
  auto* state = static_cast<SiSlState*>(load->handlerState);
  if (!state) {
    state = static_cast<SiSlState*>(MemAllocZero(sizeof(SiSlState), Use::Data, kModule));
    if (!state) return kSiSlNoMemory;
    state->handler = WbxmlHandler{StartDocument, nullptr,      Text,          ElementBegin, ElementEnd,
                                  Attribute,     EndAttributes, AttributeText, nullptr};
    state->load = load;
    if (Result r = WbxmlDecoderCreate(&state->decoder); r != kOk) {
      MemFree(&state);
      return r;
    }
    load->handlerState = state;
  }
  Result r = WbxmlDecode(state->decoder, &state->handler, &load->input);
  // Everything has come and the document is still open: it is cut off.
  if (r == kOk && load->endOfData && !load->input.head) r = WbxmlDecodeEnd(state->decoder);
  if (r != kOk) {
    ReleaseState(load);
    load->events |= UrlEvent::Complete;
  }
  return (r & 0xFFFF) == kWbxmlFinished ? kOk : r;
}

Result SiSlContentRelease(UrlModuleContext*, UrlLoad* load) {
  ReleaseState(load);
  return kOk;
}
