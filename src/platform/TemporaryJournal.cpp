#include "platform/TemporaryJournal.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/DirectoryListing.h"
#include "platform/Environment.h"
#include "platform/NewFile.h"
#include "platform/PrivateFolder.h"

namespace {

constexpr char kJournalName[] = "temporales";
constexpr time_t kUnreachableEntryLife = 30L * 24 * 3600;
constexpr std::size_t kBootTagLength = 8;

struct EntryName {
  char text[160];
};

// What an entry tells of its temporary.
struct Entry {
  FileIdentity file;
  std::string boot;  // the boot the mount id belongs to
  uint64_t sizeLimit = TemporaryJournal::kNoSizeLimit;
};

// The first letters of this boot's id: mount ids start again at each boot.
const std::string& bootTag() {
  static const std::string tag = [] {
    char id[64] = {};
    const int fd = ::open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string();
    const ssize_t got = ::read(fd, id, sizeof id - 1);
    ::close(fd);
    if (got < static_cast<ssize_t>(kBootTagLength)) return std::string();
    for (std::size_t i = 0; i < kBootTagLength; ++i)
      if (!std::isxdigit(static_cast<unsigned char>(id[i]))) return std::string();
    return std::string(id, kBootTagLength);
  }();
  return tag;
}

EntryName entryName(const Entry& entry) {
  const FileIdentity& file = entry.file;
  EntryName name;
  std::size_t used = std::snprintf(name.text, sizeof name.text, "%llx-%llx",
                                   static_cast<unsigned long long>(file.dev),
                                   static_cast<unsigned long long>(file.ino));
  if (file.hasBirth)
    used += std::snprintf(name.text + used, sizeof name.text - used, "-%llx.%lx",
                          static_cast<unsigned long long>(file.birth.tv_sec), file.birth.tv_nsec);
  if (file.mount && entry.boot.size() == kBootTagLength)
    used += std::snprintf(name.text + used, sizeof name.text - used, "_m%llx.%s",
                          static_cast<unsigned long long>(file.mount), entry.boot.c_str());
  if (entry.sizeLimit != TemporaryJournal::kNoSizeLimit)
    std::snprintf(name.text + used, sizeof name.text - used, "_s%llx",
                  static_cast<unsigned long long>(entry.sizeLimit));
  return name;
}

bool parseEntryName(const char* name, Entry& entry) {
  unsigned long long dev = 0, ino = 0, seconds = 0, mount = 0, size = 0;
  unsigned long nanoseconds = 0;
  int used = 0, more = 0;
  if (std::sscanf(name, "%llx-%llx%n", &dev, &ino, &used) != 2) return false;
  entry = Entry{};
  FileIdentity& file = entry.file;
  file.dev = static_cast<dev_t>(dev);
  file.ino = static_cast<ino_t>(ino);
  if (name[used] == '-') {
    if (std::sscanf(name + used, "-%llx.%lx%n", &seconds, &nanoseconds, &more) != 2 ||
        nanoseconds >= 1000000000)
      return false;
    used += more;
    file.hasBirth = true;
    file.birth.tv_sec = static_cast<time_t>(seconds);
    file.birth.tv_nsec = static_cast<long>(nanoseconds);
  }
  char boot[kBootTagLength + 1] = {};
  if (std::strncmp(name + used, "_m", 2) == 0) {
    if (std::sscanf(name + used, "_m%llx.%8[0-9a-f]%n", &mount, boot, &more) != 2 || mount == 0)
      return false;
    used += more;
    file.mount = mount;
    entry.boot = boot;
  }
  if (std::strncmp(name + used, "_s", 2) == 0) {
    if (std::sscanf(name + used, "_s%llx%n", &size, &more) != 1) return false;
    entry.sizeLimit = size;
  }
  // Only the exact form we write: no signs, blanks or leading zeros sscanf lets through.
  return std::strcmp(entryName(entry).text, name) == 0;
}

bool isPrivateFolder(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int openFolder(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The state folder, as for the run's log, and the journal in it: each must be ours and no
// symbolic link, the journal private. Made when missing and `make`. -1 when not usable.
int openJournal(bool make) {
  const std::string statePath = stateFolder();
  if (statePath.empty()) return -1;
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  UniqueFd state(::open(statePath.c_str(), kFlags));
  if (!state && errno == ENOENT && make && makePrivateFolder(statePath) == 0)
    state.reset(::open(statePath.c_str(), kFlags));
  struct stat st {};
  if (!state || ::fstat(state.get(), &st) != 0 || st.st_uid != ::geteuid()) return -1;
  int journal = ::openat(state.get(), kJournalName, kFlags);
  if (journal < 0 && errno == ENOENT && make && ::mkdirat(state.get(), kJournalName, 0700) == 0)
    journal = ::openat(state.get(), kJournalName, kFlags);
  if (journal >= 0 && !isPrivateFolder(journal)) {
    ::close(journal);
    return -1;
  }
  return journal;
}

// FAT and exFAT drivers (the kernel's and FUSE ones) make inode numbers up when they read a
// file in, so the number may change even while the disk stays mounted.
bool inodesMadeUp(int folderFd) {
  constexpr unsigned long kFuse = 0x65735546, kMsdos = 0x4d44, kExfat = 0x2011bab0;
  struct statfs fs {};
  if (::fstatfs(folderFd, &fs) != 0) return true;
  const auto type = static_cast<unsigned long>(fs.f_type);
  return type == kFuse || type == kMsdos || type == kExfat;
}

bool sameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// What became of one recorded temporary.
enum class Found { Gone, Unreachable, Busy };

Found removeIfLeftover(const std::string& path, const Entry& entry) {
  const std::size_t slash = path.rfind('/');
  if (path.empty() || path[0] != '/' || slash == std::string::npos) return Found::Gone;
  const std::string name = path.substr(slash + 1);
  if (!NewFile::isTemporaryName(name.c_str())) return Found::Gone;

  UniqueFd folder(openFolder(slash == 0 ? "/" : path.substr(0, slash)));
  FileIdentity where;
  if (!folder || !FileIdentity::of(folder.get(), "", AT_EMPTY_PATH, where))
    return Found::Unreachable;
  const FileIdentity& recorded = entry.file;
  // Still the mount it was written on; unknown mounts of the same device count as it.
  const bool sameMount =
      where.dev == recorded.dev && (recorded.mount == 0 || where.mount == 0 ||
                                    (entry.boot == bootTag() && where.mount == recorded.mount));
  const bool sameFile = sameMount && !inodesMadeUp(folder.get());
  const auto ours = [&](const FileIdentity& found) {
    if (found.type != S_IFREG) return false;
    if (sameFile) return recorded.matches(found);
    // Plugged in again, or inode numbers that mean nothing: the random name at its path, no
    // larger than it could grow, born when it was.
    if (found.size > entry.sizeLimit) return false;
    return !recorded.hasBirth || !found.hasBirth || sameTime(recorded.birth, found.birth);
  };

  // Looked at before it is opened: opening a device or a FIFO can have effects of its own.
  FileIdentity found;
  if (!FileIdentity::of(folder.get(), name.c_str(), AT_SYMLINK_NOFOLLOW, found)) {
    // Missing from what may be another disk at the same place: nothing can be told yet.
    if (errno == ENOENT) return sameMount ? Found::Gone : Found::Unreachable;
    return Found::Unreachable;
  }
  if (!ours(found)) return Found::Gone;
  UniqueFd file(::openat(folder.get(), name.c_str(),
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file) return Found::Unreachable;
  FileIdentity opened;
  if (!FileIdentity::of(file.get(), "", AT_EMPTY_PATH, opened) || !ours(opened)) return Found::Gone;
  // A writer that is alive holds the lock; one that cannot be asked is left too.
  if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) return Found::Busy;
  if (FileIdentity::of(folder.get(), name.c_str(), AT_SYMLINK_NOFOLLOW, found) &&
      opened.matches(found))
    ::unlinkat(folder.get(), name.c_str(), 0);
  return Found::Gone;
}

}  // namespace

std::string TemporaryJournal::folder() {
  const std::string state = stateFolder();
  return state.empty() ? state : state + "/" + kJournalName;
}

int TemporaryJournal::folderFd() {
  if (tried_) return fd_.get();
  tried_ = true;
  fd_.reset(openJournal(true));
  return fd_.get();
}

bool TemporaryJournal::record(const FileIdentity& file, const std::string& path,
                              uint64_t sizeLimit) {
  const int dir = folderFd();
  if (dir < 0 || path.empty() || path[0] != '/') return false;
  const EntryName name = entryName(Entry{file, bootTag(), sizeLimit});
  if (::symlinkat(path.c_str(), dir, name.text) == 0) return true;
  if (errno != EEXIST) return false;
  // The entry of a leftover whose inode the file system has since given to this one.
  ::unlinkat(dir, name.text, 0);
  return ::symlinkat(path.c_str(), dir, name.text) == 0;
}

void TemporaryJournal::forget(const FileIdentity& file, uint64_t sizeLimit) {
  if (!fd_) return;
  ::unlinkat(fd_.get(), entryName(Entry{file, bootTag(), sizeLimit}).text, 0);
}

void TemporaryJournal::removeLeftovers() {
  UniqueFd dir(openJournal(false));
  if (!dir) return;
  // Read whole before any of them is removed.
  const auto names = DirectoryListing::namesOf(dir.get());
  if (!names) return;
  const time_t now = std::time(nullptr);
  char target[PATH_MAX];
  for (const std::string& listed : *names) {
    const char* name = listed.c_str();
    Entry entry;
    if (!parseEntryName(name, entry)) continue;  // not one of ours
    const ssize_t length = ::readlinkat(dir.get(), name, target, sizeof target);
    if (length < 0 || length >= static_cast<ssize_t>(sizeof target)) continue;
    const Found found = removeIfLeftover(std::string(target, length), entry);
    if (found == Found::Busy) continue;
    if (found == Found::Unreachable) {
      struct stat st {};
      if (::fstatat(dir.get(), name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
          now - st.st_mtime < kUnreachableEntryLife)
        continue;
    }
    ::unlinkat(dir.get(), name, 0);
  }
}
