#include "backup/UpdateRule.h"

#include <gtest/gtest.h>

#include <string>

#include "support/ScopedTimeZone.h"

namespace {

constexpr time_t kNow = 1796817600;         // 2026-12-09 12:00:00 UTC
constexpr time_t kFirstCopy = 1792888200;   // 2026-10-25 02:30 CEST, the first 02:xx hour
constexpr time_t kSecondSave = 1792890600;  // 2026-10-25 02:10 CET, the second one
constexpr time_t k2031 = 1938074400;
constexpr time_t k2200 = 7258118400;

struct RuleCase {
  const char* name;
  time_t source;
  time_t copy;
  bool copied;
};

class UpdateRuleTable : public testing::TestWithParam<RuleCase> {};

TEST_P(UpdateRuleTable, DecidesWhetherTheCopyIsTakenAgain) {
  ScopedTimeZone zone("Europe/Madrid");
  EXPECT_EQ(sourceIsNewer(GetParam().source, GetParam().copy, kNow), GetParam().copied);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateRuleTable,
    testing::Values(RuleCase{"Same", 1700000000, 1700000000, false},
                    RuleCase{"SameTwoSecondStep", 1700000001, 1700000000, false},
                    RuleCase{"NewerByOneStep", 1700000002, 1700000001, true},
                    RuleCase{"CopyNewer", 1700000000, 1700000002, false},
                    RuleCase{"SavedInTheRepeatedHour", kSecondSave, kFirstCopy, true},
                    RuleCase{"FutureSourceCopiedWithItsDate", k2031, k2031, false},
                    RuleCase{"EditAfterAFutureDate", kNow - 60, k2031, true},
                    RuleCase{"FutureSourceOverAnOlderCopy", k2031, kNow, true},
                    RuleCase{"FutureDateMovedBack", k2031 - 86400, k2031, true},
                    RuleCase{"BothBeyond2107Clamp", k2200 + 3600, k2200, false},
                    RuleCase{"DiskThatStopsAt2107", k2200, 4354776000, false},
                    RuleCase{"BothBefore1980Clamp", 100000, 0, false},
                    RuleCase{"FutureSourcePastTheTopBitOfDosTime", 2400000000, 1700000000, true}),
    [](const testing::TestParamInfo<RuleCase>& p) { return std::string(p.param.name); });

}  // namespace
