#include "tests/markup/wbxml_support.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "kernel/datachunk.h"

namespace {

// The token tables of the WBXML encodings of SI 1.0, SL 1.0, WAP provisioning
// 1.0 and channel 1.2, as far as the test documents use them.
constexpr WbxmlName kSiTags[] = {{0x05, "si", nullptr}, {0x06, "indication", nullptr},
                                 {0x07, "info", nullptr}, {0x08, "item", nullptr}, {0, nullptr, nullptr}};
constexpr WbxmlName kSiAttributes[] = {
    {0x05, "action", "signal-none"}, {0x06, "action", "signal-low"},
    {0x07, "action", "signal-medium"}, {0x08, "action", "signal-high"},
    {0x09, "action", "delete"}, {0x0A, "created", nullptr}, {0x0B, "href", nullptr},
    {0x0C, "href", "http://"}, {0x0D, "href", "http://www."}, {0x0E, "href", "https://"},
    {0x0F, "href", "https://www."}, {0x10, "si-expires", nullptr}, {0x11, "si-id", nullptr},
    {0x12, "class", nullptr}, {0x85, nullptr, ".com/"}, {0x86, nullptr, ".edu/"},
    {0x87, nullptr, ".net/"}, {0x88, nullptr, ".org/"}, {0, nullptr, nullptr}};

constexpr WbxmlName kSlTags[] = {{0x05, "sl", nullptr}, {0, nullptr, nullptr}};
constexpr WbxmlName kSlAttributes[] = {
    {0x05, "action", "execute-low"}, {0x06, "action", "execute-high"}, {0x07, "action", "cache"},
    {0x08, "href", nullptr}, {0x09, "href", "http://"}, {0x0A, "href", "http://www."},
    {0x0B, "href", "https://"}, {0x0C, "href", "https://www."}, {0x85, nullptr, ".com/"},
    {0x86, nullptr, ".edu/"}, {0x87, nullptr, ".net/"}, {0x88, nullptr, ".org/"},
    {0, nullptr, nullptr}};

constexpr WbxmlName kProvTags[] = {{0x05, "wap-provisioningdoc", nullptr},
                                   {0x06, "characteristic", nullptr},
                                   {0x07, "parm", nullptr},
                                   {0, nullptr, nullptr}};
constexpr WbxmlName kProvAttributes[] = {
    {0x05, "name", nullptr}, {0x06, "value", nullptr}, {0x07, "name", "NAME"},
    {0x08, "name", "NAP-ADDRESS"}, {0x09, "name", "NAP-ADDRTYPE"}, {0x0A, "name", "CALLTYPE"},
    {0x0C, "name", "AUTHTYPE"}, {0x0D, "name", "AUTHNAME"}, {0x0E, "name", "AUTHSECRET"},
    {0x10, "name", "BEARER"}, {0x11, "name", "NAPID"}, {0x15, "name", "PROXY-ID"},
    {0x1C, "name", "STARTPAGE"}, {0x20, "name", "PXADDR"}, {0x21, "name", "PXADDRTYPE"},
    {0x22, "name", "TO-NAPID"}, {0x23, "name", "PORTNBR"}, {0x24, "name", "SERVICE"},
    {0x2F, "name", "PHYSICAL-PROXY-ID"}, {0x45, "version", nullptr}, {0x46, "version", "1.0"},
    {0x50, "type", nullptr}, {0x51, "type", "PXLOGICAL"}, {0x52, "type", "PXPHYSICAL"},
    {0x53, "type", "PORT"}, {0x55, "type", "NAPDEF"}, {0x5A, "type", "NAPAUTHINFO"},
    {0x85, nullptr, "IPV4"}, {0x87, nullptr, "E164"}, {0x90, nullptr, "ANALOG_MODEM"},
    {0x9A, nullptr, "PAP"}, {0xAA, nullptr, "GSM-CSD"}, {0xCB, nullptr, "CO-WSP"},
    {0, nullptr, nullptr}};

constexpr WbxmlName kChannelTags[] = {{0x05, "channel", nullptr}, {0x06, "title", nullptr},
                                      {0x07, "abstract", nullptr}, {0x08, "resource", nullptr},
                                      {0, nullptr, nullptr}};
constexpr WbxmlName kChannelAttributes[] = {
    {0x05, "maxspace", nullptr}, {0x06, "base", nullptr}, {0x07, "href", nullptr},
    {0x08, "href", "http://"}, {0x09, "href", "https://"}, {0x0A, "lastmod", nullptr},
    {0x0B, "etag", nullptr}, {0x0C, "md5", nullptr}, {0x0D, "success", nullptr},
    {0x0E, "success", "http://"}, {0x0F, "success", "https://"}, {0x10, "failure", nullptr},
    {0x11, "failure", "http://"}, {0x12, "failure", "https://"}, {0x13, "eventid", nullptr},
    {0x14, "eventid", "wtaev-"}, {0x15, "channelid", nullptr}, {0x16, "useraccessible", nullptr},
    {0, nullptr, nullptr}};

const WbxmlName* Find(const WbxmlName* table, uint32_t token) {
  if (!table) return nullptr;
  for (; table->name || table->text; ++table)
    if (table->token == token) return table;
  return nullptr;
}

WbxmlRecorder* Self(WbxmlHandler* h) { return reinterpret_cast<WbxmlRecorder*>(h); }

}  // namespace

