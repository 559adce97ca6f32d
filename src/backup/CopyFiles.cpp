#include "backup/CopyFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "backup/DirectoryListing.h"
#include "platform/Errors.h"
#include "platform/FolderChain.h"

namespace {

constexpr std::size_t kKernelChunk = 8u << 20;  // abandon is checked between chunks
constexpr std::size_t kBufferSize = 1u << 20;   // read/write fallback
constexpr char kTempPrefix[] = ".resguarda-";
constexpr std::size_t kTempPrefixLength = sizeof kTempPrefix - 1;
constexpr std::size_t kTempRandomLength = 6;
constexpr int kTempAttempts = 100;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes and reports close()'s own error (a late write error on some file systems).
  int close() {
    const int fd = fd_;
    fd_ = -1;
    return fd >= 0 && ::close(fd) != 0 ? errno : 0;
  }

 private:
  int fd_;
};

ResguardaError readFailed(const std::string& path, const std::string& reason) {
  return ResguardaError("Cannot read file " + path, path, reason);
}

void makeTemporaryName(char (&name)[32]) {
  static constexpr char kAlphabet[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::minstd_rand random{std::random_device{}()};
  std::memcpy(name, kTempPrefix, kTempPrefixLength);
  for (std::size_t i = 0; i < kTempRandomLength; ++i)
    name[kTempPrefixLength + i] = kAlphabet[random() % (sizeof kAlphabet - 1)];
  name[kTempPrefixLength + kTempRandomLength] = '\0';
}

// An unnamed file is linked in through /proc; without /proc only named temporaries work.
bool procFdUsable() {
  static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
  return usable;
}

}  // namespace

// The file being written. Unnamed (O_TMPFILE) where the file system allows it, so a killed
// process leaves nothing; otherwise a short hidden name, locked while in use so that a
// later copy can tell a leftover from a file another process is still writing.
class FileCopier::Temporary {
 public:
  Temporary(int dirFd, const std::string& destination) : dirFd_(dirFd), destination_(destination) {
    name_[0] = '\0';
  }
  ~Temporary() {
    fd_.reset();
    if (name_[0]) ::unlinkat(dirFd_, name_, 0);
  }

  void create(bool unnamedAllowed) {
    if (unnamedAllowed && procFdUsable()) {
      fd_.reset(::openat(dirFd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
      if (fd_) return;
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
        throw unableToWrite(destination_, errno);
    }
    unnamed_ = false;
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
      makeTemporaryName(name_);
      fd_.reset(::openat(dirFd_, name_, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666));
      if (fd_) {
        ::flock(fd_.get(), LOCK_EX | LOCK_NB);
        return;
      }
      const int err = errno;
      name_[0] = '\0';
      if (err != EEXIST) throw unableToWrite(destination_, err);
    }
    throw unableToWrite(destination_, EEXIST);
  }

  int fd() const { return fd_.get(); }

  // Puts the complete file in place under `finalName`.
  void commit(const char* finalName, bool destinationExists) {
    if (unnamed_) {
      char procPath[64];
      std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd_.get());
      // A missing file is linked straight in: it only ever appears complete.
      if (!destinationExists &&
          ::linkat(AT_FDCWD, procPath, dirFd_, finalName, AT_SYMLINK_FOLLOW) == 0) {
        if (const int err = fd_.close()) {
          ::unlinkat(dirFd_, finalName, 0);
          throw unableToWrite(destination_, err);
        }
        return;
      }
      if (!destinationExists && errno != EEXIST) throw unableToWrite(destination_, errno);
      linkUnderTemporaryName(procPath);
    }
    if (const int err = fd_.close()) throw unableToWrite(destination_, err);
    if (::renameat(dirFd_, name_, dirFd_, finalName) != 0) throw unableToWrite(destination_, errno);
    name_[0] = '\0';
  }

 private:
  void linkUnderTemporaryName(const char* procPath) {
    ::flock(fd_.get(), LOCK_EX | LOCK_NB);
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
      makeTemporaryName(name_);
      if (::linkat(AT_FDCWD, procPath, dirFd_, name_, AT_SYMLINK_FOLLOW) == 0) return;
      const int err = errno;
      name_[0] = '\0';
      if (err != EEXIST) throw unableToWrite(destination_, err);
    }
    throw unableToWrite(destination_, EEXIST);
  }

  int dirFd_;
  const std::string& destination_;
  Fd fd_;
  bool unnamed_ = true;
  char name_[32];
};

FileCopier::FileCopier(const std::atomic<bool>& abandon)
    : abandon_(abandon), chunk_(kKernelChunk), unnamedAllowed_(true) {}

FileCopier::~FileCopier() = default;

