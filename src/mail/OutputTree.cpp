#include "mail/OutputTree.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/Errors.h"
#include "platform/FolderChain.h"
#include "platform/PathText.h"

namespace {

ResguardaError cannotMakeFolder(const std::string& path, const std::string& reason) {
  return ResguardaError("Unable to create directory " + path, path, reason);
}

ResguardaError cannotMakeFolder(const std::string& path, int err) {
  return cannotMakeFolder(path, systemReason(err));
}

}  // namespace

OutputTree::OutputTree(std::string destination) : destination_(std::move(destination)) {
  // No destination is not the root: opening "" fails.
  destination_ = withTrailingSlash(std::move(destination_));
}

UniqueFd OutputTree::openChild(int parent, const std::string& parentPath, const std::string& name) {
  const std::string path = joinPath(parentPath, name) + "/";
  // Where removable disks are mounted a missing folder means a disk that is not there.
  ChildFolder child = openChildFolder(
      parent, name.c_str(), true, 0777,
      resolved_.empty() ? std::string() : resolved_ + path.substr(destination_.size()));
  if (child.link)
    throw cannotMakeFolder(path,
                           "a symbolic link stands there; links under the destination are "
                           "never followed");
  if (!child.fd) throw cannotMakeFolder(path, child.error);
  return std::move(child.fd);
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
      resolved_ = withTrailingSlash(resolveFolderPath(destination_));
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
