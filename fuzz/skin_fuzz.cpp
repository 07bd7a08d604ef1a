// Arbitrary bytes as a skin settings file, and as the number lists inside it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/hostini.h"
#include "host/hostsettings.h"
#include "host/ini.h"
#include "host/skin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  IniFile ini;
  ini.LoadBytes(data, size);
  HostSettings settings;
  HostSettingsClear(&settings);
  ShellLoadSkinFrom(ini, "", &settings);
  int32_t repeat = 0, release = 0;
  uintptr_t arg = 0;
  for (uint32_t code : {224u, 229u, 237u, 65u, 0u}) ShellSkinTranslateKey(code, &repeat, &release, &arg);
  ShellUnloadSkin();

  std::string text(reinterpret_cast<const char*>(data), size);
  int32_t values[9];
  ShellSkinParseInts(text.c_str(), values, 9);
  uint16_t symbols[3] = {1, 2, 3};
  HostParseNumberList(text.c_str(), symbols, 3, 1, 65535);
  return 0;
}
