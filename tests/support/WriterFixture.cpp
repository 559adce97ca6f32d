#include "WriterFixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/NewFile.h"

WriterFixture::WriterFixture() {
  tree.mkdir("out");
  out = ::open(tree.path("out").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

WriterFixture::~WriterFixture() {
  ::close(out);
}

pid_t WriterFixture::stoppedChild(const std::function<void(const std::function<void()>&)>& work) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ready[0]);
    const std::function<void()> stopHere = [&] {
      if (::write(ready[1], "x", 1) == 1) ::pause();
    };
    try {
      work(stopHere);
    } catch (...) {
    }
    ::_exit(0);
  }
  ::close(ready[1]);
  char c;
  const bool stopped = pid > 0 && ::read(ready[0], &c, 1) == 1;
  ::close(ready[0]);
  EXPECT_TRUE(stopped) << "the child never reached the point where it stops";
  if (!stopped && pid > 0) ::waitpid(pid, nullptr, 0);
  return stopped ? pid : -1;
}

void WriterFixture::kill(pid_t child) {
  if (child <= 0) return;
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

WriterFixture::Files WriterFixture::temporariesInOut() const {
  Files found;
  for (const std::string& name : TempTree::list(tree.path("out")))
    if (NewFile::isTemporaryName(name.c_str())) found.push_back(name);
  return found;
}

WriterFixture::Files WriterFixture::journal() const {
  return TempTree::list(journalFolder);
}

struct stat WriterFixture::statOf(const std::string& relative) const {
  struct stat st {};
  if (::lstat(tree.path(relative).c_str(), &st) != 0) st.st_mode = 0;
  return st;
}
