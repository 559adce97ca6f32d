#include "platform/NewFile.h"
#include "platform/PathText.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/Errors.h"
#include "platform/WriteAll.h"

namespace {

constexpr char kTempPrefix[] = ".resguarda-";
constexpr std::size_t kTempPrefixLength = sizeof kTempPrefix - 1;
constexpr std::size_t kTempRandomLength = 6;
constexpr int kTempAttempts = 100;
constexpr std::size_t kBufferSize = 64 * 1024;

constexpr char kNotRegular[] = "no es un archivo normal";
constexpr char kSymbolicLink[] = "es un enlace simbólico, no se sigue";

ResguardaError refused(const std::string& path, const char* reason) {
  return unableToWrite(path, std::string(reason));
}

// A file system that cannot store owners or modes refuses them (the kernel's vfat: EPERM;
// FUSE drivers: ENOSYS; an owner the mount cannot map: EINVAL); the file is still good.
// (ENOTSUP is EOPNOTSUPP here.)
bool cannotStore(int err) {
  return err == EPERM || err == EOPNOTSUPP || err == ENOSYS || err == EINVAL;
}

// Characters or endings that FAT and exFAT disks do not store in a name.
bool hasRefusedCharacters(const std::string& name) {
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || std::strchr("\"*:<>?\\|", c)) return true;
  }
  return !name.empty() && (name.back() == '.' || name.back() == ' ');
}

bool hasNonAscii(const std::string& name) {
  for (const char c : name)
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
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

void procPathOf(int fd, char (&procPath)[64]) {
  std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
}

// The absolute path of the folder holding `path` (open as dirFd), ending in "/"; "" when it
// cannot be told.
std::string absoluteFolder(int dirFd, const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (!path.empty() && path[0] == '/') return path.substr(0, slash + 1);
  char procPath[64];
  procPathOf(dirFd, procPath);
  char target[PATH_MAX];
  const ssize_t length = ::readlink(procPath, target, sizeof target);
  if (length <= 0 || length >= static_cast<ssize_t>(sizeof target) || target[0] != '/') return {};
  return withTrailingSlash(std::string(target, length));
}

// One component: nothing a caller passes may lead out of the folder.
bool isPlainName(const char* name) {
  return name[0] && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 &&
         !std::strchr(name, '/');
}

}  // namespace

NewFile::NewFile(int dirFd, const char* name, const std::string& path,
                 const NewFileOptions& options, const struct stat* known, TemporaryJournal* journal)
    : dirFd_(dirFd),
      name_(name),
      path_(path),
      options_(options),
      mode_(options.mode),
      journal_(journal) {
  if (!isPlainName(name)) throw unableToWrite(path_, EINVAL);
  struct stat found {};
  if (known) {
    found = *known;
    existed_ = found.st_mode != 0;
  } else if (::fstatat(dirFd_, name, &found, AT_SYMLINK_NOFOLLOW) == 0) {
    existed_ = true;
  } else if (errno != ENOENT) {
    failToPlace(errno);
  }
  if (existed_ && options_.existing == NewFileOptions::Existing::Replace) check(found);
  if (!journal_) {
    ownJournal_ = std::make_unique<TemporaryJournal>();
    journal_ = ownJournal_.get();
  }
  create();
  step(NewFileStep::Created);
}

NewFile::~NewFile() {
  fd_.reset();
  if (tempName_[0]) {
    FileIdentity found;
    // Only our own file goes, not one that someone put under its name meanwhile.
    if (!identified_ || (FileIdentity::of(dirFd_, tempName_, AT_SYMLINK_NOFOLLOW, found) &&
                         identity_.matches(found)))
      ::unlinkat(dirFd_, tempName_, 0);
  }
  dropName();
}

