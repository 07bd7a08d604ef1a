// WML input masks: which characters may stand at which position of a text.
#include "widgets/input.h"
#include "widgets/input_classes.h"

namespace {

// The format codes in class-number order.
constexpr char16_t kCodes[] = u"AaNnXxMm";

// The class of a format code, or -1 for any other unit.
int32_t CodeClass(char16_t c) {
  for (int32_t i = 0; kCodes[i]; ++i)
    if (kCodes[i] == c) return i;
  return -1;
}

bool IsCount(char16_t c) { return c >= u'1' && c <= u'9'; }

// Reads one code or "\c" at s: its class and literal, and where it ends.
// A backslash that ends the mask has no character to stand for and does not
// parse: the walk would otherwise step past the terminator.
bool ReadElement(const char16_t* s, uint32_t* cls, char16_t* literal, const char16_t** end) {
  const int32_t code = CodeClass(*s);
  if (code >= 0) {
    *cls = static_cast<uint32_t>(code);
    *literal = 0;
    *end = s + 1;
    return true;
  }
  if (*s == u'\\' && s[1] != 0) {
    *cls = InputClass::Literal;
    *literal = s[1];
    *end = s + 2;
    return true;
  }
  return false;
}

// Punctuation and symbols, the union most codes take.
constexpr uint32_t kSigns[] = {InputCat::Pc, InputCat::Pd, InputCat::Ps,
                               InputCat::Pe, InputCat::Po, InputCat::Sm,
                               InputCat::Sc, InputCat::Sk, InputCat::So};

bool InPunctuationOrSymbol(char16_t ch) {
  for (uint32_t cat : kSigns)
    if (InputCharInClass(ch, cat)) return true;
  return false;
}

bool ClassAccepts(uint32_t cls, char16_t literal, char16_t ch) {
  using namespace InputCat;
  switch (cls) {
    case InputClass::Upper:
      return InputCharInClass(ch, Lu) || InputCharInClass(ch, Lm) || InPunctuationOrSymbol(ch);
    case InputClass::Lower:
      return InputCharInClass(ch, Ll) || InputCharInClass(ch, Lm) || InPunctuationOrSymbol(ch);
    case InputClass::Digit:
      return InputCharInClass(ch, Nd);
    case InputClass::DigitOrSign:
      return InputCharInClass(ch, Nd) || InPunctuationOrSymbol(ch);
    case InputClass::UpperOrDigit:
      return InputCharInClass(ch, Lu) || InputCharInClass(ch, Lm) || InputCharInClass(ch, Nd) ||
             InPunctuationOrSymbol(ch);
    case InputClass::LowerOrDigit:
      return InputCharInClass(ch, Ll) || InputCharInClass(ch, Lm) || InputCharInClass(ch, Nd) ||
             InPunctuationOrSymbol(ch);
    case InputClass::Any:
    case InputClass::AnyLower:
      return true;
    case InputClass::Literal:
      return ch == literal;
    default:
      return false;
  }
}

}  // namespace

int InputCharInClass(char16_t ch, uint32_t category) {
  if (category >= kInputClassCount) return 0;
  const InputRangeTable& table = kInputClasses[category];
  uint32_t low = 0, high = table.count;  // the interval [low, high)
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    const InputRange& range = table.ranges[middle];
    if (ch < range.first)
      high = middle;
    else if (ch > range.last)
      low = middle + 1;
    else
      return 1;
  }
  return 0;
}

int InputMaskIsValid(const char16_t* mask) {
  if (!mask) return 1;
  const char16_t* s = mask;
  uint32_t cls;
  char16_t literal;
  while (*s) {
    if (*s == u'*' || IsCount(*s)) {
      // A star or a count takes one element, and nothing may follow it.
      if (!ReadElement(s + 1, &cls, &literal, &s)) return 0;
      return *s == 0;
    }
    if (!ReadElement(s, &cls, &literal, &s)) return 0;
  }
  return 1;
}

Result InputMaskCheck(const char16_t* mask, uint32_t position, uint32_t* cls, char16_t* literal,
                      uint32_t* more) {
  uint32_t ownClass;
  char16_t ownLiteral;
  uint32_t ownMore;
  if (!cls) cls = &ownClass;
  if (!literal) literal = &ownLiteral;
  if (!more) more = &ownMore;
  *cls = InputClass::Any;
  *literal = 0;
  *more = 0;
  if (!mask || !*mask) return kOk;

  const char16_t* s = mask;
  for (uint32_t k = 0;; ++k) {
    if (*s == 0) return InputErr::PastEnd;
    uint32_t count = 0;  // 0: one position, no count
    bool star = false;
    if (*s == u'*') {
      star = true;
      ++s;
    } else if (IsCount(*s)) {
      count = static_cast<uint32_t>(*s - u'0');
      ++s;
    }
    const char16_t* next;
    uint32_t elementClass;
    char16_t elementLiteral;
    if (!ReadElement(s, &elementClass, &elementLiteral, &next)) return InputErr::BadMask;
    // Every earlier element covered one position below `position`, so k <= position.
    if (star || k == position || (count && position - k < count)) {
      *cls = elementClass;
      *literal = elementLiteral;
      if (star)
        *more = 0;
      else if (count)
        *more = k + count - 1 > position;  // a count needs all its positions filled
      else
        *more = *next != 0 && *next != u'*';
      return kOk;
    }
    if (count) return InputErr::PastEnd;  // a count is the last element
    s = next;
  }
}

int InputMaskCharOk(const char16_t* mask, char16_t ch, uint32_t position, uint32_t* more) {
  uint32_t cls;
  char16_t literal;
  const Result r = InputMaskCheck(mask, position, &cls, &literal, more);
  if (r == InputErr::BadMask) return 1;  // an unreadable mask restricts nothing
  if (r != kOk) return 0;
  return ClassAccepts(cls, literal, ch) ? 1 : 0;
}

Result InputMaskValidate(const char16_t* mask, const char16_t* text, uint32_t mode) {
  if (!mask || !InputMaskIsValid(mask)) return kOk;
  if (!text || !*text) {
    if (mode & InputMode::AcceptEmpty) return kOk;
    if (mask[0] == u'*' && !(mode & InputMode::RefuseEmpty)) return kOk;
    return InputErr::Mismatch;
  }
  uint32_t more = 0;
  for (uint32_t i = 0; text[i]; ++i)
    if (!InputMaskCharOk(mask, text[i], i, &more)) return InputErr::Mismatch;
  return more ? InputErr::Mismatch : kOk;
}
