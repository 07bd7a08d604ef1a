// Calendar time: conversions checked against the system's own UTC calendar,
// range limits, and time-zone designators.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "kernel/libc.h"

namespace {

LibcTm Tm(int year, int mon, int mday, int hour = 0, int min = 0, int sec = 0, int isdst = 0) {
  LibcTm tm{};
  tm.year = year - 1900;
  tm.mon = mon;
  tm.mday = mday;
  tm.hour = hour;
  tm.min = min;
  tm.sec = sec;
  tm.isdst = isdst;
  return tm;
}

LibcTm FromSystem(const std::tm& s) {
  LibcTm tm{};
  tm.sec = s.tm_sec;
  tm.min = s.tm_min;
  tm.hour = s.tm_hour;
  tm.mday = s.tm_mday;
  tm.mon = s.tm_mon;
  tm.year = s.tm_year;
  tm.wday = s.tm_wday;
  tm.yday = s.tm_yday;
  tm.isdst = 0;
  return tm;
}

int32_t MakeTime(LibcTm tm) { return LibcMakeTime(&tm); }

// 1970-01-01 to 2038-01-18, every day at four times of day.
TEST(LibcTimeCalendar, EveryDayAgreesWithTheSystemCalendar) {
  constexpr int32_t kLastDay = 24854;  // 2038-01-18
  int failures = 0;
  for (int32_t day = 0; day <= kLastDay && failures < 5; ++day) {
    for (int32_t secs : {0, 1, 12 * 3600 + 34 * 60 + 56, 86399}) {
      const int32_t t = day * 86400 + secs;
      const std::time_t st = t;
      std::tm want{};
      ASSERT_NE(gmtime_r(&st, &want), nullptr);
      LibcTm got{};
      LibcGmTime(&got, &t);
      const bool same = got.sec == want.tm_sec && got.min == want.tm_min && got.hour == want.tm_hour &&
                        got.mday == want.tm_mday && got.mon == want.tm_mon &&
                        got.year == want.tm_year && got.wday == want.tm_wday &&
                        got.yday == want.tm_yday && got.isdst == -1;
      const int64_t back = MakeTime(FromSystem(want));
      if (!same || back != timegm(&want) || back != t) {
        ADD_FAILURE() << "time " << t << ": got " << got.year << "-" << got.mon << "-" << got.mday
                      << " wday " << got.wday << " yday " << got.yday << ", back " << back;
        ++failures;
      }
    }
  }
}

TEST(LibcMakeTimeRange, YearsOutsideTheRangeGiveMinusOne) {
  EXPECT_EQ(MakeTime(Tm(2040, 0, 1)), -1);
  EXPECT_EQ(MakeTime(Tm(1969, 0, 1)), -365 * 86400);
  EXPECT_EQ(MakeTime(Tm(2038, 0, 19, 3, 14, 7)), INT32_MAX);
  EXPECT_EQ(MakeTime(Tm(2038, 0, 19, 3, 14, 8)), -1);
  EXPECT_EQ(MakeTime(Tm(1969, -1, 1)), -1);  // carried to 1968
}

TEST(LibcMakeTimeRange, ThirtyTwoBitOverflowGivesMinusOne) {
  EXPECT_EQ(MakeTime(Tm(2000, 0, INT32_MAX)), -1);
  // Steps that overflow on their own fail even when a later field would undo them.
  EXPECT_EQ(MakeTime(Tm(2000, 0, 1, 0, INT32_MAX / 60 + 1, INT32_MIN)), -1);
  EXPECT_EQ(MakeTime(Tm(1969, 0, 1, 0, 0, INT32_MIN + 365 * 86400)), INT32_MIN);
  EXPECT_EQ(MakeTime(Tm(1969, 0, 1, 0, 0, INT32_MIN + 365 * 86400, 1)), -1);  // less 3600 overflows
  // The seconds overflow before the daylight hour would bring them back.
  EXPECT_EQ(MakeTime(Tm(2038, 0, 19, 4, 14, 7, 1)), -1);
}

// Numeric offsets and zone names (whole, without case); anything else is
// refused with a zero offset.
// Dates past the 32-bit time, both ways, counted in 64 bits (the values are
// Python's date arithmetic).
TEST(LibcDays, DatesOutsideThe32BitTimeCountIn64Bits) {
  struct Row {
    int64_t year, month, day, days;
  };
  for (const Row& r : {Row{1970, 1, 1, 0}, Row{2000, 2, 29, 11016}, Row{2038, 1, 20, 24856},
                       Row{1899, 12, 31, -25568}, Row{2045, 6, 30, 27574},
                       Row{9999, 12, 31, 2932896}})
    EXPECT_EQ(LibcDaysSince1970(r.year, r.month, r.day), r.days) << r.year << "-" << r.month;
}

TEST(LibcZone, OffsetsAndNames) {
  struct Row {
    const char* text;
    int32_t result, offset;
  };
  for (const Row& z : {Row{" -0930", 0, -34200}, {"\t\r\n+0100 (CET)", 0, 3600}, {"+0000", 0, 0},
                       {"gmt", 0, 0}, {"  pdt", 0, -25200}, {"a", 0, -3600}, {"Y", 0, 12 * 3600},
                       {"+12", -1, 0}, {"+ 1200", -1, 0}, {"", -1, 0}, {"J", -1, 0},
                       {"GMT ", -1, 0}, {"UT1", -1, 0}}) {
    int32_t off = 1;
    EXPECT_EQ(LibcParseZoneOffset(z.text, &off), z.result) << z.text;
    EXPECT_EQ(off, z.offset) << z.text;
  }
}

}  // namespace
