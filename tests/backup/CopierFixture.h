#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "backup/CopyFiles.h"
#include "support/ScopedVariable.h"
#include "support/TempTree.h"
#include "support/TestData.h"

// True when two files hold the same bytes (read in pieces: they may be large).
bool sameBytes(const std::string& a, const std::string& b);

// A file of `size` bytes holding `content` at each offset given and holes elsewhere.
void writeSparse(const std::string& path, uint64_t size,
                 const std::vector<std::pair<uint64_t, std::string>>& extents);

// The copier working on one folder of a TempTree, as the walk drives it. The journal of
// named temporaries lives in the tree (state/resguarda/temporales).
class Copier : public testing::Test {
 public:
  Copier();
  ~Copier() override;

  void copy(FileCopier& copier, const char* source = "big", const char* target = "x");
  // The failure's reason, or "no error".
  std::string reasonOf(FileCopier& copier, const char* source = "big", const char* target = "x");
  // Starts a copy in a child process that stops half-way, holding its temporary; its pid.
  pid_t startStoppedCopy(bool unnamed, const char* source = "big", const char* target = "x");
  static void kill(pid_t child);
  // A copy killed half-way, leaving its temporary.
  void killMidCopy(bool unnamed, const char* source = "big", const char* target = "x");
  // Names in out/ that have our temporaries' form.
  std::vector<std::string> temporariesInOut() const;
  std::vector<std::string> journal() const;
  struct stat statOf(const std::string& relative) const;

  using Files = std::vector<std::string>;
  TempTree tree;
  ScopedVariable stateHome{"XDG_STATE_HOME", tree.path("state")};
  std::atomic<bool> abandon{false};
  int out, src;
  std::string srcFolder = tree.root() + "/";
  std::string outFolder = tree.path("out") + "/";
  std::string journalFolder = tree.path("state/resguarda/temporales");
  const std::string content = randomBytes(3 << 20);
};
