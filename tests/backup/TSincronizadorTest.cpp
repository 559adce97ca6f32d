#include "backup/TSincronizador.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <functional>
#include <future>
#include <stdexcept>

TEST(TSincronizador, RunsOneBodyAtATimeAtLowerPriority) {
  TSincronizador worker;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<int> niceness;
  ASSERT_TRUE(worker.start([&] {
    niceness.set_value(::getpriority(PRIO_PROCESS, 0));
    released.wait();
  }));
  EXPECT_GE(niceness.get_future().get(), 10);
  EXPECT_TRUE(worker.running());
  EXPECT_FALSE(worker.start([] { FAIL() << "a second run started"; }));
  release.set_value();
  worker.join();
  EXPECT_FALSE(worker.running());
  // An error escaping a body is kept silently, and the next run can start.
  ASSERT_TRUE(worker.start([] { throw std::runtime_error("boom"); }));
  worker.join();
  bool ran = false;
  ASSERT_TRUE(worker.start([&] { ran = true; }));
  worker.join();
  EXPECT_TRUE(ran);
}

namespace {

struct EndCase {
  const char* name;
  std::function<void()> body;
};

class TSincronizadorEnd : public ::testing::TestWithParam<EndCase> {};

}  // namespace

TEST_P(TSincronizadorEnd, TheEndIsToldHoweverTheBodyEnds) {
  TSincronizador worker;
  std::promise<bool> runningAtEnd;
  std::atomic<int> ends{0};
  ASSERT_TRUE(worker.start(GetParam().body, [&] {
    if (++ends == 1) runningAtEnd.set_value(worker.running());
  }));
  EXPECT_FALSE(runningAtEnd.get_future().get());
  worker.join();
  EXPECT_EQ(ends, 1);
  // The worker is ready for the next run.
  std::promise<void> next;
  ASSERT_TRUE(worker.start([] {}, [&] { next.set_value(); }));
  next.get_future().get();
}

INSTANTIATE_TEST_SUITE_P(
    TSincronizador, TSincronizadorEnd,
    ::testing::Values(EndCase{"Returns", [] {}},
                      EndCase{"ThrowsAnError", [] { throw std::runtime_error("boom"); }},
                      EndCase{"ThrowsSomethingElse", [] { throw 42; }}),
    [](const testing::TestParamInfo<EndCase>& p) { return std::string(p.param.name); });
