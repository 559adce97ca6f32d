#include "backup/VersionStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/Errors.h"
#include "platform/FolderChain.h"
#include "platform/PathText.h"
#include "platform/WriteAll.h"

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The parts of a path below the run folder; false for a part no walk gives ("", ".", "..").
bool splitParts(const std::string& relative, std::vector<std::string>& parts) {
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    std::string part = relative.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    parts.push_back(std::move(part));
    start = end + 1;
  }
  return true;
}

// The mode of a folder made for versions: that of the folder it stands for, and always
// usable by its owner.
mode_t folderMode(const struct stat* like) {
  return like ? (like->st_mode & 0777) | 0700 : 0700;
}

ResguardaError notKept(const std::string& path, int err, const std::string& logPath) {
  return unableToWrite(path, systemReason(err), logPath);
}

}  // namespace

VersionStore::VersionStore(std::string destination, time_t runStart)
    : destination_(withTrailingSlash(std::move(destination))), stamp_(stampOf(runStart)) {}

VersionStore::~VersionStore() = default;

std::string VersionStore::stampOf(time_t when) {
  struct tm local {};
  ::localtime_r(&when, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H.%M.%S", &local);
  return text;
}

std::string VersionStore::versionPath(const std::string& taskFolderName,
                                      const std::string& below) const {
  return destination_ + kVersionsFolder + "/" + stamp_ + "/" + taskFolderName + "/" + below;
}

void VersionStore::openRunFolder(const std::string& logPath) {
  if (list_) return;
  const std::string versions = destination_ + kVersionsFolder;
  const std::string run = versions + "/" + stamp_;
  // The destination itself may be reached through a link, as the user chose it.
  if (!root_) root_.reset(::open(destination_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root_) throw notKept(versions, errno, logPath);
  struct stat rootStat {};
  const bool known = ::fstat(root_.get(), &rootStat) == 0;
  const mode_t mode = folderMode(known ? &rootStat : nullptr);
  ChildFolder versionsFolder = openChildFolder(root_.get(), kVersionsFolder, true, mode, "");
  if (!versionsFolder.fd)
    throw notKept(versions, versionsFolder.link ? ELOOP : versionsFolder.error, logPath);
  ChildFolder runFolder = openChildFolder(versionsFolder.fd.get(), stamp_.c_str(), true, mode, "");
  if (!runFolder.fd) throw notKept(run, runFolder.link ? ELOOP : runFolder.error, logPath);
  // Root makes them the destination's owner's, who may then look at and remove them.
  for (const ChildFolder* made : {&versionsFolder, &runFolder}) {
    if (!made->made) continue;
    ::fchmod(made->fd.get(), mode);
    if (known && ::geteuid() == 0)
      (void)!::fchown(made->fd.get(), rootStat.st_uid, rootStat.st_gid);
  }
  UniqueFd list(::openat(runFolder.fd.get(), kVersionListName,
                         O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  struct stat listStat {};
  if (!list) throw notKept(run + "/" + kVersionListName, errno, logPath);
  // A list that another user made, or a second name of some other file, is not written to.
  if (::fstat(list.get(), &listStat) != 0 || !S_ISREG(listStat.st_mode) || listStat.st_nlink != 1 ||
      listStat.st_uid != ::geteuid())
    throw notKept(run + "/" + kVersionListName, EINVAL, logPath);
  runFolder_ = std::move(runFolder.fd);
  list_ = std::move(list);
}

void VersionStore::record(const std::string& line, const std::string& logPath) {
  if (const int err = writeAll(list_.get(), line.data(), line.size()))
    throw notKept(destination_ + kVersionsFolder + "/" + stamp_ + "/" + kVersionListName, err,
                  logPath);
}

int VersionStore::versionFolder(const std::string& relative, const std::string& logPath) {
  if (lastFolderFd_ && relative == lastFolder_) return lastFolderFd_.get();
  const std::string runPath = destination_ + kVersionsFolder + "/" + stamp_ + "/";
  std::vector<std::string> parts;
  if (!splitParts(relative, parts)) throw notKept(runPath + relative, EINVAL, logPath);
  openRunFolder(logPath);
  lastFolderFd_.reset();
  int current = runFolder_.get();
  UniqueFd held;
  // The copy's own folders, read alongside for the modes and owners the new ones take.
  UniqueFd mirror(::dup(root_.get()));
  std::string made;
  for (const std::string& part : parts) {
    made += made.empty() ? part : "/" + part;
    struct stat mirrorStat {};
    bool haveMirror = false;
    if (mirror) {
      mirror.reset(::openat(mirror.get(), part.c_str(), kFolderFlags));
      haveMirror = mirror && ::fstat(mirror.get(), &mirrorStat) == 0;
    }
    const mode_t mode = folderMode(haveMirror ? &mirrorStat : nullptr);
    ChildFolder child = openChildFolder(current, part.c_str(), true, mode, "");
    if (!child.fd) throw notKept(runPath + made, child.link ? ELOOP : child.error, logPath);
    if (child.made) {
      ::fchmod(child.fd.get(), mode);
      if (haveMirror && ::geteuid() == 0)
        (void)!::fchown(child.fd.get(), mirrorStat.st_uid, mirrorStat.st_gid);
      record("D " + std::to_string(made.size()) + " " + made + "\n", logPath);
    }
    held = std::move(child.fd);
    current = held.get();
  }
  lastFolder_ = relative;
  lastFolderFd_ = std::move(held);
  return lastFolderFd_.get();
}

bool VersionStore::keep(int copyFolderFd, const char* name, const std::string& taskFolderName,
                        const std::string& below, const std::string& logPath) {
  const std::string path = versionPath(taskFolderName, below);
  const std::string relative = taskFolderName + "/" + below;
  if (kept_.contains(relative)) return false;
  struct stat copy {};
  if (::fstatat(copyFolderFd, name, &copy, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return false;
    throw notKept(path, errno, logPath);
  }
  // Only what an update may replace is kept: a regular file, not read-only (no write bit, root
  // included), writable for this user. What it may not replace stays where it is.
  if (!S_ISREG(copy.st_mode) || (copy.st_mode & 0222) == 0 ||
      ::faccessat(copyFolderFd, name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
    return false;
  const size_t slash = relative.rfind('/');
  const std::string leaf = relative.substr(slash + 1);
  if (leaf.empty() || leaf == "." || leaf == "..") throw notKept(path, EINVAL, logPath);
  const int folder = versionFolder(relative.substr(0, slash), logPath);
  // Listed before it is moved: a list naming a file that never came is harmless, a file
  // that came unlisted would never be pruned.
  record("F " + std::to_string(copy.st_ino) + " " + std::to_string(copy.st_size) + " " +
             std::to_string(copy.st_mtim.tv_sec) + " " + std::to_string(copy.st_mtim.tv_nsec) +
             " " + std::to_string(relative.size()) + " " + relative + "\n",
         logPath);
  int err = 0;
  if (::renameat2(copyFolderFd, name, folder, leaf.c_str(), RENAME_NOREPLACE) != 0) err = errno;
  if (err == EINVAL || err == ENOSYS) {
    // A file system that cannot refuse to replace in the rename itself.
    struct stat there {};
    if (::fstatat(folder, leaf.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0)
      err = EEXIST;
    else
      err = ::renameat(copyFolderFd, name, folder, leaf.c_str()) == 0 ? 0 : errno;
  }
  if (err != 0) throw notKept(path, err, logPath);
  kept_.insert(relative);
  return true;
}

bool VersionStore::restore(int copyFolderFd, const char* name, const std::string& taskFolderName,
                           const std::string& below) {
  const std::string relative = taskFolderName + "/" + below;
  const size_t slash = relative.rfind('/');
  if (!lastFolderFd_ || relative.substr(0, slash) != lastFolder_) return false;
  const std::string leaf = relative.substr(slash + 1);
  bool back =
      ::renameat2(lastFolderFd_.get(), leaf.c_str(), copyFolderFd, name, RENAME_NOREPLACE) == 0;
  if (!back && (errno == EINVAL || errno == ENOSYS)) {
    struct stat there {};
    back = ::fstatat(copyFolderFd, name, &there, AT_SYMLINK_NOFOLLOW) != 0 &&
           ::renameat(lastFolderFd_.get(), leaf.c_str(), copyFolderFd, name) == 0;
  }
  if (back) kept_.erase(relative);
  return back;
}
