// User-interface texts by table and index through the language's fallback.
#include "kernel/uistring.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "host/platform/lang.h"

namespace {

class UiStringTest : public ::testing::Test {
 protected:
  void TearDown() override { ShellSetLanguageIndex(0); }
};

std::u16string S(uint32_t table, uint32_t index) { return UiGetString(table, index); }

// Every miss gives one blank: past a table's texts, the empty slot, a null
// entry, past the directory.
TEST_F(UiStringTest, FindsTextsByTableAndIndexAndMissesGiveABlank) {
  const struct {
    uint32_t table, index;
    std::u16string_view text;
  } rows[] = {
      {13, 2, u"확인"},
      {0, 0, u"QOR"},
      {3, 3, u"호스트를 찾을 수 없음 | 주소를 확인하세요."},
      {6, 31, u"Re: "},  // the trailing blank is part of the text
      {13, 21, u" "},
      {8, 0, u" "},
      {15, 2, u" "},
      {2, 28, u" "},
      {20, 0, u" "},
      {0xFFFFFFFF, 0, u" "},
  };
  for (const auto& r : rows) EXPECT_EQ(S(r.table, r.index), r.text) << r.table << " " << r.index;
  EXPECT_EQ(S(5, 34).substr(0, 58), u"Before using your phone, it will need to be configured.\r\nT");
}

TEST_F(UiStringTest, MonthAndDayNamesWrap) {
  EXPECT_EQ(std::u16string(UiGetMonthName(13)), u"2월");
  EXPECT_EQ(std::u16string(UiGetMonthName(0)), u"1월");
  EXPECT_EQ(std::u16string(UiGetDayName(0)), u"일");
  EXPECT_EQ(std::u16string(UiGetDayName(8)), u"월");
}

TEST_F(UiStringTest, OtherLanguagesReachTheTextsThroughTheirFallback) {
  ASSERT_TRUE(ShellSetLanguageIndex(20));  // Korean
  EXPECT_EQ(S(0, 1), u"뒤로");
  ASSERT_TRUE(ShellSetLanguageIndex(21));
  EXPECT_EQ(S(19, 27), u"Get network information?");
}

}  // namespace
