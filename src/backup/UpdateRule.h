#pragma once

#include <ctime>

// The update rule: a copy is taken again when its source is newer. Both times are compared as
// instants in two-second steps, so two times within one step count as equal, and the hour the
// clocks go back (the same local times twice) never makes a later change look older. Wherever
// local time runs forward this agrees with comparing packed local DOS times. Dates outside
// what those hold (1980-2107) clamp to its ends, so a disk that cannot store them (FAT) still
// matches its source.
//
// A copy dated after `now` proves nothing about its source: it counts as up to date only when
// it is dated exactly like it (a future-dated source copied with its date), never as newer.
bool sourceIsNewer(time_t source, time_t copy, time_t now);

// True when `when` lies at least one two-second step after `now`.
bool isFutureDate(time_t when, time_t now);
