#include "backup/MirrorWalk.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>

#include "backup/CopiarCarpeta.h"
#include "backup/Exclusions.h"
#include "backup/RunContext.h"
#include "platform/Errors.h"
#include "platform/PathText.h"

namespace {

constexpr const char* kTooDeep = "demasiados niveles de carpetas";
constexpr const char* kInsideDestination = "está dentro de la carpeta de destino";
constexpr const char* kUnreadableLink =
    ": es un enlace a un contenido que su propietario no puede leer; no se copia";
constexpr const char* kUnreadableBelowLink =
    ": el propietario del enlace por el que se llega no puede leerlo; no se copia";

}  // namespace

MirrorWalk::MirrorWalk(const MirrorTask& task, RunContext& run)
    : task_(task),
      run_(run),
      copier_(run.control.abandon),
      root_(::geteuid() == 0),
      excluded_(task.exclusions && !task.exclusions->empty() ? task.exclusions : nullptr) {}

void MirrorWalk::start(UniqueFd root, std::string source, std::string destination,
                       std::size_t rootLength, UniqueFd destinationRoot) {
  src_ = std::move(source);
  Level& level = levels_.emplace_back();
  if (::fstat(root.get(), &level.st) != 0 || !S_ISDIR(level.st.st_mode)) {
    failFolder(src_, errno ? errno : ENOTDIR);
    return;
  }
  level.src = std::move(root);
  level.srcLength = src_.size();
  taskName_ = withoutTrailingSlash(destination.substr(rootLength));
  dest_.emplace(std::move(destinationRoot), std::move(destination), rootLength, level.st);
  if (pseudo_.contains(level.st.st_dev, level.src.get())) {
    run_.log("AVISO - " + withoutTrailingSlash(src_) +
             ": es un sistema de archivos virtual del sistema; no se copia");
    return;
  }
  if (isDestination(level.st) || insideDestination(level.src.get())) {
    const std::string path = withoutTrailingSlash(src_);
    run_.fail(path, ResguardaError(kInsideDestination, path, kInsideDestination));
    return;
  }
  walk(0);
}

void MirrorWalk::walk(std::size_t depth) {
  DirectoryListing& listing = listingAt(depth);
  if (!listing.read(levels_[depth].src.get())) {
    failFolder(src_, errno);
    return;
  }
  subfolderPass(depth, listing);
  filePass(depth, listing);
}

void MirrorWalk::subfolderPass(std::size_t depth, const DirectoryListing& listing) {
  try {
    for (std::size_t i = 0; i < listing.size(); ++i) {
      if (!run_.goOn()) break;
      const char* name = listing.name(i);
      // Dot folders are hidden ones: never entered.
      if (name[0] == '.') continue;
      const unsigned char type = listing.type(i);
      if (type != DT_DIR && type != DT_LNK && type != DT_UNKNOWN) continue;
      // Left out before it is opened, so an unreadable excluded folder says nothing. A link to
      // a file passed over here is the file pass's all the same.
      if (excluded_ && excludes(name, true)) continue;
      enterSubfolder(depth, name, type);
    }
  } catch (...) {
    // Ends this folder's subfolder pass; its files are still handled.
    trimTo(depth);
    run_.fail(withoutTrailingSlash(src_), std::current_exception());
  }
}

void MirrorWalk::enterSubfolder(std::size_t depth, const char* name, unsigned char type) {
  std::shared_ptr<const OwnerRights> owner;
  UniqueFd child = openSubfolder(depth, name, type, owner);
  if (!child) return;
  struct stat st {};
  if (::fstat(child.get(), &st) != 0) {
    failFolder(src_ + name, errno);
    return;
  }
  if (!mayEnter(depth, name, type, child.get(), st)) return;
  if (depth + 1 >= static_cast<std::size_t>(kMaxDepth)) {
    const std::string path = src_ + name;
    run_.fail(path, cannotOpenFile(path, std::string(kTooDeep)));
    return;
  }

  src_ = withTrailingSlash(joinPath(std::move(src_), name));
  dest_->enter(name, st);
  Level& level = levels_.emplace_back();
  level.src = std::move(child);
  level.st = st;
  level.srcLength = src_.size();
  level.owner = std::move(owner);
  walk(depth + 1);
  trimTo(depth);
}

