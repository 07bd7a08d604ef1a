#include "host/skin.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "host/hostsettings.h"
#include "host/ini.h"
#include "host/platform/files.h"
#include "host/platform/shell.h"

namespace {

constexpr int32_t kCharacterKey = 27;

struct ButtonName {
  int32_t keyCode;
  const char* name;
};
// In the order of the button table and of the hit test.
constexpr ButtonName kButtonNames[kShellSkinButtonCount] = {
    {225, "Pad 1"},  {226, "Pad 2"},  {227, "Pad 3"},   {228, "Pad 4"},   {229, "Pad 5"},
    {230, "Pad 6"},  {231, "Pad 7"},  {232, "Pad 8"},   {233, "Pad 9"},   {236, "Pad *"},
    {224, "Pad 0"},  {237, "Pad #"},  {238, "send"},    {163, "end"},     {234, "Soft 1"},
    {235, "Soft 2"}, {65, "Spare 1"}, {66, "Spare 2"},  {67, "Spare 3"},  {68, "Spare 4"},
    {69, "Spare 5"}, {70, "Spare 6"}, {71, "Spare 7"},  {72, "Spare 8"},  {73, "Spare 9"},
};
constexpr int kSoft1 = 14, kSoft2 = 15;

// Mapping keys with their command, repeat command and release command.
struct CommandRow {
  const char* key;
  int32_t command, repeat, release;
};
constexpr CommandRow kCommands[] = {
    {"select", 1, 0, 0},    {"next", 3, 24, 25},    {"prev", 4, 23, 25},
    {"down", 6, 24, 25},    {"up", 5, 23, 25},      {"nextlist", 7, 0, 0},
    {"prevlist", 8, 0, 0},  {"deselect", 2, 0, 0},  {"soft1", 9, 0, 0},
    {"soft2", 10, 0, 0},    {"back", 21, 0, 0},     {"info", 13, 0, 0},
    {"notify", 14, 0, 0},   {"home", 12, 0, 0},     {"pageup", 15, 17, 0},
    {"pagedown", 16, 18, 0},
};
constexpr int kCommandCount = sizeof kCommands / sizeof kCommands[0];

// The access-key characters, chosen by index.
constexpr char kAccessChars[] = "0123456789*#";

struct BitmapSet {
  void* bitmaps[kShellSkinMaxBitmaps];
  int count;
};

struct SkinState {
  ShellSkinButton buttons[kShellSkinButtonCount + 1];
  int32_t mappedKey[kCommandCount];  // button key code of each mapping row, 0 unmapped
  BitmapSet hi, lo;
  int bitmapCount;
  bool useHi;
  bool loaded;
};
SkinState gSkin;
std::string gFailure;     // of the last ShellLoadSkin
std::string gFirstMissing;  // the first picture that did not load

void* NoLoad(void*, const char*) { return nullptr; }
void NoRelease(void*, void*) {}
bool AlwaysHigh(void*) { return true; }
constexpr ShellSkinImageOps kNoImages = {nullptr, NoLoad, NoRelease, AlwaysHigh};
const ShellSkinImageOps* gImages = &kNoImages;

bool EqualNoCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a + 32) : *a;
    char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b + 32) : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

void ReleaseSet(BitmapSet& set) {
  for (void*& b : set.bitmaps)
    if (b) {
      gImages->release(gImages->ctx, b);
      b = nullptr;
    }
  set.count = 0;
}

