#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "platform/NewFile.h"
#include "support/WriterFixture.h"

// New files written into out/ of the writer's tree.
class NewFileFixture : public WriterFixture {
 public:
  // Writes out/<name> whole: "" when it was put in place, "kept" when what stood there was
  // kept, else the failure's reason (checking the failure's text). `known`: what the caller found
  // under the name.
  std::string write(const char* name, const std::string& content, const NewFileOptions& options,
                    const struct stat* known = nullptr);
  // A writer in a child process that, at `step`, stops holding its file (`stop`, the pid is
  // returned) or is killed there (0 is returned once it is dead).
  pid_t writeInChild(NewFileStep step, bool unnamed, bool stop, const char* name = "x");
};

NewFileOptions withUnnamed(bool unnamed);
