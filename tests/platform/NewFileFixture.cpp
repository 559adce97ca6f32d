#include "NewFileFixture.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "platform/Errors.h"
#include "support/ForkedChild.h"

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
  const auto writeStoppingAt = [&](const std::function<void()>& atStep) {
    NewFileOptions options = withUnnamed(unnamed);
    options.durable = true;
    options.hook = [&](NewFileStep at) {
      if (at == step) atStep();
    };
    // A failure before the step ends the child (it then never stops there).
    NewFile file(out, name, outFolder + name, options);
    file.write("new content");
    file.commit();
  };
  if (!stop) {
    const ChildEnd end = waitForChild(startChild([&] {
      writeStoppingAt([] { ::raise(SIGKILL); });
      return 0;
    }));
    EXPECT_FALSE(end.exited) << "the writer never reached the step";
    return 0;
  }
  const pid_t pid = startStoppedChild(writeStoppingAt);
  EXPECT_GT(pid, 0);
  return pid;
}

void NewFileFixture::kill(pid_t child) {
  killChild(child);
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
