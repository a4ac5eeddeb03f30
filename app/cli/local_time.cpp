#include "app/cli/local_time.h"

#include <cstdint>
#include <ctime>

namespace nerova::cli {
namespace {

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

std::int64_t SecondsAsIfUtc(const std::tm& t) {
  return DaysFromCivil(t.tm_year + 1900, static_cast<unsigned>(t.tm_mon + 1), static_cast<unsigned>(t.tm_mday)) *
             86400 +
         t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

std::wstring TwoDigits(long value) { return (value < 10 ? L"0" : L"") + std::to_wstring(value); }

}  // namespace

std::wstring LocalTimeText(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  // The offset is the local calendar time less the moment it stands for:
  // strftime's %z gives a zone's name, not its offset, on Windows.
  const std::int64_t offset = SecondsAsIfUtc(local) - static_cast<std::int64_t>(seconds);
  const std::int64_t offsetMinutes = (offset < 0 ? -offset : offset) / 60;
  return std::to_wstring(local.tm_year + 1900) + L"-" + TwoDigits(local.tm_mon + 1) + L"-" + TwoDigits(local.tm_mday) +
         L"T" + TwoDigits(local.tm_hour) + L":" + TwoDigits(local.tm_min) + L":" + TwoDigits(local.tm_sec) +
         (offset < 0 ? L"-" : L"+") + TwoDigits(static_cast<long>(offsetMinutes / 60)) + L":" +
         TwoDigits(static_cast<long>(offsetMinutes % 60));
}

}  // namespace nerova::cli
