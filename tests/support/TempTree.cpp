#include "support/TempTree.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

TempTree::TempTree() {
  std::string pattern = (fs::temp_directory_path() / "resguarda-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
}

TempTree::~TempTree() {
  // Tests make read-only files and folders; give the owner back write access first.
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root_, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (!it->is_symlink()) ::chmod(it->path().c_str(), it->is_directory() ? 0700 : 0600);
  }
  fs::remove_all(root_, ec);
}

std::string TempTree::path(const std::string& relative) const {
  return root_ + "/" + relative;
}

std::string TempTree::write(const std::string& relative, const std::string& content, time_t mtime) {
  const std::string full = path(relative);
  fs::create_directories(fs::path(full).parent_path());
  {
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + full);
  }
  if (mtime != 0) setMtime(full, mtime);
  return full;
}

std::string TempTree::mkdir(const std::string& relative) {
  const std::string full = path(relative);
  fs::create_directories(full);
  return full;
}

void TempTree::setMtime(const std::string& path, time_t mtime) {
  struct timeval times[2] = {{mtime, 0}, {mtime, 0}};
  if (::lutimes(path.c_str(), times) != 0) throw std::runtime_error("cannot set time " + path);
}

std::string TempTree::read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool TempTree::exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> TempTree::list(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> TempTree::files(const std::string& folder) {
  std::vector<std::string> result;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (it->is_regular_file() && !it->is_symlink())
      result.push_back(fs::relative(it->path(), folder).string());
  }
  std::sort(result.begin(), result.end());
  return result;
}