std::string Slashes(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

bool Exists(const std::string& path) {
  uint32_t size = 0;
  return PlatformFileSize(path.c_str(), &size) == FileStatus::Ok;
}

// A picture path is tried as given (from the working folder), then in the
// skin file's folder.
std::string Resolve(const std::string& value, const std::string& folder) {
  std::string path = Slashes(value);
  if (Exists(path) || path.empty() || path[0] == '/' || folder.empty()) return path;
  std::string beside = folder + "/" + path;
  return Exists(beside) ? beside : path;
}

void* LoadBitmap(const std::string& value, const std::string& folder) {
  const std::string path = Resolve(value, folder);
  void* image = gImages->load(gImages->ctx, path.c_str());
  if (!image && gFirstMissing.empty()) gFirstMissing = path;
  return image;
}

// Loads "<prefix>0", "<prefix>1", ... until a key is missing; every present
// key counts, whether or not its file loads.
int LoadNumbered(const IniFile& ini, const char* prefix, BitmapSet& set, const std::string& folder) {
  int n = 0;
  for (; n < kShellSkinMaxBitmaps; ++n) {
    auto value = ini.Get("images", std::string(prefix) + std::to_string(n));
    if (!value) break;
    set.bitmaps[n] = LoadBitmap(*value, folder);
  }
  set.count = n;
  return n;
}

int32_t ReadDecimal(const IniFile& ini, const char* key, const char* fallback) {
  std::string text = ini.Get("screen", key).value_or(fallback);
  return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

const char* SkipBlanks(const char* p) {
  while (*p == ' ' || (*p >= 9 && *p <= 13)) ++p;
  return p;
}

}  // namespace

int ShellSkinParseInts(const char* text, int32_t* out, int max) {
  const char* p = text;
  int n = 0;
  while (n < max) {
    if (n > 0) {
      if (*p != ',') break;
      ++p;
    }
    p = SkipBlanks(p);
    const char* start = p;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    if (*p < '0' || *p > '9') break;
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
      if (value < 0x80000000LL) value = value * 10 + (*p - '0');
    (void)start;
    if (value > 0x7FFFFFFF) value = negative ? 0x80000000LL : 0x7FFFFFFF;
    out[n++] = static_cast<int32_t>(negative ? -value : value);
  }
  return n;
}

void ShellSkinInstallImageOps(const ShellSkinImageOps* ops) { gImages = ops ? ops : &kNoImages; }

void ShellUnloadSkin() {
  ReleaseSet(gSkin.hi);
  ReleaseSet(gSkin.lo);
  ShellSkinReset();
}

int ShellLoadSkin(const char* fileName, HostSettings* settings) {
  ShellUnloadSkin();
  gFailure.clear();
  gFirstMissing.clear();
  std::string path = Slashes(fileName ? fileName : "");
  if (path.empty()) return 0;
  IniFile ini;
  if (IniLoad load = ini.Load(path); load != IniLoad::Read) {
    gFailure = path + (load == IniLoad::Missing ? ": no such file" : ": the file cannot be read");
    return 0;
  }
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "" : path.substr(0, slash);
  const int loaded = ShellLoadSkinFrom(ini, folder, settings);
  // A picture that did not load leaves the skin without it, loaded or not.
  if (!gFirstMissing.empty())
    gFailure = path + ": its picture " + gFirstMissing + " cannot be read";
  else if (!loaded)
    gFailure = path + ": no usable [screen] position or pictures";
  return loaded;
}

const char* ShellSkinFailure() { return gFailure.c_str(); }

int ShellLoadSkinFrom(const IniFile& ini, const std::string& folder, HostSettings* s) {
  ShellUnloadSkin();
  s->softKeys = 0;
  s->softKeySwap = 0;
  s->repeatDelayMs = ReadDecimal(ini, "pandetecttime", "220");
  s->repeatIntervalMs = ReadDecimal(ini, "panintervaltime", "30");
  s->scrollStep = ReadDecimal(ini, "panscreendelta", "4");

  int32_t position[4];
  std::string pos = ini.Get("screen", "position").value_or("");
  if (pos.empty() || ShellSkinParseInts(pos.c_str(), position, 4) < 4) return 0;
  // A screen of no size, or one a frame buffer could not hold, is no screen.
  if (position[2] <= 0 || position[3] <= 0 || position[2] > 4096 || position[3] > 4096) return 0;
  s->display = {position[0], position[1], position[2], position[3]};
  // The two colours are read for the record; nothing draws with them.
  (void)std::strtoul(ini.Get("screen", "hicolor").value_or("ffffff").c_str(), nullptr, 16);
  (void)std::strtoul(ini.Get("screen", "locolor").value_or("000000").c_str(), nullptr, 16);

  const bool highColour = gImages->highColour(gImages->ctx);
  int hiCount = LoadNumbered(ini, "hiskin", gSkin.hi, folder);
  int loCount = LoadNumbered(ini, "loskin", gSkin.lo, folder);
  int count = hiCount;
  if (hiCount == 0) {
    count = loCount;
    if (loCount == 0) {
      // The older form: a foreground and a highlight picture per set.
      const char* keys[4] = {"foregroundHi", "highlightHi", "foregroundLo", "highlightLo"};
      for (int i = 0; i < 4; ++i)
        if (auto value = ini.Get("images", keys[i]))
          (i < 2 ? gSkin.hi : gSkin.lo).bitmaps[i % 2] = LoadBitmap(*value, folder);
      for (int i = 0; i < 2; ++i) {
        hiCount += gSkin.hi.bitmaps[i] != nullptr;
        loCount += gSkin.lo.bitmaps[i] != nullptr;
      }
      gSkin.hi.count = hiCount;
      gSkin.lo.count = loCount;
      count = hiCount ? hiCount : loCount;
    }
  }
  if (count == 0 || (loCount != 0 && loCount != count && hiCount != 0)) {
    ShellUnloadSkin();
    return 0;
  }
  gSkin.bitmapCount = count;
  gSkin.useHi = highColour;
  ShellSkinChooseSet();

  for (int i = 0; i < kShellSkinButtonCount; ++i) {
    std::string value = ini.Get("buttons", kButtonNames[i].name).value_or("0,0,0,0");
    int32_t v[9] = {};
    int n = ShellSkinParseInts(value.c_str(), v, 9);
    ShellSkinButton row{kButtonNames[i].keyCode, v[0], v[1], v[2], v[3], v[4],
                        v[5], v[6], v[7], v[8]};
    if (n < 5) row.pressedBitmap = count >= 2 ? 1 : 0;
    if (n < 6) {
      row.drawX = row.hitX;
      row.drawY = row.hitY;
      row.drawWidth = row.hitWidth;
      row.drawHeight = row.hitHeight;
    }
    if (row.pressedBitmap < 0 || row.pressedBitmap >= count) row.pressedBitmap = 0;
    gSkin.buttons[i] = row;
    if (value != "0,0,0,0" && (i == kSoft1 || i == kSoft2)) s->softKeys = 1;
  }
  const bool bothSoft = ini.Get("buttons", "Soft 1").value_or("0,0,0,0") != "0,0,0,0" &&
                        ini.Get("buttons", "Soft 2").value_or("0,0,0,0") != "0,0,0,0";
  if (bothSoft && gSkin.buttons[kSoft2].hitX < gSkin.buttons[kSoft1].hitX) s->softKeySwap = 1;

  for (int m = 0; m < kCommandCount; ++m) {
    std::string value = ini.Get("mapping", kCommands[m].key).value_or("");
    if (value.empty()) continue;
    for (const ButtonName& b : kButtonNames)
      if (EqualNoCase(b.name, value.c_str())) {
        gSkin.mappedKey[m] = b.keyCode;
        break;
      }
  }

  ShellKeyMapClear();
  for (const ButtonName& b : kButtonNames) {
    std::string value = ini.Get("Accesskeys", b.name).value_or("");
    if (value.empty()) continue;
    char* end = nullptr;
    long index = std::strtol(value.c_str(), &end, 10);
    // Only the twelve characters exist; other indexes are refused.
    if (end == value.c_str() || index < 0 || index > 11) continue;
    ShellKeyMapAdd(static_cast<uint32_t>(b.keyCode), static_cast<uint16_t>(kAccessChars[index]));
  }
  gSkin.loaded = true;
  return 1;
}

int ShellSkinLoaded() { return gSkin.loaded ? 1 : 0; }

void ShellSkinChooseSet() {
  if (gImages->highColour(gImages->ctx))
    gSkin.useHi = gSkin.hi.bitmaps[0] != nullptr;
  else
    gSkin.useHi = gSkin.lo.bitmaps[0] == nullptr;
}

void* ShellSkinBitmap() { return (gSkin.useHi ? gSkin.hi : gSkin.lo).bitmaps[0]; }

void* ShellSkinButtonBitmap(int32_t index) {
  const BitmapSet& set = gSkin.useHi ? gSkin.hi : gSkin.lo;
  if (index < 0 || index >= kShellSkinButtonCount) return set.bitmaps[0];
  int32_t b = gSkin.buttons[index].pressedBitmap;
  return b >= 0 && b < gSkin.bitmapCount && b < kShellSkinMaxBitmaps ? set.bitmaps[b]
                                                                      : set.bitmaps[0];
}

const ShellSkinButton* ShellSkinButtons() { return gSkin.buttons; }

void ShellSkinSetButton(int32_t index, const ShellSkinButton& row) {
  if (index >= 0 && index < kShellSkinButtonCount) gSkin.buttons[index] = row;
}

bool ShellSkinMapCommand(const char* mappingKey, int32_t keyCode) {
  for (int i = 0; i < kCommandCount; ++i)
    if (std::strcmp(kCommands[i].key, mappingKey) == 0) {
      gSkin.mappedKey[i] = keyCode;
      return true;
    }
  return false;
}

void ShellSkinReset() {
  std::memset(gSkin.buttons, 0, sizeof gSkin.buttons);
  std::memset(gSkin.mappedKey, 0, sizeof gSkin.mappedKey);
  gSkin.bitmapCount = 0;
  gSkin.loaded = false;
  ShellKeyMapClear();
}

int32_t ShellSkinTranslateKey(uint32_t keyCode, int32_t* repeat, int32_t* release,
                              uintptr_t* argument) {
  *repeat = 0;
  *release = 0;
  if (uint16_t ch = ShellKeyMapLookup(keyCode)) {
    *argument = ch;
    return kCharacterKey;
  }
  for (int i = 0; i < kCommandCount; ++i)
    if (gSkin.mappedKey[i] != 0 && static_cast<uint32_t>(gSkin.mappedKey[i]) == keyCode) {
      *repeat = kCommands[i].repeat;
      *release = kCommands[i].release;
      return kCommands[i].command;
    }
  return 0;
}
