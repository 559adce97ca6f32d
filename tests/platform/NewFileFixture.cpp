#include "NewFileFixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Errors.h"

NewFileFixture::NewFileFixture() {
  tree.mkdir("out");
  out = ::open(tree.path("out").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

NewFileFixture::~NewFileFixture() {
  ::close(out);
}

NewFileOptions withUnnamed(bool unnamed) {
  NewFileOptions options;
  options.unnamedAllowed = unnamed;
  return options;
}

std::string NewFileFixture::write(const char* name, const std::string& content,
                                  const NewFileOptions& options) {
  try {
    NewFile file(out, name, outFolder + name, options);
    file.write(content);
    return file.commit() ? "" : "kept";
  } catch (const ResguardaError& e) {
    return e.reason().empty() ? std::string("no reason") : e.reason();
  }
}

pid_t NewFileFixture::writeInChild(NewFileStep step, bool unnamed, bool stop, const char* name) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    NewFileOptions options = withUnnamed(unnamed);
    options.durable = true;
    options.hook = [&](NewFileStep at) {
      if (at != step) return;
      if (!stop) ::raise(SIGKILL);
      if (::write(ready[1], "x", 1) == 1) ::pause();
    };
    try {
      NewFile file(out, name, outFolder + name, options);
      file.write("new content");
      file.commit();
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  ::close(ready[1]);
  if (!stop) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(ready[0]);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the writer never reached the step";
    return 0;
  }
  char c;
  const bool stopped = pid > 0 && ::read(ready[0], &c, 1) == 1;
  ::close(ready[0]);
  EXPECT_TRUE(stopped);
  return pid;
}

void NewFileFixture::kill(pid_t child) {
  if (child <= 0) return;
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

NewFileFixture::Files NewFileFixture::temporariesInOut() const {
  Files found;
  for (const std::string& name : TempTree::list(tree.path("out")))
    if (NewFile::isTemporaryName(name.c_str())) found.push_back(name);
  return found;
}

NewFileFixture::Files NewFileFixture::journal() const {
  return TempTree::list(journalFolder);
}

struct stat NewFileFixture::statOf(const std::string& relative) const {
  struct stat st {};
  if (::lstat(tree.path(relative).c_str(), &st) != 0) st.st_mode = 0;
  return st;
}
