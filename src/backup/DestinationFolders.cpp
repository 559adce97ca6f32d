#include "backup/DestinationFolders.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/Errors.h"
#include "platform/FolderChain.h"
#include "platform/PathText.h"

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC;

constexpr const char* kDestinationLink =
    "la carpeta de destino es un enlace simbólico y no se sigue";
constexpr const char* kFolderNameRefused =
    "el disco de destino no admite el nombre de la carpeta «";

// File systems that always tell names apart by case (unless a folder asks to fold them).
constexpr unsigned long kExt4 = 0xEF53;
constexpr unsigned long kXfs = 0x58465342;
constexpr unsigned long kBtrfs = 0x9123683E;
constexpr unsigned long kTmpfs = 0x01021994;
constexpr unsigned long kF2fs = 0xF2F52010;

// The reason a name cannot be kept beside `existing` on a disk that folds case.
std::string caseClash(const std::string& existing) {
  if (existing.empty())
    return "el disco de destino lo confunde con otro nombre que ya tiene; no se puede guardar "
           "por separado";
  return "no se puede guardar junto a «" + existing +
         "»: el disco de destino no distingue mayúsculas de minúsculas";
}

// A copy of a source folder keeps its permissions, plus the owner's full access so that
// the backup can go on writing into it; as root also its owner and group. A file system
// that cannot store them (vfat) keeps its own.
void applyFolderMode(int fd, const struct stat& source) {
  const bool root = ::geteuid() == 0;
  if (root && ::fchown(fd, source.st_uid, source.st_gid) != 0) {
    ::fchmod(fd, (source.st_mode & 0777) | S_IRWXU);
    return;
  }
  ::fchmod(fd, (source.st_mode & (root ? 07777 : 0777)) | S_IRWXU);
}

}  // namespace

DestinationFolders::DestinationFolders(UniqueFd root, std::string taskFolder,
                                       std::size_t rootLength, const struct stat& source)
    : root_(std::move(root)), rootLength_(rootLength), path_(std::move(taskFolder)) {
  Level& level = levels_.emplace_back();
  level.length = path_.size();
  level.source = source;
}

void DestinationFolders::enter(const char* name, const struct stat& source) {
  path_ = withTrailingSlash(joinPath(std::move(path_), name));
  Level& level = levels_.emplace_back();
  level.length = path_.size();
  level.source = source;
}

void DestinationFolders::leaveTo(std::size_t depth) {
  while (levels_.size() > depth + 1) levels_.pop_back();
  path_.resize(levels_[depth].length);
}

struct stat DestinationFolders::existing(std::size_t depth, const char* name) {
  struct stat found {};
  const int folder = open(depth, false);
  // A folder this pass made holds only what the pass put there: nothing to look up, unless
  // its disk may find another name under this one.
  if (folder < 0 ||
      (levels_[depth].state == State::Made && caseOf(levels_[depth]) == Case::Exact) ||
      ::fstatat(folder, name, &found, AT_SYMLINK_NOFOLLOW) != 0)
    found.st_mode = 0;
  return found;
}

std::optional<std::string> DestinationFolders::clashOf(std::size_t depth, const char* name) {
  // What the lookup found under another name is another file's copy: never replaced, never
  // taken for this one's.
  Level& level = levels_[depth];
  if (caseOf(level) != Case::Folded || hasExactName(level, name)) return std::nullopt;
  return caseClash(foldedName(level, name));
}

int DestinationFolders::folderFor(std::size_t depth, const char* name,
                                  const std::string& sourceFolder) {
  const int folder = open(depth, true);
  if (folder >= 0) return folder;
  const Level& level = levels_[depth];
  const std::string copy = path_ + name;
  if (!level.clash.empty()) throw unableToWrite(copy, level.clash, sourceFolder + name);
  if (level.reason) throw unableToWrite(copy, std::string(level.reason));
  throw unableToWrite(copy, level.error);
}

void DestinationFolders::placed(std::size_t depth, const char* name) {
  Level& level = levels_[depth];
  if (caseOf(level) == Case::Folded && !hasExactName(level, name)) level.present.insert(name);
}

int DestinationFolders::open(std::size_t depth, bool create) {
  Level& level = levels_[depth];
  switch (level.state) {
    case State::Made:
    case State::Present:
      return level.fd.get();
    case State::Failed:
      return -1;
    case State::Missing:
      if (!create) return -1;
      break;
    case State::Unknown:
      break;
  }
  const int parent = parentOf(depth, create);
  return parent < 0 ? -1 : openComponents(depth, parent, create);
}

