// Skin files: loading and refusing them, the button table, the command
// mapping, access keys, the soft-key flags and the number lists.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

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

TEST_F(SkinTest, TheOlderPictureKeysAndTheLowColourSet) {
  ASSERT_EQ(Load("[screen]\nposition=0,0,96,64\n[images]\nforegroundLo=f\nhighlightLo=h\n"), 1);
  EXPECT_EQ(Name(ShellSkinBitmap()), "f");
  highColour = false;
  ASSERT_EQ(Load("[screen]\nposition=0,0,96,64\n[images]\nhiskin0=hi\nloskin0=lo\n"), 1);
  EXPECT_EQ(Name(ShellSkinBitmap()), "lo");
}

// A pressed picture outside the set, or a button outside the table, shows
// picture zero.
TEST_F(SkinTest, APressedPictureBeyondTheSetFallsBackToPictureZero) {
  ASSERT_EQ(Load(std::string(kTwoPictures) + "[buttons]\nPad 1=1,1,5,5,7,2,2,3,3\nPad 2=1,1,5,5,1\n"), 1);
  EXPECT_EQ(ShellSkinButtons()[0].drawX, 2);
  EXPECT_EQ(Name(ShellSkinButtonBitmap(0)), "a.bmp");
  EXPECT_EQ(Name(ShellSkinButtonBitmap(1)), "b.bmp");
  EXPECT_EQ(Name(ShellSkinButtonBitmap(-1)), "a.bmp");
  EXPECT_EQ(Name(ShellSkinButtonBitmap(kShellSkinButtonCount)), "a.bmp");
}

TEST_F(SkinTest, SoftKeyFlags) {
  struct Row {
    const char* buttons;
    int softKeys, swap;
  };
  for (const Row& row : {Row{"[buttons]\nSoft 1=100,0,9,9\nSoft 2=20,0,9,9\n", 1, 1},
                         Row{"[buttons]\nSoft 1=10,0,9,9\nSoft 2=20,0,9,9\n", 1, 0},
                         Row{"[buttons]\nSoft 1=100,0,9,9\n", 1, 0}, Row{"", 0, 0}}) {
    ASSERT_EQ(Load(std::string(kTwoPictures) + row.buttons), 1) << row.buttons;
    EXPECT_EQ(settings.softKeys, row.softKeys) << row.buttons;
    EXPECT_EQ(settings.softKeySwap, row.swap) << row.buttons;
  }
}

// Without picture operations every picture key still counts, so the skin
// loads its table with empty picture slots.
TEST_F(SkinTest, WithoutPictureOperationsTheSkinHasNoPictures) {
  ShellSkinInstallImageOps(nullptr);
  ASSERT_EQ(Load(kTwoPictures), 1);
  EXPECT_EQ(ShellSkinBitmap(), nullptr);
  EXPECT_EQ(ShellSkinButtonBitmap(0), nullptr);
  EXPECT_STREQ(ShellSkinFailure(), "");
  ShellUnloadSkin();
}

// Numbers are read as the desktop's scanner reads them: blanks before a
// number, a sign, digits, then a comma right after; too large saturates.
TEST_F(SkinTest, NumberListsReadLikeTheDesktopsScanner) {
  struct Row {
    const char* text;
    int max;
    std::vector<int32_t> values;
  };
  const Row rows[] = {
      {"1,-2, 3,+4", 9, {1, -2, 3, 4}},
      {"1 ,2", 9, {1}},
      {"x", 9, {}},
      {"", 9, {}},
      {"-", 9, {}},
      {"7,", 9, {7}},
      {"99999999999,1", 2, {0x7FFFFFFF, 1}},
      {"2147483647,2147483648", 2, {0x7FFFFFFF, 0x7FFFFFFF}},
      {"-2147483648,-99999999999", 2, {INT32_MIN, INT32_MIN}},
      {"1,2,3", 2, {1, 2}},
  };
  for (const Row& row : rows) {
    int32_t v[9] = {};
    ASSERT_EQ(ShellSkinParseInts(row.text, v, row.max), static_cast<int>(row.values.size()))
        << row.text;
    EXPECT_EQ(std::vector<int32_t>(v, v + row.values.size()), row.values) << row.text;
  }
}

}  // namespace
