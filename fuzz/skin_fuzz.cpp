// Skin settings files come from skin authors: any bytes as a skin file,
// loaded by path from a private folder, must load or refuse whole; a loaded
// skin maps every key it names to a command (or none) and hands out only
// pictures it loaded; unloading gives every picture back. The number lists
// inside are also parsed on their own.
//
// Pictures "load" for any path not ending in "!", so the fuzzer decides
// which loads fail; the screen's colour depth follows the input's length.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "fuzz/private_folder.h"
#include "host/hostini.h"
#include "host/hostsettings.h"
#include "host/ini.h"
#include "host/skin.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::set<void*> gLoaded;
bool gHighColour = true;

void* Load(void*, const char* path) {
  const std::string p = path;
  if (p.empty() || p.back() == '!') return nullptr;
  void* image = std::malloc(1);
  gLoaded.insert(image);
  return image;
}

void Release(void*, void* image) {
  if (!image) return;
  Check(gLoaded.erase(image) == 1);  // only pictures it loaded, each once
  std::free(image);
}

bool HighColour(void*) { return gHighColour; }

const ShellSkinImageOps kImages{nullptr, Load, Release, HighColour};

bool Known(void* image) { return image == nullptr || gLoaded.count(image) == 1; }

void Use(const HostSettings& settings) {
  Check(settings.display.width > 0 && settings.display.height > 0);
  Check(Known(ShellSkinBitmap()));
  for (int32_t i = -1; i <= kShellSkinButtonCount; ++i) Check(Known(ShellSkinButtonBitmap(i)));
  gHighColour = !gHighColour;
  ShellSkinChooseSet();
  Check(Known(ShellSkinBitmap()));
  const ShellSkinButton* buttons = ShellSkinButtons();
  for (int i = 0; i < kShellSkinButtonCount; ++i) {
    int32_t repeat = 0, release = 0;
    uintptr_t arg = 0;
    ShellSkinTranslateKey(static_cast<uint32_t>(buttons[i].keyCode), &repeat, &release, &arg);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = FuzzPrivateFolder("skin-fuzz", false) + "/skin.ini";
  if (size > 16384) return 0;
  ShellSkinInstallImageOps(&kImages);
  gHighColour = size & 1;
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  HostSettings settings;
  HostSettingsClear(&settings);
  if (ShellLoadSkin(path.c_str(), &settings)) {
    Check(ShellSkinLoaded() == 1);
    Use(settings);
  } else {
    Check(ShellSkinLoaded() == 0 && gLoaded.empty());
  }
  ShellUnloadSkin();
  Check(gLoaded.empty());

  IniFile ini;
  ini.LoadBytes(data, size);
  HostSettingsClear(&settings);
  if (ShellLoadSkinFrom(ini, "", &settings)) Use(settings);
  int32_t repeat = 0, release = 0;
  uintptr_t arg = 0;
  for (uint32_t code : {224u, 229u, 237u, 65u, 0u}) ShellSkinTranslateKey(code, &repeat, &release, &arg);
  ShellUnloadSkin();
  Check(gLoaded.empty());
  ShellSkinInstallImageOps(nullptr);

  std::string text(reinterpret_cast<const char*>(data), size);
  int32_t values[9];
  Check(ShellSkinParseInts(text.c_str(), values, 9) <= 9);
  uint16_t symbols[3] = {1, 2, 3};
  HostParseNumberList(text.c_str(), symbols, 3, 1, 65535);
  return 0;
}
