// Skin files: loading and refusing them, the button table, the command
// mapping and access keys.
#include <gtest/gtest.h>

#include <string>

#include "host/hostsettings.h"
#include "host/ini.h"
#include "host/platform/shell.h"
#include "host/skin.h"

namespace {

// Pictures are names; a name starting with "missing" does not load.
class SkinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HostSettingsClear(&settings);
    ops = {this,
           [](void* c, const char* path) -> void* {
             auto* self = static_cast<SkinTest*>(c);
             if (std::string(path).find("missing") != std::string::npos) return nullptr;
             ++self->live;
             return new std::string(path);
           },
           [](void* c, void* image) {
             --static_cast<SkinTest*>(c)->live;
             delete static_cast<std::string*>(image);
           },
           [](void* c) { return static_cast<SkinTest*>(c)->highColour; }};
    ShellSkinInstallImageOps(&ops);
  }
  void TearDown() override {
    ShellUnloadSkin();
    EXPECT_EQ(live, 0) << "pictures left loaded";
    ShellSkinInstallImageOps(nullptr);
  }
  int Load(const std::string& text) {
    IniFile ini;
    ini.LoadText(text);
    return ShellLoadSkinFrom(ini, "", &settings);
  }
  static std::string Name(void* image) { return image ? *static_cast<std::string*>(image) : ""; }
  int32_t Command(uint32_t code, int32_t* repeat = nullptr, int32_t* release = nullptr,
                  uintptr_t* arg = nullptr) {
    int32_t r = 0, l = 0;
    uintptr_t a = 0;
    int32_t c = ShellSkinTranslateKey(code, &r, &l, &a);
    if (repeat) *repeat = r;
    if (release) *release = l;
    if (arg) *arg = a;
    return c;
  }

  HostSettings settings;
  ShellSkinImageOps ops;
  int live = 0;
  bool highColour = true;
};

const char kTwoPictures[] =
    "[screen]\nposition=50,104,160,240\n[images]\nhiskin0=a.bmp\nhiskin1=b.bmp\n";

TEST_F(SkinTest, ScreenTimesAndPictures) {
  ASSERT_EQ(Load(std::string(kTwoPictures) + "[screen]\npandetecttime=9\n"), 1);
  EXPECT_EQ(settings.display.height, 240);
  EXPECT_EQ(settings.repeatDelayMs, 220);  // the second [screen] is not read
  EXPECT_EQ(Name(ShellSkinBitmap()), "a.bmp");
  EXPECT_TRUE(ShellSkinLoaded());
}

// A position of fewer than four numbers (or a zero size) and picture sets of
// different sizes fail the load, and leave no picture loaded.
TEST_F(SkinTest, BadPositionsAndUnequalPictureSetsFailTheLoad) {
  for (const char* text : {"[screen]\nposition=1,2,3\n[images]\nhiskin0=a.bmp\n",
                           "[screen]\nposition=1,2,0,4\n[images]\nhiskin0=a.bmp\n",
                           "[screen]\nposition=0,0,96,64\n[images]\nhiskin0=a\nhiskin1=b\n"
                           "loskin0=c\n",
                           "[screen]\nposition=0,0,96,64\n[images]\n"}) {
    EXPECT_EQ(Load(text), 0) << text;
    EXPECT_EQ(live, 0) << text;
    EXPECT_FALSE(ShellSkinLoaded()) << text;
  }
  // A key whose file does not load still counts; its slot stays empty.
  EXPECT_EQ(Load("[screen]\nposition=0,0,96,64\n[images]\nhiskin0=missing\nhiskin1=b\n"), 1);
  EXPECT_EQ(ShellSkinBitmap(), nullptr);
}

TEST_F(SkinTest, AButtonWithFourNumbersUsesThePressedPictureAndItsHitRectangle) {
  ASSERT_EQ(Load(std::string(kTwoPictures) + "[buttons]\nPad 5=10,20,30,40\n"), 1);
  const ShellSkinButton& pad5 = ShellSkinButtons()[4];
  EXPECT_EQ(pad5.keyCode, 229);
  EXPECT_EQ(pad5.pressedBitmap, 1);
  EXPECT_EQ(pad5.drawX, 10);
  EXPECT_EQ(pad5.drawHeight, 40);
  EXPECT_EQ(Name(ShellSkinButtonBitmap(4)), "b.bmp");
  EXPECT_EQ(ShellSkinButtons()[kShellSkinButtonCount].keyCode, 0);
}

TEST_F(SkinTest, MappingNamesButtonsIgnoringCase) {
  ASSERT_EQ(Load(std::string(kTwoPictures) +
                 "[buttons]\nPad 6=0,0,9,9\n[mapping]\nnext=pad 6\nselect=nosuch\n"),
            1);
  int32_t repeat = 0, release = 0;
  EXPECT_EQ(Command(230, &repeat, &release), 3);
  EXPECT_EQ(repeat, 24);
  EXPECT_EQ(release, 25);
  EXPECT_EQ(Command(229), 0);  // unmapped: command 0
}

TEST_F(SkinTest, AccessKeysBeatTheMapping) {
  ASSERT_EQ(Load(std::string(kTwoPictures) +
                 "[mapping]\nselect=Pad 1\n[Accesskeys]\nPad 1=1\nPad 2=12\nPad 3=-1\nPad #=11\n"),
            1);
  uintptr_t arg = 0;
  EXPECT_EQ(Command(225, nullptr, nullptr, &arg), 27);
  EXPECT_EQ(arg, static_cast<uintptr_t>('1'));
  // Indexes outside the twelve characters are refused.
  EXPECT_EQ(ShellKeyMapLookup(226), 0);
}

}  // namespace
