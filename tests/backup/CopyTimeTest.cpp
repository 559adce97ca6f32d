#include "backup/CopyTime.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "CopierFixture.h"
#include "backup/CopyFiles.h"
#include "platform/DosDateTime.h"
#include "support/ScopedTimeZone.h"

namespace {

constexpr time_t T = 1700000000;  // even: T and T + 1 share a two-second step
// 2023-10-29 01:00:00 UTC: Central European clocks go back from 03:00 to 02:00.
constexpr time_t kFold = 1698541200;
constexpr char kCentralEurope[] = "CET-1CEST,M3.5.0,M10.5.0/3";

timespec at(time_t seconds, long nanoseconds = 0) {
  return timespec{seconds, nanoseconds};
}

struct stat statusAt(const timespec& modified) {
  struct stat st {};
  st.st_size = 100;
  st.st_mtim = modified;
  st.st_ctim = modified;
  return st;
}

// The rule the walk applies: the file is copied again when its packed time is later.
bool copiedAgain(const timespec& source, const timespec& copy) {
  return DosDateTime(source.tv_sec) > DosDateTime(copy.tv_sec);
}

struct TimeCase {
  const char* name;
  const char* zone;
  timespec before;                           // the source's time before the copy
  std::function<void(struct stat&)> during;  // what happened to it during the copy
  timespec now;
  bool keepsItsDate;
};

class CopyTime : public testing::TestWithParam<TimeCase> {};

TEST_P(CopyTime, LooksCurrentOnlyWhenItIs) {
  const TimeCase& c = GetParam();
  ScopedTimeZone zone(c.zone);
  const struct stat before = statusAt(c.before);
  struct stat after = before;
  if (c.during) c.during(after);
  const timespec copy = copyModificationTime(before, after, c.now);
  if (c.keepsItsDate) {
    EXPECT_EQ(copy.tv_sec, c.before.tv_sec);
    EXPECT_EQ(copy.tv_nsec, c.before.tv_nsec);
  } else {
    // Older than the source as it is now, by the packed time the next run compares.
    EXPECT_TRUE(copiedAgain(after.st_mtim, copy));
    EXPECT_TRUE(copiedAgain(before.st_mtim, copy));
    EXPECT_LE(copy.tv_sec, std::min(before.st_mtim.tv_sec, after.st_mtim.tv_sec) - 2);
  }
}

const auto writtenAt = [](time_t when) {
  return [when](struct stat& st) { st.st_mtim = st.st_ctim = at(when, 5); };
};

INSTANTIATE_TEST_SUITE_P(
    Cases, CopyTime,
    testing::Values(
        TimeCase{"OldAndStill", "UTC0", at(T, 123456789), nullptr, at(T + 100), true},
        TimeCase{"WrittenWithinTwoSeconds", "UTC0", at(T + 99, 500), nullptr, at(T + 100), false},
        TimeCase{"WrittenJustNow", "UTC0", at(T + 100), nullptr, at(T + 100), false},
        TimeCase{"WrittenTwoSecondsAgo", "UTC0", at(T + 98), nullptr, at(T + 100), true},
        TimeCase{"DatedInTheFuture", "UTC0", at(T + 1000), nullptr, at(T + 100), true},
        TimeCase{"WrittenDuringTheCopy", "UTC0", at(T), writtenAt(T + 100), at(T + 100), false},
        TimeCase{"ModeChangedDuringTheCopy", "UTC0", at(T),
                 [](struct stat& st) { st.st_ctim = at(T + 100); }, at(T + 100), false},
        TimeCase{"GrewDuringTheCopy", "UTC0", at(T), [](struct stat& st) { st.st_size += 1; },
                 at(T + 100), false},
        TimeCase{"FutureDateWrittenOver", "UTC0", at(T + 1000), writtenAt(T + 100), at(T + 100),
                 false},
        TimeCase{"FutureDateTouchedDuringTheCopy", "UTC0", at(T + 1000),
                 [](struct stat& st) { st.st_ctim = at(T + 100); }, at(T + 100), false},
        TimeCase{"SetBackDuringTheCopy", "UTC0", at(T + 50), writtenAt(T), at(T + 100), false},
        TimeCase{"JustAfterTheClocksWentBack", kCentralEurope, at(kFold + 1), nullptr,
                 at(kFold + 2), false},
        TimeCase{"WrittenAcrossTheFold", kCentralEurope, at(kFold - 1), writtenAt(kFold + 1),
                 at(kFold + 2), false}),
    [](const testing::TestParamInfo<TimeCase>& p) { return std::string(p.param.name); });

// Runs some seconds apart over a file that is written once: at most one extra copy, then
// the copy stays current for good.
struct RunsCase {
  const char* name;
  const char* zone;
  time_t written;
  time_t firstRun;
  time_t between;
  int copies;
};

class RepeatedRuns : public testing::TestWithParam<RunsCase> {};

TEST_P(RepeatedRuns, SettleAfterOneExtraCopy) {
  const RunsCase& c = GetParam();
  ScopedTimeZone zone(c.zone);
  const struct stat source = statusAt(at(c.written, 250));
  std::optional<timespec> copy;
  int copies = 0;
  for (int run = 0; run < 20; ++run) {
    if (copy && !copiedAgain(source.st_mtim, *copy)) continue;
    ++copies;
    copy = copyModificationTime(source, source, at(c.firstRun + run * c.between, 900));
  }
  EXPECT_EQ(copies, c.copies);
  EXPECT_EQ(DosDateTime(copy->tv_sec), DosDateTime(c.written));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RepeatedRuns,
    testing::Values(RunsCase{"LongAfterItWasWritten", "UTC0", T, T + 3600, 60, 1},
                    RunsCase{"RightAfterItWasWritten", "UTC0", T, T, 2, 2},
                    RunsCase{"HourlyAfterTheFold", kCentralEurope, kFold + 1, kFold + 1, 3600, 2},
                    RunsCase{"EveryFewSecondsAfterTheFold", kCentralEurope, kFold + 1, kFold + 1, 3,
                             2}),
    [](const testing::TestParamInfo<RunsCase>& p) { return std::string(p.param.name); });

TEST(EarlierDosStep, StopsWithinItsBoundWhereNothingPacksLower) {
  ScopedTimeZone zone("UTC0");
  // Before 1980 every time packs to the same value.
  const timespec old = earlierDosStep(at(100), DosDateTime(time_t{100}));
  EXPECT_LT(old.tv_sec, 100);
  // After 2107 likewise; the search gives up a few hours back.
  const time_t far = 5000000000;
  const timespec later = earlierDosStep(at(far), DosDateTime(far));
  EXPECT_LT(later.tv_sec, far);
  EXPECT_GE(later.tv_sec, far - 24 * 3600);
}

// The copier itself, with the clock it reads before copying pinned.
timespec pinnedClock() {
  return at(T + 1);
}

timespec laterClock() {
  return at(T + 100);
}

TEST_F(Copier, CopyOfAStillFileKeepsItsTimeToTheNanosecond) {
  tree.write("small", "s");
  const timespec times[2] = {at(T, 1), at(T - 3600, 123456789)};
  ASSERT_EQ(::utimensat(AT_FDCWD, tree.path("small").c_str(), times, 0), 0);
  FileCopier copier(abandon);
  copy(copier, "small");
  const struct stat st = statOf("out/x");
  EXPECT_EQ(st.st_mtim.tv_sec, T - 3600);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
  EXPECT_FALSE(copiedAgain(statOf("small").st_mtim, st.st_mtim));
}

TEST_F(Copier, FileWrittenJustBeforeItsCopyIsCopiedAgainOnce) {
  tree.write("small", "s", T);
  FileCopier copier(abandon);
  copier.setClock(pinnedClock);
  copy(copier, "small");
  EXPECT_TRUE(copiedAgain(statOf("small").st_mtim, statOf("out/x").st_mtim));
  copier.setClock(laterClock);
  copy(copier, "small");
  EXPECT_EQ(statOf("out/x").st_mtime, T);
  EXPECT_FALSE(copiedAgain(statOf("small").st_mtim, statOf("out/x").st_mtim));
}

TEST_F(Copier, FileWrittenDuringItsCopyIsCopiedAgain) {
  tree.write("big", content, T);
  for (const bool unnamed : {true, false}) {
    FileCopier copier(abandon);
    copier.setChunkSize(1 << 20);
    copier.setUnnamedTemporaries(unnamed);
    bool written = false;
    copier.setChunkObserver([&](uint64_t) {
      if (written) return;
      written = true;
      const int fd = ::open(tree.path("big").c_str(), O_WRONLY);
      EXPECT_EQ(::pwrite(fd, "!", 1, 0), 1);
      ::close(fd);
    });
    copy(copier);
    EXPECT_TRUE(copiedAgain(statOf("big").st_mtim, statOf("out/x").st_mtim));
    TempTree::setMtime(tree.path("big"), T);
  }
}

TEST_F(Copier, FileDatedInTheFutureKeepsItsDate) {
  const time_t future = ::time(nullptr) + 86400;
  tree.write("small", "s", future);
  FileCopier copier(abandon);
  copy(copier, "small");
  EXPECT_EQ(statOf("out/x").st_mtime, future);
}

}  // namespace
