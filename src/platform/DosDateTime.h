#pragma once

#include <cstdint>
#include <ctime>

// A file time as local time packed into 32 bits: the date in the high half (years since
// 1980 in bits 15-9, month 8-5, day 4-0), the time in the low half (hours 15-11, minutes
// 10-5, seconds / 2 in 4-0). Compared as unsigned numbers these order by time at a
// two-second resolution. Times outside 1980-2107 clamp to the ends of that range.
uint32_t DosDateTime(time_t when);

// The packed form of a broken-down local time, with the same clamping.
uint32_t DosDateTime(const std::tm& local);
