#pragma once

#include <string>

// A small tmpfs mounted on a folder for one test, so that "disk full" really happens; it is
// unmounted again at the end. Mounting needs root (tests run as root); where it is refused,
// mounted() is false and the test skips.
class SmallTmpfs {
 public:
  // `size` as mount(8) takes it, for instance "1m".
  explicit SmallTmpfs(std::string folder, const std::string& size = "1m");
  ~SmallTmpfs();
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};
