// The Unicode general categories the input masks test characters against:
// fourteen tables of sorted, inclusive UTF-16 ranges of the Basic
// Multilingual Plane, generated from the Unicode Character Database.
#pragma once
#include <cstdint>

struct InputRange {
  uint16_t first, last;
};

struct InputRangeTable {
  const InputRange* ranges;
  uint32_t count;
};

// Class numbers, the tables' order.
namespace InputCat {
constexpr uint32_t Ll = 0, Lm = 1, Lo = 2, Lu = 3, Nd = 4, Pc = 5, Pd = 6, Pe = 7, Po = 8,
                   Ps = 9, Sc = 10, Sk = 11, Sm = 12, So = 13;
}
constexpr uint32_t kInputClassCount = 14;

extern const InputRangeTable kInputClasses[kInputClassCount];
