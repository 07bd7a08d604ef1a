// Font families: finding a family, the nearest size level, the variants of a
// style, the symbols, the host's body font, the engine's calls without a
// renderer, and the font chooser that fills a family without sizes and
// writes it to qor.ini.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "host/ini.h"
#include "host/platform/font.h"
#include "tests/host/font_fixture.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using FontFamilies = FontFixture;

int32_t PointsAt(FontInstance* instance) { return FontFixture::Describe(instance->normal).points; }

TEST_F(FontFamilies, ALevelOutsideTheListTakesTheNearestEndAndBetweenTwoTheFirst) {
  Init(ShippedSettings());
  EXPECT_EQ(PointsAt(Create(kFontBody, 9)), 18);  // level 7
  EXPECT_EQ(PointsAt(Create(kFontBody, 0)), 7);   // level 1
  // Distances that would overflow 32 bits still pick an end.
  EXPECT_EQ(PointsAt(Create(kFontBody, INT32_MIN)), 7);
  EXPECT_EQ(PointsAt(Create(kFontBody, INT32_MAX)), 18);
  // Between two levels the first of the list wins.
  FontSettings s = ShippedSettings();
  s.bodySizes[0] = {2, 8};
  s.bodySizes[1] = {4, 12};
  s.bodySizeCount = 2;
  Init(s);
  EXPECT_EQ(PointsAt(Create(kFontBody, 3)), 8);
  EXPECT_EQ(PointsAt(Create(kFontBody, 5)), 12);
}

TEST_F(FontFamilies, BoldWinsOverFixedPitchButHasBoldWantsBoldAlone) {
  FontSettings s = ShippedSettings();
  s.bodySizeCount = 0;  // the chooser's choice brings a bold variant
  Init(s);
  FontInstance* font = Create(kFontBody, 4);
  ASSERT_NE(font, nullptr);
  ASSERT_NE(font->bold, nullptr);
  EXPECT_EQ(FontSelectVariant(font, 0x24), font->bold);
  EXPECT_EQ(FontSelectVariant(font, 0x20), font->fixed);
  EXPECT_EQ(FontHasBold(font, 0x04), 1);
  EXPECT_EQ(FontHasBold(font, 0x24), 0);
  EXPECT_EQ(Describe(font->bold).bold, 1);
}

TEST_F(FontFamilies, FacesResolveToInstalledOnes) {
  Init(ShippedSettings());
  FontInstance* font = Create(kFontBody, 4);
  ASSERT_NE(font, nullptr);
  // Arial's metric twin, and a fixed-pitch face for the missing Lucida: the
  // engine's own choice, whatever else the desktop has installed.
  EXPECT_STREQ(Describe(font->normal).family, "Liberation Sans");
  EXPECT_STREQ(Describe(FontSelectVariant(font, FontStyle::Fixed)).family, "DejaVu Sans Mono");
  int32_t narrow = 0, wide = 0;
  ASSERT_EQ(FontGetCharWidth(font, u'i', &narrow, FontStyle::Fixed), kOk);
  ASSERT_EQ(FontGetCharWidth(font, u'W', &wide, FontStyle::Fixed), kOk);
  EXPECT_EQ(narrow, wide);
  int32_t maxWidth = 0;
  FontGetMetrics(font, FontMetric::MaxWidth, &maxWidth, FontStyle::Fixed);
  EXPECT_EQ(maxWidth, wide);
  EXPECT_EQ(Describe(font->normal).pixels, 13);  // 10 points at 96 dpi
}


// A face name beyond ASCII, a pair of surrogates and a lone half included,
// is asked for as it stands; a face the desktop lacks still gives a face.
// Every open of one face, size and variant is one face mapped and cached
// once: a window or popup that opens its fonts again costs no more, and the
// face stays for the others until the last lets it go.
TEST_F(FontFamilies, InstancesOfOneSizeShareTheirFacesTillTheLastIsReleased) {
  Init(ShippedSettings());
  FontInstance* first = nullptr;
  ASSERT_EQ(FontCreate(&first, kFontBody, 4), kOk);
  FontInstance* second = Create(kFontBody, 4);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->normal, first->normal);
  EXPECT_EQ(second->fixed, first->fixed);
  EXPECT_NE(Create(kFontBody, 5)->normal, first->normal);  // another size
  FontRelease(first);
  int32_t width = 0;
  EXPECT_EQ(FontGetCharWidth(second, 'W', &width, 0), kOk);
  EXPECT_GT(width, 0);
  EXPECT_EQ(Describe(second->normal).points, PointsAt(Create(kFontBody, 4)));
}

