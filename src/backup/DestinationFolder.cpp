#include "backup/DestinationFolder.h"

#include <sys/stat.h>

#include <cerrno>
#include <vector>

namespace {

bool isFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace

bool isMountPointPlace(const std::string& folder) {
  const std::vector<std::string> parts = components(folder);
  if (parts.empty() || folder.front() != '/') return false;
  const std::string& top = parts[0];
  if (top == "mnt") return parts.size() <= 2;
  if (top == "run" && parts.size() >= 2 && parts[1] == "media") return parts.size() <= 4;
  if (top != "media") return false;
  if (parts.size() <= 2) return true;
  if (parts.size() > 3) return false;
  // /media/<name>/x: <name> is a user's folder of mount points, unless it is itself the
  // mount point of a disk (as some systems mount them directly under /media).
  struct stat media {
  }, parent{};
  const std::string parentPath = "/media/" + parts[1];
  if (::stat("/media", &media) != 0 || ::stat(parentPath.c_str(), &parent) != 0) return true;
  return media.st_dev == parent.st_dev;
}

bool createDestinationFolder(const std::string& path) {
  if (path.empty()) return false;
  if (isFolder(path)) return true;
  // Create from the outermost missing folder inwards.
  std::string current = path.front() == '/' ? "" : ".";
  for (const std::string& part : components(path)) {
    current += "/" + part;
    if (isFolder(current)) continue;
    if (isMountPointPlace(current)) return false;
    if (::mkdir(current.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return isFolder(path);
}
