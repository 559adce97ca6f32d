#include "platform/RunLock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TempTree.h"

namespace {

// Another process holding the lock of `destination` until it is killed.
class LockHolder {
 public:
  LockHolder(const std::string& folder, const std::string& destination) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      const RunLock lock = RunLock::take(folder, destination);
      const char held = lock.state() == RunLock::State::Held ? 'y' : 'n';
      if (::write(ready[1], &held, 1) != 1) ::_exit(1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char held = 0;
    held_ = ::read(ready[0], &held, 1) == 1 && held == 'y';
    ::close(ready[0]);
  }
  ~LockHolder() { kill(); }
  bool held() const { return held_; }
  // Ends the holder the hard way: the system must release its lock all the same.
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool held_ = false;
};

}  // namespace

TEST(RunLock, OneRunPerDestinationUntilTheHolderDies) {
  TempTree tree;
  const std::string state = tree.path("state/resguarda");
  LockHolder holder(state, "/media/ana/DISCO/copias");
  ASSERT_TRUE(holder.held());
  EXPECT_EQ(RunLock::take(state, "/media/ana/DISCO/copias").state(), RunLock::State::Busy);
  // The same folder with a trailing slash is the same destination; another one is free.
  EXPECT_EQ(RunLock::take(state, "/media/ana/DISCO/copias/").state(), RunLock::State::Busy);
  EXPECT_EQ(RunLock::take(state, "/media/ana/DISCO/otras").state(), RunLock::State::Held);
  holder.kill();
  const RunLock mine = RunLock::take(state, "/media/ana/DISCO/copias");
  EXPECT_EQ(mine.state(), RunLock::State::Held);
  // While this process holds it, a second run of its own is refused too.
  EXPECT_EQ(RunLock::take(state, "/media/ana/DISCO/copias").state(), RunLock::State::Busy);
}

TEST(RunLock, NeverTakenThroughALinkedStateFolder) {
  TempTree tree;
  tree.mkdir("elsewhere");
  ASSERT_EQ(::symlink(tree.path("elsewhere").c_str(), tree.path("state").c_str()), 0);
  const RunLock lock = RunLock::take(tree.path("state"), "/copias");
  EXPECT_EQ(lock.state(), RunLock::State::Unavailable);
  EXPECT_TRUE(TempTree::files(tree.path("elsewhere")).empty());
  EXPECT_EQ(RunLock::take("", "/copias").state(), RunLock::State::Unavailable);
}
