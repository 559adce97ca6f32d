#include "platform/DosDateTime.h"

namespace {

constexpr uint32_t kEarliest = (0u << 25) | (1u << 21) | (1u << 16);  // 1980-01-01 00:00:00
constexpr uint32_t kLatest = (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) |
                             29u;  // 2107-12-31 23:59:58

}  // namespace

uint32_t DosDateTime(const std::tm& local) {
  const long year = 1900L + local.tm_year;
  if (year < 1980) return kEarliest;
  if (year > 2107) return kLatest;
  const auto date =
      static_cast<uint32_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  // A leap second (60) still packs into the five bits: 30 is a valid field value.
  const auto time =
      static_cast<uint32_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  return (date << 16) | time;
}

uint32_t DosDateTime(time_t when) {
  std::tm local{};
  if (!::localtime_r(&when, &local)) return when < 0 ? kEarliest : kLatest;
  return DosDateTime(local);
}
