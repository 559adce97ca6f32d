#include "backup/CopiarCarpeta.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#include "backup/CopyFiles.h"
#include "backup/DirectoryListing.h"
#include "backup/RunContext.h"
#include "platform/DosDateTime.h"
#include "platform/Errors.h"
#include "platform/FolderChain.h"

namespace {

constexpr int kMaxDepth = 4096;
// Folders above this depth keep their descriptor open while their subfolders are walked;
// deeper ones close it and open it again by path, so the walk never runs out of them.
constexpr int kHeldDescriptorDepth = 200;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset(other.fd_);
      other.fd_ = -1;
    }
    return *this;
  }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

FolderIdentity identityOf(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  return {st.st_dev, st.st_ino, true};
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

class MirrorWalk {
 public:
  MirrorWalk(const MirrorTask& task, RunContext& run)
      : task_(task), run_(run), copier_(run.control.abandon) {}

  void start(Fd root, std::string source, std::string destination) {
    src_ = std::move(source);
    dst_ = std::move(destination);
    const FolderIdentity self = identityOf(root.get());
    if (!self.valid || self == task_.excludedFolder) return;
    path_.push_back(self);
    walk(std::move(root), 0);
  }

 private:
  // The destination folder of the folder in the file pass, opened at most once.
  struct Destination {
    Fd fd;
    bool looked = false;      // opening was tried
    bool createdNow = false;  // did not exist when the pass reached its first file
    bool clean = false;       // made by this pass or already rid of leftovers
    int error = 0;            // creating it failed: every copy into it fails the same way
  };

  DirectoryListing& listingAt(int depth) {
    while (static_cast<int>(levels_.size()) <= depth)
      levels_.push_back(std::make_unique<DirectoryListing>());
    return *levels_[depth];
  }

  bool onPath(const FolderIdentity& id) const {
    for (const FolderIdentity& p : path_)
      if (p == id) return true;
    return false;
  }

  bool goOn() const { return run_.goOn(); }

  void walk(Fd fd, int depth) {
    DirectoryListing& listing = listingAt(depth);
    if (!listing.read(fd.get())) return;  // cannot be listed: passed over
    if (!subfolderPass(fd, listing, depth)) return;
    filePass(fd.get(), listing);
  }

  // False when the folder could not be opened again after a deep subfolder.
  bool subfolderPass(Fd& fd, const DirectoryListing& listing, int depth) {
    const std::size_t srcLength = src_.size();
    const std::size_t dstLength = dst_.size();
    const FolderIdentity self = path_.back();
    try {
      for (std::size_t i = 0; i < listing.size(); ++i) {
        if (!goOn()) break;
        const char* name = listing.name(i);
        // Dot folders are hidden ones: never entered.
        if (name[0] == '.') continue;
        const unsigned char type = listing.type(i);
        if (type != DT_DIR && type != DT_LNK && type != DT_UNKNOWN) continue;
        if (depth + 1 >= kMaxDepth) continue;
        // O_DIRECTORY fails at once on anything else, so a FIFO is never opened.
        Fd child(::openat(fd.get(), name, kFolderFlags));
        if (!child) continue;
        const FolderIdentity id = identityOf(child.get());
        // Link cycles end at a folder already on the path; the destination is never a source.
        if (!id.valid || onPath(id) || id == task_.excludedFolder) continue;

        src_.append(name).push_back('/');
        dst_.append(name).push_back('/');
        path_.push_back(id);
        if (depth >= kHeldDescriptorDepth) fd.reset();
        struct Restore {
          MirrorWalk& w;
          std::size_t s, d;
          ~Restore() {
            w.src_.resize(s);
            w.dst_.resize(d);
            w.path_.pop_back();
          }
        } restore{*this, srcLength, dstLength};
        walk(std::move(child), depth + 1);
        if (!fd) {
          fd.reset(::open(src_.substr(0, srcLength).c_str(), kFolderFlags));
          if (!fd || identityOf(fd.get()) != self) return false;
        }
      }
    } catch (...) {
      // Ends this folder's subfolder pass; its files are still handled.
      src_.resize(srcLength);
      dst_.resize(dstLength);
      if (!fd) {
        fd.reset(::open(src_.c_str(), kFolderFlags));
        if (!fd || identityOf(fd.get()) != self) return false;
      }
    }
    return true;
  }

  void filePass(int fd, const DirectoryListing& listing) {
    Destination dest;
    // The platform's search listed "." first, so the go flag was read again before any
    // real entry: a stop request never lets a folder on the way up copy one more file.
    for (std::size_t i = 0; i < listing.size(); ++i) {
      if (!goOn()) break;
      const unsigned char type = listing.type(i);
      if (type == DT_DIR || type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK)
        continue;
      handleFile(fd, listing.name(i), dest);
    }
  }

  void handleFile(int fd, const char* name, Destination& dest) {
    struct stat source {};
    if (::fstatat(fd, name, &source, 0) != 0) {
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

    if (!dest.looked) {
      dest.looked = true;
      dest.fd.reset(::open(dst_.c_str(), kFolderFlags));
    }
    struct stat found {};
    // A folder this pass created holds only what the pass put there: nothing to look up.
    if (!dest.fd || dest.createdNow ||
        ::fstatat(dest.fd.get(), name, &found, AT_SYMLINK_NOFOLLOW) != 0)
      found.st_mode = 0;

    const bool missing = found.st_mode == 0;
    if (missing || DosDateTime(source.st_mtime) > DosDateTime(found.st_mtime)) {
      line_.clear();
      if (!missing) line_ = "ACTUALIZADO - ";
      line_.append(src_).append(name);
      run_.log(line_);
      try {
        copyInto(fd, name, dest, found);
        ++(missing ? run_.estado.Copiados : run_.estado.Actualizados);
      } catch (const std::exception& e) {
        run_.fail(src_ + name, e);
      } catch (...) {
        run_.fail(src_ + name, ResguardaError("Cannot copy " + src_ + name));
      }
    }
    countExamined();
  }

  void copyInto(int fd, const char* name, Destination& dest, const struct stat& found) {
    if (dest.error) throw unableToWrite(dst_ + name, dest.error);
    if (!dest.fd) {
      // Made only now that a file goes into it, once per folder.
      const int err = createFolderChain(dst_);
      dest.fd.reset(::open(dst_.c_str(), kFolderFlags));
      if (!dest.fd) {
        dest.error = err ? err : errno;
        throw unableToWrite(dst_ + name, dest.error);
      }
      dest.clean = true;
      dest.createdNow = true;
    }
    if (!dest.clean) {
      FileCopier::removeLeftovers(dest.fd.get());
      dest.clean = true;
    }
    copier_.copy(FileAt{fd, src_, name}, FileAt{dest.fd.get(), dst_, name}, &found);
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
  std::string src_;  // the folder being walked, ending in "/"
  std::string dst_;  // its destination folder, ending in "/"
  std::string line_;
  std::vector<FolderIdentity> path_;  // folders from the task root down to the current one
  std::vector<std::unique_ptr<DirectoryListing>> levels_;
};

}  // namespace

FolderIdentity FolderIdentity::of(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  return {st.st_dev, st.st_ino, true};
}

void CopiarCarpeta(const std::string& folder, const MirrorTask& task, RunContext& run) {
  if (!run.goOn()) return;
  try {
    // An empty task path is passed over: "" + "/" would be the whole file system.
    std::string root = task.taskRoot;
    if (root.empty() || folder.empty() || run.dirDestino.empty()) return;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
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
    std::string destination = run.dirDestino;
    if (destination.back() != '/') destination.push_back('/');
    destination.append(source, parentLength, std::string::npos);

    Fd rootFd(::open(source.c_str(), kFolderFlags));
    if (!rootFd) return;  // missing or unreadable: passed over without a message
    MirrorWalk walk(task, run);
    walk.start(std::move(rootFd), std::move(source), std::move(destination));
  } catch (...) {
    // Single files and folders never end the run.
  }
}
