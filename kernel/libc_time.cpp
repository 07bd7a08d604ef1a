// Calendar time of the C-library layer: the clock, seconds to broken-down
// time and back for 1969-2039, and time-zone designators.
#include "kernel/libc.h"

#include "host/platform/shell.h"

const LibcMonthRow kLibcMonths[12] = {
    {31, "Jan", "January"},   {29, "Feb", "February"}, {31, "Mar", "March"},
    {30, "Apr", "April"},     {31, "May", "May"},      {30, "Jun", "June"},
    {31, "Jul", "July"},      {31, "Aug", "August"},   {30, "Sep", "September"},
    {31, "Oct", "October"},   {30, "Nov", "November"}, {31, "Dec", "December"},
};

const int32_t kLibcDaysBeforeMonth[13] = {-1,  30,  58,  89,  119, 150, 180,
                                          211, 242, 272, 303, 333, 364};

// The letter zones keep the signs of the mail standard's table ("A" west).
const LibcZoneRow kLibcZones[kLibcZoneCount] = {
    {"UT", 0},           {"UTC", 0},          {"GMT", 0},          {"EST", -5 * 3600},
    {"EDT", -4 * 3600},  {"CST", -6 * 3600},  {"CDT", -5 * 3600},  {"MST", -7 * 3600},
    {"MDT", -6 * 3600},  {"PST", -8 * 3600},  {"PDT", -7 * 3600},  {"BST", 1 * 3600},
    {"A", -1 * 3600},    {"B", -2 * 3600},    {"C", -3 * 3600},    {"D", -4 * 3600},
    {"E", -5 * 3600},    {"F", -6 * 3600},    {"G", -7 * 3600},    {"H", -8 * 3600},
    {"I", -9 * 3600},    {"K", -10 * 3600},   {"L", -11 * 3600},   {"M", -12 * 3600},
    {"N", 1 * 3600},     {"O", 2 * 3600},     {"P", 3 * 3600},     {"Q", 4 * 3600},
    {"R", 5 * 3600},     {"S", 6 * 3600},     {"T", 7 * 3600},     {"U", 8 * 3600},
    {"V", 9 * 3600},     {"W", 10 * 3600},    {"X", 11 * 3600},    {"Y", 12 * 3600},
};

namespace {

constexpr int32_t kLibcFirstYear = 69;   // 1969
constexpr int32_t kLibcLastYear = 139;   // 2039
constexpr int32_t kLibcEpochDay = 25568;  // 1970-01-01 in the day count below

bool LibcFits32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

bool LibcYearInRange(int64_t year) { return year >= kLibcFirstYear && year <= kLibcLastYear; }

}  // namespace

int32_t LibcTime(int32_t* out) {
  // The engine's time is 32 bits; past 2038 it wraps as it always did.
  const auto now = static_cast<int32_t>(ShellNow());
  if (out) *out = now;
  return now;
}

LibcTm* LibcGmTime(LibcTm* tm, const int32_t* time) {
  const int32_t value = *time;
  if (value < 0) {
    *tm = LibcTm{};
    tm->mday = 1;
    tm->isdst = -1;
    return tm;
  }
  tm->sec = value % 60;
  tm->min = value % 3600 / 60;
  tm->hour = value % 86400 / 3600;

  // Days counted in four-year cycles that each open with a leap year; right
  // for every year the 32-bit range reaches.
  const int32_t d = value / 86400 + kLibcEpochDay;
  tm->wday = d % 7;
  int32_t year = 4 * (d / 1461);
  int32_t r = d % 1461;
  if (r > 365) {
    year += (r - 1) / 365;
    r = (r - 1) % 365;
  }
  tm->year = year;
  tm->yday = r;

  // Shift common years past February so the leap-year lengths serve all.
  if (year % 4 && r >= 59) ++r;
  int32_t mon = 0;
  while (mon < 11 && r >= kLibcMonths[mon].days) r -= kLibcMonths[mon++].days;
  tm->mon = mon;
  tm->mday = r + 1;
  tm->isdst = -1;
  return tm;
}

int32_t LibcMakeTime(LibcTm* tm) {
  int64_t year = tm->year;
  int64_t mon = tm->mon;
  if (!LibcYearInRange(year)) return -1;
  if (mon < 0 || mon > 11) {
    const int64_t carry = mon >= 0 ? mon / 12 : -((11 - mon) / 12);
    year += carry;
    mon -= carry * 12;
    if (!LibcYearInRange(year)) return -1;
  }
  const bool leap = year % 4 == 0;
  int64_t v = kLibcDaysBeforeMonth[mon] + (leap && mon > 1 ? 1 : 0) + (year - 1) / 4 +
              365 * year - (kLibcEpochDay - 1) + tm->mday;
  // Each step is checked as the 32-bit arithmetic it stands for.
  if (!LibcFits32(v)) return -1;
  if (!LibcFits32(v *= 24) || !LibcFits32(v += tm->hour)) return -1;
  if (!LibcFits32(v *= 60) || !LibcFits32(v += tm->min)) return -1;
  if (!LibcFits32(v *= 60) || !LibcFits32(v += tm->sec)) return -1;

  // Flags other than 0 and 1 leave the decision to the host.
  bool summer = tm->isdst == 1;
  if (tm->isdst != 0 && tm->isdst != 1) summer = ShellTimeHook(tm) == 1;
  if (summer && !LibcFits32(v -= 3600)) return -1;
  return static_cast<int32_t>(v);
}

int LibcParseZoneOffset(const char* text, int32_t* offset) {
  while (*text == ' ' || (*text >= 0x09 && *text <= 0x0D)) ++text;
  if (*text != '+' && *text != '-') return LibcFindZoneName(text, offset);

  const bool west = *text++ == '-';
  int32_t digit[4];
  for (int i = 0; i < 4; ++i) {
    // Stops at the terminator, which is no digit.
    if (text[i] < '0' || text[i] > '9') {
      *offset = 0;
      return -1;
    }
    digit[i] = text[i] - '0';
  }
  const int32_t seconds = ((digit[0] * 10 + digit[1]) * 60 + digit[2] * 10 + digit[3]) * 60;
  *offset = west ? -seconds : seconds;
  return 0;
}

int LibcFindZoneName(const char* text, int32_t* offset) {
  for (const LibcZoneRow& row : kLibcZones) {
    if (!LibcStrICmp(text, row.name)) {
      *offset = row.offset;
      return 0;
    }
  }
  *offset = 0;
  return -1;
}

int64_t LibcDaysSince1970(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}
