#include "host/hostini.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "browser/url.h"
#include "host/hostsettings.h"
#include "host/ini.h"
#include "host/platform/files.h"
#include "host/platform/lang.h"
#include "host/platform/say.h"
#include "host/smsbridge.h"
#include "kernel/sstore.h"
#include "kernel/ubstore.h"
#include "player/anim_player.h"

namespace {

constexpr int32_t kHostMemoryKbDefault = 128;
constexpr int32_t kHostFrameRateDefault = 35;
constexpr int32_t kHostFrameRateLow = 10;  // what a rate below 1 becomes
constexpr int32_t kHostFrameRateMax = 84;
constexpr char kHostHomeUrl[] = "info://HOME/general/gohome.html";
constexpr char kHostPhoneSizeDefault[] = "LARGE";
constexpr const char* kHostStorageClasses[] = {"access", "page", "persistent", "repository"};

// What a run needs of the heap for each byte the inbox's class file may
// hold beyond its built-in quota, up to what the inbox's section holds: the
// inbox's messages come back into memory at the start and are written from
// it at the stop, and the smallest that are kept (Service Loading pushes of
// some 56 bytes in the file) take some 400 bytes each, 7 for each of their
// bytes, as measured; 8 leaves room to spare. The class files themselves
// are read outside the engine's heap, and the start reads them where they
// lie: the other quotas cost it nothing.
constexpr int64_t kHostHeapPerInboxByte = 8;
constexpr char kHostInboxClass[] = "repository";

// Kept until the skin is known: it matters only when no skin loads.
std::string g_hostPhoneSize = kHostPhoneSizeDefault;

bool HostIsListBlank(char c) { return c == ' ' || (c >= 9 && c <= 13); }

int HostHexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Each byte becomes one UTF-16 unit; out holds `units` units with the 0.
void HostWiden(const char* text, char16_t* out, size_t units) {
  size_t i = 0;
  for (; i + 1 < units && text[i] != '\0'; ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(text[i]));
  out[i] = u'\0';
}

// Said once per key read: the user learns the setting did not take and
// what took its place.
void HostSayUnusable(const char* section, const char* key, const std::string& value,
                     const std::string& instead) {
  PlatformSay("qor: qor.ini [%s] %s=%s is not usable; %s is used instead\n", section, key,
              value.c_str(), instead.c_str());
}

// A whole decimal number: optional sign, then digits only.
bool HostIsNumber(const std::string& text) {
  size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
  if (i == text.size()) return false;
  for (; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

// A number key read as it always was (missing or empty: the preset; the
// leading number of the text; below `low` becomes `belowValue`, above `high`
// becomes `high`), and said when the text was no number or out of range.
// `unusable`, when given, takes the text that was said so (empty when none).
int32_t HostReadNumber(const IniFile& ini, const char* section, const char* key, int32_t preset,
                       int32_t low, int32_t belowValue, int32_t high, int32_t aboveValue,
                       std::string* unusable = nullptr) {
  if (unusable) unusable->clear();
  std::optional<std::string> text = ini.Get(section, key);
  if (!text || text->empty()) return preset;
  const int32_t read = ini.GetInt(section, key, preset);
  const int32_t used = read < low ? belowValue : read > high ? aboveValue : read;
  if (used != read || !HostIsNumber(*text)) {
    HostSayUnusable(section, key, *text, std::to_string(used));
    if (unusable) *unusable = *text;
  }
  return used;
}

constexpr int32_t kAnyLow = INT32_MIN, kAnyHigh = INT32_MAX;

uint16_t HostReadPort(const IniFile& ini, const char* key, uint16_t preset,
                      std::string* unusable = nullptr) {
  return static_cast<uint16_t>(
      HostReadNumber(ini, "SMS", key, preset, 1, preset, 65535, preset, unusable));
}

// A key that is there replaces the preset face, even with an empty name.
void HostReadFace(const IniFile& ini, const char* key, const char16_t* preset, char16_t* face) {
  char text[kFontFaceUnits];  // up to 31 characters
  if (!ini.Get("Fonts", key)) {
    std::memcpy(face, preset, sizeof(char16_t) * kFontFaceUnits);
    return;
  }
  ini.GetString("Fonts", key, "", text, sizeof text);
  HostWiden(text, face, kFontFaceUnits);
}

// The keys prefix1 .. prefixN; each non-zero size is kept with its level.
int32_t HostReadSizes(const IniFile& ini, const char* prefix, int32_t levels, FontSizePair* pairs) {
  int32_t count = 0;
  for (int32_t level = 1; level <= levels; ++level) {
    std::string key = prefix + std::to_string(level);
    int32_t points = HostReadNumber(ini, "Fonts", key.c_str(), 0, kAnyLow, 0, kAnyHigh, 0);
    if (points != 0) pairs[count++] = {level, points};
  }
  return count;
}

void HostReadSymbols(const IniFile& ini, const char* key, const uint16_t* presets,
                     uint16_t* symbols) {
  std::memcpy(symbols, presets, sizeof(uint16_t) * kFontSymbols);
  std::optional<std::string> list = ini.Get("Fonts", key);
  if (list) HostParseNumberList(list->c_str(), symbols, kFontSymbols, 1, 65535);
}


}  // namespace

void HostReadIni(HostSettings* settings) { HostReadIniFile(settings, "qor.ini"); }

void HostReadIniFile(HostSettings* settings, const std::string& path) {
  IniFile ini;
  // A missing file gives every default, but the user is told: a file in the
  // wrong folder looks just like settings that were ignored.
  if (IniLoad load = ini.Load(path); load != IniLoad::Read)
    PlatformSay("qor: %s %s; the built-in settings are used\n", path.c_str(),
                load == IniLoad::Missing ? "was not found in the working folder"
                                         : "cannot be read");

  // A size below 1 KB is taken as unset too, so that no negative size can
  // reach the engine block.
  const int32_t kb = HostReadNumber(ini, "Memory", "Size", kHostMemoryKbDefault, 1,
                                    kHostMemoryKbDefault, kHostMemoryKbMax, kHostMemoryKbMax);
  settings->memoryBytes = static_cast<uint32_t>(kb) * 1024u;

  ini.GetString("Operation", "URL", kHostHomeUrl, settings->homeUrl, sizeof settings->homeUrl);

  settings->frameRate = HostReadNumber(ini, "Options", "FrameRate", kHostFrameRateDefault, 1,
                                      kHostFrameRateLow, kHostFrameRateMax, kHostFrameRateMax);

  ini.GetString("Display", "Skin", "", settings->skinFile, sizeof settings->skinFile);
  g_hostPhoneSize = ini.Get("Display", "PhoneSize").value_or(kHostPhoneSizeDefault);

  std::string language = ini.Get("Display", "Language").value_or("");
  if (!language.empty()) {
    std::u16string wide(language.size(), u'\0');
    for (size_t i = 0; i < language.size(); ++i)
      wide[i] = static_cast<char16_t>(static_cast<unsigned char>(language[i]));
    ShellSelectLanguage(wide.c_str());
  }

  for (const char* name : kHostStorageClasses) {
    // -1 (and any negative number) keeps the built-in quota.
    int32_t bytes = HostReadNumber(ini, "Storage", name, -1, kAnyLow, 0, kAnyHigh, 0);
    UbstoreSetQuota(name, bytes >= 0 ? bytes : UbstoreBuiltInQuota(UbstoreClassIndex(name)));
  }

  // Another port pair lets a second emulator run beside the first. A port
  // that was not usable is kept: if the one tried instead is taken too, the
  // user is told both.
  std::string askedPort;
  const uint16_t port = HostReadPort(ini, "Port", kSmsBridgePort, &askedPort);
  std::snprintf(settings->smsPortAsked, sizeof settings->smsPortAsked, "%s", askedPort.c_str());
  SmsBridgeSetPorts(port, HostReadPort(ini, "PeerPort", kSmsPeerPort));
  // Only a user who wants a peer on another machine opens the bridge wider
  // than loopback.
  std::optional<std::string> address = ini.Get("SMS", "Address");
  if (!address || address->empty() || !SmsBridgeSetAddress(address->c_str())) {
    if (address && !address->empty())
      HostSayUnusable("SMS", "Address", *address, kSmsBridgeAddress);
    SmsBridgeSetAddress(nullptr);
  }

  FontSettings& fonts = settings->fonts;
  FontSettings presets;
  FontDefaultSettings(&presets);
  HostReadFace(ini, "Body", presets.bodyFace, fonts.bodyFace);
  HostReadFace(ini, "BodyMono", presets.bodyMonoFace, fonts.bodyMonoFace);
  HostReadFace(ini, "Heading", presets.headingFace, fonts.headingFace);
  HostReadFace(ini, "HeadingMono", presets.headingMonoFace, fonts.headingMonoFace);
  HostReadSymbols(ini, "BodySymbols", presets.bodySymbols, fonts.bodySymbols);
  HostReadSymbols(ini, "HeadingSymbols", presets.headingSymbols, fonts.headingSymbols);
  fonts.bodySizeCount = HostReadSizes(ini, "Body", kFontBodyLevels, fonts.bodySizes);
  fonts.headingSizeCount = HostReadSizes(ini, "Heading", kFontHeadingLevels, fonts.headingSizes);
}

const char* HostPhoneSize() { return g_hostPhoneSize.c_str(); }

bool HostWriteSetting(const std::string& path, const char* section, const char* key,
                      const char* value) {
  uint32_t size = 0;
  if (PlatformFileSize(path.c_str(), &size) != FileStatus::Missing)
    return IniWriteString(path, section, key, value);
  // A file written from nothing would hold only this key and lose every
  // other setting's explanation: the shipped file is written whole first.
  if (!section) return false;
  IniFile ini;
  ini.LoadText(kHostDefaultIni);
  if (!key)
    ini.RemoveSection(section);
  else if (!value)
    ini.RemoveKey(section, key);
  else if (!ini.Set(section, key, value))
    return false;
  return ini.Save(path);
}

void HostDefaultDisplay(HostSettings* settings, const char* phoneSize) {
  bool large = phoneSize != nullptr && std::strncmp(phoneSize, "LARGE", 5) == 0;
  settings->largePhone = large ? 1 : 0;
  settings->display = large ? HostRect{50, 109, 160, 240} : HostRect{60, 117, 96, 64};
}

void HostParseNumberList(const char* text, uint16_t* values, int count, uint32_t minimum,
                         uint32_t maximum) {
  if (text == nullptr || values == nullptr) return;
  const char* p = text;
  for (int i = 0; i < count; ++i) {
    while (HostIsListBlank(*p)) ++p;
    // Pinned just past the 32-bit range, so no entry can overflow into range.
    constexpr uint64_t kCap = 0x100000000ull;
    uint64_t value = 0;
    int digits = 0;
    bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    if (hex) p += 2;
    for (int d; (d = HostHexDigit(*p)) >= 0 && (hex || d < 10); ++p, ++digits) {
      value = value * (hex ? 16 : 10) + static_cast<uint64_t>(d);
      if (value > kCap) value = kCap;
    }
    while (HostIsListBlank(*p)) ++p;
    bool wellFormed = digits > 0 && (*p == ',' || *p == '\0');
    if (wellFormed && value >= minimum && value <= maximum && value <= 0xFFFF)
      values[i] = static_cast<uint16_t>(value);
    while (*p != '\0' && *p != ',') ++p;
    if (*p == '\0') break;
    ++p;
  }
}

namespace {

// Beside the work buffer, a movie page while the page before it, an image
// as large as a page shows, is still held: that image's pixels; the
// movie's frame buffer, square at the screen's smaller side, and the first
// frame made from it, both in the page image's 2-byte pixels; and the
// player's record. (The body and the records around them fit in the room
// the start keeps to spare.)
constexpr int64_t kHostPageImageWidth = 176, kHostPageImageHeight = 208;
constexpr int64_t kHostMovieSide = 176;  // the largest side a movie image takes
constexpr int64_t kHostPixelBytes = sizeof(uint16_t);  // RGB565
constexpr int64_t kHostHeldPageBytes = kHostPageImageWidth * kHostPageImageHeight * kHostPixelBytes;
constexpr int64_t kHostMoviePageBytes =
    2 * kHostMovieSide * kHostMovieSide * kHostPixelBytes + int64_t{sizeof(AnimPlayer)};

constexpr int64_t HostKbNeeded(int64_t inboxBytesMore) {
  const int64_t bytes = int64_t{kHostMemoryKbStart} * 1024 + kUrlWorkBufferSize +
                        kUrlWorkBufferReserve + kHostHeldPageBytes + kHostMoviePageBytes +
                        kHostHeapPerInboxByte * inboxBytesMore;
  return (bytes + 16383) / 16384 * 16;
}
static_assert(HostKbNeeded(0) == kHostMemoryKbAdvised);

}  // namespace

int32_t HostMemoryKbNeeded() {
  const int32_t index = UbstoreClassIndex(kHostInboxClass);
  const int64_t most = kStoreMaxValue;
  const int64_t quota = UbstoreGetQuota(index), builtIn = UbstoreBuiltInQuota(index);
  const int64_t more = (quota < most ? quota : most) - (builtIn < most ? builtIn : most);
  const int64_t kb = HostKbNeeded(more > 0 ? more : 0);
  return static_cast<int32_t>(kb < kHostMemoryKbMax ? kb : kHostMemoryKbMax);
}
