#include "backup/FolderChain.h"

#include "backup/DestinationFolder.h"

#include <sys/stat.h>

#include <cerrno>
#include <string_view>

namespace {

// Collapses repeated and trailing slashes.
std::string normalised(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out.push_back(c);
  }
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

// `path` has no trailing slash. Recursion depth is the number of missing levels.
int makeChain(const std::string& path) {
  if (path.empty() || path == "/") return 0;
  const std::size_t slash = path.find_last_of('/');
  const std::string parent = slash == std::string::npos ? "" : path.substr(0, slash ? slash : 1);
  if (isMountPointPlace(path)) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    return ENOENT;
  }
  if (::mkdir(path.c_str(), 0777) == 0) return 0;
  int err = errno;
  if (err == EEXIST) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;
    return ENOTDIR;
  }
  if (err != ENOENT || parent.empty()) return err;
  if (int parentErr = makeChain(parent)) return parentErr;
  if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return 0;
  return errno;
}

}  // namespace

int createFolderChain(const std::string& folder) {
  std::string path = normalised(folder);
  return makeChain(path);
}
