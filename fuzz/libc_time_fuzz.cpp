// Calendar time: seconds to broken-down time and back, the converter over
// arbitrary records (no 32-bit overflow may escape), and zone designators.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "kernel/libc.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckSeconds(int32_t t) {
  LibcTm tm;
  LibcGmTime(&tm, &t);
  Check(tm.isdst == -1);
  if (t < 0) {
    Check(tm.mday == 1 && tm.year == 0 && tm.mon == 0 && tm.yday == 0);
    return;
  }
  const std::time_t st = t;
  std::tm want{};
  Check(gmtime_r(&st, &want) != nullptr);
  Check(tm.sec == want.tm_sec && tm.min == want.tm_min && tm.hour == want.tm_hour &&
        tm.mday == want.tm_mday && tm.mon == want.tm_mon && tm.year == want.tm_year &&
        tm.wday == want.tm_wday && tm.yday == want.tm_yday);
  tm.isdst = 0;
  Check(LibcMakeTime(&tm) == t);
}

bool Normal(const LibcTm& tm) {
  return tm.sec >= 0 && tm.sec <= 59 && tm.min >= 0 && tm.min <= 59 && tm.hour >= 0 &&
         tm.hour <= 23 && tm.mday >= 1 && tm.mday <= 31 && tm.mon >= -1000 && tm.mon <= 1000;
}

void CheckRecord(LibcTm tm) {
  tm.isdst &= 1;  // keep the host's hook out of the comparison
  const LibcTm before = tm;
  const int32_t got = LibcMakeTime(&tm);
  Check(std::memcmp(&before, &tm, sizeof tm) == 0);
  if (!Normal(tm)) return;
  std::tm s{};
  s.tm_sec = tm.sec;
  s.tm_min = tm.min;
  s.tm_hour = tm.hour;
  s.tm_mday = tm.mday;
  s.tm_mon = tm.mon;
  s.tm_year = tm.year;
  const int64_t raw = timegm(&s);
  const int64_t want = raw - (tm.isdst ? 3600 : 0);
  const int64_t year = int64_t{tm.year} + (tm.mon >= 0 ? tm.mon / 12 : -((11 - tm.mon) / 12));
  const bool inRange = tm.year >= 69 && tm.year <= 139 && year >= 69 && year <= 139;
  // The seconds must fit 32 bits before the daylight hour comes off.
  const bool fits = raw >= INT32_MIN && raw <= INT32_MAX && want >= INT32_MIN;
  if (inRange && fits)
    Check(got == want);
  else
    Check(got == -1);
}

void CheckZone(const char* text) {
  int32_t offset = 12345;
  const int r = LibcParseZoneOffset(text, &offset);
  Check(r == 0 || r == -1);
  if (r) Check(offset == 0);
  else Check(offset >= -(99 * 60 + 99) * 60 && offset <= (99 * 60 + 99) * 60);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  if (size >= 4) {
    int32_t t;
    std::memcpy(&t, data, 4);
    CheckSeconds(t);
  }
  if (size >= 40) {
    LibcTm tm;
    std::memcpy(&tm, data + 4, sizeof tm);
    CheckRecord(tm);
  }
  std::vector<char> text(data, data + size);
  text.push_back(0);
  CheckZone(text.data());
  return 0;
}
