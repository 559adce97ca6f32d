#include "backup/CopyCheck.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/UniqueFd.h"
#include "support/ScopedTimeZone.h"
#include "support/TempTree.h"

namespace {

using Outcome = CopyChecker::Outcome;

struct CompareCase {
  const char* name;
  std::string source;
  std::string copy;
  Outcome outcome;
};

// Compares tree/src/f with tree/dest/<copy>, as the walk does with the two open files.
CopyChecker::Result compare(const TempTree& tree, const char* copy, const std::atomic<bool>& go) {
  const UniqueFd source(::open(tree.path("src/f").c_str(), O_RDONLY));
  const UniqueFd opened(::open(tree.path(std::string("dest/") + copy).c_str(), O_RDONLY));
  CopyChecker checker;
  return checker.compare(source.get(), "src/f", opened.get(), copy, go);
}

std::string bytes(size_t size, char last) {
  std::string text(size, 'x');
  if (size) text.back() = last;
  return text;
}

class CompareTable : public testing::TestWithParam<CompareCase> {};

TEST_P(CompareTable, FindsEveryDifference) {
  TempTree tree;
  tree.write("src/f", GetParam().source);
  tree.write("dest/f", GetParam().copy);
  EXPECT_EQ(compare(tree, "f", true).outcome, GetParam().outcome);
}

constexpr size_t kBlock = CopyChecker::kBlock;

INSTANTIATE_TEST_SUITE_P(
    Rows, CompareTable,
    testing::Values(CompareCase{"empty", "", "", Outcome::Same},
                    CompareCase{"firstByte", "hola", "Hola", Outcome::Different},
                    CompareCase{"shorter", "hola", "hol", Outcome::Different},
                    CompareCase{"blockSame", bytes(kBlock, 'y'), bytes(kBlock, 'y'), Outcome::Same},
                    CompareCase{"lastOfSecondBlock", bytes(kBlock + 1, 'y'), bytes(kBlock + 1, 'z'),
                                Outcome::Different}),
    [](const testing::TestParamInfo<CompareCase>& p) { return std::string(p.param.name); });

TEST(CopyChecker, NamesWhatItCouldNotReadAndStopsWhenAsked) {
  TempTree tree;
  tree.write("src/f", "hola");
  tree.write("dest/real", "hola");
  tree.mkdir("dest/folder");
  const CopyChecker::Result notAFile = compare(tree, "folder", true);
  EXPECT_EQ(notAFile.outcome, Outcome::Unreadable);
  EXPECT_EQ(notAFile.path, "folder");
  EXPECT_EQ(compare(tree, "real", false).outcome, Outcome::Stopped);
}

constexpr time_t kMorning = 1796781605;  // 2026-12-09 02:00:05 in Madrid
constexpr time_t kDay = 86400;

struct DueCase {
  const char* name;
  int days;
  time_t recorded;  // 0: no record; -1: a record that is not a time
  time_t now;
  bool due;
};

class DueTable : public testing::TestWithParam<DueCase> {};

TEST_P(DueTable, ChecksEveryNCalendarDays) {
  ScopedTimeZone zone("Europe/Madrid");
  TempTree tree;
  const std::string state = tree.path("state/resguarda");
  if (GetParam().recorded > 0) recordCheck(state, GetParam().recorded);
  if (GetParam().recorded < 0)
    tree.write(std::string("state/resguarda/") + kLastCheckFileName, "ayer");
  EXPECT_EQ(checkDue(GetParam().days, GetParam().now, state), GetParam().due);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DueTable,
    testing::Values(DueCase{"off", 0, 0, kMorning, false}, DueCase{"never", 7, 0, kMorning, true},
                    DueCase{"sameDay", 1, kMorning, kMorning + 3600, false},
                    DueCase{"nextDayEarlierHour", 1, kMorning, kMorning + kDay - 2, true},
                    DueCase{"sixOfSeven", 7, kMorning, kMorning + 6 * kDay, false},
                    DueCase{"sevenOfSeven", 7, kMorning, kMorning + 7 * kDay - 60, true},
                    DueCase{"future", 7, kMorning, kMorning - kDay, true},
                    DueCase{"junk", 7, -1, kMorning, true}),
    [](const testing::TestParamInfo<DueCase>& p) { return std::string(p.param.name); });

}  // namespace
