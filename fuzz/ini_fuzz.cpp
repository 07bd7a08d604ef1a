// Profile files come from users and skin authors: any bytes must parse, and
// a write must change exactly the key written.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "host/ini.h"

namespace {

void IniFuzzCheck(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  IniFile ini;
  ini.LoadBytes(data, size);

  char text[32];
  size_t n = ini.GetString("Display", "Skin", "none", text, sizeof text);
  IniFuzzCheck(n < sizeof text && text[n] == '\0');
  ini.GetInt("Memory", "Size", 128);
  ini.GetInt("Options", "FrameRate", 35);
  std::optional<std::string> body = ini.Get("fonts", "BODY");
  std::optional<std::string> memory = ini.Get("Memory", "Size");

  // Setting one key leaves every other key as it was.
  IniFuzzCheck(ini.Set("Fonts", "Body1", " 12 "));
  IniFile again;
  again.LoadText(ini.Text());
  IniFuzzCheck(again.Get("Fonts", "Body1") == " 12 ");
  IniFuzzCheck(again.Get("Fonts", "Body") == body);
  IniFuzzCheck(again.Get("Memory", "Size") == memory);

  IniFuzzCheck(again.Set("Memory", "Size", "64"));
  IniFuzzCheck(again.Get("Fonts", "Body1") == " 12 ");
  again.RemoveKey("Fonts", "Body1");
  IniFuzzCheck(!again.Get("Fonts", "Body1"));
  again.RemoveSection("Memory");
  IniFuzzCheck(!again.HasSection("Memory"));
  return 0;
}
