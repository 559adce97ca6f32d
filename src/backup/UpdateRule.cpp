#include "backup/UpdateRule.h"

#include <algorithm>

namespace {

// The ends of the DOS range, a day inside it: a disk that keeps local time (FAT) may store its
// last or first representable day shifted by the zone's offset, and must still match.
constexpr time_t kFirst = 315619200;  // 1980-01-02 00:00:00 UTC
constexpr time_t kLast = 4354646400;  // 2107-12-30 00:00:00 UTC

time_t step(time_t when) {
  return std::clamp(when, kFirst, kLast) / 2;
}

}  // namespace

bool sourceIsNewer(time_t source, time_t copy, time_t now) {
  const time_t s = step(source);
  const time_t c = step(copy);
  if (c > step(now)) return s != c;
  return s > c;
}

bool isFutureDate(time_t when, time_t now) {
  return step(when) > step(now);
}