TEST_F(FontFamilies, FaceNamesBeyondAsciiAreAskedForAndKept) {
  const std::u16string names[] = {u"Caf\u00e9 \u4e2d\U0001F600",
                                  std::u16string(u"x") + char16_t{0xD800} + u"y" + char16_t{0xDC00},
                                  std::u16string(kFontFaceUnits - 1, u'\u4e2d')};
  for (const std::u16string& name : names) {
    FontSettings s = ShippedSettings();
    name.copy(s.bodyFace, kFontFaceUnits - 1);
    s.bodyFace[name.size() < kFontFaceUnits ? name.size() : kFontFaceUnits - 1] = u'\0';
    Init(s);
    FontInstance* font = Create(kFontBody, 4);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(std::u16string(Describe(font->normal).face), name);
    int32_t width = 0;
    EXPECT_EQ(FontGetCharWidth(font, u'A', &width, 0), kOk);
    EXPECT_GT(width, 0);
  }
}

// Compared byte for byte: no case folding, no prefixes.
TEST_F(FontFamilies, FamiliesAreFoundByTheirExactName) {
  Init(ShippedSettings());
  const std::pair<const char*, Result> rows[] = {
      {"BodyText", kOk}, {"HeadingText", kOk}, {"bodytext", FontErr::Setup},
      {"Body", FontErr::Setup}, {"BodyTextX", FontErr::Setup}, {"", FontErr::Setup}};
  for (const auto& [name, result] : rows) {
    int32_t index = -1;
    EXPECT_EQ(FontFindFamily(&index, name), result) << name;
    const int32_t expected = result != kOk ? 0 : name[0] == 'B' ? kFontBody : kFontHeading;
    EXPECT_EQ(index, expected) << name;
  }
}

TEST_F(FontFamilies, AFamilyWithoutSizesCreatesNothing) {
  chooser.answers = {-1, -1};  // no chooser on this desktop
  FontSettings s = ShippedSettings();
  s.bodySizeCount = 0;
  Init(s);  // still succeeds: the family just has no sizes
  Result result = kOk;
  EXPECT_EQ(Create(kFontBody, 1, &result), nullptr);
  EXPECT_EQ(result, FontErr::Setup);
  EXPECT_EQ(FontCreateBodyFont(), nullptr);
  EXPECT_NE(Create(kFontHeading, 1), nullptr);
  for (int32_t family : {0, 3, -1}) {
    EXPECT_EQ(Create(family, 1, &result), nullptr);
    EXPECT_EQ(result, FontErr::Setup);
  }
}

TEST_F(FontFamilies, TheSymbolsComeWithTheInstance) {
  FontSettings s = ShippedSettings();
  s.headingSymbols[1] = 0x2013;
  Init(s);
  FontInstance* heading = Create(kFontHeading, 1);
  ASSERT_NE(heading, nullptr);
  const std::pair<int32_t, uint16_t> rows[] = {{0, 0x2022}, {1, 0x2013}, {2, 0x25E6},
                                               {3, 0},      {-1, 0},     {kFontSymbols, 0}};
  for (const auto& [n, symbol] : rows) EXPECT_EQ(FontGetSymbol(heading, n), symbol) << n;
  EXPECT_EQ(FontGetSymbol(nullptr, 0), 0);
}

// The host's own body font is the third size, or the last of fewer.
TEST_F(FontFamilies, TheBodyFontForTheHostTakesTheThirdOrTheLastPair) {
  FontSettings s = ShippedSettings();
  for (auto [count, points] : {std::pair{s.bodySizeCount, 9}, {2, 8}}) {
    s.bodySizeCount = count;
    Init(s);
    FontFace* face = FontCreateBodyFont();
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(Describe(face).points, points);
    FontReleaseFace(&face);
    EXPECT_EQ(face, nullptr);
  }
}

TEST_F(FontFamilies, TermForgetsTheSizesAndTheGlyphBuffer) {
  Init(ShippedSettings());
  FontInstance* font = Create(kFontBody, 1);
  ASSERT_NE(font, nullptr);
  FontTerm();
  Result result = kOk;
  EXPECT_EQ(Create(kFontBody, 1, &result), nullptr);
  EXPECT_EQ(result, FontErr::Setup);
  PglSurface* none = nullptr;
  EXPECT_EQ(FontDrawText(font, u'A', none, 0), FontErr::Setup);
  // The instance made before still measures, one character or a pair.
  int32_t width = 0, pair = 0;
  EXPECT_EQ(FontGetCharWidth(font, u'A', &width, 0), kOk);
  EXPECT_GT(width, 0);
  EXPECT_EQ(FontTextPairWidth(font, u"AA", &pair, 0), kOk);
  EXPECT_EQ(pair, 2 * width);
  EXPECT_EQ(FontTextPairWidth(font, nullptr, &pair, 0), FontErr::NoGlyph);
  EXPECT_EQ(pair, 0);
}

