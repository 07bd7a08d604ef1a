#include "services/push/notify_store_doc.h"

#include "browser/url.h"
#include "kernel/datachunk.h"
#include "kernel/libc.h"
#include "kernel/mem.h"
#include "services/push/notify.h"

// One document record: name length, name (the message it belongs to),
// character set, header count, each header as name length, name, value
// length, value, then body length and body. Every number is 32 bits, least
// significant byte first, as in the message records.

namespace {

constexpr uint32_t kModule = Mod::Notify;

void Put(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct Writer {
  uint8_t* at;
  void Word(uint32_t v) {
    Put(at, v);
    at += 4;
  }
  void Text(const void* bytes, uint32_t n) {
    Word(n);
    LibcMemCopy(at, bytes, n);
    at += n;
  }
};

// Every read checks what is left; a record that ends early or runs on does
// not read.
struct Reader {
  const uint8_t* at;
  uint32_t left;
  bool bad;
  uint32_t Word() {
    if (bad || left < 4) {
      bad = true;
      return 0;
    }
    const uint32_t v =
        uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
    at += 4;
    left -= 4;
    return v;
  }
  // A counted text without NUL bytes; null (and bad) when it does not read.
  const uint8_t* Text(uint32_t* n) {
    *n = Word();
    if (bad || *n > left) {
      bad = true;
      return nullptr;
    }
    const uint8_t* text = at;
    for (uint32_t i = 0; i < *n; ++i)
      if (!text[i]) bad = true;
    at += *n;
    left -= *n;
    return bad ? nullptr : text;
  }
};

bool Keepable(const UrlLoad* message) {
  return message->typeId == UrlType::ConnectivityWbxml && message->contentClass == 2 &&
         !message->outputFree;
}

uint32_t BodyBytes(const UrlLoad* message) {
  uint32_t n = 0;
  for (const QueueNode* node = message->output.head; node; node = node->next)
    n += UtilDataChunkOf(const_cast<QueueNode*>(node))->remaining;
  return n;
}

// The record's fields up to the headers, read and checked.
bool ReadStart(Reader* r, const char* name, uint32_t nameLength, uint32_t* charset,
               uint32_t* headers) {
  uint32_t storedLength = 0;
  const uint8_t* stored = r->Text(&storedLength);
  // Neither name holds a NUL byte, so the comparison stays within them.
  if (!stored || storedLength != nameLength ||
      LibcStrNCmp(reinterpret_cast<const char*>(stored), name, nameLength) != 0)
    return false;
  *charset = r->Word();
  *headers = r->Word();
  return !r->bad;
}

// Skips the headers and reads the body; the record must end with it.
bool ReadRest(Reader r, uint32_t headers, const uint8_t** body, uint32_t* bodyLength) {
  uint32_t n = 0;
  for (uint32_t i = 0; i < headers && !r.bad; ++i) {
    r.Text(&n);
    r.Text(&n);
  }
  *bodyLength = r.Word();
  if (r.bad || *bodyLength != r.left) return false;
  *body = r.at;
  return true;
}

Result AddHeader(UrlLoad* load, const uint8_t* name, uint32_t nameLength, const uint8_t* value,
                 uint32_t valueLength) {
  char* n = LibcStrNDup(reinterpret_cast<const char*>(name), nameLength);
  char* v = n ? LibcStrNDup(reinterpret_cast<const char*>(value), valueLength) : nullptr;
  const Result r = v ? UrlAddHeader(load, n, v) : kUrlNoMemory;
  MemFree(&n);
  MemFree(&v);
  return r;
}

}  // namespace

uint32_t NotifyStoreDocSize(const UrlLoad* message) {
  if (!Keepable(message)) return 0;
  uint32_t size = 4 + LibcStrLen(message->name) + 4 + 4 + 4 + BodyBytes(message);
  for (const UrlHeader* h = message->headers; h; h = h->next)
    size += 8 + LibcStrLen(h->name) + LibcStrLen(h->value);
  return size;
}

Result NotifyStoreDocWrite(ConfigHandle* handle, const char* key, const UrlLoad* message,
                           uint32_t size) {
  auto* bytes = static_cast<uint8_t*>(MemAlloc(size, Use::Data, kModule));
  if (!bytes) return kNotifyNoMemory;
  Writer w{bytes};
  w.Text(message->name, LibcStrLen(message->name));
  w.Word(message->charset);
  uint32_t headers = 0;
  for (const UrlHeader* h = message->headers; h; h = h->next) ++headers;
  w.Word(headers);
  for (const UrlHeader* h = message->headers; h; h = h->next) {
    w.Text(h->name, LibcStrLen(h->name));
    w.Text(h->value, LibcStrLen(h->value));
  }
  w.Word(BodyBytes(message));
  for (const QueueNode* node = message->output.head; node; node = node->next) {
    const UtilDataChunk* block = UtilDataChunkOf(const_cast<QueueNode*>(node));
    LibcMemCopy(w.at, UtilDataChunkData(block) + block->offset, block->remaining);
    w.at += block->remaining;
  }
  const Result r = ConfigSetRaw(handle, key, 0, bytes, size, ConfigKind::Raw);
  MemFree(&bytes);
  return r;
}

NotifyStoreDocRead NotifyStoreDocRestore(UrlLoad* load, const char* name, uint32_t nameLength,
                                         const uint8_t* bytes, uint32_t length) {
  if (!bytes || !Keepable(load)) return NotifyStoreDocRead::Unread;
  Reader r{bytes, length, false};
  uint32_t charset = 0, headers = 0, bodyLength = 0;
  const uint8_t* body = nullptr;
  if (!ReadStart(&r, name, nameLength, &charset, &headers) ||
      !ReadRest(r, headers, &body, &bodyLength))
    return NotifyStoreDocRead::Unread;
  // The whole record reads: from here only memory can fail.
  for (uint32_t i = 0; i < headers; ++i) {
    uint32_t headerLength = 0, valueLength = 0;
    const uint8_t* header = r.Text(&headerLength);
    const uint8_t* value = r.Text(&valueLength);
    if (AddHeader(load, header, headerLength, value, valueLength) != kOk)
      return NotifyStoreDocRead::NoMemory;
  }
  if (UtilDataChunkAppend(&load->output, body, bodyLength, Mod::Url) != kOk)
    return NotifyStoreDocRead::NoMemory;
  load->charset = charset;
  load->announcedLength = bodyLength;
  load->delivered = bodyLength;
  return NotifyStoreDocRead::Restored;
}