void Quote(std::string* out, const char16_t* text, uint32_t length) {
  *out += '"';
  for (uint32_t i = 0; i < length; ++i) {
    const char16_t unit = text[i];
    if (unit >= 0x20 && unit < 0x7F && unit != '{' && unit != '"') {
      *out += static_cast<char>(unit);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, unit < 0x100 ? "{%02X}" : "{%04X}", unit);
      *out += hex;
    }
  }
  *out += '"';
}

namespace {

std::string Name(WbxmlRecorder* r, const WbxmlName* table, uint32_t token) {
  if (token >= 0x10000 && token - 0x10000 < r->literals.size()) {
    std::string name;
    for (char16_t c : r->literals[token - 0x10000]) name += static_cast<char>(c);
    return name;
  }
  if (const WbxmlName* row = Find(table, token); row && row->name) return row->name;
  char hex[16];
  std::snprintf(hex, sizeof hex, "#%04X", token);
  return hex;
}

Result OnStart(WbxmlHandler* h, const char16_t* publicId, uint32_t number) {
  std::string& log = Self(h)->log;
  log += "start ";
  if (publicId) {
    uint32_t n = 0;
    while (publicId[n]) ++n;
    Quote(&log, publicId, n);
  } else {
    log += "-";
  }
  log += " " + std::to_string(number) + "\n";
  return Self(h)->failOnStart;
}

Result OnText(WbxmlHandler* h, const char16_t* text, uint32_t length) {
  std::string& log = Self(h)->log;
  log += "text ";
  Quote(&log, text, length);
  log += "\n";
  return text[length] == 0 ? 0 : 0x1111;  // texts come NUL-terminated
}

Result OnBegin(WbxmlHandler* h, uint32_t token) {
  WbxmlRecorder* r = Self(h);
  r->log += "begin " + Name(r, r->tables ? r->tables->tags : nullptr, token) + "\n";
  return r->failOnBegin;
}

Result OnEnd(WbxmlHandler* h, uint32_t token) {
  WbxmlRecorder* r = Self(h);
  r->log += "end " + Name(r, r->tables ? r->tables->tags : nullptr, token) + "\n";
  return 0;
}

Result OnAttribute(WbxmlHandler* h, uint32_t token, const char16_t* value, uint32_t length) {
  WbxmlRecorder* r = Self(h);
  r->log += "attr " + Name(r, r->tables ? r->tables->attributes : nullptr, token) + " ";
  Quote(&r->log, value, length);
  r->log += "\n";
  return value[length] == 0 ? 0 : 0x1111;
}

Result OnEndAttributes(WbxmlHandler* h) {
  Self(h)->log += "attrs\n";
  return 0;
}

const char* OnAttributeText(WbxmlHandler* h, uint32_t token) {
  WbxmlRecorder* r = Self(h);
  const WbxmlName* row = Find(r->tables ? r->tables->attributes : nullptr, token);
  return row ? row->text : nullptr;
}

uint32_t OnLiteral(WbxmlHandler* h, int, const char16_t* name, uint32_t length) {
  WbxmlRecorder* r = Self(h);
  r->literals.emplace_back(name, length);
  return 0x10000 + static_cast<uint32_t>(r->literals.size() - 1);
}

}  // namespace

const WbxmlTables kSiTables{kSiTags, kSiAttributes};
const WbxmlTables kSlTables{kSlTags, kSlAttributes};
const WbxmlTables kProvTables{kProvTags, kProvAttributes};
const WbxmlTables kChannelTables{kChannelTags, kChannelAttributes};

WbxmlRecorder::WbxmlRecorder(const WbxmlTables* t)
    : handler{OnStart, nullptr,     OnText,          OnBegin,         OnEnd,
              OnAttribute, OnEndAttributes, OnAttributeText, OnLiteral},
      tables(t) {}

Result WbxmlFeed(WbxmlDecoder* decoder, WbxmlRecorder* recorder, Queue* queue,
                 const std::vector<uint8_t>& bytes, const std::vector<uint32_t>& cuts) {
  Result r = 0;
  uint32_t from = 0;
  std::vector<uint32_t> ends = cuts;
  ends.push_back(static_cast<uint32_t>(bytes.size()));
  for (uint32_t to : ends) {
    if (to < from || to > bytes.size()) continue;
    if (UtilDataChunkAppend(queue, bytes.data() + from, to - from, Mod::TestCode) != kOk)
      return 0xDEAD;
    from = to;
    r = WbxmlDecode(decoder, &recorder->handler, queue);
    if (r != 0) break;
  }
  return r;
}

std::vector<uint8_t> ReadWbxmlFile(const char* name) {
  std::ifstream in(std::string(QOR_WBXML_DATA_DIR) + "/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
