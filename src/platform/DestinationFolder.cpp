#include "platform/DestinationFolder.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/FolderChain.h"

namespace {

std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string joined(const std::vector<std::string>& parts, size_t count) {
  std::string path;
  for (size_t i = 0; i < count; ++i) path += "/" + parts[i];
  return path.empty() ? "/" : path;
}

}  // namespace

int createDestinationFolder(const std::string& path) {
  return path.empty() ? ENOENT : createFolderChain(path);
}

std::vector<MountPlace> diskMountPlaces(const std::string& destination) {
  if (destination.empty() || destination.front() != '/') return {};
  const std::vector<std::string> parts = components(destination);
  // The number of components of the area whose next component is a disk's mount point, and
  // of the outermost folder that may be a disk itself.
  size_t area = 0, outermost = 0;
  if (!parts.empty() && parts[0] == "mnt") {
    area = 1, outermost = 1;  // a disk mounted at /mnt itself
  } else if (!parts.empty() && parts[0] == "media") {
    // /media itself is no disk: it holds each user's area, or disks straight below it.
    area = 2, outermost = 2;
  } else if (parts.size() >= 2 && parts[0] == "run" && parts[1] == "media") {
    area = 3, outermost = 3;
  } else {
    return {};
  }
  std::vector<MountPlace> places;
  const size_t deepest = std::min(parts.size(), area + 1);
  for (size_t depth = std::min(outermost, parts.size()); depth <= deepest; ++depth) {
    places.push_back({joined(parts, depth), joined(parts, depth - 1)});
  }
  return places;
}

bool destinationDiskMissing(const std::string& destination) {
  const std::vector<MountPlace> places = diskMountPlaces(destination);
  if (places.empty()) return false;
  for (const MountPlace& place : places) {
    struct stat folder {
    }, parent{};
    if (::stat(place.folder.c_str(), &folder) == 0 && ::stat(place.parent.c_str(), &parent) == 0 &&
        folder.st_dev != parent.st_dev)
      return false;
  }
  return true;
}

int destinationReadOnly(const std::string& path) {
  struct statvfs fs {};
  if (::statvfs(path.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY)) return EROFS;
  // Some file systems refuse writes without the mount saying so.
  if (::access(path.c_str(), W_OK) != 0 && errno == EROFS) return EROFS;
  return 0;
}
