#include "backup/CopiarCarpeta.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <utility>
#include <vector>

#include "backup/CopyFiles.h"
#include "backup/DirectoryListing.h"
#include "backup/OwnerAccess.h"
#include "backup/RunContext.h"
#include "backup/RunTexts.h"
#include "backup/UpdateRule.h"
#include "platform/Errors.h"
#include "platform/FolderChain.h"
#include "platform/PathText.h"
#include "platform/PseudoFileSystems.h"
#include "platform/UniqueFd.h"

namespace {

// Every folder on the path keeps its source and destination descriptors open, so no path is
// ever looked up again by name (no length limit, no link swapped in meanwhile). Deeper trees
// fail visibly.
constexpr int kMaxDepth = 1024;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC;

constexpr const char* kTooDeep = "demasiados niveles de carpetas";
constexpr const char* kDestinationLink =
    "la carpeta de destino es un enlace simbólico y no se sigue";
constexpr const char* kFolderNameRefused =
    "el disco de destino no admite el nombre de la carpeta «";
constexpr const char* kInsideDestination = "está dentro de la carpeta de destino";
constexpr const char* kUnreadableLink =
    ": es un enlace a un contenido que su propietario no puede leer; no se copia";
constexpr const char* kUnreadableBelowLink =
    ": el propietario del enlace por el que se llega no puede leerlo; no se copia";

constexpr int kSourceFlags = O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;

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

std::string localDateText(time_t when) {
  std::tm local{};
  char text[64] = "?";
  if (::localtime_r(&when, &local)) std::strftime(text, sizeof text, "%d/%m/%Y %H:%M:%S", &local);
  return text;
}

using Fd = UniqueFd;

// A deep tree holds two descriptors per level: the usual soft limit of 1,024 is too few.
void raiseOpenFileLimit() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  });
}

bool isDotOrDotDot(std::string_view name) {
  return name == "." || name == "..";
}

// True when the path's components (after the first `from` characters) include "." or "..":
// such a folder would place copies outside the destination.
bool hasDotComponent(const std::string& path, std::size_t from) {
  std::size_t start = from;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (isDotOrDotDot(std::string_view(path).substr(start, end - start))) return true;
    start = end + 1;
  }
  return false;
}

// A copy of a source folder keeps its permissions, plus the owner's full access so that
// the backup can go on writing into it; as root also its owner and group. A file system
// that cannot store them (vfat) keeps its own.
void applyFolderMode(int fd, const struct stat* source) {
  if (!source) return;
  const bool root = ::geteuid() == 0;
  if (root && ::fchown(fd, source->st_uid, source->st_gid) != 0) {
    ::fchmod(fd, (source->st_mode & 0777) | S_IRWXU);
    return;
  }
  ::fchmod(fd, (source->st_mode & (root ? 07777 : 0777)) | S_IRWXU);
}

class MirrorWalk {
 public:
  MirrorWalk(const MirrorTask& task, RunContext& run)
      : task_(task), run_(run), copier_(run.control.abandon), root_(::geteuid() == 0) {}

  // `source` is the task folder, `destination` its destination folder (both ending in "/");
  // `destinationRoot` the run's destination folder, which `destination` starts with.
  void start(Fd root, std::string source, std::string destination, Fd destinationRoot) {
    src_ = std::move(source);
    dst_ = std::move(destination);
    destinationRoot_ = std::move(destinationRoot);
    baseLength_ = run_.dirDestino.size();
    if (dst_.compare(0, baseLength_, run_.dirDestino) != 0) return;

    Level& level = levels_.emplace_back();
    if (::fstat(root.get(), &level.st) != 0 || !S_ISDIR(level.st.st_mode)) {
      failFolder(src_, errno ? errno : ENOTDIR);
      return;
    }
    level.src = std::move(root);
    level.srcLength = src_.size();
    level.dstLength = dst_.size();
    if (pseudo_.contains(level.st.st_dev, level.src.get())) {
      run_.log("AVISO - " + withoutTrailingSlash(src_) +
               ": es un sistema de archivos virtual del sistema; no se copia");
      return;
    }
    if (isDestination(level.st) || insideDestination(level.src.get())) {
      run_.fail(withoutTrailingSlash(src_),
                ResguardaError(kInsideDestination, withoutTrailingSlash(src_), kInsideDestination));
      return;
    }
    walk(0);
  }

