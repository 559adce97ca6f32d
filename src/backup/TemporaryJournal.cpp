#include "backup/TemporaryJournal.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "backup/CopyFiles.h"
#include "backup/DirectoryListing.h"

namespace {

constexpr char kJournalPath[] = "/resguarda/temporales";
constexpr time_t kUnreachableEntryLife = 30L * 24 * 3600;

struct EntryName {
  char text[48];
};

EntryName entryName(dev_t dev, ino_t ino) {
  EntryName name;
  std::snprintf(name.text, sizeof name.text, "%llx-%llx", static_cast<unsigned long long>(dev),
                static_cast<unsigned long long>(ino));
  return name;
}

bool parseEntryName(const char* name, dev_t& dev, ino_t& ino) {
  unsigned long long d = 0, i = 0;
  int used = 0;
  if (std::sscanf(name, "%llx-%llx%n", &d, &i, &used) != 2 || name[used] != '\0') return false;
  // Only the exact form we write: no signs, blanks or leading zeros sscanf lets through.
  if (entryName(static_cast<dev_t>(d), static_cast<ino_t>(i)).text != std::string(name))
    return false;
  dev = static_cast<dev_t>(d);
  ino = static_cast<ino_t>(i);
  return true;
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

// What became of one recorded temporary.
enum class Found { Gone, Unreachable, Busy };

Found removeIfLeftover(const std::string& path, dev_t dev, ino_t ino) {
  const std::size_t slash = path.rfind('/');
  if (path.empty() || path[0] != '/' || slash == std::string::npos) return Found::Gone;
  const std::string name = path.substr(slash + 1);
  if (!FileCopier::isTemporaryName(name.c_str())) return Found::Gone;

  UniqueFd folder(openFolder(slash == 0 ? "/" : path.substr(0, slash)));
  struct stat st {};
  // Another disk, or none, where the folder was: nothing can be told yet.
  if (!folder || ::fstat(folder.get(), &st) != 0 || st.st_dev != dev) return Found::Unreachable;

  // Looked at before it is opened: opening a device or a FIFO can have effects of its own.
  if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? Found::Gone : Found::Unreachable;
  if (!S_ISREG(st.st_mode) || st.st_ino != ino) return Found::Gone;
  UniqueFd file(::openat(folder.get(), name.c_str(),
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file) return Found::Unreachable;
  if (::fstat(file.get(), &st) != 0 || st.st_dev != dev || st.st_ino != ino) return Found::Gone;
  // A writer that is alive holds the lock; one that cannot be asked is left too.
  if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) return Found::Busy;
  if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == dev &&
      st.st_ino == ino)
    ::unlinkat(folder.get(), name.c_str(), 0);
  return Found::Gone;
}

}  // namespace

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

bool TemporaryJournal::record(const struct stat& file, const std::string& path) {
  const int dir = folderFd();
  if (dir < 0 || path.empty() || path[0] != '/') return false;
  const EntryName name = entryName(file.st_dev, file.st_ino);
  if (::symlinkat(path.c_str(), dir, name.text) == 0) return true;
  if (errno != EEXIST) return false;
  // The entry of a leftover whose inode the file system has since given to this one.
  ::unlinkat(dir, name.text, 0);
  return ::symlinkat(path.c_str(), dir, name.text) == 0;
}

void TemporaryJournal::forget(const struct stat& file) {
  if (!fd_) return;
  ::unlinkat(fd_.get(), entryName(file.st_dev, file.st_ino).text, 0);
}

void TemporaryJournal::removeLeftovers() {
  const std::string path = folder();
  if (path.empty()) return;
  UniqueFd dir(openFolder(path));
  if (!dir || !isPrivateFolder(dir.get())) return;
  DirectoryListing listing;
  if (!listing.read(dir.get())) return;
  const time_t now = std::time(nullptr);
  char target[PATH_MAX];
  for (std::size_t i = 0; i < listing.size(); ++i) {
    const char* name = listing.name(i);
    dev_t dev;
    ino_t ino;
    if (!parseEntryName(name, dev, ino)) continue;  // not one of ours
    const ssize_t length = ::readlinkat(dir.get(), name, target, sizeof target);
    if (length < 0 || length >= static_cast<ssize_t>(sizeof target)) continue;
    const Found found = removeIfLeftover(std::string(target, length), dev, ino);
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
