#include "backup/TSincronizador.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

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
