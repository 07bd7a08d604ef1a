#include "kernel/uistring.h"

#include "host/platform/lang.h"

namespace {
constexpr char16_t kMissing[] = u" ";
constexpr uint32_t kNamesTable = 11, kFirstDay = 12;
}  // namespace

const char16_t* UiGetString(uint32_t table, uint32_t index) {
  if (table >= kUiStringTableCount) return kMissing;
  const UiStringTable* strings = kUiStringTables[table];
  if (!strings || index >= strings->textCount) return kMissing;
  for (const ShellLanguage* row = ShellGetLanguage(); row; row = row->fallback) {
    const uint32_t column = static_cast<uint32_t>(row->index);
    if (column >= strings->columnCount || !strings->columns[column]) continue;
    if (const char16_t* text = strings->columns[column][index]) return text;
  }
  return kMissing;
}

const char16_t* UiGetMonthName(uint32_t month) { return UiGetString(kNamesTable, month % 12); }

const char16_t* UiGetDayName(uint32_t day) {
  return UiGetString(kNamesTable, kFirstDay + day % 7);
}
