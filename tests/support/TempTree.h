#pragma once

#include <ctime>
#include <string>
#include <vector>

// A private temporary folder for one test, removed with everything in it at the end.
// Files get explicit modification times, so tests of the update rule never sleep.
class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The folder itself, without a trailing "/".
  const std::string& root() const { return root_; }
  // root() + "/" + relative.
  std::string path(const std::string& relative) const;

  // Writes a file (creating its folders) and, when mtime is not 0, sets its modification time.
  std::string write(const std::string& relative, const std::string& content, time_t mtime = 0);
  std::string mkdir(const std::string& relative);
  static void setMtime(const std::string& path, time_t mtime);

  static std::string read(const std::string& path);
  static bool exists(const std::string& path);
  // Names in a folder, sorted; empty when it does not exist.
  static std::vector<std::string> list(const std::string& folder);
  // Every regular file below a folder, as sorted relative paths.
  static std::vector<std::string> files(const std::string& folder);

 private:
  std::string root_;
};
