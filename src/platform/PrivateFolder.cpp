#include "platform/PrivateFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/Errors.h"

int makePrivateFolder(const std::string& folder) {
  if (folder.empty() || folder.front() != '/') return EINVAL;
  std::vector<std::size_t> missing;  // where each missing folder's name ends, deepest first
  for (std::size_t end = folder.size();;) {
    struct stat st {};
    if (::stat(end == 0 ? "/" : folder.substr(0, end).c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) return ENOTDIR;
      if (!missing.empty() && st.st_uid != ::geteuid()) return EPERM;
      break;
    }
    if (errno != ENOENT || end == 0) return errno;
    missing.push_back(end);
    end = folder.rfind('/', end - 1);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it)
    if (::mkdir(folder.substr(0, *it).c_str(), 0700) != 0 && errno != EEXIST) return errno;
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return errno;
  if (S_ISLNK(st.st_mode)) return ELOOP;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  if (st.st_uid != ::geteuid()) return EPERM;
  return 0;
}

void makePrivateFolderFor(const std::string& folder, const std::string& file) {
  if (const int err = makePrivateFolder(folder)) throw unableToWrite(file, err);
}
