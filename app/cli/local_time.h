#pragma once
// Times as nerova-cli prints them: the local time with its offset from UTC,
// to the second, "2026-12-09T14:30:02+01:00".
#include <chrono>
#include <string>

namespace nerova::cli {

std::wstring LocalTimeText(std::chrono::system_clock::time_point time);

}  // namespace nerova::cli
