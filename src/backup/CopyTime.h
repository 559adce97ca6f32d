#pragma once

#include <sys/stat.h>
#include <time.h>

#include <cstdint>

// The modification time a copy is given. The walk takes a file again only when its packed
// DOS time (two-second steps) is later than its copy's, so a copy dated like its source
// looks current for good. That is right when the source was still during the copy and had
// not been written in the two seconds before it (it may still be written within the same
// step); otherwise the copy is dated at least one step older, so that the next run copies it
// again.
//
// `before` and `after` are the source's status just before and just after its bytes were
// copied; `now` is the clock read just before copying. A source dated in the future keeps its
// date unless it changed: it cannot be written within a step already past.
timespec copyModificationTime(const struct stat& before, const struct stat& after,
                              const timespec& now);

// True when the source's size, modification or change time moved while it was copied.
bool changedDuringCopy(const struct stat& before, const struct stat& after);

// A time before `from` whose packed DOS time is below `ceiling`, found by going back in
// two-second steps (a daylight-saving fold can take an hour); the furthest time tried when
// there is none within reach (dates clamped at 1980).
timespec earlierDosStep(const timespec& from, uint32_t ceiling);
