// The WML input masks: the character classes, the mask grammar, which
// element governs a position, and whole texts under a mask and a mode.
#include <gtest/gtest.h>

#include "widgets/input.h"
#include "widgets/input_classes.h"

namespace {

using namespace InputCat;

constexpr char16_t kHangul = 0xAC00;      // Lo
constexpr char16_t kModifierH = 0x02B0;   // Lm
constexpr char16_t kArabicZero = 0x0660;  // Nd
constexpr char16_t kCopyright = 0x00A9;   // So

Result Validate(const char16_t* mask, const char16_t* text, uint32_t mode = 0) {
  return InputMaskValidate(mask, text, mode);
}

TEST(InputClassTest, CharactersOfStableCategoriesAreFoundInTheirTablesOnly) {
  const struct {
    char16_t ch;
    uint32_t category;
  } cases[] = {{u'a', Ll}, {0x00E9, Ll},      {kModifierH, Lm}, {kHangul, Lo}, {0xD7A3, Lo},
               {u'Z', Lu}, {0x00C9, Lu},      {u'7', Nd},       {kArabicZero, Nd},
               {u'_', Pc}, {u'-', Pd},        {u')', Pe},       {u'!', Po},   {u'(', Ps},
               {u'$', Sc}, {u'^', Sk},        {u'+', Sm},       {kCopyright, So}};
  for (const auto& c : cases)
    for (uint32_t category = 0; category < kInputClassCount; ++category)
      EXPECT_EQ(InputCharInClass(c.ch, category), category == c.category ? 1 : 0)
          << std::hex << static_cast<int>(c.ch) << " in " << std::dec << category;
}

TEST(InputClassTest, TheEdgesOfTheTablesAndUnknownClassesAnswerNo) {
  EXPECT_EQ(InputCharInClass(u' ', Po), 0);  // Zs is in none of the fourteen
  EXPECT_EQ(InputCharInClass(0, Ll), 0);
  EXPECT_EQ(InputCharInClass(0xFFFF, So), 0);
  EXPECT_EQ(InputCharInClass(0xD800, Lo), 0);  // a surrogate half
  EXPECT_EQ(InputCharInClass(u'a', kInputClassCount), 0);
  for (uint32_t category = 0; category < kInputClassCount; ++category) {
    const InputRangeTable& t = kInputClasses[category];
    ASSERT_GT(t.count, 0u);
    EXPECT_EQ(InputCharInClass(t.ranges[0].first, category), 1);
    EXPECT_EQ(InputCharInClass(t.ranges[t.count - 1].last, category), 1);
    for (uint32_t i = 1; i < t.count; ++i)
      ASSERT_GT(t.ranges[i].first, t.ranges[i - 1].last + 1) << "sorted, disjoint, merged";
  }
}

TEST(InputMaskGrammarTest, CodesLiteralsStarsAndCountsParse) {
  for (const char16_t* mask : {u"", u"AaNnXxMm", u"\\(NNN\\)", u"NN*N", u"*\\-", u"3N", u"9\\x",
                               u"A\\\\"})
    EXPECT_EQ(InputMaskIsValid(mask), 1) << std::u16string(mask).size();
  EXPECT_EQ(InputMaskIsValid(nullptr), 1);
}

TEST(InputMaskGrammarTest, ZeroCountsTrailingStarsAndStrayCharactersDoNot) {
  for (const char16_t* mask : {u"0N", u"N*", u"*N N", u"*NN", u"2NN", u"3", u"NB", u"**N", u"N\\",
                               u"*\\", u"2\\"})
    EXPECT_EQ(InputMaskIsValid(mask), 0) << std::u16string(mask).size();
}

TEST(InputMaskCheckTest, EachPositionFindsItsElement) {
  uint32_t cls, more;
  char16_t literal;
  ASSERT_EQ(InputMaskCheck(u"\\(NNN\\)", 0, &cls, &literal, &more), kOk);
  EXPECT_EQ(cls, InputClass::Literal);
  EXPECT_EQ(literal, u'(');
  EXPECT_EQ(more, 1u);
  ASSERT_EQ(InputMaskCheck(u"\\(NNN\\)", 3, &cls, &literal, &more), kOk);
  EXPECT_EQ(cls, InputClass::Digit);
  ASSERT_EQ(InputMaskCheck(u"\\(NNN\\)", 4, &cls, &literal, &more), kOk);
  EXPECT_EQ(literal, u')');
  EXPECT_EQ(more, 0u);
  EXPECT_EQ(InputMaskCheck(u"\\(NNN\\)", 5, &cls, &literal, &more), InputErr::PastEnd);
  // A null or empty mask allows anything anywhere.
  ASSERT_EQ(InputMaskCheck(nullptr, 40, &cls, &literal, &more), kOk);
  EXPECT_EQ(cls, InputClass::Any);
  EXPECT_EQ(InputMaskCheck(u"", 0, nullptr, nullptr, nullptr), kOk);
}

TEST(InputMaskCheckTest, CountsRequireAllTheirPositionsAndStarsNone) {
  uint32_t cls, more;
  char16_t literal;
  ASSERT_EQ(InputMaskCheck(u"a3N", 1, &cls, &literal, &more), kOk);
  EXPECT_EQ(more, 1u);
  ASSERT_EQ(InputMaskCheck(u"a3N", 2, &cls, &literal, &more), kOk);
  EXPECT_EQ(more, 1u);
  ASSERT_EQ(InputMaskCheck(u"a3N", 3, &cls, &literal, &more), kOk);
  EXPECT_EQ(more, 0u);
  EXPECT_EQ(InputMaskCheck(u"a3N", 4, &cls, &literal, &more), InputErr::PastEnd);
  ASSERT_EQ(InputMaskCheck(u"A*x", 0, &cls, &literal, &more), kOk);
  EXPECT_EQ(more, 0u) << "a star element never requires more";
  ASSERT_EQ(InputMaskCheck(u"A*x", 1000, &cls, &literal, &more), kOk);
  EXPECT_EQ(cls, InputClass::LowerOrDigit);
  EXPECT_EQ(InputMaskCheck(u"NQ", 1, &cls, &literal, &more), InputErr::BadMask);
}

TEST(InputMaskCharTest, EachCodeTakesItsClasses) {
  // Columns: upper, lower, digit, punctuation, symbol, modifier letter, Hangul, space.
  const char16_t probe[] = {u'Q', u'q', u'5', u'!', u'+', kModifierH, kHangul, u' '};
  const struct {
    const char16_t* mask;
    const char* accepts;
  } cases[] = {{u"A", "10011100"}, {u"a", "01011100"}, {u"N", "00100000"},
               {u"n", "00111000"}, {u"X", "10111100"}, {u"x", "01111100"},
               {u"M", "11111111"}, {u"m", "11111111"}, {u"\\q", "01000000"}};
  for (const auto& c : cases)
    for (int i = 0; i < 8; ++i)
      EXPECT_EQ(InputMaskCharOk(c.mask, probe[i], 0, nullptr), c.accepts[i] - '0')
          << "mask " << static_cast<char>(c.mask[0]) << " probe " << i;
}

TEST(InputMaskCharTest, AnUnreadableMaskLetsCharactersPassButTheEndDoesNot) {
  EXPECT_EQ(InputMaskCharOk(u"N?", u'x', 1, nullptr), 1);
  EXPECT_EQ(InputMaskCharOk(u"N", u'1', 1, nullptr), 0);
}

TEST(InputMaskValidateTest, FixedMasksTakeExactlyTheirLength) {
  EXPECT_EQ(Validate(u"NNN", u"123"), kOk);
  EXPECT_EQ(Validate(u"NNN", u"12"), InputErr::Mismatch);
  EXPECT_EQ(Validate(u"NNN", u"1234"), InputErr::Mismatch);
  EXPECT_EQ(Validate(u"NNN", u"1a3"), InputErr::Mismatch);
  EXPECT_EQ(Validate(u"3N", u"123"), kOk);
  EXPECT_EQ(Validate(u"3N", u"12"), InputErr::Mismatch);
  EXPECT_EQ(Validate(u"3N", u"1234"), InputErr::Mismatch);
  EXPECT_EQ(Validate(u"2a", u"b"), InputErr::Mismatch);
  EXPECT_EQ(Validate(u"2a", u"bc"), kOk);
}

TEST(InputMaskValidateTest, AStarTakesAnyNumberOfTrailingCharacters) {
  EXPECT_EQ(Validate(u"NN*N", u"12"), kOk);
  EXPECT_EQ(Validate(u"NN*N", u"123"), kOk);
  EXPECT_EQ(Validate(u"NN*N", u"12345"), kOk);
  EXPECT_EQ(Validate(u"NN*N", u"1"), InputErr::Mismatch);
  EXPECT_EQ(Validate(u"NN*N", u"1234x"), InputErr::Mismatch);
  EXPECT_EQ(Validate(u"A*a", u"Hello"), kOk);
  EXPECT_EQ(Validate(u"A*a", u"hello"), InputErr::Mismatch);
}

TEST(InputMaskValidateTest, LiteralsMustStandAtTheirPositions) {
  EXPECT_EQ(Validate(u"\\(NNN\\)", u"(123)"), kOk);
  EXPECT_EQ(Validate(u"\\(NNN\\)", u"[123)"), InputErr::Mismatch);
  EXPECT_EQ(Validate(u"\\(NNN\\)", u"(1234"), InputErr::Mismatch);
  EXPECT_EQ(Validate(u"\\(NNN\\)", u"(123"), InputErr::Mismatch);
}

TEST(InputMaskValidateTest, InvalidOrMissingMasksAcceptEveryText) {
  EXPECT_EQ(Validate(u"0N", u"anything at all"), kOk);
  EXPECT_EQ(Validate(u"N*", u"xyz"), kOk);
  EXPECT_EQ(Validate(u"N\\", u"xyz"), kOk);
  EXPECT_EQ(Validate(nullptr, u""), kOk);
}

TEST(InputMaskValidateTest, HangulPassesOnlyTheAnyCodes) {
  const char16_t hangul[] = {kHangul, 0};
  EXPECT_EQ(Validate(u"A", hangul), InputErr::Mismatch);
  EXPECT_EQ(Validate(u"a", hangul), InputErr::Mismatch);
  EXPECT_EQ(Validate(u"X", hangul), InputErr::Mismatch);
  EXPECT_EQ(Validate(u"M", hangul), kOk);
  EXPECT_EQ(Validate(u"m", hangul), kOk);
}

TEST(InputMaskValidateTest, AnEmptyTextPassesByModeOrALeadingStar) {
  for (const char16_t* empty : {u"", static_cast<const char16_t*>(nullptr)}) {
    EXPECT_EQ(Validate(u"NNN", empty, InputMode::AcceptEmpty), kOk);
    EXPECT_EQ(Validate(u"NNN", empty, InputMode::AcceptEmpty | InputMode::RefuseEmpty), kOk);
    EXPECT_EQ(Validate(u"NNN", empty), InputErr::Mismatch);
    EXPECT_EQ(Validate(u"*N", empty), kOk);
    EXPECT_EQ(Validate(u"*N", empty, InputMode::RefuseEmpty), InputErr::Mismatch);
    EXPECT_EQ(Validate(u"N*N", empty), InputErr::Mismatch);
  }
}

}  // namespace
