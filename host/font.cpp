// The font engine keeps the settings until glyphs are rendered.
#include "host/font.h"

namespace {
FontSettings gSettings;
}

int32_t FontInit(const FontSettings* settings) {
  gSettings = *settings;
  return 0;
}
