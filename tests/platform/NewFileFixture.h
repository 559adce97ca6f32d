#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/NewFile.h"
#include "support/ScopedVariable.h"
#include "support/TempTree.h"

// New files written into one folder of a TempTree (out/). The journal of named temporaries
// lives in the tree (state/resguarda/temporales).
class NewFileFixture : public testing::Test {
 public:
  using Files = std::vector<std::string>;

  NewFileFixture();
  ~NewFileFixture() override;

  // Writes out/<name> whole: "" when it was put in place, "kept" when what stood there was
  // kept, else the failure's reason.
  std::string write(const char* name, const std::string& content, const NewFileOptions& options);
  // A writer in a child process that, at `step`, stops holding its file (`stop`, the pid is
  // returned) or is killed there (0 is returned once it is dead).
  pid_t writeInChild(NewFileStep step, bool unnamed, bool stop, const char* name = "x");
  static void kill(pid_t child);

  // Names in out/ that have our temporaries' form.
  Files temporariesInOut() const;
  Files journal() const;
  struct stat statOf(const std::string& relative) const;

  TempTree tree;
  ScopedVariable stateHome{"XDG_STATE_HOME", tree.path("state")};
  int out;
  std::string outFolder = tree.path("out") + "/";
  std::string journalFolder = tree.path("state/resguarda/temporales");
};

NewFileOptions withUnnamed(bool unnamed);
