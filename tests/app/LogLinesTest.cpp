#include "app/LogLines.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

namespace {

struct Appends {
  const char* name;
  std::vector<std::vector<std::string>> batches;
  QString kept;  // with a limit of three lines
};

class LogLinesLimit : public testing::TestWithParam<Appends> {};

TEST_P(LogLinesLimit, KeepsTheNewestLinesInOrder) {
  LogLines log(3);
  for (const auto& batch : GetParam().batches) log.append(batch);
  EXPECT_EQ(log.text(), GetParam().kept);
  EXPECT_EQ(log.rowCount(), GetParam().kept.isEmpty() ? 0 : GetParam().kept.count('\n') + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Batches, LogLinesLimit,
    testing::Values(Appends{"Nothing", {{}}, ""}, Appends{"UnderTheLimit", {{"a"}, {"b"}}, "a\nb"},
                    Appends{"OneLineOver", {{"a", "b"}, {"c", "d"}}, "b\nc\nd"},
                    Appends{"ABatchLargerThanTheLimit", {{"a"}, {"b", "c", "d", "e"}}, "c\nd\ne"},
                    Appends{"EmptyLinesAreLines", {{"", "x", ""}}, "\nx\n"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(LogLines, AViewIsToldOfEveryRowAddedAndDropped) {
  LogLines log(2);
  QSignalSpy inserted(&log, &QAbstractItemModel::rowsInserted);
  QSignalSpy removed(&log, &QAbstractItemModel::rowsRemoved);
  log.append({"a", "b"});
  log.append({"c"});
  EXPECT_EQ(inserted.count(), 2);
  ASSERT_EQ(removed.count(), 1);
  EXPECT_EQ(removed[0][2].toInt(), 0);  // the oldest row went
  log.clear();
  EXPECT_EQ(log.rowCount(), 0);
  EXPECT_EQ(log.index(0, 0).data(), QVariant());
}

}  // namespace
