#include "mail/OutputTree.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/Errors.h"
#include "platform/FolderChain.h"

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

ResguardaError cannotMakeFolder(const std::string& path, int err) {
  return ResguardaError("Unable to create directory " + path, path, systemReason(err));
}

}  // namespace

OutputTree::OutputTree(std::string destination) : destination_(std::move(destination)) {
  // No destination is not the root: opening "" fails.
  if (!destination_.empty() && destination_.back() != '/') destination_ += '/';
}

UniqueFd OutputTree::openChild(int parent, const std::string& parentPath, const std::string& name) {
  const std::string path = parentPath + name + "/";
  UniqueFd fd(::openat(parent, name.c_str(), kFolderFlags));
  if (!fd && errno == ENOENT) {
    // Where removable disks are mounted a missing folder means a disk that is not there.
    if (!resolved_.empty() && isMountPointPlace(resolved_ + path.substr(destination_.size())))
      throw cannotMakeFolder(path, ENOENT);
    if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST)
      throw cannotMakeFolder(path, errno);
    fd.reset(::openat(parent, name.c_str(), kFolderFlags));
  }
  if (!fd) {
    const int err = errno;
    struct stat st {};
    if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      throw ResguardaError("Unable to create directory " + path, path,
                           "a symbolic link stands there; links under the destination are "
                           "never followed");
    }
    throw cannotMakeFolder(path, err);
  }
  return fd;
}

OutputTree::Folders OutputTree::open(const std::string& component) {
  if (component != component_ || !folderMessages_ || !folderAttachments_) {
    closeFolder();
    if (!destinationFd_) {
      UniqueFd fd(::open(destination_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (!fd && errno == ENOENT) {
        if (const int err = createFolderChain(destination_))
          throw cannotMakeFolder(destination_, err);
        fd.reset(::open(destination_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      }
      if (!fd) throw cannotMakeFolder(destination_, errno);
      resolved_ = resolveFolderPath(destination_);
      if (!resolved_.empty() && resolved_.back() != '/') resolved_ += '/';
      destinationFd_ = std::move(fd);
    }
    // A failed level is tried again for the next folder: each folder that cannot be written
    // says so.
    if (!messagesFd_) messagesFd_ = openChild(destinationFd_.get(), destination_, "mensajes");
    if (!attachmentsFd_) attachmentsFd_ = openChild(destinationFd_.get(), destination_, "adjuntos");
    folderMessages_ = openChild(messagesFd_.get(), destination_ + "mensajes/", component);
    folderAttachments_ = openChild(attachmentsFd_.get(), destination_ + "adjuntos/", component);
    component_ = component;
  }
  return {folderMessages_.get(), folderAttachments_.get()};
}

void OutputTree::closeFolder() {
  folderMessages_.reset();
  folderAttachments_.reset();
  component_.clear();
}
