#include "platform/FolderChain.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/NewFile.h"
#include "platform/PathText.h"

namespace {

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

// Collapses repeated and trailing slashes.
std::string normalised(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out.push_back(c);
  }
  return withoutTrailingSlash(std::move(out));
}

// EILSEQ for a folder that the disk refused for its name alone (FAT, exFAT), else `err`.
int nameOrError(int err, const std::string& path, const std::string& parent) {
  struct stat st {};
  const std::string name = path.substr(path.find_last_of('/') + 1);
  if (NewFile::refusesName(err, name) && ::stat(parent.empty() ? "." : parent.c_str(), &st) == 0 &&
      S_ISDIR(st.st_mode))
    return EILSEQ;
  return err;
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
  if (err != ENOENT || parent.empty()) return nameOrError(err, path, parent);
  if (int parentErr = makeChain(parent)) return parentErr;
  if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return 0;
  return nameOrError(errno, path, parent);
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

std::string resolveFolderPath(const std::string& folder) {
  if (folder.empty() || folder.front() != '/') return {};
  std::string resolved = "/";
  bool exists = true;
  for (const std::string& part : components(folder)) {
    if (part == ".") continue;
    if (part == "..") {
      // Below a missing folder ".." cannot be followed, as the system would not either.
      if (!exists) return {};
      const std::size_t slash = resolved.find_last_of('/');
      resolved.resize(slash == 0 ? 1 : slash);
      continue;
    }
    std::string candidate = joinPath(resolved, part);
    if (exists) {
      std::unique_ptr<char, decltype(&std::free)> real(::realpath(candidate.c_str(), nullptr),
                                                       &std::free);
      if (real) {
        resolved = real.get();
        continue;
      }
      // The rest is left as written: creating it fails there (a file, a dangling link:
      // mkdir never follows one) with the system's own reason.
      exists = false;
    }
    resolved = std::move(candidate);
  }
  return resolved;
}

int createFolderChain(const std::string& folder) {
  if (folder.empty() || folder.front() != '/') return makeChain(normalised(folder));
  const std::string path = resolveFolderPath(folder);
  if (path.empty()) return ENOENT;
  return makeChain(path);
}

ChildFolder openChildFolder(int parent, const char* name, bool create, mode_t mode,
                            const std::string& path) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  ChildFolder child;
  child.fd.reset(::openat(parent, name, kFlags));
  if (!child.fd && errno == ENOENT) {
    if (!create || (!path.empty() && isMountPointPlace(path))) {
      child.error = ENOENT;
      return child;
    }
    if (::mkdirat(parent, name, mode) == 0)
      child.made = true;
    else if (errno != EEXIST) {
      child.error = errno;
      // Drivers answer a name they cannot store with EPERM, EINVAL or even ENOENT.
      struct stat st {};
      child.nameRefused =
          NewFile::refusesName(child.error, name) && ::fstat(parent, &st) == 0 && st.st_nlink > 0;
      return child;
    }
    child.fd.reset(::openat(parent, name, kFlags));
  }
  if (!child.fd) {
    child.error = errno;
    // O_NOFOLLOW with O_DIRECTORY refuses a link as ELOOP or as ENOTDIR.
    struct stat entry {};
    child.link =
        child.error == ELOOP ||
        (child.error == ENOTDIR && ::fstatat(parent, name, &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISLNK(entry.st_mode));
    child.made = false;
  }
  return child;
}
