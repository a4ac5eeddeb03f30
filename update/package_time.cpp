// Calendar arithmetic for platforms without SystemTimeToFileTime.
#include "update/package_platform.h"

namespace nerova::package {
namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1 January 1601 to the given date (proleptic Gregorian).
std::int64_t DaysSince1601(int year, int month, int day) {
  // Shift the year to start in March so that the leap day comes last.
  const int y = month <= 2 ? year - 1 : year;
  const int era = y / 400;
  const int yearOfEra = y - era * 400;
  const int monthFromMarch = (month + 9) % 12;
  const int dayOfYear = (153 * monthFromMarch + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t daysSince0000March = static_cast<std::int64_t>(era) * 146097 + dayOfEra;
  // 1 January 1601 is day 584694 counted from 1 March of year 0.
  return daysSince0000March - 584694;
}

}  // namespace

bool SystemTimeToTicks(const SystemTime& t, std::uint64_t& ticks) {
  if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12) return false;
  if (t.day < 1 || t.day > DaysInMonth(t.year, t.month)) return false;
  if (t.hour > 23 || t.minute > 59 || t.second > 59 || t.milliseconds > 999) return false;
  const std::int64_t seconds = DaysSince1601(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
  ticks = static_cast<std::uint64_t>(seconds * kTicksPerSecond + t.milliseconds * std::int64_t{10000});
  return true;
}

bool FixedOffsetTime::LocalToUtc(const SystemTime& local, FileTime& utc) {
  std::uint64_t ticks = 0;
  if (!SystemTimeToTicks(local, ticks)) return false;
  const std::int64_t result = static_cast<std::int64_t>(ticks) - std::int64_t{m_nOffsetSeconds} * kTicksPerSecond;
  if (result < 0) return false;
  utc = FileTime::FromTicks(static_cast<std::uint64_t>(result));
  return true;
}

}  // namespace nerova::package
