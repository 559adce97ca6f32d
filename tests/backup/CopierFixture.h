#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "backup/CopyFiles.h"
#include "support/TestData.h"
#include "support/WriterFixture.h"

// True when two files hold the same bytes (read in pieces: they may be large).
bool sameBytes(const std::string& a, const std::string& b);

// A file of `size` bytes holding `content` at each offset given and holes elsewhere.
void writeSparse(const std::string& path, uint64_t size,
                 const std::vector<std::pair<uint64_t, std::string>>& extents);

// The copier working from the tree's root into out/, as the walk drives it.
class Copier : public WriterFixture {
 public:
  Copier();
  ~Copier() override;

  void copy(FileCopier& copier, const char* source = "big", const char* target = "x");
  // The failure's reason, or "no error".
  std::string reasonOf(FileCopier& copier, const char* source = "big", const char* target = "x");
  // Starts a copy in a child process that stops half-way, holding its temporary; its pid.
  pid_t startStoppedCopy(bool unnamed, const char* source = "big", const char* target = "x");
  // A copy killed half-way, leaving its temporary.
  void killMidCopy(bool unnamed, const char* source = "big", const char* target = "x");

  std::atomic<bool> abandon{false};
  int src;
  std::string srcFolder = tree.root() + "/";
  const std::string content = randomBytes(3 << 20);
};
