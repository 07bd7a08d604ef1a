// The language table: finding rows by name and selecting one.
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

}  // namespace
