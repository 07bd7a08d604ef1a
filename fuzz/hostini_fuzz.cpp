// qor.ini is the user's: any bytes read as a settings block whose values
// stay inside their limits and whose texts stay ended inside their fields.
// The file is written to and read from a private folder.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/private_folder.h"
#include "host/hostini.h"
#include "host/hostsettings.h"
#include "host/platform/lang.h"
#include "kernel/ubstore.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Ended(const char* text, size_t size) { return std::memchr(text, 0, size) != nullptr; }

bool EndedWide(const char16_t* text, size_t units) {
  for (size_t i = 0; i < units; ++i)
    if (!text[i]) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = FuzzPrivateFolder("hostini-fuzz", false) + "/qor.ini";
  if (size > 8192) return 0;
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  HostSettings s;
  std::memset(&s, 0xA5, sizeof s);
  HostSettingsClear(&s);
  HostReadIniFile(&s, path);
  Check(s.memoryBytes >= 1024 && s.memoryBytes <= 16384u * 1024u && s.memoryBytes % 1024 == 0);
  Check(s.frameRate >= 1 && s.frameRate <= 84);
  Check(Ended(s.homeUrl, sizeof s.homeUrl) && Ended(s.skinFile, sizeof s.skinFile));
  const FontSettings& f = s.fonts;
  Check(EndedWide(f.bodyFace, kFontFaceUnits) && EndedWide(f.bodyMonoFace, kFontFaceUnits) &&
        EndedWide(f.headingFace, kFontFaceUnits) && EndedWide(f.headingMonoFace, kFontFaceUnits));
  Check(f.bodySizeCount >= 0 && f.bodySizeCount <= kFontBodyLevels);
  Check(f.headingSizeCount >= 0 && f.headingSizeCount <= kFontHeadingLevels);
  for (int i = 0; i < kFontSymbols; ++i) Check(f.bodySymbols[i] != 0 && f.headingSymbols[i] != 0);
  for (int32_t i = 0; i < 4; ++i) Check(UbstoreGetQuota(i) >= 0);
  HostDefaultDisplay(&s, HostPhoneSize());
  Check(s.display.width == (s.largePhone ? 160 : 96));

  // The number lists on their own, as bytes without a terminator of ours.
  std::string text(reinterpret_cast<const char*>(data), size);
  uint16_t values[3] = {1, 2, 3};
  HostParseNumberList(text.c_str(), values, 3, 1, 65535);
  for (uint16_t v : values) Check(v >= 1);
  // A language the file named stays current only when it exists.
  Check(ShellGetLanguage() != nullptr);
  return 0;
}
