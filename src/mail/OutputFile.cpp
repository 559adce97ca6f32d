#include "mail/OutputFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "mail/ByteStreams.h"
#include "platform/Errors.h"
#include "platform/UniqueFd.h"

namespace {

// The form of the backup copy's temporaries, so that one rule tells leftovers of both.
constexpr char kTempPrefix[] = ".resguarda-";
constexpr std::size_t kTempPrefixLength = sizeof kTempPrefix - 1;
constexpr std::size_t kTempRandomLength = 6;
constexpr int kTempAttempts = 100;

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

// Throws unless the entry now under `name` may be replaced.
void checkReplaceable(int dirFd, const std::string& name, const std::string& path,
                      IfExists ifExists) {
  struct stat st {};
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;  // gone meanwhile
  if (ifExists == IfExists::Fail) throw unableToWrite(path, EEXIST);
  if (S_ISDIR(st.st_mode)) throw unableToWrite(path, EISDIR);
  // A link (or any other entry that is not a file) is replaced itself, never written through.
  if (!S_ISREG(st.st_mode)) return;
  // Read-only outputs stay as they are, whoever runs the program: root, whom the system lets
  // write anything, keeps a file that has no write bit at all.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) throw unableToWrite(path, EACCES);
  if (::faccessat(dirFd, name.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES)
    throw unableToWrite(path, EACCES);
}

// The file being written: unnamed (O_TMPFILE) where the file system allows it, so a killed
// process leaves nothing; otherwise a short hidden name, locked while in use so that a
// later run can tell a leftover from a file another process is still writing.
class Temporary {
 public:
  Temporary(int dirFd, const std::string& path) : dirFd_(dirFd), path_(path) { name_[0] = '\0'; }
  ~Temporary() {
    fd_.reset();
    if (name_[0]) ::unlinkat(dirFd_, name_, 0);
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;

  void create() {
    if (procFdUsable()) {
      fd_.reset(::openat(dirFd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
      if (fd_) return;
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
        throw unableToWrite(path_, errno);
    }
    unnamed_ = false;
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
      makeTemporaryName(name_);
      fd_.reset(
          ::openat(dirFd_, name_, O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0666));
      if (fd_) {
        ::flock(fd_.get(), LOCK_EX | LOCK_NB);
        return;
      }
      const int err = errno;
      name_[0] = '\0';
      if (err != EEXIST) throw unableToWrite(path_, err);
    }
    throw unableToWrite(path_, EEXIST);
  }

  int fd() const { return fd_.get(); }

  // Puts the complete file in place under `name`.
  void commit(const std::string& name, IfExists ifExists) {
    if (unnamed_) {
      char procPath[64];
      std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd_.get());
      // A missing file is linked straight in: it only ever appears complete.
      if (::linkat(AT_FDCWD, procPath, dirFd_, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        if (const int err = fd_.close()) {
          ::unlinkat(dirFd_, name.c_str(), 0);
          throw unableToWrite(path_, err);
        }
        return;
      }
      if (errno != EEXIST) throw unableToWrite(path_, errno);
      checkReplaceable(dirFd_, name, path_, ifExists);
      linkUnderTemporaryName(procPath);
    } else if (ifExists == IfExists::Fail) {
      // A hard link never replaces anything.
      if (const int err = fd_.close()) throw unableToWrite(path_, err);
      if (::linkat(dirFd_, name_, dirFd_, name.c_str(), 0) != 0) throw unableToWrite(path_, errno);
      return;  // the destructor removes the temporary name
    } else {
      checkReplaceable(dirFd_, name, path_, ifExists);
    }
    if (const int err = fd_.close()) throw unableToWrite(path_, err);
    if (::renameat(dirFd_, name_, dirFd_, name.c_str()) != 0) throw unableToWrite(path_, errno);
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
      if (err != EEXIST) throw unableToWrite(path_, err);
    }
    throw unableToWrite(path_, EEXIST);
  }

  int dirFd_;
  const std::string& path_;
  UniqueFd fd_;
  bool unnamed_ = true;
  char name_[32];
};

}  // namespace

void writeOutputFile(int dirFd, const std::string& name, const std::string& path,
                     std::string_view bytes, IfExists ifExists) {
  Temporary temporary(dirFd, path);
  temporary.create();
  FdOutputStream(temporary.fd(), path).write(bytes.data(), bytes.size());
  temporary.commit(name, ifExists);
}

void writeOutputFile(int dirFd, const std::string& name, const std::string& path,
                     const std::function<void(OutputByteStream&)>& produce, IfExists ifExists) {
  Temporary temporary(dirFd, path);
  temporary.create();
  FdOutputStream out(temporary.fd(), path);
  produce(out);
  temporary.commit(name, ifExists);
}
