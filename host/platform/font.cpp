// The font families, their set-up from the settings or the user's choice,
// and the instances made of them.
#include "host/platform/font.h"

#include <cstdio>
#include <cstring>

#include "host/platform/files.h"
#include "host/platform/font_internal.h"

namespace {

struct FontFamily {
  const char* name;
  char16_t face[kFontFaceUnits];
  char16_t fixedFace[kFontFaceUnits];
  FontSizePair* sizes;  // ended by a pair of level 0; null while there are none
  int32_t bold;         // instances get a bold variant
  uint16_t symbols[kFontSymbols];
};

constexpr int32_t kFamilies = 2;
FontFamily gFamilies[kFamilies] = {
    {"BodyText", u"arial", u"lucida console", nullptr, 0, {}},
    {"HeadingText", u"arial", u"lucida console", nullptr, 0, {}},
};
uint8_t* gGlyphBuffer = nullptr;

int DefaultChoose(void*, void*, char16_t*, int32_t, int32_t*) { return -1; }
bool DefaultWrite(void*, const char*, const char*, const char*, const char*) { return false; }
constexpr FontChooserOps kDefaultChooser = {nullptr, DefaultChoose, DefaultWrite};
const FontChooserOps* gChooser = &kDefaultChooser;

FontFamily* Family(int32_t index) {
  return index >= 1 && index <= kFamilies ? &gFamilies[index - 1] : nullptr;
}

void CopyFace(char16_t* to, const char16_t* from) {
  int32_t i = 0;
  for (; i + 1 < kFontFaceUnits && from[i] != u'\0'; ++i) to[i] = from[i];
  to[i] = u'\0';
}

// Replaces the family's size list with a copy of the pairs.
void SetSizes(FontFamily* family, const FontSizePair* pairs, int32_t count) {
  PlatformFree(family->sizes);
  family->sizes = nullptr;
  uint32_t bytes = sizeof(FontSizePair) * static_cast<uint32_t>(count + 1);
  auto* list = static_cast<FontSizePair*>(PlatformAlloc(bytes));
  if (!list) return;
  std::memset(list, 0, bytes);
  std::memcpy(list, pairs, sizeof(FontSizePair) * static_cast<uint32_t>(count));
  family->sizes = list;
}

int32_t SizeCount(const FontFamily* family) {
  int32_t n = 0;
  while (family->sizes && family->sizes[n].level != 0) ++n;
  return n;
}

int32_t ClampCount(int32_t count, int32_t most) {
  return count < 0 ? 0 : count > most ? most : count;
}

void Apply(FontFamily* family, const char16_t* face, const char16_t* fixedFace,
           const FontSizePair* pairs, int32_t count) {
  CopyFace(family->face, face);
  CopyFace(family->fixedFace, fixedFace);
  SetSizes(family, pairs, count);
  family->bold = 0;
}

// qor.ini is read one byte to a character, so the name is written the same
// way; a character beyond Latin-1 cannot be, and becomes "?".
void Narrow(const char16_t* face, char* out) {
  int32_t i = 0;
  for (; face[i] != u'\0'; ++i) out[i] = face[i] <= 0xFF ? static_cast<char>(face[i]) : '?';
  out[i] = '\0';
}

}  // namespace

void FontDefaultSettings(FontSettings* settings) {
  std::memset(settings, 0, sizeof *settings);
  CopyFace(settings->bodyFace, u"Arial");
  CopyFace(settings->headingFace, u"Arial");
  CopyFace(settings->bodyMonoFace, u"Lucida console");
  CopyFace(settings->headingMonoFace, u"Lucida console");
  constexpr int32_t kBody[kFontBodyLevels] = {7, 8, 9, 10, 12, 14, 18};
  constexpr int32_t kHeading[kFontHeadingLevels] = {14, 12, 11, 10, 9, 8};
  for (int32_t i = 0; i < kFontBodyLevels; ++i) settings->bodySizes[i] = {i + 1, kBody[i]};
  for (int32_t i = 0; i < kFontHeadingLevels; ++i) settings->headingSizes[i] = {i + 1, kHeading[i]};
  settings->bodySizeCount = kFontBodyLevels;
  settings->headingSizeCount = kFontHeadingLevels;
  constexpr uint16_t kSymbols[kFontSymbols] = {0x2022, 0x25AA, 0x25E6};
  for (int32_t i = 0; i < kFontSymbols; ++i)
    settings->bodySymbols[i] = settings->headingSymbols[i] = kSymbols[i];
}

uint8_t* FontGlyphBuffer() { return gGlyphBuffer; }

const FontChooserOps* FontInstallChooser(const FontChooserOps* ops) {
  const FontChooserOps* old = gChooser;
  gChooser = ops ? ops : &kDefaultChooser;
  return old == &kDefaultChooser ? nullptr : old;
}