// Without a renderer every font call of the engine fails and fills nothing.
TEST(FontWithoutRenderer, EveryCallFailsAndClearsItsAnswer) {
  const FontOps* previous = FontInstallOps(nullptr);
  int32_t index = 7, value = 7, width = 7;
  FontInstance* instance = reinterpret_cast<FontInstance*>(&index);
  EXPECT_EQ(FontFindFamily(&index, "BodyText"), FontErr::Setup);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(FontFindFamily(nullptr, "BodyText"), FontErr::Setup);
  EXPECT_EQ(FontCreate(&instance, kFontBody, 1), FontErr::Setup);
  EXPECT_EQ(instance, nullptr);
  EXPECT_EQ(FontCreate(nullptr, kFontBody, 1), FontErr::Setup);
  FontRelease(nullptr);
  EXPECT_EQ(FontHasBold(nullptr, FontStyle::Bold), 0);
  EXPECT_EQ(FontGetMetrics(nullptr, FontMetric::Ascent, &value, 0), FontErr::Setup);
  EXPECT_EQ(FontGetCharWidth(nullptr, u'A', &width, 0), FontErr::Setup);
  EXPECT_EQ(width, 0);
  EXPECT_EQ(FontGetCharWidth(nullptr, u'A', nullptr, 0), FontErr::Setup);
  EXPECT_EQ(FontDrawText(nullptr, u'A', nullptr, 0), FontErr::Setup);
  FontStubHook(nullptr);
  EXPECT_EQ(FontInstallOps(previous), nullptr);
}

class FontChooser : public FontFixture {
 protected:
  void SetUp() override {
    FontFixture::SetUp();
    chooser.toFile = true;
  }
  // What the working folder's qor.ini holds now.
  static std::string Written(const char* key) {
    IniFile ini;
    ini.Load("qor.ini");
    return ini.Get("Fonts", key).value_or("<none>");
  }
  static FontSettings WithoutSizes() {
    FontSettings s = ShippedSettings();
    s.bodySizeCount = 0;
    s.headingSizeCount = 0;
    return s;
  }

  TempDir dir_{true};
};

TEST_F(FontChooser, AChoiceWritesTheFacesAndBothLaddersToQorIni) {
  FontSettings s = WithoutSizes();
  int owner = 0;
  s.displayWindow = &owner;
  Init(s);
  EXPECT_EQ(chooser.calls, 2);
  EXPECT_EQ(chooser.lastOwner, &owner);
  for (const char* key : {"Body", "BodyMono", "Heading", "HeadingMono"})
    EXPECT_EQ(Written(key), "Arial") << key;
  EXPECT_EQ(Written("Body8"), "<none>");
  // The families take the ladders at once.
  EXPECT_EQ(PointsAt(Create(kFontBody, 7)), 13);
  EXPECT_EQ(PointsAt(Create(kFontHeading, 6)), 7);
}

// The ladders around the chosen size, never below one point.
TEST_F(FontChooser, TheLaddersAroundTheChosenSize) {
  struct Case {
    int32_t tenths;
    std::vector<std::string> body, heading;
  };
  const Case cases[] = {
      {100, {"7", "8", "9", "10", "11", "12", "13"}, {"12", "11", "10", "9", "8", "7"}},
      {20, {"1", "1", "1", "2", "3", "4", "5"}, {"4", "3", "2", "1", "1", "1"}},
  };
  for (const Case& c : cases) {
    chooser.tenths = c.tenths;
    Init(WithoutSizes());
    std::vector<std::string> body, heading;
    for (int i = 1; i <= 7; ++i) body.push_back(Written(("Body" + std::to_string(i)).c_str()));
    for (int i = 1; i <= 6; ++i)
      heading.push_back(Written(("Heading" + std::to_string(i)).c_str()));
    EXPECT_EQ(body, c.body) << c.tenths;
    EXPECT_EQ(heading, c.heading) << c.tenths;
  }
}

TEST_F(FontChooser, AFaceBeyondLatin1IsWrittenAsQorIniReadsIt) {
  chooser.face = u"Caf\u00e9 \u4e2d";
  FontSettings s = ShippedSettings();
  s.bodySizeCount = 0;
  Init(s);
  ASSERT_FALSE(chooser.writes.empty());
  EXPECT_EQ(chooser.writes[0].first, "Body");
  EXPECT_EQ(chooser.writes[0].second, "Caf\xe9 ?");
}

TEST(FontChooserDefault, WithoutAChooserNothingIsAskedOrWritten) {
  FontSettings s{};
  s.headingSizeCount = 0;
  EXPECT_EQ(FontInit(&s), kOk);
  EXPECT_EQ(FontAskUser(kFontBody, nullptr), FontErr::Setup);
  EXPECT_EQ(FontAskUser(7, nullptr), FontErr::Setup);
  FontInstance* font = nullptr;
  EXPECT_EQ(FontCreate(&font, kFontBody, 1), FontErr::Setup);
  FontTerm();
}

}  // namespace