UniqueFd MirrorWalk::openSubfolder(std::size_t depth, const char* name, unsigned char type,
                                   std::shared_ptr<const OwnerRights>& owner) {
  const Level& parent = levels_[depth];
  owner = parent.owner;
  bool isLink = type == DT_LNK;
  bool linkOfAnother = false;
  if (root_ && (type == DT_LNK || type == DT_UNKNOWN)) {
    struct stat entry {};
    if (::fstatat(parent.src.get(), name, &entry, AT_SYMLINK_NOFOLLOW) != 0) {
      const int err = errno;
      if (err != ENOENT) failFolder(src_ + name, err);
      return UniqueFd();
    }
    isLink = S_ISLNK(entry.st_mode);
    if (isLink && entry.st_uid != 0) {
      // A link to a file is the file pass's, which names it if need be.
      struct stat target {};
      if (::fstatat(parent.src.get(), name, &target, 0) != 0 || !S_ISDIR(target.st_mode))
        return UniqueFd();
      owner = rightsOf(entry);
      linkOfAnother = true;
    }
  }
  // O_DIRECTORY fails at once on anything else, so a FIFO is never opened.
  UniqueFd child(owner ? openWithRightsOf(*owner, parent.src.get(), name,
                                          kFolderFlags | (isLink ? 0 : O_NOFOLLOW))
                       : ::openat(parent.src.get(), name, kFolderFlags));
  if (child) return child;
  const int err = errno;
  // A link to a file belongs to the file pass; a dangling link or a folder gone since the
  // listing has nothing to copy.
  if (err == ENOTDIR || err == ENOENT || err == ELOOP) return child;
  if (owner && (err == EACCES || err == EPERM))
    warnUnreadable(src_ + name, linkOfAnother);
  else
    failFolder(src_ + name, err);
  return child;
}

bool MirrorWalk::mayEnter(std::size_t depth, const char* name, unsigned char type, int fd,
                          const struct stat& st) {
  const Level& parent = levels_[depth];
  // Link cycles end at a folder already on the path; the destination is never a source.
  if (!S_ISDIR(st.st_mode) || onPath(st) || isDestination(st)) return false;
  const bool otherDisk = st.st_dev != parent.st.st_dev;
  if (otherDisk && pseudo_.contains(st.st_dev, fd)) return false;
  bool viaLink = type == DT_LNK;
  if (type == DT_UNKNOWN) {
    struct stat entry {};
    viaLink = ::fstatat(parent.src.get(), name, &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
              S_ISLNK(entry.st_mode);
  }
  // Only a link or another mount can lead into the destination without passing through the
  // destination folder itself.
  return !((viaLink || otherDisk) && insideDestination(fd));
}

void MirrorWalk::trimTo(std::size_t depth) {
  while (levels_.size() > depth + 1) levels_.pop_back();
  src_.resize(levels_[depth].srcLength);
  dest_->leaveTo(depth);
}

bool MirrorWalk::isDestination(const struct stat& st) const {
  return task_.excludedFolder && task_.excludedFolder->sameInode(FileIdentity::of(st));
}

// True when the folder lies anywhere below the destination folder: walked, the backup would
// copy itself.
bool MirrorWalk::insideDestination(int fd) const {
  if (!task_.excludedFolder) return false;
  struct stat current {};
  if (::fstat(fd, &current) != 0) return false;
  UniqueFd up;
  int at = fd;
  for (int i = 0; i < 4 * kMaxDepth; ++i) {
    UniqueFd parent(::openat(at, "..", kFolderFlags));
    struct stat st {};
    if (!parent || ::fstat(parent.get(), &st) != 0) return false;
    if (st.st_dev == current.st_dev && st.st_ino == current.st_ino) return false;  // the root
    if (isDestination(st)) return true;
    current = st;
    up = std::move(parent);
    at = up.get();
  }
  return false;
}

bool MirrorWalk::onPath(const struct stat& st) const {
  for (const Level& level : levels_)
    if (level.st.st_dev == st.st_dev && level.st.st_ino == st.st_ino) return true;
  return false;
}

bool MirrorWalk::excludes(const char* name, bool folder) {
  // The path is built only for patterns that read it: most lists are names alone.
  const char* path = excluded_->needsPath() ? below(name).c_str() : "";
  return folder ? excluded_->excludesFolder(name, path) : excluded_->excludesFile(name, path);
}

const std::string& MirrorWalk::below(const char* name) {
  below_.assign(src_, levels_[0].srcLength).append(name);
  return below_;
}

DirectoryListing& MirrorWalk::listingAt(std::size_t depth) {
  while (listings_.size() <= depth) listings_.push_back(std::make_unique<DirectoryListing>());
  return *listings_[depth];
}

std::shared_ptr<const OwnerRights> MirrorWalk::rightsOf(const struct stat& link) {
  auto& rights = owners_[{link.st_uid, link.st_gid}];
  if (!rights) rights = std::make_shared<const OwnerRights>(OwnerRights::of(link));
  return rights;
}

void MirrorWalk::failFolder(const std::string& folder, int err) {
  const std::string path = withoutTrailingSlash(folder);
  run_.fail(path, cannotOpenFile(path, err));
}

// Run as root, what a link's owner could not read is passed over with a warning: copying it
// would hand its content to whoever reads the backup.
void MirrorWalk::warnUnreadable(const std::string& path, bool linkOfAnother) {
  run_.log("AVISO - " + path + (linkOfAnother ? kUnreadableLink : kUnreadableBelowLink));
}
