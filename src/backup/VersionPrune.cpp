#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>

#include "backup/VersionStore.h"
#include "platform/DirectoryListing.h"
#include "platform/Errors.h"
#include "platform/PathText.h"

// Pruning of kept versions (declared in VersionStore.h). Every folder and the list are
// untrusted: a hand edit, or another user, may have put links, odd names or a forged list
// there. Nothing is reached through a link, no part of a listed path may be "..", and a file
// is removed only while it is still the very regular file that was moved there.

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// A list larger than this is not ours (two million files take about 200 MB).
constexpr off_t kMaxListBytes = off_t{256} << 20;

// The run's start that a run folder's name gives; false for any other name.
bool stampTime(const char* name, time_t& when) {
  static constexpr char kForm[] = "dddd-dd-dd dd.dd.dd";
  if (std::strlen(name) != sizeof kForm - 1) return false;
  for (size_t i = 0; kForm[i]; ++i)
    if (kForm[i] == 'd' ? (name[i] < '0' || name[i] > '9') : name[i] != kForm[i]) return false;
  auto number = [name](size_t at, size_t length) {
    int value = 0;
    std::from_chars(name + at, name + at + length, value);
    return value;
  };
  struct tm local {};
  local.tm_year = number(0, 4) - 1900;
  local.tm_mon = number(5, 2) - 1;
  local.tm_mday = number(8, 2);
  local.tm_hour = number(11, 2);
  local.tm_min = number(14, 2);
  local.tm_sec = number(17, 2);
  local.tm_isdst = -1;
  when = std::mktime(&local);
  return when != -1;
}

// FAT and exFAT disks, and FUSE drivers, give a file another inode number each time the disk
// is mounted: there a kept file is known by its size and time alone.
bool inodesLast(int fd) {
  constexpr long kFat = 0x4d44, kExfat = 0x2011BAB0, kFuse = 0x65735546;
  struct statfs fs {};
  if (::fstatfs(fd, &fs) != 0) return true;
  const long type = static_cast<long>(fs.f_type);
  return type != kFat && type != kExfat && type != kFuse;
}

bool readAll(int fd, std::string& text) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxListBytes) return false;
  text.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t got = ::read(fd, text.data() + done, text.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  text.resize(done);
  return true;
}

struct Entry {
  bool folder = false;
  unsigned long long ino = 0, size = 0;
  long long sec = 0, nsec = 0;
  std::string path;
};

// Reads one list line at `at`; false at the end or at a line it cannot read, which ends the
// list (a line cut short by a crash is the last one).
bool nextEntry(const std::string& text, size_t& at, Entry& entry) {
  const char* p = text.data() + at;
  const char* end = text.data() + text.size();
  if (end - p < 2 || (p[0] != 'F' && p[0] != 'D') || p[1] != ' ') return false;
  entry = Entry{};
  entry.folder = p[0] == 'D';
  p += 2;
  auto field = [&p, end](auto& value) {
    const auto [next, ec] = std::from_chars(p, end, value);
    if (ec != std::errc() || next == end || *next != ' ') return false;
    p = next + 1;
    return true;
  };
  size_t length = 0;
  if (!entry.folder &&
      !(field(entry.ino) && field(entry.size) && field(entry.sec) && field(entry.nsec)))
    return false;
  if (!field(length) || length == 0 || static_cast<size_t>(end - p) <= length || p[length] != '\n')
    return false;
  entry.path.assign(p, length);
  at = static_cast<size_t>(p + length + 1 - text.data());
  return true;
}

// The folder holding `path` below `runFd`, never through a link, and the leaf's name. The
// last folder opened is kept, as a list names many files of one folder in a row.
class FolderWalker {
 public:
  explicit FolderWalker(int runFd) : runFd_(runFd) {}
  int parentOf(const std::string& path, std::string& leaf) {
    const size_t slash = path.rfind('/');
    leaf = path.substr(slash == std::string::npos ? 0 : slash + 1);
    if (leaf.empty() || leaf == "." || leaf == "..") return -1;
    if (slash == std::string::npos) return runFd_;
    const std::string folder = path.substr(0, slash);
    if (folder == lastPath_ && last_) return last_.get();
    last_.reset();
    lastPath_ = folder;
    UniqueFd current(::dup(runFd_));
    size_t start = 0;
    while (current && start <= folder.size()) {
      size_t end = folder.find('/', start);
      if (end == std::string::npos) end = folder.size();
      const std::string part = folder.substr(start, end - start);
      if (part.empty() || part == "." || part == "..") return -1;
      current.reset(::openat(current.get(), part.c_str(), kFolderFlags));
      start = end + 1;
    }
    last_ = std::move(current);
    return last_ ? last_.get() : -1;
  }

 private:
  int runFd_;
  std::string lastPath_;
  UniqueFd last_;
};

// Prunes one run folder; false when something of ours had to stay (its list then stays).
bool pruneRun(int runFd, const std::string& runPath, std::vector<VersionProblem>& problems) {
  UniqueFd list(::openat(runFd, kVersionListName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  std::string text;
  if (!list || !readAll(list.get(), text)) return false;  // not a folder of ours
  const bool lasting = inodesLast(runFd);
  FolderWalker walker(runFd);
  std::vector<std::string> folders;
  bool clean = true;
  Entry entry;
  std::string leaf;
  for (size_t at = 0; nextEntry(text, at, entry);) {
    if (entry.folder) {
      folders.push_back(entry.path);
      continue;
    }
    const int parent = walker.parentOf(entry.path, leaf);
    struct stat st {};
    if (parent < 0 || ::fstatat(parent, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const bool ours = S_ISREG(st.st_mode) &&
                      static_cast<unsigned long long>(st.st_size) == entry.size &&
                      st.st_mtim.tv_sec == entry.sec &&
                      (!lasting || (st.st_ino == entry.ino && st.st_mtim.tv_nsec == entry.nsec));
    if (!ours || ::unlinkat(parent, leaf.c_str(), 0) == 0 || errno == ENOENT) continue;
    problems.push_back({joinPath(runPath, entry.path), systemReason(errno)});
    clean = false;
  }
  // Made outermost first, so removed the other way round; one that holds anything stays.
  for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
    const int parent = walker.parentOf(*folder, leaf);
    if (parent >= 0) ::unlinkat(parent, leaf.c_str(), AT_REMOVEDIR);
  }
  if (clean) ::unlinkat(runFd, kVersionListName, 0);
  return clean;
}

}  // namespace

std::vector<VersionProblem> pruneVersions(const std::string& destination, int days, time_t now) {
  std::vector<VersionProblem> problems;
  if (days <= 0) return problems;
  const std::string versionsPath = withTrailingSlash(destination) + kVersionsFolder;
  UniqueFd root(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root) return problems;
  UniqueFd versions(::openat(root.get(), kVersionsFolder, kFolderFlags));
  if (!versions) return problems;  // none kept yet, or a link that is not ours to follow
  const auto names = DirectoryListing::namesOf(versions.get());
  if (!names) return problems;
  std::vector<std::string> old;
  const time_t limit = now - static_cast<time_t>(days) * 86400;
  for (const std::string& name : *names) {
    time_t when = 0;
    if (stampTime(name.c_str(), when) && when < limit) old.push_back(name);
  }
  for (const std::string& name : old) {
    UniqueFd run(::openat(versions.get(), name.c_str(), kFolderFlags));
    if (!run) continue;
    if (pruneRun(run.get(), joinPath(versionsPath, name), problems))
      ::unlinkat(versions.get(), name.c_str(), AT_REMOVEDIR);
  }
  return problems;
}