Result FontAskUser(int32_t index, void* owner) {
  FontFamily* family = Family(index);
  if (!family) return FontErr::Setup;
  char16_t face[kFontFaceUnits];
  int32_t tenths = 0;
  // The user has to choose: closing the dialog brings it back.
  for (;;) {
    face[0] = u'\0';
    int answer = gChooser->choose(gChooser->ctx, owner, face, kFontFaceUnits, &tenths);
    if (answer > 0) break;
    if (answer < 0) return FontErr::Setup;
  }
  face[kFontFaceUnits - 1] = u'\0';

  bool body = index == kFontBody;
  int32_t levels = body ? kFontBodyLevels : kFontHeadingLevels;
  int32_t s = tenths / 10;
  FontSizePair pairs[kFontBodyLevels];
  for (int32_t i = 0; i < levels; ++i) {
    int32_t points = body ? s - 3 + i : s + 2 - i;
    pairs[i] = {i + 1, points < 1 ? 1 : points};
  }

  const char* prefix = body ? "Body" : "Heading";
  char narrow[kFontFaceUnits];
  Narrow(face, narrow);
  char key[24];
  char value[16];
  auto write = [](const char* k, const char* v) {
    gChooser->writeSetting(gChooser->ctx, "./qor.ini", "Fonts", k, v);
  };
  write(prefix, narrow);
  std::snprintf(key, sizeof key, "%sMono", prefix);
  write(key, narrow);
  for (int32_t i = 0; i < levels; ++i) {
    std::snprintf(key, sizeof key, "%s%d", prefix, static_cast<int>(pairs[i].level));
    std::snprintf(value, sizeof value, "%d", static_cast<int>(pairs[i].points));
    write(key, value);
  }

  CopyFace(family->face, face);
  CopyFace(family->fixedFace, face);
  SetSizes(family, pairs, levels);
  family->bold = 1;
  return kOk;
}

Result FontInit(const FontSettings* settings) {
  if (!settings || !FontFaceStartUp()) return FontErr::Setup;
  if (!gGlyphBuffer) {
    constexpr uint32_t kBytes = kFontGlyphPitch * kFontGlyphSide;
    gGlyphBuffer = static_cast<uint8_t*>(PlatformAlloc(kBytes));
    if (!gGlyphBuffer) return FontErr::Setup;
    std::memset(gGlyphBuffer, 0, kBytes);
  }
  int32_t bodyCount = ClampCount(settings->bodySizeCount, kFontBodyLevels);
  int32_t headingCount = ClampCount(settings->headingSizeCount, kFontHeadingLevels);
  if (bodyCount == 0) FontAskUser(kFontBody, settings->displayWindow);
  if (headingCount == 0) FontAskUser(kFontHeading, settings->displayWindow);

  FontFamily& body = gFamilies[kFontBody - 1];
  FontFamily& heading = gFamilies[kFontHeading - 1];
  if (bodyCount != 0)
    Apply(&body, settings->bodyFace, settings->bodyMonoFace, settings->bodySizes, bodyCount);
  if (headingCount != 0)
    Apply(&heading, settings->headingFace, settings->headingMonoFace, settings->headingSizes,
          headingCount);
  // The symbols are taken whether the sizes came from the settings or from
  // the user: the host always supplies them, and without them list bullets
  // would be character 0.
  std::memcpy(body.symbols, settings->bodySymbols, sizeof body.symbols);
  std::memcpy(heading.symbols, settings->headingSymbols, sizeof heading.symbols);
  return kOk;
}

void FontTerm() {
  for (FontFamily& family : gFamilies) {
    PlatformFree(family.sizes);
    family.sizes = nullptr;
    family.face[0] = u'\0';
    family.fixedFace[0] = u'\0';
  }
  PlatformFree(gGlyphBuffer);
  gGlyphBuffer = nullptr;
}

Result FontFindFamily(int32_t* index, const char* name) {
  *index = 0;
  if (!name) return FontErr::Setup;
  for (int32_t i = 0; i < kFamilies; ++i) {
    if (std::strcmp(gFamilies[i].name, name) == 0) {
      *index = i + 1;
      return kOk;
    }
  }
  return FontErr::Setup;
}

Result FontCreate(FontInstance** out, int32_t index, int32_t level) {
  *out = nullptr;
  const FontFamily* family = Family(index);
  if (!family || !family->sizes) return FontErr::Setup;
  const FontSizePair* best = nullptr;
  int64_t bestDistance = 0;
  for (const FontSizePair* pair = family->sizes; pair->level != 0; ++pair) {
    int64_t distance = int64_t{pair->level} - level;
    if (distance < 0) distance = -distance;
    if (!best || distance < bestDistance) {
      best = pair;
      bestDistance = distance;
    }
    if (distance == 0) break;
  }
  if (!best) return FontErr::Setup;

  auto* instance = static_cast<FontInstance*>(PlatformAlloc(sizeof(FontInstance)));
  if (!instance) return FontErr::NoMemory;
  std::memset(instance, 0, sizeof *instance);
  instance->normal = FontFaceOpen(family->face, best->points, false, false);
  if (!instance->normal) {
    PlatformFree(instance);
    return FontErr::NoMemory;
  }
  for (int i = 0; i < kFontSymbols; ++i) instance->symbols[i] = family->symbols[i];
  if (family->bold) instance->bold = FontFaceOpen(family->face, best->points, true, false);
  const char16_t* fixed = family->fixedFace[0] != u'\0' ? family->fixedFace : family->face;
  instance->fixed = FontFaceOpen(fixed, best->points, false, true);
  *out = instance;
  return kOk;
}

void FontRelease(FontInstance* instance) {
  if (!instance) return;
  FontFaceClose(&instance->normal);
  FontFaceClose(&instance->bold);
  FontFaceClose(&instance->fixed);
  PlatformFree(instance);
}

FontFace* FontCreateBodyFont() {
  const FontFamily& body = gFamilies[kFontBody - 1];
  int32_t count = SizeCount(&body);
  if (count == 0) return nullptr;
  // The third pair is the body text's middle size; a shorter list has none,
  // and its last (largest level) pair is the nearest to it.
  const FontSizePair& pair = body.sizes[count < 3 ? count - 1 : 2];
  return FontFaceOpen(body.face, pair.points, false, false);
}

void FontReleaseFace(FontFace** face) { FontFaceClose(face); }
