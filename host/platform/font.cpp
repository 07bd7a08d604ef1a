// The engine's font calls, passed to the installed renderer.
#include "host/platform/font.h"

#include <cstring>

namespace {

Result NoFamily(int32_t* index, const char*) {
  if (index) *index = 0;
  return FontErr::Setup;
}
Result NoInstance(FontInstance** out, int32_t, int32_t) {
  if (out) *out = nullptr;
  return FontErr::Setup;
}
void NoRelease(FontInstance*) {}
int32_t NoBold(const FontInstance*, uint32_t) { return 0; }
Result NoMetrics(const FontInstance*, int32_t, int32_t*, uint32_t) { return FontErr::Setup; }
Result NoWidth(const FontInstance*, uint16_t, int32_t* width, uint32_t) {
  if (width) *width = 0;
  return FontErr::Setup;
}
Result NoGlyph(const FontInstance*, uint16_t, PglSurface*, uint32_t) { return FontErr::Setup; }
void NoHook(PglSurface*) {}

constexpr FontOps kNoFonts = {NoFamily, NoInstance, NoRelease, NoBold,
                              NoMetrics, NoWidth,   NoGlyph,   NoHook};
const FontOps* gOps = &kNoFonts;

}  // namespace

const FontOps* FontInstallOps(const FontOps* ops) {
  const FontOps* old = gOps;
  gOps = ops ? ops : &kNoFonts;
  return old == &kNoFonts ? nullptr : old;
}

Result FontFindFamily(int32_t* index, const char* name) { return gOps->findFamily(index, name); }
Result FontCreate(FontInstance** out, int32_t family, int32_t level) {
  return gOps->create(out, family, level);
}
void FontRelease(FontInstance* instance) { gOps->release(instance); }
int32_t FontHasBold(const FontInstance* instance, uint32_t style) {
  return gOps->hasBold(instance, style);
}
Result FontGetMetrics(const FontInstance* instance, int32_t which, int32_t* value,
                      uint32_t style) {
  return gOps->getMetrics(instance, which, value, style);
}
Result FontGetCharWidth(const FontInstance* instance, uint16_t character, int32_t* width,
                        uint32_t style) {
  return gOps->getCharWidth(instance, character, width, style);
}
Result FontDrawText(const FontInstance* instance, uint16_t character, PglSurface* glyph,
                    uint32_t style) {
  return gOps->drawText(instance, character, glyph, style);
}
void FontStubHook(PglSurface* glyph) { gOps->doneWithGlyph(glyph); }

namespace {

void CopyFace(char16_t* to, const char16_t* from) {
  int i = 0;
  for (; from[i] && i + 1 < kFontFaceUnits; ++i) to[i] = from[i];
  to[i] = u'\0';
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