int DestinationFolders::parentOf(std::size_t depth, bool create) {
  Level& level = levels_[depth];
  if (depth == 0) return root_.get() < 0 ? failLevel(level, ENOENT) : root_.get();
  const int parent = open(depth - 1, create);
  const Level& up = levels_[depth - 1];
  if (parent < 0) {
    if (up.state == State::Failed) {
      level.error = up.error;
      level.reason = up.reason;
      level.clash = up.clash;
      level.state = State::Failed;
    } else {
      level.state = State::Missing;
    }
    return -1;
  }
  // Inside a folder made just now, nothing is there yet.
  if (up.state == State::Made && !create) {
    level.state = State::Missing;
    return -1;
  }
  return parent;
}

int DestinationFolders::openComponents(std::size_t depth, int parent, bool create) {
  Level& level = levels_[depth];
  // The task folder of a task at the root is the destination folder itself; a task given
  // below its root brings the folders in between.
  std::size_t at = depth == 0 ? rootLength_ : levels_[depth - 1].length;
  UniqueFd opened;
  while (at < level.length) {
    std::size_t end = path_.find('/', at);
    if (end == std::string::npos || end > level.length) end = level.length;
    if (end == at) {
      ++at;
      continue;
    }
    const bool last = path_.find('/', end + 1) >= level.length;
    name_.assign(path_, at, end - at);
    // A missing disk is not replaced by a folder on the system disk.
    ChildFolder next = openChildFolder(parent, name_.c_str(), create, 0700, path_.substr(0, end));
    if (!next.fd) {
      if (next.error == ENOENT && !create) {
        level.state = State::Missing;
        return -1;
      }
      if (next.link) level.reason = kDestinationLink;
      if (next.nameRefused) level.clash = kFolderNameRefused + name_ + "»";
      return failLevel(level, next.error);
    }
    if (next.made && last) {
      applyFolderMode(next.fd.get(), level.source);
      level.state = State::Made;
    }
    if (depth > 0 && !keepsOwnName(depth, next.made)) return -1;
    opened = std::move(next.fd);
    parent = opened.get();
    at = end + 1;
  }
  if (!opened) {
    opened.reset(::fcntl(parent, F_DUPFD_CLOEXEC, 0));
    if (!opened) return failLevel(level, errno);
  }
  level.fd = std::move(opened);
  if (level.state != State::Made) level.state = State::Present;
  return level.fd.get();
}

bool DestinationFolders::keepsOwnName(std::size_t depth, bool made) {
  // A subfolder whose name folds onto another one's would mix two folders' files.
  Level& up = levels_[depth - 1];
  if (caseOf(up) != Case::Folded) return true;
  if (made) {
    if (!hasExactName(up, name_)) up.present.insert(name_);
    return true;
  }
  if (hasExactName(up, name_)) return true;
  Level& level = levels_[depth];
  level.clash = caseClash(foldedName(up, name_));
  failLevel(level, EEXIST);
  return false;
}

// Folders of a disk that folds case are listed once, so that a name is known to be there
// exactly as written.
DestinationFolders::Case DestinationFolders::caseOf(Level& level) {
  if (level.names != Case::Unknown) return level.names;
  level.names = Case::Folded;
  struct statfs fs {};
  if (::fstatfs(level.fd.get(), &fs) != 0) return level.names;
  const auto type = static_cast<unsigned long>(fs.f_type);
  if (type == kXfs || type == kBtrfs) {
    level.names = Case::Exact;
  } else if (type == kExt4 || type == kTmpfs || type == kF2fs) {
    int flags = 0;
    if (::ioctl(level.fd.get(), FS_IOC_GETFLAGS, &flags) != 0 || !(flags & FS_CASEFOLD_FL))
      level.names = Case::Exact;
  }
  return level.names;
}

bool DestinationFolders::hasExactName(Level& level, const std::string& name) {
  if (!level.listed) {
    level.listed = true;
    UniqueFd again(::openat(level.fd.get(), ".", kFolderFlags));
    if (again && names_.read(again.get()))
      for (std::size_t i = 0; i < names_.size(); ++i) level.present.insert(names_.name(i));
  }
  return level.present.count(name) != 0;
}

// The name in the folder that `name` folds onto, when it differs in ASCII case alone.
std::string DestinationFolders::foldedName(const Level& level, const std::string& name) {
  for (const std::string& other : level.present)
    if (::strcasecmp(other.c_str(), name.c_str()) == 0) return other;
  return {};
}

int DestinationFolders::failLevel(Level& level, int err) {
  level.state = State::Failed;
  level.error = err;
  return -1;
}
