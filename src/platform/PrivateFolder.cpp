#include "platform/PrivateFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

int makePrivateFolder(const std::string& folder) {
  for (size_t end = 1; end <= folder.size(); ++end) {
    if (end != folder.size() && folder[end] != '/') continue;
    const std::string part = folder.substr(0, end);
    if (::mkdir(part.c_str(), 0700) == 0)
      ::chmod(part.c_str(), 0700);
    else if (errno != EEXIST)
      return errno;
  }
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return errno;
  if (S_ISLNK(st.st_mode)) return ELOOP;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  if (st.st_uid != ::geteuid()) return EPERM;
  return 0;
}
