#include "NewFileFixture.h"

#include "platform/Errors.h"

NewFileOptions withUnnamed(bool unnamed) {
  NewFileOptions options;
  options.unnamedAllowed = unnamed;
  return options;
}

std::string NewFileFixture::write(const char* name, const std::string& content,
                                  const NewFileOptions& options, const struct stat* known) {
  try {
    NewFile file(out, name, outFolder + name, options, known);
    file.write(content);
    file.commit();
    return "";
  } catch (const ResguardaError& e) {
    // Every failure names the file as the user knows it.
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + outFolder + name);
    EXPECT_EQ(e.path(), outFolder + name);
    return e.reason().empty() ? std::string("no reason") : e.reason();
  }
}

pid_t NewFileFixture::writeInChild(NewFileStep step, bool unnamed, bool stop, const char* name) {
  const pid_t pid = stoppedChild([&](const std::function<void()>& stopHere) {
    NewFileOptions options = withUnnamed(unnamed);
    options.durable = true;
    options.hook = [&](NewFileStep at) {
      if (at == step) stopHere();
    };
    NewFile file(out, name, outFolder + name, options);
    file.write("new content");
    file.commit();
  });
  if (stop) return pid;
  // Killed where it stopped: what a writer killed at that step leaves.
  kill(pid);
  return 0;
}