 private:
  enum class Dest { Unknown, Missing, Made, Present, Failed };
  // Whether names in a destination folder may differ from what the folder lists (a disk
  // that folds case finds Informe.txt under INFORME.txt).
  enum class Case { Unknown, Exact, Folded };

  // A folder on the current path, from the task folder (level 0) down.
  struct Level {
    Fd src;
    struct stat st {};
    std::size_t srcLength = 0;  // src_ and dst_ end at this folder
    std::size_t dstLength = 0;
    Fd dst;  // its destination folder, once opened or made
    Dest dest = Dest::Unknown;
    int error = 0;  // why the destination folder cannot be had
    const char* reason = nullptr;
    std::string clash;  // or: its name folds onto another one's, or is refused (the reason)
    Case names = Case::Unknown;
    bool listed = false;
    std::unordered_set<std::string> present;  // exact names in the folder, when Folded
    // Below a link of another user (as root): whose rights everything here is read with.
    std::shared_ptr<const OwnerRights> owner;
  };

  DirectoryListing& listingAt(std::size_t depth) {
    while (listings_.size() <= depth) listings_.push_back(std::make_unique<DirectoryListing>());
    return *listings_[depth];
  }

  bool onPath(const struct stat& st) const {
    for (const Level& level : levels_)
      if (level.st.st_dev == st.st_dev && level.st.st_ino == st.st_ino) return true;
    return false;
  }

  bool isDestination(const struct stat& st) const {
    return task_.excludedFolder && task_.excludedFolder->sameInode(FileIdentity::of(st));
  }

