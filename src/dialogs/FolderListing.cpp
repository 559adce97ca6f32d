#include "dialogs/FolderListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/Errors.h"
#include "platform/PseudoFileSystems.h"
#include "platform/UniqueFd.h"

std::optional<std::vector<std::string>> listSubfolders(const std::string& folder, bool withHidden,
                                                       PseudoFileSystems& pseudo) {
  // O_DIRECTORY and O_NONBLOCK: whatever stands at the path, opening it never waits.
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return std::nullopt;
  if (pseudo.contains(st.st_dev, fd.get())) return std::vector<std::string>{};

  DIR* dir = ::fdopendir(fd.get());
  if (!dir) return std::nullopt;
  fd.release();
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (!withHidden && name.front() == '.') continue;
    bool isFolder = entry->d_type == DT_DIR;
    // Links are followed: a link to a folder is shown as the folder it leads to.
    if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat target {};
      isFolder = ::fstatat(::dirfd(dir), entry->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode);
    }
    if (isFolder) names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

void createFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0) {
    const int err = errno;
    throw ResguardaError("No se puede crear la carpeta " + path + ": " + systemReason(err), path,
                         systemReason(err));
  }
}
