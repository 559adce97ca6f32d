#include "platform/TemporaryJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/NewFile.h"

namespace {

constexpr char kJournalPath[] = "/resguarda/temporales";
constexpr time_t kUnreachableEntryLife = 30L * 24 * 3600;

struct EntryName {
  char text[96];
};

EntryName entryName(const FileIdentity& file) {
  EntryName name;
  const int used = std::snprintf(name.text, sizeof name.text, "%llx-%llx",
                                 static_cast<unsigned long long>(file.dev),
                                 static_cast<unsigned long long>(file.ino));
  if (file.hasBirth)
    std::snprintf(name.text + used, sizeof name.text - used, "-%llx.%lx",
                  static_cast<unsigned long long>(file.birth.tv_sec), file.birth.tv_nsec);
  return name;
}

bool parseEntryName(const char* name, FileIdentity& file) {
  unsigned long long dev = 0, ino = 0, seconds = 0;
  unsigned long nanoseconds = 0;
  int used = 0, more = 0;
  if (std::sscanf(name, "%llx-%llx%n", &dev, &ino, &used) != 2) return false;
  file = FileIdentity{};
  file.dev = static_cast<dev_t>(dev);
  file.ino = static_cast<ino_t>(ino);
  if (name[used] != '\0') {
    if (std::sscanf(name + used, "-%llx.%lx%n", &seconds, &nanoseconds, &more) != 2 ||
        name[used + more] != '\0' || nanoseconds >= 1000000000)
      return false;
    file.hasBirth = true;
    file.birth.tv_sec = static_cast<time_t>(seconds);
    file.birth.tv_nsec = static_cast<long>(nanoseconds);
  }
  // Only the exact form we write: no signs, blanks or leading zeros sscanf lets through.
  return std::strcmp(entryName(file).text, name) == 0;
}

bool isPrivateFolder(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Makes the missing folders of `path`, 0700. The deepest one that exists must be ours:
// root running with another user's HOME must not leave root-owned folders in it.
bool makeFolders(const std::string& path) {
  std::vector<std::size_t> missing;
  std::size_t end = path.size();
  for (;;) {
    struct stat st {};
    if (::stat(path.substr(0, end).c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
      break;
    }
    if (errno != ENOENT) return false;
    missing.push_back(end);
    end = path.rfind('/', end - 1);
    if (end == std::string::npos || end == 0) return false;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it)
    if (::mkdir(path.substr(0, *it).c_str(), 0700) != 0 && errno != EEXIST) return false;
  return true;
}

int openFolder(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The names in an open folder, read whole before any of them is removed.
bool listNames(int dirFd, std::vector<std::string>& names) {
  const int fd = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return false;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return false;
  }
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  return true;
}

// What became of one recorded temporary.
enum class Found { Gone, Unreachable, Busy };

Found removeIfLeftover(const std::string& path, const FileIdentity& recorded) {
  const std::size_t slash = path.rfind('/');
  if (path.empty() || path[0] != '/' || slash == std::string::npos) return Found::Gone;
  const std::string name = path.substr(slash + 1);
  if (!NewFile::isTemporaryName(name.c_str())) return Found::Gone;

  UniqueFd folder(openFolder(slash == 0 ? "/" : path.substr(0, slash)));
  struct stat st {};
  // Another disk, or none, where the folder was: nothing can be told yet.
  if (!folder || ::fstat(folder.get(), &st) != 0 || st.st_dev != recorded.dev)
    return Found::Unreachable;

  // Looked at before it is opened: opening a device or a FIFO can have effects of its own.
  FileIdentity found;
  if (!FileIdentity::of(folder.get(), name.c_str(), AT_SYMLINK_NOFOLLOW, found))
    return errno == ENOENT ? Found::Gone : Found::Unreachable;
  if (found.type != S_IFREG || !recorded.matches(found)) return Found::Gone;
  UniqueFd file(::openat(folder.get(), name.c_str(),
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file) return Found::Unreachable;
  if (!FileIdentity::of(file.get(), "", AT_EMPTY_PATH, found) || !recorded.matches(found))
    return Found::Gone;
  // A writer that is alive holds the lock; one that cannot be asked is left too.
  if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) return Found::Busy;
  if (FileIdentity::of(folder.get(), name.c_str(), AT_SYMLINK_NOFOLLOW, found) &&
      recorded.matches(found))
    ::unlinkat(folder.get(), name.c_str(), 0);
  return Found::Gone;
}

}  // namespace

bool FileIdentity::of(int dirFd, const char* name, int flags, FileIdentity& identity) {
  struct statx st {};
  if (::statx(dirFd, name, flags, STATX_TYPE | STATX_INO | STATX_BTIME, &st) != 0) return false;
  identity.dev = makedev(st.stx_dev_major, st.stx_dev_minor);
  identity.ino = st.stx_ino;
  identity.type = st.stx_mode & S_IFMT;
  identity.hasBirth = (st.stx_mask & STATX_BTIME) != 0;
  identity.birth = {};
  if (identity.hasBirth)
    identity.birth = {static_cast<time_t>(st.stx_btime.tv_sec), st.stx_btime.tv_nsec};
  return true;
}

bool FileIdentity::matches(const FileIdentity& found) const {
  if (found.dev != dev || found.ino != ino) return false;
  return !hasBirth || (found.hasBirth && found.birth.tv_sec == birth.tv_sec &&
                       found.birth.tv_nsec == birth.tv_nsec);
}

std::string TemporaryJournal::folder() {
  // Relative values are to be ignored, as the XDG rules say.
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return state + std::string(kJournalPath);
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return home + std::string("/.local/state") + kJournalPath;
  return {};
}

int TemporaryJournal::folderFd() {
  if (tried_) return fd_.get();
  tried_ = true;
  const std::string path = folder();
  if (path.empty()) return -1;
  fd_.reset(openFolder(path));
  if (!fd_ && errno == ENOENT && makeFolders(path)) fd_.reset(openFolder(path));
  if (fd_ && !isPrivateFolder(fd_.get())) fd_.reset();
  return fd_.get();
}

bool TemporaryJournal::record(const FileIdentity& file, const std::string& path) {
  const int dir = folderFd();
  if (dir < 0 || path.empty() || path[0] != '/') return false;
  const EntryName name = entryName(file);
  if (::symlinkat(path.c_str(), dir, name.text) == 0) return true;
  if (errno != EEXIST) return false;
  // The entry of a leftover whose inode the file system has since given to this one.
  ::unlinkat(dir, name.text, 0);
  return ::symlinkat(path.c_str(), dir, name.text) == 0;
}

void TemporaryJournal::forget(const FileIdentity& file) {
  if (!fd_) return;
  ::unlinkat(fd_.get(), entryName(file).text, 0);
}

void TemporaryJournal::removeLeftovers() {
  const std::string path = folder();
  if (path.empty()) return;
  UniqueFd dir(openFolder(path));
  if (!dir || !isPrivateFolder(dir.get())) return;
  std::vector<std::string> names;
  if (!listNames(dir.get(), names)) return;
  const time_t now = std::time(nullptr);
  char target[PATH_MAX];
  for (const std::string& listed : names) {
    const char* name = listed.c_str();
    FileIdentity recorded;
    if (!parseEntryName(name, recorded)) continue;  // not one of ours
    const ssize_t length = ::readlinkat(dir.get(), name, target, sizeof target);
    if (length < 0 || length >= static_cast<ssize_t>(sizeof target)) continue;
    const Found found = removeIfLeftover(std::string(target, length), recorded);
    if (found == Found::Busy) continue;
    if (found == Found::Unreachable) {
      struct stat entry {};
      if (::fstatat(dir.get(), name, &entry, AT_SYMLINK_NOFOLLOW) != 0 ||
          now - entry.st_mtime < kUnreachableEntryLife)
        continue;
    }
    ::unlinkat(dir.get(), name, 0);
  }
}