void FileCopier::copy(const FileAt& source, const FileAt& destination,
                      const struct stat* knownDestination) {
  Fd in(::openat(source.dirFd, source.name, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!in) throw cannotOpenFile(source.path(), errno);
  struct stat sourceStat {};
  if (::fstat(in.get(), &sourceStat) != 0) throw readFailed(source.path(), systemReason(errno));
  if (!S_ISREG(sourceStat.st_mode))
    throw ResguardaError("Cannot open file " + source.path(), source.path(), "not a regular file");

  struct stat found {};
  bool exists;
  if (knownDestination) {
    found = *knownDestination;
    exists = found.st_mode != 0;
  } else {
    exists = ::fstatat(destination.dirFd, destination.name, &found, AT_SYMLINK_NOFOLLOW) == 0;
  }
  const std::string destinationPath = destination.path();
  if (exists) {
    if (S_ISDIR(found.st_mode)) throw unableToWrite(destinationPath, EISDIR);
    // Read-only copies stay as they are, whoever runs the program (root included).
    if (S_ISREG(found.st_mode) && (found.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
      throw unableToWrite(destinationPath, EACCES);
  }

  Temporary temporary(destination.dirFd, destinationPath);
  temporary.create(unnamedAllowed_);
  copyBytes(in.get(), source, temporary.fd(), destination,
            static_cast<uint64_t>(sourceStat.st_size));
  temporary.commit(destination.name, exists);
}

void FileCopier::copyBytes(int in, const FileAt& source, int out, const FileAt& destination,
                           uint64_t size) {
  uint64_t done = 0;
  bool inKernel = true;
  while (done < size) {
    if (abandon_.load(std::memory_order_relaxed))
      throw unableToWrite(destination.path(), ECANCELED);
    const uint64_t left = size - done;
    ssize_t got;
    if (inKernel) {
      loff_t offset = static_cast<loff_t>(done);
      got = ::copy_file_range(in, &offset, out, nullptr, std::min<uint64_t>(left, chunk_), 0);
      if (got < 0) {
        if (errno == EINTR) continue;
        if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)
          throw unableToWrite(destination.path(), errno);
      }
      if (got <= 0) {
        // Not supported here, or an error: the plain copy carries on and tells a read
        // error from a write error (and a file that shrank from a file system that
        // cannot copy in the kernel).
        inKernel = false;
        continue;
      }
    } else {
      if (!buffer_) {
        bufferSize_ = kBufferSize;
        buffer_ = std::make_unique<char[]>(bufferSize_);
      }
      const std::size_t want = std::min<uint64_t>({left, chunk_, bufferSize_});
      got = ::pread(in, buffer_.get(), want, static_cast<off_t>(done));
      if (got < 0) {
        if (errno == EINTR) continue;
        throw readFailed(source.path(), systemReason(errno));
      }
      if (got == 0) throw readFailed(source.path(), "the file shrank while it was being copied");
      for (ssize_t written = 0; written < got;) {
        const ssize_t n = ::write(out, buffer_.get() + written, got - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw unableToWrite(destination.path(), n < 0 ? errno : ENOSPC);
        written += n;
      }
    }
    done += static_cast<uint64_t>(got);
    if (chunkObserver_) chunkObserver_(done);
  }
}

bool FileCopier::isTemporaryName(const char* name) {
  if (std::strncmp(name, kTempPrefix, kTempPrefixLength) != 0) return false;
  const char* rest = name + kTempPrefixLength;
  std::size_t n = 0;
  for (; rest[n]; ++n) {
    const char c = rest[n];
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum) return false;
  }
  return n == kTempRandomLength;
}

void FileCopier::removeLeftovers(int dirFd) {
  thread_local DirectoryListing listing;
  if (!listing.read(dirFd)) return;
  for (std::size_t i = 0; i < listing.size(); ++i) {
    const char* name = listing.name(i);
    if (!isTemporaryName(name)) continue;
    Fd fd(::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {
    }, named{};
    if (!fd || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) continue;
    // A writer that is still alive holds the lock.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
    if (::fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino)
      ::unlinkat(dirFd, name, 0);
  }
}

void CopyFiles(const std::string& source, const std::string& destination,
               const std::atomic<bool>& abandon) {
  const std::size_t slash = destination.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : destination.substr(0, slash + 1);
  const std::string name = destination.substr(folder.size());
  if (name.empty()) throw unableToWrite(destination, EISDIR);
  const int chainErr = folder.empty() ? 0 : createFolderChain(folder);
  Fd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) throw unableToWrite(destination, chainErr ? chainErr : errno);
  FileCopier::removeLeftovers(dir.get());
  const std::string noFolder;
  FileCopier copier(abandon);
  copier.copy(FileAt{AT_FDCWD, noFolder, source.c_str()}, FileAt{dir.get(), folder, name.c_str()});
}
