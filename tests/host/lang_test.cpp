// The language table: finding rows by name, selecting, the fallback chain.
#include <gtest/gtest.h>

#include <string>

#include "host/platform/lang.h"
#include "tests/support/fake_platform.h"

namespace {

class LanguageTest : public ::testing::Test {
 protected:
  void TearDown() override { ShellSetLanguageIndex(0); }
  FakePlatform platform;
};

TEST_F(LanguageTest, NamesAreFoundIgnoringAsciiCase) {
  EXPECT_EQ(ShellFindLanguage(u"korean"), 20);
  EXPECT_EQ(ShellFindLanguage(u"GERMAN"), 14);
  EXPECT_EQ(ShellFindLanguage(u"Klingon"), -1);
  EXPECT_EQ(ShellFindLanguage(u""), -1);
}

TEST_F(LanguageTest, AnUnknownNameSelectsEnglishAndSaysSo) {
  ShellSelectLanguage(u"korean");
  EXPECT_EQ(ShellGetLanguage()->index, 20);
  EXPECT_TRUE(platform.messageBoxes.empty());
  ShellSelectLanguage(u"Klingon");
  EXPECT_EQ(ShellGetLanguage()->index, 0);
  ASSERT_EQ(platform.messageBoxes.size(), 1u);
  EXPECT_EQ(platform.messageBoxes[0].first, "QOR Error");
  EXPECT_EQ(platform.messageBoxes[0].second,
            "Language name not recognised.  Defaulting to English");
}

TEST_F(LanguageTest, EveryRowButEnglishFallsBackToEnglish) {
  for (int i = 0; i < kShellLanguageCount; ++i) {
    const ShellLanguage* row = ShellLanguageRow(i);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->index, i);
    EXPECT_EQ(row->fallback, i == 0 ? nullptr : ShellLanguageRow(0));
    EXPECT_EQ(row->credentialsCharset, 4u);
    EXPECT_EQ(row->converterDefault, row->defaultCharset);
    EXPECT_EQ(row->wspPreference[0], 0x83);
  }
  EXPECT_EQ(ShellLanguageRow(22), nullptr);
  EXPECT_STREQ(ShellLanguageRow(20)->folder, "/ko/");
  EXPECT_EQ(ShellLanguageRow(20)->defaultCharset, 36u);
  EXPECT_EQ(ShellLanguageRow(9)->wspPreference[1], 0x0D);
}

}  // namespace