void NewFile::create() {
  if (options_.unnamedAllowed && procFdUsable()) {
    fd_.reset(::openat(dirFd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (fd_) {
      unnamed_ = true;
      return;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
      throw unableToWrite(path_, errno);
  }
  takeFreshName([this] {
    fd_.reset(
        ::openat(dirFd_, tempName_, O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
    return static_cast<bool>(fd_);
  });
}

void NewFile::takeFreshName(const std::function<bool()>& claim) {
  for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
    makeTemporaryName(tempName_);
    if (claim()) {
      named();
      return;
    }
    const int err = errno;
    tempName_[0] = '\0';
    if (err != EEXIST) throw unableToWrite(path_, err);
  }
  throw unableToWrite(path_, EEXIST);
}

void NewFile::write(std::string_view bytes) {
  if (done_ || !fd_) throw unableToWrite(path_, EBADF);
  if (buffer_.size() + bytes.size() > kBufferSize) flush();
  if (bytes.size() >= kBufferSize) {
    if (const int err = writeAll(fd_.get(), bytes.data(), bytes.size())) fail(err);
  } else {
    if (buffer_.capacity() < kBufferSize) buffer_.reserve(kBufferSize);
    buffer_.append(bytes);
  }
}

void NewFile::flush() {
  if (buffer_.empty()) return;
  if (const int err = writeAll(fd_.get(), buffer_.data(), buffer_.size())) fail(err);
  buffer_.clear();
}

void NewFile::fail(int err) {
  // A file that missed some of its bytes is never put in place.
  done_ = true;
  buffer_.clear();
  throw unableToWrite(path_, err);
}

bool NewFile::keepOwner(uid_t owner, gid_t group) {
  if (options_.calls.changeOwner(fd_.get(), owner, group) == 0) return true;
  if (cannotStore(errno)) return false;
  throw unableToWrite(path_, errno);
}

bool NewFile::applyMode() {
  if (done_ || !fd_) throw unableToWrite(path_, EBADF);
  modeApplied_ = true;
  if (options_.calls.changeMode(fd_.get(), mode_) == 0) return true;
  const int err = errno;
  // Some file systems store permission bits but refuse set-id bits.
  const mode_t plain = mode_ & 0777;
  if (err == EPERM && plain != mode_ && options_.calls.changeMode(fd_.get(), plain) == 0)
    return false;
  if (cannotStore(err)) return false;
  throw unableToWrite(path_, err);
}

void NewFile::commit() {
  if (done_ || !fd_) throw unableToWrite(path_, EBADF);
  flush();
  if (!modeApplied_) applyMode();
  done_ = true;
  if (options_.durable && ::fsync(fd_.get()) != 0) throw unableToWrite(path_, errno);
  step(NewFileStep::Written);
  if (options_.durable && options_.existing == NewFileOptions::Existing::Replace) lookAgain();
  const bool placed = unnamed_ ? placeUnnamed() : placeNamed();
  // Only a caller that asked to keep what stands there gets here without placing the file.
  if (!placed) throw unableToWrite(path_, EEXIST);
  step(NewFileStep::Placed);
  // The new name itself reaches the disk with the folder.
  if (options_.durable && ::fsync(dirFd_) != 0 && errno != EINVAL)
    throw unableToWrite(path_, errno);
}

void NewFile::step(NewFileStep at) const {
  if (options_.hook) options_.hook(at);
}

// Only nothing, or a regular file that may be written, is replaced; anything else standing
// there stays exactly as it is.
void NewFile::check(const struct stat& found) const {
  if (S_ISDIR(found.st_mode)) throw unableToWrite(path_, EISDIR);
  if (S_ISLNK(found.st_mode)) {
    if (options_.replaceLink) return;
    throw refused(path_, kSymbolicLink);
  }
  if (!S_ISREG(found.st_mode)) throw refused(path_, kNotRegular);
  // Read-only files stay as they are, whoever runs the program (root included).
  if ((found.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) throw unableToWrite(path_, EACCES);
  if (options_.user == 0) return;
  if (found.st_uid == options_.user) {
    if ((found.st_mode & S_IWUSR) == 0) throw unableToWrite(path_, EACCES);
    return;
  }
  // Someone else's file: the system knows our groups and any access list.
  if (::faccessat(dirFd_, name_.c_str(), W_OK, AT_EACCESS) != 0)
    throw unableToWrite(path_, errno == ENOENT ? EACCES : errno);
}

void NewFile::lookAgain() {
  struct stat found {};
  if (::fstatat(dirFd_, name_.c_str(), &found, AT_SYMLINK_NOFOLLOW) == 0) {
    existed_ = true;
    check(found);
  } else if (errno != ENOENT) {
    failToPlace(errno);
  }
}

void NewFile::failToPlace(int err) const {
  if (nameRefused(err)) throw nameNotAccepted(path_);
  throw unableToWrite(path_, err);
}

// Drivers of FAT and exFAT answer a name they cannot store with EPERM (fusefat), ENOENT
// (exfat-fuse) or EINVAL (the kernel's vfat), and one they cannot encode with EILSEQ; a
// temporary or folder removed meanwhile says ENOENT too.
bool NewFile::refusesName(int err, const std::string& name) {
  switch (err) {
    case EILSEQ:
      return true;
    case ENOENT:
    case EPERM:
      return hasRefusedCharacters(name) || hasNonAscii(name);
    case EINVAL:
      return hasRefusedCharacters(name);
    default:
      return false;
  }
}

bool NewFile::nameRefused(int err) const {
  if (err == EILSEQ) return true;
  struct stat st {};
  if (::fstat(dirFd_, &st) != 0 || st.st_nlink == 0) return false;
  if (::fstatat(dirFd_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
    return false;
  switch (err) {
    case ENOENT:  // folder and temporary both there: only the name can be missing
      return tempName_[0] && ::fstatat(dirFd_, tempName_, &st, AT_SYMLINK_NOFOLLOW) == 0;
    case EPERM:  // some drivers store no letters beyond ASCII either
      return hasRefusedCharacters(name_) || hasNonAscii(name_);
    case EINVAL:
      return hasRefusedCharacters(name_);
    default:
      return false;
  }
}

bool NewFile::placeUnnamed() {
  const bool keep = options_.existing == NewFileOptions::Existing::Keep;
  char procPath[64];
  procPathOf(fd_.get(), procPath);
  // A missing file is linked straight in: it only ever appears complete.
  if (!existed_ || keep) {
    if (::linkat(AT_FDCWD, procPath, dirFd_, name_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      if (const int err = fd_.close()) {
        ::unlinkat(dirFd_, name_.c_str(), 0);
        throw unableToWrite(path_, err);
      }
      return true;
    }
    if (errno != EEXIST) failToPlace(errno);
    if (keep) return false;
    lookAgain();
  }
  // An old file is replaced by renaming: the new one needs a name for that moment. It stays
  // open (and locked) until it is in place; the local file systems that have unnamed files
  // report nothing late on close.
  linkUnderTemporaryName(procPath);
  step(NewFileStep::Named);
  if (::renameat(dirFd_, tempName_, dirFd_, name_.c_str()) != 0) failToPlace(errno);
  dropName();
  if (const int err = fd_.close()) throw unableToWrite(path_, err);
  return true;
}

bool NewFile::placeNamed() {
  const bool keep = options_.existing == NewFileOptions::Existing::Keep;
  // Closed before it is put in place, to hear of a late write error (network file systems);
  // the lock stays on its own descriptor meanwhile, so a clean-up cannot take it.
  if (const int err = fd_.close()) throw unableToWrite(path_, err);
  if (!existed_ || keep) {
    if (::renameat2(dirFd_, tempName_, dirFd_, name_.c_str(), RENAME_NOREPLACE) == 0) {
      dropName();
      return true;
    }
    if (errno == EEXIST) {
      if (keep) return false;
      lookAgain();
    } else if (errno != EINVAL && errno != ENOSYS) {
      failToPlace(errno);
    } else if (keep) {
      // No renameat2 here: a hard link does not replace either.
      if (::linkat(dirFd_, tempName_, dirFd_, name_.c_str(), 0) == 0) {
        ::unlinkat(dirFd_, tempName_, 0);
        dropName();
        return true;
      }
      if (errno == EEXIST) return false;
      struct stat found {};
      if (::fstatat(dirFd_, name_.c_str(), &found, AT_SYMLINK_NOFOLLOW) == 0) return false;
    } else {
      lookAgain();
    }
  }
  if (::renameat(dirFd_, tempName_, dirFd_, name_.c_str()) != 0) failToPlace(errno);
  dropName();
  return true;
}

void NewFile::linkUnderTemporaryName(const char* procPath) {
  takeFreshName([this, procPath] {
    return ::linkat(AT_FDCWD, procPath, dirFd_, tempName_, AT_SYMLINK_FOLLOW) == 0;
  });
}

// The temporary has a name now: locked for as long as it has it, and recorded so that a
// later clean-up knows it for ours if this process dies.
void NewFile::named() {
  if (!unnamed_) lock_.reset(::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0));
  ::flock(fd_.get(), LOCK_EX | LOCK_NB);
  identified_ = FileIdentity::of(fd_.get(), "", AT_EMPTY_PATH, identity_);
  if (!identified_) return;
  const std::string folder = absoluteFolder(dirFd_, path_);
  recorded_ =
      !folder.empty() && journal_->record(identity_, folder + tempName_, options_.sizeLimit);
}

// The name is gone (renamed into place or removed): its entry and lock go with it.
void NewFile::dropName() {
  tempName_[0] = '\0';
  if (recorded_) journal_->forget(identity_, options_.sizeLimit);
  recorded_ = false;
  lock_.reset();
}

bool NewFile::isTemporaryName(const char* name) {
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

std::string NewFile::temporaryName() {
  char name[32];
  makeTemporaryName(name);
  return name;
}

void NewFile::removeLeftovers() {
  TemporaryJournal::removeLeftovers();
}
