// The input masks: character classes, the mask grammar and whole texts.
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
  } cases[] = {{0x00E9, Ll}, {kModifierH, Lm}, {kHangul, Lo}, {0x00C9, Lu}, {kArabicZero, Nd},
               {u'_', Pc},   {u'-', Pd},        {u')', Pe},    {u'(', Ps},   {u'$', Sc},
               {u'^', Sk},   {u'+', Sm},        {kCopyright, So}};
  for (const auto& c : cases)
    for (uint32_t category = 0; category < kInputClassCount; ++category)
      EXPECT_EQ(InputCharInClass(c.ch, category), category == c.category ? 1 : 0)
          << std::hex << static_cast<int>(c.ch) << " in " << std::dec << category;
}

TEST(InputClassTest, TheEdgesOfTheTablesAndUnknownClassesAnswerNo) {
  EXPECT_EQ(InputCharInClass(u' ', Po), 0);  // Zs is in none of the fourteen
  EXPECT_EQ(InputCharInClass(0xFFFF, So), 0);
  EXPECT_EQ(InputCharInClass(0xD800, Lo), 0);  // a surrogate half
  EXPECT_EQ(InputCharInClass(u'a', kInputClassCount), 0);
}

TEST(InputMaskGrammarTest, CodesLiteralsStarsAndCountsParseButNotZeroCountsOrStrayCharacters) {
  for (const char16_t* mask : {u"", u"AaNnXxMm", u"\\(NNN\\)", u"NN*N", u"*\\-", u"3N", u"9\\x",
                               u"A\\\\", static_cast<const char16_t*>(nullptr)})
    EXPECT_EQ(InputMaskIsValid(mask), 1) << (mask ? std::u16string(mask).size() : 0);
  for (const char16_t* mask : {u"0N", u"N*", u"*N N", u"*NN", u"2NN", u"3", u"NB", u"**N", u"N\\",
                               u"*\\", u"2\\"})
    EXPECT_EQ(InputMaskIsValid(mask), 0) << std::u16string(mask).size();
}

// Each case: the mask, a position, and the element's class, literal and
// whether more characters must follow; a count requires all its positions,
// a star none, and a null mask allows anything anywhere.
TEST(InputMaskCheckTest, EachPositionFindsItsElement) {
  const struct {
    const char16_t* mask;
    uint32_t position;
    Result result;
    uint32_t cls;
    char16_t literal;
    uint32_t more;
  } cases[] = {{u"\\(NNN\\)", 0, kOk, InputClass::Literal, u'(', 1},
               {u"\\(NNN\\)", 4, kOk, InputClass::Literal, u')', 0},
               {u"\\(NNN\\)", 5, InputErr::PastEnd, 0, 0, 0},
               {u"a3N", 2, kOk, InputClass::Digit, 0, 1},
               {u"a3N", 3, kOk, InputClass::Digit, 0, 0},
               {u"A*x", 1000, kOk, InputClass::LowerOrDigit, 0, 0},
               {nullptr, 40, kOk, InputClass::Any, 0, 0},
               {u"NQ", 1, InputErr::BadMask, 0, 0, 0}};
  for (const auto& c : cases) {
    uint32_t cls = 0, more = 0;
    char16_t literal = 0;
    ASSERT_EQ(InputMaskCheck(c.mask, c.position, &cls, &literal, &more), c.result) << c.position;
    if (c.result != kOk) continue;
    EXPECT_EQ(cls, c.cls) << c.position;
    if (cls == InputClass::Literal) {
      EXPECT_EQ(literal, c.literal);
    }
    EXPECT_EQ(more, c.more) << c.position;
  }
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
      {u"NNN", u"123", true},         {u"NNN", u"1234", false},         {u"NNN", u"1a3", false},
      {u"3N", u"12", false},          {u"NN*N", u"12345", true},        {u"NN*N", u"1", false},
      {u"A*a", u"hello", false},      {u"\\(NNN\\)", u"(123)", true},
      {u"\\(NNN\\)", u"[123)", false},
      {u"0N", u"anything at all", true}, {nullptr, u"", true},           {u"X", hangul, false},
      {u"M", hangul, true},
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
