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

TEST(InputMaskGrammarTest, CodesLiteralsStarsAndCountsParseButNotZeroCountsOrStrayCharacters) {
  for (const char16_t* mask : {u"", u"AaNnXxMm", u"\\(NNN\\)", u"NN*N", u"*\\-", u"3N", u"9\\x",
                               u"A\\\\", static_cast<const char16_t*>(nullptr)})
    EXPECT_EQ(InputMaskIsValid(mask), 1) << (mask ? std::u16string(mask).size() : 0);
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

// Fixed masks take exactly their length, a star any number of trailing
// characters, literals must stand at their places, Hangul passes only the
// any-codes, and an invalid or missing mask accepts every text.
TEST(InputMaskValidateTest, WholeTextsUnderAMask) {
  const char16_t hangul[] = {kHangul, 0};
  const struct {
    const char16_t* mask;
    const char16_t* text;
    bool ok;
  } cases[] = {
      {u"NNN", u"123", true},        {u"NNN", u"12", false},         {u"NNN", u"1234", false},
      {u"NNN", u"1a3", false},       {u"3N", u"123", true},          {u"3N", u"12", false},
      {u"3N", u"1234", false},       {u"2a", u"b", false},           {u"2a", u"bc", true},
      {u"NN*N", u"12", true},        {u"NN*N", u"12345", true},      {u"NN*N", u"1", false},
      {u"NN*N", u"1234x", false},    {u"A*a", u"Hello", true},       {u"A*a", u"hello", false},
      {u"\\(NNN\\)", u"(123)", true}, {u"\\(NNN\\)", u"[123)", false},
      {u"\\(NNN\\)", u"(1234", false}, {u"\\(NNN\\)", u"(123", false},
      {u"0N", u"anything at all", true}, {u"N*", u"xyz", true},   {u"N\\", u"xyz", true},
      {nullptr, u"", true},          {u"A", hangul, false},          {u"a", hangul, false},
      {u"X", hangul, false},         {u"M", hangul, true},           {u"m", hangul, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Validate(c.mask, c.text), c.ok ? kOk : InputErr::Mismatch)
        << (c.mask ? std::u16string(c.mask).size() : 0) << " / " << std::u16string(c.text).size();
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
