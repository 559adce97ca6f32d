#include <algorithm>
#include <ctime>

#include "mail/uoexpress.h"
#include "platform/Errors.h"

Toe5_DateTime oe5_FileTimeToDateTime(const Toe5_FileTime& fileTime) {
  constexpr uint64_t kTicksPerSecond = 10'000'000;
  constexpr int64_t kUnixEpochSeconds = 11'644'473'600;  // 1601-01-01 to 1970-01-01
  const uint64_t ticks = fileTime.ticks();
  const time_t seconds =
      static_cast<time_t>(static_cast<int64_t>(ticks / kTicksPerSecond) - kUnixEpochSeconds);
  struct tm local {};
  if (!::localtime_r(&seconds, &local)) {
    throw ResguardaError("Invalid argument to date encode");
  }
  Toe5_DateTime result;
  result.Year = local.tm_year + 1900;
  result.Month = local.tm_mon + 1;
  result.Day = local.tm_mday;
  result.Hour = local.tm_hour;
  result.Minute = local.tm_min;
  result.Second = std::min(local.tm_sec, 59);
  result.Millisecond = static_cast<int>(ticks % kTicksPerSecond / 10'000);
  return result;
}