  // True when the folder lies anywhere below the destination folder: walked, the backup
  // would copy itself.
  bool insideDestination(int fd) const {
    if (!task_.excludedFolder) return false;
    struct stat current {};
    if (::fstat(fd, &current) != 0) return false;
    Fd up;
    int at = fd;
    for (int i = 0; i < 4 * kMaxDepth; ++i) {
      Fd parent(::openat(at, "..", kFolderFlags));
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

  bool goOn() const { return run_.goOn(); }

  void failFolder(const std::string& folder, int err) {
    const std::string path = withoutTrailingSlash(folder);
    run_.fail(path, ResguardaError("Cannot open file " + path, path, systemReason(err)));
  }

  void walk(std::size_t depth) {
    DirectoryListing& listing = listingAt(depth);
    if (!listing.read(levels_[depth].src.get())) {
      failFolder(src_, errno);
      return;
    }
    subfolderPass(depth, listing);
    filePass(depth, listing);
  }

  void subfolderPass(std::size_t depth, const DirectoryListing& listing) {
    try {
      for (std::size_t i = 0; i < listing.size(); ++i) {
        if (!goOn()) break;
        const char* name = listing.name(i);
        // Dot folders are hidden ones: never entered.
        if (name[0] == '.') continue;
        const unsigned char type = listing.type(i);
        if (type != DT_DIR && type != DT_LNK && type != DT_UNKNOWN) continue;
        enterSubfolder(depth, name, type);
      }
    } catch (const std::exception& error) {
      // Ends this folder's subfolder pass; its files are still handled.
      trimTo(depth);
      run_.fail(withoutTrailingSlash(src_), error);
    } catch (...) {
      trimTo(depth);
      run_.fail(withoutTrailingSlash(src_), unknownError(withoutTrailingSlash(src_)));
    }
  }

  void trimTo(std::size_t depth) {
    while (levels_.size() > depth + 1) levels_.pop_back();
    src_.resize(levels_[depth].srcLength);
    dst_.resize(levels_[depth].dstLength);
  }

  void enterSubfolder(std::size_t depth, const char* name, unsigned char type) {
    Level& parent = levels_[depth];
    std::shared_ptr<const OwnerRights> owner = parent.owner;
    bool isLink = type == DT_LNK;
    bool linkOfAnother = false;
    if (root_ && (type == DT_LNK || type == DT_UNKNOWN)) {
      struct stat entry {};
      if (::fstatat(parent.src.get(), name, &entry, AT_SYMLINK_NOFOLLOW) != 0) {
        const int err = errno;
        if (err != ENOENT) failFolder(src_ + name, err);
        return;
      }
      isLink = S_ISLNK(entry.st_mode);
      if (isLink && entry.st_uid != 0) {
        // A link to a file is the file pass's, which names it if need be.
        struct stat target {};
        if (::fstatat(parent.src.get(), name, &target, 0) != 0 || !S_ISDIR(target.st_mode)) return;
        owner = rightsOf(entry);
        linkOfAnother = true;
      }
    }
    // O_DIRECTORY fails at once on anything else, so a FIFO is never opened.
    Fd child(owner ? openWithRightsOf(*owner, parent.src.get(), name,
                                      kFolderFlags | (isLink ? 0 : O_NOFOLLOW))
                   : ::openat(parent.src.get(), name, kFolderFlags));
    if (!child) {
      const int err = errno;
      // A link to a file belongs to the file pass; a dangling link or a folder gone since
      // the listing has nothing to copy.
      if (err == ENOTDIR || err == ENOENT || err == ELOOP) return;
      if (owner && (err == EACCES || err == EPERM)) {
        run_.log("AVISO - " + src_ + name +
                 (linkOfAnother ? kUnreadableLink : kUnreadableBelowLink));
        return;
      }
      failFolder(src_ + name, err);
      return;
    }
    struct stat st {};
    if (::fstat(child.get(), &st) != 0) {
      failFolder(src_ + name, errno);
      return;
    }
    // Link cycles end at a folder already on the path; the destination is never a source.
    if (!S_ISDIR(st.st_mode) || onPath(st) || isDestination(st)) return;
    const bool otherDisk = st.st_dev != parent.st.st_dev;
    if (otherDisk && pseudo_.contains(st.st_dev, child.get())) return;
    bool viaLink = type == DT_LNK;
    if (type == DT_UNKNOWN) {
      struct stat entry {};
      viaLink = ::fstatat(parent.src.get(), name, &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(entry.st_mode);
    }
    // Only a link or another mount can lead into the destination without passing through
    // the destination folder itself.
    if ((viaLink || otherDisk) && insideDestination(child.get())) return;
    if (depth + 1 >= static_cast<std::size_t>(kMaxDepth)) {
      const std::string path = src_ + name;
      run_.fail(path, ResguardaError("Cannot open file " + path, path, kTooDeep));
      return;
    }

    src_.append(name).push_back('/');
    dst_.append(name).push_back('/');
    Level& level = levels_.emplace_back();
    level.src = std::move(child);
    level.st = st;
    level.srcLength = src_.size();
    level.dstLength = dst_.size();
    level.owner = std::move(owner);
    walk(depth + 1);
    levels_.pop_back();
    src_.resize(parent.srcLength);
    dst_.resize(parent.dstLength);
  }

  void filePass(std::size_t depth, const DirectoryListing& listing) {
    // The platform's search listed "." first, so the go flag was read again before any
    // real entry: a stop request never lets a folder on the way up copy one more file.
    for (std::size_t i = 0; i < listing.size(); ++i) {
      if (!goOn()) break;
      const unsigned char type = listing.type(i);
      if (type == DT_DIR || type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK)
        continue;
      handleFile(depth, listing.name(i), type);
    }
  }

  void handleFile(std::size_t depth, const char* name, unsigned char type) {
    Level& level = levels_[depth];
    struct stat source {};
    std::shared_ptr<const OwnerRights> owner = level.owner;
    // Only links are followed: a link put in place of a file after the listing is not.
    bool link = type != DT_REG;
    bool linkOfAnother = false;
    if (root_ && (type == DT_LNK || type == DT_UNKNOWN)) {
      if (::fstatat(level.src.get(), name, &source, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return;
        const int err = errno;
        run_.fail(src_ + name, cannotOpenFile(src_ + name, err));
        countExamined();
        return;
      }
      link = S_ISLNK(source.st_mode);
      linkOfAnother = link && source.st_uid != 0;
      if (linkOfAnother) owner = rightsOf(source);
    }
    if (::fstatat(level.src.get(), name, &source, 0) != 0) {
      // A dangling link (or a file gone since the listing) has nothing to copy.
      if (errno == ENOENT || errno == ELOOP) return;
      const int err = errno;
      run_.fail(src_ + name, cannotOpenFile(src_ + name, err));
      countExamined();
      return;
    }
    // Folders behind links were handled by the subfolder pass; special files are never
    // opened and counted nowhere.
    if (!S_ISREG(source.st_mode)) return;
    // A link to a file of /proc or /sys is a view of the system, not data.
    if (source.st_dev != level.st.st_dev && type != DT_REG) {
      Fd probe(::openat(level.src.get(), name, O_PATH | O_CLOEXEC));
      if (probe && pseudo_.contains(source.st_dev, probe.get())) return;
    }
    // Root copies through another user's link only what that user could read.
    Fd opened;
    if (owner) {
      opened.reset(
          openWithRightsOf(*owner, level.src.get(), name, kSourceFlags | (link ? 0 : O_NOFOLLOW)));
      if (!opened) {
        const int err = errno;
        if (err == ENOENT || err == ELOOP) return;
        if (err == EACCES || err == EPERM) {
          run_.log("AVISO - " + src_ + name +
                   (linkOfAnother ? kUnreadableLink : kUnreadableBelowLink));
          return;
        }
        run_.fail(src_ + name, cannotOpenFile(src_ + name, err));
        countExamined();
        return;
      }
      if (::fstat(opened.get(), &source) != 0 || !S_ISREG(source.st_mode)) return;
    }

    const time_t now = ::time(nullptr);
    if (isFutureDate(source.st_mtime, now) &&
        run_.futureWarned.emplace(source.st_dev, source.st_ino).second)
      run_.log("AVISO - " + src_ + name + ": la fecha del archivo (" +
               localDateText(source.st_mtime) + ") es posterior a la actual; se copia igualmente");

    struct stat found {};
    const int folder = destinationFolder(depth, false);
    // A folder this pass created holds only what the pass put there: nothing to look up,
    // unless its disk may find another name under this one.
    if (folder < 0 || (level.dest == Dest::Made && caseOf(level) == Case::Exact) ||
        ::fstatat(folder, name, &found, AT_SYMLINK_NOFOLLOW) != 0)
      found.st_mode = 0;

    const bool missing = found.st_mode == 0;
    // What the lookup found under another name is another file's copy: never replaced, never
    // taken for this one's.
    if (!missing && caseOf(level) == Case::Folded && !hasExactName(level, name)) {
      run_.fail(src_ + name, ResguardaError("Unable to write to " + dst_ + name, src_ + name,
                                            caseClash(foldedName(level, name))));
      countExamined();
      return;
    }
    // Anything but a file where the copy goes (a link, a folder) is tried, so that its
    // failure shows.
    if (missing || !S_ISREG(found.st_mode) || sourceIsNewer(source.st_mtime, found.st_mtime, now)) {
      line_.clear();
      if (!missing) line_ = kActualizadoPrefix;
      line_.append(src_).append(name);
      run_.log(line_);
      try {
        copyInto(depth, name, found, FileAt{level.src.get(), src_, name, link, opened.get()});
        ++(missing ? run_.estado.Copiados : run_.estado.Actualizados);
      } catch (const std::exception& e) {
        run_.fail(src_ + name, e);
      } catch (...) {
        run_.fail(src_ + name, unknownError(src_ + name));
      }
      if (copier_.metadataNotKept() && !run_.metadataWarned) {
        run_.metadataWarned = true;
        run_.log("AVISO - " + withoutTrailingSlash(run_.dirDestino) + ": " +
                 FileCopier::notKeptNotice(copier_.notKept()) +
                 "; las copias se guardan igualmente");
      }
    }
    countExamined();
  }

  void copyInto(std::size_t depth, const char* name, const struct stat& found,
                const FileAt& source) {
    const int folder = destinationFolder(depth, true);
    Level& level = levels_[depth];
    if (folder < 0) {
      const std::string path = dst_ + name;
      if (!level.clash.empty())
        throw ResguardaError("Unable to write to " + path, src_ + name, level.clash);
      if (level.reason) throw ResguardaError("Unable to write to " + path, path, level.reason);
      throw unableToWrite(path, level.error);
    }
    copier_.copy(source, FileAt{folder, dst_, name}, &found);
    if (caseOf(level) == Case::Folded && !hasExactName(level, name)) level.present.insert(name);
  }

  // How the destination folder of `level` (open) matches names: folders of a disk that folds
  // case are listed once, so that a name is known to be there exactly as written.
  Case caseOf(Level& level) {
    if (level.names != Case::Unknown) return level.names;
    level.names = Case::Folded;
    struct statfs fs {};
    if (::fstatfs(level.dst.get(), &fs) != 0) return level.names;
    const auto type = static_cast<unsigned long>(fs.f_type);
    if (type == kXfs || type == kBtrfs) {
      level.names = Case::Exact;
    } else if (type == kExt4 || type == kTmpfs || type == kF2fs) {
      int flags = 0;
      if (::ioctl(level.dst.get(), FS_IOC_GETFLAGS, &flags) != 0 || !(flags & FS_CASEFOLD_FL))
        level.names = Case::Exact;
    }
    return level.names;
  }

  bool hasExactName(Level& level, const char* name) {
    if (!level.listed) {
      level.listed = true;
      Fd again(::openat(level.dst.get(), ".", kFolderFlags));
      if (again && names_.read(again.get()))
        for (std::size_t i = 0; i < names_.size(); ++i) level.present.insert(names_.name(i));
    }
    return level.present.count(name) != 0;
  }

  // The name in the folder that `name` folds onto, when it differs in ASCII case alone.
  static std::string foldedName(const Level& level, const char* name) {
    for (const std::string& other : level.present)
      if (::strcasecmp(other.c_str(), name) == 0) return other;
    return {};
  }

  std::shared_ptr<const OwnerRights> rightsOf(const struct stat& link) {
    auto& rights = owners_[{link.st_uid, link.st_gid}];
    if (!rights) rights = std::make_shared<const OwnerRights>(OwnerRights::of(link));
    return rights;
  }

  // The destination folder of level `depth`, opened once (made too when `create`, the first
  // time a file goes into it); -1 when it is missing or cannot be had (the level says why).
  int destinationFolder(std::size_t depth, bool create) {
    Level& level = levels_[depth];
    switch (level.dest) {
      case Dest::Made:
      case Dest::Present:
        return level.dst.get();
      case Dest::Failed:
        return -1;
      case Dest::Missing:
        if (!create) return -1;
        break;
      case Dest::Unknown:
        break;
    }
    const std::size_t start = depth == 0 ? baseLength_ : levels_[depth - 1].dstLength;
    int parent;
    if (depth == 0) {
      parent = destinationRoot_.get();
      if (parent < 0) return failLevel(level, ENOENT);
    } else {
      parent = destinationFolder(depth - 1, create);
      const Level& up = levels_[depth - 1];
      if (parent < 0) {
        if (up.dest == Dest::Failed) {
          level.error = up.error;
          level.reason = up.reason;
          level.clash = up.clash;
          level.dest = Dest::Failed;
        } else {
          level.dest = Dest::Missing;
        }
        return -1;
      }
      // Inside a folder made just now, nothing is there yet.
      if (up.dest == Dest::Made && !create) {
        level.dest = Dest::Missing;
        return -1;
      }
    }
    // The task folder of a task at the root is the destination folder itself; a task given
    // below its root brings the folders in between.
    std::size_t at = start;
    Fd opened;
    while (at < level.dstLength) {
      std::size_t end = dst_.find('/', at);
      if (end == std::string::npos || end > level.dstLength) end = level.dstLength;
      if (end == at) {
        ++at;
        continue;
      }
      const bool last = dst_.find('/', end + 1) >= level.dstLength;
      name_.assign(dst_, at, end - at);
      // A missing disk is not replaced by a folder on the system disk.
      ChildFolder next = openChildFolder(parent, name_.c_str(), create, 0700, dst_.substr(0, end));
      if (!next.fd) {
        if (next.error == ENOENT && !create) {
          level.dest = Dest::Missing;
          return -1;
        }
        if (next.link) level.reason = kDestinationLink;
        if (next.nameRefused) level.clash = kFolderNameRefused + name_ + "»";
        return failLevel(level, next.error);
      }
      if (next.made && last) {
        applyFolderMode(next.fd.get(), &level.st);
        level.dest = Dest::Made;
      }
      // A subfolder whose name folds onto another one's would mix two folders' files.
      if (depth > 0) {
        Level& up = levels_[depth - 1];
        if (caseOf(up) == Case::Folded) {
          if (next.made) {
            if (!hasExactName(up, name_.c_str())) up.present.insert(name_);
          } else if (!hasExactName(up, name_.c_str())) {
            level.clash = caseClash(foldedName(up, name_.c_str()));
            return failLevel(level, EEXIST);
          }
        }
      }
      opened = std::move(next.fd);
      parent = opened.get();
      at = end + 1;
    }
    if (!opened) {
      opened.reset(::fcntl(parent, F_DUPFD_CLOEXEC, 0));
      if (!opened) return failLevel(level, errno);
    }
    level.dst = std::move(opened);
    if (level.dest != Dest::Made) level.dest = Dest::Present;
    return level.dst.get();
  }

  static int failLevel(Level& level, int err) {
    level.dest = Dest::Failed;
    level.error = err;
    return -1;
  }

  void countExamined() {
    ++run_.estado.Revisados;
    try {
      run_.observer.countersChanged();
    } catch (...) {
    }
  }

  const MirrorTask& task_;
  RunContext& run_;
  FileCopier copier_;
  const bool root_;
  PseudoFileSystems pseudo_;
  DirectoryListing names_;  // a destination folder's names, when its disk folds case
  std::map<std::pair<uid_t, gid_t>, std::shared_ptr<const OwnerRights>> owners_;
  Fd destinationRoot_;
  std::size_t baseLength_ = 0;  // run.dirDestino's length within dst_
  std::string src_;             // the folder being walked, ending in "/"
  std::string dst_;             // its destination folder, ending in "/"
  std::string line_;
  std::string name_;
  std::deque<Level> levels_;  // references stay valid while deeper levels come and go
  std::vector<std::unique_ptr<DirectoryListing>> listings_;
};

}  // namespace

void CopiarCarpeta(const std::string& folder, const MirrorTask& task, RunContext& run) {
  if (!run.goOn()) return;
  try {
    // An empty task path is passed over: "" + "/" would be the whole file system.
    std::string root = task.taskRoot;
    if (root.empty() || folder.empty() || run.dirDestino.empty()) return;
    root = withoutTrailingSlash(std::move(root));
    std::string source = folder;
    if (source.back() != '/') source.push_back('/');

    // A root ending in "." or ".." names its folder by a detour; its real name is the one
    // that goes to the destination.
    const std::size_t lastSlash = root.find_last_of('/');
    const std::string lastName = root.substr(lastSlash == std::string::npos ? 0 : lastSlash + 1);
    if (isDotOrDotDot(lastName)) {
      std::unique_ptr<char, decltype(&std::free)> real(::realpath(root.c_str(), nullptr),
                                                       &std::free);
      if (!real) return;
      if (source == root + "/" || source == root + "//") source = std::string(real.get()) + "/";
      root = real.get();
    }

    // P, the parent of the task root, is cut from every source folder: the task folder
    // keeps its own name inside the destination.
    const std::size_t slash = root.find_last_of('/');
    const std::size_t parentLength = slash == std::string::npos ? 0 : slash + 1;
    if (source.compare(0, root.size(), root) != 0 ||
        (source.size() > root.size() && source[root.size()] != '/' && root != "/"))
      return;
    if (hasDotComponent(source.substr(0, source.size() - 1), parentLength)) return;
    if (run.dirDestino.back() != '/') run.dirDestino.push_back('/');
    std::string destination = run.dirDestino;
    destination.append(source, parentLength, std::string::npos);

    raiseOpenFileLimit();
    Fd rootFd(::open(source.c_str(), kFolderFlags));
    if (!rootFd) {
      // A missing task folder is passed over without a message; one that is there but
      // cannot be read is a failure.
      const int err = errno;
      if (err != ENOENT) {
        const std::string path = withoutTrailingSlash(source);
        run.fail(path, ResguardaError("Cannot open file " + path, path, systemReason(err)));
      }
      return;
    }
    Fd destinationRoot(::open(run.dirDestino.c_str(), kFolderFlags));
    MirrorWalk walk(task, run);
    walk.start(std::move(rootFd), std::move(source), std::move(destination),
               std::move(destinationRoot));
  } catch (const std::exception& error) {
    run.fail(task.taskRoot, error);
  } catch (...) {
    run.fail(task.taskRoot, unknownError(task.taskRoot));
  }
}
