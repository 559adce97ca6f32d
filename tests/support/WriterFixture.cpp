#include "WriterFixture.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/NewFile.h"
#include "support/ForkedChild.h"

WriterFixture::WriterFixture() {
  tree.mkdir("out");
  out = ::open(tree.path("out").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

WriterFixture::~WriterFixture() {
  ::close(out);
}

pid_t WriterFixture::stoppedChild(const std::function<void(const std::function<void()>&)>& work) {
  const pid_t pid = startStoppedChild([&](const std::function<void()>& stopHere) {
    try {
      work(stopHere);
    } catch (...) {
    }
  });
  EXPECT_GT(pid, 0) << "the child never reached the point where it stops";
  return pid;
}

void WriterFixture::kill(pid_t child) {
  killChild(child);
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
