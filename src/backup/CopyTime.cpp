#include "backup/CopyTime.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/DosDateTime.h"

namespace {

// Three hours in two-second steps: more than the widest daylight-saving fold in use.
constexpr int kMaxSteps = 3 * 3600 / 2;
constexpr time_t kStep = 2;

bool operator==(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool operator<(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

uint32_t earliestDosTime() {
  std::tm first{};
  first.tm_year = 80;
  first.tm_mday = 1;
  return DosDateTime(first);
}

}  // namespace

bool changedDuringCopy(const struct stat& before, const struct stat& after) {
  return before.st_size != after.st_size || !(before.st_mtim == after.st_mtim) ||
         !(before.st_ctim == after.st_ctim);
}

timespec earlierDosStep(const timespec& from, uint32_t ceiling) {
  timespec candidate = from;
  const bool floor = ceiling <= earliestDosTime();
  for (int step = 0; step < kMaxSteps; ++step) {
    if (candidate.tv_sec < std::numeric_limits<time_t>::min() + kStep) break;
    candidate.tv_sec -= kStep;
    // Nothing packs below 1980: one step back is as good as any.
    if (floor || DosDateTime(candidate.tv_sec) < ceiling) break;
  }
  return candidate;
}

timespec copyModificationTime(const struct stat& before, const struct stat& after,
                              const timespec& now) {
  const timespec& was = before.st_mtim;
  if (changedDuringCopy(before, after)) {
    // What the next run compares against is the source as it is now; its time may even
    // have gone back (a future date written over).
    const timespec& is = after.st_mtim;
    const timespec& earlier = is < was ? is : was;
    const uint32_t ceiling = std::min(DosDateTime(was.tv_sec), DosDateTime(is.tv_sec));
    return earlierDosStep(earlier, ceiling);
  }
  timespec recent = now;
  recent.tv_sec -= kStep;
  const bool future = now < was;
  if (future || !(recent < was)) return was;
  return earlierDosStep(was, DosDateTime(was.tv_sec));
}
