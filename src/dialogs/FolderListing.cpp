#include "dialogs/FolderListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/DirectoryListing.h"
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

  DirectoryListing listing;
  if (!listing.read(fd.get())) return std::nullopt;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < listing.size(); ++i) {
    const char* name = listing.name(i);
    if (!withHidden && name[0] == '.') continue;
    const unsigned char type = listing.type(i);
    bool isFolder = type == DT_DIR;
    // Links are followed: a link to a folder is shown as the folder it leads to.
    if (type == DT_LNK || type == DT_UNKNOWN) {
      struct stat target {};
      isFolder = ::fstatat(fd.get(), name, &target, 0) == 0 && S_ISDIR(target.st_mode);
    }
    if (isFolder) names.emplace_back(name);
  }
  return names;
}

void createFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0) {
    const int err = errno;
    throw ResguardaError("No se puede crear la carpeta " + path + ": " + systemReason(err), path,
                         systemReason(err));
  }
}
