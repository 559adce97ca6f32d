#include "platform/DosDateTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "support/ScopedTimeZone.h"

namespace {

// Packing goes through local time: each test pins the zone (ScopedTimeZone).

struct PackCase {
  const char* name;
  time_t when;  // UTC
  uint32_t packed;
};

class DosDateTimePack : public testing::TestWithParam<PackCase> {};

TEST_P(DosDateTimePack, PacksUtcTime) {
  ScopedTimeZone zone("UTC0");
  EXPECT_EQ(DosDateTime(GetParam().when), GetParam().packed) << std::hex << GetParam().packed;
}

constexpr uint32_t pack(int y, int mo, int d, int h, int mi, int s) {
  return (static_cast<uint32_t>(y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) | (mi << 5) |
         (s / 2);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DosDateTimePack,
    testing::Values(PackCase{"FirstRepresentable", 315532800, pack(1980, 1, 1, 0, 0, 0)},
                    PackCase{"OddSecondTruncates", 1700000001, pack(2023, 11, 14, 22, 13, 20)},
                    PackCase{"LastSecondOfDay", 1700006399, pack(2023, 11, 14, 23, 59, 58)},
                    PackCase{"LeapDay", 1709208000, pack(2024, 2, 29, 12, 0, 0)},
                    // From 2044 the top bit is set: only an unsigned comparison keeps the order.
                    PackCase{"TopBitSet", 2335219200, pack(2044, 1, 1, 0, 0, 0)},
                    PackCase{"BeforeRangeClamps", 0, pack(1980, 1, 1, 0, 0, 0)},
                    PackCase{"NegativeClamps", -1000000000, pack(1980, 1, 1, 0, 0, 0)},
                    PackCase{"AfterRangeClamps", 4354819200, pack(2107, 12, 31, 23, 59, 58)},
                    PackCase{"FarFutureClamps", static_cast<time_t>(1) << 60,
                             pack(2107, 12, 31, 23, 59, 58)}),
    [](const testing::TestParamInfo<PackCase>& p) { return std::string(p.param.name); });

TEST(DosDateTime, UsesLocalTime) {
  ScopedTimeZone zone("CET-1");
  EXPECT_EQ(DosDateTime(1700000000), pack(2023, 11, 14, 23, 13, 20));
}

TEST(DosDateTime, OrdersAcrossTheTopBitAsUnsigned) {
  ScopedTimeZone zone("UTC0");
  EXPECT_GT(DosDateTime(2400000000), DosDateTime(1700000000));
  EXPECT_EQ(DosDateTime(1700000000), DosDateTime(1700000001));
  EXPECT_GT(DosDateTime(1700000002), DosDateTime(1700000001));
}

}  // namespace
