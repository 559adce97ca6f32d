#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "support/ScopedVariable.h"
#include "support/TempTree.h"

// Files written into one folder of a TempTree (out/), by any writer built on NewFile. The
// journal of named temporaries lives in the tree (state/resguarda/temporales).
class WriterFixture : public testing::Test {
 public:
  using Files = std::vector<std::string>;

  WriterFixture();
  ~WriterFixture() override;

  // Runs `work` in a child process that stops, holding whatever it has open, where `work`
  // calls the function it is handed. The child's pid once it has stopped there.
  static pid_t stoppedChild(const std::function<void(const std::function<void()>&)>& work);
  static void kill(pid_t child);

  // Names in out/ that have our temporaries' form.
  Files temporariesInOut() const;
  Files journal() const;
  // st_mode 0 when nothing is there.
  struct stat statOf(const std::string& relative) const;

  TempTree tree;
  ScopedVariable stateHome{"XDG_STATE_HOME", tree.path("state")};
  int out;
  std::string outFolder = tree.path("out") + "/";
  std::string journalFolder = tree.path("state/resguarda/temporales");
};
