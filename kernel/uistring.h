// User-interface strings: every text the engine shows in its own words, by
// string table and index. Modules keep the pair and ask when they draw.
//
// A table has one column of texts per language index; the lookup starts at
// the current language row and follows its fallback chain. The tables are
// generated at build time from kernel/uistrings.txt.
#pragma once
#include <cstdint>

struct UiStringTable {
  uint32_t columnCount;
  uint32_t textCount;
  // By language index; a column, or an entry in one, may be null.
  const char16_t* const* const* columns;
};

constexpr int kUiStringTableCount = 20;
// Slots for the table numbers; an empty slot is null.
extern const UiStringTable* const kUiStringTables[kUiStringTableCount];

// The text, never null: " " when there is none.
const char16_t* UiGetString(uint32_t table, uint32_t index);
// Month 0 = January (taken modulo 12); day 0 = Sunday (modulo 7).
const char16_t* UiGetMonthName(uint32_t month);
const char16_t* UiGetDayName(uint32_t day);
