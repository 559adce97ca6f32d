#include "backup/CopyFiles.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "backup/CopyTime.h"
#include "backup/TemporaryJournal.h"
#include "platform/Errors.h"
#include "platform/FolderChain.h"
#include "platform/UniqueFd.h"

namespace {

constexpr std::size_t kKernelChunk = 8u << 20;  // abandon is checked between chunks
constexpr std::size_t kBufferSize = 1u << 20;   // read/write fallback
constexpr char kTempPrefix[] = ".resguarda-";
constexpr std::size_t kTempPrefixLength = sizeof kTempPrefix - 1;
constexpr std::size_t kTempRandomLength = 6;
constexpr int kTempAttempts = 100;

constexpr char kNotRegular[] = "no es un archivo normal";
constexpr char kSymbolicLink[] = "es un enlace simbólico, no se sigue";
constexpr char kShrank[] = "el archivo se ha acortado mientras se copiaba";

ResguardaError readFailed(const std::string& path, const std::string& reason) {
  return ResguardaError("Cannot read file " + path, path, reason);
}

ResguardaError refused(const std::string& path, const char* reason) {
  return ResguardaError("Unable to write to " + path, path, reason);
}

// Only nothing, or a regular file that may be written, is replaced by a copy; anything else
// standing there stays exactly as it is.
void checkDestination(const struct stat& found, const std::string& path) {
  if (S_ISDIR(found.st_mode)) throw unableToWrite(path, EISDIR);
  if (S_ISLNK(found.st_mode)) throw refused(path, kSymbolicLink);
  if (!S_ISREG(found.st_mode)) throw refused(path, kNotRegular);
  // Read-only copies stay as they are, whoever runs the program (root included).
  if ((found.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) throw unableToWrite(path, EACCES);
}

// A file system that cannot store owners, modes or times (vfat) refuses them; the copy is
// still good. (ENOTSUP is EOPNOTSUPP here.)
bool cannotStore(int err) {
  return err == EPERM || err == EOPNOTSUPP;
}

bool operator==(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

timespec realTime() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return now;
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

// The absolute path of an open folder, ending in "/"; "" when it cannot be told.
std::string absoluteFolder(const FileAt& at) {
  if (!at.folder.empty() && at.folder[0] == '/') return at.folder;
  char procPath[64];
  std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", at.dirFd);
  char target[PATH_MAX];
  const ssize_t length = ::readlink(procPath, target, sizeof target);
  if (length <= 0 || length >= static_cast<ssize_t>(sizeof target) || target[0] != '/') return {};
  std::string folder(target, length);
  if (folder.back() != '/') folder.push_back('/');
  return folder;
}

}  // namespace

// The file being written, created 0600 so that nobody else reads it while it is written.
// Unnamed (O_TMPFILE) where the file system allows it, so a killed process leaves nothing;
// otherwise a short hidden name, locked while in use and recorded in the journal, so that a
// later run can tell a leftover of ours from a file another process is still writing and
// from a user's file of the same name.
class FileCopier::Temporary {
 public:
  Temporary(const FileAt& destination, const std::string& path, TemporaryJournal& journal)
      : destination_(destination), path_(path), journal_(journal) {
    name_[0] = '\0';
  }
  ~Temporary() {
    fd_.reset();
    if (name_[0]) {
      FileIdentity found;
      // Only our own file goes, not one that someone put under its name meanwhile.
      if (!identified_ || (FileIdentity::of(dirFd(), name_, AT_SYMLINK_NOFOLLOW, found) &&
                           identity_.matches(found)))
        ::unlinkat(dirFd(), name_, 0);
    }
    dropName();
  }

  void create(bool unnamedAllowed) {
    if (unnamedAllowed && procFdUsable()) {
      fd_.reset(::openat(dirFd(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
      if (fd_) return;
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
        throw unableToWrite(path_, errno);
    }
    unnamed_ = false;
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
      makeTemporaryName(name_);
      fd_.reset(
          ::openat(dirFd(), name_, O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (fd_) {
        named();
        return;
      }
      const int err = errno;
      name_[0] = '\0';
      if (err != EEXIST) throw unableToWrite(path_, err);
    }
    throw unableToWrite(path_, EEXIST);
  }

  int fd() const { return fd_.get(); }

  // Puts the complete file in place under `finalName`; `destinationExists` tells whether a
  // copy to replace was there (checked by the caller).
  void commit(const char* finalName, bool destinationExists) {
    if (unnamed_) {
      char procPath[64];
      std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd_.get());
      // A missing file is linked straight in: it only ever appears complete.
      if (!destinationExists) {
        if (::linkat(AT_FDCWD, procPath, dirFd(), finalName, AT_SYMLINK_FOLLOW) == 0) {
          if (const int err = fd_.close()) {
            ::unlinkat(dirFd(), finalName, 0);
            throw unableToWrite(path_, err);
          }
          return;
        }
        if (errno != EEXIST) throw unableToWrite(path_, errno);
        lookAgain(finalName);
      }
      // An old copy is replaced by renaming: the file needs a name for that moment. It
      // stays open (and locked) until it is in place; the local file systems that have
      // unnamed files report nothing late on close.
      linkUnderTemporaryName(procPath);
      place(finalName, true);
      if (const int err = fd_.close()) throw unableToWrite(path_, err);
      return;
    }
    // Closed before it is put in place, to hear of a late write error (network file
    // systems); the lock stays on its own descriptor meanwhile, so a clean-up cannot take it.
    if (const int err = fd_.close()) throw unableToWrite(path_, err);
    place(finalName, destinationExists);
  }

 private:
  int dirFd() const { return destination_.dirFd; }

  void place(const char* finalName, bool replace) {
    if (!replace) {
      if (::renameat2(dirFd(), name_, dirFd(), finalName, RENAME_NOREPLACE) == 0) {
        dropName();
        return;
      }
      if (errno != EEXIST && errno != EINVAL && errno != ENOSYS) throw unableToWrite(path_, errno);
      lookAgain(finalName);
    }
    if (::renameat(dirFd(), name_, dirFd(), finalName) != 0) throw unableToWrite(path_, errno);
    dropName();
  }

  // Something came to stand under the final name during the copy: it is replaced only if
  // it may be.
  void lookAgain(const char* finalName) {
    struct stat found {};
    if (::fstatat(dirFd(), finalName, &found, AT_SYMLINK_NOFOLLOW) == 0)
      checkDestination(found, path_);
    else if (errno != ENOENT)
      throw unableToWrite(path_, errno);
  }

  void linkUnderTemporaryName(const char* procPath) {
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
      makeTemporaryName(name_);
      if (::linkat(AT_FDCWD, procPath, dirFd(), name_, AT_SYMLINK_FOLLOW) == 0) {
        named();
        return;
      }
      const int err = errno;
      name_[0] = '\0';
      if (err != EEXIST) throw unableToWrite(path_, err);
    }
    throw unableToWrite(path_, EEXIST);
  }

  // The temporary has a name now: locked for as long as it has it, and recorded so that
  // the next run knows it for ours if this process dies.
  void named() {
    if (!unnamed_) lock_.reset(::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0));
    ::flock(fd_.get(), LOCK_EX | LOCK_NB);
    identified_ = FileIdentity::of(fd_.get(), "", AT_EMPTY_PATH, identity_);
    if (!identified_) return;
    const std::string folder = absoluteFolder(destination_);
    recorded_ = !folder.empty() && journal_.record(identity_, folder + name_);
  }

  // The name is gone (renamed into place or removed): its entry and lock go with it.
  void dropName() {
    name_[0] = '\0';
    if (recorded_) journal_.forget(identity_);
    recorded_ = false;
    lock_.reset();
  }

  const FileAt& destination_;
  const std::string& path_;
  TemporaryJournal& journal_;
  UniqueFd fd_;
  UniqueFd lock_;
  bool unnamed_ = true;
  bool identified_ = false;
  bool recorded_ = false;
  FileIdentity identity_;
  char name_[32];
};

FileCopier::FileCopier(const std::atomic<bool>& abandon)
    : abandon_(abandon),
      chunk_(kKernelChunk),
      unnamedAllowed_(true),
      root_(::geteuid() == 0),
      clock_(realTime),
      journal_(std::make_unique<TemporaryJournal>()) {}

FileCopier::~FileCopier() = default;

void FileCopier::copy(const FileAt& source, const FileAt& destination,
                      const struct stat* knownDestination) {
  UniqueFd in(::openat(source.dirFd, source.name, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!in) throw cannotOpenFile(source.path(), errno);
  struct stat before {};
  if (::fstat(in.get(), &before) != 0) throw readFailed(source.path(), systemReason(errno));
  if (!S_ISREG(before.st_mode))
    throw ResguardaError("Cannot open file " + source.path(), source.path(), kNotRegular);

  struct stat found {};
  bool exists;
  if (knownDestination) {
    found = *knownDestination;
    exists = found.st_mode != 0;
  } else {
    exists = ::fstatat(destination.dirFd, destination.name, &found, AT_SYMLINK_NOFOLLOW) == 0;
  }
  const std::string destinationPath = destination.path();
  if (exists) checkDestination(found, destinationPath);

  Temporary temporary(destination, destinationPath, *journal_);
  temporary.create(unnamedAllowed_);
  const timespec now = clock_();
  const auto size = static_cast<uint64_t>(before.st_size);
  // Fewer blocks than the size needs: there are holes, which stay holes.
  if (static_cast<uint64_t>(before.st_blocks) * 512 < size) {
    copySparse(in.get(), source, temporary.fd(), destinationPath, size);
  } else {
    uint64_t done = 0;
    bool inKernel = true;
    copyRange(in.get(), source, temporary.fd(), destinationPath, 0, size, done, inKernel);
  }
  struct stat after {};
  if (::fstat(in.get(), &after) != 0) throw readFailed(source.path(), systemReason(errno));
  if (after.st_size < before.st_size) throw readFailed(source.path(), kShrank);
  finish(temporary.fd(), destinationPath, before, after, now);
  temporary.commit(destination.name, exists);
}

void FileCopier::copyRange(int in, const FileAt& source, int out, const std::string& destination,
                           uint64_t offset, uint64_t length, uint64_t& done, bool& inKernel) {
  const uint64_t end = offset + length;
  while (offset < end) {
    if (abandon_.load(std::memory_order_relaxed)) throw unableToWrite(destination, ECANCELED);
    const uint64_t left = end - offset;
    ssize_t got;
    if (inKernel) {
      loff_t from = static_cast<loff_t>(offset);
      loff_t to = from;
      got = ::copy_file_range(in, &from, out, &to, std::min<uint64_t>(left, chunk_), 0);
      if (got < 0) {
        if (errno == EINTR) continue;
        if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)
          throw unableToWrite(destination, errno);
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
      got = ::pread(in, buffer_.get(), want, static_cast<off_t>(offset));
      if (got < 0) {
        if (errno == EINTR) continue;
        throw readFailed(source.path(), systemReason(errno));
      }
      if (got == 0) throw readFailed(source.path(), kShrank);
      for (ssize_t written = 0; written < got;) {
        const ssize_t n = ::pwrite(out, buffer_.get() + written, got - written,
                                   static_cast<off_t>(offset) + written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw unableToWrite(destination, n < 0 ? errno : ENOSPC);
        written += n;
      }
    }
    offset += static_cast<uint64_t>(got);
    done += static_cast<uint64_t>(got);
    if (chunkObserver_) chunkObserver_(done);
  }
}

void FileCopier::copySparse(int in, const FileAt& source, int out, const std::string& destination,
                            uint64_t size) {
  uint64_t offset = 0;
  uint64_t done = 0;
  bool inKernel = true;
  while (offset < size) {
    if (abandon_.load(std::memory_order_relaxed)) throw unableToWrite(destination, ECANCELED);
    const off_t data = ::lseek(in, static_cast<off_t>(offset), SEEK_DATA);
    if (data < 0) {
      // Only a hole is left, or the file shrank: its size afterwards tells.
      if (errno == ENXIO) break;
      if (errno != EINVAL && errno != EOPNOTSUPP)
        throw readFailed(source.path(), systemReason(errno));
      // No map of holes here: the rest is copied as it reads.
      copyRange(in, source, out, destination, offset, size - offset, done, inKernel);
      break;
    }
    if (static_cast<uint64_t>(data) >= size) break;
    const off_t hole = ::lseek(in, data, SEEK_HOLE);
    if (hole < 0)
      throw readFailed(source.path(), errno == ENXIO ? std::string(kShrank) : systemReason(errno));
    uint64_t end = std::min<uint64_t>(static_cast<uint64_t>(hole), size);
    // A map that does not move on: the rest is copied as it reads.
    if (end <= static_cast<uint64_t>(data)) end = size;
    copyRange(in, source, out, destination, static_cast<uint64_t>(data),
              end - static_cast<uint64_t>(data), done, inKernel);
    offset = end;
  }
  if (::ftruncate(out, static_cast<off_t>(size)) != 0) throw unableToWrite(destination, errno);
}

void FileCopier::finish(int out, const std::string& destination, const struct stat& before,
                        const struct stat& after, const timespec& now) {
  const timespec modified = copyModificationTime(before, after, now);
  const timespec times[2] = {{0, UTIME_OMIT}, modified};
  if (::futimens(out, times) != 0) {
    const int err = errno;
    // Where no time can be set the copy keeps the time of the copy, later than its source;
    // but a copy that has to look older than its source cannot stand.
    if (!cannotStore(err) || !(modified == before.st_mtim)) throw unableToWrite(destination, err);
  }
  bool ownerKept = false;
  if (root_) {
    // EINVAL: an owner that this file system or mount cannot map.
    if (::fchown(out, before.st_uid, before.st_gid) == 0)
      ownerKept = true;
    else if (!cannotStore(errno) && errno != EINVAL)
      throw unableToWrite(destination, errno);
  }
  // The owner may always write our copy, so that it can be brought up to date next time.
  mode_t mode = (before.st_mode & 0777) | S_IWUSR;
  // Set-id bits are only safe for the owner and group they were given for.
  if (ownerKept) mode |= before.st_mode & (S_ISUID | S_ISGID | S_ISVTX);
  if (::fchmod(out, mode) != 0 && !cannotStore(errno)) throw unableToWrite(destination, errno);
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

void FileCopier::removeRecordedLeftovers() {
  TemporaryJournal::removeLeftovers();
}

void CopyFiles(const std::string& source, const std::string& destination,
               const std::atomic<bool>& abandon) {
  const std::size_t slash = destination.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "" : destination.substr(0, slash + 1);
  const std::string name = destination.substr(folder.size());
  if (name.empty()) throw unableToWrite(destination, EISDIR);
  const int chainErr = folder.empty() ? 0 : createFolderChain(folder);
  UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) throw unableToWrite(destination, chainErr ? chainErr : errno);
  const std::string noFolder;
  FileCopier copier(abandon);
  copier.copy(FileAt{AT_FDCWD, noFolder, source.c_str()}, FileAt{dir.get(), folder, name.c_str()});
}
