// The engine's own fontconfig configuration: the faces of the three font
// packages the set-up installs, and rules that map the names a profile uses
// onto them. The desktop's configuration and its other fonts take no part,
// so the same glyphs are drawn on every machine whatever else is installed.
#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include "host/fontft_internal.h"

namespace {

// fonts-liberation, fonts-dejavu-core and fonts-nanum, file by file: a
// package such as fonts-dejavu-extra adds faces to the same folders.
constexpr const char* kFontFolder = "/usr/share/fonts/truetype/";
constexpr const char* kFontFiles[] = {
    "liberation/LiberationSans-Regular.ttf",
    "liberation/LiberationSans-Bold.ttf",
    "liberation/LiberationSans-Italic.ttf",
    "liberation/LiberationSans-BoldItalic.ttf",
    "liberation/LiberationSansNarrow-Regular.ttf",
    "liberation/LiberationSansNarrow-Bold.ttf",
    "liberation/LiberationSansNarrow-Italic.ttf",
    "liberation/LiberationSansNarrow-BoldItalic.ttf",
    "liberation/LiberationSerif-Regular.ttf",
    "liberation/LiberationSerif-Bold.ttf",
    "liberation/LiberationSerif-Italic.ttf",
    "liberation/LiberationSerif-BoldItalic.ttf",
    "liberation/LiberationMono-Regular.ttf",
    "liberation/LiberationMono-Bold.ttf",
    "liberation/LiberationMono-Italic.ttf",
    "liberation/LiberationMono-BoldItalic.ttf",
    "dejavu/DejaVuSans.ttf",
    "dejavu/DejaVuSans-Bold.ttf",
    "dejavu/DejaVuSansMono.ttf",
    "dejavu/DejaVuSansMono-Bold.ttf",
    "dejavu/DejaVuSerif.ttf",
    "dejavu/DejaVuSerif-Bold.ttf",
    "nanum/NanumGothic.ttf",
    "nanum/NanumGothicBold.ttf",
    "nanum/NanumGothicCoding.ttf",
    "nanum/NanumGothicCodingBold.ttf",
    "nanum/NanumBarunGothic.ttf",
    "nanum/NanumBarunGothicBold.ttf",
    "nanum/NanumMyeongjo.ttf",
    "nanum/NanumMyeongjoBold.ttf",
    "nanum/NanumSquareR.ttf",
    "nanum/NanumSquareB.ttf",
    "nanum/NanumSquareRoundR.ttf",
    "nanum/NanumSquareRoundB.ttf",
};

// Every family is bound strongly, so that the desktop's language cannot
// reorder the fallbacks.
constexpr char kRules[] = R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <!-- Some Nanum bold faces call themselves regular. -->
  <match target="scan">
    <test name="fullname" compare="eq"><string>NanumBarunGothic Bold</string></test>
    <edit name="weight" mode="assign"><const>bold</const></edit>
  </match>
  <match target="scan">
    <test name="fullname" compare="eq"><string>NanumGothicBold</string></test>
    <edit name="weight" mode="assign"><const>bold</const></edit>
  </match>
  <match target="scan">
    <test name="fullname" compare="eq"><string>NanumMyeongjoBold</string></test>
    <edit name="weight" mode="assign"><const>bold</const></edit>
  </match>

  <!-- The faces the shipped profile names, and their generic kin. -->
  <alias binding="strong"><family>Arial</family><prefer><family>Liberation Sans</family></prefer></alias>
  <alias binding="strong"><family>Helvetica</family><prefer><family>Liberation Sans</family></prefer></alias>
  <alias binding="strong"><family>sans-serif</family><prefer><family>Liberation Sans</family></prefer></alias>
  <alias binding="strong"><family>Times New Roman</family><prefer><family>Liberation Serif</family></prefer></alias>
  <alias binding="strong"><family>serif</family><prefer><family>Liberation Serif</family></prefer></alias>
  <alias binding="strong"><family>Lucida console</family><prefer><family>DejaVu Sans Mono</family></prefer></alias>
  <alias binding="strong"><family>Courier New</family><prefer><family>Liberation Mono</family></prefer></alias>
  <alias binding="strong"><family>monospace</family><prefer><family>DejaVu Sans Mono</family></prefer></alias>

  <!-- Where a named face lacks a character: fixed pitch first when asked. -->
  <match target="pattern">
    <test name="spacing" compare="eq"><const>mono</const></test>
    <edit name="family" mode="append_last" binding="strong">
      <string>DejaVu Sans Mono</string>
      <string>NanumGothicCoding</string>
      <string>NanumGothic</string>
      <string>DejaVu Sans</string>
    </edit>
  </match>
  <match target="pattern">
    <edit name="family" mode="append_last" binding="strong">
      <string>Liberation Sans</string>
      <string>DejaVu Sans</string>
      <string>NanumGothic</string>
    </edit>
  </match>

  <!-- A bold request on a face without a bold of its own. -->
  <match target="font">
    <test name="weight" compare="less_eq"><const>medium</const></test>
    <test target="pattern" name="weight" compare="more_eq"><const>bold</const></test>
    <edit name="embolden" mode="assign"><bool>true</bool></edit>
    <edit name="weight" mode="assign"><const>bold</const></edit>
  </match>
</fontconfig>
)";

}  // namespace

FcConfig* FontConfigCreate() {
  FcConfig* config = FcConfigCreate();
  if (!config) return nullptr;
  int added = 0;
  if (FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(kRules), FcTrue) ==
      FcTrue) {
    for (const char* name : kFontFiles) {
      char path[256];
      size_t n = 0;
      for (const char* p = kFontFolder; *p != '\0'; ++p) path[n++] = *p;
      for (const char* p = name; *p != '\0' && n + 1 < sizeof path; ++p) path[n++] = *p;
      path[n] = '\0';
      if (::access(path, R_OK) == 0 &&
          FcConfigAppFontAddFile(config, reinterpret_cast<const FcChar8*>(path)) == FcTrue)
        ++added;
    }
  }
  if (added == 0) {
    // Without the packages (a machine not set up by the scripts) the
    // desktop's own configuration is better than no text at all.
    FcConfigDestroy(config);
    return FcInitLoadConfigAndFonts();
  }
  return config;
}
